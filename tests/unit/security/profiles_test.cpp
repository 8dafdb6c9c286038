#include "security/profiles.h"

#include <gtest/gtest.h>

#include <iterator>
#include <stdexcept>

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
    Services services() { return Services{m.platform(), debug}; }
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
    {
        HiveLease hive(services(), FakeMachine::kOperatorSid);
        EXPECT_TRUE(hive.available());
        EXPECT_FALSE(hive.loadedHere());
    }
    EXPECT_TRUE(m.registry.Log(fake::RegOp::kLoad).empty());
    EXPECT_TRUE(m.registry.Log(fake::RegOp::kUnload).empty());
    EXPECT_TRUE(m.registry.IsMounted(FakeMachine::kOperatorSid));
}

TEST_F(ProfilesTest, HiveLoadedHereIsUnloadedOnEveryPathWithThePrivilegeOff) {
    {
        HiveLease hive(services(), kAnn);
        ASSERT_TRUE(hive.available());
        EXPECT_TRUE(hive.loadedHere());
        EXPECT_TRUE(m.registry.IsLoadedByApp(kAnn));
        // The load needed the privilege, but the user's files are read and deleted while the
        // hive is loaded: the privilege is off again by then.
        EXPECT_FALSE(m.security.IsPrivilegeEnabled("SeRestorePrivilege"));
        EXPECT_TRUE(m.registry.KeyExists("HKU\\" + kAnn + "\\Software"));
    }
    EXPECT_FALSE(m.registry.IsMounted(kAnn));
    EXPECT_FALSE(m.security.IsPrivilegeEnabled("SeRestorePrivilege"));
    // Also when the code using the hive leaves by an exception.
    try {
        HiveLease hive(services(), kAnn);
        ASSERT_TRUE(hive.loadedHere());
        throw std::runtime_error("out");
    } catch (const std::runtime_error&) {
    }
    EXPECT_FALSE(m.registry.IsMounted(kAnn));
    EXPECT_EQ(m.registry.Log(fake::RegOp::kLoad), (std::vector<std::string>{kAnn, kAnn}));
    EXPECT_EQ(m.registry.Log(fake::RegOp::kUnload), (std::vector<std::string>{kAnn, kAnn}));
}

TEST_F(ProfilesTest, FailedLoadIsShownOnlyWithTheSwitch) {
    for (bool withSwitch : {false, true}) {
        debug = withSwitch;
        m.registry.InjectFault(RegOp::kLoad, kAnn, 32);
        HiveLease hive(services(), kAnn);
        EXPECT_FALSE(hive.available());
        EXPECT_FALSE(hive.loadedHere());
        EXPECT_FALSE(m.registry.IsMounted(kAnn));
        EXPECT_FALSE(m.security.IsPrivilegeEnabled("SeRestorePrivilege"));
    }
    // Without the restore privilege in the token the load fails with the system's reason; and
    // so does a hive file that is gone.
    m.security.SetHeldPrivileges({});
    EXPECT_FALSE(HiveLease(services(), kAnn).available());
    m.security.SetHeldPrivileges({"SeRestorePrivilege"});
    m.files.Remove(m.ProfileDir(kAnn) + "\\ntuser.dat");
    EXPECT_FALSE(HiveLease(services(), kAnn).available());
    ASSERT_EQ(m.messages.Shown().size(), 3u);
    EXPECT_EQ(m.messages.Shown()[0].text, Box("RegLoadKey error for ", kAnn, 32));
    EXPECT_EQ(m.messages.Shown()[0].caption, "Quorvane Error");
    EXPECT_EQ(m.messages.Shown()[0].owner, 0u);
    EXPECT_EQ(m.messages.Shown()[1].text, Box("RegLoadKey error for ", kAnn, 1314));
    EXPECT_EQ(m.messages.Shown()[2].text, Box("RegLoadKey error for ", kAnn, 2));
}

TEST_F(ProfilesTest, UnloadIsRetriedThenReportedAndAStuckHiveStaysTheToolsOwn) {
    HiveBook book;
    {
        HiveLease hive(services(), kAnn, &book);
        ASSERT_TRUE(hive.loadedHere());
        // A scanner holds a key for a moment: the second attempt succeeds, nothing is shown.
        m.registry.InjectFault(RegOp::kUnload, kAnn, 5, 1);
        EXPECT_EQ(hive.Release(), err::kSuccess);
    }
    EXPECT_FALSE(m.registry.IsMounted(kAnn));
    EXPECT_EQ(m.system.Sleeps().size(), 1u);
    EXPECT_TRUE(m.messages.Shown().empty());

    const std::size_t attempts = std::size(HiveLease::kUnloadRetryWaits) + 1;
    {
        HiveLease hive(services(), kAnn, &book);
        ASSERT_TRUE(hive.loadedHere());
        // Held for good: every attempt fails, and the operator is told even without "-d".
        UniqueKey open = OpenKey(m.registry, kHkeyUsers, kAnn + "\\Software", reg::kKeyRead);
        ASSERT_TRUE(open);
        EXPECT_EQ(hive.Release(), err::kAccessDenied);
    }
    EXPECT_EQ(m.registry.Log(fake::RegOp::kUnload).size(), 2 + attempts);
    EXPECT_TRUE(m.registry.IsMounted(kAnn));
    EXPECT_TRUE(book.IsStuck(kAnn));
    ASSERT_EQ(m.messages.Shown().size(), 1u);
    EXPECT_EQ(m.messages.Shown()[0].text, Box("RegUnLoadKey error for ", kAnn, 5));
    // A later lease does not take the stuck hive for a logged-on user's: it unloads it.
    {
        HiveLease hive(services(), kAnn, &book);
        EXPECT_TRUE(hive.available());
        EXPECT_TRUE(hive.loadedHere());
    }
    EXPECT_FALSE(m.registry.IsMounted(kAnn));
    EXPECT_FALSE(book.IsStuck(kAnn));
    EXPECT_FALSE(m.security.IsPrivilegeEnabled("SeRestorePrivilege"));
}

TEST_F(ProfilesTest, NamesThatAreNotAHiveAreNotLoaded) {
    for (std::string sid : {std::string(), kAnn + "\\Software"}) {
        HiveLease hive(services(), sid);
        EXPECT_FALSE(hive.available());
        EXPECT_FALSE(hive.loadedHere());
    }
    EXPECT_TRUE(m.registry.Log(fake::RegOp::kLoad).empty());
}

}  // namespace
}  // namespace qv
