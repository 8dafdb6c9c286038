#include "win32/win32_security.h"

#include <array>
#include <cstddef>
#include <cstring>

namespace qv::win32 {
namespace {

// The bound functions, in the order of their names below.
enum Entry {
    kGetSidIdentifierAuthority,
    kGetSidSubAuthorityCount,
    kGetSidSubAuthority,
    kIsValidSid,
    kEqualSid,
    kFreeSid,
    kAllocateAndInitializeSid,
    kLookupAccountSidA,
    kAdjustTokenPrivileges,
    kLookupPrivilegeValueA,
    kOpenProcessToken,
    kGetTokenInformation,
    kEntryCount
};

// Exported names, in the order of Entry.
constexpr const char* kEntryNames[kEntryCount] = {
    "GetSidIdentifierAuthority",
    "GetSidSubAuthorityCount",
    "GetSidSubAuthority",
    "IsValidSid",
    "EqualSid",
    "FreeSid",
    "AllocateAndInitializeSid",
    "LookupAccountSidA",
    "AdjustTokenPrivileges",
    "LookupPrivilegeValueA",
    "OpenProcessToken",
    "GetTokenInformation",
};

// The port's records have the system's layout, so the system writes them directly.
static_assert(sizeof(SidIdentifierAuthority) == sizeof(SID_IDENTIFIER_AUTHORITY));
static_assert(sizeof(DWORD) == sizeof(std::uint32_t));
static_assert(sizeof(SidAndAttributes) == sizeof(SID_AND_ATTRIBUTES));
static_assert(offsetof(SidAndAttributes, attributes) == offsetof(SID_AND_ATTRIBUTES, Attributes));
static_assert(offsetof(TokenGroups, groups) == offsetof(TOKEN_GROUPS, Groups));
static_assert(sizeof(qv::TokenUser) == sizeof(TOKEN_USER));
static_assert(sec::kTokenUserClass == ::TokenUser && sec::kTokenGroupsClass == ::TokenGroups);

[[nodiscard]] Win32Error Result(BOOL ok) noexcept { return ok ? err::kSuccess : ::GetLastError(); }

PSID Mutable(ConstSid sid) noexcept { return const_cast<void*>(sid); }
HANDLE ToSystemToken(TokenHandle token) noexcept { return reinterpret_cast<HANDLE>(token); }

LUID ToSystemLuid(Luid luid) noexcept {
    LUID out;
    out.LowPart = static_cast<DWORD>(luid & 0xFFFFFFFFu);
    out.HighPart = static_cast<LONG>(luid >> 32);
    return out;
}

// Runs an account lookup with the caller's two lengths (the name's or the SID's, then the domain's)
// and gives them back: on success and, with the sizes needed, on a too small buffer. The kind of
// account comes back on success.
template <typename Lookup>
[[nodiscard]] Win32Error LookupWithLengths(std::uint32_t* length, std::uint32_t* domainChars,
                                           std::uint32_t* use, Lookup lookup) noexcept {
    DWORD firstLength = *length;
    DWORD domainLength = *domainChars;
    SID_NAME_USE kind = SidTypeUnknown;
    BOOL ok = lookup(&firstLength, &domainLength, &kind);
    Win32Error e = Result(ok);
    *length = firstLength;
    *domainChars = domainLength;
    if (ok && use != nullptr) *use = static_cast<std::uint32_t>(kind);
    return e;
}

class Win32Security final : public ISecurity {
  public:
    // `advapi32` is the application's library handle; it is read at each call that still has to
    // bind its function, so it may be loaded after this object exists.
    explicit Win32Security(const ModuleHandle& advapi32) noexcept : advapi32_(advapi32) {}

    [[nodiscard]] Win32Error AllocateAndInitializeSid(const SidIdentifierAuthority& authority,
                                                      std::uint8_t subAuthorityCount,
                                                      const std::uint32_t (&subAuthorities)[8],
                                                      Sid* sid) noexcept override {
        auto allocate = Bound<decltype(&::AllocateAndInitializeSid)>(kAllocateAndInitializeSid);
        if (allocate == nullptr) return err::kProcNotFound;
        SID_IDENTIFIER_AUTHORITY systemAuthority;
        std::memcpy(systemAuthority.Value, authority.value, sizeof systemAuthority.Value);
        PSID made = nullptr;
        BOOL ok =
            allocate(&systemAuthority, subAuthorityCount, subAuthorities[0], subAuthorities[1],
                     subAuthorities[2], subAuthorities[3], subAuthorities[4], subAuthorities[5],
                     subAuthorities[6], subAuthorities[7], &made);
        if (!ok) return ::GetLastError();
        *sid = made;
        return err::kSuccess;
    }

    void FreeSid(Sid sid) noexcept override {
        auto free = Bound<decltype(&::FreeSid)>(kFreeSid);
        if (free != nullptr && sid != nullptr) free(sid);
    }

    [[nodiscard]] bool IsValidSid(ConstSid sid) noexcept override {
        auto isValid = Bound<decltype(&::IsValidSid)>(kIsValidSid);
        return isValid != nullptr && sid != nullptr && isValid(Mutable(sid));
    }

    const SidIdentifierAuthority* GetSidIdentifierAuthority(ConstSid sid) noexcept override {
        auto get = Bound<decltype(&::GetSidIdentifierAuthority)>(kGetSidIdentifierAuthority);
        if (get == nullptr || sid == nullptr) return nullptr;
        return reinterpret_cast<const SidIdentifierAuthority*>(get(Mutable(sid)));
    }

