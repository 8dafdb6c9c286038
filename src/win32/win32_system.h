// The system, message box, debug output and resource ports on kernel32, user32, comctl32, bcrypt
// and the C runtime (ANSI).
#pragma once
#include "win32/windows_api.h"
// The Windows headers first, then everything that builds on them.
#include "port/system.h"
#include "port/user.h"

namespace qv::win32 {

class Win32System final : public ISystem {
  public:
    Win32System() = default;

    // Alike on purpose: the fake and the Windows adapter implement the same port, so both list its
    // methods.
    void InitCommonControls() noexcept override;
    [[nodiscard]] Win32Error GetVersion(OsVersion* version) noexcept override;
    [[nodiscard]] ModuleHandle LoadLibrary(std::string_view name) noexcept override;
    [[nodiscard]] Win32Error FreeLibrary(ModuleHandle module) noexcept override;
    void* GetProcAddress(ModuleHandle module, std::string_view name) noexcept override;
    [[nodiscard]] std::uint32_t GetCurrentDirectory(std::uint32_t bufferChars,
                                                    std::string* directory) noexcept override;
    [[nodiscard]] std::uint32_t ExpandEnvironmentStrings(std::string_view source,
                                                         std::uint32_t bufferChars,
                                                         std::string* expanded) noexcept override;
    [[nodiscard]] Win32Error GetEnvironmentVariable(std::string_view name,
                                                    std::string* value) noexcept override;
    std::string GetPrivateProfileString(std::string_view section, std::string_view key,
                                        std::string_view defaultValue,
                                        std::string_view file) noexcept override;
    std::string FormatSystemMessage(Win32Error code) noexcept override;
    std::int64_t CurrentTime() noexcept override;
    void Sleep(std::uint32_t milliseconds) noexcept override;
    [[nodiscard]] bool LocalTimeRoundTrip(std::int64_t utcSeconds,
                                          std::int64_t* result) noexcept override;
    [[nodiscard]] Win32Error GetComputerName(std::string* name) noexcept override;
    std::string AnsiToUtf8(std::string_view ansi) noexcept override;
    [[nodiscard]] Win32Error GenerateRandom(unsigned char* bytes,
                                            std::size_t count) noexcept override;
};

// A text of one code page in another, through UTF-16 (MultiByteToWideChar, WideCharToMultiByte,
// both without flags: what a code page does not define becomes its default character). False when
// a conversion fails.
bool ConvertCodePage(UINT fromCodePage, UINT toCodePage, std::string_view text,
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

    std::string LoadString(std::uint32_t id) noexcept override;
    [[nodiscard]] Win32Error LoadResourceBytes(std::uint32_t id, std::string_view type,
                                               std::string* bytes) noexcept override;

  private:
    HMODULE module_;
};

}  // namespace qv::win32
