// Security port: the 13 advapi32 security functions the tool binds by name at run time, the
// user name of the running thread and the closing of a token handle. Methods take the arguments
// of the system function of the same name; a BOOL result becomes 0 for TRUE or the thread's last
// error for FALSE. On Windows the adapter resolves each function from the library handle that
// start-up loaded (kSecurityLibrary) on its first call; when that handle is null or the name is
// not exported, the call fails with err::kProcNotFound.
#pragma once
#include <cstdint>

#include "base/unique_handle.h"
#include "base/win32_codes.h"
#include "port/port.h"

namespace qv {

// The library of the security functions, which start-up loads.
inline constexpr char kSecurityLibrary[] = "Advapi32.dll";

// A SID in its stored form (revision, count, 6-byte authority, 32-bit sub-authorities).
using Sid = void*;
using ConstSid = const void*;
using TokenHandle = std::uintptr_t;  // 0 is none
using Luid = std::uint64_t;

struct SidIdentifierAuthority {
    std::uint8_t value[6];
};

// The layout that GetTokenInformation(TokenGroups) writes: a count, then that many entries.
struct SidAndAttributes {
    Sid sid;
    std::uint32_t attributes;
};
struct TokenGroups {
    std::uint32_t groupCount;
    SidAndAttributes groups[1];
};
// The layout that GetTokenInformation(TokenUser) writes: the entry of the token's user, whose SID
// the system stores in the same buffer after the entry.
struct TokenUser {
    SidAndAttributes user;
};

namespace sec {
inline constexpr std::uint32_t kTokenQuery = 0x0008;
inline constexpr std::uint32_t kTokenAdjustPrivileges = 0x0020;
inline constexpr std::uint32_t kTokenUserClass = 1;      // TOKEN_INFORMATION_CLASS TokenUser
inline constexpr std::uint32_t kTokenGroupsClass = 2;    // TOKEN_INFORMATION_CLASS TokenGroups
inline constexpr std::uint32_t kPrivilegeEnabled = 0x2;  // SE_PRIVILEGE_ENABLED
inline constexpr std::uint32_t kGroupEnabled = 0x4;      // SE_GROUP_ENABLED
// A group that only denies access: an administrator's token without elevation under UAC lists
// Administrators so.
inline constexpr std::uint32_t kGroupUseForDenyOnly = 0x10;  // SE_GROUP_USE_FOR_DENY_ONLY
inline constexpr char kRestorePrivilege[] = "SeRestorePrivilege";
inline constexpr char kBackupPrivilege[] = "SeBackupPrivilege";
}  // namespace sec

class ISecurity : public Port {
  public:
    [[nodiscard]] virtual Win32Error AllocateAndInitializeSid(
        const SidIdentifierAuthority& authority, std::uint8_t subAuthorityCount,
        const std::uint32_t (&subAuthorities)[8], Sid* sid) noexcept = 0;
    virtual void FreeSid(Sid sid) noexcept = 0;
    [[nodiscard]] virtual bool IsValidSid(ConstSid sid) noexcept = 0;
    virtual const SidIdentifierAuthority* GetSidIdentifierAuthority(ConstSid sid) noexcept = 0;
    virtual const std::uint8_t* GetSidSubAuthorityCount(ConstSid sid) noexcept = 0;
    virtual const std::uint32_t* GetSidSubAuthority(ConstSid sid, std::uint32_t index) noexcept = 0;
    [[nodiscard]] virtual bool EqualSid(ConstSid a, ConstSid b) noexcept = 0;
    // LookupAccountSidA on the local system. Lengths are in characters; on entry the buffers'
    // sizes, on a too small buffer (err::kInsufficientBuffer) the sizes needed, NUL included.
    [[nodiscard]] virtual Win32Error LookupAccountSid(ConstSid sid, char* name,
                                                      std::uint32_t* nameChars, char* domain,
                                                      std::uint32_t* domainChars,
                                                      std::uint32_t* use) noexcept = 0;
    [[nodiscard]] virtual Win32Error LookupPrivilegeValue(const char* name,
                                                          Luid* luid) noexcept = 0;
    // OpenProcessToken on the current process.
    [[nodiscard]] virtual Win32Error OpenProcessToken(std::uint32_t access,
                                                      TokenHandle* token) noexcept = 0;
    [[nodiscard]] virtual Win32Error GetTokenInformation(TokenHandle token, std::uint32_t infoClass,
                                                         void* buffer, std::uint32_t length,
                                                         std::uint32_t* returnLength) noexcept = 0;
    // AdjustTokenPrivileges with a one-entry TOKEN_PRIVILEGES, no previous state. Returns 0 also
    // when the token does not hold the privilege (the system's TRUE with ERROR_NOT_ALL_ASSIGNED).
    [[nodiscard]] virtual Win32Error AdjustTokenPrivilege(TokenHandle token, Luid luid,
                                                          std::uint32_t attributes) noexcept = 0;
    // CloseHandle on a token.
    [[nodiscard]] virtual Win32Error CloseToken(TokenHandle token) noexcept = 0;
    // GetUserNameA; *chars in/out as the system's pcbBuffer.
    [[nodiscard]] virtual Win32Error GetUserName(char* buffer, std::uint32_t* chars) noexcept = 0;
};

// A process token of OpenProcessToken, closed with CloseToken.
using UniqueToken = UniqueHandle<TokenHandle, &ISecurity::CloseToken>;
// A SID made by AllocateAndInitializeSid, released with FreeSid.
using UniqueSid = UniqueHandle<Sid, &ISecurity::FreeSid>;

}  // namespace qv
