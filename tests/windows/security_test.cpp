// The security functions bound by name, SID texts and account names, the administrator check and
// the privilege switch, on the system's own security library.
#include "windows_test_support.h"
// The Windows headers first (through the support header), then what builds on them.
#include <sddl.h>

#include "security/sid_text.h"
#include "security/token.h"

namespace qv::win32::testing {
namespace {

using SecurityOnSystem = RealMachine;

// The system's own parse of a SID text, to compare the tool's against.
struct SystemSid {
    explicit SystemSid(const char* text) { ::ConvertStringSidToSidA(text, &sid); }
    ~SystemSid() { ::LocalFree(sid); }
    PSID sid = nullptr;
};

TEST_F(SecurityOnSystem, SidTextsSurviveTheRoundTripAndMatchTheSystemsParse) {
    for (const char* text :
         {"S-1-5-18", "S-1-5-32-544", "S-1-5-21-1004336348-1177238915-682003330-512",
          "S-1-5-21-4294967295-1-2-3-4-5-6"}) {
        UniqueSid sid = TextToSid(os().security, text);
        ASSERT_TRUE(sid) << text;
        SystemSid expected(text);
        ASSERT_NE(expected.sid, nullptr) << text;
        EXPECT_TRUE(::EqualSid(sid.get(), expected.sid)) << text;

        std::uint32_t size = 260;
        std::string back;
        ASSERT_TRUE(SidToText(os().security, sid.get(), &size, &back)) << text;
        EXPECT_EQ(back, text);
    }
}

TEST_F(SecurityOnSystem, ServiceAccountsHaveTheirNamesWithoutDomain) {
    const std::pair<const char*, const char*> accounts[] = {
        {"S-1-5-18", "SYSTEM"}, {"S-1-5-19", "LOCAL SERVICE"}, {"S-1-5-20", "NETWORK SERVICE"}};
    for (const auto& [sid, name] : accounts) {
        std::string found;
        EXPECT_TRUE(AccountNameFromSidText(os().security, sid, &found)) << sid;
        EXPECT_EQ(found, name);
    }
    std::string unknown = "unchanged";
    EXPECT_FALSE(AccountNameFromSidText(os().security, "S-1-5-21-9-9-9-9", &unknown));
}

TEST_F(SecurityOnSystem, RunningUserComesFromTheTokenAndIsNamedBack) {
    std::string sid = CurrentUserSidText(os().security);
    EXPECT_EQ(sid, TokenUserSidText());
    char user[260] = {};
    DWORD length = sizeof user;
    ASSERT_TRUE(::GetUserNameA(user, &length));
    std::string name;
    EXPECT_TRUE(AccountNameFromSidText(os().security, sid, &name));
    EXPECT_EQ(name, user);
}

TEST_F(SecurityOnSystem, AdministratorCheckAgreesWithTheSystem) {
    SystemSid administrators("S-1-5-32-544");
    BOOL member = FALSE;
    ASSERT_TRUE(::CheckTokenMembership(nullptr, administrators.sid, &member));
    EXPECT_EQ(IsMemberOfAdministrators(os()), member != FALSE);
    // Wine's user is an administrator; so is anyone who runs these tests on Windows elevated.
    EXPECT_TRUE(member);
}

TEST_F(SecurityOnSystem, RestorePrivilegeIsSwitchedInTheToken) {
    ASSERT_TRUE(AdjustNamedPrivilege(os().security, true, sec::kRestorePrivilege));
    EXPECT_TRUE(IsPrivilegeEnabled(sec::kRestorePrivilege));
    ASSERT_TRUE(AdjustNamedPrivilege(os().security, false, sec::kRestorePrivilege));
    EXPECT_FALSE(IsPrivilegeEnabled(sec::kRestorePrivilege));
    // Disabling what is not enabled succeeds too.
    EXPECT_TRUE(AdjustNamedPrivilege(os().security, false, sec::kRestorePrivilege));
    EXPECT_FALSE(AdjustNamedPrivilege(os().security, true, "SeNoSuchPrivilege"));
}

// The binding: entries start empty, bind on first use and keep what they bound.
TEST(SecurityBinding, WithoutTheLibraryEveryCallFailsWith127) {
    ModuleHandle none = 0;
    Win32Security security(none);
    const std::uint32_t subs[8] = {18};
    Sid sid = nullptr;
    EXPECT_EQ(security.AllocateAndInitializeSid({{0, 0, 0, 0, 0, 5}}, 1, subs, &sid),
              err::kProcNotFound);
    EXPECT_EQ(sid, nullptr);
    TokenHandle token = 0;
    EXPECT_EQ(security.OpenProcessToken(sec::kTokenQuery, &token), err::kProcNotFound);
    Luid luid = 0;
    EXPECT_EQ(security.LookupPrivilegeValue(sec::kRestorePrivilege, &luid), err::kProcNotFound);
    EXPECT_FALSE(security.IsValidSid(subs));
    EXPECT_EQ(::GetLastError(), err::kProcNotFound);
}

TEST(SecurityBinding, ALibraryWithoutTheExportsFailsWith127) {
    UniqueModule user32(ModuleCloser{}, ::LoadLibraryA("user32.dll"));
    ModuleHandle handle = reinterpret_cast<ModuleHandle>(user32.get());
    Win32Security security(handle);
    Luid luid = 0;
    EXPECT_EQ(security.LookupPrivilegeValue(sec::kRestorePrivilege, &luid), err::kProcNotFound);
}

TEST(SecurityBinding, BindsWhenTheLibraryArrivesAndKeepsTheAddress) {
    ModuleHandle field = 0;
    Win32Security security(field);
    Luid luid = 0;
    EXPECT_EQ(security.LookupPrivilegeValue(sec::kRestorePrivilege, &luid), err::kProcNotFound);

    UniqueModule advapi32(ModuleCloser{}, ::LoadLibraryA("Advapi32.dll"));
    field = reinterpret_cast<ModuleHandle>(advapi32.get());
    ASSERT_EQ(security.LookupPrivilegeValue(sec::kRestorePrivilege, &luid), err::kSuccess);
    LUID expected{};
    ASSERT_TRUE(::LookupPrivilegeValueA(nullptr, SE_RESTORE_NAME, &expected));
    EXPECT_EQ(luid, (static_cast<Luid>(expected.HighPart) << 32) | expected.LowPart);

    // A bound entry no longer looks at the field.
    field = 0;
    EXPECT_EQ(security.LookupPrivilegeValue(sec::kRestorePrivilege, &luid), err::kSuccess);
}

}  // namespace
}  // namespace qv::win32::testing
