// The fake registry must answer as Windows does; these tests pin the rules the tool's code
// depends on.
#include "fake/fake_registry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <tuple>
#include <vector>

namespace qv::fake {
namespace {

constexpr char kSid[] = "S-1-5-21-7-8-9-1001";  // a logged-on user, HKEY_CURRENT_USER
constexpr char kAnnSid[] = "S-1-5-21-7-8-9-1002";
constexpr char kAnnHive[] = "C:\\Documents and Settings\\ann\\ntuser.dat";
constexpr HKey kSentinel = 0xBAD0;

class RegistryTest : public ::testing::Test {
  protected:
    RegistryTest() {
        wiring.now = [this] { return now; };
        wiring.restorePrivilege = [this] { return privilege; };
        reg.Wire(wiring);
        reg.MountSystemHive(kSid);
        reg.SetCurrentUserSid(kSid);
        reg.CreateHiveFile(kAnnHive);
        reg.CreateKey("HKLM\\Software");
    }

    HKey Open(HKey parent, std::string_view path, std::uint32_t access = reg::kKeyRead) {
        HKey k = kSentinel;
        EXPECT_EQ(err::kSuccess, reg.OpenKey(parent, path, access, &k)) << path;
        return k;
    }
    HKey Create(HKey parent, std::string_view path, std::uint32_t* disposition = nullptr) {
        HKey k = kSentinel;
        EXPECT_EQ(err::kSuccess,
                  reg.CreateKey(parent, path, 0, reg::kKeyReadWrite, &k, disposition))
            << path;
        return k;
    }
    void Close(HKey k) { EXPECT_EQ(err::kSuccess, reg.CloseKey(k)); }
    std::int64_t Time(std::string_view path) { return reg.KeyTime(path).value_or(-1); }

