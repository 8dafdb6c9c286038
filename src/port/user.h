// Ports for what the operator and a debugger see: message boxes, the debug output, and the
// resources of the tool's own module (string table and file lists).
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "base/win32_codes.h"
#include "port/port.h"
#include "port/window.h"

namespace qv {

class IMessageBoxes : public Port {
  public:
    // MessageBoxA: returns the button chosen (mb::kIdOk, mb::kIdCancel, ...).
    virtual int Show(WindowRef owner, std::string_view text, std::string_view caption,
                     std::uint32_t style) noexcept = 0;
};

class IDebugOutput : public Port {
  public:
    // OutputDebugStringA.
    virtual void Write(std::string_view text) noexcept = 0;
};

class IResources : public Port {
  public:
    // GetUserDefaultUILanguage: the language (a LANGID) the user's interface is shown in.
    virtual std::uint16_t UserInterfaceLanguage() noexcept = 0;
    // From now on the string table and the dialog's template are taken in this language (a
    // LANGID), as FindResourceEx finds it. Until then the loader picks by the thread's language.
    virtual void UseLanguage(std::uint16_t languageId) noexcept = 0;
    // LoadStringA from the tool's module, in the language chosen: the text in the ANSI code
    // page; empty when missing.
    virtual std::string LoadString(std::uint32_t id) noexcept = 0;
    // FindResourceA, LoadResource and SizeofResource on the tool's own module: the resource's
    // bytes, or the error of the first call that failed.
    [[nodiscard]] virtual Win32Error LoadResourceBytes(std::uint32_t id, std::string_view type,
                                                       std::string* bytes) noexcept = 0;
};

}  // namespace qv
