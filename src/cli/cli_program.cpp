#include "cli/cli_program.h"

#include <algorithm>
#include <utility>

#include "app/defaults.h"
#include "app/tables.h"
#include "base/text.h"
#include "cli/command_line.h"
#include "cli/report.h"
#include "engine/plan.h"
#include "engine/scan.h"
#include "engine/workspace.h"
#include "res/resource.h"
#include "security/profiles.h"
#include "security/token.h"

namespace qv::cli {
namespace {

// Windows 4.0 and later as the runtime records it: major * 256 + minor.
constexpr std::uint32_t kWindows40 = 0x400;

constexpr char kNoConsole[] =
    "clean: without --yes the plan has to be confirmed at an interactive console; nothing was "
    "changed\n";
constexpr char kNotConfirmed[] = "Nothing was changed.\n";

bool IsWindows9x(ISystem& system) {
    OsVersion version;
    return system.GetVersion(&version) == err::kSuccess &&
           version.major * 256 + version.minor >= kWindows40 &&
           version.platformId == kVerPlatformWin32Windows;
}

void UseBuiltInProducts(Report* report) {
    report->targets = {{kDefaultCompany, kMainProduct, kMainRelease},
                       {kDefaultCompany, kLightProduct, kLightRelease}};
    report->heading = std::string(kMainProduct) + "/" + kLightProduct;
}

// The products to scan: the built-in two, or what a settings file names, read as the dialog reads
// Quorvane.ini (a file without a company leaves the built-in products). False, with the reason,
// when the file cannot be found.
bool ChooseTargets(Platform& os, const std::string& settingsFile, Tables* tables, Report* report,
                   std::string* problem) {
    if (settingsFile.empty()) {
        UseBuiltInProducts(report);
        return true;
    }
    // A bare name would be looked for in the Windows folder: the file is the one the operator
    // names, relative to the current directory.
    std::string path;
    if (os.files.GetFullPathName(settingsFile, kMaxPath, &path) != err::kSuccess) {
        *problem = "--settings: the file name cannot be used: " + settingsFile + "\n";
        return false;
    }
    const std::uint32_t attributes = os.files.GetFileAttributes(path);
    if (attributes == kInvalidFileAttributes || (attributes & fa::kDirectory) != 0) {
        *problem = "--settings: no such file: " + path + "\n";
        return false;
    }
    auto setting = [&](const char* key) {
        return os.system.GetPrivateProfileString(kSettingsSection, key, "", path);
    };
    const std::string company = setting(kSettingsCompany);
    if (company.empty()) {
        UseBuiltInProducts(report);
        return true;
    }
    const std::string visibleName = setting(kSettingsVisibleProductName);
    tables->UseSettingsProduct(visibleName);
    report->targets = {{company, setting(kSettingsProduct), setting(kSettingsVersion)}};
    report->heading = visibleName;
    return true;
}

// Adds one scan's findings to the run's: a registration whose label is listed already gets the
// new users (as the dialog's tree joins them), a profile is listed once and unreadable when any
// scan could not read it.
void MergeFindings(Findings&& from, Findings* into) {
    for (ProfileFinding& profile : from.profiles) {
        auto it = std::find_if(into->profiles.begin(), into->profiles.end(),
                               [&](const ProfileFinding& p) { return p.sid == profile.sid; });
        if (it == into->profiles.end()) {
            into->profiles.push_back(std::move(profile));
        } else if (profile.state == ProfileState::kUnreadable) {
            it->state = ProfileState::kUnreadable;
        }
    }
    for (RegistrationFinding& registration : from.registrations) {
        auto it = std::find_if(
            into->registrations.begin(), into->registrations.end(),
            [&](const RegistrationFinding& r) { return r.label == registration.label; });
        if (it == into->registrations.end()) {
            into->registrations.push_back(std::move(registration));
        } else {
            for (UserFinding& user : registration.users) it->users.push_back(std::move(user));
        }
    }
}

// Scans every target in turn, as the dialog does; false when the registry cannot be read (the
// targets after that are not scanned).
// PENDING(engine plan): the engine's scan that holds leftover folders in memory instead of
// registering them in the users' hives, and that loads each hive once for all targets.
bool ScanTargets(Workspace& ws, const std::vector<ScanTarget>& targets, Findings* findings) {
    for (const ScanTarget& target : targets) {
        Findings found;
        const bool read =
            ScanRegistrations(ws, target.company, target.product, target.release, &found);
        MergeFindings(std::move(found), findings);
        if (!read) return false;
    }
    return true;
}

std::size_t UserCount(const Findings& findings) {
    std::size_t count = 0;
    for (const RegistrationFinding& registration : findings.registrations) {
        count += registration.users.size();
    }
    return count;
}

// Shows the plan on standard error and asks; true only for "y" or "yes" (any case).
bool Confirm(Platform& os, IConsole& console, const Plan& plan) {
    console.WriteText(ConsoleStream::kErr, PlanText(os, plan));
    console.WriteText(ConsoleStream::kErr,
                      os.resources.LoadString(IDS_CONFIRM_DELETE) + " [y/N] ");
    std::string answer;
    if (!console.ReadLine(&answer)) return false;
    const std::size_t first = answer.find_first_not_of(" \t\r");
    const std::size_t last = answer.find_last_not_of(" \t\r");
    if (first == std::string::npos) return false;
    answer = answer.substr(first, last - first + 1);
    return text::EqualsNoCase(answer, "y") || text::EqualsNoCase(answer, "yes");
}

bool EveryActionDone(const Plan& plan) {
    return std::all_of(plan.actions.begin(), plan.actions.end(),
                       [](const Action& action) { return action.result == ActionResult::kDone; });
}

}  // namespace

ExitCode RunCli(Platform& os, IConsole& console, const std::vector<std::string>& args) {
    ParsedCommandLine parsed = ParseCommandLine(args);
    RunOutcome outcome;
    if (parsed.outcome == ParseOutcome::kHelp) {
        console.WriteText(ConsoleStream::kOut, parsed.text);
        return ExitCodeOf(outcome);
    }
    if (parsed.outcome == ParseOutcome::kUsageError) {
        console.WriteText(ConsoleStream::kErr, parsed.text);
        outcome.usageError = true;
        return ExitCodeOf(outcome);
    }
    const Options& options = parsed.options;
    outcome.command = options.command;

    // Windows 95, 98 and Me lack what the tool needs from the NT family (per-user hives, tokens).
    if (IsWindows9x(os.system)) {
        console.WriteText(ConsoleStream::kErr, os.resources.LoadString(IDS_WIN9X_REFUSED) + "\n");
        outcome.systemRefused = true;
        return ExitCodeOf(outcome);
    }
    // Without --yes somebody has to answer; with nobody there, nothing is even scanned.
    if (options.command == Command::kClean && !options.yes && !console.InputIsInteractive()) {
        console.WriteText(ConsoleStream::kErr, kNoConsole);
        outcome.notConfirmed = true;
        return ExitCodeOf(outcome);
    }

    Tables tables;
    tables.FillBuiltIn();
    Report report;
    report.command = options.command;
    std::string problem;
    if (!ChooseTargets(os, options.settingsFile, &tables, &report, &problem)) {
        console.WriteText(ConsoleStream::kErr, problem);
        outcome.usageError = true;
        return ExitCodeOf(outcome);
    }
    // A user who is not an administrator (or whose token is not elevated) sees only his own
    // registry, as in the dialog.
    report.allProfiles = !options.currentUser && IsMemberOfAdministrators(os);

    HiveBook hives;
    Workspace ws{Services{os, false}, tables, report.allProfiles, 0, &hives};
    report.registryRead = ScanTargets(ws, report.targets, &report.findings);
    outcome.registryUnreadable = !report.registryRead;
    outcome.unreadableProfiles = UnreadableProfileCount(report.findings);

    if (options.command == Command::kScan) {
        outcome.selectedUsers = UserCount(report.findings);
    } else if (report.registryRead) {
        report.selection = Select(report.findings, options.selection);
        outcome.selectedUsers = report.selection.size();
        report.plan = BuildPlan(ws, report.findings, report.selection);
        if (options.command == Command::kClean && !report.selection.empty()) {
            if (!options.yes && !Confirm(os, console, report.plan)) {
                console.WriteText(ConsoleStream::kErr, kNotConfirmed);
                outcome.notConfirmed = true;
                return ExitCodeOf(outcome);
            }
            const bool done = ApplyPlan(ws, report.findings, &report.plan);
            report.applied = true;
            outcome.actionFailed = !done || !EveryActionDone(report.plan);
        }
    }

    if (options.json) {
        console.WriteUtf8(ReportJson(os, report));
    } else {
        console.WriteText(ConsoleStream::kOut, ReportText(os, report));
    }
    return ExitCodeOf(outcome);
}

}  // namespace qv::cli
