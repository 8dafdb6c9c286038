#include "cli/console_boxes.h"

#include <new>
#include <string>

#include "base/text.h"
#include "base/win32_codes.h"

namespace qv::cli {
namespace {

constexpr std::uint32_t kButtonMask = 0xF;  // MB_TYPEMASK

}  // namespace

int ConsoleMessageBoxes::Show(WindowRef, std::string_view text, std::string_view caption,
                              std::uint32_t style) noexcept {
    try {
        std::string line(caption);
        line += ": ";
        // A system text ends in a line break already.
        line += text::TrimLineEnd(text);
        line += '\n';
        console_.WriteText(ConsoleStream::kErr, line);
    } catch (const std::bad_alloc&) {
        // The answer below still holds.
    }
    return (style & kButtonMask) == mb::kOk ? mb::kIdOk : mb::kIdCancel;
}

}  // namespace qv::cli
