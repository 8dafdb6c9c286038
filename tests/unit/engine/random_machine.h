// A random machine for the engine's property tests: users (logged on or not, some whose account
// is gone), machine and user registrations of both products in three languages, most of them
// stale, with product folders (some named by hostile values), leftover folders without a key,
// files of the built-in file list, read-only files and junctions; some machines are 64-bit
// Windows, whose machine keys lie in the 32-bit view, and some have profile list entries with
// nothing behind them (no folder, no hive file, a "...-1001.bak" name).
#pragma once
#include <map>
#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "app/tables.h"
#include "base/text.h"
#include "fake/fake_machine.h"

namespace qv::test {

struct Language {
    const char* lcid;
    const char* code;
};
constexpr Language kLanguages[] = {{"409", "enu"}, {"407", "deu"}, {"411", "jpn"}};
struct Product {
    const char* name;
    const char* release;
    const char* code;
    const char* folder;
};
constexpr Product kProducts[] = {{"Ovaline", "R16.0", "OVLN", "Ovaline 2004"},
                                 {"Ovaline Sketch", "R9", "OVSK", "Ovaline Sketch 2004"}};
constexpr std::int64_t kT = 1600000000;
constexpr char kCommon[] = "C:\\Documents and Settings\\All Users\\Application Data";

class RandomMachine {
  public:
    // The shapes added to the first machines (64-bit Windows, accounts that are gone, profiles
    // that are gone) come from a generator of their own, so that the rest stays as it was.
    explicit RandomMachine(unsigned seed) : rng_(seed), shapes_(seed * 2654435761u) {
        tables.FillBuiltIn();
        wow64_ = Shape(2);
        m.registry.SetWow64(wow64_);
        m.files.AddFile("C:\\WINDOWS\\system.ini", "keep");
        m.files.AddFile("C:\\WINDOWS\\Brennard\\WebService\\ovlws1.log", "keep");
        const int users = 1 + Pick(3);
        for (int u = 0; u < users; ++u) {
            std::string sid = "S-1-5-21-9-9-9-" + std::to_string(1001 + u);
            const std::string name = "u" + std::to_string(u);
            const bool gone = Shape(4);
            m.AddUser(
                {sid, gone ? "" : name, "QVTEST", "C:\\Documents and Settings\\" + name, Coin(2)});
            sids_.push_back(sid);
            if (gone) unnamed.insert(sid);
        }
        for (const Product& p : kProducts) {
            for (const Language& l : kLanguages) {
                if (Coin(2)) {
                    // A 32-bit installer's key: in Software\Wow6432Node on 64-bit Windows.
                    std::string key = Key("HKLM", p, l);
                    if (wow64_) key.insert(std::string("HKLM\\Software").size(), "\\Wow6432Node");
                    m.registry.CreateKey(key);
                    Stamp(key, kT);
                    installed_.insert(std::string(p.name) + l.lcid);
                }
            }
        }
        for (const std::string& sid : sids_) AddUserData(sid);
        AddAbsentProfiles();
    }

    fake::FakeMachine m;
    Tables tables;
    // Every stale registration of a present profile, as (SID, key path below his hive).
    std::set<std::pair<std::string, std::string>> stale;
    // The users whose account is gone, and the profile list entries with nothing behind them.
    std::set<std::string> unnamed;
    std::set<std::string> absent;

    // The whole machine as the clean-up may change it: every key with its values (times change
    // with every deletion below a key and are left out), every file and folder with its
    // attributes and contents. Keys of users' hives are named below HKEY_USERS, loaded or not.
    std::map<std::string, std::string> Image() const {
        std::map<std::string, std::string> image;
        for (const auto& key : m.registry.AllKeys()) {
            std::string values;
            for (const auto& [name, value] : key.values) {
                values += name + "=" + std::to_string(value.type) + ":" + value.bytes + ";";
            }
            image["key " + UsersName(key.path)] = values;
        }
        for (const auto& entry : m.files.AllEntries()) {
            image["file " + text::FoldCase(entry.path)] =
                std::to_string(entry.attributes) + ":" + entry.contents + ":" + entry.target;
        }
        return image;
    }

    // The last-write time of every key, by its name as Image() gives it.
    std::map<std::string, std::int64_t> KeyTimes() const {
        std::map<std::string, std::int64_t> times;
        for (const auto& key : m.registry.AllKeys()) times["key " + UsersName(key.path)] = key.time;
        return times;
    }

  private:
    int Pick(int n) { return static_cast<int>(rng_() % static_cast<unsigned>(n)); }
    bool Coin(int oneIn) { return Pick(oneIn) == 0; }
    bool Shape(int oneIn) { return shapes_() % static_cast<unsigned>(oneIn) == 0; }

