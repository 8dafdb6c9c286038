// The console of the console program, for tests: what it wrote to each stream, whether standard
// input is an interactive console, and the lines a person types there.
#pragma once
#include <deque>
#include <string>
#include <string_view>
#include <utility>

#include "port/console.h"

namespace qv::fake {

class FakeConsole final : public IConsole {
  public:
    // --- setup ---
    // Standard input is an interactive console (default: no console, as under a deployment
    // engine), and these lines are typed there, in order.
    void SetInteractive(bool interactive = true) { interactive_ = interactive; }
    void Type(std::string_view line) { input_.emplace_back(line); }

    // --- inspection ---
    const std::string& Out() const { return out_; }  // text and UTF-8 alike, in order
    const std::string& Err() const { return err_; }
    int LinesRead() const { return linesRead_; }
    // Forgets what was written, for the next run of a test that runs the program again.
    void Clear() {
        out_.clear();
        err_.clear();
    }

    void WriteText(ConsoleStream stream, std::string_view ansiText) noexcept override {
        (stream == ConsoleStream::kOut ? out_ : err_).append(ansiText);
    }
    void WriteUtf8(std::string_view utf8) noexcept override { out_.append(utf8); }
    [[nodiscard]] bool InputIsInteractive() noexcept override { return interactive_; }
    // A console without typed lines is at the end of its input.
    [[nodiscard]] bool ReadLine(std::string* line) noexcept override {
        if (input_.empty()) return false;
        *line = std::move(input_.front());
        input_.pop_front();
        ++linesRead_;
        return true;
    }

  private:
    bool interactive_ = false;
    std::deque<std::string> input_;
    std::string out_;
    std::string err_;
    int linesRead_ = 0;
};

}  // namespace qv::fake
