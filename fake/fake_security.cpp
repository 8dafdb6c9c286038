#include "fake/fake_security.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <map>
#include <stdexcept>
#include <unordered_map>
#include <utility>

#include "base/text.h"
#include "fake/fake_case.h"

namespace qv::fake {
namespace {

// Codes the ports do not name because the tool never tests for them.
constexpr Win32Error kNoSuchPrivilege = 1313;  // ERROR_NO_SUCH_PRIVILEGE
constexpr Win32Error kInvalidSid = 1337;       // ERROR_INVALID_SID

// SID_NAME_USE values.
constexpr std::uint32_t kSidTypeUser = 1;
constexpr std::uint32_t kSidTypeAlias = 4;
constexpr std::uint32_t kSidTypeWellKnownGroup = 5;

constexpr std::uint8_t kSidRevision = 1;
constexpr std::uint8_t kSidMaxSubAuthorities = 15;
constexpr std::size_t kSidHeaderBytes = 8;  // revision, count, 6-byte authority

using Bytes = std::vector<std::uint8_t>;

// The privileges the tool and its tests name, with the system's fixed LUIDs (winnt.h,
// SE_TCB_PRIVILEGE 7, SE_BACKUP_PRIVILEGE 17, SE_RESTORE_PRIVILEGE 18, SE_SHUTDOWN_PRIVILEGE 19;
// the same on every NT machine). 0, no LUID of a privilege, for any other name.
Luid PrivilegeLuid(std::string_view name) {
    constexpr std::pair<const char*, Luid> kPrivileges[] = {
        {"SeTcbPrivilege", 7},
        {"SeBackupPrivilege", 17},
        {"SeRestorePrivilege", 18},
        {"SeShutdownPrivilege", 19},
    };
    for (const auto& [privilege, luid] : kPrivileges) {
        if (text::EqualsNoCase(name, privilege)) return luid;
    }
    return 0;
}

Bytes SidOrThrow(std::string_view sidText) {
    Bytes sid = FakeSecurity::SidBytes(sidText);
    if (sid.empty())
        throw std::invalid_argument("FakeSecurity: bad SID text " + std::string(sidText));
    return sid;
}

// Digits in `base` (10 or 16, either case) up to `limit`; false for anything else.
bool ParseNumber(std::string_view s, std::uint64_t base, std::uint64_t limit,
                 std::uint64_t* value) {
    if (s.empty() || s.size() > 20) return false;
    std::uint64_t v = 0;
    for (char c : s) {
        const std::size_t at = std::string_view("0123456789abcdefABCDEF").find(c);
        const std::uint64_t digit = at < 16 ? at : at - 6;  // no digit: npos, or near it
        if (digit >= base || v > (limit - digit) / base) return false;
        v = v * base + digit;
    }
    *value = v;
    return true;
}

// Size of a valid SID in memory; 0 when it is not a SID.
std::size_t SidLength(ConstSid sid) {
    if (sid == nullptr) return 0;
    const auto* p = static_cast<const std::uint8_t*>(sid);
    if (p[0] != kSidRevision || p[1] > kSidMaxSubAuthorities) return 0;
    return kSidHeaderBytes + 4u * p[1];
}

const char kAdministratorsSid[] = "S-1-5-32-544";

}  // namespace

struct FakeSecurity::State {
    struct Account {
        std::string name;
        std::string domain;
        std::uint32_t use;
    };
    struct Group {
        Bytes sid;
        std::uint32_t attributes;
    };

    // The accounts by their SIDs' stored form: a machine has an account per profile and the tool
    // looks up every profile's. A SID names the first account added with it.
    std::unordered_map<std::string, Account> accounts;
    std::string userName = "operator";
    Group tokenUser;  // its attributes are none
    std::vector<Group> groups;
    std::map<Luid, bool> held;  // privileges of the process token: enabled or not

    // SIDs handed out by AllocateAndInitializeSid and not yet freed, each with its memory.
    std::map<const void*, Bytes> liveSids;
    std::size_t badFrees = 0;

    std::map<TokenHandle, std::uint32_t> openTokens;  // handle -> access granted
    TokenHandle nextToken = 0x1A4;

    bool unbound = false;
    bool lookupCountsCharacters = false;
    std::map<SecOp, std::size_t> calls;  // calls made of the bound functions

