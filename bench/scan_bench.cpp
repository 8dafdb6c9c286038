// The cost of the console scan on the fake machine: an administrator's scan of both products
// (Ovaline R16.0 and Ovaline Sketch R9) over every profile, writing nothing. No user is logged
// on, so every hive is a file that the scan loads once for both products and unloads again. Each
// hive holds five registrations of each product that the machine has in a newer form: every one
// is stale, walks its own and the machine's key tree and becomes a finding with its evidence.
//
// Counters:
//   per_profile             the time of one scan divided by the number of profiles;
//   hive_loads_per_profile  the hive loads of one scan (the fake registry's load log) divided by
//                           the number of profiles: exactly 1, one load per user for both
//                           products. A scan that loads a hive more or less often than once per
//                           profile stops the benchmark with an error.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/tables.h"
#include "bench_machine.h"
#include "engine/findings.h"
#include "engine/scan.h"
#include "engine/workspace.h"
#include "fake/fake_machine.h"

namespace {

// Five languages of each product, each with a label of its own.
const std::vector<qv::bench::BenchProduct> kProducts = {
    {"Software\\Brennard\\Ovaline\\R16.0", "OVLN-201:", {"409", "407", "40C", "40A", "415"}},
    {"Software\\Brennard\\Ovaline Sketch\\R9", "OVSK-201:", {"411", "409", "407", "40C", "416"}},
};
constexpr std::size_t kRegistrations = 10;

const std::vector<qv::ProductScope> kScopes = {{"Brennard", "Ovaline", "R16.0"},
                                               {"Brennard", "Ovaline Sketch", "R9"}};

struct Machine {
    explicit Machine(int profiles) : services{m.platform(), false} {
        tables.FillBuiltIn();
        qv::bench::AddStaleRegistrations(m, kProducts, profiles, false);
    }

    qv::fake::FakeMachine m;
    qv::Services services;
    qv::Tables tables;
};

// Whether one scan found what the machine holds: every profile loaded here, ten registrations,
// each with one user per profile.
bool Complete(const qv::Findings& findings, int profiles) {
    if (findings.profiles.size() != static_cast<std::size_t>(profiles) ||
        findings.registrations.size() != kRegistrations) {
        return false;
    }
    for (const qv::ProfileFinding& profile : findings.profiles) {
        if (profile.state != qv::ProfileState::kLoaded) return false;
    }
    for (const qv::RegistrationFinding& registration : findings.registrations) {
        if (registration.users.size() != static_cast<std::size_t>(profiles)) return false;
    }
    return true;
}

void BM_ConsoleScan(benchmark::State& state) {
    const int profiles = static_cast<int>(state.range(0));
    auto machine = std::make_unique<Machine>(profiles);
    qv::Workspace ws{machine->services, machine->tables, true, 0};
    const auto& loads = machine->m.registry.Log(qv::fake::RegOp::kLoad);

    {
        qv::Findings findings;
        if (!qv::ScanProducts(ws, kScopes, &findings, qv::ScanMode::kWriteNothing) ||
            !Complete(findings, profiles)) {
            state.SkipWithError("the scan did not find every registration of every profile");
            return;
        }
    }

    std::size_t totalLoads = 0;
    for (auto _ : state) {
        const std::size_t before = loads.size();
        qv::Findings findings;
        benchmark::DoNotOptimize(
            qv::ScanProducts(ws, kScopes, &findings, qv::ScanMode::kWriteNothing));
        const std::size_t scanLoads = loads.size() - before;
        totalLoads += scanLoads;
        if (scanLoads != static_cast<std::size_t>(profiles)) {
            state.SkipWithError("a scan loaded the hives more or less often than once per profile");
            break;
        }
    }
    state.counters["profiles"] = profiles;
    state.counters["per_profile"] = benchmark::Counter(
        profiles, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    if (state.iterations() > 0) {
        state.counters["hive_loads_per_profile"] =
            static_cast<double>(totalLoads) /
            (static_cast<double>(state.iterations()) * static_cast<double>(profiles));
    }
}

BENCHMARK(BM_ConsoleScan)->Arg(10)->Arg(100)->Arg(1000)->Unit(benchmark::kMillisecond);

}  // namespace
