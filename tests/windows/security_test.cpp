// The security functions bound by name, SID texts and account names, the administrator check and
// the privilege switch, on the system's own security library.
#include "windows_test_support.h"
// The Windows headers first (through the support header), then what builds on them.
#include <sddl.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "security/sid_text.h"
#include "security/token.h"

namespace qv::win32::testing {
namespace {

using SecurityOnSystem = RealMachine;

// The system's own parse of a SID text, to compare the tool's against; empty when it fails.
UniqueLocalMemory SystemSid(const char* text) {
    PSID sid = nullptr;
    if (!::ConvertStringSidToSidA(text, &sid)) return UniqueLocalMemory();
    return UniqueLocalMemory(sid);
}

TEST_F(SecurityOnSystem, SidTextsSurviveTheRoundTripAndMatchTheSystemsParse) {
    for (const char* text :
         {"S-1-5-18", "S-1-5-32-544", "S-1-5-21-1004336348-1177238915-682003330-512",
          "S-1-5-21-4294967295-1-2-3-4-5-6"}) {
        UniqueSid sid = TextToSid(os().security, text);
        ASSERT_TRUE(sid) << text;
        const UniqueLocalMemory expected = SystemSid(text);
        ASSERT_NE(expected.get(), nullptr) << text;
        EXPECT_TRUE(::EqualSid(sid.get(), expected.get())) << text;

        std::uint32_t size = 260;
        std::string back;
        ASSERT_TRUE(SidToText(os().security, sid.get(), &size, &back)) << text;
        EXPECT_EQ(back, text);
    }
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

// Set for the copy of the test program that the administrator check runs under a token whose
// Administrators entry is deny-only.
constexpr char kDenyOnlyChild[] = "QV_TEST_DENY_ONLY_CHILD";
constexpr char kAdministratorTest[] = "SecurityOnSystem.AdministratorCheckAgreesWithTheSystem";

// What the check and its oracle answer in this process, as an exit code: 0x40, plus 1 when the
// tool's check answers yes, 2 when the system's does, 4 when the token lists Administrators
// deny-only. CheckTokenMembership counts a group only when it is enabled and not deny-only, which
// is what the tool's check means by membership.
int AdministratorAnswers(Platform& os) {
    const UniqueLocalMemory administrators = SystemSid("S-1-5-32-544");
    BOOL member = FALSE;
    if (!::CheckTokenMembership(nullptr, administrators.get(), &member)) return 0;
    int answers = 0x40 | (IsMemberOfAdministrators(os) ? 1 : 0) | (member ? 2 : 0);

    HANDLE token = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) return 0;
    UniqueKernelHandle owner(token);
    DWORD size = 0;
    ::GetTokenInformation(token, ::TokenGroups, nullptr, 0, &size);
    std::vector<std::uint64_t> buffer(size / sizeof(std::uint64_t) + 1);
    if (!::GetTokenInformation(token, ::TokenGroups, buffer.data(), size, &size)) return 0;
    const auto* groups = reinterpret_cast<const TOKEN_GROUPS*>(buffer.data());
    for (DWORD i = 0; i < groups->GroupCount; ++i) {
        if (::EqualSid(groups->Groups[i].Sid, administrators.get()) &&
            (groups->Groups[i].Attributes & SE_GROUP_USE_FOR_DENY_ONLY) != 0) {
            answers |= 4;
        }
    }
    return answers;
}

TEST_F(SecurityOnSystem, AdministratorCheckAgreesWithTheSystem) {
    if (::GetEnvironmentVariableA(kDenyOnlyChild, nullptr, 0) != 0) {
        // The copy under the restricted token reports and ends here.
        ::ExitProcess(static_cast<UINT>(AdministratorAnswers(os())));
    }
    // Wine's user is an administrator; so is anyone who runs these tests on Windows elevated.
    EXPECT_EQ(AdministratorAnswers(os()), 0x43);

    // The same program under this token with Administrators made deny-only, as UAC gives an
    // administrator who did not elevate: neither the system nor the tool counts the group.
    const UniqueLocalMemory administrators = SystemSid("S-1-5-32-544");
    HANDLE own = nullptr;
    ASSERT_TRUE(::OpenProcessToken(::GetCurrentProcess(),
                                   TOKEN_DUPLICATE | TOKEN_ASSIGN_PRIMARY | TOKEN_QUERY, &own));
    UniqueKernelHandle ownOwner(own);
    SID_AND_ATTRIBUTES denyOnly{administrators.get(), 0};
    HANDLE restricted = nullptr;
    ASSERT_TRUE(::CreateRestrictedToken(own, 0, 1, &denyOnly, 0, nullptr, 0, nullptr, &restricted));
    UniqueKernelHandle restrictedOwner(restricted);

    char program[MAX_PATH] = {};
    ASSERT_NE(::GetModuleFileNameA(nullptr, program, MAX_PATH), 0u);
    std::string commandLine = std::string("\"") + program + "\" --gtest_brief=1 --gtest_filter=";
    commandLine += kAdministratorTest;
    ASSERT_TRUE(::SetEnvironmentVariableA(kDenyOnlyChild, "1"));
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    const BOOL started =
        ::CreateProcessAsUserA(restricted, nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0,
                               nullptr, nullptr, &startup, &process);
    ::SetEnvironmentVariableA(kDenyOnlyChild, nullptr);
    ASSERT_TRUE(started) << ::GetLastError();
    UniqueKernelHandle processOwner(process.hProcess);
    UniqueKernelHandle threadOwner(process.hThread);
    ASSERT_EQ(::WaitForSingleObject(process.hProcess, INFINITE), WAIT_OBJECT_0);
    DWORD exitCode = 0;
    ASSERT_TRUE(::GetExitCodeProcess(process.hProcess, &exitCode));
    EXPECT_EQ(exitCode, 0x44u);
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
    const std::unique_ptr<ISecurity> security = MakeSecurity(none);
    const std::uint32_t subs[8] = {18};
    Sid sid = nullptr;
    EXPECT_EQ(security->AllocateAndInitializeSid({{0, 0, 0, 0, 0, 5}}, 1, subs, &sid),
              err::kProcNotFound);
    EXPECT_EQ(sid, nullptr);
    TokenHandle token = 0;
    EXPECT_EQ(security->OpenProcessToken(sec::kTokenQuery, &token), err::kProcNotFound);
    Luid luid = 0;
    EXPECT_EQ(security->LookupPrivilegeValue(sec::kRestorePrivilege, &luid), err::kProcNotFound);
    EXPECT_FALSE(security->IsValidSid(subs));
    EXPECT_EQ(::GetLastError(), err::kProcNotFound);
}

TEST(SecurityBinding, ALibraryWithoutTheExportsFailsWith127) {
    UniqueModule user32(::LoadLibraryA("user32.dll"));
    ModuleHandle handle = reinterpret_cast<ModuleHandle>(user32.get());
    const std::unique_ptr<ISecurity> security = MakeSecurity(handle);
    Luid luid = 0;
    EXPECT_EQ(security->LookupPrivilegeValue(sec::kRestorePrivilege, &luid), err::kProcNotFound);
}

TEST(SecurityBinding, BindsWhenTheLibraryArrivesAndKeepsTheAddress) {
    ModuleHandle field = 0;
    const std::unique_ptr<ISecurity> security = MakeSecurity(field);
    Luid luid = 0;
    EXPECT_EQ(security->LookupPrivilegeValue(sec::kRestorePrivilege, &luid), err::kProcNotFound);

    UniqueModule advapi32(::LoadLibraryA(kSecurityLibrary));
    field = reinterpret_cast<ModuleHandle>(advapi32.get());
    ASSERT_EQ(security->LookupPrivilegeValue(sec::kRestorePrivilege, &luid), err::kSuccess);
    LUID expected{};
    ASSERT_TRUE(::LookupPrivilegeValueA(nullptr, SE_RESTORE_NAME, &expected));
    EXPECT_EQ(luid, (static_cast<Luid>(expected.HighPart) << 32) | expected.LowPart);

    // A bound entry no longer looks at the field.
    field = 0;
    EXPECT_EQ(security->LookupPrivilegeValue(sec::kRestorePrivilege, &luid), err::kSuccess);
}

}  // namespace
}  // namespace qv::win32::testing
