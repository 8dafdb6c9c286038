// SIDs, account names and privileges as the security port answers them.
#include <string>

#include "security/sid_text.h"
#include "tests/contract/contract_machine.h"

namespace qv::contract {
namespace {

TEST_P(SecurityContract, SidTextsSurviveTheRoundTrip) {
    ISecurity& security = os().security;
    const std::pair<const char*, std::uint32_t> sids[] = {
        {"S-1-5-18", 18},
        {"S-1-5-32-544", 544},
        {"S-1-1-0", 0},
        {"S-1-5-21-1004336348-1177238915-682003330-512", 512},
        {"S-1-5-21-4294967295-1-2-3-4-5-6", 6},
    };
    for (const auto& [text, last] : sids) {
        UniqueSid sid = TextToSid(security, text);
        ASSERT_TRUE(sid) << text;
        EXPECT_TRUE(security.IsValidSid(sid.get())) << text;
        const std::uint8_t count = *security.GetSidSubAuthorityCount(sid.get());
        ASSERT_GT(count, 0u) << text;
        EXPECT_EQ(*security.GetSidSubAuthority(sid.get(), count - 1u), last) << text;
        std::uint32_t size = 260;
        std::string back;
        ASSERT_TRUE(SidToText(security, sid.get(), &size, &back)) << text;
        EXPECT_EQ(back, text);
    }
}

TEST_P(SecurityContract, ServiceAccountsAreNamedAndUnknownSidsAreNot) {
    ISecurity& security = os().security;
    const std::pair<const char*, std::string> accounts[] = {
        {"S-1-5-18", "SYSTEM"}, {"S-1-5-19", "LOCAL SERVICE"}, {"S-1-5-20", "NETWORK SERVICE"}};
    const std::string authority = "NT AUTHORITY";
    for (const auto& [text, expected] : accounts) {
        UniqueSid sid = TextToSid(security, text);
        ASSERT_TRUE(sid) << text;
        // A too small buffer learns the sizes, the NULs included.
        char name[64] = "untouched";
        char domain[64] = "untouched";
        std::uint32_t nameChars = 1;
        std::uint32_t domainChars = 1;
        std::uint32_t use = 0;
        EXPECT_EQ(
            security.LookupAccountSid(sid.get(), name, &nameChars, domain, &domainChars, &use),
            err::kInsufficientBuffer)
            << text;
        EXPECT_EQ(nameChars, expected.size() + 1) << text;
        EXPECT_EQ(domainChars, authority.size() + 1) << text;
        ASSERT_EQ(
            security.LookupAccountSid(sid.get(), name, &nameChars, domain, &domainChars, &use),
            err::kSuccess)
            << text;
        EXPECT_EQ(name, expected);
        EXPECT_EQ(domain, authority);
        EXPECT_EQ(use, 5u) << text;  // SidTypeWellKnownGroup
    }
    UniqueSid unknown = TextToSid(security, "S-1-5-21-9-9-9-9");
    ASSERT_TRUE(unknown);
    char name[64];
    char domain[64];
    std::uint32_t nameChars = sizeof name;
    std::uint32_t domainChars = sizeof domain;
    std::uint32_t use = 0;
    EXPECT_EQ(
        security.LookupAccountSid(unknown.get(), name, &nameChars, domain, &domainChars, &use),
        err::kNoneMapped);
}

TEST_P(SecurityContract, PrivilegesHaveTheSystemsValues) {
    ISecurity& security = os().security;
    const std::pair<const char*, Luid> privileges[] = {
        {"SeTcbPrivilege", 7},
        {"SeBackupPrivilege", 17},
        {sec::kRestorePrivilege, 18},
        {"SeShutdownPrivilege", 19},
    };
    for (const auto& [name, expected] : privileges) {
        Luid luid = 0;
        EXPECT_EQ(security.LookupPrivilegeValue(name, &luid), err::kSuccess) << name;
        EXPECT_EQ(luid, expected) << name;
    }
    Luid luid = 0;
    EXPECT_EQ(security.LookupPrivilegeValue("SeNoSuchPrivilege", &luid), 1313u);

    // Enabling a privilege the token does not hold (no administrator's token holds SeTcbPrivilege)
    // succeeds; the system only notes that not all were assigned.
    TokenHandle token = 0;
    ASSERT_EQ(security.OpenProcessToken(sec::kTokenAdjustPrivileges | sec::kTokenQuery, &token),
              err::kSuccess);
    EXPECT_EQ(security.AdjustTokenPrivilege(token, 7, sec::kPrivilegeEnabled), err::kSuccess);
    EXPECT_EQ(security.AdjustTokenPrivilege(token, 7, 0), err::kSuccess);
    EXPECT_EQ(security.CloseToken(token), err::kSuccess);
}

}  // namespace
}  // namespace qv::contract
