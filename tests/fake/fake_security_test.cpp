#include "fake/fake_security.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

namespace qv::fake {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes SidAt(const void* sid) {
    const auto* p = static_cast<const std::uint8_t*>(sid);
    return Bytes(p, p + 8 + 4 * p[1]);
}

class FakeSecurityTest : public ::testing::Test {
protected:
    // Opens the process token, failing the test when that fails.
    TokenHandle Open(std::uint32_t access) {
        TokenHandle token = 0;
        EXPECT_EQ(security.OpenProcessToken(access, &token), err::kSuccess);
        return token;
    }

    FakeSecurity security;
};

// --- SIDs in their stored form ---

TEST_F(FakeSecurityTest, AllocatedSidHasTheStoredLayoutAndIsReleased) {
    const SidIdentifierAuthority nt = {{0, 0, 0, 0, 0, 5}};
    const std::uint32_t subs[8] = {32, 544, 0, 0, 0, 0, 0, 0};
    Sid sid = nullptr;
    ASSERT_EQ(security.AllocateAndInitializeSid(nt, 2, subs, &sid), err::kSuccess);
    EXPECT_EQ(security.LiveSidCount(), 1u);

    // Revision 1, two sub-authorities, authority big-endian, sub-authorities little-endian
    // (544 = 0x220).
    const Bytes expected = {1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x20, 0x02, 0, 0};
    EXPECT_EQ(SidAt(sid), expected);
    EXPECT_TRUE(security.IsValidSid(sid));
    EXPECT_EQ(*security.GetSidSubAuthorityCount(sid), 2);
    EXPECT_EQ(security.GetSidIdentifierAuthority(sid)->value[5], 5);
    EXPECT_EQ(*security.GetSidSubAuthority(sid, 1), 544u);
    EXPECT_EQ(security.GetSidSubAuthority(sid, 2), nullptr);

    security.FreeSid(sid);
    EXPECT_EQ(security.LiveSidCount(), 0u);
    EXPECT_EQ(security.BadFreeSidCount(), 0u);
}

TEST_F(FakeSecurityTest, SubAuthorityCountOutsideOneToEightIsRefused) {
    const SidIdentifierAuthority nt = {{0, 0, 0, 0, 0, 5}};
    const std::uint32_t subs[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    Sid sid = nullptr;
    EXPECT_EQ(security.AllocateAndInitializeSid(nt, 0, subs, &sid), err::kInvalidParameter);
    EXPECT_EQ(security.AllocateAndInitializeSid(nt, 9, subs, &sid), err::kInvalidParameter);
    EXPECT_EQ(sid, nullptr);
    ASSERT_EQ(security.AllocateAndInitializeSid(nt, 8, subs, &sid), err::kSuccess);
    EXPECT_EQ(*security.GetSidSubAuthority(sid, 7), 8u);
    security.FreeSid(sid);
    EXPECT_EQ(security.LiveSidCount(), 0u);
}

TEST_F(FakeSecurityTest, FreeingMemoryNotHandedOutOrTwiceIsCounted) {
    const SidIdentifierAuthority nt = {{0, 0, 0, 0, 0, 5}};
    const std::uint32_t subs[8] = {18};
    Sid sid = nullptr;
    ASSERT_EQ(security.AllocateAndInitializeSid(nt, 1, subs, &sid), err::kSuccess);
    security.FreeSid(sid);
    security.FreeSid(sid);
    Bytes lookupBuffer = FakeSecurity::SidBytes("S-1-5-18");
    security.FreeSid(lookupBuffer.data());
    EXPECT_EQ(security.BadFreeSidCount(), 2u);
}

TEST_F(FakeSecurityTest, SidBytesReadsDecimalAndHexAuthoritiesAndRejectsBadText) {
    const Bytes hex = {1, 1, 0, 1, 0, 0, 0, 0, 7, 0, 0, 0};
    EXPECT_EQ(FakeSecurity::SidBytes("S-1-0x000100000000-7"), hex);
    const Bytes big = {1, 1, 0, 0, 0, 0, 0, 5, 0xFF, 0xFF, 0xFF, 0xFF};
    EXPECT_EQ(FakeSecurity::SidBytes("S-1-5-4294967295"), big);
    for (const char* bad : {"S-1-5-4294967296", "S-2-5-18", "S-1-5-x", "S-1--18", "S-1-0x1-1",
                            "X-1-5-18", "S-1", ""}) {
        EXPECT_TRUE(FakeSecurity::SidBytes(bad).empty()) << bad;
    }
}

TEST_F(FakeSecurityTest, ValidityChecksRevisionAndCountOnly) {
    Bytes sid(8 + 4 * 15, 0);
    sid[0] = 1;
    sid[1] = 15;
    EXPECT_TRUE(security.IsValidSid(sid.data()));
    sid[1] = 16;
    EXPECT_FALSE(security.IsValidSid(sid.data()));
    sid[1] = 1;
    sid[0] = 2;
    EXPECT_FALSE(security.IsValidSid(sid.data()));
    EXPECT_FALSE(security.IsValidSid(nullptr));
}

TEST_F(FakeSecurityTest, EqualSidComparesEverySubAuthority) {
    Bytes a = FakeSecurity::SidBytes("S-1-5-21-1-2-3-1001");
    Bytes b = FakeSecurity::SidBytes("S-1-5-21-1-2-3-1002");
    Bytes shorter = FakeSecurity::SidBytes("S-1-5-21-1-2-3");
    Bytes same = a;
    EXPECT_TRUE(security.EqualSid(a.data(), same.data()));
    EXPECT_FALSE(security.EqualSid(a.data(), b.data()));
    EXPECT_FALSE(security.EqualSid(a.data(), shorter.data()));
}

// --- account lookups ---

TEST_F(FakeSecurityTest, LookupAccountSidReportsSizesWithTheNulThenCopies) {
    security.AddAccount("S-1-5-21-1-2-3-1001", "ann", "QVTEST");
    Bytes sid = FakeSecurity::SidBytes("S-1-5-21-1-2-3-1001");

    std::uint32_t nameChars = 1;
    std::uint32_t domainChars = 1;
    EXPECT_EQ(security.LookupAccountSid(sid.data(), nullptr, &nameChars, nullptr, &domainChars,
                                        nullptr),
              err::kInsufficientBuffer);
    EXPECT_EQ(nameChars, 4u);    // "ann" and its NUL
    EXPECT_EQ(domainChars, 7u);  // "QVTEST" and its NUL

    // One character short of the name: still too small, and the buffer is not written.
    char name[16];
    char domain[16];
    std::memset(name, 'x', sizeof name);
    nameChars = 3;
    domainChars = 7;
    EXPECT_EQ(security.LookupAccountSid(sid.data(), name, &nameChars, domain, &domainChars, nullptr),
              err::kInsufficientBuffer);
    EXPECT_EQ(name[0], 'x');

    nameChars = 4;
    domainChars = 7;
    std::uint32_t use = 0;
    ASSERT_EQ(security.LookupAccountSid(sid.data(), name, &nameChars, domain, &domainChars, &use),
              err::kSuccess);
    EXPECT_STREQ(name, "ann");
    EXPECT_STREQ(domain, "QVTEST");
    EXPECT_EQ(use, 1u);  // SidTypeUser
}

TEST_F(FakeSecurityTest, WellKnownAccountsResolveAndUnknownSidsDoNot) {
    char name[32];
    char domain[32];
    struct Case {
        const char* sid;
        const char* name;
        const char* domain;
    };
    for (const Case& c : {Case{"S-1-5-18", "SYSTEM", "NT AUTHORITY"},
                          Case{"S-1-5-19", "LOCAL SERVICE", "NT AUTHORITY"},
                          Case{"S-1-5-20", "NETWORK SERVICE", "NT AUTHORITY"},
                          Case{"S-1-5-32-544", "Administrators", "BUILTIN"}}) {
        Bytes sid = FakeSecurity::SidBytes(c.sid);
        std::uint32_t nameChars = sizeof name;
        std::uint32_t domainChars = sizeof domain;
        ASSERT_EQ(security.LookupAccountSid(sid.data(), name, &nameChars, domain, &domainChars,
                                            nullptr),
                  err::kSuccess)
            << c.sid;
        EXPECT_STREQ(name, c.name);
        EXPECT_STREQ(domain, c.domain);
    }
    Bytes unknown = FakeSecurity::SidBytes("S-1-5-21-7-7-7-1001");
    std::uint32_t nameChars = sizeof name;
    std::uint32_t domainChars = sizeof domain;
    EXPECT_EQ(security.LookupAccountSid(unknown.data(), name, &nameChars, domain, &domainChars,
                                        nullptr),
              err::kNoneMapped);
}

TEST_F(FakeSecurityTest, LookupAccountNameFindsTheFirstAccountOfThatName) {
    security.AddAccount("S-1-5-21-1-2-3-1001", "ann", "ONE");
    security.AddAccount("S-1-5-21-9-9-9-1001", "ANN", "TWO");

    // Size query with no buffers: the SID of five sub-authorities takes 8 + 5 * 4 bytes.
    std::uint32_t sidBytes = 0;
    std::uint32_t domainChars = 0;
    EXPECT_EQ(security.LookupAccountName("Ann", nullptr, &sidBytes, nullptr, &domainChars, nullptr),
              err::kInsufficientBuffer);
    EXPECT_EQ(sidBytes, 28u);
    EXPECT_EQ(domainChars, 4u);

    std::vector<std::uint8_t> sid(sidBytes);
    std::vector<char> domain(domainChars);
    ASSERT_EQ(security.LookupAccountName("Ann", sid.data(), &sidBytes, domain.data(), &domainChars,
                                         nullptr),
              err::kSuccess);
    EXPECT_EQ(sid, FakeSecurity::SidBytes("S-1-5-21-1-2-3-1001"));
    EXPECT_STREQ(domain.data(), "ONE");

    // A domain-qualified name reaches the second one.
    sidBytes = 28;
    domainChars = 4;
    ASSERT_EQ(security.LookupAccountName("two\\ann", sid.data(), &sidBytes, domain.data(),
                                         &domainChars, nullptr),
              err::kSuccess);
    EXPECT_EQ(sid, FakeSecurity::SidBytes("S-1-5-21-9-9-9-1001"));

    EXPECT_EQ(security.LookupAccountName("nobody", sid.data(), &sidBytes, domain.data(),
                                         &domainChars, nullptr),
              err::kNoneMapped);
}

TEST_F(FakeSecurityTest, GetUserNameCountsTheNul) {
    security.SetUserName("operator");
    char buffer[16];
    std::uint32_t chars = 8;  // one short
    EXPECT_EQ(security.GetUserName(buffer, &chars), err::kInsufficientBuffer);
    EXPECT_EQ(chars, 9u);
    ASSERT_EQ(security.GetUserName(buffer, &chars), err::kSuccess);
    EXPECT_STREQ(buffer, "operator");
    EXPECT_EQ(chars, 9u);
}

// --- token ---

TEST_F(FakeSecurityTest, TokensAreTrackedUntilClosed) {
    TokenHandle a = Open(sec::kTokenQuery);
    TokenHandle b = Open(sec::kTokenQuery);
    EXPECT_NE(a, b);
    EXPECT_EQ(security.OpenTokenCount(), 2u);
    EXPECT_EQ(security.CloseToken(a), err::kSuccess);
    EXPECT_EQ(security.CloseToken(a), err::kInvalidHandle);
    EXPECT_EQ(security.OpenTokenCount(), 1u);

    // An injected close failure still releases the handle.
    security.InjectFault(SecOp::CloseToken, err::kAccessDenied);
    EXPECT_EQ(security.CloseToken(b), err::kAccessDenied);
    EXPECT_EQ(security.OpenTokenCount(), 0u);
}

TEST_F(FakeSecurityTest, TokenGroupsUseTheTwoCallSizeProtocol) {
    security.SetTokenGroups({{"S-1-1-0", 7}, {"S-1-5-32-544", 0x10}});
    TokenHandle token = Open(sec::kTokenQuery);
    // The count and two entries, then a SID of one and one of two sub-authorities.
    const std::uint32_t expectedSize = static_cast<std::uint32_t>(
        offsetof(TokenGroups, groups) + 2 * sizeof(SidAndAttributes) + 12 + 16);

    std::uint32_t needed = 0;
    EXPECT_EQ(security.GetTokenInformation(token, sec::kTokenGroupsClass, nullptr, 0, &needed),
              err::kInsufficientBuffer);
    EXPECT_EQ(needed, expectedSize);

    std::vector<std::uint8_t> buffer(expectedSize + 8, 0xCD);
    std::uint32_t returned = 0;
    EXPECT_EQ(security.GetTokenInformation(token, sec::kTokenGroupsClass, buffer.data(),
                                           expectedSize - 1, &returned),
              err::kInsufficientBuffer);
    EXPECT_EQ(returned, expectedSize);
    EXPECT_EQ(buffer[0], 0xCD);
    EXPECT_EQ(security.CloseToken(token), err::kSuccess);
}

TEST_F(FakeSecurityTest, TokenGroupsLayoutPointsIntoTheCallersBuffer) {
    security.SetTokenGroups({{"S-1-1-0", 7}, {"S-1-5-32-544", 0x10}});
    TokenHandle token = Open(sec::kTokenQuery);
    std::uint32_t needed = 0;
    (void)security.GetTokenInformation(token, sec::kTokenGroupsClass, nullptr, 0, &needed);
    std::vector<std::uint8_t> buffer(needed);
    ASSERT_EQ(security.GetTokenInformation(token, sec::kTokenGroupsClass, buffer.data(), needed,
                                           &needed),
              err::kSuccess);

    const auto* groups = reinterpret_cast<const TokenGroups*>(buffer.data());
    ASSERT_EQ(groups->groupCount, 2u);
    const char* texts[] = {"S-1-1-0", "S-1-5-32-544"};
    const std::uint32_t attributes[] = {7, 0x10};
    for (std::uint32_t i = 0; i < 2; ++i) {
        const auto* sid = static_cast<const std::uint8_t*>(groups->groups[i].sid);
        EXPECT_GE(sid, buffer.data() + offsetof(TokenGroups, groups) + 2 * sizeof(SidAndAttributes));
        EXPECT_LE(sid + 8, buffer.data() + buffer.size());
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(sid) % 4, 0u);
        EXPECT_EQ(SidAt(sid), FakeSecurity::SidBytes(texts[i]));
        EXPECT_EQ(groups->groups[i].attributes, attributes[i]);
    }
    EXPECT_EQ(security.CloseToken(token), err::kSuccess);
}

TEST_F(FakeSecurityTest, AdministratorFlagAddsAndRemovesTheAliasOnce) {
    auto adminEntries = [&] {
        TokenHandle token = Open(sec::kTokenQuery);
        std::uint32_t needed = 0;
        (void)security.GetTokenInformation(token, sec::kTokenGroupsClass, nullptr, 0, &needed);
        std::vector<std::uint8_t> buffer(needed);
        EXPECT_EQ(security.GetTokenInformation(token, sec::kTokenGroupsClass, buffer.data(),
                                               needed, &needed),
                  err::kSuccess);
        EXPECT_EQ(security.CloseToken(token), err::kSuccess);
        const auto* groups = reinterpret_cast<const TokenGroups*>(buffer.data());
        int found = 0;
        for (std::uint32_t i = 0; i < groups->groupCount; ++i) {
            if (SidAt(groups->groups[i].sid) == FakeSecurity::SidBytes("S-1-5-32-544")) ++found;
        }
        return found;
    };
    EXPECT_EQ(adminEntries(), 0);
    security.SetAdministrator(true);
    security.SetAdministrator(true);
    EXPECT_EQ(adminEntries(), 1);
    security.SetAdministrator(false);
    EXPECT_EQ(adminEntries(), 0);
}

TEST_F(FakeSecurityTest, TokenCallsCheckHandleAndAccess) {
    std::uint32_t needed = 0;
    EXPECT_EQ(security.GetTokenInformation(0x999, sec::kTokenGroupsClass, nullptr, 0, &needed),
              err::kInvalidHandle);
    TokenHandle adjustOnly = Open(sec::kTokenAdjustPrivileges);
    EXPECT_EQ(security.GetTokenInformation(adjustOnly, sec::kTokenGroupsClass, nullptr, 0, &needed),
              err::kAccessDenied);
    TokenHandle queryOnly = Open(sec::kTokenQuery);
    EXPECT_EQ(security.AdjustTokenPrivilege(queryOnly, false, 18, sec::kPrivilegeEnabled),
              err::kAccessDenied);
    EXPECT_FALSE(security.IsPrivilegeEnabled(sec::kRestorePrivilege));
    EXPECT_EQ(security.CloseToken(adjustOnly), err::kSuccess);
    EXPECT_EQ(security.CloseToken(queryOnly), err::kSuccess);
}

// --- privileges ---

TEST_F(FakeSecurityTest, HeldPrivilegeIsEnabledAndDisabled) {
    Luid restore = 0;
    ASSERT_EQ(security.LookupPrivilegeValue("SeRestorePrivilege", &restore), err::kSuccess);
    EXPECT_EQ(restore, 18u);  // SE_RESTORE_PRIVILEGE
    TokenHandle token = Open(sec::kTokenAdjustPrivileges | sec::kTokenQuery);

    EXPECT_FALSE(security.IsPrivilegeEnabled(sec::kRestorePrivilege));
    EXPECT_EQ(security.AdjustTokenPrivilege(token, false, restore, sec::kPrivilegeEnabled),
              err::kSuccess);
    EXPECT_TRUE(security.IsPrivilegeEnabled(sec::kRestorePrivilege));
    EXPECT_EQ(security.LastAdjustStatus(), err::kSuccess);
    EXPECT_EQ(security.AdjustTokenPrivilege(token, false, restore, 0), err::kSuccess);
    EXPECT_FALSE(security.IsPrivilegeEnabled(sec::kRestorePrivilege));
    EXPECT_EQ(security.CloseToken(token), err::kSuccess);
}

TEST_F(FakeSecurityTest, PrivilegeNotHeldSucceedsButChangesNothing) {
    security.SetHeldPrivileges({"SeBackupPrivilege"});
    Luid restore = 0;
    ASSERT_EQ(security.LookupPrivilegeValue("SeRestorePrivilege", &restore), err::kSuccess);
    TokenHandle token = Open(sec::kTokenAdjustPrivileges | sec::kTokenQuery);
    EXPECT_EQ(security.AdjustTokenPrivilege(token, false, restore, sec::kPrivilegeEnabled),
              err::kSuccess);
    EXPECT_EQ(security.LastAdjustStatus(), err::kNotAllAssigned);
    EXPECT_FALSE(security.IsPrivilegeEnabled(sec::kRestorePrivilege));
    EXPECT_FALSE(security.IsPrivilegeEnabled("SeBackupPrivilege"));
    EXPECT_EQ(security.CloseToken(token), err::kSuccess);

    Luid luid = 0;
    EXPECT_EQ(security.LookupPrivilegeValue("SeNoSuchPrivilege", &luid), 1313u);
}

// --- a library that does not load, injected faults ---

TEST_F(FakeSecurityTest, UnboundLibraryFailsTheBoundFunctionsOnly) {
    security.SetUnbound(true);
    const SidIdentifierAuthority nt = {{0, 0, 0, 0, 0, 5}};
    const std::uint32_t subs[8] = {18};
    Sid sid = nullptr;
    EXPECT_EQ(security.AllocateAndInitializeSid(nt, 1, subs, &sid), err::kProcNotFound);
    TokenHandle token = 0;
    EXPECT_EQ(security.OpenProcessToken(sec::kTokenQuery, &token), err::kProcNotFound);
    Luid luid = 0;
    EXPECT_EQ(security.LookupPrivilegeValue("SeRestorePrivilege", &luid), err::kProcNotFound);
    std::uint32_t sidBytes = 0;
    std::uint32_t domainChars = 0;
    EXPECT_EQ(security.LookupAccountName("operator", nullptr, &sidBytes, nullptr, &domainChars,
                                         nullptr),
              err::kProcNotFound);
    EXPECT_EQ(security.LiveSidCount(), 0u);
    char name[16];
    std::uint32_t chars = sizeof name;
    EXPECT_EQ(security.GetUserName(name, &chars), err::kSuccess);
}

TEST_F(FakeSecurityTest, SizeQueryAndBufferQueryFailSeparately) {
    TokenHandle token = Open(sec::kTokenQuery);
    security.InjectFault(SecOp::TokenInfo, err::kNotEnoughMemory);
    std::uint32_t needed = 99;
    EXPECT_EQ(security.GetTokenInformation(token, sec::kTokenGroupsClass, nullptr, 0, &needed),
              err::kInsufficientBuffer);
    ASSERT_GT(needed, 0u);
    std::vector<std::uint8_t> buffer(needed);
    EXPECT_EQ(security.GetTokenInformation(token, sec::kTokenGroupsClass, buffer.data(), needed,
                                           &needed),
              err::kNotEnoughMemory);
    EXPECT_EQ(security.GetTokenInformation(token, sec::kTokenGroupsClass, buffer.data(), needed,
                                           &needed),
              err::kSuccess);

    security.InjectFault(SecOp::TokenInfoSize, err::kAccessDenied);
    EXPECT_EQ(security.GetTokenInformation(token, sec::kTokenGroupsClass, nullptr, 0, &needed),
              err::kAccessDenied);
    EXPECT_EQ(needed, 0u);
    EXPECT_EQ(security.CloseToken(token), err::kSuccess);
}

}  // namespace
}  // namespace qv::fake
