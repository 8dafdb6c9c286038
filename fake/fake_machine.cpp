#include "fake/fake_machine.h"

#include <stdexcept>

namespace qv::fake {

FakeMachine::FakeMachine()
    : platform_{registry, security, files, files, system, messages, debug, resources, audit} {
    FakeRegistry::Wiring wiring;
    wiring.now = [this] { return system.Now(); };
    wiring.restorePrivilege = [this] {
        return security.IsPrivilegeEnabled(sec::kRestorePrivilege);
    };
    wiring.backupPrivilege = [this] { return security.IsPrivilegeEnabled(sec::kBackupPrivilege); };
    wiring.fileExists = [this](std::string_view file) { return files.Exists(file); };
    wiring.createFile = [this](std::string_view file) { return files.CreateNewFile(file, "regf"); };
    registry.Wire(std::move(wiring));
    files.SetCurrentDirectoryProvider([this] { return system.CurrentDirectory(); });

    files.AddDirectory("C:\\Tools");
    files.AddDirectory("C:\\Temp");
    files.AddDirectory("C:\\Program Files");
    files.AddDirectory("C:\\Documents and Settings\\All Users\\Application Data");
    system.SetEnv("TEMP", "C:\\Temp");
    registry.CreateKey(kProfileListKey);
    registry.SetString(std::string("HKLM\\") + kShellFoldersPath, "Common AppData",
                       "C:\\Documents and Settings\\All Users\\Application Data");
    registry.SetString("HKLM\\Software\\Microsoft\\Windows\\CurrentVersion", "ProgramFilesDir",
                       "C:\\Program Files");

    AddUser({kOperatorSid, kOperatorName, "QVTEST", {}, true, true});
    // The operator's profile is not in the profile list by default: tests add the profiles they
    // need. The account, the hive and HKEY_CURRENT_USER are there.
    registry.DeleteTree(std::string(kProfileListKey) + "\\" + kOperatorSid);
    registry.SetCurrentUserSid(kOperatorSid);
    security.SetUserName(kOperatorName);
    security.SetTokenUser(kOperatorSid);
    security.SetAdministrator(true);
}

const FakeUser& FakeMachine::User(std::string_view sid) const {
    auto it = users_.find(sid);
    if (it == users_.end()) throw std::logic_error("FakeMachine: unknown user " + std::string(sid));
    return it->second;
}

void FakeMachine::AddUser(const FakeUser& in) {
    FakeUser user = in;
    if (user.profileDir.empty()) {
        user.profileDir =
            "C:\\Documents and Settings\\" + (user.name.empty() ? user.sid : user.name);
    }
    users_[user.sid] = user;

    if (!user.name.empty()) security.AddAccount(user.sid, user.name, user.domain);
    registry.SetString(std::string(kProfileListKey) + "\\" + user.sid, "ProfileImagePath",
                       user.profileDir, reg::kExpandSz);
    files.AddDirectory(user.profileDir);
    files.AddFile(user.profileDir + "\\ntuser.dat", "regf", fa::kHidden);
    if (user.loggedOn) {
        registry.MountSystemHive(user.sid);
    } else {
        registry.CreateHiveFile(user.profileDir + "\\ntuser.dat");
    }
    registry.CreateKey(UserKey(user.sid) + "\\Software");
    if (user.shellFolders) {
        std::string key = UserKey(user.sid) + "\\" + kShellFoldersPath;
        registry.SetString(key, "AppData", AppData(user.sid));
        registry.SetString(key, "Local AppData", LocalAppData(user.sid));
        registry.SetString(key, "Local Settings", LocalSettings(user.sid));
        files.AddDirectory(AppData(user.sid));
        files.AddDirectory(LocalAppData(user.sid));
        files.AddDirectory(LocalSettings(user.sid) + "\\Temp");
    }
}

std::string FakeMachine::UserKey(std::string_view sid) const {
    const FakeUser& user = User(sid);
    if (registry.IsMounted(sid)) return "HKU\\" + user.sid;
    return user.profileDir + "\\ntuser.dat|";
}

}  // namespace qv::fake
