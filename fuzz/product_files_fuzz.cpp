// A user's file clean-up (cleanup/file_list: CleanProductFiles) on a fake machine whose user values
// come from the input: the registration's "RoamableRootFolder" and "LocalRootFolder", the user's
// shell folders "AppData", "Local AppData" and "Local Settings", files, read-only and open files,
// folders and junctions anywhere on the disk, where another user's profile lies, and a junction
// that another process swaps in for an entry of the user's profile in the middle of the run.
//
// The safety oracle compares the whole disk before and after:
// - nothing changes outside the user's profile folder and the machine's common application-data
//   and program-files folders; nothing in another user's profile, even one inside this profile;
// - the profile folder and its application-data and temporary folders (as the machine lays them
//   out and as the user's hive names them) are still there;
// - in the common application-data folder only the product's shared files go ("ovl..." files in
//   the product's "Shared" folders, at most one of each kind per folder: a language or release
//   name never widens into a pattern) and the product's emptied folders above them;
// - in the program-files folder only emptied folders of the product go, never a file;
// - "removed" is answered only when both product folders are gone;
// - a dry run before it changes nothing and notes the same actions, in the same order, that the
//   real run then takes (unless a junction was swapped in during the real run);
// - the registry is unchanged, and no key, search or handle stays open.
//
// Input: one directive a line, "name=value"; in values "$P" stands for the user's profile folder,
// "$B" for the other user's, "$C" for the common application-data folder, "$R" and "$L" for the
// usual roaming and local product folders.
//   roam=, local=                       the registration's folder values
//   appdata=, localappdata=, settings=  the user's shell folders
//   file=, rofile=, busyfile=, dir=     entries to create (parents are made)
//   junction=<path>><target>            a junction
//   swap=<n>:<path>><target>            at the n-th handle call, <path> (inside the profile) is
//                                       moved aside and a junction to <target> put in its place
//   bob=<folder>                        the other user's profile folder
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "app/tables.h"
#include "base/text.h"
#include "cleanup/file_list.h"
#include "cleanup/journal.h"
#include "fake/fake_machine.h"
#include "fuzz/fuzz_check.h"
#include "fuzz/fuzz_machine.h"

