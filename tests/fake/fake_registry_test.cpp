// The fake registry must answer as Windows does. The contract tests (tests/contract) pin what the
// fake shares with the system's adapters; these tests pin the Windows facts that Wine cannot show
// (a loaded hive written back, unloading refused while a key is open) or that no contract test
// reaches.
#include "fake/fake_registry.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

namespace qv::fake {
namespace {

constexpr char kSid[] = "S-1-5-21-7-8-9-1001";  // a logged-on user, HKEY_CURRENT_USER
constexpr char kAnnSid[] = "S-1-5-21-7-8-9-1002";
constexpr char kAnnHive[] = "C:\\Documents and Settings\\ann\\ntuser.dat";
constexpr HKey kSentinel = 0xBAD0;

using Strings = std::vector<std::string>;

class RegistryTest : public ::testing::Test {
  protected:
    RegistryTest() {
        FakeRegistry::Wiring wiring;
        wiring.restorePrivilege = [] { return true; };
        wiring.fileExists = [](std::string_view file) { return file != "C:\\nowhere.dat"; };
        wiring.createFile = [](std::string_view) { return err::kSuccess; };
        reg.Wire(wiring);
        reg.MountSystemHive(kSid);
        reg.SetCurrentUserSid(kSid);
        reg.SetString(std::string(kAnnHive) + "|Software\\Brennard", "V", "before");
        reg.CreateKey("HKLM\\Software");
    }

    HKey Open(HKey parent, std::string_view path, std::uint32_t access = reg::kKeyRead) {
        HKey k = kSentinel;
        EXPECT_EQ(err::kSuccess, reg.OpenKey(parent, path, access, &k)) << path;
        return k;
    }
    void Close(HKey k) { EXPECT_EQ(err::kSuccess, reg.CloseKey(k)); }
    Win32Error Load(std::string_view name = kAnnSid, std::string_view file = kAnnHive) {
        return reg.LoadKey(kHkeyUsers, name, file);
    }
    std::string AnnKey(std::string_view below) {
        return std::string("HKU\\") + kAnnSid + "\\" + std::string(below);
    }

