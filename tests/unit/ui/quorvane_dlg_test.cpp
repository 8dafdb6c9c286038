#include "ui/quorvane_dlg.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <set>

#include "app/settings.h"
#include "base/text.h"
#include "engine/workspace.h"
#include "res/resource.h"
#include "ui/population.h"
#include "ui_machine.h"

namespace qv {
namespace {

using fake::ResourceString;

class DialogTest : public UiMachine {
  protected:
    // The dialog as the window host opens it; `run`: its refresh is run to the end.
    void Open(bool debug = false, bool run = true) {
        binding.reset();
        dlg = std::make_unique<CQuorvaneDlg>(Services{m.platform(), debug},
                                             "C:\\Tools\\Quorvane.ini");
        binding = dlg->Attach(window, control);
        EXPECT_TRUE(dlg->OnInitDialog());
        if (run) Run();
    }
    // The window host's part: the steps of the refresh or clean-up under way, one after the
    // other, as its posted messages run them.
    void Run() {
        while (dlg->Busy()) dlg->Step();
    }
    void CleanUp() {
        dlg->OnCleanUp();
        Run();
    }
    // A progress text of the string table with its two numbers.
    static std::string Progress(std::uint32_t id, int n, int of) {
        std::string text = ResourceString(id);
        text.replace(text.find("%s"), 2, std::to_string(n));
        text.replace(text.find("%s"), 2, std::to_string(of));
        return text;
    }
    std::string Status() const { return window.ItemText(IDC_STATUS); }
    bool CleanUpEnabled() const { return window.IsItemEnabled(1); }
    // The operator clicks the check box of an item.
    void ClickBox(TreeItem item) {
        control.SetHitTestResult(item, tv::kHitOnItemStateIcon);
        dlg->OnTreeClick();
        control.ToggleCheck(item);
    }
    // The heading text after its argument, from the string table.
    static std::string HeadingTail() {
        return fake::Cp932(" 用のユーザ データをクリーンアップします:");
    }

