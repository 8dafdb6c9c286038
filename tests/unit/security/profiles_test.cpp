#include "security/profiles.h"

#include <gtest/gtest.h>

#include "fake/fake_machine.h"

namespace qv {
namespace {

using fake::FakeMachine;
using fake::RegOp;

const std::string kAnn = "S-1-5-21-1-2-3-1001";
const std::string kList = fake::kProfileListKey;

class ProfilesTest : public ::testing::Test {
  protected:
    void SetUp() override { m.AddUser({kAnn, "ann"}); }
    // Every key and token opened is closed again.
    void TearDown() override {
        EXPECT_EQ(m.registry.OpenKeyPaths(), std::vector<std::string>{});
        EXPECT_EQ(m.security.OpenTokenCount(), 0u);
        EXPECT_EQ(m.security.LiveSidCount(), 0u);
    }
    void SetImagePath(std::string_view sid, std::string_view path) {
        m.registry.SetString(kList + "\\" + std::string(sid), "ProfileImagePath", path,
                             reg::kExpandSz);
    }
    std::string HivePath(std::string_view sid) {
        std::string path = "none";
        return ProfileHivePath(m.platform(), sid, &path) ? path : "failed";
    }
    bool Switch(std::string_view sid, bool load, bool* loadedHere) {
        return SwitchUserHive(Services{m.platform(), debug}, sid, load, loadedHere);
    }
    std::string Box(std::string_view prefix, std::string_view sid, Win32Error code) {
        return std::string(prefix) + std::string(sid) + ": " + m.system.FormatSystemMessage(code);
    }

