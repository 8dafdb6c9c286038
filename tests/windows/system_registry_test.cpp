// The system and registry adapters on the system, beyond the contract tests (tests/contract): the
// current directory's buffer, the C runtime's local time, the machine's run lock, names that hold a
// NUL and the port's values of the predefined roots.
#include "windows_test_support.h"
// The Windows headers first, then everything that builds on them.
#include <aclapi.h>
#include <sddl.h>

#include <string>
#include <thread>

namespace qv::win32::testing {
namespace {

class SystemOnWindows : public ::testing::Test {
  protected:
    std::unique_ptr<ISystem> owner_ = MakeSystem();
    ISystem& system_ = *owner_;
};

TEST_F(SystemOnWindows, CurrentDirectoryMustFitWithItsNul) {
    ScratchFolder folder;
    char previous[MAX_PATH] = {};
    ::GetCurrentDirectoryA(MAX_PATH, previous);
    ASSERT_TRUE(::SetCurrentDirectoryA(folder.path().c_str()));
    const auto length = static_cast<std::uint32_t>(folder.path().size());
    std::string directory = "unchanged";
    EXPECT_EQ(system_.GetCurrentDirectory(length, &directory), 0u);
    EXPECT_EQ(directory, "unchanged");
    EXPECT_EQ(system_.GetCurrentDirectory(length + 1, &directory), length);
    EXPECT_EQ(directory, folder.path());
    ::SetCurrentDirectoryA(previous);
}

TEST_F(SystemOnWindows, LocalTimeRoundTripStopsBefore1970) {
    // Away from a daylight-saving change the round trip gives the time back.
    std::int64_t back = 0;
    ASSERT_TRUE(system_.LocalTimeRoundTrip(1136073600, &back));  // 2006-01-01
    EXPECT_EQ(back, 1136073600);
    // The C runtime has no local time before 1970, so none before 1900 either.
    EXPECT_FALSE(system_.LocalTimeRoundTrip(-1, &back));
    EXPECT_FALSE(system_.LocalTimeRoundTrip(-2208988801LL, &back));  // 1899-12-31
}

// The machine's run lock is the mutex that every version of the tool names, in the namespace all
// sessions share, protected, for SYSTEM and the Administrators alone. Another thread does not get
// it while it is held; one that takes it once it is free and ends without letting go leaves it
// abandoned, which the next run acquires.
TEST_F(SystemOnWindows, MachineLockIsTheAdministratorsGlobalMutex) {
    UniqueMachineLock lock(system_);
    Win32Error error = err::kInvalidParameter;
    ASSERT_EQ(system_.AcquireMachineLock(0, lock.put(), &error), MachineLockOutcome::kAcquired);
    UniqueKernelHandle mutex(
        ::OpenMutexA(SYNCHRONIZE | READ_CONTROL, FALSE, "Global\\Quorvane.MachineRun"));
    ASSERT_TRUE(mutex) << ::GetLastError();

    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR raw = nullptr;
    ASSERT_EQ(::GetSecurityInfo(mutex.get(), SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                nullptr, &dacl, nullptr, &raw),
              static_cast<DWORD>(ERROR_SUCCESS));
    UniqueLocalMemory descriptor(raw);
    char* text = nullptr;
    ASSERT_TRUE(::ConvertSecurityDescriptorToStringSecurityDescriptorA(
        raw, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text, nullptr));
    UniqueLocalMemory textOwner(text);
    // Windows stores the generic right as the mutex's own rights (MUTEX_ALL_ACCESS).
    const std::string sddl = text;
    EXPECT_TRUE(sddl == "D:P(A;;GA;;;SY)(A;;GA;;;BA)" ||
                sddl == "D:P(A;;0x1f0001;;;SY)(A;;0x1f0001;;;BA)")
        << sddl;

    auto waitElsewhere = [&mutex] {
        DWORD result = WAIT_FAILED;
        std::thread other([&] { result = ::WaitForSingleObject(mutex.get(), 0); });
        other.join();
        return result;
    };
    EXPECT_EQ(waitElsewhere(), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_EQ(lock.close(), err::kSuccess);
    EXPECT_EQ(waitElsewhere(), static_cast<DWORD>(WAIT_OBJECT_0));  // and ends holding it
    EXPECT_EQ(system_.AcquireMachineLock(0, lock.put(), &error), MachineLockOutcome::kAcquired);
    EXPECT_EQ(lock.close(), err::kSuccess);
}

class RegistryOnWindows : public ::testing::Test {
  protected:
    HKey Scratch() { return FromSystemKey(key_.get()); }
    ScratchKey key_;
    std::unique_ptr<IRegistry> owner_ = MakeRegistry();
    IRegistry& registry_ = *owner_;
};

TEST_F(RegistryOnWindows, DeletionRefusesCutNames) {
    UniqueKey child(registry_);
    ASSERT_EQ(registry_.CreateKey(Scratch(), "victim\\child", 0, reg::kKeyReadWrite, child.put(),
                                  nullptr),
              err::kSuccess);
    child.reset();
    // Cut at its NUL the name would be another key's, the child's, which must stay.
    EXPECT_EQ(registry_.DeleteKey(Scratch(), std::string("victim\\child\0x", 14)),
              err::kInvalidParameter);
    EXPECT_TRUE(OpenKey(registry_, Scratch(), "victim\\child", reg::kKeyRead));
    EXPECT_EQ(registry_.DeleteKey(Scratch(), "victim\\child"), err::kSuccess);
    EXPECT_EQ(registry_.DeleteKey(Scratch(), "victim"), err::kSuccess);
}

TEST_F(RegistryOnWindows, PredefinedRootsAreReachedByTheirPortValues) {
    UniqueKey software = OpenKey(registry_, kHkeyCurrentUser, "Software", reg::kKeyRead);
    EXPECT_TRUE(software);
    UniqueKey profiles =
        OpenKey(registry_, kHkeyLocalMachine,
                "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\", reg::kKeyRead);
    EXPECT_TRUE(profiles);
    // An empty sub key opens the root itself; whatever handle comes back enumerates it and closes.
    HKey root = 0;
    ASSERT_EQ(registry_.OpenKey(kHkeyCurrentUser, "", reg::kKeyRead, &root), err::kSuccess);
    std::string name;
    EXPECT_EQ(registry_.EnumKey(root, 0, 260, &name), err::kSuccess);
    EXPECT_EQ(registry_.CloseKey(root), err::kSuccess);
}

}  // namespace
}  // namespace qv::win32::testing
