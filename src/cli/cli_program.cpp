#include "cli/cli_program.h"

#include <algorithm>
#include <functional>
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
#include "engine/backup/backup.h"
#include "engine/backup/restore.h"
#include "engine/plan.h"
#include "engine/removal.h"
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
// Quorvane.ini. False, with the reason, when the file cannot be found or is not used: in an
// elevated run (`elevated`) someone else can change it or its folder, it names no single key for
// company, product or release, or it names no company at all (the operator named the file for its
// product: the built-in ones are never scanned in its place). The file's language goes to
// *language.
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
        // Its language still speaks the refusal.
        if (settings.language) (void)UseUiLanguage(os.resources, settings.language);
        *problem = FormatResource(os.resources, IDS_CLI_SETTINGS_NO_PRODUCT, {path}) + "\n";
        return false;
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
    return FormatResource(os.resources, IDS_AUDIT_LOG_FAILED, {audit.path()}) + " (" +
           std::to_string(audit.firstError()) + ": " + ErrorText(os.system, audit.firstError()) +
           ")";
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
[[nodiscard]] RemovalOutcome ApplyWithAuditLog(Workspace& ws, IConsole& console, AuditLog& audit,
                                               const Findings& findings, Plan* plan, bool backup,
                                               std::string* backupRun) {
    Platform& os = ws.services.os;
    std::unique_ptr<RunBackup> kept;
    RemovalOutcome removal = RemovalOutcome::kFailed;
    Win32Error begun = backup
                           ? RunBackup::Begin(ws, &audit, audit.run(), kAuditProgramConsole, &kept)
                           : err::kSuccess;
    if (begun == err::kSuccess) {
        removal = ApplyPlan(ws, findings, plan, CleanupRun{&audit, kept.get()});
        if (kept != nullptr) {
            kept->Finish(removal == RemovalOutcome::kDone);
            *backupRun = kept->run();
            ReportMovedAside(console, kept->movedAside());
        }
    } else {
        WriteError(os, console, IDS_CLI_NO_BACKUP,
                   {std::to_string(begun), ErrorText(os.system, begun)});
        for (Action& action : plan->actions) {
            action.result = ActionResult::kSkipped;
        }
    }
    if (audit.failed())
        console.WriteText(ConsoleStream::kErr, FormatAuditFailure(os, audit) + "\n");
    return removal;
}

bool EveryActionDone(const Plan& plan) {
    return std::all_of(plan.actions.begin(), plan.actions.end(),
                       [](const Action& action) { return action.result == ActionResult::kDone; });
}

// A --user or --registration value that names nothing: no user the run saw (a profile of the
// machine, a stale user, or in current-user mode the running user) and no stale registration's
// key name. Not an error: a user may simply not exist on this machine.
void FindUnmatched(Platform& os, bool allProfiles, Report* report) {
    std::vector<std::string> users;
    auto know = [&](const std::string& sid) {
        users.push_back(sid);
        std::string account;
        if (IsSidText(sid) && AccountNameFromSidText(os.security, sid, &account)) {
            users.push_back(account);
        }
    };
    for (const ProfileFinding& profile : report->findings.profiles) know(profile.sid);
    if (!allProfiles) know(CurrentUserSidText(os.security));
    std::vector<std::string> keyNames;
    for (const RegistrationFinding& registration : report->findings.registrations) {
        for (const UserFinding& user : registration.users) {
            users.push_back(user.sid);
            users.push_back(user.account);
            keyNames.push_back(text::AfterLastBackslash(user.keyPath));
        }
    }
    auto unmatched = [](const std::vector<std::string>& given,
                        const std::vector<std::string>& known, std::vector<std::string>* out) {
        for (const std::string& name : given) {
            const bool found = std::any_of(known.begin(), known.end(), [&](const std::string& k) {
                return !k.empty() && text::EqualsNoCase(k, name);
            });
            if (!found) out->push_back(name);
        }
    };
    unmatched(report->selection.users, users, &report->unmatchedUsers);
    unmatched(report->selection.registrations, keyNames, &report->unmatchedRegistrations);
}

