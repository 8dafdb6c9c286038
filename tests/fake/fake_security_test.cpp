#include "fake/fake_security.h"

#include <gtest/gtest.h>

#include <algorithm>
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
    TokenHandle Open(std::uint32_t access) {
        TokenHandle token = 0;
        EXPECT_EQ(security.OpenProcessToken(access, &token), err::kSuccess);
        return token;
    }

    // The token groups, SID and attributes, read with the two calls the tool makes.
    std::vector<std::pair<Bytes, std::uint32_t>> Groups() {
        TokenHandle token = Open(sec::kTokenQuery);
        std::uint32_t needed = 0;
        (void)security.GetTokenInformation(token, sec::kTokenGroupsClass, nullptr, 0, &needed);
        std::vector<std::uint8_t> buffer(needed);
        EXPECT_EQ(security.GetTokenInformation(token, sec::kTokenGroupsClass, buffer.data(), needed,
                                               &needed),
                  err::kSuccess);
        EXPECT_EQ(security.CloseToken(token), err::kSuccess);
        std::vector<std::pair<Bytes, std::uint32_t>> out;
        const auto* groups = reinterpret_cast<const TokenGroups*>(buffer.data());
        for (std::uint32_t i = 0; i < groups->groupCount; ++i) {
            out.emplace_back(SidAt(groups->groups[i].sid), groups->groups[i].attributes);
        }
        return out;
    }

    FakeSecurity security;
};

// --- SIDs ---

TEST_F(FakeSecurityTest, AllocatedSidHasTheStoredLayoutAndIsTracked) {
    const SidIdentifierAuthority nt = {{0, 0, 0, 0, 0, 5}};
    const std::uint32_t subs[8] = {32, 544, 3, 4, 5, 6, 7, 8};
    Sid sid = nullptr;
    ASSERT_EQ(security.AllocateAndInitializeSid(nt, 2, subs, &sid), err::kSuccess);
    EXPECT_EQ(security.LiveSidCount(), 1u);
    // Revision 1, two sub-authorities, authority big-endian, sub-authorities little-endian
    // (544 = 0x220).
    const Bytes expected = {1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x20, 0x02, 0, 0};
    EXPECT_EQ(SidAt(sid), expected);
    EXPECT_EQ(FakeSecurity::SidBytes("S-1-5-32-544"), expected);
    EXPECT_EQ(*security.GetSidSubAuthority(sid, 1), 544u);
    EXPECT_EQ(security.GetSidSubAuthority(sid, 2), nullptr);

    security.FreeSid(sid);
    security.FreeSid(sid);  // a double free is counted, not done
    EXPECT_EQ(security.LiveSidCount(), 0u);
    EXPECT_EQ(security.BadFreeSidCount(), 1u);

    sid = nullptr;
    EXPECT_EQ(security.AllocateAndInitializeSid(nt, 0, subs, &sid), err::kInvalidParameter);
    EXPECT_EQ(security.AllocateAndInitializeSid(nt, 9, subs, &sid), err::kInvalidParameter);
    EXPECT_EQ(sid, nullptr);
}

// --- account lookups ---

TEST_F(FakeSecurityTest, LookupAccountSidFindsTheFirstAccountAddedWithThatSid) {
    security.AddAccount("S-1-5-21-1-2-3-1001", "ann", "ONE");
    security.AddAccount("S-1-5-21-1-2-3-1002", "bob", "ONE");
    security.AddAccount("S-1-5-21-1-2-3-1001", "impostor", "TWO");
    char name[16];
    char domain[16];
    std::uint32_t nameChars = sizeof name;
    std::uint32_t domainChars = sizeof domain;
    Bytes sid = FakeSecurity::SidBytes("S-1-5-21-1-2-3-1001");
    ASSERT_EQ(
        security.LookupAccountSid(sid.data(), name, &nameChars, domain, &domainChars, nullptr),
        err::kSuccess);
    EXPECT_STREQ(name, "ann");
    EXPECT_STREQ(domain, "ONE");
    // A SID that is a prefix of a known one, or has one sub-authority more, names nobody.
    nameChars = domainChars = sizeof name;
    Bytes shorter = FakeSecurity::SidBytes("S-1-5-21-1-2-3");
    EXPECT_EQ(
        security.LookupAccountSid(shorter.data(), name, &nameChars, domain, &domainChars, nullptr),
        err::kNoneMapped);
    Bytes longer = FakeSecurity::SidBytes("S-1-5-21-1-2-3-1001-1");
    EXPECT_EQ(
        security.LookupAccountSid(longer.data(), name, &nameChars, domain, &domainChars, nullptr),
        err::kNoneMapped);
}