    fake::FakeDialogWindow window;
    std::unique_ptr<CQuorvaneDlg> dlg;
    DialogBinding binding;  // ends first, as the window host ends it
};

TEST_F(DialogTest, NothingStaleSaysSoAndDisablesCleanUp) {
    Open();
    EXPECT_EQ(Status(),
              ResourceString(IDS_NO_INVALID_ENTRIES) + ResourceString(IDS_CLEANUP_NOT_NEEDED));
    EXPECT_FALSE(CleanUpEnabled());
    EXPECT_EQ(window.Title(), "Ovaline/Ovaline Sketch" + HeadingTail());
    // The tree starts without its check-box images, as the template makes it; initialisation
    // sets the style on the window, which makes them.
    EXPECT_NE(control.Style() & tv::kCheckBoxes, 0u);
    EXPECT_TRUE(control.HasCheckBoxImages());
}

TEST_F(DialogTest, BothProductsAreListedExpandedAndNothingStaysHeld) {
    Reg(kZed, kEnglish);
    Reg(kAmy, "Ovaline Sketch\\R9\\OVSK-201:411");
    Open(true);
    EXPECT_EQ(control.Render(),
              "[x]+ Ovaline 2004 (English)\n  [x] zed\n"
              "[x]+ Ovaline Sketch 2004 (Japanese)\n  [x] amy\n");
    EXPECT_EQ(Status(), "");
    EXPECT_TRUE(CleanUpEnabled());
    // One pass over the profiles for both products: one "Processing sid" box per profile,
    // owned by the dialog, and each hive loaded once.
    ASSERT_EQ(m.messages.Shown().size(), 2u);
    EXPECT_EQ(m.registry.Log(fake::RegOp::kLoad), (std::vector<std::string>{kZed, kAmy}));
    EXPECT_EQ(m.messages.Shown()[0].owner, fake::FakeDialogWindow::kHandle);
    ExpectNothingHeld();
}

TEST_F(DialogTest, UsersWhoseRegistryCannotBeReadAreCountedNotPassedOver) {
    Reg(kZed, kEnglish);
    Reg(kAmy, kEnglish);
    // Both hives stay out of reach for both passes: each user counts once.
    m.registry.InjectFault(fake::RegOp::kLoad, kZed, err::kSharingViolation, fake::kAlways);
    m.registry.InjectFault(fake::RegOp::kLoad, kAmy, err::kSharingViolation, fake::kAlways);
    Open(true);
    // With -d, each hive that cannot be loaded is told once for both products.
    for (const char* sid : {kZed, kAmy}) {
        EXPECT_EQ(std::count_if(m.messages.Shown().begin(), m.messages.Shown().end(),
                                [&](const fake::FakeMessageBoxes::Box& box) {
                                    return box.text.find(std::string("RegLoadKey error for ") +
                                                         sid) != std::string::npos;
                                }),
                  1)
            << sid;
    }
    const std::string twoUnreadable =
        fake::Cp932(" 2 人のユーザ レジストリを読み込めませんでした。");
    EXPECT_EQ(Status(), ResourceString(IDS_NO_INVALID_ENTRIES) + twoUnreadable);
    // With one of them listed, the line still tells of the other.
    m.registry.ClearFaults();
    m.registry.InjectFault(fake::RegOp::kLoad, kAmy, err::kSharingViolation, fake::kAlways);
    EXPECT_TRUE(dlg->RefreshTree());
    EXPECT_EQ(control.Render(), "[x]+ Ovaline 2004 (English)\n  [x] zed\n");
    EXPECT_EQ(Status(), fake::Cp932(" 1 人のユーザ レジストリを読み込めませんでした。"));
}

TEST_F(DialogTest, UnreadableCurrentUserRegistrySkipsTheLightEdition) {
    m.security.SetAdministrator(false);
    Reg(kOperator, "Ovaline Sketch\\R9\\OVSK-201:411");
    m.registry.InjectFault(fake::RegOp::kOpen, kOperator, err::kAccessDenied);
    Open();
    EXPECT_EQ(Status(), ResourceString(IDS_REGISTRY_UNREADABLE));
    EXPECT_EQ(control.ItemCount(), 0u);
    EXPECT_TRUE(CleanUpEnabled());
}

TEST_F(DialogTest, AdministratorFlagIsTakenOnceAtConstruction) {
    Reg(kZed, kEnglish);
    Open();
    m.security.SetAdministrator(false);
    dlg->tree()->Clear();
    EXPECT_TRUE(dlg->RefreshTree());
    EXPECT_EQ(Labels(), std::vector<std::string>{"Ovaline 2004 (English)"});
}

TEST_F(DialogTest, SettingsFileSelectsItsProductAndShowsItsHeading) {
    MakeAdministratorsFolder("Tools");
    m.files.AddFile("C:\\Tools\\Quorvane.ini",
                    "[Quorvane]\r\nCompany=Acme\r\nProduct=Zephyr\r\nVersion=V2\r\n"
                    "VisibleProductName=Zephyr %s%n\r\n");
    m.registry.CreateKey(m.UserKey(kZed) + "\\Software\\Acme\\Zephyr\\V2\\OVXM-6:409");
    m.registry.CreateKey(m.UserKey(kZed) + "\\Software\\Acme\\Zephyr\\V2\\OVXM-201:409");
    Reg(kZed, kEnglish);
    Open();
    // Sub keys enumerate by name: "OVXM-201:409" before "OVXM-6:409".
    EXPECT_EQ(Labels(), (std::vector<std::string>{"Zephyr (201:409)", "Zephyr %s%n (English)"}));
    EXPECT_EQ(window.Title(), "");
    EXPECT_EQ(Status(), "Zephyr %s%n" + HeadingTail());
}

// An administrator's dialog uses a settings file only when no one but SYSTEM, the administrators
// and the running user can change it and its folder, and when it names one key each for company,
// product and release; otherwise it works with the built-in products, without the file's backup
// switch and language (the user's interface's: Japanese here), and says so once. A user's own
// dialog does not ask who can change the file.
TEST_F(DialogTest, ASettingsFileIsUsedOnlyWhenTrustedAndNamingOneKeyEach) {
    constexpr char kIni[] = "C:\\Tools\\Quorvane.ini";
    const std::string v64(64, 'v');
    auto ini = [](const std::string& company, const std::string& product,
                  const std::string& version) {
        std::string text = "[Quorvane]\r\nCompany=" + company + "\r\nProduct=" + product + "\r\n";
        if (!version.empty()) text += "Version=" + version + "\r\n";
        return text + "VisibleProductName=Zephyr\r\nBackup=0\r\nLanguage=en\r\n";
    };
    enum Place { kTrusted, kFileOpenToOthers, kFolderOpenToOthers };
    struct Row {
        const char* name;
        Place place;
        std::string contents;
        SettingsVerdict verdict;
    };
    const std::vector<Row> rows = {
        {"trusted file in a trusted folder", kTrusted, ini("Acme", "Zephyr", "V2"),
         SettingsVerdict::kUsed},
        {"64 characters are one key name", kTrusted, ini("Acme", "Zephyr", v64),
         SettingsVerdict::kUsed},
        // "ソ" in code page 932 ends in the byte of "\": one character, no separator.
        {"a double-byte character is no separator", kTrusted, ini("Acme", fake::Cp932("ソ"), "V2"),
         SettingsVerdict::kUsed},
        {"file others can change", kFileOpenToOthers, ini("Acme", "Zephyr", "V2"),
         SettingsVerdict::kWriters},
        {"folder others can change", kFolderOpenToOthers, ini("Acme", "Zephyr", "V2"),
         SettingsVerdict::kWriters},
        {"company reaching other keys", kTrusted, ini("Microsoft\\Windows", "Zephyr", "V2"),
         SettingsVerdict::kNames},
        {"product empty", kTrusted, ini("Acme", "", "V2"), SettingsVerdict::kNames},
        {"version missing", kTrusted, ini("Acme", "Zephyr", ""), SettingsVerdict::kNames},
        {"version of 65 characters", kTrusted, ini("Acme", "Zephyr", v64 + "v"),
         SettingsVerdict::kNames},
    };
    Reg(kZed, kEnglish);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        m.files.Remove("C:\\Elsewhere");
        MakeAdministratorsFolder("Tools");
        if (row.place == kTrusted) {
            m.files.AddFile(kIni, row.contents);
        } else {
            // A move keeps the file's access list, whatever its new folder grants.
            if (row.place == kFileOpenToOthers) {
                m.files.AddDirectory("C:\\Elsewhere");
            } else {
                MakeAdministratorsFolder("Elsewhere");
                m.files.Remove("C:\\Tools");
                m.files.AddDirectory("C:\\Tools");
            }
            m.files.AddFile("C:\\Elsewhere\\Quorvane.ini", row.contents);
            m.files.Move("C:\\Elsewhere\\Quorvane.ini", kIni);
        }
        const std::size_t shown = m.messages.Shown().size();
        m.resources.UseLanguage(0);
        Open();
        const bool used = row.verdict == SettingsVerdict::kUsed;
        if (used) {
            EXPECT_EQ(m.messages.Shown().size(), shown);
            EXPECT_EQ(m.resources.Language(), fake::kLangEnglishUs);
            EXPECT_EQ(Status(),
                      "There are no invalid user registry entries. No clean-up is "
                      "needed.");  // nothing of Acme
        } else {
            ASSERT_EQ(m.messages.Shown().size(), shown + 1);
            const auto& box = m.messages.Shown().back();
            std::string text = ResourceString(IDS_SETTINGS_REFUSED);
            text.replace(text.find("%s"), 2, kIni);
            EXPECT_EQ(box.text, text);
            EXPECT_EQ(box.caption, ResourceString(IDS_CAPTION));
            EXPECT_EQ(box.style, 0x30u);
            EXPECT_EQ(box.owner, fake::FakeDialogWindow::kHandle);
            // The built-in products instead, and the operator is told once.
            EXPECT_EQ(Labels(), std::vector<std::string>{"Ovaline 2004 (English)"});
            dlg->tree()->Clear();
            EXPECT_TRUE(dlg->RefreshTree());
            EXPECT_EQ(m.messages.Shown().size(), shown + 1);
        }
        // What the run goes on with: the backup switch only from a file that is used.
        Settings settings;
        EXPECT_EQ(ReadSettings(m.platform(), kIni, true, &settings), row.verdict);
        EXPECT_EQ(settings.backupOff, used);
        EXPECT_EQ(settings.company.empty(), !used);
        EXPECT_EQ(settings.language, used ? std::optional(UiLanguage::kEnglish) : std::nullopt);
        // A user's own run reads what he could have written himself.
        EXPECT_EQ(ReadSettings(m.platform(), kIni, false, &settings),
                  row.verdict == SettingsVerdict::kWriters ? SettingsVerdict::kUsed : row.verdict);
    }
}

TEST_F(DialogTest, ConfirmedCleanUpRemovesCheckedUsersAndRefreshes) {
    Reg(kZed, kEnglish);
    Reg(kAmy, kEnglish);
    Open();
    ClickBox(control.FindItem("amy", control.TopLevelItems()[0]));
    CleanUp();
    const auto& boxes = m.messages.Shown();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].text, ResourceString(IDS_CONFIRM_DELETE));
    EXPECT_EQ(boxes[0].caption, ResourceString(IDS_CAPTION));
    EXPECT_EQ(boxes[0].style, 0x131u);
    EXPECT_EQ(boxes[0].owner, fake::FakeDialogWindow::kHandle);
    EXPECT_EQ(boxes[1].text, ResourceString(IDS_DELETED));
    EXPECT_EQ(boxes[1].style, 0x40u);
    EXPECT_FALSE(m.registry.KeyExists(Path(kZed, kEnglish)));
    EXPECT_EQ(control.Render(), "[x]+ Ovaline 2004 (English)\n  [x] amy\n");
    ExpectNothingHeld();
    // The audit log has a line for each action: zed's key and the keys above it left empty,
    // between the clean-up's run-start and its run-end with exit code 0.
    auto lines = m.audit.Lines();
    ASSERT_GE(lines.size(), 3u);
    EXPECT_NE(lines.front().find("\"action\":\"run-start\",\"version\":"), std::string::npos)
        << lines.front();
    EXPECT_NE(lines.front().find("\"command\":\"clean-up\""), std::string::npos);
    EXPECT_NE(lines.back().find("\"action\":\"run-end\",\"exitCode\":0,"), std::string::npos)
        << lines.back();
    lines = {lines.begin() + 1, lines.end() - 1};
    EXPECT_NE(lines[0].find("\"action\":\"delete-key-tree\""), std::string::npos) << lines[0];
    EXPECT_NE(lines[0].find(std::string("\"user\":\"") + kZed + "\""), std::string::npos);
    EXPECT_NE(lines[0].find("\"program\":\"quorvane\""), std::string::npos);
    for (const std::string& line : lines) {
        EXPECT_NE(line.find("\"result\":\"done\""), std::string::npos) << line;
    }

    CleanUp();
    EXPECT_EQ(Status(), ResourceString(IDS_NO_INVALID_ENTRIES));
    EXPECT_FALSE(CleanUpEnabled());
    EXPECT_EQ(control.ItemCount(), 0u);
}

