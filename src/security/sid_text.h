// Security identifiers and their text form ("S-1-5-21-..."), account names, the running user's
// SID text, and the system-error box.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "base/unique_handle.h"
#include "port/platform.h"

namespace qv {

struct SidCloser {
    using Value = Sid;
    ISecurity* security = nullptr;
    static Sid Null() noexcept { return nullptr; }
    bool Owns(Sid) const noexcept { return security != nullptr; }
    int Close(Sid s) noexcept {
        security->FreeSid(s);
        return 0;
    }
};

// A SID made by AllocateAndInitializeSid, released with FreeSid.
class UniqueSid : public UniqueHandle<SidCloser> {
  public:
    UniqueSid() = default;
    explicit UniqueSid(ISecurity& security, Sid s = nullptr) noexcept
        : UniqueHandle<SidCloser>(SidCloser{&security}, s) {}
};

// A SID holds at most this many sub-authorities (SID_MAX_SUB_AUTHORITIES).
inline constexpr std::uint32_t kMaxSidSubAuthorities = 15;

// The buffer a SID text with `subAuthorities` sub-authorities needs: 28 + 12 * n bytes.
constexpr std::uint32_t SidTextBufferSize(std::uint32_t subAuthorities) {
    return 28 + 12 * subAuthorities;
}

// Writes the text of `sid` into *text. *size is the caller's buffer size in bytes; when it is
// smaller than SidTextBufferSize(n), *size receives that size, *lastError 122 and the result is
// false. An invalid SID gives false.
bool SidToText(ISecurity& security, ConstSid sid, std::uint32_t* size, std::string* text,
               Win32Error* lastError = nullptr);
// Parses a SID text; empty when it does not parse (see the rules in sid_text.cpp).
UniqueSid TextToSid(ISecurity& security, std::string_view sidText);
// The account name (without domain) of a SID text. *error, when given, gets the system's answer
// to the lookup (err::kNoneMapped: the SID has no account), 0 when no lookup was made (the SID text
// does not parse).
bool AccountNameFromSidText(ISecurity& security, std::string_view sidText, std::string* name,
                            Win32Error* error = nullptr);
// The account of a SID text as "DOMAIN\name", or the bare name when the system gives no domain.
bool QualifiedAccountFromSidText(ISecurity& security, std::string_view sidText,
                                 std::string* account);
// The SID text of the user the process runs as, from its token (TokenUser); empty on any failure.
std::string CurrentUserSidText(ISecurity& security);

// The system's message text for an error code, empty when it has none.
std::string SystemErrorText(ISystem& system, Win32Error code);
// A box with prefix + SystemErrorText(code), caption "Quorvane Error", information icon, no owner.
void ShowSystemError(Platform& os, Win32Error code, std::string_view prefix);

}  // namespace qv
