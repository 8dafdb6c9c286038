#include "security/machine_lock.h"

#include <gtest/gtest.h>

#include "fake/fake_machine.h"
#include "res/resource.h"

namespace qv {
namespace {

using fake::FakeMachine;

// The dialog's start: an administrator's dialog runs only while it holds the machine's run lock;
// while another run holds it the operator is asked again each time he retries, and any other
// answer closes; a lock that cannot be had stops it with the reason; anyone else's dialog does not
// ask for the lock at all.
TEST(MachineLockForDialog, AdministratorsHoldTheMachineOrCloseWithNothingDone) {
    {
        FakeMachine m;
        UniqueMachineLock lock(m.system);
        EXPECT_TRUE(HoldMachineForDialog(m.platform(), &lock));
        EXPECT_TRUE(lock);
        EXPECT_TRUE(m.system.MachineLockHeld());
        EXPECT_TRUE(m.messages.Shown().empty());
        lock.reset();
        EXPECT_FALSE(m.system.MachineLockHeld());
    }
    {
        FakeMachine m;
        UniqueMachineLock other(m.system);
        Win32Error error = err::kSuccess;
        ASSERT_EQ(m.system.AcquireMachineLock(0, other.put(), &error),
                  MachineLockOutcome::kAcquired);
        m.messages.QueueAnswer(mb::kIdRetry);
        m.messages.QueueAnswer(mb::kIdRetry);
        m.messages.QueueAnswer(mb::kIdCancel);
        UniqueMachineLock lock(m.system);
        EXPECT_FALSE(HoldMachineForDialog(m.platform(), &lock));
        EXPECT_FALSE(lock);
        ASSERT_EQ(m.messages.Shown().size(), 3u);
        for (const auto& box : m.messages.Shown()) {
            EXPECT_EQ(box.text, fake::ResourceString(IDS_MACHINE_BUSY));
            EXPECT_EQ(box.caption, fake::ResourceString(IDS_CAPTION));
            EXPECT_EQ(box.style, mb::kRetryCancel | mb::kIconExclamation);
        }
        // Each answer Retry tried again, at once: the operator is the one who waits.
        EXPECT_EQ(m.system.MachineLockTimeouts(), (std::vector<std::uint32_t>{0, 0, 0, 0}));
        // The other run lets go: the next start holds the machine.
        other.reset();
        EXPECT_TRUE(HoldMachineForDialog(m.platform(), &lock));
        EXPECT_TRUE(m.system.MachineLockHeld());
    }
    {
        FakeMachine m;
        m.system.InjectFault(fake::SysOp::kAcquireMachineLock, {}, err::kAccessDenied,
                             fake::kAlways);
        UniqueMachineLock lock(m.system);
        EXPECT_FALSE(HoldMachineForDialog(m.platform(), &lock));
        ASSERT_EQ(m.messages.Shown().size(), 1u);
        EXPECT_EQ(m.messages.Shown()[0].text,
                  fake::ResourceString(IDS_MACHINE_LOCK_FAILED) + "Access is denied.\r\n");
    }
    {
        FakeMachine m;
        m.security.SetAdministrator(false);
        m.system.InjectFault(fake::SysOp::kAcquireMachineLock, {}, err::kAccessDenied,
                             fake::kAlways);
        UniqueMachineLock lock(m.system);
        EXPECT_TRUE(HoldMachineForDialog(m.platform(), &lock));
        EXPECT_FALSE(lock);
        EXPECT_TRUE(m.system.MachineLockTimeouts().empty());
        EXPECT_TRUE(m.messages.Shown().empty());
    }
}

}  // namespace
}  // namespace qv