TEST_F(DialogTest, AnAuditLogThatCannotBeWrittenIsToldAfterTheResult) {
    Reg(kZed, kEnglish);
    m.audit.InjectFault(fake::AuditOp::kOpen, {}, err::kAccessDenied, fake::kAlways);
    Open();
    CleanUp();
    const auto& boxes = m.messages.Shown();
    ASSERT_EQ(boxes.size(), 3u);
    EXPECT_EQ(boxes[1].text, ResourceString(IDS_DELETED));  // the clean-up went on
    EXPECT_EQ(boxes[2].text, fake::Cp932("監査ログ ") + m.audit.LogPath() +
                                 fake::Cp932(" に書き込めませんでした。"));
    EXPECT_EQ(boxes[2].style, 0x30u);
    EXPECT_FALSE(m.registry.KeyExists(Path(kZed, kEnglish)));
}

constexpr char kBackups[] =
    "C:\\Documents and Settings\\All Users\\Application Data\\Quorvane\\Backups";

TEST_F(DialogTest, ACleanUpKeepsABackupUnlessTheSettingsFileSaysBackup0) {
    Reg(kZed, kEnglish);
    Open();
    CleanUp();
    EXPECT_FALSE(m.registry.KeyExists(Path(kZed, kEnglish)));
    ASSERT_EQ(m.files.List(kBackups).size(), 1u);  // one run, named by the audit log's run id
    EXPECT_TRUE(m.files.Exists(std::string(kBackups) + "\\" + m.files.List(kBackups)[0] +
                               "\\manifest.json"));

    MakeAdministratorsFolder("Tools");
    m.files.AddFile("C:\\Tools\\Quorvane.ini", "[Quorvane]\r\nBackup=0\r\n");
    Reg(kAmy, kEnglish);
    Open();
    CleanUp();
    EXPECT_FALSE(m.registry.KeyExists(Path(kAmy, kEnglish)));
    EXPECT_EQ(m.files.List(kBackups).size(), 1u);  // no second run
}

