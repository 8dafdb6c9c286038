#include "app/messages.h"

#include <gtest/gtest.h>

#include "fake/fake_machine.h"

namespace qv {
namespace {

TEST(MessagesTest, SystemErrorBoxAddsNoSeparator) {
    fake::FakeMachine m;
    ShowSystemError(m.platform(), 5, "Prefix:");
    ASSERT_EQ(m.messages.Shown().size(), 1u);
    const auto& box = m.messages.Shown()[0];
    EXPECT_EQ(box.owner, 0u);
    EXPECT_EQ(box.text, "Prefix:" + m.system.FormatSystemMessage(5));
    EXPECT_EQ(box.caption, "Quorvane Error");
    EXPECT_EQ(box.style, 0x40u);
}

}  // namespace
}  // namespace qv