namespace qv::fuzz {
namespace {

constexpr char kAnn[] = "S-1-5-21-7-8-9-1001";
constexpr char kBob[] = "S-1-5-21-7-8-9-1002";
constexpr char kKey[] = "Software\\Brennard\\Ovaline\\R16.0\\OVLN-201:409";
constexpr char kProduct[] = "\\Brennard\\Ovaline 2004\\R16.0\\enu";
constexpr char kAnnProfile[] = "C:\\Documents and Settings\\ann";
constexpr char kCommonAppData[] = "C:\\Documents and Settings\\All Users\\Application Data";
constexpr char kProgramFiles[] = "C:\\Program Files";
// The kinds of shared files the file list names, "<kind><release>_<language>.<extension>".
constexpr const char* kSharedKinds[] = {"ovlreg",  "ovluser",  "ovlmenu", "ovlhelp",
                                        "ovltips", "ovlfonts", "ovlcmd",  "ovlerr",
                                        "ovlui",   "ovlpal",   "ovlstate"};

struct Swap {
    int at = 0;
    std::string path;
    std::string target;
};

struct Scenario {
    std::string bobProfile = "C:\\Documents and Settings\\bob";
    std::string roam = std::string(kAnnProfile) + "\\Application Data" + kProduct;
    std::string local = std::string(kAnnProfile) + "\\Local Settings\\Application Data" + kProduct;
    std::string appData = std::string(kAnnProfile) + "\\Application Data";
    std::string localAppData = std::string(kAnnProfile) + "\\Local Settings\\Application Data";
    std::string localSettings = std::string(kAnnProfile) + "\\Local Settings";
    std::vector<std::pair<std::string, std::string>> entries;  // directive, value
    std::vector<Swap> swaps;
};

std::string ReplaceAll(std::string s, std::string_view from, std::string_view to) {
    std::size_t at = 0;
    while ((at = s.find(from, at)) != std::string::npos) {
        s.replace(at, from.size(), to);
        at += to.size();
    }
    return s;
}

Scenario Parse(std::string_view input) {
    Scenario s;
    // "bob=" first: "$B" in the other lines names the folder it gives.
    for (std::string_view line : SplitLines(input)) {
        if (line.substr(0, 4) != "bob=") continue;
        s.bobProfile = ReplaceAll(std::string(line.substr(4)), "$P", kAnnProfile);
        s.bobProfile = ReplaceAll(s.bobProfile, "$C", kCommonAppData);
    }
    const std::string roam = s.roam;
    const std::string local = s.local;
    for (std::string_view line : SplitLines(input)) {
        const std::size_t eq = line.find('=');
        if (eq == std::string_view::npos) continue;
        const std::string name(line.substr(0, eq));
        std::string value(line.substr(eq + 1));
        // "swap=<n>:...": the count comes before any "C:" that a macro brings in.
        int swapAt = 0;
        if (name == "swap") {
            const std::size_t colon = text::Find(value, ':');
            if (colon == text::npos) continue;
            swapAt = std::atoi(value.substr(0, colon).c_str());
            value = value.substr(colon + 1);
        }
        // Macro texts are byte sequences no double-byte character holds ("$" is no trail byte).
        value = ReplaceAll(value, "$R", roam);
        value = ReplaceAll(value, "$L", local);
        value = ReplaceAll(value, "$P", kAnnProfile);
        value = ReplaceAll(value, "$B", s.bobProfile);
        value = ReplaceAll(value, "$C", kCommonAppData);
        if (name == "roam") {
            s.roam = value;
        } else if (name == "local") {
            s.local = value;
        } else if (name == "appdata") {
            s.appData = value;
        } else if (name == "localappdata") {
            s.localAppData = value;
        } else if (name == "settings") {
            s.localSettings = value;
        } else if (name == "swap") {
            const std::size_t arrow = text::Find(value, '>');
            if (arrow == text::npos) continue;
            s.swaps.push_back(Swap{swapAt, value.substr(0, arrow), value.substr(arrow + 1)});
        } else if (name != "bob") {
            s.entries.emplace_back(name, value);
        }
    }
    return s;
}

// The canonical, folded form of a path as the disk image keys it; empty when it is no path.
std::string Canonical(fake::FakeFileSystem& files, std::string_view path) {
    std::string full;
    if (path.empty() || files.GetFullPathName(path, 1024, &full) != err::kSuccess) return {};
    return text::FoldCase(text::TrimTrailingBackslashes(full));
}

bool IsStrictlyBelow(std::string_view path, std::string_view folder) {
    return !folder.empty() && path.size() > folder.size() && IsAtOrBelow(path, folder);
}

// Whether a folder on the way from `folder` to `path` (below it) is a junction: the path then
// leads somewhere else than its text says.
bool PassesALink(fake::FakeFileSystem& files, std::string path, std::string_view folder) {
    for (path = text::CutBeforeLastBackslash(path);
         path.size() > folder.size() && text::FindLast(path, '\\') != text::npos;
         path = text::CutBeforeLastBackslash(path)) {
        const std::uint32_t attributes = files.GetFileAttributes(path);
        if (attributes != kInvalidFileAttributes && (attributes & fa::kReparsePoint) != 0) {
            return true;
        }
    }
    return false;
}

// The machine: ann (logged on, her hive in place) with the usual product folders and files of
// her registration, bob with the same, the machine's shared product files of two languages and
// the viewer's language folders, and files outside every profile.
void Build(fake::FakeMachine& m, const Scenario& s) {
    m.AddUser({kAnn, "ann", "QVTEST", kAnnProfile, true});
    if (!s.bobProfile.empty()) m.AddUser({kBob, "bob", "QVTEST", s.bobProfile, true});

    const std::string shellFolders = m.UserKey(kAnn) + "\\" + fake::kShellFoldersPath;
    m.registry.SetString(shellFolders, "AppData", s.appData);
    m.registry.SetString(shellFolders, "Local AppData", s.localAppData);
    m.registry.SetString(shellFolders, "Local Settings", s.localSettings);
    const std::string key = m.UserKey(kAnn) + "\\" + kKey;
    m.registry.SetString(key, "RoamableRootFolder", s.roam);
    m.registry.SetString(key, "LocalRootFolder", s.local);

    const std::string annRoam = m.AppData(kAnn) + kProduct;
    const std::string annLocal = m.LocalAppData(kAnn) + kProduct;
    m.files.AddFile(annRoam + "\\Support\\ovlbase.hpt", "ann");
    m.files.AddFile(annLocal + "\\Template\\Blank.ovt", "ann");
    m.files.AddFile(text::CutBeforeLastBackslash(annLocal) + "\\OVLN2004.cfg", "ann");
    m.files.AddFile(m.LocalSettings(kAnn) + "\\Temp\\ovln1.tmp", "ann");
    m.files.AddFile(m.AppData(kAnn) + "\\Brennard\\WebService\\ovlws1.log", "ann");
    m.files.AddFile(std::string(kAnnProfile) + "\\My Documents\\thesis.doc", "ann");
    if (!s.bobProfile.empty()) {
        m.files.AddFile(m.AppData(kBob) + kProduct + "\\Support\\ovlbase.hpt", "bob");
        m.files.AddFile(m.LocalAppData(kBob) + kProduct + "\\Template\\Blank.ovt", "bob");
        m.files.AddFile(m.LocalSettings(kBob) + "\\Temp\\ovln1.tmp", "bob");
    }
    for (const char* release : {"R16.0", "R9"}) {
        const std::string shared =
            std::string(kCommonAppData) + "\\Brennard\\Ovaline 2004\\" + release + "\\Shared";
        for (const char* name : {"ovlreg2004_enu.dat", "ovlreg2004_deu.dat", "ovluser2004_enu.dat",
                                 "ovlstate2004_fra.bin", "readme.txt"}) {
            m.files.AddFile(shared + "\\" + name, "machine");
        }
    }
    m.files.AddDirectory(std::string(kProgramFiles) + "\\Brennard\\Ovaline Viewer\\enu");
    m.files.AddFile(std::string(kProgramFiles) + "\\Brennard\\Ovaline Viewer\\deu\\viewer.dll");
    m.files.AddFile(std::string(kProgramFiles) + "\\Brennard\\Ovaline Viewer\\viewer.exe");
    m.files.AddFile("C:\\WINDOWS\\system.ini", "machine");
    m.files.AddFile("C:\\Temp\\ovln1.tmp", "machine");

    for (const auto& [directive, value] : s.entries) {
        if (directive == "file" || directive == "rofile" || directive == "busyfile") {
            if (Canonical(m.files, value).empty()) continue;
            m.files.AddFile(value, "input", directive == "rofile" ? fa::kReadOnly : 0);
            if (directive == "busyfile") m.files.SetInUse(value);
        } else if (directive == "dir") {
            if (!Canonical(m.files, value).empty()) m.files.AddDirectory(value);
        } else if (directive == "junction") {
            const std::size_t arrow = text::Find(value, '>');
            if (arrow == text::npos) continue;
            const std::string link = value.substr(0, arrow);
            const std::string target = value.substr(arrow + 1);
            if (Canonical(m.files, link).empty() || Canonical(m.files, target).empty()) continue;
            if (!m.files.Exists(link)) m.files.AddJunction(link, target);
        }
    }
}

}  // namespace
}  // namespace qv::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace qv;
    using namespace qv::fuzz;
    const Scenario s = Parse(AsText(data, size));
    fake::FakeMachine m;
    // A setup helper refuses what no disk can hold (a file where a folder must be, a junction to
    // nowhere); such an input tests nothing and is not kept.
    try {
        Build(m, s);
    } catch (const std::exception&) {
        return -1;
    }
    Tables tables;
    tables.FillBuiltIn();

    const std::string profile = text::FoldCase(kAnnProfile);
    // The other user's profile, unless it is this user's folder or holds it: a path inside this
    // user's profile is his before it is the outer one's.
    std::string bob = Canonical(m.files, s.bobProfile);
    if (IsAtOrBelow(profile, bob)) bob.clear();
    const std::string common = text::FoldCase(kCommonAppData);
    const std::string programFiles = text::FoldCase(kProgramFiles);
    // Folders that must stay: the profile, its application-data and temporary folders as the
    // machine lays them out and as the hive names them (those that exist and lie inside it).
    std::set<std::string> kept;
    for (const std::string& folder :
         {std::string(kAnnProfile), m.AppData(kAnn), m.LocalAppData(kAnn), m.LocalSettings(kAnn),
          m.LocalSettings(kAnn) + "\\Temp", s.appData, s.localAppData, s.localSettings,
          s.localSettings + "\\Temp"}) {
        const std::string canonical = Canonical(m.files, folder);
        if (!canonical.empty() && m.files.IsDirectory(folder) && IsAtOrBelow(canonical, profile) &&
            !IsAtOrBelow(canonical, bob)) {
            kept.insert(canonical);
        }
    }

    // Another process swaps a junction in, only strictly inside the profile (not through a link
    // that leads out of it), never at or above a kept folder or another profile, and only in a
    // folder that exists (making folders on the way would put back what the clean-up removed):
    // what it changes itself is the user's own.
    int handleCalls = 0;
    bool swapped = false;
    const auto swapper = [&](HandleOp, std::string_view) {
        ++handleCalls;
        for (const Swap& swap : s.swaps) {
            if (swap.at != handleCalls) continue;
            const std::string at = Canonical(m.files, swap.path);
            if (!IsStrictlyBelow(at, profile) || text::Find(at, '~') != text::npos ||
                PassesALink(m.files, at, profile) ||
                !m.files.IsDirectory(text::CutBeforeLastBackslash(at)) ||
                Canonical(m.files, swap.target).empty()) {
                continue;
            }
            bool guarded = IsAtOrBelow(bob, at) || IsAtOrBelow(at, bob);
            for (const std::string& folder : kept) guarded = guarded || IsAtOrBelow(folder, at);
            if (guarded) continue;
            // The fake refuses what no process could do (a target that is a file, a name taken):
            // then nothing is swapped.
            try {
                if (m.files.Exists(swap.path)) m.files.Move(swap.path, swap.path + "~");
                m.files.AddJunction(swap.path, swap.target);
                swapped = true;
            } catch (const std::exception&) {
            }
        }
    };

    const RegistryImage registryBefore = TakeRegistryImage(m.registry);
    const DiskImage before = TakeDiskImage(m.files);
    const std::string roamBefore = Canonical(m.files, s.roam);
    const std::string localBefore = Canonical(m.files, s.local);
    const bool roamExisted = !roamBefore.empty() && before.count(roamBefore) != 0;
    const bool localExisted = !localBefore.empty() && before.count(localBefore) != 0;

    // The dry run first: it changes nothing and notes what the real run will do.
    const std::string registration = std::string(kAnn) + "\\" + kKey;
    Journal plan(true);
    const ProductFilesOutcome planned =
        CleanProductFiles(m.platform(), tables, registration, kAnn, nullptr, &plan);
    QV_FUZZ_CHECK(
        CompareDisk(before, TakeDiskImage(m.files)).empty(),
        "the dry run changed the disk: " + Describe(CompareDisk(before, TakeDiskImage(m.files))));
    QV_FUZZ_CHECK(m.files.OpenHandleCount() == 0, "the dry run left a file handle open");

    m.files.SetHandleHook(swapper);
    Journal journal(false);
    const ProductFilesOutcome outcome =
        CleanProductFiles(m.platform(), tables, registration, kAnn, nullptr, &journal);
    m.files.SetHandleHook(nullptr);
    const DiskImage after = TakeDiskImage(m.files);

    // Unless another process changed the disk in between, the real run does what the dry run
    // said it would: the same actions on the same paths, in the same order, with the same outcome.
    if (!swapped) {
        QV_FUZZ_CHECK(outcome == planned, "the dry run's outcome differs");
        std::string said;
        std::string done;
        for (const Action& a : plan.actions()) {
            said += std::string(ActionKindName(a.kind)) + " " + a.path + "\n";
        }
        for (const Action& a : journal.actions()) {
            done += std::string(ActionKindName(a.kind)) + " " + a.path + "\n";
        }
        QV_FUZZ_CHECK(said == done, "planned:\n" + said + "done:\n" + done);
    }

    // QV_FUZZ_TRACE=1 shows what a run did, for looking into an input by hand.
    if (std::getenv("QV_FUZZ_TRACE") != nullptr) {
        std::fprintf(stderr, "outcome %d, swapped %d, %d handle calls; changed:\n%s\n",
                     static_cast<int>(outcome), swapped ? 1 : 0, handleCalls,
                     Describe(CompareDisk(before, after)).c_str());
    }
    std::map<std::string, int> sharedKinds;  // "<folder>|<kind>" -> files of that kind gone
    for (const std::string& path : CompareDisk(before, after)) {
        QV_FUZZ_CHECK(kept.count(path) == 0, "a kept folder changed: " + path);
        QV_FUZZ_CHECK(bob.empty() || !IsAtOrBelow(path, bob), "another profile changed: " + path);
        if (IsStrictlyBelow(path, profile)) continue;

        auto was = before.find(path);
        const bool wasFolder = was != before.end() && (was->second.attributes & fa::kDirectory);
        const bool gone = after.count(path) == 0;
        if (IsStrictlyBelow(path, programFiles)) {
            QV_FUZZ_CHECK(
                gone && wasFolder &&
                    IsAtOrBelow(path, programFiles + text::FoldCase("\\Brennard\\Ovaline Viewer")),
                "the program-files folder changed: " + path);
            continue;
        }
        QV_FUZZ_CHECK(IsStrictlyBelow(path, common + text::FoldCase("\\Brennard")),
                      "changed outside the profile and the machine's folders: " + path);
        QV_FUZZ_CHECK(gone, "a machine file changed: " + path);
        if (wasFolder) continue;
        const std::string folder = text::CutBeforeLastBackslash(path);
        const std::string name = text::AfterLastBackslash(path);
        QV_FUZZ_CHECK(text::AfterLastBackslash(folder) == text::FoldCase("Shared"),
                      "a machine file outside a shared folder went: " + path);
        std::string kind;
        for (const char* k : kSharedKinds) {
            const std::string folded = text::FoldCase(k);
            if (name.compare(0, folded.size(), folded) == 0 && folded.size() > kind.size()) {
                kind = folded;
            }
        }
        QV_FUZZ_CHECK(!kind.empty(), "a machine file that is no shared file went: " + path);
        QV_FUZZ_CHECK(++sharedKinds[folder + "|" + kind] == 1,
                      "two shared files of one kind went: " + path);
    }

    if (outcome == ProductFilesOutcome::kRemoved && !swapped) {
        QV_FUZZ_CHECK(!roamExisted || after.count(roamBefore) == 0,
                      "removed reported, but the roaming folder stays: " + roamBefore);
        QV_FUZZ_CHECK(!localExisted || after.count(localBefore) == 0,
                      "removed reported, but the local folder stays: " + localBefore);
    }
    QV_FUZZ_CHECK(CompareRegistry(registryBefore, TakeRegistryImage(m.registry)).empty(),
                  "the registry changed");
    QV_FUZZ_CHECK(m.registry.OpenKeyPaths().empty(), Describe(m.registry.OpenKeyPaths()));
    QV_FUZZ_CHECK(m.files.OpenHandleCount() == 0, "a file handle stays open");
    QV_FUZZ_CHECK(m.files.OpenFindCount() == 0, "a search stays open");
    return 0;
}