// Whatever stays behind makes the clean-up a failure, as the console program's exit code 3 says
// for the same run, and keeps the user's key, the only record of it.
TEST_F(DialogTest, ACleanUpThatLeavesAnythingBehindFailsAndKeepsTheKey) {
    const std::string temp = m.LocalSettings(kZed) + "\\Temp\\";
    struct Row {
        const char* name;
        std::function<void()> setup;
        const char* auditResult;  // of the file the list names; null: no such file
    };
    const Row rows[] = {
        {"a file of the list refused",
         [&] {
             m.files.AddFile(temp + "ovln1.tmp");
             m.files.InjectFault(HandleOp::kQueryFacts, "ovln1.tmp", err::kAccessDenied,
                                 fake::kAlways);
         },
         "refused"},
        {"a file of the list in use",
         [&] {
             m.files.AddFile(temp + "ovln2.tmp");
             m.files.SetInUse(temp + "ovln2.tmp");
         },
         "failed"},
        // The last: the backup folder is someone else's and cannot be moved aside.
        {"no backup can be kept",
         [&] {
             // Made by someone else, open to him.
             m.files.Remove(text::CutBeforeLastBackslash(kBackups));
             m.files.AddDirectory(kBackups);
             m.files.InjectFault(HandleOp::kRename, "Quorvane", err::kSharingViolation,
                                 fake::kAlways);
         },
         nullptr},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        // The file list runs for a registration that names its folders.
        Reg(kZed, kEnglish);
        m.registry.SetString(Path(kZed, kEnglish), "RoamableRootFolder",
                             m.AppData(kZed) + "\\Brennard\\Ovaline 2004\\R16.0\\enu");
        m.registry.SetString(Path(kZed, kEnglish), "LocalRootFolder",
                             m.LocalAppData(kZed) + "\\Brennard\\Ovaline 2004\\R16.0\\enu");
        row.setup();
        const std::size_t shown = m.messages.Shown().size();
        Open();
        CleanUp();
        const auto& boxes = m.messages.Shown();
        ASSERT_EQ(boxes.size(), shown + 2);
        EXPECT_EQ(boxes.back().text, ResourceString(IDS_DELETE_FAILED));
        EXPECT_TRUE(m.registry.KeyExists(Path(kZed, kEnglish)));
        EXPECT_EQ(control.Render(), "[x]+ Ovaline 2004 (English)\n  [x] zed\n");
        if (row.auditResult != nullptr) {
            const auto lines = m.audit.Lines();
            ASSERT_FALSE(lines.empty());
            EXPECT_NE(lines.back().find("\"action\":\"run-end\",\"exitCode\":3,"),
                      std::string::npos)
                << lines.back();
            EXPECT_NE(std::find_if(lines.begin(), lines.end(),
                                   [&](const std::string& line) {
                                       return line.find("\"delete-file\"") != std::string::npos &&
                                              line.find(std::string("\"result\":\"") +
                                                        row.auditResult + "\"") !=
                                                  std::string::npos;
                                   }),
                      lines.end());
        }
        m.files.Remove(temp + "ovln1.tmp");
        m.files.Remove(temp + "ovln2.tmp");
    }
}