    FakeMachine m;
    bool debug = false;
};

TEST_F(ProfilesTest, ListKeepsEnumerationOrderAndAppends) {
    m.AddUser({"S-1-5-21-1-2-3-1003", "carl"});
    m.AddUser({"S-1-5-21-1-2-3-1002", "bob"});
    std::vector<std::string> list = {"kept"};
    EXPECT_TRUE(ListProfileSids(m.platform(), &list));
    // A hive keeps its sub keys sorted by name.
    EXPECT_EQ(list, (std::vector<std::string>{"kept", kAnn, "S-1-5-21-1-2-3-1002",
                                              "S-1-5-21-1-2-3-1003"}));
}

TEST_F(ProfilesTest, MissingListLeavesTheListAlone) {
    m.registry.DeleteTree(kList);
    std::vector<std::string> list = {"kept"};
    EXPECT_FALSE(ListProfileSids(m.platform(), &list));
    EXPECT_EQ(list, std::vector<std::string>{"kept"});
}

TEST_F(ProfilesTest, NameOf260BytesEndsTheList) {
    const std::string fits = "A" + std::string(258, 'x');  // 259 bytes and the NUL
    m.registry.CreateKey(kList + "\\" + fits);
    m.registry.CreateKey(kList + "\\B" + std::string(259, 'x'));
    std::vector<std::string> list;
    EXPECT_TRUE(ListProfileSids(m.platform(), &list));
    EXPECT_EQ(list, std::vector<std::string>{fits});  // kAnn sorts after the long name
}

TEST_F(ProfilesTest, HivePathOfAFolderOrAFile) {
    EXPECT_EQ(HivePath(kAnn), "C:\\Documents and Settings\\ann\\ntuser.dat");
    std::string folder;
    EXPECT_TRUE(ProfileFolder(m.platform(), kAnn, &folder));
    EXPECT_EQ(folder, "C:\\Documents and Settings\\ann");

    m.system.SetEnv("SystemDrive", "C:");
    SetImagePath(kAnn, "%SystemDrive%\\Documents and Settings\\ann");
    EXPECT_EQ(HivePath(kAnn), "C:\\Documents and Settings\\ann\\ntuser.dat");

    m.files.AddFile("C:\\Hives\\ann.dat");
    SetImagePath(kAnn, "C:\\Hives\\ann.dat");
    EXPECT_EQ(HivePath(kAnn), "C:\\Hives\\ann.dat");
    SetImagePath(kAnn, "C:\\Gone");  // not a folder either
    EXPECT_EQ(HivePath(kAnn), "C:\\Gone");
}

TEST_F(ProfilesTest, HivePathFailures) {
    EXPECT_EQ(HivePath("S-1-5-21-9-9-9-9"), "failed");
    m.registry.CreateKey(kList + "\\S-1-5-21-7");  // no "ProfileImagePath"
    EXPECT_EQ(HivePath("S-1-5-21-7"), "failed");
    m.system.SetEnv("LONG", std::string(300, 'x'));
    SetImagePath(kAnn, "C:\\%LONG%");
    EXPECT_EQ(HivePath(kAnn), "failed");
    m.registry.SetRawValue(kList + "\\" + kAnn, "ProfileImagePath", reg::kExpandSz,
                           std::string(260, 'y'));  // no room for the NUL
    EXPECT_EQ(HivePath(kAnn), "failed");
}

TEST_F(ProfilesTest, ProfileKeyPathMustFitItsBufferOf1024Bytes) {
    // A profile key whose path below HKEY_LOCAL_MACHINE is `length` bytes, in components short
    // enough for the registry, with a usable image path.
    auto profileOfPathLength = [&](std::size_t length) {
        const std::size_t sidLength = length - std::string_view(kProfileListKey).size();
        std::string sid;
        while (sid.size() < sidLength) {
            if (!sid.empty()) sid += '\\';
            sid += std::string(200, 's');
        }
        sid.resize(sidLength);
        SetImagePath(sid, "C:\\Documents and Settings\\ann");
        return sid;
    };
    // 1,023 bytes and the NUL fill the buffer; one byte more does not fit.
    EXPECT_EQ(HivePath(profileOfPathLength(1023)), "C:\\Documents and Settings\\ann\\ntuser.dat");
    EXPECT_EQ(HivePath(profileOfPathLength(1024)), "failed");
}

TEST_F(ProfilesTest, HiveFileNameMustFitTheBuffer) {
    const std::string longest = "C:\\" + std::string(245, 'p');  // 248 + "\ntuser.dat" = 259
    m.files.AddDirectory(longest);
    m.files.AddDirectory(longest + "q");
    SetImagePath(kAnn, longest);
    EXPECT_EQ(HivePath(kAnn), longest + "\\ntuser.dat");
    SetImagePath(kAnn, longest + "q");
    EXPECT_EQ(HivePath(kAnn), "failed");
}

TEST_F(ProfilesTest, LoadedHiveIsUsedInPlace) {
    bool loadedHere = true;
    EXPECT_TRUE(Switch(FakeMachine::kOperatorSid, true, &loadedHere));
    EXPECT_FALSE(loadedHere);
    EXPECT_TRUE(Switch(FakeMachine::kOperatorSid, false, &loadedHere));
    EXPECT_TRUE(m.registry.LoadLog().empty());
    EXPECT_TRUE(m.registry.UnloadLog().empty());
    EXPECT_TRUE(m.registry.IsMounted(FakeMachine::kOperatorSid));
}

TEST_F(ProfilesTest, HiveLoadedHereIsUnloadedWithThePrivilegeOff) {
    bool loadedHere = false;
    ASSERT_TRUE(Switch(kAnn, true, &loadedHere));
    EXPECT_TRUE(loadedHere);
    EXPECT_TRUE(m.registry.IsLoadedByApp(kAnn));
    // The load needed the privilege, but the user's files are read and deleted while the hive is
    // loaded: the privilege is off again by then.
    EXPECT_FALSE(m.security.IsPrivilegeEnabled("SeRestorePrivilege"));
    EXPECT_TRUE(m.registry.KeyExists("HKU\\" + kAnn + "\\Software"));
    EXPECT_TRUE(Switch(kAnn, false, &loadedHere));
    EXPECT_FALSE(m.registry.IsMounted(kAnn));
    EXPECT_FALSE(m.security.IsPrivilegeEnabled("SeRestorePrivilege"));
    EXPECT_EQ(m.registry.LoadLog(), std::vector<std::string>{kAnn});
    EXPECT_EQ(m.registry.UnloadLog(), std::vector<std::string>{kAnn});
}

TEST_F(ProfilesTest, FailedLoadIsShownOnlyWithTheSwitch) {
    for (bool withSwitch : {false, true}) {
        debug = withSwitch;
        m.registry.InjectFault(RegOp::Load, kAnn, 32);
        bool loadedHere = false;
        EXPECT_FALSE(Switch(kAnn, true, &loadedHere));
        EXPECT_TRUE(loadedHere);
        EXPECT_FALSE(m.registry.IsMounted(kAnn));
        EXPECT_FALSE(m.security.IsPrivilegeEnabled("SeRestorePrivilege"));
    }
    // Without the restore privilege in the token the load fails with the system's reason.
    m.security.SetHeldPrivileges({});
    bool loadedHere = false;
    EXPECT_FALSE(Switch(kAnn, true, &loadedHere));
    ASSERT_EQ(m.messages.Shown().size(), 2u);
    EXPECT_EQ(m.messages.Shown()[0].text, Box("RegLoadKey error for ", kAnn, 32));
    EXPECT_EQ(m.messages.Shown()[0].caption, "Quorvane Error");
    EXPECT_EQ(m.messages.Shown()[0].owner, 0u);
    EXPECT_EQ(m.messages.Shown()[1].text, Box("RegLoadKey error for ", kAnn, 1314));
}

TEST_F(ProfilesTest, UnloadWithAnOpenKeyFails) {
    debug = true;
    bool loadedHere = false;
    ASSERT_TRUE(Switch(kAnn, true, &loadedHere));
    {
        UniqueKey open = OpenKey(m.registry, kHkeyUsers, kAnn + "\\Software", reg::kKeyRead);
        ASSERT_TRUE(open);
        EXPECT_FALSE(Switch(kAnn, false, &loadedHere));
    }
    EXPECT_TRUE(m.registry.IsMounted(kAnn));
    EXPECT_FALSE(m.security.IsPrivilegeEnabled("SeRestorePrivilege"));
    ASSERT_EQ(m.messages.Shown().size(), 1u);
    EXPECT_EQ(m.messages.Shown()[0].text, Box("RegUnLoadKey error for ", kAnn, 5));
}

TEST_F(ProfilesTest, NamesThatAreNotAHiveAreNotLoaded) {
    for (std::string sid : {std::string(), kAnn + "\\Software"}) {
        bool loadedHere = false;
        EXPECT_FALSE(Switch(sid, true, &loadedHere));
        EXPECT_FALSE(loadedHere);
    }
    EXPECT_TRUE(m.registry.LoadLog().empty());
}

}  // namespace
}  // namespace qv
