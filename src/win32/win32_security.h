// The security port on the system: the 13 security functions are bound by name from the security
// library that start-up loaded (CQuorvaneApp::advapi32), each on its first call; the user name
// and the closing of a token are imported as usual.
#pragma once
#include <array>

#include "port/security.h"
#include "port/system.h"
#include "win32/windows_api.h"

namespace qv::win32 {

class Win32Security final : public ISecurity {
  public:
    // `advapi32` is the application's library handle; it is read at each call that still has to
    // bind its function, so it may be loaded after this object exists.
    explicit Win32Security(const ModuleHandle& advapi32) noexcept : advapi32_(advapi32) {}

    // Alike on purpose: the fake and the Windows adapter implement the same port, so both list its
    // methods.
    [[nodiscard]] Win32Error AllocateAndInitializeSid(const SidIdentifierAuthority& authority,
                                                      std::uint8_t subAuthorityCount,
                                                      const std::uint32_t (&subAuthorities)[8],
                                                      Sid* sid) noexcept override;
    void FreeSid(Sid sid) noexcept override;
    [[nodiscard]] bool IsValidSid(ConstSid sid) noexcept override;
    const SidIdentifierAuthority* GetSidIdentifierAuthority(ConstSid sid) noexcept override;
    const std::uint8_t* GetSidSubAuthorityCount(ConstSid sid) noexcept override;
    const std::uint32_t* GetSidSubAuthority(ConstSid sid, std::uint32_t index) noexcept override;
    [[nodiscard]] bool EqualSid(ConstSid a, ConstSid b) noexcept override;
    [[nodiscard]] Win32Error LookupAccountSid(ConstSid sid, char* name, std::uint32_t* nameChars,
                                              char* domain, std::uint32_t* domainChars,
                                              std::uint32_t* use) noexcept override;
    [[nodiscard]] Win32Error LookupAccountName(const char* accountName, Sid sid,
                                               std::uint32_t* sidBytes, char* domain,
                                               std::uint32_t* domainChars,
                                               std::uint32_t* use) noexcept override;
    [[nodiscard]] Win32Error LookupPrivilegeValue(const char* name, Luid* luid) noexcept override;
    [[nodiscard]] Win32Error OpenProcessToken(std::uint32_t access,
                                              TokenHandle* token) noexcept override;
    [[nodiscard]] Win32Error GetTokenInformation(TokenHandle token, std::uint32_t infoClass,
                                                 void* buffer, std::uint32_t length,
                                                 std::uint32_t* returnLength) noexcept override;
    [[nodiscard]] Win32Error AdjustTokenPrivilege(TokenHandle token, bool disableAll, Luid luid,
                                                  std::uint32_t attributes) noexcept override;
    [[nodiscard]] Win32Error CloseToken(TokenHandle token) noexcept override;
    [[nodiscard]] Win32Error GetUserName(char* buffer, std::uint32_t* chars) noexcept override;

    // The bound functions, in the order of the names in the .cpp.
    enum Entry {
        kGetSidIdentifierAuthority,
        kGetSidSubAuthorityCount,
        kGetSidSubAuthority,
        kIsValidSid,
        kEqualSid,
        kFreeSid,
        kAllocateAndInitializeSid,
        kLookupAccountSidA,
        kLookupAccountNameA,
        kAdjustTokenPrivileges,
        kLookupPrivilegeValueA,
        kOpenProcessToken,
        kGetTokenInformation,
        kEntryCount
    };

  private:
    // The address of the entry's function, bound on first use and kept; null when the library
    // is not loaded or does not export it (the thread's last error is then 127).
    void* Bind(Entry entry) noexcept;
    template <typename Function>
    Function Bound(Entry entry) noexcept;

    const ModuleHandle& advapi32_;
    std::array<void*, kEntryCount> bound_{};
};

}  // namespace qv::win32
