// Undo: on random machines a clean-up with a backup, then a restore of its run, gives back every
// key with its values and every file and folder with its attributes and contents, and each
// registration key its last-write time (the keys above it are stamped by the writes below them,
// as by the deletion, and are compared without their times).
#include "engine/backup/backup.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "base/text.h"
#include "engine/backup/key_backup.h"
#include "engine/backup/manifest.h"
#include "engine/backup/restore.h"
#include "engine/plan.h"
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
    EXPECT_EQ(RunBackup::Begin(ws, nullptr, run, "test", &backup), err::kSuccess);
    (void)ApplyPlan(ws, findings, &plan, CleanupRun{nullptr, backup.get()});
    return plan;
}

// A random machine with a workspace that keeps the hives it loads in a book of its own.
struct RandomRun : RandomMachine {
    explicit RandomRun(unsigned seed) : RandomMachine(seed) {}
    HiveBook hives;
    Workspace ws{Services{m.platform(), false}, tables, true, 0, &hives};
};

TEST(BackupTest, OnRandomMachinesCleanThenRestoreGivesEverythingBack) {
    int kept = 0;
    int timed = 0;
    for (unsigned seed = 1; seed <= 40; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        RandomRun r(seed);
        const auto before = r.Image();
        const auto timesBefore = r.KeyTimes();

        const std::string run = "run" + std::to_string(seed);
        Plan plan = CleanWithBackup(r.ws, run);
        for (const Action& a : plan.actions) {
            const bool removes = a.kind == ActionKind::kDeleteFolderTree ||
                                 a.kind == ActionKind::kDeleteFile ||
                                 a.kind == ActionKind::kDeleteKeyTree;
            if (a.result == ActionResult::kDone && removes) {
                EXPECT_FALSE(a.backup.empty()) << "removed without a backup: " << a.path;
                ++kept;
            }
        }

        RestoreReport restored = RestoreRun(r.ws, "", {}, nullptr);
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
        RestoreReport again = RestoreRun(r.ws, run, {}, nullptr);
        EXPECT_EQ(again.error, err::kSuccess);
        EXPECT_TRUE(again.items.empty());
        EXPECT_EQ(r.Image(), once);

        // A purge of runs older than 0 days takes the run made this very second too.
        const PurgeReport purged = PurgeKeptRuns(r.ws, 0, nullptr);
        EXPECT_EQ(purged.error, err::kSuccess);
        EXPECT_EQ(purged.purged, std::vector<std::string>{run});
        EXPECT_TRUE(purged.failed.empty());
    }
    EXPECT_GT(kept, 100);  // the machines were varied enough to keep something
    EXPECT_GT(timed, 20);  // and to compare the times of registrations put back
}

TEST(BackupTest, ARestoreLeavesAPlaceTakenAgainAndItsBackup) {
    // Seeds until one cleans a product folder tree.
    for (unsigned seed = 1; seed <= 40; ++seed) {
        RandomRun r(seed);
        Plan plan = CleanWithBackup(r.ws, "taken");
        const Action* tree = nullptr;
        for (const Action& a : plan.actions) {
            if (a.kind == ActionKind::kDeleteFolderTree && a.result == ActionResult::kDone) {
                tree = &a;
                break;
            }
        }
        if (tree == nullptr) continue;
        r.m.files.AddFile(tree->path + "\\new.txt", "new");

        RestoreReport restored = RestoreRun(r.ws, "taken", {}, nullptr);
        EXPECT_EQ(restored.error, err::kSuccess);
        EXPECT_TRUE(restored.anyTaken());
        EXPECT_EQ(r.m.files.ReadFile(tree->path + "\\new.txt"), std::string("new"));
        EXPECT_TRUE(r.m.files.Exists(tree->backup)) << "the backup must stay: " << tree->backup;

        // Once the place is free again, the item that was left is put back by a second restore.
        r.m.files.Remove(tree->path);
        RestoreReport second = RestoreRun(r.ws, "taken", {}, nullptr);
        ASSERT_EQ(second.items.size(), 1u);
        EXPECT_EQ(second.items[0].outcome, RestoreOutcome::kRestored);
        EXPECT_FALSE(r.m.files.Exists(tree->backup));
        return;
    }
    FAIL() << "no seed cleaned a folder tree";
}

