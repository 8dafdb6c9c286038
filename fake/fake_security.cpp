#include "fake/fake_security.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <map>
#include <set>
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

constexpr std::uint32_t kSePrivilegeRemoved = 0x4;  // SE_PRIVILEGE_REMOVED

using Bytes = std::vector<std::uint8_t>;

// The privileges the tool and its tests name, with the system's fixed LUIDs (winnt.h,
// SE_TCB_PRIVILEGE 7, SE_BACKUP_PRIVILEGE 17, SE_RESTORE_PRIVILEGE 18, SE_SHUTDOWN_PRIVILEGE 19;
// the same on every NT machine); any other name is no privilege here (1313).
struct PrivilegeName {
    const char* name;
    Luid luid;
};
constexpr PrivilegeName kPrivileges[] = {
    {"SeTcbPrivilege", 7},
    {"SeBackupPrivilege", 17},
    {"SeRestorePrivilege", 18},
    {"SeShutdownPrivilege", 19},
};

const PrivilegeName* FindPrivilege(std::string_view name) {
    for (const PrivilegeName& p : kPrivileges) {
        if (text::EqualsNoCase(name, p.name)) return &p;
    }
    return nullptr;
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
        const char lower = static_cast<char>(c | 0x20);
        const std::uint64_t digit = c >= '0' && c <= '9'           ? std::uint64_t(c - '0')
                                    : lower >= 'a' && lower <= 'f' ? std::uint64_t(lower - 'a' + 10)
                                                                   : 99;
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

// Copies `s` and its NUL into a caller's buffer that was checked to be large enough.
void CopyText(const std::string& s, char* out) { std::memcpy(out, s.c_str(), s.size() + 1); }

const char kAdministratorsSid[] = "S-1-5-32-544";

// A SID's stored form as the index holds it.
std::string SidKey(const void* sid, std::size_t length) {
    return std::string(static_cast<const char*>(sid), length);
}

}  // namespace

struct FakeSecurity::State {
    struct Account {
        Bytes sid;
        std::string name;
        std::string domain;
        std::uint32_t use;
    };
    struct Group {
        Bytes sid;
        std::uint32_t attributes;
    };
    struct Privilege {
        Luid luid;
        bool enabled;
    };

    std::vector<Account> accounts;  // in the order added
    // A machine has an account per profile and the tool looks up every profile's, so lookups
    // go through indexes instead of walking the accounts: by SID (the first account added with
    // it), and by folded name (every account of that name, in the order added).
    std::unordered_map<std::string, std::size_t> bySid;
    std::unordered_map<std::string, std::vector<std::size_t>> byName;
    std::string userName = "operator";
    Group tokenUser;  // its attributes are none
    std::vector<Group> groups;
    std::vector<Privilege> held;  // privileges of the process token

    // SIDs handed out by AllocateAndInitializeSid and not yet freed; each owns its memory.
    std::map<const void*, std::unique_ptr<std::uint8_t[]>> liveSids;
    std::size_t badFrees = 0;

    std::map<TokenHandle, std::uint32_t> openTokens;  // handle -> access granted
    TokenHandle nextToken = 0x1A4;

    bool unbound = false;
    bool lookupCountsCharacters = false;
    std::size_t sidLookups = 0;  // LookupAccountSid calls

    void Add(Account account) {
        std::size_t at = accounts.size();
        bySid.emplace(SidKey(account.sid.data(), account.sid.size()), at);
        byName[text::FoldCase(account.name)].push_back(at);
        accounts.push_back(std::move(account));
    }

    Privilege* Held(Luid luid) {
        for (Privilege& p : held) {
            if (p.luid == luid) return &p;
        }
        return nullptr;
    }
};

FakeSecurity::FakeSecurity() : s_(std::make_unique<State>()) {
    // The well-known accounts every NT machine resolves.
    s_->Add({SidOrThrow("S-1-5-18"), "SYSTEM", "NT AUTHORITY", kSidTypeWellKnownGroup});
    s_->Add({SidOrThrow("S-1-5-19"), "LOCAL SERVICE", "NT AUTHORITY", kSidTypeWellKnownGroup});
    s_->Add({SidOrThrow("S-1-5-20"), "NETWORK SERVICE", "NT AUTHORITY", kSidTypeWellKnownGroup});
    s_->Add({SidOrThrow(kAdministratorsSid), "Administrators", "BUILTIN", kSidTypeAlias});

    // An ordinary interactive user's token: Everyone, Users, INTERACTIVE, Authenticated Users,
    // LOCAL, all mandatory, enabled by default and enabled (7).
    SetTokenGroups(
        {{"S-1-1-0", 7}, {"S-1-5-32-545", 7}, {"S-1-5-4", 7}, {"S-1-5-11", 7}, {"S-1-2-0", 7}});
    SetHeldPrivileges({sec::kBackupPrivilege, sec::kRestorePrivilege});
    SetTokenUser("S-1-5-18");
}

