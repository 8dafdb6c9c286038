// The cost of one refresh of the tree: an administrator's population over every
// profile of the machine, on the fake machine. Each profile's hive is a file
// that the population loads, scans and unloads; each holds ten registrations
// that the machine has in a newer form, so every one is stale, walks both its
// own and the machine's key tree, and becomes a user item.
//
// The counter "per_profile" is the time of one refresh divided by the number of
// profiles. The work per profile is the same whatever the number of profiles
// (ten registrations, ten labels to search), so it should stay flat from 10 to
// 1,000 profiles; growth points at a scan that is quadratic in the number of
// profiles.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

#include "app/tables.h"
#include "bench_machine.h"
#include "engine/workspace.h"
#include "fake/fake_machine.h"
#include "fake/fake_ui.h"
#include "ui/population.h"
#include "ui/user_data_tree.h"

namespace {

constexpr int kRegistrationsPerProfile = 10;
// Ten languages of the built-in tables, so each registration gets a label of
// its own.
const std::vector<qv::bench::BenchProduct> kProducts = {
    {"Software\\Brennard\\Ovaline\\R16.0",
     "OVLN-201:",
     {"409", "407", "40C", "40A", "415", "40E", "405", "419", "816", "416"}},
};

struct Machine {
    Machine(int profiles, bool loggedOn) : services{m.platform(), false} {
        tables.FillBuiltIn();
        qv::bench::AddStaleRegistrations(m, kProducts, profiles, loggedOn);
    }

    qv::fake::FakeMachine m;
    qv::Services services;
    qv::Tables tables;
    qv::fake::FakeTree control;
    qv::UserDataTree tree{control};
};

void RefreshAllProfiles(benchmark::State& state, bool loggedOn) {
    const int profiles = static_cast<int>(state.range(0));
    auto machine = std::make_unique<Machine>(profiles, loggedOn);
    qv::Workspace ws{machine->services, machine->tables, true, 0};

    // What one refresh must produce: ten registration items with one user item
    // per profile.
    const bool read = qv::PopulateTree(ws, machine->tree, "Brennard", "Ovaline", "R16.0");
    const std::size_t expectedItems = static_cast<std::size_t>(kRegistrationsPerProfile) *
                                      (static_cast<std::size_t>(profiles) + 1);
    if (!read || machine->control.ItemCount() != expectedItems ||
        machine->control.TopLevelItems().size() != kRegistrationsPerProfile) {
        state.SkipWithError("the refresh did not list every registration of every profile");
        return;
    }
    machine->tree.Clear();

    for (auto _ : state) {
        benchmark::DoNotOptimize(
            qv::PopulateTree(ws, machine->tree, "Brennard", "Ovaline", "R16.0"));
        state.PauseTiming();
        machine->tree.Clear();
        state.ResumeTiming();
    }
    state.counters["profiles"] = profiles;
    state.counters["per_profile"] = benchmark::Counter(
        profiles, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// Users who are not logged on: the refresh loads and unloads every hive.
void BM_RefreshAllProfiles(benchmark::State& state) { RefreshAllProfiles(state, false); }
// Every user logged on: the hives are read in place, which leaves out the hive
// loading.
void BM_RefreshLoggedOnProfiles(benchmark::State& state) { RefreshAllProfiles(state, true); }

BENCHMARK(BM_RefreshAllProfiles)->Arg(10)->Arg(100)->Arg(1000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RefreshLoggedOnProfiles)->Arg(10)->Arg(100)->Arg(1000)->Unit(benchmark::kMillisecond);

}  // namespace
