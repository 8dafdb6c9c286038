// A random machine for the engine's property tests: users (logged on or not), machine and user
// registrations of both products in three languages, most of them stale, with product folders
// (some named by hostile values), leftover folders without a key, files of the built-in file
// list, read-only files and junctions.
#pragma once
#include <map>
#include <random>
#include <string>
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
    explicit RandomMachine(unsigned seed) : rng_(seed) {
        tables.FillBuiltIn();
        m.files.AddFile("C:\\WINDOWS\\system.ini", "keep");
        m.files.AddFile("C:\\WINDOWS\\Brennard\\WebService\\ovlws1.log", "keep");
        const int users = 1 + Pick(3);
        for (int u = 0; u < users; ++u) {
            std::string sid = "S-1-5-21-9-9-9-" + std::to_string(1001 + u);
            m.AddUser({sid, "u" + std::to_string(u), "QVTEST", {}, Coin(2)});
            sids_.push_back(sid);
        }
        for (const Product& p : kProducts) {
            for (const Language& l : kLanguages) {
                if (Coin(2)) m.registry.CreateKey(Key("HKLM", p, l)), Stamp(Key("HKLM", p, l), kT);
            }
        }
        for (const std::string& sid : sids_) AddUserData(sid);
    }

    fake::FakeMachine m;
    Tables tables;

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

    static std::string Key(const std::string& root, const Product& p, const Language& l) {
        return root + "\\Software\\Brennard\\" + p.name + "\\" + p.release + "\\" + p.code +
               "-201:" + l.lcid;
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
                    Stamp(key, kT - 3600 * Pick(3));
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
    std::vector<std::string> sids_;
};

}  // namespace qv::test
