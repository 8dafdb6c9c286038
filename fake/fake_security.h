// The fake machine's accounts, process token and privileges: an ISecurity with real SIDs in their
// stored form.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "fake/fault_plan.h"
#include "port/security.h"

namespace qv::fake {

// The port's calls that take injected faults; their faults have no subject (inject them with an
// empty name). kTokenInfoSize is GetTokenInformation asked for the size only.
enum class SecOp {
    kAllocate,
    kLookupSid,
    kLookupPrivilege,
    kOpenToken,
    kTokenInfoSize,
    kTokenInfo,
    kAdjust,
    kCloseToken
};

class FakeSecurity final : public ISecurity, public FaultInjection<SecOp> {
  public:
    FakeSecurity();
    ~FakeSecurity() override;

    // --- setup ---
    // An account that LookupAccountSidA knows; a SID names the first account added with it.
    void AddAccount(std::string_view sidText, std::string_view name, std::string_view domain);
    // The user running the tool: GetUserNameA returns `name`.
    void SetUserName(std::string_view name);
    // The user of the process token, as GetTokenInformation(TokenUser) answers it; S-1-5-18 until
    // set. Independent of SetUserName, as a token and an account name are on Windows.
    void SetTokenUser(std::string_view sidText);
    // The groups of the process token, as SID texts with their attributes.
    void SetTokenGroups(std::vector<std::pair<std::string, std::uint32_t>> groups);
    // How the token groups list S-1-5-32-544: not at all; enabled (0xF: mandatory, enabled by
    // default, enabled, owner), as an elevated administrator's token does; or deny-only (0x10), as
    // the token of an administrator without elevation under UAC does (such a token also lacks the
    // backup and restore privileges: SetHeldPrivileges({})).
    enum class AdminGroup { kAbsent, kEnabled, kDenyOnly };
    void SetAdministrator(AdminGroup group);
    // kEnabled or kAbsent.
    void SetAdministrator(bool admin);
    // Privileges the token holds (disabled until adjusted). Holds SeBackupPrivilege and
    // SeRestorePrivilege by default, as an administrator's token does.
    void SetHeldPrivileges(std::vector<std::string> names);
    // The library that exports the functions is missing: every call of the 13 functions bound by
    // name fails with 127 (those answering a pointer or a bool answer null or false).
    // GetUserName and CloseToken are imported in the ordinary way and keep working.
    void SetUnbound(bool unbound);
    // LookupAccountSidA as Wine answers it under a double-byte code page: the sizes it asks for
    // count characters, not bytes, and a text given too small a buffer for its bytes comes back
    // cut to fit, its last character possibly halved. Windows counts bytes (the default).
    void SetLookupCountsCharacters(bool characters);

    // --- inspection ---
    bool IsPrivilegeEnabled(std::string_view name) const;
    std::size_t OpenTokenCount() const;
    std::size_t LiveSidCount() const;  // SIDs allocated and not freed
    // FreeSid calls on memory that AllocateAndInitializeSid did not hand out or that was freed
    // already (a lookup's own buffer, a double free).
    std::size_t BadFreeSidCount() const;
    // LookupAccountSid calls made (those of an unbound library not counted).
    std::size_t SidLookupCount() const;
    // Builds a SID from its text for tests (stored form); empty on bad text.
    static std::vector<std::uint8_t> SidBytes(std::string_view sidText);

    // --- ISecurity ---
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
    [[nodiscard]] Win32Error LookupPrivilegeValue(const char* name, Luid* luid) noexcept override;
    [[nodiscard]] Win32Error OpenProcessToken(std::uint32_t access,
                                              TokenHandle* token) noexcept override;
    [[nodiscard]] Win32Error GetTokenInformation(TokenHandle token, std::uint32_t infoClass,
                                                 void* buffer, std::uint32_t length,
                                                 std::uint32_t* returnLength) noexcept override;
    // AdjustTokenPrivilege imitates switching one privilege on or off; SE_PRIVILEGE_REMOVED,
    // which the tool never asks for, fails with 50.
    [[nodiscard]] Win32Error AdjustTokenPrivilege(TokenHandle token, Luid luid,
                                                  std::uint32_t attributes) noexcept override;
    [[nodiscard]] Win32Error CloseToken(TokenHandle token) noexcept override;
    [[nodiscard]] Win32Error GetUserName(char* buffer, std::uint32_t* chars) noexcept override;

  private:
    struct State;
    // The checks every call of a function bound by name begins with; 0 when it goes on.
    [[nodiscard]] Win32Error Begin(SecOp op);
    std::unique_ptr<State> s_;
};

}  // namespace qv::fake