// The manifest gets one line per action and is never written again whole, and a line that a run
// stopped in the middle of is left out: the run is still listed and restored, and the restore's
// marks start on lines of their own.
TEST(BackupTest, TheManifestGrowsByALinePerActionAndALineCutOffIsLeftOut) {
    int cut = 0;
    for (unsigned seed = 1; seed <= 20; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        RandomRun r(seed);
        std::map<HandleOp, int> writes;
        r.m.files.SetHandleHook([&writes](HandleOp op, std::string_view name) {
            if (text::EqualsNoCase(name, kManifestName)) ++writes[op];
        });
        Plan plan = CleanWithBackup(r.ws, "lines");
        r.m.files.SetHandleHook(nullptr);
        EXPECT_EQ(writes[HandleOp::kWriteWholeFile], 1);  // the header
        EXPECT_EQ(writes[HandleOp::kAppendToFile], static_cast<int>(plan.actions.size()));
        const std::string path = std::string(kBackups) + "\\Backups\\lines\\manifest.json";
        const std::string text = r.m.files.ReadFile(path).value_or("");
        EXPECT_EQ(std::count(text.begin(), text.end(), '\n'),
                  static_cast<long>(plan.actions.size()) + 1);
        if (plan.actions.size() < 2) continue;

        // The last line cut off somewhere inside it.
        const std::size_t last = text.rfind('\n', text.size() - 2) + 1;
        const std::size_t at = last + 1 + (seed * 7919u) % (text.size() - last - 1);
        r.m.files.AddFile(path, text.substr(0, at));
        std::vector<KeptRun> runs;
        ASSERT_EQ(ListKeptRuns(r.ws, &runs), err::kSuccess);
        ASSERT_EQ(runs.size(), 1u);
        EXPECT_EQ(runs[0].manifest.actions.size(), plan.actions.size() - 1);
        RestoreReport restored = RestoreRun(r.ws, "lines", {}, nullptr);
        EXPECT_EQ(restored.error, err::kSuccess);
        ASSERT_EQ(ListKeptRuns(r.ws, &runs), err::kSuccess);
        ASSERT_EQ(runs.size(), 1u);
        EXPECT_EQ(runs[0].manifest.actions.size(), plan.actions.size() - 1);
        for (const ManifestAction& a : runs[0].manifest.actions) {
            EXPECT_TRUE(a.restored || a.action.result != ActionResult::kDone) << a.action.path;
        }
        ++cut;
    }
    EXPECT_GT(cut, 10);
}

// After a clean-up removed an emptied folder below the machine's application data, a user made it
// again and owns it: nothing is put back into it or below it (refused, the backup stays). Once the
// folder is gone again, a second restore puts everything back.
TEST(BackupTest, ARestoreRefusesAMachineFolderThatAUserMadeAgain) {
    const std::string common = text::FoldCase(test::kCommon) + "\\";
    for (unsigned seed = 1; seed <= 80; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        RandomRun r(seed);
        Plan plan = CleanWithBackup(r.ws, "again");
        const Action* emptied = nullptr;
        const Action* item = nullptr;
        for (const Action& a : plan.actions) {
            if (a.kind == ActionKind::kRemoveEmptyFolder && a.result == ActionResult::kDone &&
                text::FoldCase(a.path).rfind(common, 0) == 0) {
                emptied = &a;  // the last one: the outermost folder of the chain
            }
        }
        for (const Action& a : plan.actions) {
            if (emptied != nullptr && !a.backup.empty() && a.result == ActionResult::kDone &&
                text::FoldCase(a.path).rfind(text::FoldCase(emptied->path) + "\\", 0) == 0) {
                item = &a;
            }
        }
        if (item == nullptr) continue;
        r.m.files.AddDirectory(emptied->path);
        r.m.files.SetOwner(emptied->path, "S-1-5-21-9-9-9-1001");

        RestoreReport report = RestoreRun(r.ws, "again", {}, nullptr);
        EXPECT_EQ(report.error, err::kSuccess);
        EXPECT_TRUE(report.anyFailed());
        bool refused = false;
        for (const RestoredItem& i : report.items) {
            if (i.path == item->path) refused = i.outcome == RestoreOutcome::kRefused;
        }
        EXPECT_TRUE(refused) << item->path;
        EXPECT_TRUE(r.m.files.Exists(item->backup));
        EXPECT_TRUE(r.m.files.List(emptied->path).empty());

        r.m.files.Remove(emptied->path);
        RestoreReport second = RestoreRun(r.ws, "again", {}, nullptr);
        EXPECT_FALSE(second.anyFailed());
        EXPECT_TRUE(r.m.files.Exists(item->path));
        EXPECT_FALSE(r.m.files.Exists(item->backup));
        return;
    }
    FAIL() << "no seed emptied a machine folder with a kept item below it";
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
    m.files.InjectFault(HandleOp::kRename, "enu", err::kSharingViolation, fake::kAlways);
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
    ASSERT_EQ(RunBackup::Begin(ws3, nullptr, "r4", "test", &backup), err::kSuccess);
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
    EXPECT_NE(RestoreRun(ws, "", {}, nullptr).error, err::kSuccess);
    EXPECT_NE(PurgeKeptRuns(ws, 0, nullptr).error, err::kSuccess);
    EXPECT_TRUE(m.files.Exists(std::string(kBackups) + "\\Backups\\planted\\manifest.json"));
}

