// Security identifiers and their text form ("S-1-5-21-..."), account names and the running
// user's SID text.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "port/platform.h"

namespace qv {

// A SID holds at most this many sub-authorities (SID_MAX_SUB_AUTHORITIES).
inline constexpr std::uint32_t kMaxSidSubAuthorities = 15;

// The buffer a SID text with `subAuthorities` sub-authorities needs: 28 + 12 * n bytes.
constexpr std::uint32_t SidTextBufferSize(std::uint32_t subAuthorities) {
    return 28 + 12 * subAuthorities;
}

// Writes the text of `sid` into *text. *size is the caller's buffer size in bytes; when it is
// smaller than SidTextBufferSize(n), *size receives that size, *lastError 122 and the result is
// false. An invalid SID gives false.
[[nodiscard]] bool SidToText(ISecurity& security, ConstSid sid, std::uint32_t* size,
                             std::string* text, Win32Error* lastError = nullptr);
// Whether a text is a SID text as the system writes them: "S-1-", the authority in decimal (or
// "0x" and twelve hexadecimal digits), then each sub-authority as "-" and decimal digits, none
// above 32 bits. A profile list entry "S-1-5-21-...-1001.bak" is no SID text.
[[nodiscard]] bool IsSidText(std::string_view text);
// Parses a SID text; empty when it does not parse (see the rules in sid_text.cpp).
[[nodiscard]] UniqueSid TextToSid(ISecurity& security, std::string_view sidText);
// The account name (without domain) of a SID text. *error, when given, gets the system's answer
// to the lookup (err::kNoneMapped: the SID has no account), 0 when no lookup was made (the SID text
// does not parse).
[[nodiscard]] bool AccountNameFromSidText(ISecurity& security, std::string_view sidText,
                                          std::string* name, Win32Error* error = nullptr);
// The account of a SID text as "DOMAIN\name", or the bare name when the system gives no domain.
[[nodiscard]] bool QualifiedAccountFromSidText(ISecurity& security, std::string_view sidText,
                                               std::string* account);
// The SID text of the user the process runs as, from its token (TokenUser); empty on any failure.
std::string CurrentUserSidText(ISecurity& security);

}  // namespace qv
