#include "security/token.h"

#include <gtest/gtest.h>

#include "fake/fake_machine.h"

namespace qv {
namespace {

using fake::FakeMachine;
using fake::SecOp;

class TokenTest : public ::testing::Test {
  protected:
    // The token is closed and the Administrators SID freed on every path.
    void TearDown() override {
        EXPECT_EQ(m.security.OpenTokenCount(), 0u);
        EXPECT_EQ(m.security.LiveSidCount(), 0u);
        EXPECT_EQ(m.security.BadFreeSidCount(), 0u);
    }
    FakeMachine m;
};

TEST_F(TokenTest, AdministratorsGroupCountsOnlyWhenEnabledAndNotDenyOnly) {
    // 0x4 enabled only, 0xF mandatory and enabled: members.
    for (std::uint32_t attributes : {0x4u, 0xFu}) {
        m.security.SetTokenGroups(
            {{"S-1-1-0", 7}, {"S-1-5-32-545", 7}, {"S-1-5-32-544", attributes}});
        EXPECT_TRUE(IsMemberOfAdministrators(m.platform())) << attributes;
    }
    // 0x10 deny-only, 0x14 deny-only with the enabled bit, 0 disabled, 0x3 mandatory and enabled
    // by default but not enabled: no membership.
    for (std::uint32_t attributes : {0x10u, 0x14u, 0x0u, 0x3u}) {
        m.security.SetTokenGroups(
            {{"S-1-1-0", 7}, {"S-1-5-32-545", 7}, {"S-1-5-32-544", attributes}});
        EXPECT_FALSE(IsMemberOfAdministrators(m.platform())) << attributes;
    }
    // An unelevated administrator's token under UAC.
    m.security.SetAdministrator(fake::FakeSecurity::AdminGroup::kDenyOnly);
    EXPECT_FALSE(IsMemberOfAdministrators(m.platform()));
    m.security.SetAdministrator(fake::FakeSecurity::AdminGroup::kEnabled);
    EXPECT_TRUE(IsMemberOfAdministrators(m.platform()));
    EXPECT_TRUE(m.messages.Shown().empty());
}

TEST_F(TokenTest, OtherGroupsAreNotAdministrators) {
    m.security.SetTokenGroups(
        {{"S-1-5-32-545", 7}, {"S-1-5-544", 7}, {"S-1-5-32-544-1", 7}, {"S-1-5-21-1-2-3-544", 7}});
    EXPECT_FALSE(IsMemberOfAdministrators(m.platform()));
    m.security.SetTokenGroups({});
    EXPECT_FALSE(IsMemberOfAdministrators(m.platform()));
    EXPECT_TRUE(m.messages.Shown().empty());
}

TEST_F(TokenTest, FailuresAnswerNotAdministratorSilently) {
    for (SecOp op : {SecOp::kOpenToken, SecOp::kTokenInfoSize, SecOp::kAllocate}) {
        m.security.InjectFault(op, {}, 5);
        EXPECT_FALSE(IsMemberOfAdministrators(m.platform()));
    }
    EXPECT_TRUE(m.messages.Shown().empty());
}

TEST_F(TokenTest, FailedGroupQueryIsShown) {
    m.security.InjectFault(SecOp::kTokenInfo, {}, 5);
    EXPECT_FALSE(IsMemberOfAdministrators(m.platform()));
    ASSERT_EQ(m.messages.Shown().size(), 1u);
    const auto& box = m.messages.Shown()[0];
    EXPECT_EQ(box.text, "GetTokenInformation" + m.system.FormatSystemMessage(5));
    EXPECT_EQ(box.caption, "Quorvane Error");
    EXPECT_EQ(box.style, 0x40u);
    EXPECT_EQ(box.owner, 0u);
}

TEST_F(TokenTest, PrivilegeSwitch) {
    EXPECT_TRUE(AdjustNamedPrivilege(m.security, true, "SeRestorePrivilege"));
    EXPECT_TRUE(m.security.IsPrivilegeEnabled("SeRestorePrivilege"));
    EXPECT_TRUE(AdjustNamedPrivilege(m.security, false, "SeRestorePrivilege"));
    EXPECT_FALSE(m.security.IsPrivilegeEnabled("SeRestorePrivilege"));
    EXPECT_TRUE(AdjustNamedPrivilege(m.security, false, "SeRestorePrivilege"));  // already off
}

TEST_F(TokenTest, PrivilegeNotHeldStillSwitchesSuccessfully) {
    m.security.SetHeldPrivileges({});
    EXPECT_TRUE(AdjustNamedPrivilege(m.security, true, "SeRestorePrivilege"));
    EXPECT_FALSE(m.security.IsPrivilegeEnabled("SeRestorePrivilege"));
}

TEST_F(TokenTest, PrivilegeSwitchFailures) {
    EXPECT_FALSE(AdjustNamedPrivilege(m.security, true, "SeNoSuchPrivilege"));
    for (SecOp op :
         {SecOp::kOpenToken, SecOp::kLookupPrivilege, SecOp::kAdjust, SecOp::kCloseToken}) {
        m.security.InjectFault(op, {}, 6);
        EXPECT_FALSE(AdjustNamedPrivilege(m.security, true, "SeRestorePrivilege"));
    }
}

}  // namespace
}  // namespace qv
