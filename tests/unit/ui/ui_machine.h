// A fake machine with two profiles that are not logged on ("zed" before "amy" in the profile list)
// and a tree model over a fake tree control, for the population and dialog tests.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "fake/fake_machine.h"
#include "fake/fake_ui.h"
#include "tests/unit/machine_parts.h"
#include "ui/user_data_tree.h"

namespace qv {

class UiMachine : public ::testing::Test, protected test::MachineParts {
  protected:
    static constexpr char kZed[] = "S-1-5-21-7-7-7-1001";
    static constexpr char kAmy[] = "S-1-5-21-7-7-7-1002";
    static constexpr const char* kOperator = fake::FakeMachine::kOperatorSid;
    static constexpr std::int64_t kT = 1600000000;  // 2020-09-13
    static constexpr char kEnglish[] = "Ovaline\\R16.0\\OVLN-201:409";

    UiMachine() : MachineParts(0x77) {
        m.AddUser({kZed, "zed"});
        m.AddUser({kAmy, "amy"});
        tables.FillBuiltIn();
    }

    // A registration below "Software\Brennard" of a user (a SID) or of the machine (empty SID),
    // with all its keys written at `time`.
    std::string Path(const std::string& sid, const std::string& rel) const {
        return (sid.empty() ? std::string("HKLM") : m.UserKey(sid)) + "\\Software\\Brennard\\" +
               rel;
    }
    void Reg(const std::string& sid, const std::string& rel, std::int64_t time = kT) {
        std::string path = Path(sid, rel);
        m.registry.CreateKey(path);
        m.registry.SetTreeTime(path, time);
    }
    std::vector<std::string> Labels() {
        std::vector<std::string> labels;
        for (TreeItem item : control.TopLevelItems()) labels.push_back(control.GetItemText(item));
        return labels;
    }
    // The folder C:\<name> made anew as an administrator makes one for himself, with an access
    // list that lets only SYSTEM and the administrators change it (whatever was there goes), so
    // that an elevated run trusts the settings file written into it.
    void MakeAdministratorsFolder(const std::string& name) {
        m.files.Remove("C:\\" + name);
        FileRef root = 0;
        FileRef made = 0;
        ASSERT_EQ(m.files.OpenFolder("C:\\", &root), err::kSuccess);
        EXPECT_EQ(m.files.CreateFolder(root, name, FolderProtection::kAdministratorsOnly, &made),
                  err::kSuccess);
        EXPECT_EQ(m.files.Close(made), err::kSuccess);
        EXPECT_EQ(m.files.Close(root), err::kSuccess);
    }
    // Nothing the tool opened or loaded is left behind.
    void ExpectNothingHeld() {
        EXPECT_TRUE(m.registry.OpenKeyPaths().empty());
        EXPECT_FALSE(m.registry.IsMounted(kZed));
        EXPECT_FALSE(m.registry.IsMounted(kAmy));
    }
};

}  // namespace qv