FakeSecurity::~FakeSecurity() = default;

// --- setup ---

void FakeSecurity::AddAccount(std::string_view sidText, std::string_view name,
                              std::string_view domain) {
    s_->Add({SidOrThrow(sidText), std::string(name), std::string(domain), kSidTypeUser});
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
    Bytes adminSid = SidOrThrow(kAdministratorsSid);
    auto& groups = s_->groups;
    groups.erase(std::remove_if(groups.begin(), groups.end(),
                                [&](const State::Group& g) { return g.sid == adminSid; }),
                 groups.end());
    if (group != AdminGroup::kAbsent) {
        // A real token lists the alias after the first groups, not first or last: a walk that
        // looks at only one end of the list does not find it.
        std::size_t at = std::min<std::size_t>(1, groups.size());
        const std::uint32_t attributes =
            group == AdminGroup::kEnabled ? 0xFu : sec::kGroupUseForDenyOnly;
        groups.insert(groups.begin() + static_cast<std::ptrdiff_t>(at), {adminSid, attributes});
    }
}

void FakeSecurity::SetHeldPrivileges(std::vector<std::string> names) {
    std::vector<State::Privilege> held;
    for (const std::string& name : names) {
        const PrivilegeName* p = FindPrivilege(name);
        if (p == nullptr) throw std::invalid_argument("FakeSecurity: unknown privilege " + name);
        held.push_back({p->luid, false});
    }
    s_->held = std::move(held);
}

void FakeSecurity::SetUnbound(bool unbound) { s_->unbound = unbound; }

void FakeSecurity::SetLookupCountsCharacters(bool characters) {
    s_->lookupCountsCharacters = characters;
}

// --- inspection ---

bool FakeSecurity::IsPrivilegeEnabled(std::string_view name) const {
    const PrivilegeName* p = FindPrivilege(name);
    if (p == nullptr) return false;
    const State::Privilege* held = s_->Held(p->luid);
    return held != nullptr && held->enabled;
}

std::size_t FakeSecurity::OpenTokenCount() const { return s_->openTokens.size(); }
std::size_t FakeSecurity::LiveSidCount() const { return s_->liveSids.size(); }
std::size_t FakeSecurity::BadFreeSidCount() const { return s_->badFrees; }
std::size_t FakeSecurity::SidLookupCount() const { return s_->sidLookups; }

std::vector<std::uint8_t> FakeSecurity::SidBytes(std::string_view sidText) {
    // S-1-<authority>-<sub>-...: authority decimal (below 2^48) or 0x and 12 hex digits.
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    while (true) {
        std::size_t dash = text::Find(sidText, '-', start);
        parts.push_back(sidText.substr(start, dash == text::npos ? text::npos : dash - start));
        if (dash == text::npos) break;
        start = dash + 1;
    }
    if (parts.size() < 3 || parts.size() - 3 > kSidMaxSubAuthorities) return {};
    if (parts[0] != "S" && parts[0] != "s") return {};
    if (parts[1] != "1") return {};

    std::uint64_t authority = 0;
    constexpr std::uint64_t kMaxAuthority = (std::uint64_t{1} << 48) - 1;
    std::string_view a = parts[2];
    if (a.size() > 2 && a[0] == '0' && (a[1] == 'x' || a[1] == 'X')) {
        if (a.size() != 14 || !ParseNumber(a.substr(2), 16, kMaxAuthority, &authority)) return {};
    } else if (!ParseNumber(a, 10, kMaxAuthority, &authority)) {
        return {};
    }

    Bytes sid(kSidHeaderBytes + 4 * (parts.size() - 3));
    sid[0] = kSidRevision;
    sid[1] = static_cast<std::uint8_t>(parts.size() - 3);
    for (int i = 0; i < 6; ++i) sid[2 + i] = static_cast<std::uint8_t>(authority >> (8 * (5 - i)));
    for (std::size_t i = 3; i < parts.size(); ++i) {
        std::uint64_t sub = 0;
        if (!ParseNumber(parts[i], 10, 0xFFFFFFFFu, &sub)) return {};
        std::size_t at = kSidHeaderBytes + 4 * (i - 3);
        for (int b = 0; b < 4; ++b) sid[at + b] = static_cast<std::uint8_t>(sub >> (8 * b));
    }
    return sid;
}

