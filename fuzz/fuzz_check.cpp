#include "fuzz/fuzz_check.h"

#include <cstdio>
#include <cstdlib>

// The sanitizers' settings for every harness. A harness builds a whole fake machine per input, so
// freed memory is reused sooner (a smaller quarantine) and allocations record shorter stacks:
// both cost page faults and time on every input, and the runs count more than the depth of a
// report's allocation stack.
extern "C" const char* __asan_default_options() {
    return "quarantine_size_mb=16:malloc_context_size=8";
}

namespace qv::fuzz {

void Fail(const char* file, int line, const char* property, std::string_view detail) {
    std::fprintf(stderr, "\n%s:%d: property broken: %s\n", file, line, property);
    if (!detail.empty()) {
        // Written whole: a fuzzed text may hold NUL bytes.
        std::fputs("  concerning: ", stderr);
        std::fwrite(detail.data(), 1, detail.size(), stderr);
        std::fputs("\n", stderr);
    }
    std::abort();
}

std::string_view AsText(const std::uint8_t* data, std::size_t size) {
    return std::string_view(reinterpret_cast<const char*>(data), size);
}

std::vector<std::string_view> SplitLines(std::string_view text) {
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    while (start <= text.size()) {
        // The framing of a fuzz input is byte-wise: a line feed never is the second byte of a
        // double-byte character, and the lines themselves go to the code unsplit.
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

}  // namespace qv::fuzz
