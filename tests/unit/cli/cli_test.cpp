// The console program against the fake machine: its JSON document, its exit codes, its command
// line.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "base/text.h"
#include "cli/cli_program.h"
#include "cli/command_line.h"
#include "cli/console_boxes.h"
#include "cli/exit_code.h"
#include "cli/report.h"
#include "fake/fake_console.h"
#include "res/resource.h"
#include "tests/unit/ui/ui_machine.h"

namespace qv {
namespace {

using cli::Command;
using cli::ExitCode;
using cli::ParseOutcome;
using fake::RegOp;
using Json = nlohmann::ordered_json;
using Strings = std::vector<std::string>;

class CliTest : public UiMachine {
  protected:
    static constexpr char kKen[] = "S-1-5-21-7-7-7-1003";
    static constexpr char kSketchJapanese[] = "Ovaline Sketch\\R9\\OVSK-201:411";

    ExitCode Run(const Strings& args) { return cli::RunCli(m.platform(), console, args); }

    // Everything of the machine that a run could change: keys with their times and values, and
    // every file and folder.
    std::string Snapshot() const {
        std::ostringstream out;
        for (const auto& key : m.registry.AllKeys()) {
            out << key.path << ' ' << key.time << '\n';
            for (const auto& [name, value] : key.values) {
                out << "  " << name << ' ' << value.type << ' ' << value.bytes << '\n';
            }
        }
        for (const auto& entry : m.files.AllEntries()) {
            out << entry.path << ' ' << entry.attributes << ' ' << entry.contents << '\n';
        }
        return out.str();
    }

    // zed's English registration, an hour older than the machine's, with its data folders.
    void StaleEnglish() {
        Reg("", kEnglish, kT);
        Reg(kZed, kEnglish, kT - 3600);
        const std::string roaming = m.AppData(kZed) + "\\Brennard\\Ovaline 2004\\R16.0\\enu";
        const std::string local = m.LocalAppData(kZed) + "\\Brennard\\Ovaline 2004\\R16.0\\enu";
        m.registry.SetString(Path(kZed, kEnglish), "RoamableRootFolder", roaming);
        m.registry.SetString(Path(kZed, kEnglish), "LocalRootFolder", local);
        m.files.AddFile(roaming + "\\settings.ini", "x");
        m.files.AddFile(local + "\\cache.bin", "x");
    }
    bool ZedEnglishKeyExists() const { return m.registry.KeyExists(Path(kZed, kEnglish)); }

    fake::FakeConsole console;
};

// What a run writes on standard output ends as deployment engines read it: with --json (and no
// --output) the JSON document and nothing else; otherwise one summary line, the last, of ASCII
// key=value pairs, at most 2,048 characters, that ends with the exit code the run answered.
// --help and --version print what they are asked for.
void ExpectSummaryLine(const std::string& out, ExitCode code, const Strings& args) {
    auto given = [&](const std::string& option) {
        return std::find(args.begin(), args.end(), option) != args.end();
    };
    if (given("--help") || given("--version")) return;
    const std::string kHead = "quorvane: ";
    if (given("--json") && !given("--output")) {
        if (out.empty()) return;  // stopped before there was a document
        EXPECT_FALSE(Json::parse(out, nullptr, false).is_discarded()) << out;
        EXPECT_EQ(out.find("\n" + kHead), std::string::npos) << out;
        return;
    }
    ASSERT_FALSE(out.empty());
    ASSERT_EQ(out.back(), '\n');
    const std::size_t start = out.rfind('\n', out.size() - 2) + 1;  // npos + 1 == 0
    const std::string line = out.substr(start, out.size() - 1 - start);
    EXPECT_EQ(line.rfind(kHead, 0), 0u) << out;
    EXPECT_LE(line.size(), cli::kMaxSummaryLine);
    EXPECT_TRUE(std::regex_match(line, std::regex("quorvane:( [a-z]+=[0-9]+)+"))) << line;
    EXPECT_TRUE(std::all_of(line.begin(), line.end(), [](char c) { return c >= 0x20 && c < 0x7F; }))
        << line;
    EXPECT_EQ(line.substr(line.rfind(' ') + 1), "exit=" + std::to_string(static_cast<int>(code)));
    // The only one.
    EXPECT_EQ(out.find(kHead), start) << out;
}

// A small machine as the document shows it: a reinstalled registration with its folders, a leftover
// folder held in memory (listed as the dialog lists it, before the light edition that the scan met
// first), a registration the machine lacks, and a profile whose hive cannot be loaded, whose
// account name is Japanese. Nothing is written.
TEST_F(CliTest, ScanJsonListsTheEvidenceAndWritesNothing) {
    StaleEnglish();
    Reg(kZed, kSketchJapanese, kT - 5);
    m.files.AddDirectory(m.LocalAppData(kAmy) + "\\Brennard\\Ovaline 2004\\R16.0\\fra");
    m.AddUser({kKen, fake::Cp932("健"), "QVTEST", "C:\\Documents and Settings\\ken"});
    m.registry.InjectFault(RegOp::kLoad, kKen, err::kSharingViolation, fake::kAlways);
    m.system.SetComputerName(fake::Cp932("経理-PC"));
    m.system.SetNow(1700000000);
    const std::string before = Snapshot();

    // Stale registrations found: detection exits 1 though one profile could not be read.
    EXPECT_EQ(Run({"scan", "--json"}), ExitCode::kStaleFound);

    Json expected = Json::parse(R"json({
      "schemaVersion": 1,
      "command": "scan",
      "tool": {"name": "quorvane-cli", "version": null},
      "machine": "経理-PC",
      "generatedAt": "2023-11-14T22:13:20Z",
      "runId": null,
      "summary": {"exitCode": 1,
                  "profiles": {"in-place": 0, "loaded": 2, "unreadable": 1, "absent": 0},
                  "stale": 3, "users": 2, "done": 0, "failed": 0, "refused": 0, "skipped": 0},
      "mode": "all-profiles",
      "registryRead": true,
      "profiles": [
        {"sid": "S-1-5-21-7-7-7-1001", "account": "zed", "state": "loaded", "error": null},
        {"sid": "S-1-5-21-7-7-7-1002", "account": "amy", "state": "loaded", "error": null},
        {"sid": "S-1-5-21-7-7-7-1003", "account": "健", "state": "unreadable", "error":
          {"code": 32, "message": "The process cannot access the file because it is being used by another process."}}
      ],
      "registrations": [
        {"label": "Ovaline 2004 (English)", "keyName": "OVLN-201:409", "product": "Ovaline",
         "release": "R16.0", "users": [
          {"sid": "S-1-5-21-7-7-7-1001", "account": "zed",
           "keyPath": "HKEY_USERS\\S-1-5-21-7-7-7-1001\\Software\\Brennard\\Ovaline\\R16.0\\OVLN-201:409",
           "reason": "reinstalled",
           "userOldestKeyTime": "2020-09-13T11:26:40Z", "machineOldestKeyTime": "2020-09-13T12:26:40Z",
           "roamingFolder": "C:\\Documents and Settings\\zed\\Application Data\\Brennard\\Ovaline 2004\\R16.0\\enu",
           "localFolder": "C:\\Documents and Settings\\zed\\Local Settings\\Application Data\\Brennard\\Ovaline 2004\\R16.0\\enu",
           "leftover": false}]},
        {"label": "Ovaline 2004 (French)", "keyName": "OVLN-201:40C", "product": "Ovaline",
         "release": "R16.0", "users": [
          {"sid": "S-1-5-21-7-7-7-1002", "account": "amy",
           "keyPath": "HKEY_USERS\\S-1-5-21-7-7-7-1002\\Software\\Brennard\\Ovaline\\R16.0\\OVLN-201:40C",
           "reason": "machine-key-missing",
           "userOldestKeyTime": null, "machineOldestKeyTime": null,
           "roamingFolder": "C:\\Documents and Settings\\amy\\Application Data\\Brennard\\Ovaline 2004\\R16.0\\fra",
           "localFolder": "C:\\Documents and Settings\\amy\\Local Settings\\Application Data\\Brennard\\Ovaline 2004\\R16.0\\fra",
           "leftover": true}]},
        {"label": "Ovaline Sketch 2004 (Japanese)", "keyName": "OVSK-201:411",
         "product": "Ovaline Sketch", "release": "R9", "users": [
          {"sid": "S-1-5-21-7-7-7-1001", "account": "zed",
           "keyPath": "HKEY_USERS\\S-1-5-21-7-7-7-1001\\Software\\Brennard\\Ovaline Sketch\\R9\\OVSK-201:411",
           "reason": "machine-key-missing",
           "userOldestKeyTime": "2020-09-13T12:26:35Z", "machineOldestKeyTime": null,
           "roamingFolder": null, "localFolder": null, "leftover": false}]}
      ]
    })json");
    expected["tool"]["version"] = cli::ProgramVersion();
    const Json actual = Json::parse(console.Out(), nullptr, false);
    ASSERT_FALSE(actual.is_discarded()) << console.Out();
    EXPECT_EQ(actual, expected) << actual.dump(2);
    EXPECT_EQ(Snapshot(), before);
    ExpectNothingHeld();

