// How the fake machine reads names of code page 932: their characters (a lead byte and its trail
// byte are one, as the system's conversion to UTF-16 makes them one), and their case, folded as
// the system's upper-casing folds it.
#pragma once
#include <string>
#include <string_view>

#include "base/text.h"

namespace qv::fake {

// The number of characters of a text, a double-byte character counted once: what the system's
// limits on names count.
inline std::size_t CharCount(std::string_view cp932) {
    std::size_t n = 0;
    for (std::size_t i = 0; i < cp932.size(); i += text::CharLength(cp932, i)) ++n;
    return n;
}

// A text of code page 932 with every letter that has a case in its upper case: the ASCII letters,
// the full-width Latin letters (0x8281-0x829A to 0x8260-0x8279), the Greek letters (0x83BF-0x83D6
// to 0x839F-0x83B6) and the Cyrillic letters (0x8470-0x8491 to 0x8440-0x8460, 0x847F being no
// character). A lead byte's pair is one character: its trail byte is never taken as a letter.
inline std::string UpperCaseCp932(std::string_view cp932) {
    std::string out = text::FoldCase(cp932);  // the ASCII letters
    for (std::size_t i = 0; i < out.size(); i += text::CharLength(out, i)) {
        if (text::CharLength(out, i) == 1) continue;
        auto byte = static_cast<unsigned char>(out[i]);
        auto trail = static_cast<unsigned char>(out[i + 1]);
        int upper = trail;
        if (byte == 0x82 && trail >= 0x81 && trail <= 0x9A) upper = trail - 0x21;
        if (byte == 0x83 && trail >= 0xBF && trail <= 0xD6) upper = trail - 0x20;
        if (byte == 0x84 && trail >= 0x70 && trail <= 0x7E) upper = trail - 0x30;
        if (byte == 0x84 && trail >= 0x80 && trail <= 0x91) upper = trail - 0x31;
        out[i + 1] = static_cast<char>(upper);
    }
    return out;
}

}  // namespace qv::fake
