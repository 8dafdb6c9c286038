#include "engine/removal.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <utility>

#include "tests/unit/cleanup/cleanup_fixture.h"
#include "tests/unit/forwarding_registry.h"

namespace qv::test {
namespace {

constexpr char kLabel[] = "Ovaline 2004 (English)";

// ann and bob are not logged on: the removal loads and unloads their hives.
class RemovalTest : public CleanupTest {
  protected:
    RemovalTest() : CleanupTest(false) {}

    bool HasKey(const char* sid, const std::string& key) {
        return m.registry.KeyExists(KeyOf(sid, key));
    }
};

TEST_F(RemovalTest, TypicalRoadRemovesFilesKeyAndEmptyParents) {
    Register(kAnn);
    Register(kBob);
    m.registry.CreateKey(KeyOf(kAnn, kOvalineKey) + "\\Profiles\\Unnamed Profile\\General");
    const std::string temp = m.LocalSettings(kAnn) + "\\Temp";
    m.files.AddFile(temp + "\\ovln4711.tmp");
    m.files.AddFile(temp + "\\notes.txt");
    const std::string shared =
        std::string(kCommonAppData) + "\\Brennard\\Ovaline 2004\\R16.0\\Shared\\ovlreg2004_enu.dat";
    m.files.AddFile(shared);
    Check(kAnn, "ann");

    EXPECT_EQ(RemoveCheckedUserData(ws, tree.CheckedPairs(), {}), RemovalOutcome::kDone);

    EXPECT_FALSE(m.files.Exists(Roaming(kAnn)));
    EXPECT_FALSE(m.files.Exists(Local(kAnn)));
    // The folders above the product folders went once empty, the user's own folders stay.
    EXPECT_FALSE(m.files.Exists(m.AppData(kAnn) + "\\Brennard"));
    EXPECT_FALSE(m.files.Exists(m.LocalAppData(kAnn) + "\\Brennard"));
    EXPECT_TRUE(m.files.Exists(m.AppData(kAnn)));
    EXPECT_TRUE(m.files.Exists(m.LocalAppData(kAnn)));
    EXPECT_FALSE(m.files.Exists(temp + "\\ovln4711.tmp"));
    EXPECT_TRUE(m.files.Exists(temp + "\\notes.txt"));
    EXPECT_FALSE(m.files.Exists(std::string(kCommonAppData) + "\\Brennard"));
    EXPECT_TRUE(m.files.Exists(kCommonAppData));

    EXPECT_FALSE(HasKey(kAnn, "Software\\Brennard"));
    EXPECT_TRUE(HasKey(kAnn, "Software\\Microsoft"));
    EXPECT_TRUE(Contains(m.registry.Log(fake::RegOp::kFlush), kAnn));
    EXPECT_TRUE(Contains(m.registry.Log(fake::RegOp::kUnload), kAnn));

    // bob was not checked.
    EXPECT_TRUE(HasKey(kBob, kOvalineKey));
    EXPECT_TRUE(m.files.Exists(Roaming(kBob) + "\\Support\\ovlbase.hpt"));
    ExpectNothingLeftOpen();
}

TEST_F(RemovalTest, NothingCheckedGivesMinusOne) {
    EXPECT_EQ(RemoveCheckedUserData(ws, tree.CheckedPairs(), {}), RemovalOutcome::kNothingSelected);
    EXPECT_EQ(m.registry.CallCount(fake::RegOp::kOpen), 0);

    Register(kAnn);
    tree.SetCheck(Check(kAnn, "ann"), false);
    ASSERT_EQ(tree.GetCheck(tree.FindRegistrationItem(kLabel)), 1);
    EXPECT_EQ(RemoveCheckedUserData(ws, tree.CheckedPairs(), {}), RemovalOutcome::kNothingSelected);
    EXPECT_TRUE(HasKey(kAnn, kOvalineKey));
    EXPECT_EQ(m.registry.CallCount(fake::RegOp::kLoad), 0);
}

TEST_F(RemovalTest, SubKeyNameTooLongForTheEnumerationStopsTheWalkWithZero) {
    Register(kAnn);
    Register(kBob);
    // 254 characters and the NUL fill the 255-character buffer.
    m.registry.CreateKey(KeyOf(kAnn, kOvalineKey) + "\\" + std::string(254, 'k'));
    m.registry.CreateKey(KeyOf(kBob, kOvalineKey) + "\\" + std::string(255, 'k'));
    Check(kAnn, "ann");
    Check(kBob, "bob");
    const std::string sketchKey = "Software\\Brennard\\Ovaline Sketch\\R9\\OVSK-201:409";
    m.registry.CreateKey(KeyOf(kAnn, sketchKey));
    Check(kAnn, "ann", sketchKey, "Ovaline Sketch 2004 (English)");

    EXPECT_EQ(RemoveCheckedUserData(ws, tree.CheckedPairs(), {}), RemovalOutcome::kFailed);
    EXPECT_FALSE(HasKey(kAnn, kOvalineKey));
    EXPECT_TRUE(HasKey(kBob, kOvalineKey));
    EXPECT_TRUE(Contains(m.registry.Log(fake::RegOp::kUnload), kBob));
    // The walk stopped: ann's later registration was not visited.
    EXPECT_TRUE(HasKey(kAnn, sketchKey));
    ExpectNothingLeftOpen();
}

class FlushFailureTest : public RemovalTest, public ::testing::WithParamInterface<bool> {};

TEST_P(FlushFailureTest, GivesZeroAndABoxOnlyWithTheDebugSwitch) {
    ws.services.debug = GetParam();
    Register(kAnn);
    Register(kBob);
    m.registry.InjectFault(fake::RegOp::kFlush, kAnn, err::kKeyDeleted);
    Check(kAnn, "ann");
    Check(kBob, "bob");

    EXPECT_EQ(RemoveCheckedUserData(ws, tree.CheckedPairs(), {}), RemovalOutcome::kFailed);
    EXPECT_FALSE(HasKey(kAnn, kOvalineKey));
    EXPECT_TRUE(HasKey(kBob, kOvalineKey));
    ASSERT_EQ(m.messages.Shown().size(), GetParam() ? 1u : 0u);
    if (GetParam()) {
        EXPECT_EQ(m.messages.Shown()[0].text.rfind("Flushing error:", 0), 0u);
        EXPECT_EQ(m.messages.Shown()[0].caption, "Quorvane Error");
    }
    ExpectNothingLeftOpen();
}

INSTANTIATE_TEST_SUITE_P(DebugSwitch, FlushFailureTest, ::testing::Bool());

TEST_F(RemovalTest, UserWhoseHiveCannotBeLoadedIsSkippedAndTheRunIsNoSuccess) {
    Register(kAnn);
    Register(kBob);
    m.registry.InjectFault(fake::RegOp::kLoad, kAnn, err::kSharingViolation, fake::kAlways);
    Check(kAnn, "ann");
    EXPECT_EQ(RemoveCheckedUserData(ws, tree.CheckedPairs(), {}), RemovalOutcome::kFailed);

    Check(kBob, "bob");
    EXPECT_EQ(RemoveCheckedUserData(ws, tree.CheckedPairs(), {}), RemovalOutcome::kFailed);
    EXPECT_TRUE(HasKey(kAnn, kOvalineKey));
    EXPECT_TRUE(m.files.Exists(Roaming(kAnn)));
    EXPECT_FALSE(HasKey(kBob, kOvalineKey));
    EXPECT_FALSE(m.files.Exists(Roaming(kBob)));
    EXPECT_FALSE(Contains(m.registry.Log(fake::RegOp::kUnload), kAnn));
    ExpectNothingLeftOpen();
}

TEST_F(RemovalTest, RefusedProductFolderKeepsTheKeyOthersAreStillCleanedAndNoPrivilegeIsOn) {
    Register(kAnn);
    Register(kBob);
    // ann's roaming product folder is the Windows folder.
    m.files.AddFile("C:\\WINDOWS\\system32\\kernel.dll");
    SetFolders(kAnn, kOvalineKey, "C:\\WINDOWS", Local(kAnn));
    Check(kAnn, "ann");
    Check(kBob, "bob");
    // The restore privilege lets a process pass file permissions: never on while files go.
    int callsWithPrivilege = 0;
    m.files.SetHandleHook([&](HandleOp, std::string_view) {
        if (m.security.IsPrivilegeEnabled("SeRestorePrivilege")) ++callsWithPrivilege;
    });

    EXPECT_EQ(RemoveCheckedUserData(ws, tree.CheckedPairs(), {}), RemovalOutcome::kFailed);

    EXPECT_EQ(callsWithPrivilege, 0);
    EXPECT_TRUE(m.files.Exists("C:\\WINDOWS\\system32\\kernel.dll"));
    // The key records the data left behind; ann's own local folder went all the same.
    EXPECT_TRUE(HasKey(kAnn, kOvalineKey));
    EXPECT_FALSE(m.files.Exists(Local(kAnn)));
    EXPECT_FALSE(HasKey(kBob, kOvalineKey));
    EXPECT_FALSE(m.files.Exists(Roaming(kBob)));
    EXPECT_TRUE(
        Contains(m.debug.Lines(), "Refused to delete \"C:\\WINDOWS\": outside the user's profile"));
    ExpectNothingLeftOpen();
}

// A registry link that a user puts into his registration leads into a key that is not his: the
// clean-up refuses it, whether the link is the registration's sub key or the target lies in the
// machine's keys, and the key it leads to stays whole.
TEST_F(RemovalTest, RegistryLinkInTheRegistrationIsRefusedAndWhatItLeadsToStays) {
    Register(kAnn);
    m.registry.SetString("HKLM\\SOFTWARE\\Victim\\Keep", "Value", "kept");
    m.registry.AddLink(KeyOf(kAnn, kOvalineKey) + "\\Profiles", "HKLM\\SOFTWARE\\Victim");
    Check(kAnn, "ann");

    EXPECT_EQ(RemoveCheckedUserData(ws, tree.CheckedPairs(), {}), RemovalOutcome::kFailed);

    EXPECT_EQ(m.registry.GetString("HKLM\\SOFTWARE\\Victim\\Keep", "Value"), "kept");
    EXPECT_TRUE(HasKey(kAnn, kOvalineKey));
    ExpectNothingLeftOpen();
}

// The fake registry, with a user who puts a registry link in place of a key the moment the
// deletion's walk has found it empty: after its check, before its deletion.
class SwappingRegistry final : public ForwardingRegistry {
  public:
    SwappingRegistry(IRegistry& registry, std::function<void()> swap)
        : ForwardingRegistry(registry), swap_(std::move(swap)) {}

