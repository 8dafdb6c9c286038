// Users' hives on the system: loading under HKEY_USERS\<SID> needs the restore privilege, the
// hive bracket leaves nothing loaded and the privilege off, and the profile list holds the
// running user.
#include "security/profiles.h"
#include "security/token.h"
#include "windows_test_support.h"

namespace qv::win32::testing {
namespace {

constexpr char kValue[] = "Marker";

// A hive file holding one value, written by the system from a scratch key, and a SID text under
// which no hive is loaded.
class HiveOnSystem : public RealMachine {
  protected:
    void SetUp() override {
        ASSERT_EQ(::RegSetValueExA(key_.get(), kValue, 0, REG_SZ,
                                   reinterpret_cast<const BYTE*>("here"), 5),
                  ERROR_SUCCESS);
        // Saving a key asks for the backup privilege on Windows; the save checks it was there.
        (void)AdjustNamedPrivilege(os().security, true, "SeBackupPrivilege");
        ASSERT_EQ(::RegSaveKeyA(key_.get(), hive_.c_str(), nullptr), ERROR_SUCCESS);
        (void)AdjustNamedPrivilege(os().security, false, "SeBackupPrivilege");
    }
    void TearDown() override {
        // Never leave a hive of a test loaded, whatever failed.
        (void)AdjustNamedPrivilege(os().security, true, sec::kRestorePrivilege);
        ::RegUnLoadKeyA(HKEY_USERS, sid_.c_str());
        (void)AdjustNamedPrivilege(os().security, false, sec::kRestorePrivilege);
    }

    bool Mounted() {
        UniqueKey key = OpenKey(os().registry, kHkeyUsers, sid_, reg::kKeyRead);
        return static_cast<bool>(key);
    }

    ScratchKey key_;
    ScratchFolder folder_;
    std::string hive_ = folder_ / "ntuser.dat";
    std::string sid_ = "S-1-5-21-7-7-7-" + std::to_string(::GetCurrentProcessId());
};

TEST_F(HiveOnSystem, LoadsWithTheRestorePrivilegeAndUnloads) {
    ASSERT_TRUE(AdjustNamedPrivilege(os().security, true, sec::kRestorePrivilege));
    ASSERT_EQ(os().registry.LoadKey(kHkeyUsers, sid_, hive_), err::kSuccess);
    {
        UniqueKey root = OpenKey(os().registry, kHkeyUsers, sid_, reg::kKeyRead);
        ASSERT_TRUE(root);
        std::string data;
        EXPECT_EQ(os().registry.QueryValue(root.get(), kValue, 260, nullptr, &data, nullptr),
                  err::kSuccess);
        EXPECT_EQ(data, std::string("here", 5));
    }
    EXPECT_EQ(os().registry.UnLoadKey(kHkeyUsers, sid_), err::kSuccess);
    EXPECT_FALSE(Mounted());
}

TEST_F(HiveOnSystem, BracketLoadsFromTheProfileFolderAndLeavesNothingBehind) {
    // A profile whose folder holds the hive file, as the profile list names it.
    std::string profileKey = std::string(kProfileListKey) + sid_;
    {
        UniqueKey profile(os().registry);
        ASSERT_EQ(os().registry.CreateKey(kHkeyLocalMachine, profileKey, reg::kOptionNonVolatile,
                                          reg::kKeyReadWrite, profile.put(), nullptr),
                  err::kSuccess);
        std::string path = folder_.path();
        ASSERT_EQ(os().registry.SetValue(profile.get(), "ProfileImagePath", reg::kExpandSz,
                                         std::string(path.c_str(), path.size() + 1)),
                  err::kSuccess);
    }
    {
        HiveLease hive(Services{os(), false}, sid_);
        EXPECT_TRUE(hive.available());
        EXPECT_TRUE(hive.loadedHere());
        EXPECT_TRUE(Mounted());
        EXPECT_FALSE(IsPrivilegeEnabled(sec::kRestorePrivilege));
    }
    EXPECT_FALSE(Mounted());
    EXPECT_FALSE(IsPrivilegeEnabled(sec::kRestorePrivilege));

    EXPECT_EQ(os().registry.DeleteKey(kHkeyLocalMachine, profileKey), err::kSuccess);
}

TEST_F(RealMachine, RunningUserIsListedAndItsHiveIsUsedInPlace) {
    std::string sid = TokenUserSidText();
    std::vector<std::string> profiles;
    ASSERT_TRUE(ListProfileSids(os(), &profiles));
    EXPECT_NE(std::find(profiles.begin(), profiles.end(), sid), profiles.end()) << sid;

    {
        HiveLease hive(Services{os(), false}, sid);
        EXPECT_TRUE(hive.available());
        EXPECT_FALSE(hive.loadedHere());
        EXPECT_EQ(hive.Release(), err::kSuccess);
    }
    UniqueKey root = OpenKey(os().registry, kHkeyUsers, sid, reg::kKeyRead);
    EXPECT_TRUE(root);
}

}  // namespace
}  // namespace qv::win32::testing
