#include "security/sid_text.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "base/text.h"
#include "security/token.h"

namespace qv {
namespace {

// A number as "%lu" reads it from a piece of a SID text: the run of decimal digits at the start.
// A piece that does not start with a digit, or whose number does not fit in 32 bits, gives 0:
// a wrapped value would silently name some other account.
std::uint32_t ReadDecimal(std::string_view piece) noexcept {
    std::uint64_t value = 0;
    std::size_t i = 0;
    for (; i < piece.size() && piece[i] >= '0' && piece[i] <= '9'; ++i) {
        value = value * 10 + static_cast<std::uint64_t>(piece[i] - '0');
        if (value > 0xFFFFFFFFu) return 0;
    }
    return static_cast<std::uint32_t>(value);
}

int HexDigit(char c) noexcept {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The hexadecimal authority "0x" followed by six two-digit fields, read field by field as
// "%02hx" reads them: each field takes one or two hex digits; the first field without a digit
// ends the reading and the fields not read stay 0. Digits beyond the sixth field are ignored.
void ReadHexAuthority(std::string_view digits, SidIdentifierAuthority* authority) noexcept {
    std::size_t pos = 0;
    for (std::uint8_t& byte : authority->value) {
        int value = 0;
        int taken = 0;
        while (taken < 2 && pos < digits.size() && HexDigit(digits[pos]) >= 0) {
            value = value * 16 + HexDigit(digits[pos]);
            ++pos;
            ++taken;
        }
        if (taken == 0) return;
        byte = static_cast<std::uint8_t>(value);
    }
}

// A zero-filled heap buffer whose allocation failure is a result, not an exception. Aligned for
// the SIDs that the account lookup writes into it.
struct HeapBuffer {
    explicit HeapBuffer(std::uint32_t bytes) noexcept
        : words(new (std::nothrow) std::uint64_t[bytes / 8 + 1]()), size(bytes) {}
    explicit operator bool() const noexcept { return words != nullptr; }
    char* chars() noexcept { return reinterpret_cast<char*>(words.get()); }
    std::unique_ptr<std::uint64_t[]> words;
    std::uint32_t size;
};

// Whether `sid` lies wholly inside the `length` bytes at `buffer`, after a TOKEN_USER entry, as
// the system lays out its answer: the entry's pointer is not followed anywhere else.
bool SidLiesInside(ConstSid sid, const char* buffer, std::uint32_t length) noexcept {
    constexpr std::uintptr_t kHeader = 8;  // revision, count, 6-byte authority
    const auto begin = reinterpret_cast<std::uintptr_t>(buffer);
    const auto end = begin + length;
    const auto at = reinterpret_cast<std::uintptr_t>(sid);
    if (at < begin + sizeof(TokenUser) || at > end || end - at < kHeader) return false;
    const std::uint8_t count = static_cast<const std::uint8_t*>(sid)[1];
    return end - at >= kHeader + 4u * count;
}

}  // namespace

bool SidToText(ISecurity& security, ConstSid sid, std::uint32_t* size, std::string* text,
               Win32Error* lastError) {
    if (sid == nullptr || !security.IsValidSid(sid)) return false;
    const SidIdentifierAuthority* authority = security.GetSidIdentifierAuthority(sid);
    const std::uint8_t* count = security.GetSidSubAuthorityCount(sid);
    if (authority == nullptr || count == nullptr) return false;
    const std::uint32_t n = *count;

    // The size rule is fixed by the count alone, so a caller learns the size it needs without the
    // text being formatted, even when the actual text would be shorter.
    const std::uint32_t needed = SidTextBufferSize(n);
    if (*size < needed) {
        *size = needed;
        if (lastError != nullptr) *lastError = err::kInsufficientBuffer;
        return false;
    }

    const std::uint8_t* a = authority->value;
    char piece[32];
    std::string out = "S-1-";
    if (a[0] != 0 || a[1] != 0) {
        std::snprintf(piece, sizeof piece, "0x%02x%02x%02x%02x%02x%02x", a[0], a[1], a[2], a[3],
                      a[4], a[5]);
    } else {
        const unsigned long value = (static_cast<unsigned long>(a[2]) << 24) |
                                    (static_cast<unsigned long>(a[3]) << 16) |
                                    (static_cast<unsigned long>(a[4]) << 8) | a[5];
        std::snprintf(piece, sizeof piece, "%lu", value);
    }
    out += piece;
    for (std::uint32_t i = 0; i < n; ++i) {
        const std::uint32_t* sub = security.GetSidSubAuthority(sid, i);
        if (sub == nullptr) return false;
        std::snprintf(piece, sizeof piece, "-%lu", static_cast<unsigned long>(*sub));
        out += piece;
    }
    *text = std::move(out);
    return true;
}

bool IsSidText(std::string_view sidText) {
    if (sidText.substr(0, 4) != "S-1-") return false;
    std::size_t pieces = 0;
    std::size_t start = 4;
    while (true) {
        const std::size_t dash = text::Find(sidText, '-', start);
        const std::string_view piece =
            sidText.substr(start, dash == text::npos ? text::npos : dash - start);
        bool valid = !piece.empty();
        if (pieces == 0 && piece.substr(0, 2) == "0x") {
            valid = piece.size() == 14;
            for (std::size_t i = 2; i < piece.size() && valid; ++i) valid = HexDigit(piece[i]) >= 0;
        } else {
            std::uint64_t value = 0;
            for (std::size_t i = 0; i < piece.size() && valid; ++i) {
                valid = piece[i] >= '0' && piece[i] <= '9' && value <= 0xFFFFFFFFu;
                value = value * 10 + static_cast<std::uint64_t>(piece[i] - '0');
            }
            valid = valid && value <= 0xFFFFFFFFu && piece.size() <= 10;
        }
        if (!valid) return false;
        ++pieces;
        if (dash == text::npos) break;
        start = dash + 1;
    }
    // The authority and at least one sub-authority, at most SID_MAX_SUB_AUTHORITIES of them.
    return pieces >= 2 && pieces <= 1 + kMaxSidSubAuthorities;
}

UniqueSid TextToSid(ISecurity& security, std::string_view sidText) {
    // The three separators after "S", the revision and the authority; the revision is not read.
    const std::size_t first = text::Find(sidText, '-');
    if (first == text::npos) return UniqueSid(security);
    const std::size_t second = text::Find(sidText, '-', first + 1);
    if (second == text::npos) return UniqueSid(security);
    const std::size_t third = text::Find(sidText, '-', second + 1);
    if (third == text::npos) return UniqueSid(security);

    SidIdentifierAuthority authority{};
    const std::string_view authorityText = sidText.substr(second + 1, third - second - 1);
    if (authorityText.substr(0, 2) == "0x") {
        ReadHexAuthority(authorityText.substr(2), &authority);
    } else {
        const std::uint32_t value = ReadDecimal(authorityText);
        authority.value[2] = static_cast<std::uint8_t>(value >> 24);
        authority.value[3] = static_cast<std::uint8_t>(value >> 16);
        authority.value[4] = static_cast<std::uint8_t>(value >> 8);
        authority.value[5] = static_cast<std::uint8_t>(value);
    }

    // One sub-authority per separator from the third on; a SID holds at most eight.
    std::uint32_t subAuthorities[8] = {};
    std::uint8_t count = 0;
    std::size_t separator = third;
    while (separator != text::npos && count < 8) {
        const std::size_t next = text::Find(sidText, '-', separator + 1);
        const std::size_t end = next == text::npos ? sidText.size() : next;
        subAuthorities[count++] = ReadDecimal(sidText.substr(separator + 1, end - separator - 1));
        separator = next;
    }

    UniqueSid sid(security);
    if (security.AllocateAndInitializeSid(authority, count, subAuthorities, sid.put()) !=
        err::kSuccess) {
        sid.reset();
    }
    return sid;
}

namespace {

// The length of the text in a buffer of `size` bytes that the system filled, when it is a whole
// text: it ends in a NUL with at least one byte to spare before the buffer's end (a text that
// fills the buffer may have been cut to fit), and its last character is not a lead byte whose
// trail byte was cut off.
bool WholeText(const char* buffer, std::uint32_t size, std::size_t* length) noexcept {
    const std::size_t n = ::strnlen(buffer, size);
    if (size == 0 || n + 1 >= size) return false;
    std::size_t i = 0;
    while (i < n) {
        if (text::IsLeadByte(static_cast<unsigned char>(buffer[i])) && i + 1 == n) return false;
        i += text::CharLength(std::string_view(buffer, n), i);
    }
    *length = n;
    return true;
}

// The account name and domain of a SID text (LookupAccountSidA). *error, when given, gets the
// answer of the lookup that fills the buffers (0 when it was not made).
//
// The first lookup only learns the lengths. What it gives is not taken as the byte count: under a
// double-byte code page a system may count characters (Wine gives 3 for "田中", whose text takes
// 5 bytes with its NUL). The buffers get twice the count and a spare byte, grow again when the
// system answers ERROR_INSUFFICIENT_BUFFER or the text fills them, and what comes back must be a
// whole text.
bool LookupAccount(ISecurity& security, std::string_view sidText, std::string* name,
                   std::string* domain, Win32Error* error = nullptr) {
    if (error != nullptr) *error = err::kSuccess;
    UniqueSid sid = TextToSid(security, sidText);
    if (!sid) return false;

    // One-character buffers rather than none, so that nothing is written through a null pointer
    // should a name fit.
    char nameProbe[1] = {};
    char domainProbe[1] = {};
    std::uint32_t nameChars = 1;
    std::uint32_t domainChars = 1;
    std::uint32_t use = 0;
    (void)security.LookupAccountSid(sid.get(), nameProbe, &nameChars, domainProbe, &domainChars,
                                    &use);

    // Account names and domains are short (256 characters at most); the growth stops well above.
    constexpr std::uint32_t kMaxBytes = 4096;
    std::uint32_t nameBytes = 2 * std::max<std::uint32_t>(nameChars, 1) + 1;
    std::uint32_t domainBytes = 2 * std::max<std::uint32_t>(domainChars, 1) + 1;
    Win32Error looked = err::kInsufficientBuffer;
    while (nameBytes <= kMaxBytes && domainBytes <= kMaxBytes) {
        HeapBuffer nameBuffer(nameBytes);
        HeapBuffer domainBuffer(domainBytes);
        if (!nameBuffer || !domainBuffer) return false;
        std::uint32_t nameSize = nameBytes;
        std::uint32_t domainSize = domainBytes;
        looked = security.LookupAccountSid(sid.get(), nameBuffer.chars(), &nameSize,
                                           domainBuffer.chars(), &domainSize, &use);
        std::size_t nameLength = 0;
        std::size_t domainLength = 0;
        if (looked == err::kSuccess) {
            if (WholeText(nameBuffer.chars(), nameBytes, &nameLength) &&
                WholeText(domainBuffer.chars(), domainBytes, &domainLength)) {
                *name = std::string(nameBuffer.chars(), nameLength);
                *domain = std::string(domainBuffer.chars(), domainLength);
                if (error != nullptr) *error = looked;
                return true;
            }
        } else if (looked != err::kInsufficientBuffer) {
            break;
        }
        // Too small, or a text that may have been cut: twice the room, or what the system asks
        // for when that is more.
        nameBytes = std::max(2 * nameBytes, 2 * nameSize + 1);
        domainBytes = std::max(2 * domainBytes, 2 * domainSize + 1);
    }
    if (error != nullptr) *error = looked == err::kSuccess ? err::kInsufficientBuffer : looked;
    return false;
}

}  // namespace

bool AccountNameFromSidText(ISecurity& security, std::string_view sidText, std::string* name,
                            Win32Error* error) {
    std::string domain;
    return LookupAccount(security, sidText, name, &domain, error);
}

bool QualifiedAccountFromSidText(ISecurity& security, std::string_view sidText,
                                 std::string* account) {
    std::string name;
    std::string domain;
    if (!LookupAccount(security, sidText, &name, &domain)) return false;
    *account = domain.empty() ? name : domain + "\\" + name;
    return true;
}

std::string CurrentUserSidText(ISecurity& security) {
    // The user the process runs as, from its own token: a lookup by account name could find
    // another account of the same name (a domain account beside a local one) and with it another
    // user's hive and profile.
    UniqueToken token(security);
    if (security.OpenProcessToken(sec::kTokenQuery, token.put()) != err::kSuccess) {
        return std::string();
    }
    // The first call only learns the length; it fails by design for want of a buffer.
    std::uint32_t length = 0;
    (void)security.GetTokenInformation(token.get(), sec::kTokenUserClass, nullptr, 0, &length);
    if (length < sizeof(TokenUser)) return std::string();

    // Zero-filled and aligned for the entry's pointer; the system writes the SID after the entry.
    HeapBuffer buffer(length);
    if (!buffer) return std::string();
    std::uint32_t written = 0;
    if (security.GetTokenInformation(token.get(), sec::kTokenUserClass, buffer.words.get(), length,
                                     &written) != err::kSuccess) {
        return std::string();
    }
    const auto* user = reinterpret_cast<const TokenUser*>(buffer.words.get());
    if (!SidLiesInside(user->user.sid, buffer.chars(), length)) return std::string();

    std::uint32_t size = SidTextBufferSize(kMaxSidSubAuthorities);
    std::string result;
    if (!SidToText(security, user->user.sid, &size, &result)) return std::string();
    return result;
}

}  // namespace qv