    const std::uint8_t* GetSidSubAuthorityCount(ConstSid sid) noexcept override {
        auto get = Bound<decltype(&::GetSidSubAuthorityCount)>(kGetSidSubAuthorityCount);
        if (get == nullptr || sid == nullptr) return nullptr;
        return get(Mutable(sid));
    }

    const std::uint32_t* GetSidSubAuthority(ConstSid sid, std::uint32_t index) noexcept override {
        auto get = Bound<decltype(&::GetSidSubAuthority)>(kGetSidSubAuthority);
        if (get == nullptr || sid == nullptr) return nullptr;
        return reinterpret_cast<const std::uint32_t*>(get(Mutable(sid), index));
    }

    [[nodiscard]] bool EqualSid(ConstSid a, ConstSid b) noexcept override {
        auto equal = Bound<decltype(&::EqualSid)>(kEqualSid);
        return equal != nullptr && a != nullptr && b != nullptr && equal(Mutable(a), Mutable(b));
    }

    [[nodiscard]] Win32Error LookupAccountSid(ConstSid sid, char* name, std::uint32_t* nameChars,
                                              char* domain, std::uint32_t* domainChars,
                                              std::uint32_t* use) noexcept override {
        auto lookup = Bound<decltype(&::LookupAccountSidA)>(kLookupAccountSidA);
        if (lookup == nullptr) return err::kProcNotFound;
        return LookupWithLengths(nameChars, domainChars, use,
                                 [&](DWORD* nameLength, DWORD* domainLength, SID_NAME_USE* kind) {
                                     return lookup(nullptr, Mutable(sid), name, nameLength, domain,
                                                   domainLength, kind);
                                 });
    }

    [[nodiscard]] Win32Error LookupPrivilegeValue(const char* name, Luid* luid) noexcept override {
        auto lookup = Bound<decltype(&::LookupPrivilegeValueA)>(kLookupPrivilegeValueA);
        if (lookup == nullptr) return err::kProcNotFound;
        LUID value{};
        if (!lookup(nullptr, name, &value)) return ::GetLastError();
        *luid = (static_cast<Luid>(static_cast<DWORD>(value.HighPart)) << 32) | value.LowPart;
        return err::kSuccess;
    }

    [[nodiscard]] Win32Error OpenProcessToken(std::uint32_t access,
                                              TokenHandle* token) noexcept override {
        auto open = Bound<decltype(&::OpenProcessToken)>(kOpenProcessToken);
        if (open == nullptr) return err::kProcNotFound;
        HANDLE opened = nullptr;
        if (!open(::GetCurrentProcess(), access, &opened)) return ::GetLastError();
        *token = reinterpret_cast<TokenHandle>(opened);
        return err::kSuccess;
    }

    [[nodiscard]] Win32Error GetTokenInformation(TokenHandle token, std::uint32_t infoClass,
                                                 void* buffer, std::uint32_t length,
                                                 std::uint32_t* returnLength) noexcept override {
        auto get = Bound<decltype(&::GetTokenInformation)>(kGetTokenInformation);
        if (get == nullptr) return err::kProcNotFound;
        DWORD needed = 0;
        BOOL ok = get(ToSystemToken(token), static_cast<TOKEN_INFORMATION_CLASS>(infoClass), buffer,
                      length, &needed);
        Win32Error e = Result(ok);
        if (returnLength != nullptr) *returnLength = needed;
        return e;
    }

    [[nodiscard]] Win32Error AdjustTokenPrivilege(TokenHandle token, Luid luid,
                                                  std::uint32_t attributes) noexcept override {
        auto adjust = Bound<decltype(&::AdjustTokenPrivileges)>(kAdjustTokenPrivileges);
        if (adjust == nullptr) return err::kProcNotFound;
        TOKEN_PRIVILEGES change{};
        change.PrivilegeCount = 1;
        change.Privileges[0].Luid = ToSystemLuid(luid);
        change.Privileges[0].Attributes = attributes;
        // TRUE also when the token lacks the privilege (ERROR_NOT_ALL_ASSIGNED): not a
        // failure here.
        return Result(adjust(ToSystemToken(token), FALSE, &change, 0, nullptr, nullptr));
    }

    [[nodiscard]] Win32Error CloseToken(TokenHandle token) noexcept override {
        return Result(::CloseHandle(ToSystemToken(token)));
    }

    [[nodiscard]] Win32Error GetUserName(char* buffer, std::uint32_t* chars) noexcept override {
        DWORD length = *chars;
        BOOL ok = ::GetUserNameA(buffer, &length);
        Win32Error e = Result(ok);
        *chars = length;
        return e;
    }

  private:
    // The address of the entry's function, bound on first use and kept; null when the library
    // is not loaded or does not export it (the thread's last error is then 127).
    void* Bind(Entry entry) noexcept {
        if (bound_[entry] == nullptr && advapi32_ != 0) {
            FARPROC address =
                ::GetProcAddress(reinterpret_cast<HMODULE>(advapi32_), kEntryNames[entry]);
            bound_[entry] = reinterpret_cast<void*>(address);
        }
        if (bound_[entry] == nullptr) ::SetLastError(ERROR_PROC_NOT_FOUND);
        return bound_[entry];
    }

    template <typename Function>
    Function Bound(Entry entry) noexcept {
        return reinterpret_cast<Function>(Bind(entry));
    }

    const ModuleHandle& advapi32_;
    std::array<void*, kEntryCount> bound_{};
};

}  // namespace

std::unique_ptr<ISecurity> MakeSecurity(const ModuleHandle& advapi32) {
    return std::make_unique<Win32Security>(advapi32);
}

}  // namespace qv::win32