    std::int64_t now = 1200000000;
    bool privilege = true;
    FakeRegistry::Wiring wiring;
    FakeRegistry reg;
};

// --- paths ---

TEST_F(RegistryTest, OpenKeysAreReportedAsStored) {
    reg.CreateKey("HKLM\\Software\\Brennard\\Ovaline");
    HKey k = Open(kHkeyLocalMachine, "SOFTWARE\\brennard\\OVALINE\\\\");
    // The report names the key as stored, not as asked for.
    EXPECT_EQ(std::vector<std::string>{"HKLM\\Software\\Brennard\\Ovaline"}, reg.OpenKeyPaths());
    Close(k);
    EXPECT_EQ(0u, reg.OpenKeyCount());
}

TEST_F(RegistryTest, EmptyNameOnARootGivesTheRootAndIsNeverCounted) {
    for (HKey root : {kHkeyLocalMachine, kHkeyUsers, kHkeyCurrentUser}) {
        EXPECT_EQ(root, Open(root, ""));
        EXPECT_EQ(err::kSuccess, reg.CloseKey(root));
    }
    EXPECT_EQ(0u, reg.OpenKeyCount());
    // On an ordinary key an empty name is a second handle of its own.
    HKey a = Open(kHkeyLocalMachine, "Software");
    HKey b = Open(a, "");
    EXPECT_NE(a, b);
    EXPECT_EQ(2u, reg.OpenKeyCount());
    Close(a);
    Close(b);
}

TEST_F(RegistryTest, CurrentUserIsTheRunningUsersHive) {
    reg.SetString("HKCU\\Software\\Brennard", "V", "x");
    EXPECT_EQ("x", reg.GetString(std::string("HKU\\") + kSid + "\\Software\\Brennard", "V"));
    HKey k = Open(kHkeyCurrentUser, "Software\\Brennard");
    EXPECT_EQ(std::vector<std::string>{std::string("HKU\\") + kSid + "\\Software\\Brennard"},
              reg.OpenKeyPaths());
    Close(k);
    // A running user whose hive is not there has no HKEY_CURRENT_USER to open.
    reg.SetCurrentUserSid(kAnnSid);
    k = kSentinel;
    EXPECT_EQ(err::kFileNotFound, reg.OpenKey(kHkeyCurrentUser, "", reg::kKeyRead, &k));
    EXPECT_EQ(0u, k);
}

TEST_F(RegistryTest, HiveFilePathsWithAndWithoutBackslashNameTheSameKey) {
    reg.SetString(std::string(kAnnHive) + "|Software\\Brennard", "A", "1");
    reg.SetString(std::string(kAnnHive) + "|\\Software\\Brennard", "B", "2");
    EXPECT_EQ((std::vector<std::string>{"A", "B"}),
              reg.ValueNames(std::string(kAnnHive) + "|Software\\Brennard"));
    // The file name is case-insensitive, and the hive is not reachable before it is loaded.
    EXPECT_TRUE(reg.KeyExists("c:\\documents and settings\\ANN\\NTUSER.DAT|Software\\Brennard"));
    EXPECT_FALSE(reg.KeyExists(std::string("HKU\\") + kAnnSid));
}

// --- creation ---

TEST_F(RegistryTest, NoKeyIsCreatedRightBelowHkeyUsers) {
    // The keys right below HKEY_USERS are hives; none is made by RegCreateKeyExA.
    HKey k = kSentinel;
    EXPECT_EQ(err::kAccessDenied,
              reg.CreateKey(kHkeyUsers, "Intruder", 0, reg::kKeyReadWrite, &k, nullptr));
    EXPECT_FALSE(reg.IsMounted("Intruder"));
}

TEST_F(RegistryTest, ANameTooLongMakesNoKeyOnTheWay) {
    std::string longest(255, 'k');
    Close(Create(kHkeyCurrentUser, "Software\\" + longest));
    // One more character than the limit (a contract test) is refused, and the missing key before
    // it is not made either.
    HKey k = kSentinel;
    EXPECT_EQ(err::kInvalidParameter,
              reg.CreateKey(kHkeyCurrentUser, "Software\\New\\" + longest + "k", 0,
                            reg::kKeyReadWrite, &k, nullptr));
    EXPECT_EQ(0u, k);
    EXPECT_FALSE(reg.KeyExists("HKCU\\Software\\New"));
}

// --- enumeration ---

class EnumTest : public RegistryTest {
  protected:
    EnumTest() {
        for (const char* name : {"beta", "a_b", "Gamma", "AB", "alpha"}) {
            reg.CreateKey(std::string("HKLM\\Software\\Order\\") + name);
        }
    }
};

TEST_F(EnumTest, AnIndexNamesThePositionInTheKeysAsTheyAreNow) {
    HKey k = Open(kHkeyLocalMachine, "Software\\Order", reg::kKeyReadWrite);
    HKey other = Open(kHkeyLocalMachine, "Software\\Order");
    auto at = [&](HKey key, std::uint32_t index) {
        std::string name;
        Win32Error e = reg.EnumKey(key, index, 260, &name);
        return e == err::kSuccess ? name : "error " + std::to_string(e);
    };
    // AB, alpha, a_b, beta, Gamma
    EXPECT_EQ("AB", at(k, 0));
    EXPECT_EQ("alpha", at(k, 1));
    EXPECT_EQ("a_b", at(k, 2));
    // A key added before the position moves every later key one place on.
    Close(Create(k, "Aardvark"));
    EXPECT_EQ("a_b", at(k, 3));
    // A key removed before the position moves them back; going back to 0 starts over.
    ASSERT_EQ(err::kSuccess, reg.DeleteKey(k, "ab"));
    EXPECT_EQ("beta", at(k, 3));
    EXPECT_EQ("Aardvark", at(k, 0));
    // Two handles on one key step through it independently.
    EXPECT_EQ("Gamma", at(other, 4));
    EXPECT_EQ("alpha", at(k, 1));
    EXPECT_EQ("error " + std::to_string(err::kNoMoreItems), at(other, 5));
    EXPECT_EQ("a_b", at(other, 2));
    // A key that setup removes is gone from the next call's count.
    reg.DeleteTree("HKLM\\Software\\Order\\beta");
    EXPECT_EQ("Gamma", at(k, 3));
    Close(other);
    Close(k);
}

// --- values ---

TEST_F(RegistryTest, HandlesKeepTheAccessTheyWereOpenedWith) {
    reg.SetString("HKCU\\Software\\Brennard", "V", "old");
    HKey read = Open(kHkeyCurrentUser, "Software\\Brennard", reg::kKeyRead);
    EXPECT_EQ(err::kAccessDenied, reg.SetValue(read, "V", reg::kSz, std::string("new") + '\0'));
    EXPECT_EQ("old", reg.GetString("HKCU\\Software\\Brennard", "V"));
    HKey write = Open(kHkeyCurrentUser, "Software\\Brennard", reg::kKeyWrite);
    std::string s;
    EXPECT_EQ(err::kAccessDenied, reg.EnumKey(write, 0, 260, &s));
    EXPECT_EQ(err::kAccessDenied, reg.QueryValue(write, "V", 260, nullptr, &s, nullptr));
    Close(read);
    Close(write);
}

// --- deletion ---

class DeleteTest : public RegistryTest {
  protected:
    const std::string release =
        std::string("HKU\\") + kSid + "\\Software\\Brennard\\Ovaline\\R16.0";
    DeleteTest() {
        reg.SetString(release + "\\OVLN-201:409", "LocalRootFolder", "C:\\x");
        reg.SetString(release, "Kept", "v");
    }
};

TEST_F(DeleteTest, TheRootOfASystemHiveIsRefused) {
    // An emptied hive still keeps its root.
    reg.DeleteTree(std::string("HKU\\") + kSid + "\\Software");
    EXPECT_EQ(err::kAccessDenied, reg.DeleteKey(kHkeyUsers, kSid));
    HKey root = Open(kHkeyUsers, kSid);
    EXPECT_EQ(err::kAccessDenied, reg.DeleteKey(root, ""));
    Close(root);
    EXPECT_TRUE(reg.IsMounted(kSid));
}

TEST_F(DeleteTest, EveryCallOnADeletedKeyButCloseGivesKeyDeleted) {
    HKey k = Open(kHkeyCurrentUser, "Software\\Brennard\\Ovaline\\R16.0\\OVLN-201:409",
                  reg::kKeyReadWrite);
    EXPECT_EQ(err::kSuccess,
              reg.DeleteKey(kHkeyCurrentUser, "Software\\Brennard\\Ovaline\\R16.0\\OVLN-201:409"));
    FileTime t = 0;
    HKey sub = kSentinel;
    // Enumerating, reading, writing, creating below it and flushing: contract tests.
    EXPECT_EQ(err::kKeyDeleted, reg.QueryLastWriteTime(k, &t));
    EXPECT_EQ(err::kKeyDeleted, reg.OpenKey(k, "", reg::kKeyRead, &sub));
    EXPECT_EQ(err::kKeyDeleted, reg.DeleteKey(k, ""));
    EXPECT_EQ(0u, sub);
    EXPECT_EQ(err::kKeyDeleted, reg.SetValue(k, "V", reg::kSz, "x"));
    // Writing through the stale handle must not bring the key back.
    EXPECT_FALSE(reg.KeyExists(release + "\\OVLN-201:409"));
    EXPECT_EQ(err::kSuccess, reg.CloseKey(k));
    EXPECT_EQ(err::kInvalidHandle, reg.CloseKey(k));
}

// --- last-write times ---

class TimeTest : public RegistryTest {
  protected:
    const std::string base = "HKLM\\Software\\Brennard";
    TimeTest() {
        reg.CreateKey(base + "\\Ovaline\\R16.0");
        now += 100;
    }
};

// Which keys a change stamps: contract tests. The stamp is the machine's clock as a FileTime.
TEST_F(TimeTest, StampsAreTheClocksTime) {
    HKey k = Open(kHkeyLocalMachine, "Software\\Brennard\\Ovaline", reg::kKeyReadWrite);
    ASSERT_EQ(err::kSuccess, reg.SetValue(k, "V", reg::kSz, std::string("x") + '\0'));
    EXPECT_EQ(now, Time(base + "\\Ovaline"));
    FileTime t = 0;
    ASSERT_EQ(err::kSuccess, reg.QueryLastWriteTime(k, &t));
    EXPECT_EQ(static_cast<FileTime>(now + 11644473600) * 10000000u, t);
    Close(k);
}

TEST_F(TimeTest, ReadingAndSetupLeaveTimesAlone) {
    const std::int64_t created = now - 100;
    reg.SetString(base + "\\Ovaline", "V", "x");
    reg.CreateKey(base + "\\Ovaline\\Other");
    EXPECT_EQ(created, Time(base + "\\Ovaline"));
    EXPECT_EQ(now, Time(base + "\\Ovaline\\Other"));
    HKey k = Open(kHkeyLocalMachine, "Software\\Brennard\\Ovaline");
    std::string name;
    EXPECT_EQ(err::kSuccess, reg.EnumKey(k, 0, 260, &name));
    Close(k);
    EXPECT_EQ(created, Time(base + "\\Ovaline"));
    reg.SetTreeTime(base, 5000);
    reg.SetKeyTime(base + "\\Ovaline", 7000);
    EXPECT_EQ(5000, Time(base));
    EXPECT_EQ(7000, Time(base + "\\Ovaline"));
    EXPECT_EQ(5000, Time(base + "\\Ovaline\\R16.0"));
}

// --- hives ---

class HiveTest : public RegistryTest {
  protected:
    HiveTest() { reg.SetString(std::string(kAnnHive) + "|Software\\Brennard", "V", "before"); }
    Win32Error Load() { return reg.LoadKey(kHkeyUsers, kAnnSid, kAnnHive); }
};

TEST_F(HiveTest, UnloadNeedsTheRestorePrivilege) {
    ASSERT_EQ(err::kSuccess, Load());
    EXPECT_TRUE(reg.IsLoadedByApp(kAnnSid));
    privilege = false;
    EXPECT_EQ(err::kPrivilegeNotHeld, reg.UnLoadKey(kHkeyUsers, kAnnSid));
    EXPECT_TRUE(reg.IsMounted(kAnnSid));
}

TEST_F(HiveTest, LoadAndUnloadRefusals) {
    EXPECT_EQ(err::kFileNotFound, reg.LoadKey(kHkeyUsers, kAnnSid, "C:\\nowhere\\ntuser.dat"));
    EXPECT_EQ(err::kInvalidParameter, reg.LoadKey(kHkeyUsers, kAnnSid, ""));
    EXPECT_EQ(err::kAlreadyExists, reg.LoadKey(kHkeyUsers, kSid, kAnnHive));
    ASSERT_EQ(err::kSuccess, Load());
    EXPECT_EQ(err::kSharingViolation, reg.LoadKey(kHkeyUsers, "S-1-5-21-7-8-9-1003", kAnnHive));
    EXPECT_EQ((std::vector<std::string>{kAnnSid, kAnnSid, kSid, kAnnSid, "S-1-5-21-7-8-9-1003"}),
              reg.LoadLog());
    // A hive the system loaded stays; a name that is not mounted is not found.
    EXPECT_EQ(err::kAccessDenied, reg.UnLoadKey(kHkeyUsers, kSid));
    EXPECT_TRUE(reg.IsMounted(kSid));
    EXPECT_EQ(err::kFileNotFound, reg.UnLoadKey(kHkeyUsers, "S-1-5-21-7-8-9-1003"));
    EXPECT_EQ((std::vector<std::string>{kSid, "S-1-5-21-7-8-9-1003"}), reg.UnloadLog());
}

TEST_F(HiveTest, ChangesSurviveUnloadAndReload) {
    ASSERT_EQ(err::kSuccess, Load());
    HKey k = Open(kHkeyUsers, std::string(kAnnSid) + "\\Software\\Brennard", reg::kKeyReadWrite);
    ASSERT_EQ(err::kSuccess, reg.SetValue(k, "V", reg::kSz, std::string("after") + '\0'));
    Close(k);
    ASSERT_EQ(err::kSuccess,
              reg.DeleteKey(kHkeyUsers, std::string(kAnnSid) + "\\Software\\Brennard"));
    Close(Create(kHkeyUsers, std::string(kAnnSid) + "\\Software\\Added"));
    HKey root = Open(kHkeyUsers, kAnnSid);
    EXPECT_EQ(err::kSuccess, reg.FlushKey(root));
    Close(root);
    EXPECT_EQ(std::vector<std::string>{kAnnSid}, reg.FlushLog());
    ASSERT_EQ(err::kSuccess, reg.UnLoadKey(kHkeyUsers, kAnnSid));
    EXPECT_FALSE(reg.IsMounted(kAnnSid));
    EXPECT_FALSE(reg.KeyExists(std::string("HKU\\") + kAnnSid + "\\Software"));
    ASSERT_EQ(err::kSuccess, Load());
    EXPECT_EQ(std::vector<std::string>{"Added"},
              reg.SubKeyNames(std::string("HKU\\") + kAnnSid + "\\Software"));
}

TEST_F(HiveTest, TheFileIsFoundUnderEverySpellingTheSystemAccepts) {
    // A profile folder given with a trailing backslash gets a doubled one before "ntuser.dat".
    ASSERT_EQ(err::kSuccess,
              reg.LoadKey(kHkeyUsers, kAnnSid, "c:\\Documents and Settings\\ann\\\\NTUSER.DAT"));
    EXPECT_EQ("before",
              reg.GetString(std::string("HKU\\") + kAnnSid + "\\Software\\Brennard", "V"));
    ASSERT_EQ(err::kSuccess, reg.UnLoadKey(kHkeyUsers, kAnnSid));
    EXPECT_EQ(err::kSuccess,
              reg.LoadKey(kHkeyUsers, kAnnSid, "C:/Documents and Settings/x/../ann/./ntuser.dat"));
}

TEST_F(HiveTest, OneFileUnderTwoSpellingsIsOneHive) {
    reg.CreateHiveFile("c:/documents and settings/ANN/./NTUSER.DAT");
    reg.SetString("C:\\Documents and Settings\\ANN\\\\ntuser.dat|Software\\Brennard", "W", "w");
    ASSERT_EQ(err::kSuccess, Load());
    // Both values went into the one hive the constructor's spelling made.
    std::string key = std::string("HKU\\") + kAnnSid + "\\Software\\Brennard";
    EXPECT_EQ("before", reg.GetString(key, "V"));
    EXPECT_EQ("w", reg.GetString(key, "W"));
}

// The whole machine as the fuzz harnesses' oracle sees it: every key once, a hive file's keys
// under its file while it is not loaded and under HKEY_USERS while it is.
TEST_F(HiveTest, AllKeysListsEveryHiveOnceWhereItIsNow) {
    auto paths = [this] {
        std::vector<std::string> out;
        for (const FakeRegistry::KeyRecord& k : reg.AllKeys()) out.push_back(k.path);
        return out;
    };
    const std::string file(kAnnHive);
    EXPECT_EQ(paths(), (std::vector<std::string>{
                           "HKLM", "HKLM\\Software", "HKU", std::string("HKU\\") + kSid, file + "|",
                           file + "|Software", file + "|Software\\Brennard"}));
    const FakeRegistry::KeyRecord brennard = reg.AllKeys().back();
    ASSERT_EQ(brennard.values.size(), 1u);
    EXPECT_EQ(brennard.values[0].first, "V");
    EXPECT_EQ(brennard.values[0].second.bytes, std::string("before") + '\0');

    ASSERT_EQ(err::kSuccess, Load());
    const std::string mounted = std::string("HKU\\") + kAnnSid;
    EXPECT_EQ(paths(), (std::vector<std::string>{
                           "HKLM", "HKLM\\Software", "HKU", std::string("HKU\\") + kSid, mounted,
                           mounted + "\\Software", mounted + "\\Software\\Brennard"}));
}

TEST_F(HiveTest, MountNamesCompareIgnoringCase) {
    auto lowerCase = [](std::string sid) {
        sid[0] = 's';
        return sid;
    };
    const std::string lower = lowerCase(kAnnSid);
    EXPECT_EQ(err::kAlreadyExists, reg.LoadKey(kHkeyUsers, lowerCase(kSid), kAnnHive));
    ASSERT_EQ(err::kSuccess, Load());
    EXPECT_TRUE(reg.IsMounted(lower));
    ASSERT_EQ(err::kSuccess, reg.UnLoadKey(kHkeyUsers, lower));
    EXPECT_FALSE(reg.IsMounted(kAnnSid));
    EXPECT_EQ(err::kFileNotFound, reg.UnLoadKey(kHkeyUsers, kAnnSid));
    // The name is free again, under either spelling.
    ASSERT_EQ(err::kSuccess, reg.LoadKey(kHkeyUsers, lower, kAnnHive));
    EXPECT_EQ("before",
              reg.GetString(std::string("HKU\\") + kAnnSid + "\\Software\\Brennard", "V"));
    EXPECT_EQ(err::kSuccess, reg.UnLoadKey(kHkeyUsers, kAnnSid));
}

TEST_F(HiveTest, UnloadWaitsForEveryHandleOfTheHiveEvenOnADeletedKey) {
    ASSERT_EQ(err::kSuccess, Load());
    std::string software = std::string(kAnnSid) + "\\Software";
    HKey root = Open(kHkeyUsers, kAnnSid);
    HKey deleted = Open(kHkeyUsers, software + "\\Brennard");
    reg.DeleteTree(std::string("HKU\\") + software + "\\Brennard");
    Close(root);
    // A second close of the same handle frees nothing more.
    EXPECT_EQ(err::kInvalidHandle, reg.CloseKey(root));
    EXPECT_EQ(err::kAccessDenied, reg.UnLoadKey(kHkeyUsers, kAnnSid));
    Close(deleted);
    EXPECT_EQ(err::kSuccess, reg.UnLoadKey(kHkeyUsers, kAnnSid));
    // Handles opened and closed while it was loaded do not hold it the next time.
    ASSERT_EQ(err::kSuccess, Load());
    EXPECT_EQ(err::kSuccess, reg.UnLoadKey(kHkeyUsers, kAnnSid));
}

TEST_F(HiveTest, UnloadIsRefusedWhileAKeyOfTheHiveIsOpen) {
    ASSERT_EQ(err::kSuccess, Load());
    HKey k = Open(kHkeyUsers, std::string(kAnnSid) + "\\Software");
    EXPECT_EQ(err::kAccessDenied, reg.UnLoadKey(kHkeyUsers, kAnnSid));
    EXPECT_TRUE(reg.IsMounted(kAnnSid));
    // Keys open in other hives do not hold this one.
    Close(k);
    HKey other = Open(kHkeyUsers, kSid);
    HKey machine = Open(kHkeyLocalMachine, "Software");
    EXPECT_EQ(err::kSuccess, reg.UnLoadKey(kHkeyUsers, kAnnSid));
    Close(machine);
    Close(other);
}

// --- handles, call counts, faults ---

TEST_F(RegistryTest, OpenHandlesAreReportedUntilClosed) {
    reg.CreateKey("HKCU\\Software\\Brennard");
    HKey a = Open(kHkeyCurrentUser, "Software\\Brennard");
    HKey b = Create(kHkeyLocalMachine, "Software\\Brennard");
    EXPECT_EQ((std::vector<std::string>{std::string("HKU\\") + kSid + "\\Software\\Brennard",
                                        "HKLM\\Software\\Brennard"}),
              reg.OpenKeyPaths());
    Close(a);
    EXPECT_EQ(std::vector<std::string>{"HKLM\\Software\\Brennard"}, reg.OpenKeyPaths());
    Close(b);
    EXPECT_EQ(0u, reg.OpenKeyCount());
    EXPECT_EQ(err::kInvalidHandle, reg.CloseKey(0x7777));
}

TEST_F(RegistryTest, FaultsHitMatchingPathsTheGivenNumberOfTimes) {
    reg.CreateKey("HKLM\\Software\\Brennard");
    reg.InjectFault(RegOp::kOpen, "brenn", err::kAccessDenied);  // no whole name: no fault
    reg.InjectFault(RegOp::kOpen, "brennard", err::kAccessDenied, 1);
    HKey k = kSentinel;
    EXPECT_EQ(err::kAccessDenied,
              reg.OpenKey(kHkeyLocalMachine, "Software\\Brennard", reg::kKeyRead, &k));
    EXPECT_EQ(0u, k);
    Close(Open(kHkeyLocalMachine, "Software\\Brennard"));
    reg.InjectFault(RegOp::kLoad, kAnnSid, err::kSharingViolation, fake::kAlways);
    EXPECT_EQ(err::kSharingViolation, reg.LoadKey(kHkeyUsers, kAnnSid, kAnnHive));
    EXPECT_EQ(err::kSharingViolation, reg.LoadKey(kHkeyUsers, kAnnSid, kAnnHive));
    EXPECT_FALSE(reg.IsMounted(kAnnSid));
    reg.ClearFaults();
    EXPECT_EQ(err::kSuccess, reg.LoadKey(kHkeyUsers, kAnnSid, kAnnHive));
    EXPECT_EQ(2, reg.CallCount(RegOp::kOpen));
    EXPECT_EQ(3, reg.CallCount(RegOp::kLoad));
}

TEST_F(HiveTest, ASavedKeyLoadsAsACopyWithItsTimesAndNeedsTheBackupPrivilege) {
    bool backup = false;
    std::vector<std::string> created;
    wiring.backupPrivilege = [&] { return backup; };
    wiring.fileExists = [&](std::string_view file) {
        return std::find(created.begin(), created.end(), file) != created.end();
    };
    wiring.createFile = [&](std::string_view file) {
        created.emplace_back(file);
        return err::kSuccess;
    };
    reg.Wire(wiring);
    const std::string base = std::string("HKU\\") + kSid + "\\Software\\Brennard";
    reg.SetString(base + "\\Ovaline", "B", "b");
    reg.SetRawValue(base, "A", reg::kDword, std::string("\x01\0\0\0", 4));
    reg.SetTreeTime(base, 4000);
    reg.SetKeyTime(base + "\\Ovaline", 4500);
    HKey k = Open(kHkeyUsers, std::string(kSid) + "\\Software\\Brennard", 0);
    constexpr char kFile[] = "C:\\backup\\brennard.hiv";
    EXPECT_EQ(err::kPrivilegeNotHeld, reg.SaveKey(k, kFile));
    EXPECT_TRUE(created.empty());
    backup = true;
    ASSERT_EQ(err::kSuccess, reg.SaveKey(k, kFile));
    EXPECT_EQ(created, std::vector<std::string>{kFile});
    EXPECT_EQ(err::kAlreadyExists, reg.SaveKey(k, kFile));
    // The hive is a copy: a change after the save is not in it.
    reg.SetString(base, "Later", "x");
    Close(k);
    ASSERT_EQ(err::kSuccess, reg.LoadKey(kHkeyUsers, "Saved", kFile));
    EXPECT_EQ(reg.ValueNames("HKU\\Saved"), std::vector<std::string>{"A"});
    EXPECT_EQ(reg.SubKeyNames("HKU\\Saved"), std::vector<std::string>{"Ovaline"});
    EXPECT_EQ(reg.GetString("HKU\\Saved\\Ovaline", "B"), "b");
    EXPECT_EQ(Time("HKU\\Saved"), 4000);
    EXPECT_EQ(Time("HKU\\Saved\\Ovaline"), 4500);
    EXPECT_EQ(reg.GetString(base, "Later"), "x");
}

TEST_F(RegistryTest, ValuesEnumerateInTheOrderFirstSetWithTheQueryRight) {
    reg.SetString("HKLM\\Software\\E", "Zeta", "z");
    reg.SetRawValue("HKLM\\Software\\E", "alpha", reg::kBinary, std::string("\0\x02", 2));
    reg.SetString("HKLM\\Software\\E", "ZETA", "again");
    HKey k = Open(kHkeyLocalMachine, "Software\\E", 0x8 /* KEY_ENUMERATE_SUB_KEYS */);
    std::string name;
    std::uint32_t type = 0;
    std::string data;
    EXPECT_EQ(err::kAccessDenied, reg.EnumValue(k, 0, &name, &type, &data));
    Close(k);
    k = Open(kHkeyLocalMachine, "Software\\E");
    std::vector<std::tuple<std::string, std::uint32_t, std::string>> seen;
    for (std::uint32_t i = 0; reg.EnumValue(k, i, &name, &type, &data) == err::kSuccess; ++i) {
        seen.emplace_back(name, type, data);
    }
    EXPECT_EQ(seen, (std::vector<std::tuple<std::string, std::uint32_t, std::string>>{
                        {"Zeta", reg::kSz, std::string("again\0", 6)},
                        {"alpha", reg::kBinary, std::string("\0\x02", 2)}}));
    EXPECT_EQ(err::kNoMoreItems, reg.EnumValue(k, 2, &name, &type, &data));
    Close(k);
}

}  // namespace
}  // namespace qv::fake
