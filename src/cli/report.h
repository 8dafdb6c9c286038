// What the console program shows of a run: the JSON document (UTF-8) and the text (ANSI code
// page, with the dialog's texts from the string table where they apply).
#pragma once
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "cli/command_line.h"
#include "cli/exit_code.h"
#include "engine/backup/restore.h"
#include "engine/findings.h"
#include "engine/plan.h"
#include "engine/scan.h"
#include "port/platform.h"

namespace qv::cli {

struct Report {
    Command command = Command::kScan;
    bool allProfiles = true;  // false: the running user's registry only
    std::vector<ProductScope> products;
    std::string heading;  // what the dialog's heading names: the products, or the settings' name
    bool registryRead = true;  // false: the profile list or HKEY_CURRENT_USER could not be read
    Findings findings;
    // plan and clean: the plan of the users' registrations selected (Plan::selection).
    Plan plan;
    bool applied = false;   // clean: the plan was carried out (each action has its result)
    std::string backupRun;  // clean: the run id of the backup kept; empty without one
    // plan and clean: the --user and --registration values given (ANSI), and those of them that
    // matched no user of the machine and no stale registration.
    Selection selection;
    std::vector<std::string> unmatchedUsers;
    std::vector<std::string> unmatchedRegistrations;
};

// What every document says of the run besides its findings.
struct RunFacts {
    std::string machine;    // the computer's name (ANSI); empty when it cannot be read
    std::int64_t time = 0;  // when the run ended, seconds since 1970 UTC
    std::string runId;      // the audit log's run id; empty when the run opened no audit log
    ExitCode exitCode = ExitCode::kNothingToDo;
};

// The counts of a run, for its document's "summary" and the summary line.
struct RunSummary {
    Command command = Command::kScan;
    // Profiles by state (scan, plan, clean).
    std::size_t inPlace = 0;
    std::size_t loaded = 0;
    std::size_t unreadable = 0;
    std::size_t absent = 0;
    // Stale registrations of users (one per user's key) and the users they belong to: all a scan
    // found, within the selection for plan and clean.
    std::size_t stale = 0;
    std::size_t users = 0;
    // Actions (clean) or items (restore) by result; purge: runs purged and runs it failed on.
    std::size_t done = 0;
    std::size_t failed = 0;
    std::size_t refused = 0;
    std::size_t skipped = 0;
    std::size_t runs = 0;  // backups: the runs listed
};

RunSummary SummaryOf(const Report& report);
RunSummary SummaryOf(const std::vector<KeptRun>& runs);
RunSummary SummaryOf(const RestoreReport& report);
RunSummary SummaryOf(const PurgeReport& report);
// The one line that ends every text output: "quorvane: " and ASCII key=value pairs, the last
// "exit=N", with its line break. Without a summary (a run that stopped before it began), only
// "quorvane: exit=N".
std::string SummaryLine(const RunSummary* summary, ExitCode exitCode);
// The command's name as the documents and the audit log write it ("scan", "clean", ...).
const char* CommandName(Command command);
// The document's "summary" object as compact JSON text, for the audit log's run-end line.
std::string SummaryJsonText(const RunSummary& summary, ExitCode exitCode);
// The longest a summary line may be, its line break not counted: what the deployment engines
// that show only the last line of a script's output keep of it.
inline constexpr std::size_t kMaxSummaryLine = 2048;

// The resource text with each "%s" replaced by the next of `arguments`, in order
// (text::Substitute). Nothing else of the text is read as a format, and an argument never is.
std::string FormatResource(IResources& resources, std::uint32_t id,
                           std::initializer_list<std::string_view> arguments);
// Seconds since 1970 as "2020-09-13T12:26:40Z".
std::string IsoUtcTime(KeyTime time);
// The release of the product a registration was found under; empty when none fits.
std::string ReleaseOf(const Report& report, const RegistrationFinding& registration);
// The number of profiles whose registry could not be read.
std::size_t UnreadableProfileCount(const Findings& findings);

// The system's text for an error, without its line break, for the middle of a sentence.
std::string ErrorText(ISystem& system, Win32Error code);
// A UTF-8 text (as the backups' manifests hold names) in the ANSI code page, for a console line;
// should the system fail to convert it, every byte outside ASCII becomes "?".
std::string AnsiOfUtf8(ISystem& system, std::string_view utf8);

// The JSON document of the run, UTF-8, with a line break at its end.
std::string ReportJson(Platform& os, const Report& report, const RunFacts& facts);
// The text of the run, in the ANSI code page.
std::string ReportText(Platform& os, const Report& report);
// The actions of a plan as text, one a line below a line for each user (ANSI).
std::string PlanText(Platform& os, const Plan& plan);

// The commands on kept clean-ups: JSON documents (UTF-8) and texts (ANSI code page).
std::string BackupsJson(Platform& os, const std::vector<KeptRun>& runs, const RunFacts& facts);
std::string BackupsText(Platform& os, const std::vector<KeptRun>& runs);
std::string RestoreJson(Platform& os, const RestoreReport& report, const RunFacts& facts);
std::string RestoreText(Platform& os, const RestoreReport& report);
std::string PurgeJson(Platform& os, const PurgeReport& report, const RunFacts& facts);
std::string PurgeText(Platform& os, const PurgeReport& report);

}  // namespace qv::cli