// The file --output names, made whole at once: the document is written to a new name in the same
// folder, which then replaces the file in one rename, so that a reader finds either the old
// document or the new one, never half of one. The folder is opened as the system resolves the
// operator's path; the rest goes by handle relative to it. 0 or the error.
[[nodiscard]] Win32Error WriteOutputFile(Platform& os, const std::string& file,
                                         std::string_view document) {
    std::string path;
    if (Win32Error e = os.files.GetFullPathName(file, kMaxPath, &path); e != err::kSuccess) {
        return e;
    }
    std::string folder = text::CutBeforeLastBackslash(path);
    const std::string name = text::AfterLastBackslash(path);
    if (name.empty() || folder == path) return err::kInvalidName;
    if (text::Find(folder, '\\') == text::npos) folder += '\\';  // a drive's root: "C:\"
    UniqueFileRef parent(os.handles);
    if (Win32Error e = os.handles.OpenFolder(folder, parent.put()); e != err::kSuccess) return e;
    unsigned char random[8] = {};
    if (Win32Error e = os.system.GenerateRandom(random, sizeof random); e != err::kSuccess) {
        return e;
    }
    const std::string temporary =
        name + "." + text::Hex(std::string_view(reinterpret_cast<const char*>(random), 8)) + ".tmp";
    if (Win32Error e = os.handles.WriteWholeFile(parent.get(), temporary, document);
        e != err::kSuccess) {
        return e;
    }
    UniqueFileRef written(os.handles);
    Win32Error e =
        os.handles.OpenRelative(parent.get(), temporary, open_intent::kDelete, written.put());
    if (e == err::kSuccess) e = os.handles.RenameReplacing(written.get(), parent.get(), name);
    // A document that could not take the file's place is not left beside it.
    if (e != err::kSuccess && written.get() != 0) (void)os.handles.DeleteByHandle(written.get());
    return e;
}

// Writes what the run came to, as the options say: the JSON document to standard output
// (--json), or to the --output file with the text (or, with --json, the summary line alone) on
// standard output, or the text; every text ends with the summary line. `json` makes the
// document once the exit code is known. Gives the exit code, which a file that could not be
// written raises.
ExitCode Finish(Platform& os, IConsole& console, const Options& options, RunOutcome* outcome,
                const std::string& runId, const RunSummary& summary,
                const std::function<std::string(const RunFacts&)>& json, const std::string& text,
                std::string* summaryJson) {
    RunFacts facts;
    if (os.system.GetComputerName(&facts.machine) != err::kSuccess) facts.machine.clear();
    facts.time = os.system.CurrentTime();
    facts.runId = runId;
    facts.exitCode = ExitCodeOf(*outcome);
    if (options.outputFile.empty() && options.json) {
        console.WriteUtf8(json(facts));
        *summaryJson = SummaryJsonText(summary, facts.exitCode);
        return facts.exitCode;
    }
    if (!options.outputFile.empty()) {
        const Win32Error e = WriteOutputFile(os, options.outputFile, json(facts));
        if (e != err::kSuccess) {
            WriteError(os, console, IDS_CLI_OUTPUT_FAILED,
                       {options.outputFile, std::to_string(e), ErrorText(os.system, e)});
            outcome->outputFailed = true;
        }
    }
    const ExitCode code = ExitCodeOf(*outcome);
    console.WriteText(ConsoleStream::kOut,
                      (options.json ? std::string() : text) + SummaryLine(&summary, code));
    *summaryJson = SummaryJsonText(summary, code);
    return code;
}

// A run that stopped before it began: standard output gets the summary line alone, unless it is
// to carry a JSON document only (then nothing: there is no document).
ExitCode Stop(IConsole& console, bool jsonOnStandardOutput, const RunOutcome& outcome) {
    const ExitCode code = ExitCodeOf(outcome);
    if (!jsonOnStandardOutput) console.WriteText(ConsoleStream::kOut, SummaryLine(nullptr, code));
    return code;
}

