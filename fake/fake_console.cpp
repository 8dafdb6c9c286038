#include "fake/fake_console.h"

namespace qv::fake {

void FakeConsole::WriteText(ConsoleStream stream, std::string_view ansiText) noexcept {
    (stream == ConsoleStream::kOut ? out_ : err_).append(ansiText);
}

void FakeConsole::WriteUtf8(std::string_view utf8) noexcept { out_.append(utf8); }

bool FakeConsole::ReadLine(std::string* line) noexcept {
    if (line == nullptr || input_.empty()) return false;
    *line = std::move(input_.front());
    input_.pop_front();
    ++linesRead_;
    return true;
}

}  // namespace qv::fake
