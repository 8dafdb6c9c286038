#include "security/token.h"

#include <cstddef>
#include <memory>
#include <new>
#include <string>

#include "app/messages.h"
#include "security/sid_text.h"

namespace qv {
namespace {

// The NT authority and the two sub-authorities of the built-in Administrators alias,
// S-1-5-32-544.
constexpr SidIdentifierAuthority kNtAuthority = {{0, 0, 0, 0, 0, 5}};
constexpr std::uint32_t kBuiltinDomainRid = 32;
constexpr std::uint32_t kAliasRidAdmins = 544;

}  // namespace

bool IsMemberOfAdministrators(Platform& os) {
    ISecurity& security = os.security;
    UniqueToken token(security);
    if (security.OpenProcessToken(sec::kTokenQuery, token.put()) != err::kSuccess) return false;

    // The first call only learns the length; it fails by design for want of a buffer.
    std::uint32_t length = 0;
    (void)security.GetTokenInformation(token.get(), sec::kTokenGroupsClass, nullptr, 0, &length);
    if (length == 0) return false;

    // Zero-filled and aligned for the pointers of the group entries.
    const std::size_t words = (length + sizeof(std::uint64_t) - 1) / sizeof(std::uint64_t);
    std::unique_ptr<std::uint64_t[]> buffer(new (std::nothrow) std::uint64_t[words]());
    if (!buffer) return false;

    std::uint32_t written = 0;
    const Win32Error e = security.GetTokenInformation(token.get(), sec::kTokenGroupsClass,
                                                      buffer.get(), length, &written);
    if (e != err::kSuccess) {
        // The one failure of the check that the operator sees: the answer would otherwise be a
        // silent "not an administrator".
        ShowSystemError(os, e, "GetTokenInformation");
        return false;
    }

    const std::uint32_t subs[8] = {kBuiltinDomainRid, kAliasRidAdmins};
    UniqueSid administrators(security);
    if (security.AllocateAndInitializeSid(kNtAuthority, 2, subs, administrators.put()) !=
        err::kSuccess) {
        return false;
    }

    // Walk only the entries that lie inside the buffer, whatever count the record claims.
    const auto* groups = reinterpret_cast<const TokenGroups*>(buffer.get());
    const std::size_t header = offsetof(TokenGroups, groups);
    const std::size_t room = length >= header ? (length - header) / sizeof(SidAndAttributes) : 0;
    const std::size_t count = groups->groupCount < room ? groups->groupCount : room;
    const SidAndAttributes* entries = groups->groups;
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint32_t attributes = entries[i].attributes;
        if ((attributes & sec::kGroupEnabled) == 0 ||
            (attributes & sec::kGroupUseForDenyOnly) != 0) {
            continue;
        }
        if (entries[i].sid != nullptr && security.EqualSid(entries[i].sid, administrators.get())) {
            return true;
        }
    }
    return false;
}

bool AdjustNamedPrivilege(ISecurity& security, bool enable, std::string_view privilegeName) {
    UniqueToken token(security);
    if (security.OpenProcessToken(sec::kTokenAdjustPrivileges | sec::kTokenQuery, token.put()) !=
        err::kSuccess) {
        return false;
    }

    const std::string name(privilegeName);
    Luid luid = 0;
    if (security.LookupPrivilegeValue(name.c_str(), &luid) != err::kSuccess) return false;

    // A token that does not hold the privilege still answers success; the hive load that needs it
    // is where that shows.
    if (security.AdjustTokenPrivilege(token.get(), luid, enable ? sec::kPrivilegeEnabled : 0u) !=
        err::kSuccess) {
        return false;
    }
    return token.close() == err::kSuccess;
}

}  // namespace qv