    static std::string Key(const std::string& root, const Product& p, const Language& l) {
        return root + "\\" + KeyPath(p, l);
    }
    static std::string KeyPath(const Product& p, const Language& l) {
        return std::string("Software\\Brennard\\") + p.name + "\\" + p.release + "\\" + p.code +
               "-201:" + l.lcid;
    }

    // Profile list entries with nothing of their user behind them: a folder that is gone, a
    // folder without its hive file, and the ".bak" entry a temporary profile leaves, which names a
    // present user's folder.
    void AddAbsentProfiles() {
        const auto entry = [&](const std::string& name, const std::string& folder) {
            m.registry.SetString(std::string(fake::kProfileListKey) + "\\" + name,
                                 "ProfileImagePath", folder, reg::kExpandSz);
            absent.insert(name);
        };
        if (Shape(2)) entry("S-1-5-21-9-9-9-1901", "C:\\Documents and Settings\\gone");
        if (Shape(2)) {
            m.files.AddDirectory("C:\\Documents and Settings\\emptied");
            entry("S-1-5-21-9-9-9-1902", "C:\\Documents and Settings\\emptied");
        }
        if (Shape(2)) entry(sids_.front() + ".bak", m.ProfileDir(sids_.front()));
    }
    void Stamp(const std::string& path, std::int64_t time) { m.registry.SetTreeTime(path, time); }

    std::string UsersName(const std::string& path) const {
        for (const std::string& sid : sids_) {
            for (std::string prefix : {"HKU\\" + sid, m.ProfileDir(sid) + "\\ntuser.dat|"}) {
                if (!text::EqualsNoCase(path.substr(0, prefix.size()), prefix)) continue;
                std::string rest = path.substr(prefix.size());
                if (!rest.empty() && rest[0] == '\\') rest.erase(0, 1);
                return "HKEY_USERS\\" + sid + (rest.empty() ? "" : "\\" + rest);
            }
        }
        return path;
    }

    void AddUserData(const std::string& sid) {
        for (const Product& p : kProducts) {
            for (const Language& l : kLanguages) {
                const std::string tail =
                    std::string("\\Brennard\\") + p.folder + "\\" + p.release + "\\" + l.code;
                const std::string roaming = m.AppData(sid) + tail;
                const std::string local = m.LocalAppData(sid) + tail;
                if (Coin(3)) {
                    // A registration: the user's key, mostly stale, mostly with honest folders.
                    const std::string key = Key(m.UserKey(sid), p, l);
                    std::string roamValue = roaming;
                    switch (Pick(8)) {
                        case 0:
                            roamValue = "C:\\WINDOWS";
                            break;
                        case 1:
                            roamValue = m.ProfileDir(sids_.front());
                            break;
                        case 2:
                            roamValue = "\\\\server\\share\\data";
                            break;
                        default:
                            break;
                    }
                    m.registry.SetString(key, "RoamableRootFolder", roamValue);
                    m.registry.SetString(key, "LocalRootFolder", local);
                    const int hoursOlder = Pick(3);
                    Stamp(key, kT - 3600 * hoursOlder);
                    // Stale: the machine lacks it, or its key is an hour or more newer.
                    if (installed_.count(std::string(p.name) + l.lcid) == 0 || hoursOlder > 0) {
                        stale.emplace(sid, KeyPath(p, l));
                    }
                    AddFiles(roaming, local);
                } else if (Coin(4)) {
                    // Leftover folders without a key.
                    AddFiles(roaming, local);
                }
            }
        }
        const std::string temp = m.LocalSettings(sid) + "\\Temp";
        if (Coin(2)) m.files.AddFile(temp + "\\ovln" + std::to_string(Pick(9)) + ".log", "t");
        if (Coin(3)) m.files.AddFile(temp + "\\notes.txt", "keep");
        if (Coin(3)) {
            m.files.AddFile(std::string(kCommon) +
                                "\\Brennard\\Ovaline 2004\\R16.0\\Shared\\ovlreg2004_enu.dat",
                            "s");
        }
    }

    void AddFiles(const std::string& roaming, const std::string& local) {
        const int files = Pick(4);
        for (int i = 0; i < files; ++i) {
            m.files.AddFile(roaming + "\\Support\\f" + std::to_string(i) + ".hpt", "x",
                            Coin(3) ? fa::kReadOnly : 0);
        }
        m.files.AddDirectory(local + "\\Templates");
        if (Coin(4) && !m.files.Exists(roaming + "\\to-windows")) {
            m.files.AddJunction(roaming + "\\to-windows", "C:\\WINDOWS");
        }
    }

    std::mt19937 rng_;
    std::mt19937 shapes_;
    bool wow64_ = false;
    std::set<std::string> installed_;  // product name + locale id of the machine's registrations
    std::vector<std::string> sids_;
};

}  // namespace qv::test
