// Message boxes of the console program: nobody is there to read a box, so its text goes to
// standard error, and a question gets the answer that changes nothing.
#pragma once
#include "port/console.h"
#include "port/user.h"

namespace qv::cli {

class ConsoleMessageBoxes final : public IMessageBoxes {
  public:
    explicit ConsoleMessageBoxes(IConsole& console) : console_(console) {}

    // Writes "<caption>: <text>" as a line of standard error. A box with the OK button alone
    // answers OK; any other set of buttons answers Cancel.
    int Show(WindowRef owner, std::string_view text, std::string_view caption,
             std::uint32_t style) noexcept override;

  private:
    IConsole& console_;
};

}  // namespace qv::cli