// --- token ---

TEST_F(FakeSecurityTest, TokensAreTrackedUntilClosedAndNeedTheirAccess) {
    TokenHandle query = Open(sec::kTokenQuery);
    TokenHandle adjust = Open(sec::kTokenAdjustPrivileges);
    EXPECT_EQ(security.OpenTokenCount(), 2u);
    std::uint32_t needed = 0;
    EXPECT_EQ(security.GetTokenInformation(adjust, sec::kTokenGroupsClass, nullptr, 0, &needed),
              err::kAccessDenied);
    EXPECT_EQ(security.AdjustTokenPrivilege(query, 18, sec::kPrivilegeEnabled), err::kAccessDenied);
    EXPECT_EQ(security.CloseToken(query), err::kSuccess);
    EXPECT_EQ(security.CloseToken(query), err::kInvalidHandle);
    // A close that reports a failure still releases the handle.
    security.InjectFault(SecOp::kCloseToken, {}, err::kAccessDenied);
    EXPECT_EQ(security.CloseToken(adjust), err::kAccessDenied);
    EXPECT_EQ(security.OpenTokenCount(), 0u);
}

TEST_F(FakeSecurityTest, TokenGroupsSizeProtocolAndLayout) {
    security.SetTokenGroups({{"S-1-1-0", 7}, {"S-1-5-32-544", 0x10}});
    TokenHandle token = Open(sec::kTokenQuery);
    // The count and two entries, then a SID of one and one of two sub-authorities.
    const std::size_t entriesEnd = offsetof(TokenGroups, groups) + 2 * sizeof(SidAndAttributes);
    const auto size = static_cast<std::uint32_t>(entriesEnd + 12 + 16);

    std::uint32_t needed = 0;
    EXPECT_EQ(security.GetTokenInformation(token, sec::kTokenGroupsClass, nullptr, 0, &needed),
              err::kInsufficientBuffer);
    EXPECT_EQ(needed, size);
    Bytes buffer(size, 0xCD);
    EXPECT_EQ(security.GetTokenInformation(token, sec::kTokenGroupsClass, buffer.data(), size - 1,
                                           &needed),
              err::kInsufficientBuffer);
    EXPECT_EQ(buffer[0], 0xCD);

    ASSERT_EQ(
        security.GetTokenInformation(token, sec::kTokenGroupsClass, buffer.data(), size, &needed),
        err::kSuccess);
    const auto* groups = reinterpret_cast<const TokenGroups*>(buffer.data());
    ASSERT_EQ(groups->groupCount, 2u);
    const char* texts[] = {"S-1-1-0", "S-1-5-32-544"};
    const std::uint32_t attributes[] = {7, 0x10};
    for (std::uint32_t i = 0; i < 2; ++i) {
        const auto* sid = static_cast<const std::uint8_t*>(groups->groups[i].sid);
        EXPECT_GE(sid, buffer.data() + entriesEnd);  // the SIDs follow the entries
        EXPECT_LE(sid + SidAt(sid).size(), buffer.data() + buffer.size());
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(sid) % 4, 0u);
        EXPECT_EQ(SidAt(sid), FakeSecurity::SidBytes(texts[i]));
        EXPECT_EQ(groups->groups[i].attributes, attributes[i]);
    }
    EXPECT_EQ(security.CloseToken(token), err::kSuccess);
}

TEST_F(FakeSecurityTest, TokenUserSizeProtocolAndLayout) {
    // The token names its user whatever the account name says (as the system's does: Wine 8
    // answers 44 bytes for S-1-5-21-0-0-0-1000, the SID at offset 16 after the entry).
    security.SetUserName("bob");
    security.SetTokenUser("S-1-5-21-0-0-0-1000");
    TokenHandle token = Open(sec::kTokenQuery);
    const auto size = static_cast<std::uint32_t>(sizeof(TokenUser) + 8 + 4 * 5);

    std::uint32_t needed = 0;
    EXPECT_EQ(security.GetTokenInformation(token, sec::kTokenUserClass, nullptr, 0, &needed),
              err::kInsufficientBuffer);
    EXPECT_EQ(needed, size);
    Bytes buffer(size, 0xCD);
    needed = 0;
    EXPECT_EQ(
        security.GetTokenInformation(token, sec::kTokenUserClass, buffer.data(), size - 1, &needed),
        err::kInsufficientBuffer);
    EXPECT_EQ(needed, size);
    EXPECT_EQ(std::count(buffer.begin(), buffer.end(), 0xCD), static_cast<std::ptrdiff_t>(size));

    ASSERT_EQ(
        security.GetTokenInformation(token, sec::kTokenUserClass, buffer.data(), size, &needed),
        err::kSuccess);
    const auto* user = reinterpret_cast<const TokenUser*>(buffer.data());
    EXPECT_EQ(user->user.sid, buffer.data() + sizeof(TokenUser));
    EXPECT_EQ(user->user.attributes, 0u);
    EXPECT_EQ(SidAt(user->user.sid), FakeSecurity::SidBytes("S-1-5-21-0-0-0-1000"));
    // Classes the fake does not know are refused, not answered with another class's layout.
    EXPECT_EQ(security.GetTokenInformation(token, 3, buffer.data(), size, &needed),
              err::kInvalidParameter);
    EXPECT_EQ(security.CloseToken(token), err::kSuccess);
}