// A folder of the tool's that someone else made is moved aside, told of in the debug trace, and
// replaced; one that cannot be moved keeps the clean-up from removing anything.
TEST_F(DialogTest, AFolderMadeBySomeoneElseIsMovedAsideOrKeepsEverything) {
    const std::string quorvane =
        "C:\\Documents and Settings\\All Users\\Application Data\\Quorvane";
    Reg(kZed, kEnglish);
    m.files.AddDirectory(kBackups);  // made by someone else, open to him
    Open();
    CleanUp();
    EXPECT_FALSE(m.registry.KeyExists(Path(kZed, kEnglish)));
    EXPECT_EQ(m.files.Protection(quorvane), FolderProtection::kAdministratorsOnly);
    EXPECT_NE(
        m.debug.Text().find("Moved \"" + quorvane + "\" aside to \"" + quorvane + ".untrusted-"),
        std::string::npos)
        << m.debug.Text();

    m.files.Remove(quorvane);
    m.files.AddDirectory(kBackups);
    m.files.InjectFault(HandleOp::kRename, "Quorvane", err::kSharingViolation, fake::kAlways);
    Reg(kAmy, kEnglish);
    m.messages.Clear();
    Open();
    CleanUp();
    const auto& boxes = m.messages.Shown();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[1].text, ResourceString(IDS_DELETE_FAILED));
    EXPECT_TRUE(m.registry.KeyExists(Path(kAmy, kEnglish)));
}

