// The system, message box, debug output and resource ports on kernel32, user32, comctl32, advapi32
// and the C runtime (ANSI).
#pragma once
#include <memory>

#include "win32/windows_api.h"
// The Windows headers first, then everything that builds on them.
#include "port/system.h"
#include "port/user.h"

namespace qv::win32 {

[[nodiscard]] std::unique_ptr<ISystem> MakeSystem();

// A text of one code page in another, through UTF-16 (MultiByteToWideChar, WideCharToMultiByte,
// both without flags: what a code page does not define becomes its default character). False when
// a conversion fails.
[[nodiscard]] bool ConvertCodePage(UINT fromCodePage, UINT toCodePage, std::string_view text,
                                   std::string* converted) noexcept;

class Win32MessageBoxes final : public IMessageBoxes {
  public:
    int Show(WindowRef owner, std::string_view text, std::string_view caption,
             std::uint32_t style) noexcept override;
};

class Win32DebugOutput final : public IDebugOutput {
  public:
    void Write(std::string_view text) noexcept override;
};

// The resources of `module` (the tool's own executable).
class Win32Resources final : public IResources {
  public:
    explicit Win32Resources(HMODULE module) noexcept : module_(module) {}

    std::uint16_t UserInterfaceLanguage() noexcept override;
    void UseLanguage(std::uint16_t languageId) noexcept override { language_ = languageId; }
    std::string LoadString(std::uint32_t id) noexcept override;
    [[nodiscard]] Win32Error LoadResourceBytes(std::uint32_t id, std::string_view type,
                                               std::string* bytes) noexcept override;
    // The language chosen with UseLanguage; 0 (LANG_NEUTRAL) when none was.
    LANGID Language() const noexcept { return language_; }

  private:
    HMODULE module_;
    LANGID language_ = 0;
};

}  // namespace qv::win32
