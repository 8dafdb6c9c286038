// The console program's command line: one command (scan, plan, clean, backups, restore or purge),
// the selection and the mode, read with CLI11. Usage errors are results, never exceptions.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/language.h"
#include "engine/plan.h"

namespace qv::cli {

enum class Command { kScan, kPlan, kClean, kBackups, kRestore, kPurge };

struct Options {
    Command command = Command::kScan;
    bool json = false;  // one JSON document (UTF-8) instead of the text
    // --output: the JSON document is written to this file (UTF-8) instead; standard output then
    // carries the text, or with --json only the summary line. Empty: none.
    std::string outputFile;
    bool yes = false;          // clean: carry the plan out without asking
    bool currentUser = false;  // only HKEY_CURRENT_USER, as a non-administrator always has it
    std::string settingsFile;  // empty: the built-in products
    std::optional<UiLanguage> language;  // --lang; otherwise the settings file's, or the system's
    Selection selection;                 // plan and clean; empty lists select everything
    bool noBackup = false;               // clean: delete without keeping a backup
    std::string run;  // restore: the run id (or its unique beginning); empty: --last
    std::uint32_t olderThanDays = 0;  // purge
    std::uint32_t waitSeconds = 0;    // --wait: how long to wait for the machine's run lock
};

enum class ParseOutcome {
    kRun,
    kHelp,        // the help was asked for: `text` holds it
    kVersion,     // --version: `text` holds the line to print
    kUsageError,  // `text` says what is wrong
};

struct ParsedCommandLine {
    ParseOutcome outcome = ParseOutcome::kUsageError;
    Options options;
    std::string text;  // kHelp, and kUsageError of the command line's reader (CLI11's words)
    // kUsageError of the program's own: the resource text saying what is wrong, 0 for none. The
    // options then hold what was read before it, the language among them.
    std::uint32_t messageId = 0;
    std::string messageArgument;  // for the "%s" of messageId's text
    // Whether standard output is to carry the JSON document alone (--json without --output), as
    // far as the arguments say: a usage error then writes nothing there.
    bool jsonOnStandardOutput = false;
};

// The program's name and version as --version prints them: "quorvane-cli 1.0.0".
std::string VersionLine();
// The project's version, "1.0.0".
const char* ProgramVersion();
inline constexpr char kProgramName[] = "quorvane-cli";

// The arguments after the program's name, in the ANSI code page.
ParsedCommandLine ParseCommandLine(const std::vector<std::string>& args);

}  // namespace qv::cli