TEST_F(DialogTest, DeclinedConfirmationChangesNothing) {
    Reg(kZed, kEnglish);
    Reg(kAmy, kEnglish);
    Open();
    ClickBox(control.FindItem("zed", control.TopLevelItems()[0]));
    m.messages.QueueAnswer(mb::kIdCancel);
    CleanUp();
    EXPECT_EQ(control.Render(), "[x]+ Ovaline 2004 (English)\n  [ ] zed\n  [x] amy\n");
    EXPECT_EQ(m.messages.Shown().size(), 1u);
    EXPECT_TRUE(m.registry.KeyExists(Path(kZed, kEnglish)));
    EXPECT_FALSE(dlg->cleanupDone());
}

TEST_F(DialogTest, NothingCheckedIsReportedAndEverythingComesBackChecked) {
    Reg(kZed, kEnglish);
    Open();
    ClickBox(control.TopLevelItems()[0]);
    CleanUp();
    ASSERT_EQ(m.messages.Shown().size(), 2u);
    EXPECT_EQ(m.messages.Shown()[1].text, ResourceString(IDS_NOTHING_SELECTED));
    EXPECT_EQ(m.messages.Shown()[1].style, 0x30u);
    EXPECT_EQ(control.Render(), "[x]+ Ovaline 2004 (English)\n  [x] zed\n");
    EXPECT_TRUE(m.registry.KeyExists(Path(kZed, kEnglish)));
}

TEST_F(DialogTest, CancelReleasesTheTreeAndClosesWithCancel) {
    Reg(kZed, kEnglish);
    Open();
    dlg->OnCancelClicked();
    EXPECT_EQ(control.ItemCount(), 0u);
    EXPECT_TRUE(window.Ended());
    EXPECT_EQ(window.EndResult(), mb::kIdCancel);
}

// The window shows at once and fills in profile by profile: the first product's registrations
// as they are found, the others at the end, below them. Between two steps no hive of the scan is
// loaded and no key open, and the clean-up waits for the end.
TEST_F(DialogTest, TheRefreshFillsInOneProfilePerStepHoldingNothingBetweenSteps) {
    Reg(kZed, "Ovaline Sketch\\R9\\OVSK-201:411");
    Reg(kAmy, kEnglish);
    Open(false, false);
    EXPECT_EQ(Status(), Progress(IDS_SCAN_PROGRESS, 1, 2));
    EXPECT_FALSE(CleanUpEnabled());
    EXPECT_EQ(control.ItemCount(), 0u);
    ASSERT_TRUE(dlg->Busy());
    dlg->Step();
    EXPECT_EQ(Status(), Progress(IDS_SCAN_PROGRESS, 2, 2));
    EXPECT_EQ(control.ItemCount(), 0u);  // zed's is the second product's
    EXPECT_FALSE(CleanUpEnabled());
    ExpectNothingHeld();
    dlg->Step();
    EXPECT_FALSE(dlg->Busy());
    EXPECT_EQ(control.Render(),
              "[x]+ Ovaline 2004 (English)\n  [x] amy\n"
              "[x]+ Ovaline Sketch 2004 (Japanese)\n  [x] zed\n");
    EXPECT_EQ(Status(), "");
    EXPECT_TRUE(CleanUpEnabled());
    EXPECT_EQ(m.registry.Log(fake::RegOp::kLoad), (std::vector<std::string>{kZed, kAmy}));
    ExpectNothingHeld();
}