TEST_F(FakeSecurityTest, AdministratorAliasIsListedOnceAndNotAtAnEnd) {
    const Bytes admin = FakeSecurity::SidBytes("S-1-5-32-544");
    auto listings = [&] {
        std::vector<std::uint32_t> attributes;
        for (const auto& [sid, attr] : Groups()) {
            if (sid == admin) attributes.push_back(attr);
        }
        return attributes;
    };
    security.SetAdministrator(true);
    security.SetAdministrator(true);
    EXPECT_EQ(listings(), std::vector<std::uint32_t>{0xF});
    const auto groups = Groups();
    EXPECT_NE(groups.front().first, admin);
    EXPECT_NE(groups.back().first, admin);
    // The unelevated token under UAC: the same alias, deny-only.
    security.SetAdministrator(FakeSecurity::AdminGroup::kDenyOnly);
    EXPECT_EQ(listings(), std::vector<std::uint32_t>{sec::kGroupUseForDenyOnly});
    security.SetAdministrator(false);
    EXPECT_TRUE(listings().empty());
}

// --- privileges ---

TEST_F(FakeSecurityTest, HeldPrivilegeIsSwitchedOthersAreNotAssigned) {
    security.SetHeldPrivileges({"SeRestorePrivilege"});
    // The privileges' values (18 SeRestorePrivilege, 19 SeShutdownPrivilege): contract tests.
    TokenHandle token = Open(sec::kTokenAdjustPrivileges | sec::kTokenQuery);

    EXPECT_EQ(security.AdjustTokenPrivilege(token, 18, sec::kPrivilegeEnabled), err::kSuccess);
    EXPECT_TRUE(security.IsPrivilegeEnabled(sec::kRestorePrivilege));

    // Not held: the call succeeds (the system's TRUE with ERROR_NOT_ALL_ASSIGNED), nothing changes.
    EXPECT_EQ(security.AdjustTokenPrivilege(token, 19, sec::kPrivilegeEnabled), err::kSuccess);
    EXPECT_FALSE(security.IsPrivilegeEnabled("SeShutdownPrivilege"));
    EXPECT_TRUE(security.IsPrivilegeEnabled(sec::kRestorePrivilege));

    EXPECT_EQ(security.AdjustTokenPrivilege(token, 18, 0), err::kSuccess);
    EXPECT_FALSE(security.IsPrivilegeEnabled(sec::kRestorePrivilege));
    EXPECT_EQ(security.CloseToken(token), err::kSuccess);
}

TEST_F(FakeSecurityTest, UnboundLibraryFailsTheBoundFunctionsOnlyAndUserNameCountsTheNul) {
    security.SetUnbound(true);
    const std::uint32_t subs[8] = {18};
    Sid sid = nullptr;
    EXPECT_EQ(security.AllocateAndInitializeSid({{0, 0, 0, 0, 0, 5}}, 1, subs, &sid),
              err::kProcNotFound);
    TokenHandle token = 0;
    EXPECT_EQ(security.OpenProcessToken(sec::kTokenQuery, &token), err::kProcNotFound);
    EXPECT_EQ(security.LiveSidCount() + security.OpenTokenCount(), 0u);
    // GetUserNameA is imported, not bound by name; its count includes the NUL.
    security.SetUserName("operator");
    char name[16];
    std::uint32_t chars = 8;  // one short
    EXPECT_EQ(security.GetUserName(name, &chars), err::kInsufficientBuffer);
    EXPECT_EQ(chars, 9u);
    ASSERT_EQ(security.GetUserName(name, &chars), err::kSuccess);
    EXPECT_STREQ(name, "operator");
    EXPECT_EQ(chars, 9u);
}

}  // namespace
}  // namespace qv::fake
