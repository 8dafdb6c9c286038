// What the harnesses share: a property check that ends the run as a crash, so that libFuzzer keeps
// the input that broke it, and the cut of a fuzz input into lines.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qv::fuzz {

// Prints the broken property (and the text it concerns) and aborts.
[[noreturn]] void Fail(const char* file, int line, const char* property, std::string_view detail);

// The input as text, and its lines split at "\n" (a "\r" before it stays in the line).
std::string_view AsText(const std::uint8_t* data, std::size_t size);
std::vector<std::string_view> SplitLines(std::string_view text);

}  // namespace qv::fuzz

#define QV_FUZZ_CHECK(condition, detail)                                            \
    do {                                                                            \
        if (!(condition)) ::qv::fuzz::Fail(__FILE__, __LINE__, #condition, detail); \
    } while (false)