    // Texts the system cannot convert still make valid UTF-8, without the bytes it could not read.
    fake::FakeConsole again;
    m.system.InjectFault(fake::SysOp::kAnsiToUtf8, {}, err::kNotEnoughMemory, fake::kAlways);
    EXPECT_EQ(cli::RunCli(m.platform(), again, {"scan", "--json"}), ExitCode::kStaleFound);
    const Json fallback = Json::parse(again.Out(), nullptr, false);
    ASSERT_FALSE(fallback.is_discarded());
    EXPECT_EQ(fallback["profiles"][2]["account"], "??");
}

// The text shows the dialog's texts: its heading, and its status line's.
TEST_F(CliTest, TextSpeaksTheDialogsJapanese) {
    EXPECT_EQ(Run({"scan"}), ExitCode::kNothingToDo);
    EXPECT_EQ(console.Out(),
              fake::Cp932("Ovaline/Ovaline Sketch 用のユーザ データをクリーンアップします:\n\n"
                          "無効なユーザ レジストリ エントリはありません。 "
                          "クリーンアップは必要ではありません。\n"
                          "quorvane: stale=0 users=0 absent=0 unreadable=0 done=0 failed=0 "
                          "refused=0 skipped=0 exit=0\n"));

    StaleEnglish();
    m.registry.InjectFault(RegOp::kLoad, kAmy, err::kSharingViolation, fake::kAlways);
    fake::FakeConsole text;
    EXPECT_EQ(cli::RunCli(m.platform(), text, {"clean", "--yes", "--user", "zed"}),
              ExitCode::kFailed);
    const std::string& out = text.Out();
    EXPECT_NE(out.find("  done     delete-key-tree          HKEY_USERS\\S-1-5-21-7-7-7-1001\\"
                       "Software\\Brennard\\Ovaline\\R16.0\\OVLN-201:409\n"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("unreadable: S-1-5-21-7-7-7-1002 (amy)\n"), std::string::npos) << out;
    // One line of the machine's audit log for each action taken, all of this program.
    std::size_t done = 0;
    for (std::size_t at = out.find("\n  done "); at != std::string::npos;
         at = out.find("\n  done ", at + 1)) {
        ++done;
    }
    // Framed by the run's own lines: what was asked, and the exit code it came to.
    const std::vector<std::string> lines = m.audit.Lines();
    EXPECT_GT(done, 0u);
    ASSERT_EQ(lines.size(), done + 2);
    for (const std::string& line : lines) {
        EXPECT_NE(line.find("\"quorvane-cli\""), std::string::npos) << line;
    }
    const Json start = Json::parse(lines.front());
    EXPECT_EQ(start["action"], "run-start");
    EXPECT_EQ(start["commandLine"], "clean --yes --user zed");
    EXPECT_EQ(start["command"], "clean");
    EXPECT_EQ(start["mode"], "all-profiles");
    const Json end = Json::parse(lines.back());
    EXPECT_EQ(end["action"], "run-end");
    EXPECT_EQ(end["run"], start["run"]);
    EXPECT_EQ(end["exitCode"], static_cast<int>(ExitCode::kFailed));
    EXPECT_EQ(end["summary"]["done"], done);
    EXPECT_NE(out.find(fake::Cp932("選択したユーザ データは削除されました。 1 人のユーザ "
                                   "レジストリを読み込めませんでした。\n")),
              std::string::npos)
        << out;
}

// The text output and the messages on standard error are in the language --lang names, else the
// settings file's Language, else the user's interface language (English for all but Japanese).
TEST_F(CliTest, TextAndMessagesFollowTheChosenLanguage) {
    enum Expected { kEn, kJa };
    struct Row {
        std::uint16_t userLanguage;
        Strings options;
        const char* settingsLanguage;  // Language= of a trusted settings file; none when null
        Expected expected;
        Expected beforeSettings;  // usage and settings errors come before the file is read
    };
    const Row rows[] = {
        {0x0409, {}, nullptr, kEn, kEn},
        {0x040C, {}, nullptr, kEn, kEn},  // French
        {0x0804, {}, nullptr, kEn, kEn},  // Chinese
        {0x0411, {}, nullptr, kJa, kJa},
        {0x0411, {"--lang", "en"}, nullptr, kEn, kEn},
        {0x0409, {"--lang", "JA"}, nullptr, kJa, kJa},
        {0x0409, {}, "ja", kJa, kEn},
        {0x0411, {}, "en", kEn, kJa},
        {0x0411, {"--lang", "ja"}, "en", kJa, kJa},
        {0x0411, {}, "fr", kJa, kJa},  // a language without texts leaves the interface's
    };
    const std::string heading[] = {
        "Cleaning up user data for Ovaline/Ovaline Sketch:\n\n",
        fake::Cp932("Ovaline/Ovaline Sketch 用のユーザ データをクリーンアップします:\n\n")};
    // A line of the scan's evidence: the labels of the two key times.
    const std::string times[][2] = {{"\n    user ", ", machine "},
                                    {fake::Cp932("\n    ユーザ "), fake::Cp932("、マシン ")}};
    const std::string question[] = {
        "Are you sure you want to delete the selected user data? [y/N] Nothing was changed.\n",
        fake::Cp932("選択したユーザ データを本当に削除しますか? [y/N] 何も変更されていません。\n")};
    const std::string usage[] = {"--registration needs a key name\n",
                                 fake::Cp932("--registration には、キー名を指定してください。\n")};
    // A settings file that is not there, named with what reads like a format: taken as it is.
    const std::string missing[] = {
        "--settings: no such file: C:\\%s%d.ini\n",
        fake::Cp932("--settings: ファイル C:\\%s%d.ini が見つかりません。\n")};
    StaleEnglish();
    for (const Row& row : rows) {
        Strings options = row.options;
        SCOPED_TRACE(testing::Message()
                     << std::hex << row.userLanguage << " " << (options.empty() ? "" : options[1])
                     << " " << (row.settingsLanguage ? row.settingsLanguage : ""));
        m.resources.SetUserInterfaceLanguage(row.userLanguage);
        if (row.settingsLanguage != nullptr) {
            MakeAdministratorsFolder("Admin");
            // A settings file names a product (one without is refused): here the built-in one,
            // under the built-in heading.
            m.files.AddFile("C:\\Admin\\lang.ini",
                            std::string("[Quorvane]\r\nCompany=Brennard\r\nProduct=Ovaline\r\n"
                                        "Version=R16.0\r\nVisibleProductName=Ovaline/Ovaline "
                                        "Sketch\r\nLanguage=") +
                                row.settingsLanguage + "\r\n");
            options.insert(options.end(), {"--settings", "C:\\Admin\\lang.ini"});
        }
        auto with = [&](Strings args) {
            args.insert(args.end(), options.begin(), options.end());
            return args;
        };
        fake::FakeConsole scan;
        EXPECT_EQ(cli::RunCli(m.platform(), scan, with({"scan"})), ExitCode::kStaleFound)
            << scan.Err();
        EXPECT_EQ(scan.Out().substr(0, heading[row.expected].size()), heading[row.expected]);
        for (const std::string& label : times[row.expected]) {
            EXPECT_NE(scan.Out().find(label), std::string::npos) << scan.Out();
        }

        fake::FakeConsole clean;
        clean.SetInteractive();
        clean.Type("n");
        EXPECT_EQ(cli::RunCli(m.platform(), clean, with({"clean"})), ExitCode::kNotRun);
        EXPECT_NE(clean.Err().find(question[row.expected]), std::string::npos) << clean.Err();

        fake::FakeConsole wrong;
        EXPECT_EQ(cli::RunCli(m.platform(), wrong, with({"clean", "--registration", ""})),
                  ExitCode::kNotRun);
        EXPECT_EQ(wrong.Err(), usage[row.beforeSettings]);

        fake::FakeConsole absent;
        Strings args = {"scan", "--settings", "C:\\%s%d.ini"};
        args.insert(args.end(), row.options.begin(), row.options.end());
        EXPECT_EQ(cli::RunCli(m.platform(), absent, args), ExitCode::kNotRun);
        EXPECT_EQ(absent.Err(), missing[row.beforeSettings]);
    }
}

// Every exit code, with what each run leaves of zed's stale registration and whether it changed
// the machine at all.
TEST_F(CliTest, ExitCodesFollowTheTableAndEveryTextEndsWithTheSummaryLine) {
    // What a run leaves of the machine: nothing changed; something changed but zed's registration
    // key is still there; or that key is gone.
    enum Effect { kNone, kChanged, kRemoved };
    struct Row {
        const char* name;
        std::function<void()> setup;
        Strings args;
        bool interactive;
        const char* typed;  // null: nothing typed
        ExitCode expected;
        Effect effect;
    };
    auto none = [] {};
    auto stale = [this] { StaleEnglish(); };
    auto staleUnreadable = [this] {
        StaleEnglish();
        m.registry.InjectFault(RegOp::kLoad, kAmy, err::kSharingViolation, fake::kAlways);
    };
    // Alike on purpose: one table row per case.
    static constexpr char kOvalineSettings[] =
        "[Quorvane]\r\nCompany=Brennard\r\nProduct=Ovaline\r\nVersion=R16.0\r\n"
        "VisibleProductName=Ovaline 2004\r\n";
    const Row rows[] = {
        {"scan, nothing stale", none, {"scan"}, false, nullptr, ExitCode::kNothingToDo, kNone},
        {"scan, stale", stale, {"scan", "--json"}, false, nullptr, ExitCode::kStaleFound, kNone},
        // Detection leads to remediation: what was found outranks what could not be read.
        {"scan, stale and a profile unreadable",
         staleUnreadable,
         {"scan"},
         false,
         nullptr,
         ExitCode::kStaleFound,
         kNone},
        {"plan, stale and a profile unreadable",
         staleUnreadable,
         {"plan", "--json"},
         false,
         nullptr,
         ExitCode::kStaleFound,
         kNone},
        {"scan, nothing stale but a profile unreadable",
         [this] {
             // Nor the data folders an earlier row left (a leftover).
             m.files.Remove(m.AppData(kZed) + "\\Brennard");
             m.files.Remove(m.LocalAppData(kZed) + "\\Brennard");
             m.registry.InjectFault(RegOp::kLoad, kAmy, err::kSharingViolation, fake::kAlways);
         },
         {"scan"},
         false,
         nullptr,
         ExitCode::kFailed,
         kNone},
        {"scan, stale, and profiles that are gone (no failure)",
         [this] {
             StaleEnglish();
             m.registry.SetString(std::string(fake::kProfileListKey) + "\\S-1-5-21-7-7-7-1009",
                                  "ProfileImagePath", "C:\\Documents and Settings\\gone");
             m.registry.SetString(std::string(fake::kProfileListKey) + "\\" + kAmy + ".bak",
                                  "ProfileImagePath", m.ProfileDir(kAmy));
         },
         {"scan"},
         false,
         nullptr,
         ExitCode::kStaleFound,
         kNone},
        {"scan, the profile list unreadable",
         [this] {
             StaleEnglish();
             m.registry.InjectFault(RegOp::kOpen, "ProfileList", err::kAccessDenied, fake::kAlways);
         },
         {"scan"},
         false,
         nullptr,
         ExitCode::kFailed,
         kNone},
        {"plan, stale", stale, {"plan"}, false, nullptr, ExitCode::kStaleFound, kNone},
        {"plan of a user with nothing stale",
         stale,
         {"plan", "--user", "amy"},
         false,
         nullptr,
         ExitCode::kNothingToDo,
         kNone},
        {"clean --yes",
         stale,
         {"clean", "--yes"},
         false,
         nullptr,
         ExitCode::kNothingToDo,
         kRemoved},
        {"clean --yes, a profile unreadable",
         staleUnreadable,
         {"clean", "--yes", "--json"},
         false,
         nullptr,
         ExitCode::kFailed,
         kRemoved},
        {"clean --yes, a deletion fails",
         [this] {
             StaleEnglish();
             m.registry.InjectFault(RegOp::kDelete, "OVLN-201:409", err::kAccessDenied,
                                    fake::kAlways);
         },
         {"clean", "--yes"},
         false,
         nullptr,
         ExitCode::kFailed,
         kChanged},
        {"clean --yes of a user who is not there: nothing done, no failure",
         stale,
         {"clean", "--yes", "--user", "SYSTEMM"},
         false,
         nullptr,
         ExitCode::kNothingToDo,
         kNone},
        {"clean --yes --output into a folder that is not there: removed, but a failure",
         stale,
         {"clean", "--yes", "--output", "C:\\missing\\out.json"},
         false,
         nullptr,
         ExitCode::kFailed,
         kRemoved},
        {"clean without --yes and without a console",
         stale,
         {"clean"},
         false,
         "y",
         ExitCode::kNotRun,
         kNone},
        {"clean answered no", stale, {"clean"}, true, "n", ExitCode::kNotRun, kNone},
        {"clean not answered", stale, {"clean"}, true, nullptr, ExitCode::kNotRun, kNone},
        {"clean answered yes", stale, {"clean"}, true, " Yes", ExitCode::kNothingToDo, kRemoved},
        {"usage error", stale, {"scan", "--user", "zed"}, false, nullptr, ExitCode::kNotRun, kNone},
        {"settings file missing",
         stale,
         {"scan", "--settings", "missing.ini"},
         false,
         nullptr,
         ExitCode::kNotRun,
         kNone},
        // An elevated run uses a settings file only when no one else can change it or its folder,
        // and when it names one key each for company, product and release.
        {"settings file in a folder others can change",
         [this] {
             StaleEnglish();
             m.files.AddFile("C:\\Tools\\open.ini", kOvalineSettings);
         },
         {"scan", "--settings", "C:\\Tools\\open.ini"},
         false,
         nullptr,
         ExitCode::kNotRun,
         kNone},
        {"settings file naming a key path",
         [this] {
             StaleEnglish();
             MakeAdministratorsFolder("Admin");
             m.files.AddFile("C:\\Admin\\keys.ini",
                             "[Quorvane]\r\nCompany=Brennard\\Ovaline\r\nProduct=R16.0\r\n"
                             "Version=x\r\n");
         },
         {"scan", "--settings", "C:\\Admin\\keys.ini"},
         false,
         nullptr,
         ExitCode::kNotRun,
         kNone},
        {"settings file that names no product",
         [this] {
             StaleEnglish();
             MakeAdministratorsFolder("Admin");
             m.files.AddFile("C:\\Admin\\bare.ini", "[Quorvane]\r\nLanguage=en\r\n");
         },
         {"scan", "--settings", "C:\\Admin\\bare.ini"},
         false,
         nullptr,
         ExitCode::kNotRun,
         kNone},
        {"unknown command", stale, {"bogus"}, false, nullptr, ExitCode::kNotRun, kNone},
        {"version", stale, {"--version"}, false, nullptr, ExitCode::kNothingToDo, kNone},
        // A bare name is the file of the current directory, not the one of the Windows folder
        // that the system's reader of settings files would take.
        {"settings file named without a path",
         [this] {
             StaleEnglish();
             MakeAdministratorsFolder("Admin");
             m.files.AddFile("C:\\Admin\\ok.ini", kOvalineSettings);
             m.files.AddFile("C:\\WINDOWS\\ok.ini", "[Quorvane]\r\nLanguage=en\r\n");
             m.system.SetCurrentDirectory("C:\\Admin");
         },
         {"scan", "--settings", "ok.ini"},
         false,
         nullptr,
         ExitCode::kStaleFound,
         kNone},
        {"trusted settings file",
         [this] {
             StaleEnglish();
             MakeAdministratorsFolder("Admin");
             m.files.AddFile("C:\\Admin\\ok.ini", kOvalineSettings);
         },
         {"scan", "--settings", "C:\\Admin\\ok.ini"},
         false,
         nullptr,
         ExitCode::kStaleFound,
         kNone},
        {"help", stale, {"clean", "--help"}, false, nullptr, ExitCode::kNothingToDo, kNone},
        {"Windows 98",
         [this] {
             StaleEnglish();
             m.system.SetVersion({4, 10, kVerPlatformWin32Windows});
         },
         {"scan"},
         false,
         nullptr,
         ExitCode::kFailed,
         kNone},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        m.registry.ClearFaults();
        m.system.SetVersion({5, 1, kVerPlatformWin32Nt});
        m.registry.DeleteTree("HKLM\\Software\\Brennard");
        m.registry.DeleteTree(m.UserKey(kZed) + "\\Software\\Brennard");
        row.setup();
        fake::FakeConsole console;
        console.SetInteractive(row.interactive);
        if (row.typed != nullptr) console.Type(row.typed);
        const std::string before = Snapshot();
        const bool held = ZedEnglishKeyExists();

        const ExitCode code = cli::RunCli(m.platform(), console, row.args);
        EXPECT_EQ(code, row.expected) << console.Err();
        ExpectSummaryLine(console.Out(), code, row.args);
        EXPECT_EQ(Snapshot() != before, row.effect != kNone);
        if (held) {
            EXPECT_EQ(ZedEnglishKeyExists(), row.effect != kRemoved);
        }
        // A question is asked only of a person at a console.
        EXPECT_EQ(console.LinesRead(), row.interactive && row.typed != nullptr ? 1 : 0);
        ExpectNothingHeld();
    }
}

// One run at a time per machine. While another run holds the machine's run lock, every command
// that loads other users' hives or may change anything stops with exit 5 after waiting as long as
// --wait says (in milliseconds, never without end), having loaded, changed and written nothing;
// a current-user scan and the list of backups do not ask. A lock that cannot be had stops them
// with exit 3. Once the other run lets go, a clean-up goes through, and lets go in turn.
TEST_F(CliTest, BusyMachineStopsEveryRunThatLoadsOrChangesAndNothingElse) {
    StaleEnglish();
    UniqueMachineLock other(m.system);
    Win32Error error = err::kSuccess;
    ASSERT_EQ(m.system.AcquireMachineLock(0, other.put(), &error), MachineLockOutcome::kAcquired);
    struct Row {
        Strings args;
        std::optional<std::uint32_t> waitMs;  // none: the lock is not asked for
    };
    const Row rows[] = {
        {{"clean", "--yes"}, 0},
        {{"clean", "--yes", "--json", "--wait", "2"}, 2000},
        {{"--wait=4294968", "clean", "--yes"}, 0xFFFFFFFEu},
        {{"scan", "--json"}, 0},
        {{"plan", "--user", "zed"}, 0},
        {{"restore", "--last", "--wait", "1"}, 1000},
        {{"purge", "--older-than", "1"}, 0},
        {{"scan", "--current-user", "--wait", "3"}, std::nullopt},
        {{"backups"}, std::nullopt},
    };
    // The machine as the users have it: the tool's own folder, where a run that may change
    // something keeps its record, left out.
    auto usersMachine = [this] {
        std::string kept;
        std::istringstream lines(Snapshot());
        for (std::string line; std::getline(lines, line);) {
            if (line.find("\\Quorvane") == std::string::npos) kept += line + "\n";
        }
        return kept;
    };
    const std::string before = usersMachine();
    for (const Row& row : rows) {
        std::string line;
        for (const std::string& arg : row.args) line += arg + " ";
        SCOPED_TRACE(line);
        fake::FakeConsole console;
        const std::size_t asked = m.system.MachineLockTimeouts().size();
        const std::size_t logged = m.audit.Lines().size();
        const ExitCode code = cli::RunCli(m.platform(), console, row.args);
        const bool json = std::find(row.args.begin(), row.args.end(), "--json") != row.args.end();
        const bool changes = std::any_of(row.args.begin(), row.args.end(), [](const auto& arg) {
            return arg == "clean" || arg == "restore" || arg == "purge";
        });
        if (row.waitMs) {
            EXPECT_EQ(code, ExitCode::kBusy);
            ASSERT_EQ(m.system.MachineLockTimeouts().size(), asked + 1);
            EXPECT_EQ(m.system.MachineLockTimeouts().back(), *row.waitMs);
            EXPECT_EQ(console.Err(), fake::ResourceString(IDS_CLI_BUSY) + "\n");
            EXPECT_EQ(console.Out(), json ? "" : "quorvane: exit=5\n");
            // A run that may change something says that it stopped, and why, in the audit log.
            ASSERT_EQ(m.audit.Lines().size(), logged + (changes ? 2 : 0));
            if (changes) {
                EXPECT_EQ(Json::parse(m.audit.Lines().back())["exitCode"], 5);
            }
        } else {
            EXPECT_NE(code, ExitCode::kBusy);
            EXPECT_EQ(m.system.MachineLockTimeouts().size(), asked);
            EXPECT_EQ(m.audit.Lines().size(), logged);
        }
        EXPECT_TRUE(m.registry.Log(fake::RegOp::kLoad).empty());
        EXPECT_EQ(usersMachine(), before);
    }

    m.system.InjectFault(fake::SysOp::kAcquireMachineLock, {}, err::kAccessDenied, fake::kAlways);
    EXPECT_EQ(Run({"clean", "--yes"}), ExitCode::kFailed);
    EXPECT_EQ(console.Err(),
              fake::ResourceString(IDS_MACHINE_LOCK_FAILED) + "(5: Access is denied.)\n");
    EXPECT_EQ(usersMachine(), before);

    m.system.ClearFaults();
    other.reset();
    EXPECT_EQ(Run({"clean", "--yes"}), ExitCode::kNothingToDo);
    EXPECT_FALSE(ZedEnglishKeyExists());
    EXPECT_FALSE(m.system.MachineLockHeld());
    ExpectNothingHeld();
}

// An audit log that cannot be written is reported, and the clean-up goes on.
TEST_F(CliTest, UnwritableAuditLogIsReportedAndTheCleanUpGoesOn) {
    StaleEnglish();
    m.audit.InjectFault(fake::AuditOp::kOpen, {}, err::kAccessDenied, fake::kAlways);
    m.audit.InjectFault(fake::AuditOp::kAppend, {}, err::kAccessDenied, fake::kAlways);
    EXPECT_EQ(Run({"clean", "--yes"}), ExitCode::kNothingToDo);
    EXPECT_FALSE(ZedEnglishKeyExists());
    EXPECT_NE(console.Err().find(fake::Cp932("監査ログ C:\\Documents and Settings\\All "
                                             "Users\\Application Data\\Quorvane\\audit.jsonl "
                                             "に書き込めませんでした。 (5: ")),
              std::string::npos)
        << console.Err();
}

TEST_F(CliTest, CleanKeepsABackupThatRestorePutsBackUnlessNoBackupIsGiven) {
    StaleEnglish();
    EXPECT_EQ(Run({"clean", "--yes", "--json"}), ExitCode::kNothingToDo);
    const Json cleaned = Json::parse(console.Out());
    ASSERT_TRUE(cleaned["backup"].is_string());
    EXPECT_FALSE(ZedEnglishKeyExists());

    console.Clear();
    EXPECT_EQ(Run({"restore", "--last", "--json"}), ExitCode::kNothingToDo);
    EXPECT_EQ(Json::parse(console.Out())["run"], cleaned["backup"]);
    EXPECT_TRUE(ZedEnglishKeyExists());
    // The audit log names each undone action after the one it undoes.
    const std::map<std::string, std::string> undoneBy = {
        {"delete-key-tree", "restore-key-tree"},         {"delete-empty-key", "restore-empty-key"},
        {"delete-folder-tree", "restore-folder-tree"},   {"delete-file", "restore-file"},
        {"remove-empty-folder", "restore-empty-folder"}, {"register-leftover-folder", "restore"}};
    std::multiset<std::string> cleanedActions;
    std::multiset<std::string> restoredActions;
    for (const std::string& line : m.audit.Lines()) {
        const std::string action = Json::parse(line)["action"];
        if (action == "run-start" || action == "run-end") continue;
        if (action.rfind("restore", 0) == 0) {
            restoredActions.insert(action);
        } else {
            ASSERT_EQ(undoneBy.count(action), 1u) << action;
            cleanedActions.insert(undoneBy.at(action));
        }
    }
    EXPECT_FALSE(restoredActions.empty());
    EXPECT_EQ(restoredActions, cleanedActions);

    console.Clear();
    EXPECT_EQ(Run({"clean", "--yes", "--no-backup", "--json"}), ExitCode::kNothingToDo);
    EXPECT_TRUE(Json::parse(console.Out())["backup"].is_null());
    EXPECT_FALSE(ZedEnglishKeyExists());
    console.Clear();
    EXPECT_EQ(Run({"backups", "--json"}), ExitCode::kNothingToDo);
    const Json listed = Json::parse(console.Out());
    ASSERT_EQ(listed["backups"].size(), 1u);  // the first run only, restored
    EXPECT_FALSE(listed["backups"][0]["restored"].is_null());
    EXPECT_GT(listed["backups"][0]["size"].get<std::uint64_t>(), 0u);  // its manifest at least
}

// --output: the document goes to the file whole, in UTF-8, replacing what was there in one rename
// (nothing else is left in its folder); standard output carries the text with its summary line. The
// selection names what matched nothing, which is told on standard error and is no failure.
TEST_F(CliTest, OutputFileTakesTheDocumentAndTheSelectionNamesWhatMatchedNothing) {
    StaleEnglish();
    m.files.AddDirectory("C:\\Out");
    const std::string name = fake::Cp932("高橋") + ".json";
    m.files.AddFile("C:\\Out\\" + name, "the last run's");
    m.system.SetCurrentDirectory("C:\\Out");
    EXPECT_EQ(Run({"clean", "--yes", "--user", "SYSTEMM", "--user", "ZED", "--output", name}),
              ExitCode::kNothingToDo)
        << console.Err();
    EXPECT_FALSE(ZedEnglishKeyExists());
    EXPECT_EQ(m.files.List("C:\\Out"), Strings{name});
    const Json document =
        Json::parse(m.files.ReadFile("C:\\Out\\" + name).value_or(""), nullptr, false);
    ASSERT_FALSE(document.is_discarded());
    EXPECT_EQ(document["selection"], Json::parse(R"({"users": ["SYSTEMM", "ZED"],
        "registrations": [], "unmatchedUsers": ["SYSTEMM"], "unmatchedRegistrations": []})"));
    EXPECT_EQ(document["summary"]["stale"], 1);
    EXPECT_EQ(document["summary"]["exitCode"], 0);
    EXPECT_GT(document["summary"]["done"].get<int>(), 0);
    // The run id is the one the audit log's lines of the run carry.
    ASSERT_FALSE(m.audit.Lines().empty());
    EXPECT_EQ(document["runId"], Json::parse(m.audit.Lines().back())["run"]);
    EXPECT_EQ(console.Out().find('{'), std::string::npos) << console.Out();
    EXPECT_NE(console.Out().find("  done "), std::string::npos) << console.Out();
    EXPECT_NE(console.Err().find("--user SYSTEMM"), std::string::npos) << console.Err();

    // With --json as well, standard output carries the summary line alone; a run without an audit
    // log has no run id.
    console.Clear();
    EXPECT_EQ(Run({"plan", "--registration", "OVLN-999:1", "--json", "--output", name}),
              ExitCode::kNothingToDo);
    EXPECT_EQ(console.Out(),
              "quorvane: stale=0 users=0 absent=0 unreadable=0 done=0 failed=0 "
              "refused=0 skipped=0 exit=0\n");
    const Json plan = Json::parse(m.files.ReadFile("C:\\Out\\" + name).value_or(""));
    EXPECT_EQ(plan["command"], "plan");
    EXPECT_TRUE(plan["runId"].is_null());
    EXPECT_EQ(plan["selection"]["unmatchedRegistrations"], Json::array({"OVLN-999:1"}));

    // A folder in the file's place is no file to replace: said, and a failure.
    console.Clear();
    m.files.AddDirectory("C:\\Out\\taken.json");
    EXPECT_EQ(Run({"scan", "--output", "taken.json"}), ExitCode::kFailed);
    EXPECT_NE(console.Err().find("--output: taken.json"), std::string::npos) << console.Err();
    EXPECT_EQ(m.files.List("C:\\Out").size(), 2u);
}

// What a standard user makes where the tool keeps its records neither turns an administrator's
// clean-up off nor is ever used: a "Quorvane" or "Backups" found open to others (made with the
// access of the folder above it, a link, a file) is moved aside by its handle, told of on standard
// error and in the audit log, and replaced by one that only SYSTEM and the Administrators reach. A
// run that is not an administrator's makes nothing outside the running user's own folder.
TEST(CliFolders, ToolFoldersMadeBySomeoneElseAreMovedAsideAndNeverUsed) {
    const std::string common = "C:\\Documents and Settings\\All Users\\Application Data";
    const std::string zed = "S-1-5-21-7-7-7-1001";
    const std::string dan = "S-1-5-21-7-7-7-1002";
    const std::string own = fake::FakeMachine::kOperatorSid;
    enum class Made { kFolder, kFile, kLink };
    struct Planted {
        std::string path;
        Made made;
    };
    struct Case {
        const char* name;
        bool admin;
        std::vector<Planted> planted;
    };
    const std::vector<Case> cases = {
        {"nothing there, a standard user", false, {}},
        {"the machine's folder made by a user, a standard user",
         false,
         {{common + "\\Quorvane", Made::kFolder}}},
        {"the machine's folder made by a user", true, {{common + "\\Quorvane", Made::kFolder}}},
        {"a file in its place", true, {{common + "\\Quorvane", Made::kFile}}},
        {"a link in its place", true, {{common + "\\Quorvane", Made::kLink}}},
        {"a link in place of the backups", true, {{common + "\\Quorvane\\Backups", Made::kLink}}},
        {"the folder of another volume made by a user", true, {{"D:\\Quorvane", Made::kFolder}}},
        {"both volumes",
         true,
         {{common + "\\Quorvane", Made::kFolder}, {"D:\\Quorvane", Made::kFile}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fake::FakeMachine m;
        fake::FakeConsole console;
        auto run = [&](const Strings& args) { return cli::RunCli(m.platform(), console, args); };
        m.security.SetAdministrator(c.admin);
        m.files.AddDrive('D');
        m.files.AddDirectory("C:\\Users\\Public\\x");
        m.AddUser({zed, "zed"});
        m.AddUser({dan, "dan", "QVTEST", "D:\\Users\\dan"});
        // A registration of the machine, and a stale one with its data folders for each user:
        // an administrator's run removes those of the profile list, a standard user's run his
        // own registration.
        auto reg = [&](const std::string& root, std::int64_t time) {
            const std::string key = root + "\\Software\\Brennard\\Ovaline\\R16.0\\OVLN-201:409";
            m.registry.CreateKey(key);
            m.registry.SetTreeTime(key, time);
            return key;
        };
        (void)reg("HKLM", 1600000000);
        std::vector<std::string> data;
        for (const std::string& sid : {zed, dan, own}) {
            const std::string key = reg(m.UserKey(sid), 1600000000 - 3600);
            if (sid == own) continue;  // his profile is not in the profile list
            for (const std::string& where : {m.AppData(sid), m.LocalAppData(sid)}) {
                const std::string folder = where + "\\Brennard\\Ovaline 2004\\R16.0\\enu";
                m.registry.SetString(
                    key, where == m.AppData(sid) ? "RoamableRootFolder" : "LocalRootFolder",
                    folder);
                m.files.AddFile(folder + "\\cache.bin", "x");
                if (c.admin) data.push_back(folder);
            }
        }
        for (const Planted& p : c.planted) {
            if (p.made == Made::kFile) m.files.AddFile(p.path, "planted");
            if (p.made == Made::kFolder) {
                m.files.AddFile(p.path + "\\Backups\\planted\\manifest.json", "{}");
            }
            if (p.made != Made::kLink) continue;
            if (p.path == common + "\\Quorvane\\Backups") {
                // The tool's own folder above it, as an earlier run made it.
                UniqueFileRef base(m.files);
                UniqueFileRef made(m.files);
                ASSERT_EQ(m.files.OpenFolder(common, base.put()), err::kSuccess);
                ASSERT_EQ(m.files.CreateFolder(base.get(), "Quorvane",
                                               FolderProtection::kAdministratorsOnly, made.put()),
                          err::kSuccess);
            }
            m.files.AddJunction(p.path, "C:\\Users\\Public\\x");
        }

        EXPECT_EQ(run({"clean", "--yes"}), ExitCode::kNothingToDo) << console.Err();
        EXPECT_EQ(run({"purge", "--older-than", "1"}), ExitCode::kNothingToDo) << console.Err();
        for (const std::string& folder : data) EXPECT_FALSE(m.files.Exists(folder)) << folder;

        std::set<std::string> logged;
        for (const std::string& line : m.audit.Lines()) {
            const Json entry = Json::parse(line);
            if (entry["action"] == "move-aside") logged.insert(entry["path"].get<std::string>());
        }
        EXPECT_EQ(logged.size(), c.admin ? c.planted.size() : 0u);
        for (const Planted& p : c.planted) {
            const std::string parent = text::CutBeforeLastBackslash(p.path);
            const std::string name = text::AfterLastBackslash(p.path);
            std::vector<std::string> aside;
            for (const std::string& n : m.files.List(parent)) {
                if (!text::EqualsNoCase(n, name) && n.rfind(name, 0) == 0) aside.push_back(n);
            }
            if (!c.admin) {
                // Left as it was, neither moved nor used.
                EXPECT_TRUE(aside.empty());
                EXPECT_EQ(m.files.Protection(p.path), FolderProtection::kInherited);
                continue;
            }
            ASSERT_EQ(aside.size(), 1u);
            EXPECT_TRUE(
                std::regex_match(aside[0], std::regex(name + "\\.untrusted-\\d{8}T\\d{6}Z")))
                << aside[0];
            const std::string to = parent + "\\" + aside[0];
            // Moved whole, its content untouched, and told of.
            if (p.made == Made::kFolder) {
                EXPECT_EQ(m.files.ReadFile(to + "\\Backups\\planted\\manifest.json"), "{}");
            }
            if (p.made == Made::kFile) {
                EXPECT_EQ(m.files.ReadFile(to), "planted");
            }
            EXPECT_EQ(m.files.Protection(p.path), FolderProtection::kAdministratorsOnly);
            EXPECT_EQ(logged.count(p.path), 1u) << p.path;
            EXPECT_NE(console.Err().find("Moved \"" + p.path + "\" aside to \"" + to + "\""),
                      std::string::npos)
                << console.Err();
        }
        // The only run the tool lists is its own: nothing planted is ever read as a backup.
        console.Clear();
        EXPECT_EQ(run({"backups", "--json"}), ExitCode::kNothingToDo) << console.Err();
        const Json listed = Json::parse(console.Out());
        ASSERT_EQ(listed["backups"].size(), 1u) << console.Out();
        EXPECT_NE(listed["backups"][0]["run"], "planted");
        if (c.admin) {
            EXPECT_EQ(m.files.Protection("D:\\Quorvane\\Backups"),
                      FolderProtection::kAdministratorsOnly);
            continue;
        }
        // A standard user's run: his own log and backups, nothing made for the machine; dan's
        // data on D: was never his to remove.
        for (AuditPlace place : m.audit.AskedPlaces()) {
            EXPECT_EQ(place, AuditPlace::kCurrentUser);
        }
        for (const std::string& security : m.audit.AskedSecurity()) {
            EXPECT_NE(security.find(";;;" + own + ")"), std::string::npos) << security;
        }
        EXPECT_EQ(m.files.Protection(m.LocalAppData(own) + "\\Quorvane\\Backups"),
                  FolderProtection::kCurrentUserOnly);
        EXPECT_FALSE(m.files.Exists("D:\\Quorvane"));
        EXPECT_EQ(m.files.Exists(common + "\\Quorvane"), !c.planted.empty());
    }
}

// A user who is not an administrator gets the current-user mode, as in the dialog.
TEST_F(CliTest, NonAdministratorScansOnlyHisOwnRegistry) {
    m.security.SetAdministrator(false);
    Reg(kZed, kEnglish);
    Reg(kOperator, kEnglish);
    EXPECT_EQ(Run({"scan", "--json"}), ExitCode::kStaleFound);
    const Json document = Json::parse(console.Out(), nullptr, false);
    EXPECT_EQ(document["mode"], "current-user");
    ASSERT_EQ(document["registrations"].size(), 1u);
    EXPECT_EQ(document["registrations"][0]["users"][0]["sid"], kOperator);
    EXPECT_TRUE(m.registry.Log(fake::RegOp::kLoad).empty());
}

TEST(CliCommandLine, ReadsTheSelectionAndTheMode) {
    cli::ParsedCommandLine parsed = cli::ParseCommandLine(
        {"--current-user", "plan", "--user", "amy", "--registration", "OVLN-201:409", "--user",
         "S-1-5-21-7-7-7-1001", "--json", "--settings", "C:\\x.ini"});
    ASSERT_EQ(parsed.outcome, ParseOutcome::kRun) << parsed.text;
    EXPECT_EQ(parsed.options.command, Command::kPlan);
    EXPECT_TRUE(parsed.options.currentUser);
    EXPECT_TRUE(parsed.options.json);
    EXPECT_FALSE(parsed.options.yes);
    EXPECT_EQ(parsed.options.settingsFile, "C:\\x.ini");
    EXPECT_EQ(parsed.options.selection.users, (Strings{"amy", "S-1-5-21-7-7-7-1001"}));
    EXPECT_EQ(parsed.options.selection.registrations, Strings{"OVLN-201:409"});
    EXPECT_EQ(parsed.options.language, std::nullopt);
    EXPECT_EQ(parsed.options.waitSeconds, 0u);

    parsed = cli::ParseCommandLine(
        {"clean", "--yes", "--user=" + fake::Cp932("健"), "--lang=en", "--wait", "30"});
    ASSERT_EQ(parsed.outcome, ParseOutcome::kRun) << parsed.text;
    EXPECT_EQ(parsed.options.waitSeconds, 30u);
    EXPECT_EQ(parsed.options.language, UiLanguage::kEnglish);
    EXPECT_EQ(parsed.options.command, Command::kClean);
    EXPECT_TRUE(parsed.options.yes);
    EXPECT_EQ(parsed.options.selection.users, Strings{fake::Cp932("健")});

    parsed = cli::ParseCommandLine({"--help"});
    EXPECT_EQ(parsed.outcome, ParseOutcome::kHelp);
    EXPECT_NE(parsed.text.find("clean"), std::string::npos);

    parsed = cli::ParseCommandLine({"restore", "--last", "--output", "C:\\out\\d.json", "--json"});
    ASSERT_EQ(parsed.outcome, ParseOutcome::kRun) << parsed.text;
    EXPECT_EQ(parsed.options.outputFile, "C:\\out\\d.json");
    EXPECT_FALSE(parsed.jsonOnStandardOutput);

    // The version wherever it is asked for, before anything else is read.
    for (const Strings& args : {Strings{"--version"}, Strings{"scan", "--version", "--jsn"}}) {
        parsed = cli::ParseCommandLine(args);
        EXPECT_EQ(parsed.outcome, ParseOutcome::kVersion);
        EXPECT_EQ(parsed.text, std::string("quorvane-cli ") + cli::ProgramVersion() + "\n");
    }
    EXPECT_TRUE(std::regex_match(cli::ProgramVersion(), std::regex("[0-9]+\\.[0-9]+\\.[0-9]+")));
}

TEST(CliCommandLine, UsageErrorsSayWhatIsWrong) {
    const std::vector<Strings> errors = {
        {},           // no command
        {"purge"},    // no age
        {"restore"},  // neither a run nor --last
        {"restore", "abc", "--last"},
        {"scan", "plan"},           // two commands
        {"scan", "--user", "amy"},  // a scan selects nothing
        {"scan", "--yes"},          // only a clean-up is confirmed
        {"plan", "--yes"},
        {"plan", "--user"},                // no value
        {"plan", "--user", "amy", "zed"},  // one value each time
        {"plan", "--user="},               // an empty value
        {"clean", "--registration", ""},
        {"scan", "--settings", ""},
        {"scan", "--settings", "a.ini", "--settings", "b.ini"},
        {"scan", "--jsn"},
        {"scan", "--lang", "fr"},
        {"scan", "--lang", ""},
        {"clean", "--wait", "-1"},
        {"clean", "--wait", "soon"},
        {"clean", "--wait"},
    };
    for (const Strings& args : errors) {
        std::string line;
        for (const std::string& arg : args) line += arg + " ";
        SCOPED_TRACE(line);
        const cli::ParsedCommandLine parsed = cli::ParseCommandLine(args);
        EXPECT_EQ(parsed.outcome, ParseOutcome::kUsageError);
        // Either the reader's words or one of the program's texts, never neither nor both.
        EXPECT_NE(parsed.text.empty(), parsed.messageId == 0) << parsed.text;
    }
    // A first word that is no command is named as such, with the language asked for.
    cli::ParsedCommandLine bogus = cli::ParseCommandLine({"--lang", "en", "bogus", "--json"});
    EXPECT_EQ(bogus.messageId, static_cast<std::uint32_t>(IDS_CLI_UNKNOWN_COMMAND));
    EXPECT_EQ(bogus.messageArgument, "bogus");
    EXPECT_EQ(bogus.options.language, UiLanguage::kEnglish);
    EXPECT_TRUE(bogus.jsonOnStandardOutput);
    // Arguments left over are named in the order given.
    const cli::ParsedCommandLine extras =
        cli::ParseCommandLine({"plan", "--user", "amy", "zed", "root", "--output", "x.json"});
    EXPECT_NE(extras.text.find("not expected: zed root\n"), std::string::npos) << extras.text;
    EXPECT_FALSE(extras.jsonOnStandardOutput);
    EXPECT_EQ(cli::ParseCommandLine({"scan", "--output", ""}).messageId,
              static_cast<std::uint32_t>(IDS_CLI_OUTPUT_NEEDS_FILE));
}

// The exit code over every combination of what a run can come to, against the contract's rules:
// 4 for an internal error and 5 for a busy machine before anything; 2 for a run that did not
// start; a detection (scan, plan) that found something answers 1 whatever else failed; then 3 for
// anything unread, failed or refused; else 0.
TEST(CliExitCode, EveryCombinationOfOutcomesGetsTheContractsCode) {
    const Command commands[] = {Command::kScan,    Command::kPlan,    Command::kClean,
                                Command::kBackups, Command::kRestore, Command::kPurge};
    constexpr int kFlags = 11;
    std::set<int> seen;
    for (Command command : commands) {
        for (unsigned bits = 0; bits < (1u << kFlags); ++bits) {
            auto bit = [bits](int n) { return (bits >> n & 1u) != 0; };
            cli::RunOutcome outcome;
            outcome.command = command;
            outcome.usageError = bit(0);
            outcome.notConfirmed = bit(1);
            outcome.systemRefused = bit(2);
            outcome.registryUnreadable = bit(3);
            outcome.unreadableProfiles = bit(4) ? 2 : 0;
            outcome.selectedUsers = bit(5) ? 3 : 0;
            outcome.actionFailed = bit(6);
            outcome.outputFailed = bit(7);
            outcome.busy = bit(8);
            outcome.internalError = bit(9);
            outcome.lockFailed = bit(10);
            const int code = static_cast<int>(cli::ExitCodeOf(outcome));
            seen.insert(code);
            SCOPED_TRACE(testing::Message() << static_cast<int>(command) << " " << bits);
            const bool detection = command == Command::kScan || command == Command::kPlan;
            const bool anyFailure = outcome.systemRefused || outcome.registryUnreadable ||
                                    outcome.unreadableProfiles != 0 || outcome.actionFailed ||
                                    outcome.outputFailed || outcome.lockFailed;
            if (outcome.internalError) {
                EXPECT_EQ(code, 4);
            } else if (outcome.busy) {
                EXPECT_EQ(code, 5);
            } else if (outcome.usageError || outcome.notConfirmed) {
                EXPECT_EQ(code, 2);
            } else if (detection && outcome.selectedUsers != 0) {
                EXPECT_EQ(code, 1);
            } else if (anyFailure) {
                EXPECT_EQ(code, 3);
            } else {
                EXPECT_EQ(code, 0);
            }
            // Only a detection ever answers 1: a clean-up that went through leaves nothing.
            if (!detection) {
                EXPECT_NE(code, 1);
            }
        }
    }
    EXPECT_EQ(seen, (std::set<int>{0, 1, 2, 3, 4, 5}));
}

// Whatever escapes the program is told on standard error and answers 4, with the summary line.
TEST(CliExitCode, AnInternalErrorIsToldAndAnswersFour) {
    fake::FakeMachine m;
    m.resources.SetUserInterfaceLanguage(0x0409);
    fake::FakeConsole console;
    EXPECT_EQ(cli::ReportInternalError(m.platform(), console, {"scan"}, "bad_alloc"),
              ExitCode::kInternalError);
    EXPECT_EQ(console.Err(), "internal error: bad_alloc\n");
    EXPECT_EQ(console.Out(), "quorvane: exit=4\n");
    fake::FakeConsole json;
    EXPECT_EQ(cli::ReportInternalError(m.platform(), json, {"scan", "--json"}, "x"),
              ExitCode::kInternalError);
    EXPECT_EQ(json.Out(), "");
}

TEST(CliMessageBoxes, WriteToStandardErrorAndAnswerWhatChangesNothing) {
    fake::FakeConsole console;
    cli::ConsoleMessageBoxes boxes(console);
    EXPECT_EQ(boxes.Show(0, "hive stays loaded\r\n", "Quorvane Error", mb::kIconInformation),
              mb::kIdOk);
    EXPECT_EQ(boxes.Show(0, "delete?", "Quorvane", mb::kOkCancel | mb::kDefButton2), mb::kIdCancel);
    EXPECT_EQ(console.Err(), "Quorvane Error: hive stays loaded\nQuorvane: delete?\n");
    EXPECT_EQ(console.Out(), "");
}

}  // namespace
}  // namespace qv
