// A whole fake Windows machine for tests: registry, accounts and token, files, system
// services, message boxes, debug output, resources and the audit log, wired together as on Windows
// (hive loads need the restore privilege of the token; HKEY_CURRENT_USER is the running user's
// hive; the settings file and the hive files live in the file system).
//
//   FakeMachine m;
//   m.AddUser({"S-1-5-21-1-2-3-1001", "ann"});                     // not logged on
//   m.registry.SetString(m.UserKey("S-1-5-21-1-2-3-1001") + "\\Software\\...", "V", "x");
//   ... run the code with m.platform() ...
//   EXPECT_TRUE(m.registry.OpenKeyPaths().empty());
#pragma once
#include <map>
#include <string>
#include <string_view>

#include "fake/fake_audit.h"
#include "fake/fake_files.h"
#include "fake/fake_registry.h"
#include "fake/fake_security.h"
#include "fake/fake_system.h"
#include "port/platform.h"

namespace qv::fake {

inline constexpr char kProfileListKey[] =
    "HKLM\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";
inline constexpr char kShellFoldersPath[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";

struct FakeUser {
    std::string sid;
    // Empty: the account is gone (deleted since), and the system maps the SID to no account.
    std::string name;
    std::string domain = "QVTEST";
    // Default: "C:\Documents and Settings\<name>" (the SID for a user without a name).
    std::string profileDir = {};
    // Logged on: the hive is mounted under HKEY_USERS by the system. Otherwise it is the file
    // <profileDir>\ntuser.dat, loaded only when the tool loads it.
    bool loggedOn = false;
    // Writes the shell folders "AppData", "Local AppData" and "Local Settings" into the hive.
    bool shellFolders = true;
};

class FakeMachine {
  public:
    // An NT machine (5.1) with drive C:, "C:\Tools" as current directory, TEMP set, common shell
    // folders under HKLM, an empty profile list, and the running user "operator"
    // (S-1-5-21-100-200-300-500), logged on and a member of the Administrators group.
    FakeMachine();
    FakeMachine(const FakeMachine&) = delete;
    FakeMachine& operator=(const FakeMachine&) = delete;

    FakeRegistry registry;
    FakeSecurity security;
    FakeFileSystem files;
    FakeSystem system{files};
    FakeMessageBoxes messages;
    FakeDebugOutput debug;
    FakeResources resources;
    FakeAuditStore audit;

    Platform& platform() { return platform_; }

    static constexpr char kOperatorSid[] = "S-1-5-21-100-200-300-500";
    static constexpr char kOperatorName[] = "operator";

    // Adds the account, the profile list entry ("ProfileImagePath", REG_EXPAND_SZ), the profile
    // folder with its ntuser.dat, and the user's hive (a file, or mounted when logged on) with
    // its shell folders.
    void AddUser(const FakeUser& user);
    // The setup path of a user's hive root: "HKU\<sid>" when mounted, else "<hive file>|".
    // Append "\\Software\\..." (for a hive file the first "\\" after "|" is optional).
    std::string UserKey(std::string_view sid) const;
    std::string ProfileDir(std::string_view sid) const { return User(sid).profileDir; }
    // The user's shell folders as AddUser writes them.
    std::string AppData(std::string_view sid) const {
        return ProfileDir(sid) + "\\Application Data";
    }
    std::string LocalAppData(std::string_view sid) const {
        return LocalSettings(sid) + "\\Application Data";
    }
    std::string LocalSettings(std::string_view sid) const {
        return ProfileDir(sid) + "\\Local Settings";
    }

  private:
    const FakeUser& User(std::string_view sid) const;

    Platform platform_;
    std::map<std::string, FakeUser, std::less<>> users_;
};

}  // namespace qv::fake
