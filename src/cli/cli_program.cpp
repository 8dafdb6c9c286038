#include "cli/cli_program.h"

#include <algorithm>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string_view>
#include <utility>

#include "app/defaults.h"
#include "app/messages.h"
#include "app/settings.h"
#include "app/tables.h"
#include "base/text.h"
#include "cli/command_line.h"
#include "cli/report.h"
#include "engine/backup.h"
#include "engine/plan.h"
#include "engine/removal.h"
#include "engine/restore.h"
#include "engine/scan.h"
#include "engine/workspace.h"
#include "res/resource.h"
#include "security/audit_log.h"
#include "security/machine_lock.h"
#include "security/profiles.h"
#include "security/sid_text.h"
#include "security/token.h"

namespace qv::cli {
namespace {

// Windows 4.0 and later as the runtime records it: major * 256 + minor.
constexpr std::uint32_t kWindows40 = 0x400;

bool IsWindows9x(ISystem& system) {
    OsVersion version;
    return system.GetVersion(&version) == err::kSuccess &&
           version.major * 256 + version.minor >= kWindows40 &&
           version.platformId == kVerPlatformWin32Windows;
}

void UseBuiltInProducts(Report* report) {
    report->products = {{kDefaultCompany, kMainProduct, kMainRelease},
                        {kDefaultCompany, kLightProduct, kLightRelease}};
    report->heading = std::string(kMainProduct) + "/" + kLightProduct;
}

// A resource text on a line of its own on standard error.
void WriteError(Platform& os, IConsole& console, std::uint32_t id,
                std::initializer_list<std::string_view> arguments = {}) {
    console.WriteText(ConsoleStream::kErr, FormatResource(os.resources, id, arguments) + "\n");
}

// The products to scan: the built-in two, or what a settings file names, read as the dialog reads
// Quorvane.ini (a file without a company leaves the built-in products). False, with the reason,
// when the file cannot be found or is not used: in an elevated run (`elevated`) someone else can
// change it or its folder, or it names no single key for company, product or release. The file's
// language goes to *language.
bool ChooseProducts(Platform& os, const std::string& settingsFile, bool elevated, Tables* tables,
                    Report* report, std::optional<UiLanguage>* language, std::string* problem) {
    if (settingsFile.empty()) {
        UseBuiltInProducts(report);
        return true;
    }
    // A bare name would be looked for in the Windows folder: the file is the one the operator
    // names, relative to the current directory.
    std::string path;
    if (os.files.GetFullPathName(settingsFile, kMaxPath, &path) != err::kSuccess) {
        *problem = FormatResource(os.resources, IDS_CLI_SETTINGS_BAD_NAME, {settingsFile}) + "\n";
        return false;
    }
    const std::uint32_t attributes = os.files.GetFileAttributes(path);
    if (attributes == kInvalidFileAttributes || (attributes & fa::kDirectory) != 0) {
        *problem = FormatResource(os.resources, IDS_CLI_SETTINGS_MISSING, {path}) + "\n";
        return false;
    }
    Settings settings;
    switch (ReadSettings(os, path, elevated, &settings)) {
        case SettingsVerdict::kWriters:
            *problem = FormatResource(os.resources, IDS_CLI_SETTINGS_WRITERS, {path}) + "\n";
            return false;
        case SettingsVerdict::kNames:
            *problem = FormatResource(os.resources, IDS_CLI_SETTINGS_NAMES,
                                      {path, std::to_string(kMaxSettingsNameChars)}) +
                       "\n";
            return false;
        case SettingsVerdict::kNone:
        case SettingsVerdict::kUsed:
            break;
    }
    *language = settings.language;
    if (settings.company.empty()) {
        UseBuiltInProducts(report);
        return true;
    }
    tables->UseSettingsProduct(settings.visibleProductName);
    report->products = {{settings.company, settings.product, settings.version}};
    report->heading = settings.visibleProductName;
    return true;
}

// Scans every product with each hive made available once, writing nothing: leftover folders are
// held in the findings. The registrations are then listed as the dialog lists them, which scans
// one product after the other: by product, and within one in the order the scan met them. False
// when the registry cannot be read.
bool ScanInDialogOrder(Workspace& ws, const std::vector<ProductScope>& products,
                       Findings* findings) {
    const bool read = ScanProducts(ws, products, findings, ScanMode::kWriteNothing);
    auto rank = [&](const RegistrationFinding& registration) {
        std::size_t index = 0;
        while (index < products.size() && products[index].product != registration.product) {
            ++index;
        }
        return index;
    };
    std::stable_sort(findings->registrations.begin(), findings->registrations.end(),
                     [&](const RegistrationFinding& a, const RegistrationFinding& b) {
                         return rank(a) < rank(b);
                     });
    return read;
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
    console.WriteText(ConsoleStream::kErr, os.resources.LoadString(IDS_CONFIRM_DELETE) + " [y/N] ");
    std::string answer;
    if (!console.ReadLine(&answer)) return false;
    const std::size_t first = answer.find_first_not_of(" \t\r");
    const std::size_t last = answer.find_last_not_of(" \t\r");
    if (first == std::string::npos) return false;
    answer = answer.substr(first, last - first + 1);
    return text::EqualsNoCase(answer, "y") || text::EqualsNoCase(answer, "yes");
}

// The dialog's text for an audit log that cannot be written, with the log's path and the error.
std::string FormatAuditFailure(Platform& os, const AuditLog& audit) {
    std::string text = os.resources.LoadString(IDS_AUDIT_LOG_FAILED);
    const std::size_t at = text::FindText(text, "%s");
    if (at != text::npos) text.replace(at, 2, audit.path());
    std::string reason = SystemErrorText(os.system, audit.firstError());
    while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r')) {
        reason.pop_back();
    }
    return text + " (" + std::to_string(audit.firstError()) + ": " + reason + ")";
}

// Tells of each of the tool's folders moved aside, on standard error.
void ReportMovedAside(IConsole& console, const std::vector<MovedAside>& moved) {
    for (const MovedAside& m : moved) console.WriteText(ConsoleStream::kErr, MovedAsideText(m));
}

// Carries the plan out; the engine writes each action to the audit log as it is taken. A log that
// cannot be written is reported on standard error, with the dialog's text and the error; it never
// stops the clean-up. A folder of the tool's moved aside is reported there too. Unless `backup` is
// off, what the clean-up removes is kept for a restore; a backup that cannot be started keeps
// anything from being removed.
[[nodiscard]] RemovalOutcome ApplyWithAuditLog(Workspace& ws, IConsole& console,
                                               const Findings& findings, Plan* plan, bool backup,
                                               std::string* backupRun) {
    Platform& os = ws.services.os;
    AuditLog audit(os, kAuditProgramConsole);
    std::vector<MovedAside> moved;
    (void)OpenRunAuditLog(ws, audit, &moved);  // a failure is kept, and each line tries again
    ReportMovedAside(console, moved);
    ws.audit = &audit;
    std::unique_ptr<RunBackup> kept;
    RemovalOutcome removal = RemovalOutcome::kFailed;
    Win32Error begun =
        backup ? RunBackup::Begin(ws, audit.run(), kAuditProgramConsole, &kept) : err::kSuccess;
    if (begun == err::kSuccess) {
        ws.backup = kept.get();
        removal = ApplyPlan(ws, findings, plan);
        ws.backup = nullptr;
        if (kept != nullptr) {
            kept->Finish(removal == RemovalOutcome::kDone);
            *backupRun = kept->run();
            ReportMovedAside(console, kept->movedAside());
        }
    } else {
        std::string reason = SystemErrorText(os.system, begun);
        while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r')) {
            reason.pop_back();
        }
        WriteError(os, console, IDS_CLI_NO_BACKUP, {std::to_string(begun), reason});
        for (Action& action : plan->actions) {
            action.result = ActionResult::kSkipped;
        }
    }
    ws.audit = nullptr;
    if (audit.failed())
        console.WriteText(ConsoleStream::kErr, FormatAuditFailure(os, audit) + "\n");
    return removal;
}