    void Add(std::string_view sidText, std::string name, std::string domain, std::uint32_t use) {
        const Bytes sid = SidOrThrow(sidText);
        accounts.emplace(std::string(sid.begin(), sid.end()),
                         Account{std::move(name), std::move(domain), use});
    }

    // The token a call names, if it was opened with `access`.
    Win32Error CheckToken(TokenHandle token, std::uint32_t access) const {
        auto open = openTokens.find(token);
        if (open == openTokens.end()) return err::kInvalidHandle;
        return (open->second & access) != 0 ? err::kSuccess : err::kAccessDenied;
    }
};

FakeSecurity::FakeSecurity() : s_(std::make_unique<State>()) {
    // The well-known accounts every NT machine resolves.
    s_->Add("S-1-5-18", "SYSTEM", "NT AUTHORITY", kSidTypeWellKnownGroup);
    s_->Add("S-1-5-19", "LOCAL SERVICE", "NT AUTHORITY", kSidTypeWellKnownGroup);
    s_->Add("S-1-5-20", "NETWORK SERVICE", "NT AUTHORITY", kSidTypeWellKnownGroup);
    s_->Add(kAdministratorsSid, "Administrators", "BUILTIN", kSidTypeAlias);

    // An ordinary interactive user's token: Everyone, Users, INTERACTIVE, Authenticated Users,
    // LOCAL, all mandatory, enabled by default and enabled (7).
    SetTokenGroups(
        {{"S-1-1-0", 7}, {"S-1-5-32-545", 7}, {"S-1-5-4", 7}, {"S-1-5-11", 7}, {"S-1-2-0", 7}});
    SetHeldPrivileges({sec::kBackupPrivilege, sec::kRestorePrivilege});
    SetTokenUser("S-1-5-18");
}

FakeSecurity::~FakeSecurity() = default;

// An unbound library fails the functions bound by name with 127, before they are counted or take
// a fault.
Win32Error FakeSecurity::Begin(SecOp op) {
    if (s_->unbound) return err::kProcNotFound;
    ++s_->calls[op];
    return TakeFault(op, {});
}

// --- setup ---

void FakeSecurity::AddAccount(std::string_view sidText, std::string_view name,
                              std::string_view domain) {
    s_->Add(sidText, std::string(name), std::string(domain), kSidTypeUser);
}

void FakeSecurity::SetUserName(std::string_view name) { s_->userName = std::string(name); }

void FakeSecurity::SetTokenUser(std::string_view sidText) {
    s_->tokenUser = {SidOrThrow(sidText), 0};
}

void FakeSecurity::SetTokenGroups(std::vector<std::pair<std::string, std::uint32_t>> groups) {
    std::vector<State::Group> out;
    for (const auto& g : groups) out.push_back({SidOrThrow(g.first), g.second});
    s_->groups = std::move(out);
}

void FakeSecurity::SetAdministrator(bool admin) {
    SetAdministrator(admin ? AdminGroup::kEnabled : AdminGroup::kAbsent);
}

void FakeSecurity::SetAdministrator(AdminGroup group) {
    const Bytes admin = SidOrThrow(kAdministratorsSid);
    auto& groups = s_->groups;
    groups.erase(std::remove_if(groups.begin(), groups.end(),
                                [&](const State::Group& g) { return g.sid == admin; }),
                 groups.end());
    if (group == AdminGroup::kAbsent) return;
    // A real token lists the alias after the first groups, not first or last: a walk that looks
    // at only one end of the list does not find it.
    groups.insert(groups.begin() + std::min<std::ptrdiff_t>(1, groups.size()),
                  {admin, group == AdminGroup::kEnabled ? 0xFu : sec::kGroupUseForDenyOnly});
}

void FakeSecurity::SetHeldPrivileges(std::vector<std::string> names) {
    std::map<Luid, bool> held;
    for (const std::string& name : names) {
        const Luid luid = PrivilegeLuid(name);
        if (luid == 0) throw std::invalid_argument("FakeSecurity: unknown privilege " + name);
        held[luid] = false;
    }
    s_->held = std::move(held);
}

void FakeSecurity::SetUnbound(bool unbound) { s_->unbound = unbound; }

void FakeSecurity::SetLookupCountsCharacters(bool characters) {
    s_->lookupCountsCharacters = characters;
}

// --- inspection ---

bool FakeSecurity::IsPrivilegeEnabled(std::string_view name) const {
    auto held = s_->held.find(PrivilegeLuid(name));
    return held != s_->held.end() && held->second;
}

std::size_t FakeSecurity::OpenTokenCount() const { return s_->openTokens.size(); }
std::size_t FakeSecurity::LiveSidCount() const { return s_->liveSids.size(); }
std::size_t FakeSecurity::BadFreeSidCount() const { return s_->badFrees; }
std::size_t FakeSecurity::SidLookupCount() const { return s_->calls[SecOp::kLookupSid]; }

std::vector<std::uint8_t> FakeSecurity::SidBytes(std::string_view sidText) {
    // S-1-<authority>-<sub>-...: the authority decimal (below 2^48) or 0x and 12 hex digits, at
    // most 15 sub-authorities.
    if (!text::EqualsNoCase(sidText.substr(0, 4), "S-1-")) return {};
    Bytes sid = {kSidRevision, 0, 0, 0, 0, 0, 0, 0};
    for (std::size_t start = 4, part = 0; start <= sidText.size(); ++part) {
        const std::size_t end = std::min(text::Find(sidText, '-', start), sidText.size());
        const std::string_view s = sidText.substr(start, end - start);
        start = end + 1;
        const bool hex = part == 0 && s.size() == 14 && text::EqualsNoCase(s.substr(0, 2), "0x");
        std::uint64_t value = 0;
        if (!ParseNumber(hex ? s.substr(2) : s, hex ? 16 : 10,
                         part == 0 ? (std::uint64_t{1} << 48) - 1 : 0xFFFFFFFFu, &value)) {
            return {};
        }
        // The authority is stored big-endian, the sub-authorities little-endian.
        if (part == 0) {
            for (int i = 0; i < 6; ++i) sid[2 + i] = std::uint8_t(value >> (8 * (5 - i)));
        } else {
            for (int b = 0; b < 4; ++b) sid.push_back(std::uint8_t(value >> (8 * b)));
        }
    }
    sid[1] = static_cast<std::uint8_t>((sid.size() - kSidHeaderBytes) / 4);
    if (sid.size() > kSidHeaderBytes + 4u * kSidMaxSubAuthorities) return {};
    return sid;
}

// --- ISecurity: SIDs ---

Win32Error FakeSecurity::AllocateAndInitializeSid(const SidIdentifierAuthority& authority,
                                                  std::uint8_t subAuthorityCount,
                                                  const std::uint32_t (&subAuthorities)[8],
                                                  Sid* sid) noexcept {
    if (Win32Error e = Begin(SecOp::kAllocate)) return e;
    if (sid == nullptr || subAuthorityCount == 0 || subAuthorityCount > 8) {
        return err::kInvalidParameter;
    }
    Bytes memory(kSidHeaderBytes + 4u * subAuthorityCount);
    memory[0] = kSidRevision;
    memory[1] = subAuthorityCount;
    std::memcpy(&memory[2], authority.value, 6);
    // The sub-authorities in the machine's byte order, as GetSidSubAuthority hands them out.
    std::memcpy(&memory[kSidHeaderBytes], subAuthorities, 4u * subAuthorityCount);
    *sid = memory.data();
    s_->liveSids.emplace(*sid, std::move(memory));
    return err::kSuccess;
}

void FakeSecurity::FreeSid(Sid sid) noexcept {
    if (s_->unbound || sid == nullptr) return;
    // Memory that did not come from AllocateAndInitializeSid (a lookup's buffer, a SID freed
    // twice) is heap corruption on Windows; here it is counted so that a test can see it.
    if (s_->liveSids.erase(sid) == 0) ++s_->badFrees;
}

bool FakeSecurity::IsValidSid(ConstSid sid) noexcept { return !s_->unbound && SidLength(sid) != 0; }

const SidIdentifierAuthority* FakeSecurity::GetSidIdentifierAuthority(ConstSid sid) noexcept {
    if (s_->unbound || sid == nullptr) return nullptr;
    return reinterpret_cast<const SidIdentifierAuthority*>(static_cast<const std::uint8_t*>(sid) +
                                                           2);
}

const std::uint8_t* FakeSecurity::GetSidSubAuthorityCount(ConstSid sid) noexcept {
    if (s_->unbound || sid == nullptr) return nullptr;
    return static_cast<const std::uint8_t*>(sid) + 1;
}

const std::uint32_t* FakeSecurity::GetSidSubAuthority(ConstSid sid, std::uint32_t index) noexcept {
    if (s_->unbound || sid == nullptr) return nullptr;
    // Windows does not check the index and hands out the address past the SID; the fake answers
    // null instead, so that a read beyond the count fails at once rather than reading garbage.
    if (index >= static_cast<const std::uint8_t*>(sid)[1]) return nullptr;
    return reinterpret_cast<const std::uint32_t*>(static_cast<const std::uint8_t*>(sid) +
                                                  kSidHeaderBytes + 4u * index);
}

bool FakeSecurity::EqualSid(ConstSid a, ConstSid b) noexcept {
    const std::size_t length = SidLength(a);
    return !s_->unbound && length != 0 && length == SidLength(b) && std::memcmp(a, b, length) == 0;
}

// --- ISecurity: account lookups ---

Win32Error FakeSecurity::LookupAccountSid(ConstSid sid, char* name, std::uint32_t* nameChars,
                                          char* domain, std::uint32_t* domainChars,
                                          std::uint32_t* use) noexcept {
    if (Win32Error e = Begin(SecOp::kLookupSid)) return e;
    if (nameChars == nullptr || domainChars == nullptr) return err::kInvalidParameter;
    if (SidLength(sid) == 0) return kInvalidSid;
    auto found = s_->accounts.find(std::string(static_cast<const char*>(sid), SidLength(sid)));
    if (found == s_->accounts.end()) return err::kNoneMapped;
    const State::Account& account = found->second;

    const auto size = [this](const std::string& s) {
        return static_cast<std::uint32_t>(s_->lookupCountsCharacters ? CharCount(s) : s.size()) + 1;
    };
    const std::uint32_t nameNeeded = size(account.name);
    const std::uint32_t domainNeeded = size(account.domain);
    if (name == nullptr || *nameChars < nameNeeded || domain == nullptr ||
        *domainChars < domainNeeded) {
        // Both sizes come back, whichever buffer was short, NUL included.
        *nameChars = nameNeeded;
        *domainChars = domainNeeded;
        return err::kInsufficientBuffer;
    }
    // Counted in bytes, the texts fit; counted in characters, they are cut to the buffers' bytes,
    // NUL included.
    const auto copy = [](const std::string& s, char* out, std::uint32_t bytes) {
        const std::size_t n = std::min<std::size_t>(s.size(), bytes - 1);
        std::memcpy(out, s.data(), n);
        out[n] = '\0';
    };
    copy(account.name, name, *nameChars);
    copy(account.domain, domain, *domainChars);
    // On success the lengths are those of the texts, without the NUL.
    *nameChars = nameNeeded - 1;
    *domainChars = domainNeeded - 1;
    if (use != nullptr) *use = account.use;
    return err::kSuccess;
}

// --- ISecurity: token and privileges ---

Win32Error FakeSecurity::LookupPrivilegeValue(const char* name, Luid* luid) noexcept {
    if (Win32Error e = Begin(SecOp::kLookupPrivilege)) return e;
    if (name == nullptr || luid == nullptr) return err::kInvalidParameter;
    const Luid value = PrivilegeLuid(name);
    if (value == 0) return kNoSuchPrivilege;
    *luid = value;
    return err::kSuccess;
}

Win32Error FakeSecurity::OpenProcessToken(std::uint32_t access, TokenHandle* token) noexcept {
    if (Win32Error e = Begin(SecOp::kOpenToken)) return e;
    if (token == nullptr) return err::kInvalidParameter;
    *token = s_->nextToken;
    s_->nextToken += 4;  // handle values are multiples of 4, as the system's are
    s_->openTokens[*token] = access;
    return err::kSuccess;
}

Win32Error FakeSecurity::GetTokenInformation(TokenHandle token, std::uint32_t infoClass,
                                             void* buffer, std::uint32_t length,
                                             std::uint32_t* returnLength) noexcept {
    if (s_->unbound) return err::kProcNotFound;
    if (returnLength == nullptr) return err::kInvalidParameter;
    // The Windows adapter hands back the length the system wrote: 0 when it wrote none.
    *returnLength = 0;
    const SecOp op = buffer == nullptr || length == 0 ? SecOp::kTokenInfoSize : SecOp::kTokenInfo;
    if (Win32Error e = TakeFault(op, {})) return e;
    if (Win32Error e = s_->CheckToken(token, sec::kTokenQuery)) return e;
    // The fake knows only the information classes the tool asks for.
    const bool user = infoClass == sec::kTokenUserClass;
    if (!user && infoClass != sec::kTokenGroupsClass) return err::kInvalidParameter;
    // Both answers are laid out as the system lays them out: the fixed part (TOKEN_GROUPS its
    // count, then the entries; TOKEN_USER its one entry), then the SIDs the entries point to, all
    // in the caller's buffer. SID sizes are multiples of 4 and the entries end on a pointer
    // boundary, so every SID is 4-byte aligned. A buffer too small for the whole answer gets
    // nothing, 122 and the size needed, also when it is null or empty. A token's user entry
    // carries no attributes.
    const std::vector<State::Group> entries = user ? std::vector{s_->tokenUser} : s_->groups;
    const std::size_t first = user ? offsetof(TokenUser, user) : offsetof(TokenGroups, groups);
    std::size_t sidAt = first + entries.size() * sizeof(SidAndAttributes);
    std::size_t needed = sidAt;
    for (const State::Group& entry : entries) needed += entry.sid.size();
    *returnLength = static_cast<std::uint32_t>(needed);
    if (buffer == nullptr || length < needed) return err::kInsufficientBuffer;

    auto* out = static_cast<std::uint8_t*>(buffer);
    if (!user) {
        const auto groupCount = static_cast<std::uint32_t>(entries.size());
        std::memcpy(out + offsetof(TokenGroups, groupCount), &groupCount, sizeof groupCount);
    }
    for (std::size_t i = 0; i < entries.size(); ++i) {
        std::memcpy(out + sidAt, entries[i].sid.data(), entries[i].sid.size());
        const SidAndAttributes entry{out + sidAt, entries[i].attributes};
        std::memcpy(out + first + i * sizeof entry, &entry, sizeof entry);
        sidAt += entries[i].sid.size();
    }
    return err::kSuccess;
}

Win32Error FakeSecurity::AdjustTokenPrivilege(TokenHandle token, Luid luid,
                                              std::uint32_t attributes) noexcept {
    if (Win32Error e = Begin(SecOp::kAdjust)) return e;
    if (Win32Error e = s_->CheckToken(token, sec::kTokenAdjustPrivileges)) return e;
    // The tool switches a privilege on or off: the fake does not imitate SE_PRIVILEGE_REMOVED (0x4)
    // and fails it.
    if ((attributes & 0x4) != 0) return err::kNotSupported;
    auto held = s_->held.find(luid);
    // A privilege the token does not hold: the system succeeds and only sets
    // ERROR_NOT_ALL_ASSIGNED as the last error; the token is left as it was.
    if (held != s_->held.end()) held->second = (attributes & sec::kPrivilegeEnabled) != 0;
    return err::kSuccess;
}

Win32Error FakeSecurity::CloseToken(TokenHandle token) noexcept {
    // CloseHandle lives in kernel32, so it works whether or not the security library bound.
    // A handle is gone once CloseHandle was called on it, even when the call reports an error.
    if (s_->openTokens.erase(token) == 0) return err::kInvalidHandle;
    return TakeFault(SecOp::kCloseToken, {});
}

Win32Error FakeSecurity::GetUserName(char* buffer, std::uint32_t* chars) noexcept {
    // GetUserNameA is imported in the ordinary way, not bound by name: an unbound security
    // library does not affect it. Its count includes the NUL, on success too.
    if (chars == nullptr) return err::kInvalidParameter;
    const auto needed = static_cast<std::uint32_t>(s_->userName.size() + 1);
    const bool fits = buffer != nullptr && *chars >= needed;
    if (fits) std::memcpy(buffer, s_->userName.c_str(), needed);
    *chars = needed;
    return fits ? err::kSuccess : err::kInsufficientBuffer;
}

}  // namespace qv::fake
