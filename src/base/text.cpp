#include "base/text.h"

#include <utility>

namespace qv::text {
namespace {

LeadByteTable MakeCp932() noexcept {
    LeadByteTable t{};
    for (int c = 0x81; c <= 0x9F; ++c) t[c] = true;
    for (int c = 0xE0; c <= 0xFC; ++c) t[c] = true;
    return t;
}

LeadByteTable& Table() noexcept {
    static LeadByteTable table = MakeCp932();
    return table;
}

char FoldAscii(char c) noexcept { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }

}  // namespace

LeadByteTable Cp932LeadBytes() noexcept { return MakeCp932(); }
void SetLeadBytes(const LeadByteTable& table) noexcept { Table() = table; }
bool IsLeadByte(unsigned char c) noexcept { return Table()[c]; }

std::size_t CharLength(std::string_view s, std::size_t i) noexcept {
    return (IsLeadByte(static_cast<unsigned char>(s[i])) && i + 1 < s.size()) ? 2 : 1;
}

std::size_t Find(std::string_view s, char c, std::size_t from) noexcept {
    for (std::size_t i = from; i < s.size(); i += CharLength(s, i)) {
        if (s[i] == c) return i;
    }
    return npos;
}

std::size_t FindLast(std::string_view s, char c) noexcept {
    std::size_t found = npos;
    for (std::size_t i = 0; i < s.size(); i += CharLength(s, i)) {
        if (s[i] == c) found = i;
    }
    return found;
}

std::size_t FindText(std::string_view s, std::string_view needle, std::size_t from) noexcept {
    if (needle.empty()) return from <= s.size() ? from : npos;
    for (std::size_t i = from; i < s.size(); i += CharLength(s, i)) {
        if (s.compare(i, needle.size(), needle) == 0) return i;
    }
    return npos;
}

std::string TrimLineEnd(std::string_view s) {
    std::size_t end = s.size();
    // None of the four is ever the second byte of a double-byte character.
    while (end > 0 &&
           (s[end - 1] == '\r' || s[end - 1] == '\n' || s[end - 1] == ' ' || s[end - 1] == '\t')) {
        --end;
    }
    return std::string(s.substr(0, end));
}

std::string Substitute(std::string_view format, std::initializer_list<std::string_view> arguments) {
    std::string out;
    const std::string_view* next = arguments.begin();
    std::size_t from = 0;
    for (std::size_t at = FindText(format, "%s"); at != npos && next != arguments.end();
         at = FindText(format, "%s", from)) {
        out += format.substr(from, at - from);
        out += *next++;
        from = at + 2;
    }
    out += format.substr(from);
    return out;
}

std::string TrimTrailingBackslashes(std::string_view s) {
    // Find where the final run of "\" characters begins, stepping over whole characters.
    std::size_t end = 0;
    for (std::size_t i = 0; i < s.size(); i += CharLength(s, i)) {
        if (s[i] != '\\') end = i + CharLength(s, i);
    }
    return std::string(s.substr(0, end));
}

std::string CutBeforeLastBackslash(std::string_view s) {
    std::size_t pos = FindLast(s, '\\');
    return std::string(pos == npos ? s : s.substr(0, pos));
}

std::string JoinPath(std::string_view folder, std::string_view name) {
    std::string path(folder);
    path += '\\';
    path += name;
    return path;
}

std::string AfterLastBackslash(std::string_view s) {
    std::size_t pos = FindLast(s, '\\');
    return std::string(pos == npos ? s : s.substr(pos + 1));
}

bool Equals(std::string_view a, std::string_view b) noexcept { return a == b; }

int CompareNoCase(std::string_view a, std::string_view b) noexcept {
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < a.size() && j < b.size()) {
        std::size_t la = CharLength(a, i);
        std::size_t lb = CharLength(b, j);
        if (la == 1 && lb == 1) {
            unsigned char ca = static_cast<unsigned char>(FoldAscii(a[i]));
            unsigned char cb = static_cast<unsigned char>(FoldAscii(b[j]));
            if (ca != cb) return ca < cb ? -1 : 1;
        } else {
            int c = a.substr(i, la).compare(b.substr(j, lb));
            if (c != 0) return c < 0 ? -1 : 1;
        }
        i += la;
        j += lb;
    }
    if (i < a.size()) return 1;
    if (j < b.size()) return -1;
    return 0;
}

bool EqualsNoCase(std::string_view a, std::string_view b) noexcept {
    return CompareNoCase(a, b) == 0;
}

std::string FoldCase(std::string_view s) {
    std::string out(s);
    for (std::size_t i = 0; i < out.size(); i += CharLength(out, i)) {
        if (CharLength(out, i) == 1) out[i] = FoldAscii(out[i]);
    }
    return out;
}

std::string UpToNul(std::string_view s) { return std::string(s.substr(0, s.find('\0'))); }

std::string Hex(std::string_view bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string digits;
    digits.reserve(bytes.size() * 2);
    for (char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        digits += kDigits[b >> 4];
        digits += kDigits[b & 0xF];
    }
    return digits;
}

bool FromHex(std::string_view digits, std::string* bytes) {
    if (digits.size() % 2 != 0) return false;
    auto value = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    std::string out;
    out.reserve(digits.size() / 2);
    for (std::size_t i = 0; i < digits.size(); i += 2) {
        const int high = value(digits[i]);
        const int low = value(digits[i + 1]);
        if (high < 0 || low < 0) return false;
        out += static_cast<char>(high * 16 + low);
    }
    *bytes = std::move(out);
    return true;
}

}  // namespace qv::text
