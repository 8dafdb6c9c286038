// Undo: on random machines a clean-up with a backup, then a restore of its run, gives back every
// key with its values and every file and folder with its attributes and contents, and each
// registration key its last-write time (the keys above it are stamped by the writes below them,
// as by the deletion, and are compared without their times).
#include "engine/backup.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "engine/plan.h"
#include "engine/restore.h"
#include "engine/scan.h"
#include "random_machine.h"

namespace qv {
namespace {

using test::RandomMachine;

constexpr char kBackups[] = "C:\\Documents and Settings\\All Users\\Application Data\\Quorvane";

// The machine without the backups (files, and the saved hives as the registry knows them), which
// a restore leaves for a purge.
std::map<std::string, std::string> WithoutBackups(std::map<std::string, std::string> image) {
    const std::string files = "file " + text::FoldCase(kBackups);
    const std::string hives = "key " + std::string(kBackups);
    for (auto it = image.begin(); it != image.end();) {
        const bool backup = it->first.rfind(files, 0) == 0 ||
                            text::EqualsNoCase(it->first.substr(0, hives.size()), hives);
        it = backup ? image.erase(it) : std::next(it);
    }
    return image;
}

// Scans with nothing written and cleans everything found, keeping a backup; the applied plan.
Plan CleanWithBackup(Workspace& ws, const std::string& run) {
    Findings findings;
    EXPECT_TRUE(
        ScanProducts(ws, {{"Brennard", "Ovaline", "R16.0"}, {"Brennard", "Ovaline Sketch", "R9"}},
                     &findings, ScanMode::kWriteNothing));
    Plan plan = BuildPlan(ws, findings, Select(findings, {}));
    std::unique_ptr<RunBackup> backup;
    EXPECT_EQ(RunBackup::Begin(ws, run, "test", &backup), err::kSuccess);
    ws.backup = backup.get();
    (void)ApplyPlan(ws, findings, &plan);
    ws.backup = nullptr;
    return plan;
}

TEST(BackupTest, OnRandomMachinesCleanThenRestoreGivesEverythingBack) {
    int kept = 0;
    int timed = 0;
    for (unsigned seed = 1; seed <= 40; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        RandomMachine r(seed);
        HiveBook hives;
        Workspace ws{Services{r.m.platform(), false}, r.tables, true, 0, &hives};
        const auto before = r.Image();
        const auto timesBefore = r.KeyTimes();

        const std::string run = "run" + std::to_string(seed);
        Plan plan = CleanWithBackup(ws, run);
        for (const Action& a : plan.actions) {
            const bool removes = a.kind == ActionKind::kDeleteFolderTree ||
                                 a.kind == ActionKind::kDeleteFile ||
                                 a.kind == ActionKind::kDeleteKeyTree;
            if (a.result == ActionResult::kDone && removes) {
                EXPECT_FALSE(a.backup.empty()) << "removed without a backup: " << a.path;
                ++kept;
            }
        }

        RestoreReport restored = RestoreRun(ws, "", {});
        EXPECT_EQ(restored.error, err::kSuccess);
        EXPECT_EQ(restored.run, run);
        for (const RestoredItem& item : restored.items) {
            EXPECT_EQ(item.outcome, RestoreOutcome::kRestored) << item.path << " " << item.error;
        }
        const auto after = WithoutBackups(r.Image());
        for (const auto& [name, content] : before) {
            const auto it = after.find(name);
            if (it == after.end()) {
                ADD_FAILURE() << "not restored: " << name;
            } else {
                EXPECT_EQ(it->second, content) << "changed: " << name;
            }
        }
        for (const auto& entry : after)
            EXPECT_EQ(before.count(entry.first), 1u) << "added: " << entry.first;
        const auto timesAfter = r.KeyTimes();
        for (const Action& a : plan.actions) {
            if (a.kind != ActionKind::kDeleteKeyTree || a.result != ActionResult::kDone) continue;
            for (const auto& [name, time] : timesBefore) {
                const std::string key = "key " + a.path;
                if (name != key && name.rfind(key + "\\", 0) != 0) continue;
                EXPECT_EQ(timesAfter.at(name), time) << "the time of " << name;
                ++timed;
            }
        }
        EXPECT_EQ(r.m.files.OpenHandleCount(), 0u);
        EXPECT_TRUE(r.m.registry.OpenKeyPaths().empty());

        // A second restore finds everything restored and changes nothing.
        const auto once = r.Image();
        RestoreReport again = RestoreRun(ws, run, {});
        EXPECT_EQ(again.error, err::kSuccess);
        EXPECT_TRUE(again.items.empty());
        EXPECT_EQ(r.Image(), once);
    }
    EXPECT_GT(kept, 100);  // the machines were varied enough to keep something
    EXPECT_GT(timed, 20);  // and to compare the times of registrations put back
}

TEST(BackupTest, ARestoreLeavesAPlaceTakenAgainAndItsBackup) {
    // Seeds until one cleans a product folder tree.
    for (unsigned seed = 1; seed <= 40; ++seed) {
        RandomMachine r(seed);
        HiveBook hives;
        Workspace ws{Services{r.m.platform(), false}, r.tables, true, 0, &hives};
        Plan plan = CleanWithBackup(ws, "taken");
        const Action* tree = nullptr;
        for (const Action& a : plan.actions) {
            if (a.kind == ActionKind::kDeleteFolderTree && a.result == ActionResult::kDone) {
                tree = &a;
                break;
            }
        }
        if (tree == nullptr) continue;
        r.m.files.AddFile(tree->path + "\\new.txt", "new");

        RestoreReport restored = RestoreRun(ws, "taken", {});
        EXPECT_EQ(restored.error, err::kSuccess);
        EXPECT_TRUE(restored.anyTaken());
        EXPECT_EQ(r.m.files.ReadFile(tree->path + "\\new.txt"), std::string("new"));
        EXPECT_TRUE(r.m.files.Exists(tree->backup)) << "the backup must stay: " << tree->backup;

        // Once the place is free again, the item that was left is put back by a second restore.
        r.m.files.Remove(tree->path);
        RestoreReport second = RestoreRun(ws, "taken", {});
        ASSERT_EQ(second.items.size(), 1u);
        EXPECT_EQ(second.items[0].outcome, RestoreOutcome::kRestored);
        EXPECT_FALSE(r.m.files.Exists(tree->backup));
        return;
    }
    FAIL() << "no seed cleaned a folder tree";
}

// One stale registration of `sid` (the machine has no key of it) with both product folders and a
// file in each.
void AddStaleRegistration(fake::FakeMachine& m, const std::string& sid) {
    const std::string tail = "\\Brennard\\Ovaline 2004\\R16.0\\enu";
    const std::string key = m.UserKey(sid) + "\\Software\\Brennard\\Ovaline\\R16.0\\OVLN-201:409";
    m.registry.SetString(key, "RoamableRootFolder", m.AppData(sid) + tail);
    m.registry.SetString(key, "LocalRootFolder", m.LocalAppData(sid) + tail);
    m.files.AddFile(m.AppData(sid) + tail + "\\Support\\a.hpt", "a");
    m.files.AddFile(m.LocalAppData(sid) + tail + "\\b.dat", "b");
}

TEST(BackupTest, RunsAreKeptWhereOnlyTheirOwnersReachThemAndNothingUnmovedGoes) {
    const std::string ann = "S-1-5-21-9-9-9-1001";
    const std::string dan = "S-1-5-21-9-9-9-1002";
    fake::FakeMachine m;
    m.files.AddDrive('D');
    m.AddUser({ann, "ann"});
    m.AddUser({dan, "dan", "QVTEST", "D:\\Users\\dan"});
    AddStaleRegistration(m, ann);
    AddStaleRegistration(m, dan);
    Tables tables;
    tables.FillBuiltIn();
    HiveBook hives;
    Workspace ws{Services{m.platform(), false}, tables, true, 0, &hives};
    // No product folder can be moved (another process holds it): none is deleted either.
    m.files.InjectHandleFault(HandleOp::kRename, "enu", err::kSharingViolation);
    Plan plan = CleanWithBackup(ws, "r1");

    const std::string own = std::string(kBackups) + "\\Backups\\r1";
    EXPECT_EQ(m.files.Protection(own), FolderProtection::kAdministratorsOnly);
    EXPECT_EQ(m.files.Protection("D:\\Quorvane\\Backups\\r1"),
              FolderProtection::kAdministratorsOnly);
    for (const Action& a : plan.actions) {
        if (a.kind != ActionKind::kDeleteFolderTree) continue;
        // Each tree is still where it was, and its action failed.
        EXPECT_EQ(a.result, ActionResult::kFailed) << a.path;
        EXPECT_TRUE(m.files.Exists(a.path)) << a.path;
    }
    // The key is the record of the data left behind: it stays.
    EXPECT_TRUE(m.registry.KeyExists(m.UserKey(ann) +
                                     "\\Software\\Brennard\\Ovaline\\R16.0\\OVLN-201:409"));

    // Moved for real: each tree goes into the run's folder of its own volume.
    fake::FakeMachine m2;
    m2.files.AddDrive('D');
    m2.AddUser({dan, "dan", "QVTEST", "D:\\Users\\dan"});
    AddStaleRegistration(m2, dan);
    HiveBook hives2;
    Workspace ws2{Services{m2.platform(), false}, tables, true, 0, &hives2};
    Plan moved = CleanWithBackup(ws2, "r2");
    int trees = 0;
    for (const Action& a : moved.actions) {
        if (a.kind != ActionKind::kDeleteFolderTree) continue;
        ++trees;
        EXPECT_EQ(a.result, ActionResult::kDone);
        EXPECT_EQ(a.backup.rfind("D:\\Quorvane\\Backups\\r2\\", 0), 0u) << a.backup;
        EXPECT_TRUE(m2.files.Exists(a.backup));
    }
    EXPECT_EQ(trees, 2);

    // A run that sees only the running user's registry keeps its backup in his own folder.
    fake::FakeMachine m3;
    AddStaleRegistration(m3, fake::FakeMachine::kOperatorSid);
    HiveBook hives3;
    Workspace ws3{Services{m3.platform(), false}, tables, false, 0, &hives3};
    (void)CleanWithBackup(ws3, "r3");
    const std::string mine =
        m3.LocalAppData(fake::FakeMachine::kOperatorSid) + "\\Quorvane\\Backups\\r3";
    EXPECT_EQ(m3.files.Protection(mine), FolderProtection::kCurrentUserOnly);
    EXPECT_TRUE(m3.files.Exists(mine + "\\manifest.json"));
    // It makes nothing outside that folder: what lies on another volume stays.
    m3.files.AddDrive('D');
    m3.files.AddFile("D:\\data\\x.txt", "x");
    std::unique_ptr<RunBackup> backup;
    ASSERT_EQ(RunBackup::Begin(ws3, "r4", "test", &backup), err::kSuccess);
    UniqueFileRef data(m3.files);
    UniqueFileRef file(m3.files);
    FileFacts facts;
    ASSERT_EQ(m3.files.OpenFolder("D:\\data", data.put()), err::kSuccess);
    ASSERT_EQ(m3.files.OpenRelative(data.get(), "x.txt", open_intent::kDelete, file.put()),
              err::kSuccess);
    ASSERT_EQ(m3.files.QueryFacts(file.get(), &facts), err::kSuccess);
    std::string where;
    EXPECT_NE(backup->Keep(file.get(), facts.volumeSerial, "D:\\data\\x.txt", &where),
              err::kSuccess);
    EXPECT_EQ(m3.files.AllPaths("D:\\"), (std::vector<std::string>{"D:\\data", "D:\\data\\x.txt"}));
}

// Moved aside by a clean-up's backup (see the console's tests); never trusted by a restore or a
// purge.
TEST(BackupTest, ABackupsFolderMadeBySomeoneElseIsNeverTrusted) {
    const std::string ann = "S-1-5-21-9-9-9-1001";
    fake::FakeMachine m;
    m.AddUser({ann, "ann"});
    AddStaleRegistration(m, ann);
    // A user made the folder first, with the access of the folder above it.
    m.files.AddDirectory(std::string(kBackups) + "\\Backups");
    m.files.AddFile(std::string(kBackups) + "\\Backups\\planted\\manifest.json", "{}");
    Tables tables;
    tables.FillBuiltIn();
    HiveBook hives;
    Workspace ws{Services{m.platform(), false}, tables, true, 0, &hives};
    std::vector<KeptRun> runs;
    EXPECT_EQ(ListKeptRuns(ws, &runs), err::kAccessDenied);
    EXPECT_NE(RestoreRun(ws, "", {}).error, err::kSuccess);
    EXPECT_NE(PurgeKeptRuns(ws, 0).error, err::kSuccess);
    EXPECT_TRUE(m.files.Exists(std::string(kBackups) + "\\Backups\\planted\\manifest.json"));
}

}  // namespace
}  // namespace qv
