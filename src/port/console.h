// Console port: the standard streams of the console program, and whether a person at a console
// can answer a question.
#pragma once
#include <string>
#include <string_view>

#include "port/port.h"

namespace qv {

enum class ConsoleStream { kOut, kErr };

class IConsole : public Port {
  public:
    // Text in the ANSI code page. On a console it is shown in the console's output code page;
    // into a file or a pipe it goes as it is.
    virtual void WriteText(ConsoleStream stream, std::string_view ansiText) noexcept = 0;
    // UTF-8 bytes (the JSON document) to standard output: into a file or a pipe as they are, on a
    // console in the console's output code page.
    virtual void WriteUtf8(std::string_view utf8) noexcept = 0;
    // Whether standard input is an interactive console (not a file, a pipe or nothing at all).
    [[nodiscard]] virtual bool InputIsInteractive() noexcept = 0;
    // One line of standard input in the ANSI code page, without its line break; false at the end
    // of the input or on an error.
    [[nodiscard]] virtual bool ReadLine(std::string* line) noexcept = 0;
};

}  // namespace qv