// --- registry scripts ---

// What an importer reads of a registry script, byte for byte as "reg import" parses it: a line ends
// at a carriage return or a line feed; one that begins with "[" names a key up to its last "]"
// ("[-" deletes one); one that begins with a quote or "@" is a value of the last key named, its
// name and string data unescaped ("\\" and "\""), a double-byte character read whole.
struct ImportedScript {
    std::vector<std::string> keys;
    std::multiset<std::string> values;  // "<key>|<name>|<type>|<hex of the data>"
    std::string error;                  // a line it could not read
};

bool Hex2(std::string_view digits, std::string* bytes) { return text::FromHex(digits, bytes); }

// Reads a quoted text from s[*i] (just after the opening quote) to its closing quote.
bool Unquote(std::string_view s, std::size_t* i, std::string* out) {
    while (*i < s.size()) {
        const std::size_t n = text::CharLength(s, *i);
        if (n == 1 && s[*i] == '"') {
            ++*i;
            return true;
        }
        if (n == 1 && s[*i] == '\\' && *i + 1 < s.size()) ++*i;
        out->append(s.substr(*i, text::CharLength(s, *i)));
        *i += text::CharLength(s, *i);
    }
    return false;
}

ImportedScript Import(std::string_view script) {
    ImportedScript r;
    std::string key;
    for (std::size_t start = 0; start < script.size();) {
        std::size_t end = script.find_first_of("\r\n", start);
        if (end == std::string_view::npos) end = script.size();
        std::string_view line = script.substr(start, end - start);
        start = end + 1;
        while (!line.empty() && (line[0] == ' ' || line[0] == '\t')) line.remove_prefix(1);
        if (line.empty() || line == "REGEDIT4") continue;
        if (line[0] == '[') {
            const std::size_t close = text::FindLast(line, ']');
            if (close == text::npos) {
                r.error = std::string(line);
                continue;
            }
            key = std::string(line.substr(1, close - 1));
            r.keys.push_back(key);
            continue;
        }
        std::string name;
        std::size_t i = 1;
        if (line[0] == '"') {
            if (!Unquote(line, &i, &name)) {
                r.error = std::string(line);
                continue;
            }
        } else if (line[0] != '@') {
            r.error = std::string(line);
            continue;
        }
        std::string_view data = line.substr(std::min(i, line.size()));
        std::uint32_t type = 0;
        std::string bytes;
        bool read = !data.empty() && data[0] == '=';
        if (read) data.remove_prefix(1);
        if (read && !data.empty() && data[0] == '"') {
            std::size_t j = 1;
            type = reg::kSz;
            read = Unquote(data, &j, &bytes) && j == data.size();
            bytes += '\0';
        } else if (read && data.rfind("dword:", 0) == 0 && data.size() == 14) {
            type = reg::kDword;
            std::string be;
            read = Hex2(data.substr(6), &be);
            bytes.assign(be.rbegin(), be.rend());
        } else if (read) {
            const std::size_t colon = data.find(':');
            read = colon != std::string_view::npos;
            if (read && data.substr(0, colon) == "hex") {
                type = reg::kBinary;
            } else if (read && data.rfind("hex(", 0) == 0 && data[colon - 1] == ')') {
                type = static_cast<std::uint32_t>(std::stoul(std::string(data.substr(4))));
            } else {
                read = false;
            }
            std::string digits;
            for (char c : read ? data.substr(colon + 1) : std::string_view()) {
                if (c != ',') digits += c;
            }
            read = read && Hex2(digits, &bytes);
        }
        if (!read) {
            r.error = std::string(line);
            continue;
        }
        r.values.insert(key + "|" + name + "|" + std::to_string(type) + "|" + text::Hex(bytes));
    }
    return r;
}

// The keys and values of a tree as Import names them.
void Expected(const KeyTreeCopy& tree, const std::string& name, ImportedScript* out) {
    out->keys.push_back(name);
    for (const KeyValueCopy& v : tree.values) {
        out->values.insert(name + "|" + v.name + "|" + std::to_string(v.type) + "|" +
                           text::Hex(v.data));
    }
    for (const KeyTreeCopy& sub : tree.subKeys) Expected(sub, name + "\\" + sub.name, out);
}

