#include "ui/quorvane_dlg.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>

#include "app/settings.h"
#include "base/text.h"
#include "res/resource.h"
#include "ui_machine.h"

namespace qv {
namespace {

using fake::ResourceString;

class DialogTest : public UiMachine {
  protected:
    void Open(bool debug = false) {
        binding.reset();
        dlg = std::make_unique<CQuorvaneDlg>(Services{m.platform(), debug},
                                             "C:\\Tools\\Quorvane.ini");
        binding = dlg->Attach(window, control);
        EXPECT_TRUE(dlg->OnInitDialog());
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
    // One "Processing sid" box per profile and pass, owned by the dialog.
    ASSERT_EQ(m.messages.Shown().size(), 4u);
    EXPECT_EQ(m.messages.Shown()[0].owner, fake::FakeDialogWindow::kHandle);
    ExpectNothingHeld();
}

TEST_F(DialogTest, UsersWhoseRegistryCannotBeReadAreCountedNotPassedOver) {
    Reg(kZed, kEnglish);
    Reg(kAmy, kEnglish);
    // Both hives stay out of reach for both passes: each user counts once.
    m.registry.InjectFault(fake::RegOp::kLoad, kZed, err::kSharingViolation, fake::kAlways);
    m.registry.InjectFault(fake::RegOp::kLoad, kAmy, err::kSharingViolation, fake::kAlways);
    Open();
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
    dlg->OnCleanUp();
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
    // The audit log has a line for each action: zed's key and the keys above it left empty.
    const auto lines = m.audit.Lines();
    ASSERT_FALSE(lines.empty());
    EXPECT_NE(lines[0].find("\"action\":\"delete-key-tree\""), std::string::npos) << lines[0];
    EXPECT_NE(lines[0].find(std::string("\"user\":\"") + kZed + "\""), std::string::npos);
    EXPECT_NE(lines[0].find("\"program\":\"quorvane\""), std::string::npos);
    for (const std::string& line : lines) {
        EXPECT_NE(line.find("\"result\":\"done\""), std::string::npos) << line;
    }

    dlg->OnCleanUp();
    EXPECT_EQ(Status(), ResourceString(IDS_NO_INVALID_ENTRIES));
    EXPECT_FALSE(CleanUpEnabled());
    EXPECT_EQ(control.ItemCount(), 0u);
}

TEST_F(DialogTest, AnAuditLogThatCannotBeWrittenIsToldAfterTheResult) {
    Reg(kZed, kEnglish);
    m.audit.InjectFault(fake::AuditOp::kOpen, {}, err::kAccessDenied, fake::kAlways);
    Open();
    dlg->OnCleanUp();
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
    dlg->OnCleanUp();
    EXPECT_FALSE(m.registry.KeyExists(Path(kZed, kEnglish)));
    ASSERT_EQ(m.files.List(kBackups).size(), 1u);  // one run, named by the audit log's run id
    EXPECT_TRUE(m.files.Exists(std::string(kBackups) + "\\" + m.files.List(kBackups)[0] +
                               "\\manifest.json"));

    MakeAdministratorsFolder("Tools");
    m.files.AddFile("C:\\Tools\\Quorvane.ini", "[Quorvane]\r\nBackup=0\r\n");
    Reg(kAmy, kEnglish);
    Open();
    dlg->OnCleanUp();
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
        dlg->OnCleanUp();
        const auto& boxes = m.messages.Shown();
        ASSERT_EQ(boxes.size(), shown + 2);
        EXPECT_EQ(boxes.back().text, ResourceString(IDS_DELETE_FAILED));
        EXPECT_TRUE(m.registry.KeyExists(Path(kZed, kEnglish)));
        EXPECT_EQ(control.Render(), "[x]+ Ovaline 2004 (English)\n  [x] zed\n");
        if (row.auditResult != nullptr) {
            const auto lines = m.audit.Lines();
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
    dlg->OnCleanUp();
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
    dlg->OnCleanUp();
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
    dlg->OnCleanUp();
    EXPECT_EQ(control.Render(), "[x]+ Ovaline 2004 (English)\n  [ ] zed\n  [x] amy\n");
    EXPECT_EQ(m.messages.Shown().size(), 1u);
    EXPECT_TRUE(m.registry.KeyExists(Path(kZed, kEnglish)));
    EXPECT_FALSE(dlg->cleanupDone());
}

TEST_F(DialogTest, NothingCheckedIsReportedAndEverythingComesBackChecked) {
    Reg(kZed, kEnglish);
    Open();
    ClickBox(control.TopLevelItems()[0]);
    dlg->OnCleanUp();
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
        ASSERT_EQ(tree->ItemCount(), 2u);
        // The window's destruction: the model empties the tree while the tree still exists.
        binding.reset();
        EXPECT_EQ(tree->ItemCount(), 0u);
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
