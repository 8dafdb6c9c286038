// The benchmarks' machine: profiles whose every registration the machine holds in a newer form,
// so that each one is stale, walks both its own and the machine's key tree and is listed.
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "fake/fake_machine.h"

namespace qv::bench {

// One product's registrations: its release key below Software, the key names' prefix and one
// registration per language.
struct BenchProduct {
    const char* release;
    const char* keyPrefix;
    std::vector<const char*> locales;
};

inline constexpr std::int64_t kUserTime = 1'700'000'000;        // when the users registered
inline constexpr std::int64_t kMachineTime = kUserTime + 3600;  // the machine's newer registration

inline std::string Sid(int i) { return "S-1-5-21-7-8-9-" + std::to_string(1000 + i); }

// Adds the machine's registrations and `profiles` users ("user0000", ...) who hold every one of
// them; a user who is not logged on has his hive in a file.
inline void AddStaleRegistrations(fake::FakeMachine& m, const std::vector<BenchProduct>& products,
                                  int profiles, bool loggedOn) {
    for (const BenchProduct& product : products) {
        for (const char* lcid : product.locales) {
            const std::string key =
                std::string("HKLM\\") + product.release + "\\" + product.keyPrefix + lcid;
            m.registry.SetString(key + "\\Settings", "Style", "standard");
            m.registry.SetTreeTime(key, kMachineTime);
        }
    }
    for (int i = 0; i < profiles; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "user%04d", i);
        m.AddUser({Sid(i), name, "BENCH", {}, loggedOn, true});
        for (const BenchProduct& product : products) {
            const std::string release = m.UserKey(Sid(i)) + "\\" + product.release;
            for (const char* lcid : product.locales) {
                const std::string key = release + "\\" + product.keyPrefix + lcid;
                m.registry.SetString(key, "RoamableRootFolder", m.AppData(Sid(i)));
                m.registry.SetString(key, "LocalRootFolder", m.LocalAppData(Sid(i)));
                m.registry.SetString(key + "\\Settings", "Style", "standard");
            }
            m.registry.SetTreeTime(release, kUserTime);
        }
    }
}

}  // namespace qv::bench
