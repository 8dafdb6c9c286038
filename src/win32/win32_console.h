// The console port on the process's standard handles: text in the console's output code page when
// a stream is a console, the bytes as they are when it is a file or a pipe.
#pragma once
#include "port/console.h"
#include "win32/windows_api.h"

namespace qv::win32 {

class Win32Console final : public IConsole {
  public:
    Win32Console() noexcept;

    void WriteText(ConsoleStream stream, std::string_view ansiText) noexcept override;
    void WriteUtf8(std::string_view utf8) noexcept override;
    [[nodiscard]] bool InputIsInteractive() noexcept override;
    [[nodiscard]] bool ReadLine(std::string* line) noexcept override;

  private:
    // Writes `text` of `codePage` to `handle`: converted to the console's output code page on a
    // console, as it is into a file or a pipe.
    void Write(HANDLE handle, UINT codePage, std::string_view text) noexcept;

    HANDLE input_;
    HANDLE output_;
    HANDLE error_;
};

// Whether a standard handle is a console (not a file, a pipe, the NUL device or nothing).
bool IsConsoleHandle(HANDLE handle) noexcept;

}  // namespace qv::win32
