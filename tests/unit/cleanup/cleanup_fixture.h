// A machine with two users, ann and bob, whose registrations of Ovaline 2004 (English) name their
// product folders the way the product lays them out.
#pragma once
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "fake/fake_machine.h"
#include "fake/fake_ui.h"
#include "tests/unit/machine_parts.h"

namespace qv::test {

inline constexpr char kAnn[] = "S-1-5-21-7-8-9-1001";
inline constexpr char kBob[] = "S-1-5-21-7-8-9-1002";
inline constexpr char kOvalineKey[] = "Software\\Brennard\\Ovaline\\R16.0\\OVLN-201:409";
inline constexpr char kProductFolders[] = "\\Brennard\\Ovaline 2004\\R16.0\\enu";
inline constexpr char kCommonAppData[] = "C:\\Documents and Settings\\All Users\\Application Data";

// Whether one of the lines (a trace, a log) holds `part`.
inline bool Contains(const std::vector<std::string>& lines, std::string_view part) {
    return std::any_of(lines.begin(), lines.end(), [part](const std::string& line) {
        return line.find(part) != std::string::npos;
    });
}

class CleanupTest : public ::testing::Test, protected MachineParts {
  protected:
    explicit CleanupTest(bool loggedOn = true) : MachineParts(fake::FakeDialogWindow::kHandle) {
        tables.FillBuiltIn();
        m.AddUser({kAnn, "ann", "QVTEST", {}, loggedOn});
        m.AddUser({kBob, "bob", "QVTEST", {}, loggedOn});
    }

    std::string Roaming(const char* sid) { return m.AppData(sid) + kProductFolders; }
    std::string Local(const char* sid) { return m.LocalAppData(sid) + kProductFolders; }
    std::string RegistrationPath(const char* sid, const std::string& key = kOvalineKey) {
        return std::string(sid) + "\\" + key;
    }
    std::string KeyOf(const char* sid, const std::string& key) {
        return m.UserKey(sid) + "\\" + key;
    }

    void SetFolders(const char* sid, const std::string& key, const std::string& roaming,
                    const std::string& local, std::uint32_t type = reg::kSz) {
        m.registry.SetString(KeyOf(sid, key), "RoamableRootFolder", roaming, type);
        m.registry.SetString(KeyOf(sid, key), "LocalRootFolder", local, type);
    }
    // The registration with its two product folders, each holding a file.
    void Register(const char* sid, const std::string& key = kOvalineKey) {
        SetFolders(sid, key, Roaming(sid), Local(sid));
        m.files.AddFile(Roaming(sid) + "\\Support\\ovlbase.hpt");
        m.files.AddFile(Local(sid) + "\\Template\\Blank.ovt");
    }

    // A checked user item under the registration item of `label`, holding the user's own key.
    TreeItem Check(const char* sid, const char* name, const std::string& key = kOvalineKey,
                   const char* label = "Ovaline 2004 (English)") {
        TreeItem registration = tree.FindRegistrationItem(label);
        if (registration == 0) registration = tree.InsertRegistrationItem(label, key);
        return tree.InsertUserItem(registration, name, sid, key);
    }

    void ExpectNothingLeftOpen() {
        EXPECT_TRUE(m.registry.OpenKeyPaths().empty());
        EXPECT_EQ(m.files.OpenFindCount(), 0u);
        EXPECT_FALSE(m.registry.IsLoadedByApp(kAnn));
        EXPECT_FALSE(m.registry.IsLoadedByApp(kBob));
    }
};

}  // namespace qv::test
