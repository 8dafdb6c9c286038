// Text helpers for 8-bit strings of the system's ANSI code page. Every search for a delimiter and
// every comparison steps over whole characters, so the second byte of a double-byte character
// (0x5C in many Shift-JIS names) is never taken for "\", "-", ":", "%" or a line feed.
#pragma once
#include <array>
#include <cstddef>
#include <initializer_list>
#include <string>
#include <string_view>

namespace qv::text {

inline constexpr std::size_t npos = std::string_view::npos;

// The lead bytes of the process's ANSI code page. Until SetLeadBytes is called they are those of
// code page 932 (Shift-JIS); the Windows build installs the system's own at start-up.
using LeadByteTable = std::array<bool, 256>;
LeadByteTable Cp932LeadBytes() noexcept;
void SetLeadBytes(const LeadByteTable& table) noexcept;
bool IsLeadByte(unsigned char c) noexcept;

// Length in bytes of the character starting at s[i] (1 or 2; 1 for a lead byte at the end).
std::size_t CharLength(std::string_view s, std::size_t i) noexcept;

// Position of the first character c at or after `from`, on a character boundary; npos if none.
// `from` must be a character boundary.
std::size_t Find(std::string_view s, char c, std::size_t from = 0) noexcept;
// Position of the last character c; npos if none.
std::size_t FindLast(std::string_view s, char c) noexcept;
// Position of the first occurrence of `needle` that starts on a character boundary; npos if none.
std::size_t FindText(std::string_view s, std::string_view needle, std::size_t from = 0) noexcept;

// Removes the whole run of "\" at the end.
std::string TrimTrailingBackslashes(std::string_view s);
// The text before the last "\"; the whole text when it has none.
std::string CutBeforeLastBackslash(std::string_view s);
// The text after the last "\"; the whole text when it has none.
std::string AfterLastBackslash(std::string_view s);
// "folder\name": a path and one more name below it.
std::string JoinPath(std::string_view folder, std::string_view name);
// The text up to its first NUL, as a C string (a system call, a control, a value read into a
// buffer) reads it; the whole text when it has none. A NUL byte is never part of a double-byte
// character.
std::string UpToNul(std::string_view s);

// Exact comparison, byte for byte.
bool Equals(std::string_view a, std::string_view b) noexcept;
// Case-insensitive comparison in the manner of lstrcmpiA: ASCII letters fold, double-byte
// characters compare as units. Returns <0, 0, >0.
int CompareNoCase(std::string_view a, std::string_view b) noexcept;
bool EqualsNoCase(std::string_view a, std::string_view b) noexcept;
// The text as the case-insensitive comparison sees it: ASCII letters upper-cased, double-byte
// characters kept whole (a trail byte in 'a'..'z' is not a letter). Two texts are EqualsNoCase
// exactly when their folded forms are equal, so the folded form can key a hash index.
std::string FoldCase(std::string_view s);

// The text without the line break, blanks and tabs at its end: a system's message text ("Access
// is denied.\r\n") made fit for the middle of a sentence or a line of its own.
std::string TrimLineEnd(std::string_view s);
// `format` with each "%s" (found on a character boundary) replaced by the next of `arguments`, in
// order; a "%s" beyond the arguments stays as it stands. Nothing else of `format` is read as a
// format, and no argument ever is: a "%s" or "%d" in an argument is kept as it is.
std::string Substitute(std::string_view format, std::initializer_list<std::string_view> arguments);

// Bytes as lower-case hexadecimal digits, two per byte, and back. FromHex is false for a text of
// odd length or with anything but hexadecimal digits.
std::string Hex(std::string_view bytes);
[[nodiscard]] bool FromHex(std::string_view digits, std::string* bytes);

}  // namespace qv::text