// --- ISecurity: SIDs ---

Win32Error FakeSecurity::AllocateAndInitializeSid(const SidIdentifierAuthority& authority,
                                                  std::uint8_t subAuthorityCount,
                                                  const std::uint32_t (&subAuthorities)[8],
                                                  Sid* sid) noexcept {
    if (s_->unbound) return err::kProcNotFound;
    if (Win32Error e = TakeFault(SecOp::kAllocate, {})) return e;
    if (sid == nullptr || subAuthorityCount == 0 || subAuthorityCount > 8) {
        return err::kInvalidParameter;
    }
    std::size_t length = kSidHeaderBytes + 4u * subAuthorityCount;
    auto memory = std::make_unique<std::uint8_t[]>(length);
    memory[0] = kSidRevision;
    memory[1] = subAuthorityCount;
    std::memcpy(&memory[2], authority.value, 6);
    for (std::size_t i = 0; i < subAuthorityCount; ++i) {
        for (int b = 0; b < 4; ++b) {
            memory[kSidHeaderBytes + 4 * i + b] =
                static_cast<std::uint8_t>(subAuthorities[i] >> (8 * b));
        }
    }
    *sid = memory.get();
    s_->liveSids.emplace(memory.get(), std::move(memory));
    return err::kSuccess;
}

void FakeSecurity::FreeSid(Sid sid) noexcept {
    if (s_->unbound || sid == nullptr) return;
    // Memory that did not come from AllocateAndInitializeSid (a lookup's buffer, a SID freed
    // twice) is heap corruption on Windows; here it is counted so that a test can see it.
    if (s_->liveSids.erase(sid) == 0) ++s_->badFrees;
}

bool FakeSecurity::IsValidSid(ConstSid sid) noexcept {
    if (s_->unbound) return false;
    return SidLength(sid) != 0;
}

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
    if (s_->unbound) return false;
    std::size_t la = SidLength(a);
    std::size_t lb = SidLength(b);
    return la != 0 && la == lb && std::memcmp(a, b, la) == 0;
}

// --- ISecurity: account lookups ---

Win32Error FakeSecurity::LookupAccountSid(ConstSid sid, char* name, std::uint32_t* nameChars,
                                          char* domain, std::uint32_t* domainChars,
                                          std::uint32_t* use) noexcept {
    if (s_->unbound) return err::kProcNotFound;
    ++s_->sidLookups;
    if (Win32Error e = TakeFault(SecOp::kLookupSid, {})) return e;
    if (nameChars == nullptr || domainChars == nullptr) return err::kInvalidParameter;
    if (SidLength(sid) == 0) return kInvalidSid;

    auto entry = s_->bySid.find(SidKey(sid, SidLength(sid)));
    if (entry == s_->bySid.end()) return err::kNoneMapped;
    const State::Account* found = &s_->accounts[entry->second];

    const auto size = [this](const std::string& s) {
        return static_cast<std::uint32_t>((s_->lookupCountsCharacters ? CharCount(s) : s.size()) +
                                          1);
    };
    auto nameNeeded = size(found->name);
    auto domainNeeded = size(found->domain);
    if (name == nullptr || *nameChars < nameNeeded || domain == nullptr ||
        *domainChars < domainNeeded) {
        // Both sizes come back, whichever buffer was short, NUL included.
        *nameChars = nameNeeded;
        *domainChars = domainNeeded;
        return err::kInsufficientBuffer;
    }
    if (s_->lookupCountsCharacters) {
        // Cut to the buffer's bytes, NUL included.
        const auto cut = [](const std::string& s, char* out, std::uint32_t bytes) {
            const std::size_t n = std::min<std::size_t>(s.size(), bytes - 1);
            std::memcpy(out, s.data(), n);
            out[n] = '\0';
        };
        cut(found->name, name, *nameChars);
        cut(found->domain, domain, *domainChars);
    } else {
        CopyText(found->name, name);
        CopyText(found->domain, domain);
    }
    // On success the lengths are those of the texts, without the NUL.
    *nameChars = nameNeeded - 1;
    *domainChars = domainNeeded - 1;
    if (use != nullptr) *use = found->use;
    return err::kSuccess;
}

