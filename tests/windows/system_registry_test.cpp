// The system and registry adapters on the system, beyond the contract tests (tests/contract): the
// current directory's buffer, the C runtime's local time, names that hold a NUL and the port's
// values of the predefined roots.
#include "windows_test_support.h"

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