    FakeRegistry reg;
};

TEST_F(RegistryTest, AnEmptyNameOnARootGivesTheRootItself) {
    for (HKey root : {kHkeyLocalMachine, kHkeyUsers, kHkeyCurrentUser}) {
        EXPECT_EQ(root, Open(root, ""));
        EXPECT_EQ(err::kSuccess, reg.CloseKey(root));
    }
    EXPECT_TRUE(reg.OpenKeyPaths().empty());
    // On an ordinary key an empty name is a second handle of its own.
    HKey a = Open(kHkeyLocalMachine, "Software");
    HKey b = Open(a, "");
    EXPECT_NE(a, b);
    EXPECT_EQ(reg.OpenKeyPaths(), (Strings{"HKLM\\Software", "HKLM\\Software"}));
    Close(a);
    Close(b);
}

TEST_F(RegistryTest, CreationRefusesKeysRightBelowHkeyUsersAndLeavesNothingHalfMade) {
    HKey k = kSentinel;
    EXPECT_EQ(err::kAccessDenied,
              reg.CreateKey(kHkeyUsers, "Intruder", 0, reg::kKeyReadWrite, &k, nullptr));
    EXPECT_FALSE(reg.IsMounted("Intruder"));
    // A name over the limit (a contract test) refuses the whole path: the missing key before it
    // is not made either.
    EXPECT_EQ(err::kInvalidParameter,
              reg.CreateKey(kHkeyCurrentUser, "Software\\New\\" + std::string(256, 'k'), 0,
                            reg::kKeyReadWrite, &k, nullptr));
    EXPECT_EQ(0u, k);
    EXPECT_FALSE(reg.KeyExists("HKCU\\Software\\New"));
}

TEST_F(RegistryTest, HandlesKeepTheAccessTheyWereOpenedWith) {
    reg.SetString("HKCU\\Software\\Brennard", "V", "old");
    HKey read = Open(kHkeyCurrentUser, "Software\\Brennard", reg::kKeyRead);
    EXPECT_EQ(err::kAccessDenied, reg.SetValue(read, "V", reg::kSz, std::string("new") + '\0'));
    EXPECT_EQ("old", reg.GetString("HKCU\\Software\\Brennard", "V"));
    HKey write = Open(kHkeyCurrentUser, "Software\\Brennard", reg::kKeyWrite);
    HKey enumerate = Open(kHkeyCurrentUser, "Software\\Brennard", 0x8 /* ENUMERATE_SUB_KEYS */);
    std::string s;
    EXPECT_EQ(err::kAccessDenied, reg.EnumKey(write, 0, 260, &s));
    EXPECT_EQ(err::kAccessDenied, reg.QueryValue(write, "V", 260, nullptr, &s, nullptr));
    EXPECT_EQ(err::kAccessDenied, reg.EnumValue(enumerate, 0, &s, nullptr, nullptr));
    for (HKey k : {read, write, enumerate}) Close(k);
}

// The contract test sorts values, as Windows promises no order; the fake keeps them in the order
// first set, as the system does.
TEST_F(RegistryTest, ValuesEnumerateInTheOrderFirstSet) {
    reg.SetString("HKLM\\Software\\E", "Zeta", "z");
    reg.SetRawValue("HKLM\\Software\\E", "alpha", reg::kBinary, std::string("\0\x02", 2));
    reg.SetString("HKLM\\Software\\E", "ZETA", "again");
    HKey k = Open(kHkeyLocalMachine, "Software\\E");
    std::vector<std::tuple<std::string, std::uint32_t, std::string>> seen;
    std::string name, data;
    std::uint32_t type = 0;
    for (std::uint32_t i = 0; reg.EnumValue(k, i, &name, &type, &data) == err::kSuccess; ++i) {
        seen.emplace_back(name, type, data);
    }
    EXPECT_EQ(seen, (std::vector<std::tuple<std::string, std::uint32_t, std::string>>{
                        {"Zeta", reg::kSz, std::string("again\0", 6)},
                        {"alpha", reg::kBinary, std::string("\0\x02", 2)}}));
    Close(k);
}

TEST_F(RegistryTest, LoadAndUnloadRefusals) {
    EXPECT_EQ(err::kFileNotFound, Load(kAnnSid, "C:\\nowhere.dat"));
    EXPECT_EQ(err::kInvalidParameter, Load(kAnnSid, ""));
    ASSERT_EQ(err::kSuccess, Load());
    EXPECT_EQ(err::kSharingViolation, Load("S-1-5-21-7-8-9-1003"));
    EXPECT_EQ(reg.Log(RegOp::kLoad), (Strings{kAnnSid, kAnnSid, kAnnSid, "S-1-5-21-7-8-9-1003"}));
    // A hive the system loaded stays; a name that is not mounted is not found.
    EXPECT_EQ(err::kAccessDenied, reg.UnLoadKey(kHkeyUsers, kSid));
    EXPECT_TRUE(reg.IsMounted(kSid));
    EXPECT_EQ(err::kFileNotFound, reg.UnLoadKey(kHkeyUsers, "S-1-5-21-7-8-9-1003"));
    EXPECT_EQ(reg.Log(RegOp::kUnload), (Strings{kSid, "S-1-5-21-7-8-9-1003"}));
}

// Windows writes a loaded hive back to its file; Wine does not, so only the fake can show it.
TEST_F(RegistryTest, ChangesSurviveUnloadAndReload) {
    ASSERT_EQ(err::kSuccess, Load());
    HKey k = Open(kHkeyUsers, std::string(kAnnSid) + "\\Software", reg::kKeyReadWrite);
    ASSERT_EQ(err::kSuccess, reg.DeleteKey(k, "Brennard"));
    HKey added = kSentinel;
    ASSERT_EQ(err::kSuccess, reg.CreateKey(k, "Added", 0, reg::kKeyReadWrite, &added, nullptr));
    EXPECT_EQ(err::kSuccess, reg.FlushKey(k));
    Close(added);
    Close(k);
    EXPECT_EQ(reg.Log(RegOp::kFlush), Strings{kAnnSid});
    ASSERT_EQ(err::kSuccess, reg.UnLoadKey(kHkeyUsers, kAnnSid));
    EXPECT_FALSE(reg.KeyExists(AnnKey("Software")));
    ASSERT_EQ(err::kSuccess, Load());
    EXPECT_EQ(reg.SubKeyNames(AnnKey("Software")), Strings{"Added"});
}

// The file name is resolved as the system resolves a path ("/", doubled "\", "." and ".."), and
// compared ignoring case; so are the names under HKEY_USERS.
TEST_F(RegistryTest, HivesAreFoundUnderEverySpellingOfTheirFileAndName) {
    reg.SetString("c:/documents and settings/ANN/./\\NTUSER.DAT|Software\\Brennard", "W", "w");
    EXPECT_EQ(err::kAlreadyExists, Load("s-1-5-21-7-8-9-1001"));
    ASSERT_EQ(err::kSuccess, Load("s-1-5-21-7-8-9-1002",
                                  "C:/Documents and Settings/x/../ann/."
                                  "\\\\ntuser.dat"));
    EXPECT_TRUE(reg.IsMounted(kAnnSid));
    EXPECT_EQ("before", reg.GetString(AnnKey("Software\\Brennard"), "V"));
    EXPECT_EQ("w", reg.GetString(AnnKey("Software\\Brennard"), "W"));
    ASSERT_EQ(err::kSuccess, reg.UnLoadKey(kHkeyUsers, kAnnSid));
    EXPECT_FALSE(reg.IsMounted("s-1-5-21-7-8-9-1002"));
    EXPECT_EQ(err::kFileNotFound, reg.UnLoadKey(kHkeyUsers, kAnnSid));
}

// Windows refuses to unload a hive while a key of it is open (Wine unloads anyway), a deleted
// key's handle included; keys open in other hives do not hold it.
TEST_F(RegistryTest, UnloadWaitsForEveryHandleOfTheHive) {
    ASSERT_EQ(err::kSuccess, Load());
    HKey root = Open(kHkeyUsers, kAnnSid);
    HKey deleted = Open(kHkeyUsers, std::string(kAnnSid) + "\\Software\\Brennard");
    HKey other = Open(kHkeyUsers, kSid);
    HKey machine = Open(kHkeyLocalMachine, "Software");
    reg.DeleteTree(AnnKey("Software\\Brennard"));
    Close(root);
    EXPECT_EQ(err::kInvalidHandle, reg.CloseKey(root));
    EXPECT_EQ(err::kAccessDenied, reg.UnLoadKey(kHkeyUsers, kAnnSid));
    EXPECT_TRUE(reg.IsMounted(kAnnSid));
    Close(deleted);
    EXPECT_EQ(err::kSuccess, reg.UnLoadKey(kHkeyUsers, kAnnSid));
    // Handles opened and closed while it was loaded do not hold it the next time.
    ASSERT_EQ(err::kSuccess, Load());
    EXPECT_EQ(err::kSuccess, reg.UnLoadKey(kHkeyUsers, kAnnSid));
    Close(machine);
    Close(other);
}

}  // namespace
}  // namespace qv::fake