TEST_F(DialogTest, CancelDuringTheScanStopsAfterTheProfileWithNothingLoaded) {
    Reg(kZed, kEnglish);
    Reg(kAmy, kEnglish);
    Open(false, false);
    dlg->Step();
    EXPECT_EQ(control.Render(), "[x]+ Ovaline 2004 (English)\n  [x] zed\n");
    dlg->OnCancelClicked();
    EXPECT_FALSE(dlg->Busy());
    EXPECT_TRUE(window.Ended());
    EXPECT_EQ(window.EndResult(), mb::kIdCancel);
    EXPECT_EQ(control.ItemCount(), 0u);
    EXPECT_EQ(m.registry.Log(fake::RegOp::kLoad),
              std::vector<std::string>{kZed});  // amy's never loaded
    ExpectNothingHeld();
    EXPECT_TRUE(m.messages.Shown().empty());  // nothing asked: a scan changes nothing to stop
}

// The clean-up cleans one user per step and tells which; Cancel asks, goes on when the operator
// says so, and otherwise stops before the next user, no user half cleaned, without a result box.
TEST_F(DialogTest, TheCleanUpShowsProgressAndCancelAsksThenStopsBetweenUsers) {
    const std::string japanese = "Ovaline\\R16.0\\OVLN-201:411";
    Reg(kZed, kEnglish);
    Reg(kZed, japanese);
    Reg(kAmy, kEnglish);
    Open();
    dlg->OnCleanUp();
    EXPECT_EQ(Status(), Progress(IDS_CLEANUP_PROGRESS, 1, 2));
    EXPECT_FALSE(CleanUpEnabled());
    dlg->Step();
    // Both of zed's registrations at once, listed under two items.
    EXPECT_FALSE(m.registry.KeyExists(Path(kZed, kEnglish)));
    EXPECT_FALSE(m.registry.KeyExists(Path(kZed, japanese)));
    EXPECT_TRUE(m.registry.KeyExists(Path(kAmy, kEnglish)));
    EXPECT_EQ(Status(), Progress(IDS_CLEANUP_PROGRESS, 2, 2));
    ExpectNothingHeld();

    m.messages.QueueAnswer(mb::kIdCancel);  // "go on"
    dlg->OnCancelClicked();
    ASSERT_EQ(m.messages.Shown().size(), 2u);
    EXPECT_EQ(m.messages.Shown()[1].text, ResourceString(IDS_CONFIRM_STOP));
    EXPECT_EQ(m.messages.Shown()[1].owner, fake::FakeDialogWindow::kHandle);
    EXPECT_FALSE(window.Ended());
    EXPECT_TRUE(dlg->Busy());

    dlg->OnCancelClicked();  // "stop"
    EXPECT_TRUE(window.Ended());
    EXPECT_FALSE(dlg->Busy());
    EXPECT_EQ(m.messages.Shown().size(), 3u);  // the question, no result box
    EXPECT_TRUE(m.registry.KeyExists(Path(kAmy, kEnglish)));
    ExpectNothingHeld();
    const auto lines = m.audit.Lines();
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::string& line) {
                                return line.find("\"delete-key-tree\"") != std::string::npos;
                            }),
              2);
}