// backups, restore and purge. A restore or purge is written to `audit`, the run's open log.
ExitCode RunBackupCommand(Workspace& ws, IConsole& console, AuditLog* audit, const Options& options,
                          RunOutcome* outcome, std::string* summaryJson) {
    Platform& os = ws.services.os;
    if (options.command == Command::kBackups) {
        std::vector<KeptRun> runs;
        Win32Error e = ListKeptRuns(ws, &runs);
        MeasureKeptRuns(ws, &runs);
        outcome->actionFailed = e != err::kSuccess;
        const std::string text = e != err::kSuccess ? "backups: " + ErrorText(os.system, e) + "\n"
                                                    : BackupsText(os, runs);
        return Finish(
            os, console, options, outcome, std::string(), SummaryOf(runs),
            [&](const RunFacts& facts) { return BackupsJson(os, runs, facts); }, text, summaryJson);
    }
    RestoreReport restored;
    PurgeReport purged;
    if (options.command == Command::kRestore) {
        restored = RestoreRun(ws, options.run, options.selection.users, audit);
        // A place taken again is reported and left: the run is not whole again.
        outcome->actionFailed = restored.anyFailed() || restored.anyTaken();
    } else {
        purged = PurgeKeptRuns(ws, options.olderThanDays, audit);
        outcome->actionFailed = purged.error != err::kSuccess || !purged.failed.empty();
    }
    if (audit->failed()) {
        console.WriteText(ConsoleStream::kErr, FormatAuditFailure(os, *audit) + "\n");
    }
    if (options.command == Command::kRestore) {
        return Finish(
            os, console, options, outcome, audit->run(), SummaryOf(restored),
            [&](const RunFacts& facts) { return RestoreJson(os, restored, facts); },
            RestoreText(os, restored), summaryJson);
    }
    return Finish(
        os, console, options, outcome, audit->run(), SummaryOf(purged),
        [&](const RunFacts& facts) { return PurgeJson(os, purged, facts); }, PurgeText(os, purged),
        summaryJson);
}

bool ChangesMachine(Command command) {
    return command == Command::kClean || command == Command::kRestore || command == Command::kPurge;
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
    console.WriteText(ConsoleStream::kErr, os.resources.LoadString(IDS_MACHINE_LOCK_FAILED) + "(" +
                                               std::to_string(error) + ": " +
                                               ErrorText(os.system, error) + ")\n");
    outcome->lockFailed = true;
    return false;
}

// The run of a parsed command line. `audit` is the run's open audit log for a command that
// changes the machine (ChangesMachine), else null; `summaryJson` gets the document's summary when
// the run came that far.
ExitCode RunParsed(Platform& os, IConsole& console, ParsedCommandLine parsed, AuditLog* audit,
                   std::string* summaryJson) {
    RunOutcome outcome;
    if (parsed.outcome == ParseOutcome::kHelp || parsed.outcome == ParseOutcome::kVersion) {
        console.WriteText(ConsoleStream::kOut, parsed.text);
        return ExitCodeOf(outcome);
    }
    if (parsed.outcome == ParseOutcome::kUsageError) {
        if (parsed.messageId != 0) {
            // One of the program's own: in the language --lang chose when it could be read.
            (void)UseUiLanguage(os.resources, parsed.options.language);
            parsed.text =
                FormatResource(os.resources, parsed.messageId, {parsed.messageArgument}) + "\n";
        }
        console.WriteText(ConsoleStream::kErr, parsed.text);
        outcome.usageError = true;
        return Stop(console, parsed.jsonOnStandardOutput, outcome);
    }
    const Options& options = parsed.options;
    const bool jsonOnly = parsed.jsonOnStandardOutput;
    outcome.command = options.command;
    // --lang, or the language of the user's interface until the settings file chooses one.
    (void)UseUiLanguage(os.resources, options.language);

    // Windows 95, 98 and Me lack what the tool needs from the NT family (per-user hives, tokens).
    if (IsWindows9x(os.system)) {
        console.WriteText(ConsoleStream::kErr, os.resources.LoadString(IDS_WIN9X_REFUSED) + "\n");
        outcome.systemRefused = true;
        return Stop(console, jsonOnly, outcome);
    }
    // Without --yes somebody has to answer; with nobody there, nothing is even scanned.
    if (options.command == Command::kClean && !options.yes && !console.InputIsInteractive()) {
        WriteError(os, console, IDS_CLI_NO_CONSOLE);
        outcome.notConfirmed = true;
        return Stop(console, jsonOnly, outcome);
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
        return Stop(console, jsonOnly, outcome);
    }
    if (!options.language && settingsLanguage) (void)UseUiLanguage(os.resources, settingsLanguage);
    // A user who is not an administrator (or whose token is not elevated) sees only his own
    // registry, as in the dialog.
    report.allProfiles = !options.currentUser && elevated;
    // Held to the end of the run, the confirmation included: what it shows stays true.
    UniqueMachineLock machineLock(os.system);
    if (NeedsMachineLock(options.command, elevated, report.allProfiles) &&
        !HoldMachine(os, console, options, &machineLock, &outcome)) {
        return Stop(console, jsonOnly, outcome);
    }

    HiveBook hives;
    Workspace ws{Services{os, false}, tables, report.allProfiles, 0, &hives};
    if (options.command == Command::kBackups || options.command == Command::kRestore ||
        options.command == Command::kPurge) {
        return RunBackupCommand(ws, console, audit, options, &outcome, summaryJson);
    }
    report.registryRead = ScanInDialogOrder(ws, report.products, &report.findings);
    outcome.registryUnreadable = !report.registryRead;
    outcome.unreadableProfiles = UnreadableProfileCount(report.findings);

    // A run that may change something has its audit log's run id, whatever it comes to.
    const std::string runId = audit != nullptr ? audit->run() : std::string();
    if (options.command == Command::kScan) {
        outcome.selectedUsers = UserCount(report.findings);
    } else if (report.registryRead) {
        report.selection = options.selection;
        FindUnmatched(os, report.allProfiles, &report);
        for (const std::string& user : report.unmatchedUsers) {
            WriteError(os, console, IDS_CLI_UNMATCHED_USER, {user});
        }
        for (const std::string& key : report.unmatchedRegistrations) {
            WriteError(os, console, IDS_CLI_UNMATCHED_REGISTRATION, {key});
        }
        report.plan = BuildPlan(ws, report.findings, Select(report.findings, options.selection));
        outcome.selectedUsers = report.plan.selection.size();
        if (options.command == Command::kClean && !report.plan.selection.empty()) {
            if (!options.yes && !Confirm(os, console, report.plan)) {
                WriteError(os, console, IDS_CLI_NOT_CONFIRMED);
                outcome.notConfirmed = true;
                return Stop(console, jsonOnly, outcome);
            }
            const RemovalOutcome removal =
                ApplyWithAuditLog(ws, console, *audit, report.findings, &report.plan,
                                  !options.noBackup, &report.backupRun);
            report.applied = true;
            outcome.actionFailed =
                removal != RemovalOutcome::kDone || !EveryActionDone(report.plan);
        }
    } else {
        report.selection = options.selection;
    }
    return Finish(
        os, console, options, &outcome, runId, SummaryOf(report),
        [&](const RunFacts& facts) { return ReportJson(os, report, facts); },
        ReportText(os, report), summaryJson);
}

}  // namespace