// A name of pieces: honest ones, or any of those an attacker would try in a key or value name.
std::string RandomName(std::mt19937& rng, bool hostile) {
    static const char* const kHonest[] = {"Settings", "OVLN-201:409", "a",   "R16.0", " x",
                                          "\x93\xfa",  // a whole double-byte character
                                          "\xb1",     "v1.2",         "(x)", "{",     "%AppData%"};
    static const char* const kHostile[] = {"x]",
                                           "\r\n",
                                           "\r",
                                           "\n",
                                           "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\Run",
                                           "\"",
                                           "\\",
                                           "=",
                                           "@",
                                           ";",
                                           "-",
                                           "[-HKEY_USERS\\S-1-5-18]",
                                           "]",
                                           "[",
                                           "\t",
                                           "\x7f",
                                           "\x81",  // a lead byte, alone or before the next piece
                                           "\x83\x5c",
                                           "\x81]",  // second bytes "\\" and "]"
                                           "\x81\"",
                                           "\x81\r",
                                           "\x01",
                                           "hex:00",
                                           "\"=dword:00000001"};
    std::string name;
    const int pieces = 1 + static_cast<int>(rng() % 4);
    for (int i = 0; i < pieces; ++i) {
        name += hostile && rng() % 2 == 0 ? kHostile[rng() % (sizeof kHostile / sizeof *kHostile)]
                                          : kHonest[rng() % (sizeof kHonest / sizeof *kHonest)];
    }
    return name;
}

KeyValueCopy RandomValue(std::mt19937& rng, bool hostile) {
    KeyValueCopy v;
    v.name = rng() % 8 == 0 ? std::string() : RandomName(rng, hostile);
    static const std::uint32_t kTypes[] = {reg::kSz, reg::kSz, reg::kDword, reg::kBinary,
                                           2,        7,        0,           11};
    v.type = kTypes[rng() % (sizeof kTypes / sizeof *kTypes)];
    if (v.type == reg::kDword && rng() % 4 != 0) {
        v.data = std::string("\x01\x00\xff\x7f", 4);
    } else {
        v.data = RandomName(rng, hostile) + (rng() % 4 != 0 ? std::string(1, '\0') : "");
    }
    return v;
}

KeyTreeCopy RandomTree(std::mt19937& rng, bool hostile, int depth) {
    KeyTreeCopy tree;
    tree.name = RandomName(rng, hostile);
    for (int i = static_cast<int>(rng() % 4); i > 0; --i)
        tree.values.push_back(RandomValue(rng, hostile));
    for (int i = depth < 3 ? static_cast<int>(rng() % 3) : 0; i > 0; --i) {
        tree.subKeys.push_back(RandomTree(rng, hostile, depth + 1));
    }
    return tree;
}

bool AnyName(const KeyTreeCopy& tree, bool (*bad)(const std::string&)) {
    if (bad(tree.name)) return true;
    for (const KeyValueCopy& v : tree.values) {
        if (bad(v.name)) return true;
    }
    for (const KeyTreeCopy& sub : tree.subKeys) {
        if (AnyName(sub, bad)) return true;
    }
    return false;
}

TEST(BackupTest, RegistryScriptsNameNoKeyOutsideTheRegistrationWhateverItsNames) {
    std::mt19937 rng(7);
    const std::string parent =
        "HKEY_USERS\\S-1-5-21-1-2-3-1001\\Software\\Brennard\\Ovaline\\R16.0";
    int written = 0;
    int hostileWritten = 0;
    for (int round = 0; round < 3000; ++round) {
        const bool hostile = round % 4 != 0;
        KeyTreeCopy tree = RandomTree(rng, hostile, 0);
        const std::string root = parent + "\\" + tree.name;
        SCOPED_TRACE("round " + std::to_string(round) + " " + text::Hex(root));
        std::string script;
        if (!RegExport(tree, root, &script)) {
            // Only a name the script cannot hold keeps the script from being written.
            EXPECT_TRUE(hostile);
            continue;
        }
        ++written;
        if (hostile) ++hostileWritten;
        // A line break in any name would have ended its line: such a tree has no script.
        EXPECT_FALSE(AnyName(tree, [](const std::string& n) {
            return n.find_first_of("\r\n") != std::string::npos;
        }));
        const ImportedScript imported = Import(script);
        EXPECT_EQ(imported.error, "");
        for (const std::string& key : imported.keys) {
            EXPECT_TRUE(key == root || key.rfind(root + "\\", 0) == 0) << text::Hex(key);
        }
        ImportedScript expected;
        Expected(tree, root, &expected);
        EXPECT_EQ(imported.keys, expected.keys);
        EXPECT_EQ(imported.values, expected.values);
    }
    EXPECT_GT(hostileWritten, 100);  // many hostile names can be carried (quoted, escaped)
    EXPECT_GT(written - hostileWritten, 700);  // and every honest tree was written
}

