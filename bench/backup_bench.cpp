// The cost of a clean-up that keeps a backup, by the number of files a list line matches: one
// user's stale registration of Ovaline R16.0 and n files "ovln<i>.log" in his TEMP folder, which a
// line of the built-in list matches. Each is moved into the run's folder and gets its line in the
// manifest, so the work per file must stay the same at every n (a manifest written again whole
// after each action made it grow with n).
//
// Counters:
//   per_file  the time of one clean-up (the scan and the plan before it are not timed) divided by
//             the number of files;
//   files     the files the clean-up kept. A clean-up that kept fewer than n stops the benchmark
//             with an error.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

#include "app/tables.h"
#include "engine/backup/backup.h"
#include "engine/findings.h"
#include "engine/plan.h"
#include "engine/scan.h"
#include "engine/workspace.h"
#include "fake/fake_machine.h"

namespace {

constexpr char kSid[] = "S-1-5-21-7-8-9-1001";

struct Machine {
    explicit Machine(int files) {
        tables.FillBuiltIn();
        m.AddUser({kSid, "ann"});
        const std::string tail = "\\Brennard\\Ovaline 2004\\R16.0\\enu";
        const std::string key =
            m.UserKey(kSid) + "\\Software\\Brennard\\Ovaline\\R16.0\\OVLN-201:409";
        m.registry.SetString(key, "RoamableRootFolder", m.AppData(kSid) + tail);
        m.registry.SetString(key, "LocalRootFolder", m.LocalAppData(kSid) + tail);
        m.files.AddFile(m.AppData(kSid) + tail + "\\Support\\a.hpt", "a");
        const std::string temp = m.LocalSettings(kSid) + "\\Temp\\ovln";
        for (int i = 0; i < files; ++i) m.files.AddFile(temp + std::to_string(i) + ".log", "t");
    }

    qv::fake::FakeMachine m;
    qv::Tables tables;
    qv::HiveBook hives;
};

void BM_CleanListedFilesWithBackup(benchmark::State& state) {
    const int files = static_cast<int>(state.range(0));
    for (auto _ : state) {
        state.PauseTiming();
        auto machine = std::make_unique<Machine>(files);
        qv::Workspace ws{qv::Services{machine->m.platform(), false}, machine->tables, true, 0,
                         &machine->hives};
        qv::Findings findings;
        if (!qv::ScanProducts(ws, {{"Brennard", "Ovaline", "R16.0"}}, &findings,
                              qv::ScanMode::kWriteNothing)) {
            state.SkipWithError("the scan failed");
            break;
        }
        qv::Plan plan = qv::BuildPlan(ws, findings, qv::Select(findings, {}));
        state.ResumeTiming();

        std::unique_ptr<qv::RunBackup> backup;
        if (qv::RunBackup::Begin(ws, nullptr, "bench", "bench", &backup) != qv::err::kSuccess) {
            state.SkipWithError("no backup could be begun");
            break;
        }
        benchmark::DoNotOptimize(
            qv::ApplyPlan(ws, findings, &plan, qv::CleanupRun{nullptr, backup.get()}));
        backup->Finish(true);

        state.PauseTiming();
        int kept = 0;
        for (const qv::Action& a : plan.actions) {
            if (a.kind == qv::ActionKind::kDeleteFile && a.result == qv::ActionResult::kDone &&
                !a.backup.empty()) {
                ++kept;
            }
        }
        if (kept < files || backup->manifestError() != qv::err::kSuccess) {
            state.SkipWithError("the clean-up did not keep every listed file");
            break;
        }
        backup.reset();
        machine.reset();
        state.ResumeTiming();
    }
    state.counters["files"] = files;
    state.counters["per_file"] = benchmark::Counter(
        files, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

BENCHMARK(BM_CleanListedFilesWithBackup)
    ->Arg(1000)
    ->Arg(2000)
    ->Arg(4000)
    ->Unit(benchmark::kMillisecond);

}  // namespace