Win32Error FakeSecurity::LookupAccountName(const char* accountName, Sid sid,
                                           std::uint32_t* sidBytes, char* domain,
                                           std::uint32_t* domainChars,
                                           std::uint32_t* use) noexcept {
    if (s_->unbound) return err::kProcNotFound;
    if (Win32Error e = TakeFault(SecOp::kLookupName, {})) return e;
    if (accountName == nullptr || sidBytes == nullptr || domainChars == nullptr) {
        return err::kInvalidParameter;
    }

    // "DOMAIN\name" restricts the search to that domain; a bare name takes the first account of
    // that name, in the order the system resolves them.
    std::string_view full(accountName);
    std::string_view wantDomain;
    std::string_view wantName = full;
    std::size_t slash = text::Find(full, '\\');
    bool qualified = slash != text::npos;
    if (qualified) {
        wantDomain = full.substr(0, slash);
        wantName = full.substr(slash + 1);
    }
    const State::Account* found = nullptr;
    auto named = s_->byName.find(text::FoldCase(wantName));
    if (named != s_->byName.end()) {
        for (std::size_t at : named->second) {
            const State::Account& a = s_->accounts[at];
            if (!qualified || text::EqualsNoCase(a.domain, wantDomain)) {
                found = &a;
                break;
            }
        }
    }
    if (found == nullptr) return err::kNoneMapped;

    auto sidNeeded = static_cast<std::uint32_t>(found->sid.size());
    auto domainNeeded = static_cast<std::uint32_t>(found->domain.size() + 1);
    if (sid == nullptr || *sidBytes < sidNeeded || domain == nullptr ||
        *domainChars < domainNeeded) {
        *sidBytes = sidNeeded;
        *domainChars = domainNeeded;
        return err::kInsufficientBuffer;
    }
    std::memcpy(sid, found->sid.data(), found->sid.size());
    CopyText(found->domain, domain);
    *sidBytes = sidNeeded;
    *domainChars = domainNeeded - 1;
    if (use != nullptr) *use = found->use;
    return err::kSuccess;
}

// --- ISecurity: token and privileges ---

Win32Error FakeSecurity::LookupPrivilegeValue(const char* name, Luid* luid) noexcept {
    if (s_->unbound) return err::kProcNotFound;
    if (Win32Error e = TakeFault(SecOp::kLookupPrivilege, {})) return e;
    if (name == nullptr || luid == nullptr) return err::kInvalidParameter;
    const PrivilegeName* p = FindPrivilege(std::string_view(name));
    if (p == nullptr) return kNoSuchPrivilege;
    *luid = p->luid;
    return err::kSuccess;
}

Win32Error FakeSecurity::OpenProcessToken(std::uint32_t access, TokenHandle* token) noexcept {
    if (s_->unbound) return err::kProcNotFound;
    if (Win32Error e = TakeFault(SecOp::kOpenToken, {})) return e;
    if (token == nullptr) return err::kInvalidParameter;
    TokenHandle h = s_->nextToken;
    s_->nextToken += 4;  // handle values are multiples of 4, as the system's are
    s_->openTokens[h] = access;
    *token = h;
    return err::kSuccess;
}