// The one pass lists what one population per product lists, item by item in the same order,
// whichever profiles hold which registrations, with a user whom the system cannot name first in
// the profile list (his registrations are not shown, and an item comes where its first named
// user's registration stands).
TEST_F(DialogTest, OnePassListsWhatOnePopulationPerProductLists) {
    constexpr char kGhost[] = "S-1-5-21-7-7-7-1000";  // before zed and amy
    m.AddUser({kGhost, ""});
    const std::vector<std::string> registrations = {kEnglish, "Ovaline\\R16.0\\OVLN-201:411",
                                                    "Ovaline Sketch\\R9\\OVSK-201:411",
                                                    "Ovaline\\R16.0\\OVLN-6:409"};
    const std::vector<std::string> users = {kGhost, kZed, kAmy};
    fake::FakeTree reference;
    int nonEmpty = 0;
    // Each user holds a different subset of the registrations, layout by layout.
    for (unsigned layout = 0; layout < 4096; layout += 37) {
        SCOPED_TRACE(layout);
        for (std::size_t u = 0; u < users.size(); ++u) {
            m.registry.DeleteTree(m.UserKey(users[u]) + "\\Software\\Brennard");
            for (std::size_t r = 0; r < registrations.size(); ++r) {
                if ((layout >> (u * registrations.size() + r)) & 1u)
                    Reg(users[u], registrations[r]);
            }
        }
        Open();
        {
            UserDataTree expected(reference);
            Workspace ws{Services{m.platform(), false}, tables, true, 0, nullptr};
            std::set<std::string> unnamed;
            ASSERT_TRUE(
                PopulateTree(ws, expected, "Brennard", "Ovaline", "R16.0", nullptr, &unnamed));
            ASSERT_TRUE(
                PopulateTree(ws, expected, "Brennard", "Ovaline Sketch", "R9", nullptr, &unnamed));
            expected.ExpandAll();
            EXPECT_EQ(control.Render(), reference.Render());
            for (TreeItem item : control.TopLevelItems()) {
                TreeItem same = expected.FindRegistrationItem(control.GetItemText(item));
                EXPECT_EQ(dlg->tree()->RegistrationKeyPath(item),
                          expected.RegistrationKeyPath(same));
            }
            if (control.ItemCount() != 0) ++nonEmpty;
            EXPECT_EQ(Status().empty(), unnamed.empty() && control.ItemCount() != 0);
        }
        ExpectNothingHeld();
    }
    EXPECT_GT(nonEmpty, 50);
}

// The program's order: the dialog object is made first and ends last; the window host, its
// adapters of the dialog window and the tree control, and the binding end before it.
TEST_F(UiMachine, DialogOutlivingItsHostTouchesNoneOfItsControls) {
    Reg(kZed, kEnglish);
    auto dialog = std::make_unique<CQuorvaneDlg>(Services{m.platform(), false}, "");
    {
        auto window = std::make_unique<fake::FakeDialogWindow>();
        auto tree = std::make_unique<fake::FakeTree>();
        DialogBinding binding = dialog->Attach(*window, *tree);
        ASSERT_TRUE(dialog->OnInitDialog());
        dialog->Step();  // zed's; amy's is left when the window goes
        ASSERT_EQ(tree->ItemCount(), 2u);
        ASSERT_TRUE(dialog->Busy());
        // The window's destruction: the model empties the tree while the tree still exists, and
        // the refresh under way ends with nothing of it held.
        binding.reset();
        EXPECT_EQ(tree->ItemCount(), 0u);
        EXPECT_FALSE(dialog->Busy());
        ExpectNothingHeld();
    }  // the adapters are freed
    EXPECT_EQ(dialog->tree(), nullptr);
    EXPECT_FALSE(dialog->RefreshTree());
    dialog->OnTreeClick();
    dialog->OnCancelClicked();
    dialog.reset();  // a model left behind would empty itself through the freed tree here
}

TEST(MinimizedIcon, CentresWithDivisionTruncatingTowardZero) {
    Point p = MinimizedIconOrigin(100, 51, 32, 32);
    EXPECT_EQ(p.x, 34);  // (100 - 32 + 1) / 2 = 69 / 2
    EXPECT_EQ(p.y, 10);  // (51 - 32 + 1) / 2
    p = MinimizedIconOrigin(10, 32, 32, 32);
    EXPECT_EQ(p.x, -10);  // -21 / 2 truncates to -10, not -11
    EXPECT_EQ(p.y, 0);
}

}  // namespace
}  // namespace qv
