#pragma once
// Names for the values of an enum whose values run 0, 1, 2, ...: a table of {value, name} pairs in
// that order, checked when it is compiled as a switch over the enum would be, so that a value left
// without its name (a new one included) does not build.

#include <cstddef>
#include <string_view>

namespace qv {

template <typename Enum>
struct EnumName {
    Enum value;
    const char* name;
};

namespace enum_names_detail {

// Whether Value is one of its enum's named values: the compiler spells a named value by its name
// and any other value as a number cast to the enum, "(qv::Enum)6".
template <auto Value>
constexpr bool IsEnumerator() {
    constexpr std::string_view signature = __PRETTY_FUNCTION__;
    constexpr std::size_t at = signature.rfind("= ");
    return at != std::string_view::npos && signature[at + 2] != '(';
}

}  // namespace enum_names_detail

// Whether the table lists each value of its enum in order, from 0 to the last one.
template <typename Enum, std::size_t N>
constexpr bool NamesEveryValue(const EnumName<Enum> (&names)[N]) {
    for (std::size_t i = 0; i < N; ++i) {
        if (static_cast<std::size_t>(names[i].value) != i) return false;
    }
    return !enum_names_detail::IsEnumerator<static_cast<Enum>(N)>();
}

// The name of the value, or `fallback` for a number that is none of the enum's values.
template <typename Enum, std::size_t N>
constexpr const char* NameOf(const EnumName<Enum> (&names)[N], Enum value, const char* fallback) {
    const auto index = static_cast<std::size_t>(value);
    return index < N ? names[index].name : fallback;
}

}  // namespace qv
