#include "win32/win32_console.h"

#include <new>
#include <string>

#include "win32/win32_system.h"

namespace qv::win32 {
namespace {

// Writes every byte, as many calls as a pipe needs; a failed write ends it (a closed pipe: the
// reader is gone, and nobody is left to tell).
void WriteAll(HANDLE handle, std::string_view bytes) noexcept {
    while (!bytes.empty()) {
        const DWORD chunk = bytes.size() > 0x10000 ? 0x10000 : static_cast<DWORD>(bytes.size());
        DWORD written = 0;
        if (!::WriteFile(handle, bytes.data(), chunk, &written, nullptr) || written == 0) return;
        bytes.remove_prefix(written);
    }
}

}  // namespace

Win32Console::Win32Console() noexcept
    : input_(::GetStdHandle(STD_INPUT_HANDLE)),
      output_(::GetStdHandle(STD_OUTPUT_HANDLE)),
      error_(::GetStdHandle(STD_ERROR_HANDLE)) {}

bool IsConsoleHandle(HANDLE handle) noexcept {
    // The NUL device is a character device too, but has no console mode.
    DWORD mode = 0;
    return handle != nullptr && handle != INVALID_HANDLE_VALUE &&
           ::GetFileType(handle) == FILE_TYPE_CHAR && ::GetConsoleMode(handle, &mode);
}

void Win32Console::Write(HANDLE handle, UINT codePage, std::string_view text) noexcept {
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE || text.empty()) return;
    if (!IsConsoleHandle(handle)) {
        WriteAll(handle, text);
        return;
    }
    std::string shown;
    // Should the conversion fail, the bytes go as they are rather than not at all.
    if (ConvertCodePage(codePage, ::GetConsoleOutputCP(), text, &shown)) {
        WriteAll(handle, shown);
    } else {
        WriteAll(handle, text);
    }
}

void Win32Console::WriteText(ConsoleStream stream, std::string_view ansiText) noexcept {
    Write(stream == ConsoleStream::kOut ? output_ : error_, CP_ACP, ansiText);
}

void Win32Console::WriteUtf8(std::string_view utf8) noexcept { Write(output_, CP_UTF8, utf8); }

bool Win32Console::InputIsInteractive() noexcept { return IsConsoleHandle(input_); }

bool Win32Console::ReadLine(std::string* line) noexcept {
    if (line == nullptr || input_ == nullptr || input_ == INVALID_HANDLE_VALUE) return false;
    try {
        std::string typed;
        bool any = false;
        for (;;) {
            char c = 0;
            DWORD read = 0;
            if (!::ReadFile(input_, &c, 1, &read, nullptr) || read == 0) break;
            any = true;
            if (c == '\n') break;
            if (c != '\r') typed += c;
        }
        if (!any) return false;
        // A console hands its input over in its input code page.
        if (IsConsoleHandle(input_)) {
            std::string ansi;
            if (ConvertCodePage(::GetConsoleCP(), CP_ACP, typed, &ansi)) typed = std::move(ansi);
        }
        *line = std::move(typed);
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

}  // namespace qv::win32