bool EveryActionDone(const Plan& plan) {
    return std::all_of(plan.actions.begin(), plan.actions.end(),
                       [](const Action& action) { return action.result == ActionResult::kDone; });
}

// backups, restore and purge. A restore or purge is written to the audit log.
ExitCode RunBackupCommand(Workspace& ws, IConsole& console, const Options& options,
                          RunOutcome* outcome) {
    Platform& os = ws.services.os;
    std::string json;
    std::string text;
    if (options.command == Command::kBackups) {
        std::vector<KeptRun> runs;
        Win32Error e = ListKeptRuns(ws, &runs);
        MeasureKeptRuns(ws, &runs);
        outcome->actionFailed = e != err::kSuccess;
        json = BackupsJson(os, runs);
        text = e != err::kSuccess ? "backups: " + SystemErrorText(os.system, e)
                                  : BackupsText(os, runs);
    } else {
        AuditLog audit(os, kAuditProgramConsole);
        std::vector<MovedAside> moved;
        (void)OpenRunAuditLog(ws, audit, &moved);  // a failure is kept, and each line tries again
        ReportMovedAside(console, moved);
        ws.audit = &audit;
        if (options.command == Command::kRestore) {
            RestoreReport report = RestoreRun(ws, options.run, options.selection.users);
            // A place taken again is reported and left: the run is not whole again.
            outcome->actionFailed = report.anyFailed() || report.anyTaken();
            json = RestoreJson(os, report);
            text = RestoreText(os, report);
        } else {
            PurgeReport report = PurgeKeptRuns(ws, options.olderThanDays);
            outcome->actionFailed = report.error != err::kSuccess || !report.failed.empty();
            json = PurgeJson(os, report);
            text = PurgeText(os, report);
        }
        ws.audit = nullptr;
        if (audit.failed()) {
            console.WriteText(ConsoleStream::kErr, FormatAuditFailure(os, audit) + "\n");
        }
    }
    if (options.json) {
        console.WriteUtf8(json);
    } else {
        console.WriteText(ConsoleStream::kOut, text);
    }
    return ExitCodeOf(*outcome);
}

