#include "ui/quorvane_app.h"

#include <gtest/gtest.h>

#include "fake/fake_machine.h"
#include "res/resource.h"

namespace qv {
namespace {

using fake::FakeMachine;

class StartUpTest : public ::testing::Test {
  protected:
    // Runs start-up with a dialog that only counts its runs.
    void Start(CQuorvaneApp& app, std::string_view commandLine) {
        app.InitInstance(commandLine, [this](CQuorvaneApp&) { ++dialogRuns; });
    }
    bool DebugFor(std::string_view commandLine) {
        CQuorvaneApp app(m.platform());
        Start(app, commandLine);
        return app.debug();
    }

    FakeMachine m;
    CQuorvaneApp app{m.platform()};
    int dialogRuns = 0;
};

TEST_F(StartUpTest, DialogRunsAfterEveryOtherStep) {
    app.InitInstance("-d", [&](CQuorvaneApp& a) {
        ++dialogRuns;
        EXPECT_EQ(m.system.InitCommonControlsCalls(), 1);
        EXPECT_EQ(m.system.LoadedLibraries(),
                  (std::vector<std::string>{"Advapi32.dll", "oleacc.dll"}));
        EXPECT_NE(a.advapi32(), 0u);
        EXPECT_NE(a.oleAcc(), 0u);
        EXPECT_EQ(a.settingsFile(), "C:\\Tools\\Quorvane.ini");
        EXPECT_TRUE(a.services().debug);
    });
    EXPECT_EQ(dialogRuns, 1);
    EXPECT_TRUE(m.messages.Shown().empty());
}

// The texts are in the language of the user's interface: Japanese for a Japanese one, English for
// every other; the Windows 9x refusal is told in it.
TEST_F(StartUpTest, TextsFollowTheUserInterfaceLanguage) {
    const std::pair<std::uint16_t, std::uint16_t> rows[] = {{0x0411, fake::kLangJapanese},
                                                            {0x0409, fake::kLangEnglishUs},
                                                            {0x0809, fake::kLangEnglishUs},
                                                            {0x0C0A, fake::kLangEnglishUs},
                                                            {0x0404, fake::kLangEnglishUs}};
    for (const auto& [user, chosen] : rows) {
        FakeMachine machine;
        machine.resources.SetUserInterfaceLanguage(user);
        machine.system.SetVersion({4, 10, 1});
        CQuorvaneApp started(machine.platform());
        started.InitInstance("", nullptr);
        EXPECT_EQ(machine.resources.Language(), chosen) << user;
        ASSERT_EQ(machine.messages.Shown().size(), 1u);
        EXPECT_EQ(machine.messages.Shown()[0].caption,
                  chosen == fake::kLangJapanese ? fake::Cp932("ユーザ データをクリーンアップ")
                                                : "Clean Up User Data")
            << user;
    }
}

TEST_F(StartUpTest, OnlyWindows9xIsRefusedAndBeforeAnythingLoads) {
    for (OsVersion v : {OsVersion{4, 0, 1}, OsVersion{4, 10, 1}, OsVersion{4, 90, 1}}) {
        FakeMachine machine;
        machine.system.SetVersion(v);
        CQuorvaneApp refused(machine.platform());
        bool ran = false;
        refused.InitInstance("", [&](CQuorvaneApp&) { ran = true; });
        EXPECT_FALSE(ran);
        EXPECT_TRUE(machine.system.LoadedLibraries().empty());
        EXPECT_TRUE(refused.settingsFile().empty());
        ASSERT_EQ(machine.messages.Shown().size(), 1u);
        const auto& box = machine.messages.Shown()[0];
        EXPECT_EQ(box.owner, 0u);
        EXPECT_EQ(box.text, fake::ResourceString(IDS_WIN9X_REFUSED));
        EXPECT_EQ(box.caption, fake::ResourceString(IDS_CAPTION));
        EXPECT_EQ(box.style, 16u);
        EXPECT_EQ(refused.ExitInstance(), 0);
        EXPECT_EQ(machine.system.FreeLibraryCalls(), 0);
    }
    // NT 4.0 runs; 3.255 on platform 1 lies just below the 4.0 line.
    for (OsVersion v : {OsVersion{4, 0, 2}, OsVersion{3, 255, 1}}) {
        m.system.SetVersion(v);
        CQuorvaneApp runs(m.platform());
        Start(runs, "");
    }
    EXPECT_EQ(dialogRuns, 2);
    EXPECT_TRUE(m.messages.Shown().empty());
}

TEST_F(StartUpTest, DebugSwitchIsASubstringOfTheArguments) {
    EXPECT_FALSE(DebugFor(""));
    EXPECT_TRUE(DebugFor("-d"));
    EXPECT_TRUE(DebugFor("/x -debug"));
    EXPECT_TRUE(DebugFor("x-dx"));
    EXPECT_TRUE(DebugFor("\x83\x5C-d"));  // after a double-byte character ending in 0x5C
    EXPECT_FALSE(DebugFor("-D"));
    EXPECT_FALSE(DebugFor("- d /d"));
}

TEST_F(StartUpTest, SettingsFileLiesInTheCurrentDirectory) {
    m.system.SetCurrentDirectory("C:\\");
    CQuorvaneApp root(m.platform());
    Start(root, "");
    EXPECT_EQ(root.settingsFile(), "C:\\\\Quorvane.ini");

    m.system.InjectFault(fake::SysOp::kGetCurrentDirectory, {}, err::kNotEnoughMemory,
                         fake::kAlways);
    CQuorvaneApp unknown(m.platform());
    Start(unknown, "");
    EXPECT_TRUE(unknown.settingsFile().empty());
    EXPECT_EQ(dialogRuns, 2);  // default mode: the dialog still runs
}

TEST_F(StartUpTest, ExitFreesWhatWasLoaded) {
    m.system.InjectFault(fake::SysOp::kLoadLibrary, "oleacc.dll", err::kModNotFound, fake::kAlways);
    Start(app, "");
    EXPECT_EQ(app.oleAcc(), 0u);
    EXPECT_EQ(app.ExitInstance(), 0);
    EXPECT_TRUE(m.system.LoadedLibraries().empty());
    EXPECT_EQ(m.system.FreeLibraryCalls(), 1);
    EXPECT_EQ(app.ExitInstance(), 0);  // nothing is freed twice
    EXPECT_EQ(m.system.FreeLibraryCalls(), 1);

    {
        CQuorvaneApp skipped(m.platform());
        Start(skipped, "");
    }
    EXPECT_TRUE(m.system.LoadedLibraries().empty());
}

TEST_F(StartUpTest, AccessibilityEntriesComeFromTheLoadedLibraryOnly) {
    EXPECT_EQ(app.AccessibilityEntry("CreateStdAccessibleObject"), nullptr);  // not loaded yet
    Start(app, "");
    // Each name gives its own entry, also once it is kept.
    for (int lookup = 0; lookup < 2; ++lookup) {
        for (const char* name : {"CreateStdAccessibleObject", "LresultFromObject"}) {
            void* expected = m.system.GetProcAddress(app.oleAcc(), name);
            ASSERT_NE(expected, nullptr);
            EXPECT_EQ(app.AccessibilityEntry(name), expected) << name;
        }
    }
    EXPECT_EQ(app.AccessibilityEntry("AccessibleObjectFromWindow"), nullptr);

    m.system.InjectFault(fake::SysOp::kLoadLibrary, "oleacc.dll", err::kModNotFound, fake::kAlways);
    CQuorvaneApp without(m.platform());
    Start(without, "");
    EXPECT_EQ(without.AccessibilityEntry("LresultFromObject"), nullptr);
}

}  // namespace
}  // namespace qv