// A run that changes or could change something (clean, restore, purge) is framed in the audit log
// by its run-start and run-end lines from before its settings are read to its exit code, also when
// it stops before acting or unwinds from an exception (exit code 4).
ExitCode RunCli(Platform& os, IConsole& console, const std::vector<std::string>& args) {
    ParsedCommandLine parsed = ParseCommandLine(args);
    const Command command = parsed.options.command;
    std::string summaryJson;
    if (parsed.outcome != ParseOutcome::kRun || !ChangesMachine(command) ||
        IsWindows9x(os.system)) {
        return RunParsed(os, console, std::move(parsed), nullptr, &summaryJson);
    }
    const bool admin = !parsed.options.currentUser && IsMemberOfAdministrators(os);
    Tables tables;
    HiveBook hives;
    Workspace ws{Services{os, false}, tables, admin, 0, &hives};
    AuditLog audit(os, kAuditProgramConsole);
    std::vector<MovedAside> moved;
    (void)OpenRunAuditLog(ws, audit, &moved);  // a failure is kept, and each line tries again
    ReportMovedAside(console, moved);
    RunRecord record(audit, {CommandName(command), admin ? "all-profiles" : "current-user", &args});
    const ExitCode code = RunParsed(os, console, std::move(parsed), &audit, &summaryJson);
    record.Finish(static_cast<int>(code), summaryJson);
    return code;
}

ExitCode ReportInternalError(Platform& os, IConsole& console, const std::vector<std::string>& args,
                             std::string_view what) noexcept {
    RunOutcome outcome;
    outcome.internalError = true;
    try {
        WriteError(os, console, IDS_CLI_INTERNAL_ERROR, {what});
        return Stop(console, ParseCommandLine(args).jsonOnStandardOutput, outcome);
    } catch (...) {
        // Nothing more can be said; the code still tells.
        return ExitCodeOf(outcome);
    }
}

}  // namespace qv::cli
