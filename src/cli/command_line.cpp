#include "cli/command_line.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <sstream>

#include "quorvane_version.h"
#include "res/resource.h"

namespace qv::cli {
namespace {

// A repeatable option that takes exactly one value each time it is given: "--user a b" leaves
// "b" over, which is a usage error, rather than selecting two users.
CLI::Option* AddRepeatable(CLI::App* command, const std::string& name,
                           std::vector<std::string>* values, const std::string& description) {
    return command->add_option(name, *values, description)
        ->expected(1)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
        ->allow_extra_args(false);
}

bool HasEmpty(const std::vector<std::string>& values) {
    return std::any_of(values.begin(), values.end(),
                       [](const std::string& value) { return value.empty(); });
}

// One of the program's own usage errors: the resource text `messageId`, which the program loads
// in the language chosen. `options` keeps what was read (the language, when it was).
ParsedCommandLine UsageError(std::uint32_t messageId, Options options,
                             std::string argument = std::string()) {
    ParsedCommandLine parsed;
    parsed.outcome = ParseOutcome::kUsageError;
    parsed.messageId = messageId;
    parsed.messageArgument = std::move(argument);
    parsed.options = std::move(options);
    return parsed;
}

ParsedCommandLine UsageError(std::string text) {
    ParsedCommandLine parsed;
    parsed.outcome = ParseOutcome::kUsageError;
    parsed.text = std::move(text);
    if (parsed.text.empty() || parsed.text.back() != '\n') parsed.text += '\n';
    return parsed;
}

// The commands, for a first word that names none.
constexpr const char* kCommands[] = {"scan", "plan", "clean", "backups", "restore", "purge"};

bool IsCommand(const std::string& word) {
    return std::any_of(std::begin(kCommands), std::end(kCommands),
                       [&](const char* command) { return word == command; });
}

// What the arguments say of standard output before they are read: --json without --output.
bool JsonOnStandardOutput(const std::vector<std::string>& args) {
    bool json = false;
    bool output = false;
    for (const std::string& arg : args) {
        if (arg == "--") break;
        json = json || arg == "--json";
        output = output || arg == "--output" || arg.rfind("--output=", 0) == 0;
    }
    return json && !output;
}

ParsedCommandLine Parse(const std::vector<std::string>& args);

}  // namespace

const char* ProgramVersion() { return QV_VERSION_TEXT; }

std::string VersionLine() { return std::string(kProgramName) + " " + ProgramVersion() + "\n"; }

ParsedCommandLine ParseCommandLine(const std::vector<std::string>& args) {
    ParsedCommandLine parsed = Parse(args);
    if (parsed.outcome == ParseOutcome::kRun) {
        parsed.jsonOnStandardOutput = parsed.options.json && parsed.options.outputFile.empty();
    } else {
        parsed.jsonOnStandardOutput = JsonOnStandardOutput(args);
    }
    return parsed;
}

namespace {

ParsedCommandLine Parse(const std::vector<std::string>& args) {
    // Before anything else, as --help is: the name and version, whatever else is given.
    for (const std::string& arg : args) {
        if (arg == "--") break;
        if (arg != "--version") continue;
        ParsedCommandLine parsed;
        parsed.outcome = ParseOutcome::kVersion;
        parsed.text = VersionLine();
        return parsed;
    }

    Options options;
    CLI::App app(
        "Finds and removes the stale per-user data of Ovaline 2004 on every profile of "
        "this machine.",
        kProgramName);
    app.require_subcommand(1, 1);
    app.add_flag("--current-user", options.currentUser,
                 "Only the running user's registry (HKEY_CURRENT_USER); always so for a user who "
                 "is not an administrator");
    app.add_option("--settings", options.settingsFile,
                   "A settings file (as Quorvane.ini) naming another company, product and release")
        ->type_name("FILE");
    app.add_option("--output", options.outputFile,
                   "Write the JSON document (UTF-8) to FILE, replaced whole once written; standard "
                   "output then carries the text (with --json only its summary line)")
        ->type_name("FILE");
    app.add_flag("--version", "Print the program's name and version");
    std::string language;
    app.add_option("--lang", language,
                   "The language of the text output and messages: en or ja (default: the "
                   "language of the user's interface)")
        ->type_name("en|ja");
    app.add_option("--wait", options.waitSeconds,
                   "Wait up to SECONDS for another run on this machine to finish (default 0); "
                   "still busy then: exit 5")
        ->type_name("SECONDS");

    CLI::App* scan = app.add_subcommand("scan", "List the stale registrations with their evidence");
    CLI::App* plan = app.add_subcommand(
        "plan", "List the actions a clean-up would take, in order; change nothing");
    CLI::App* clean = app.add_subcommand("clean", "Carry the plan out");
    for (CLI::App* command : {scan, plan, clean}) {
        // The program's options may also follow the command.
        command->fallthrough();
        command->add_flag("--json", options.json, "One JSON document (UTF-8) instead of text");
    }
    std::vector<std::string> users;
    std::vector<std::string> registrations;
    for (CLI::App* command : {plan, clean}) {
        AddRepeatable(command, "--user", &users, "Only this user (account name or SID); repeatable")
            ->type_name("NAME|SID");
        AddRepeatable(command, "--registration", &registrations,
                      "Only this registration key name (e.g. OVLN-201:409); repeatable")
            ->type_name("KEYNAME");
    }
    clean->add_flag("--yes", options.yes, "Do not ask for confirmation");
    clean->add_flag("--no-backup", options.noBackup,
                    "Delete without keeping a backup (no restore is possible)");

    CLI::App* backups = app.add_subcommand("backups", "List the clean-ups kept for a restore");
    CLI::App* restore =
        app.add_subcommand("restore", "Put a clean-up back from its backup; never overwrite");
    restore->add_option("run", options.run, "The run id (or a unique beginning of it)")
        ->type_name("RUN");
    bool last = false;
    restore->add_flag("--last", last, "The newest clean-up");
    AddRepeatable(restore, "--user", &users, "Only this user (account name or SID); repeatable")
        ->type_name("NAME|SID");
    CLI::App* purge = app.add_subcommand("purge", "Delete the backups of old clean-ups");
    purge->add_option("--older-than", options.olderThanDays, "Backups older than DAYS days")
        ->type_name("DAYS")
        ->required();
    for (CLI::App* command : {backups, restore, purge}) {
        command->fallthrough();
        command->add_flag("--json", options.json, "One JSON document (UTF-8) instead of text");
    }

    // CLI11 takes the arguments last first.
    std::vector<std::string> reversed(args.rbegin(), args.rend());
    std::ostringstream out;
    std::ostringstream err;
    // exit() writes the help or usage text; its code gives way to the program's own exit codes.
    auto help = [&](const CLI::Error& e) {
        (void)app.exit(e, out, err);
        ParsedCommandLine parsed;
        parsed.outcome = ParseOutcome::kHelp;
        parsed.text = out.str();
        return parsed;
    };
    try {
        app.parse(reversed);
    } catch (const CLI::CallForHelp& e) {
        return help(e);
    } catch (const CLI::CallForAllHelp& e) {
        return help(e);
    } catch (const CLI::ExtrasError&) {
        // The reader names them last first; they are named here as they were given.
        std::string extras;
        for (const std::string& arg : app.remaining()) extras += " " + arg;
        return UsageError("The following argument" +
                          std::string(app.remaining().size() > 1 ? "s were" : " was") +
                          " not expected:" + extras + "\nRun with --help for more information.");
    } catch (const CLI::RequiredError& e) {
        // A first word that is no command is told as such, not as a command missing.
        const std::vector<std::string> remaining = app.remaining();
        if (app.get_subcommands().empty() && !remaining.empty() && !remaining.front().empty() &&
            remaining.front()[0] != '-' && !IsCommand(remaining.front())) {
            if (app.count("--lang") != 0) options.language = ParseUiLanguage(language);
            return UsageError(IDS_CLI_UNKNOWN_COMMAND, options, remaining.front());
        }
        (void)app.exit(e, out, err);
        return UsageError(err.str());
    } catch (const CLI::Error& e) {
        (void)app.exit(e, out, err);
        return UsageError(err.str());
    }

    // Read first: the program's own usage errors below speak the language it names.
    if (app.count("--lang") != 0) {
        options.language = ParseUiLanguage(language);
        if (!options.language) return UsageError(IDS_CLI_LANG_NEEDS_NAME, options);
    }
    if (plan->parsed()) {
        options.command = Command::kPlan;
    } else if (clean->parsed()) {
        options.command = Command::kClean;
    } else if (backups->parsed()) {
        options.command = Command::kBackups;
    } else if (restore->parsed()) {
        options.command = Command::kRestore;
        if (last == !options.run.empty()) return UsageError(IDS_CLI_RESTORE_NEEDS_RUN, options);
    } else if (purge->parsed()) {
        options.command = Command::kPurge;
    } else {
        options.command = Command::kScan;
    }
    if (HasEmpty(users)) return UsageError(IDS_CLI_USER_NEEDS_NAME, options);
    if (HasEmpty(registrations)) return UsageError(IDS_CLI_REGISTRATION_NEEDS_NAME, options);
    if (app.count("--settings") != 0 && options.settingsFile.empty()) {
        return UsageError(IDS_CLI_SETTINGS_NEEDS_FILE, options);
    }
    if (app.count("--output") != 0 && options.outputFile.empty()) {
        return UsageError(IDS_CLI_OUTPUT_NEEDS_FILE, options);
    }
    options.selection.users = std::move(users);
    options.selection.registrations = std::move(registrations);

    ParsedCommandLine parsed;
    parsed.outcome = ParseOutcome::kRun;
    parsed.options = std::move(options);
    return parsed;
}

}  // namespace

}  // namespace qv::cli