// Whether the run needs the machine's run lock: an administrator's run that may change something,
// or that loads other users' hives (a scan or plan of every profile). Listing the backups does
// neither; a user who is not an administrator cannot hold the lock and works on his own registry
// and profile only, which every other run uses in place.
bool NeedsMachineLock(Command command, bool elevated, bool allProfiles) {
    switch (command) {
        case Command::kScan:
        case Command::kPlan:
            return allProfiles;
        case Command::kClean:
        case Command::kRestore:
        case Command::kPurge:
            return elevated;
        case Command::kBackups:
            break;
    }
    return false;
}

// Takes the machine's run lock into *lock, waiting up to --wait. False, told on standard error and
// noted in *outcome, when another run still holds it or it cannot be had: nothing is done then.
bool HoldMachine(Platform& os, IConsole& console, const Options& options, UniqueMachineLock* lock,
                 RunOutcome* outcome) {
    Win32Error error = err::kSuccess;
    switch (
        os.system.AcquireMachineLock(MachineLockWaitMs(options.waitSeconds), lock->put(), &error)) {
        case MachineLockOutcome::kAcquired:
            return true;
        case MachineLockOutcome::kBusy:
            WriteError(os, console, IDS_CLI_BUSY);
            outcome->busy = true;
            return false;
        case MachineLockOutcome::kFailed:
            break;
    }
    std::string reason = SystemErrorText(os.system, error);
    while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r')) reason.pop_back();
    console.WriteText(ConsoleStream::kErr, os.resources.LoadString(IDS_MACHINE_LOCK_FAILED) + "(" +
                                               std::to_string(error) + ": " + reason + ")\n");
    outcome->lockFailed = true;
    return false;
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
        if (parsed.messageId != 0) {
            // One of the program's own: in the language --lang chose when it could be read.
            (void)UseUiLanguage(os.resources, parsed.options.language);
            parsed.text = os.resources.LoadString(parsed.messageId) + "\n";
        }
        console.WriteText(ConsoleStream::kErr, parsed.text);
        outcome.usageError = true;
        return ExitCodeOf(outcome);
    }
    const Options& options = parsed.options;
    outcome.command = options.command;
    // --lang, or the language of the user's interface until the settings file chooses one.
    (void)UseUiLanguage(os.resources, options.language);

    // Windows 95, 98 and Me lack what the tool needs from the NT family (per-user hives, tokens).
    if (IsWindows9x(os.system)) {
        console.WriteText(ConsoleStream::kErr, os.resources.LoadString(IDS_WIN9X_REFUSED) + "\n");
        outcome.systemRefused = true;
        return ExitCodeOf(outcome);
    }
    // Without --yes somebody has to answer; with nobody there, nothing is even scanned.
    if (options.command == Command::kClean && !options.yes && !console.InputIsInteractive()) {
        WriteError(os, console, IDS_CLI_NO_CONSOLE);
        outcome.notConfirmed = true;
        return ExitCodeOf(outcome);
    }

    Tables tables;
    tables.FillBuiltIn();
    Report report;
    report.command = options.command;
    std::string problem;
    const bool elevated = IsMemberOfAdministrators(os);
    std::optional<UiLanguage> settingsLanguage;
    if (!ChooseProducts(os, options.settingsFile, elevated, &tables, &report, &settingsLanguage,
                        &problem)) {
        console.WriteText(ConsoleStream::kErr, problem);
        outcome.usageError = true;
        return ExitCodeOf(outcome);
    }
    if (!options.language && settingsLanguage) (void)UseUiLanguage(os.resources, settingsLanguage);
    // A user who is not an administrator (or whose token is not elevated) sees only his own
    // registry, as in the dialog.
    report.allProfiles = !options.currentUser && elevated;
    // Held to the end of the run, the confirmation included: what it shows stays true.
    UniqueMachineLock machineLock(os.system);
    if (NeedsMachineLock(options.command, elevated, report.allProfiles) &&
        !HoldMachine(os, console, options, &machineLock, &outcome)) {
        return ExitCodeOf(outcome);
    }

    HiveBook hives;
    Workspace ws{Services{os, false}, tables, report.allProfiles, 0, &hives};
    if (options.command == Command::kBackups || options.command == Command::kRestore ||
        options.command == Command::kPurge) {
        return RunBackupCommand(ws, console, options, &outcome);
    }
    report.registryRead = ScanInDialogOrder(ws, report.products, &report.findings);
    outcome.registryUnreadable = !report.registryRead;
    outcome.unreadableProfiles = UnreadableProfileCount(report.findings);

    if (options.command == Command::kScan) {
        outcome.selectedUsers = UserCount(report.findings);
    } else if (report.registryRead) {
        report.plan = BuildPlan(ws, report.findings, Select(report.findings, options.selection));
        outcome.selectedUsers = report.plan.selection.size();
        if (options.command == Command::kClean && !report.plan.selection.empty()) {
            if (!options.yes && !Confirm(os, console, report.plan)) {
                WriteError(os, console, IDS_CLI_NOT_CONFIRMED);
                outcome.notConfirmed = true;
                return ExitCodeOf(outcome);
            }
            const RemovalOutcome removal = ApplyWithAuditLog(
                ws, console, report.findings, &report.plan, !options.noBackup, &report.backupRun);
            report.applied = true;
            outcome.actionFailed =
                removal != RemovalOutcome::kDone || !EveryActionDone(report.plan);
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