    Win32Error EnumKey(HKey key, std::uint32_t index, std::uint32_t bufferChars,
                       std::string* name) noexcept override {
        const Win32Error e = registry_.EnumKey(key, index, bufferChars, name);
        if (e == err::kNoMoreItems && swap_) std::exchange(swap_, nullptr)();
        return e;
    }

  private:
    std::function<void()> swap_;
};

TEST_F(RemovalTest, UsersUnderOneLabelEachLoseTheirOwnRegistration) {
    const std::string otherCode = "Software\\Brennard\\Ovaline\\R16.0\\OVXM-201:409";
    Register(kAnn);
    Register(kBob, otherCode);
    Check(kAnn, "ann");
    Check(kBob, "bob", otherCode);
    ASSERT_EQ(control.Children(tree.FindRegistrationItem(kLabel)).size(), 2u);

    EXPECT_EQ(RemoveCheckedUserData(ws, tree.CheckedPairs(), {}), RemovalOutcome::kDone);
    EXPECT_FALSE(HasKey(kAnn, kOvalineKey));
    EXPECT_FALSE(HasKey(kBob, otherCode));
    EXPECT_FALSE(m.files.Exists(Roaming(kBob)));
    ExpectNothingLeftOpen();
}

TEST_F(RemovalTest, ReleaseKeyGoesWithValuesOnlyWithTheLastRegistrationBelowIt) {
    const std::string japanese = "Software\\Brennard\\Ovaline\\R16.0\\OVLN-201:411";
    Register(kAnn);
    Register(kAnn, japanese);
    m.registry.SetString(KeyOf(kAnn, "Software\\Brennard\\Ovaline\\R16.0"), "Seen", "1");
    m.registry.CreateKey(KeyOf(kAnn, "Software\\Brennard\\Viewer"));
    TreeItem user = Check(kAnn, "ann");

    EXPECT_EQ(RemoveCheckedUserData(ws, tree.CheckedPairs(), {}), RemovalOutcome::kDone);
    EXPECT_TRUE(HasKey(kAnn, "Software\\Brennard\\Ovaline\\R16.0"));

    tree.SetCheck(user, false);
    Check(kAnn, "ann", japanese, "Ovaline 2004 (Japanese)");
    EXPECT_EQ(RemoveCheckedUserData(ws, tree.CheckedPairs(), {}), RemovalOutcome::kDone);
    EXPECT_FALSE(HasKey(kAnn, "Software\\Brennard\\Ovaline"));
    EXPECT_TRUE(HasKey(kAnn, "Software\\Brennard\\Viewer"));
    ExpectNothingLeftOpen();
}

class LoggedOnRemovalTest : public CleanupTest {};

// What the walk checked is what goes: a key swapped for a link to another key after its check
// fails the deletion, and the key the link leads to stays.
TEST_F(LoggedOnRemovalTest, AKeySwappedForALinkAfterItsCheckTakesNothingElse) {
    Register(kAnn);
    const std::string registration = KeyOf(kAnn, kOvalineKey);
    m.registry.CreateKey("HKLM\\SOFTWARE\\Victim");  // empty: a deletion by name would take it
    SwappingRegistry registry(m.registry, [&] {
        m.registry.DeleteTree(registration);
        m.registry.AddLink(registration, "HKLM\\SOFTWARE\\Victim");
    });
    EXPECT_EQ(DeleteKeyTree(registry, kHkeyUsers, registration.substr(std::strlen("HKU\\"))),
              err::kKeyDeleted);
    EXPECT_TRUE(m.registry.KeyExists("HKLM\\SOFTWARE\\Victim"));
    ExpectNothingLeftOpen();
}

TEST_F(LoggedOnRemovalTest, HiveInPlaceIsNeitherFlushedNorUnloaded) {
    Register(kAnn);
    Check(kAnn, "ann");
    EXPECT_EQ(RemoveCheckedUserData(ws, tree.CheckedPairs(), {}), RemovalOutcome::kDone);
    EXPECT_FALSE(m.registry.KeyExists(KeyOf(kAnn, kOvalineKey)));
    EXPECT_TRUE(m.registry.IsMounted(kAnn));
    EXPECT_TRUE(m.registry.Log(fake::RegOp::kFlush).empty());
    EXPECT_TRUE(m.registry.Log(fake::RegOp::kUnload).empty());
}

}  // namespace
}  // namespace qv::test