// A user's registration whose sub key name would start a machine section: its clean-up keeps the
// key tree and its saved hive, writes no script, says so in the manifest, and the restore puts the
// tree back as it was.
TEST(BackupTest, AKeyTreeWithAnUnsafeNameIsKeptWithoutAScriptAndRestored) {
    const std::string ann = "S-1-5-21-9-9-9-1001";
    fake::FakeMachine m;
    m.AddUser({ann, "ann"});
    AddStaleRegistration(m, ann);
    const std::string key = m.UserKey(ann) + "\\Software\\Brennard\\Ovaline\\R16.0\\OVLN-201:409";
    const std::string evil =
        key + "\\x]\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
    m.registry.SetString(evil, "qv", "calc.exe");
    Tables tables;
    tables.FillBuiltIn();
    HiveBook hives;
    Workspace ws{Services{m.platform(), false}, tables, true, 0, &hives};
    Plan plan = CleanWithBackup(ws, "evil");
    const Action* kept = nullptr;
    for (const Action& a : plan.actions) {
        if (a.kind == ActionKind::kDeleteKeyTree && a.result == ActionResult::kDone) kept = &a;
    }
    ASSERT_NE(kept, nullptr);
    EXPECT_FALSE(m.registry.KeyExists(evil));
    const std::string base = kept->backup.substr(0, kept->backup.size() - 10);  // no ".keys.json"
    EXPECT_TRUE(m.files.Exists(base + ".keys.json"));
    EXPECT_FALSE(m.files.Exists(base + ".reg"));
    std::vector<KeptRun> runs;
    ASSERT_EQ(ListKeptRuns(ws, &runs), err::kSuccess);
    ASSERT_EQ(runs.size(), 1u);
    bool noted = false;
    for (const ManifestAction& a : runs[0].manifest.actions) {
        if (a.action.backup == kept->backup) noted = a.note.find(".reg") != std::string::npos;
    }
    EXPECT_TRUE(noted);
    RestoreReport restored = RestoreRun(ws, "evil", {}, nullptr);
    EXPECT_FALSE(restored.anyFailed());
    EXPECT_EQ(m.registry.GetString(evil, "qv").has_value(), true);
}

// A registry link in a user's key tree, or on the way to where a restore writes one, is refused and
// never followed: what it leads to is neither read into a backup nor written.
TEST(BackupTest, KeyTreesAreNeitherReadNorWrittenThroughARegistryLink) {
    fake::FakeMachine m;
    const std::string victim = "HKLM\\SOFTWARE\\Victim";
    m.registry.SetString(victim + "\\Keep", "Value", "kept");
    const std::string user = "S-1-5-21-9-9-9-1001\\Software\\Brennard";
    m.registry.SetString("HKU\\" + user + "\\Plain\\Sub", "V", "1");
    m.registry.AddLink("HKU\\" + user + "\\Plain\\Link", victim);
    m.registry.AddLink("HKU\\" + user + "\\Way", victim);

    KeyTreeCopy tree;
    EXPECT_EQ(ReadKeyTree(m.registry, kHkeyUsers, user + "\\Plain", &tree), err::kStoppedOnSymlink);
    EXPECT_EQ(ReadKeyTree(m.registry, kHkeyUsers, user + "\\Way", &tree), err::kStoppedOnSymlink);
    ASSERT_EQ(ReadKeyTree(m.registry, kHkeyUsers, user + "\\Plain\\Sub", &tree), err::kSuccess);

    EXPECT_EQ(WriteKeyTree(m.registry, kHkeyUsers, user + "\\Way\\Sub", tree),
              err::kStoppedOnSymlink);
    EXPECT_FALSE(m.registry.KeyExists(victim + "\\Sub"));
    EXPECT_EQ(m.registry.GetString(victim + "\\Keep", "Value"), "kept");
    // Where no link stands, the same tree is written, the missing keys above it made.
    EXPECT_EQ(WriteKeyTree(m.registry, kHkeyUsers, user + "\\New\\Sub", tree), err::kSuccess);
    EXPECT_EQ(m.registry.GetString("HKU\\" + user + "\\New\\Sub", "V"), "1");
}

}  // namespace
}  // namespace qv