Win32Error FakeSecurity::GetTokenInformation(TokenHandle token, std::uint32_t infoClass,
                                             void* buffer, std::uint32_t length,
                                             std::uint32_t* returnLength) noexcept {
    if (s_->unbound) return err::kProcNotFound;
    bool sizeOnly = buffer == nullptr || length == 0;
    if (Win32Error e = TakeFault(sizeOnly ? SecOp::kTokenInfoSize : SecOp::kTokenInfo, {})) {
        if (sizeOnly && returnLength != nullptr) *returnLength = 0;
        return e;
    }
    auto open = s_->openTokens.find(token);
    if (open == s_->openTokens.end()) return err::kInvalidHandle;
    if ((open->second & sec::kTokenQuery) == 0) return err::kAccessDenied;
    if (returnLength == nullptr) return err::kInvalidParameter;
    // The fake knows only the information classes the tool asks for.
    const bool user = infoClass == sec::kTokenUserClass;
    if (!user && infoClass != sec::kTokenGroupsClass) return err::kInvalidParameter;
    // Both answers are laid out as the system lays them out: the fixed part, then the SIDs its
    // entries point to, all in the caller's buffer. SID sizes are multiples of 4 and the entries
    // end on a pointer boundary, so every SID is 4-byte aligned. A buffer too small for the whole
    // answer gets nothing, 122 and the size needed, also when it is null or empty. A token's user
    // entry carries no attributes.
    const State::Group* entries = user ? &s_->tokenUser : s_->groups.data();
    const std::size_t count = user ? 1 : s_->groups.size();
    const std::size_t firstEntry = user ? offsetof(TokenUser, user) : offsetof(TokenGroups, groups);
    const std::size_t header =
        user ? sizeof(TokenUser) : firstEntry + count * sizeof(SidAndAttributes);
    std::size_t needed = header;
    for (std::size_t i = 0; i < count; ++i) needed += entries[i].sid.size();
    *returnLength = static_cast<std::uint32_t>(needed);
    if (buffer == nullptr || length < needed) return err::kInsufficientBuffer;

    auto* out = static_cast<std::uint8_t*>(buffer);
    if (!user) {
        const auto groupCount = static_cast<std::uint32_t>(count);
        std::memcpy(out + offsetof(TokenGroups, groupCount), &groupCount, sizeof groupCount);
    }
    std::size_t sidAt = header;
    for (std::size_t i = 0; i < count; ++i) {
        std::memcpy(out + sidAt, entries[i].sid.data(), entries[i].sid.size());
        const SidAndAttributes entry{out + sidAt, entries[i].attributes};
        std::memcpy(out + firstEntry + i * sizeof(SidAndAttributes), &entry, sizeof entry);
        sidAt += entries[i].sid.size();
    }
    return err::kSuccess;
}

Win32Error FakeSecurity::AdjustTokenPrivilege(TokenHandle token, bool disableAll, Luid luid,
                                              std::uint32_t attributes) noexcept {
    if (s_->unbound) return err::kProcNotFound;
    if (Win32Error e = TakeFault(SecOp::kAdjust, {})) return e;
    auto open = s_->openTokens.find(token);
    if (open == s_->openTokens.end()) return err::kInvalidHandle;
    if ((open->second & sec::kTokenAdjustPrivileges) == 0) return err::kAccessDenied;

    if (disableAll) {
        for (State::Privilege& p : s_->held) p.enabled = false;
        return err::kSuccess;
    }
    State::Privilege* held = s_->Held(luid);
    if (held == nullptr) {
        // The system succeeds and only sets ERROR_NOT_ALL_ASSIGNED as the last error; the token
        // is left as it was.
        return err::kSuccess;
    }
    if ((attributes & kSePrivilegeRemoved) != 0) {
        s_->held.erase(s_->held.begin() + (held - s_->held.data()));
    } else {
        held->enabled = (attributes & sec::kPrivilegeEnabled) != 0;
    }
    return err::kSuccess;
}

Win32Error FakeSecurity::CloseToken(TokenHandle token) noexcept {
    // CloseHandle lives in kernel32, so it works whether or not the security library bound.
    auto open = s_->openTokens.find(token);
    if (open == s_->openTokens.end()) return err::kInvalidHandle;
    // A handle is gone once CloseHandle was called on it, even when the call reports an error.
    s_->openTokens.erase(open);
    if (Win32Error e = TakeFault(SecOp::kCloseToken, {})) return e;
    return err::kSuccess;
}

Win32Error FakeSecurity::GetUserName(char* buffer, std::uint32_t* chars) noexcept {
    // GetUserNameA is imported in the ordinary way, not bound by name: an unbound security
    // library does not affect it.
    if (Win32Error e = TakeFault(SecOp::kGetUserName, {})) return e;
    if (chars == nullptr) return err::kInvalidParameter;
    auto needed = static_cast<std::uint32_t>(s_->userName.size() + 1);
    if (buffer == nullptr || *chars < needed) {
        *chars = needed;
        return err::kInsufficientBuffer;
    }
    CopyText(s_->userName, buffer);
    *chars = needed;  // on success the count includes the NUL
    return err::kSuccess;
}

}  // namespace qv::fake
