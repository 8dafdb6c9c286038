#include "cli/report.h"

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <nlohmann/json.hpp>
#include <string_view>
#include <vector>

#include "app/messages.h"
#include "base/enum_names.h"
#include "base/text.h"
#include "quorvane_version.h"
#include "res/resource.h"
#include "security/sid_text.h"

namespace qv::cli {
namespace {

using Json = nlohmann::ordered_json;

constexpr int kSchemaVersion = 1;
constexpr char kUsersRoot[] = "HKEY_USERS\\";

// null for an empty text (a value the hive does not hold).
Json OptionalText(ISystem& system, std::string_view ansi) {
    return ansi.empty() ? Json(nullptr) : Json(Utf8(system, ansi));
}

// A text for a console line: control characters (a line break or an escape sequence in a value
// from a user's hive) become "?". Trail bytes of the ANSI code page are never control characters.
std::string Printable(std::string_view ansi) {
    std::string line(ansi);
    for (char& c : line) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) c = '?';
    }
    return line;
}

std::string FullKeyPath(std::string_view sid, std::string_view keyPath) {
    std::string path(kUsersRoot);
    path += sid;
    path += '\\';
    path += keyPath;
    return path;
}

// Empty when the system cannot name it, and for a text that is no SID ("S-1-5-19.bak", which the
// lenient parse would read as S-1-5-19 and name after another user).
std::string AccountOf(Platform& os, std::string_view sid) {
    std::string account;
    if (!IsSidText(sid) || !AccountNameFromSidText(os.security, sid, &account)) account.clear();
    return account;
}

constexpr EnumName<ProfileState> kStateNames[] = {
    {ProfileState::kInPlace, "in-place"},
    {ProfileState::kLoaded, "loaded"},
    {ProfileState::kUnreadable, "unreadable"},
    {ProfileState::kAbsent, "absent"},
};
static_assert(NamesEveryValue(kStateNames));

const char* StateName(ProfileState state) { return NameOf(kStateNames, state, "unreadable"); }

constexpr EnumName<StaleReason> kReasonNames[] = {
    {StaleReason::kMachineKeyMissing, "machine-key-missing"},
    {StaleReason::kReinstalled, "reinstalled"},
};
static_assert(NamesEveryValue(kReasonNames));

const char* ReasonName(StaleReason reason) {
    return NameOf(kReasonNames, reason, "machine-key-missing");
}

// null, or the error's code and text: a refusal's reason, else the system's text for the code.
Json ErrorJson(Platform& os, Win32Error code, std::string_view reason) {
    if (code == err::kSuccess && reason.empty()) return nullptr;
    Json error;
    error["code"] = code;
    error["message"] = Utf8(os.system, reason.empty() ? ErrorText(os.system, code) : reason);
    return error;
}

Json ProfileJson(Platform& os, const ProfileFinding& profile) {
    Json json;
    json["sid"] = Utf8(os.system, profile.sid);
    const std::string account = AccountOf(os, profile.sid);
    json["account"] = OptionalText(os.system, account);
    json["state"] = StateName(profile.state);
    // Why an unreadable profile's hive could not be made available; null for the others.
    json["error"] = ErrorJson(os, profile.error, "");
    return json;
}

Json UserJson(Platform& os, const UserFinding& user) {
    Json json;
    json["sid"] = Utf8(os.system, user.sid);
    // null for a user whom the system cannot name: he is listed by his SID.
    json["account"] = OptionalText(os.system, user.account);
    json["keyPath"] = Utf8(os.system, FullKeyPath(user.sid, user.keyPath));
    json["reason"] = ReasonName(user.reason);
    // A leftover folder held in memory has no key yet, so no key time.
    json["userOldestKeyTime"] =
        user.leftover ? Json(nullptr) : Json(IsoUtcTime(user.userOldestKeyTime));
    json["machineOldestKeyTime"] = user.reason == StaleReason::kMachineKeyMissing
                                       ? Json(nullptr)
                                       : Json(IsoUtcTime(user.machineOldestKeyTime));
    json["roamingFolder"] = OptionalText(os.system, user.roamingFolder);
    json["localFolder"] = OptionalText(os.system, user.localFolder);
    json["leftover"] = user.leftover;
    return json;
}

Json ActionJson(Platform& os, const Action& action, bool applied) {
    Json json;
    json["kind"] = ActionKindName(action.kind);
    json["path"] = Utf8(os.system, action.path);
    json["sid"] = Utf8(os.system, action.sid);
    if (applied) {
        json["result"] = ActionResultName(action.result);
        json["error"] = ErrorJson(os, action.error, action.reason);
        json["backup"] = OptionalText(os.system, action.backup);
    }
    return json;
}

constexpr EnumName<Command> kCommandNames[] = {
    {Command::kScan, "scan"},       {Command::kPlan, "plan"},       {Command::kClean, "clean"},
    {Command::kBackups, "backups"}, {Command::kRestore, "restore"}, {Command::kPurge, "purge"},
};
static_assert(NamesEveryValue(kCommandNames));

// Days since 1970-01-01 as a date of the proleptic Gregorian calendar, by eras of 400 years
// (146,097 days) that begin on 1 March, so that the leap day ends a year.
void CivilDate(std::int64_t days, std::int64_t* year, unsigned* month, unsigned* day) {
    const std::int64_t shifted = days + 719468;  // days from 0000-03-01
    const std::int64_t era = (shifted >= 0 ? shifted : shifted - 146096) / 146097;
    const auto dayOfEra = static_cast<unsigned>(shifted - era * 146097);
    const unsigned yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const unsigned monthFromMarch = (5 * dayOfYear + 2) / 153;
    *day = dayOfYear - (153 * monthFromMarch + 2) / 5 + 1;
    *month = monthFromMarch < 10 ? monthFromMarch + 3 : monthFromMarch - 9;
    *year = static_cast<std::int64_t>(yearOfEra) + era * 400 + (*month <= 2 ? 1 : 0);
}

std::string TwoDigits(unsigned value) {
    return std::string(1, static_cast<char>('0' + value / 10 % 10)) +
           static_cast<char>('0' + value % 10);
}

std::string ActionLine(const Action& action, bool applied) {
    std::string line = "  ";
    if (applied) {
        std::string result = ActionResultName(action.result);
        result.resize(9, ' ');
        line += result;
    }
    std::string kind = ActionKindName(action.kind);
    kind.resize(25, ' ');
    line += kind;
    line += Printable(action.path);
    return line;
}

// The run's counts by the command's kind, and its exit code: the document's "summary".
Json SummaryJson(const RunSummary& summary, ExitCode exitCode) {
    Json counts;
    counts["exitCode"] = static_cast<int>(exitCode);
    switch (summary.command) {
        case Command::kScan:
        case Command::kPlan:
        case Command::kClean:
            counts["profiles"] = {{"in-place", summary.inPlace},
                                  {"loaded", summary.loaded},
                                  {"unreadable", summary.unreadable},
                                  {"absent", summary.absent}};
            counts["stale"] = summary.stale;
            counts["users"] = summary.users;
            counts["done"] = summary.done;
            counts["failed"] = summary.failed;
            counts["refused"] = summary.refused;
            counts["skipped"] = summary.skipped;
            break;
        case Command::kRestore:
            counts["done"] = summary.done;
            counts["failed"] = summary.failed;
            counts["refused"] = summary.refused;
            counts["skipped"] = summary.skipped;
            break;
        case Command::kPurge:
            counts["done"] = summary.done;
            counts["failed"] = summary.failed;
            break;
        case Command::kBackups:
            counts["runs"] = summary.runs;
            break;
    }
    return counts;
}

// The members every document begins with: its schema, its command, the program that made it, on
// which machine, when and in which run, and the run's summary with its exit code.
Json DocumentHead(Platform& os, Command command, const RunFacts& facts, const RunSummary& summary) {
    Json document;
    document["schemaVersion"] = kSchemaVersion;
    document["command"] = CommandName(command);
    document["tool"] = {{"name", kProgramName}, {"version", QV_VERSION_TEXT}};
    document["machine"] = OptionalText(os.system, facts.machine);
    document["generatedAt"] = IsoUtcTime(facts.time);
    document["runId"] = facts.runId.empty() ? Json(nullptr) : Json(facts.runId);
    document["summary"] = SummaryJson(summary, facts.exitCode);
    return document;
}

Json TextList(ISystem& system, const std::vector<std::string>& ansi) {
    Json list = Json::array();
    for (const std::string& text : ansi) list.push_back(Utf8(system, text));
    return list;
}

// Whether a stale user's registration counts as a user of the summary: each SID once.
std::size_t DistinctSids(std::vector<std::string> sids) {
    std::sort(sids.begin(), sids.end());
    return static_cast<std::size_t>(std::unique(sids.begin(), sids.end()) - sids.begin());
}

}  // namespace

std::string FormatResource(IResources& resources, std::uint32_t id,
                           std::initializer_list<std::string_view> arguments) {
    return text::Substitute(resources.LoadString(id), arguments);
}

std::string ErrorText(ISystem& system, Win32Error code) {
    return text::TrimLineEnd(SystemErrorText(system, code));
}

std::string AnsiOfUtf8(ISystem& system, std::string_view utf8) {
    std::string ansi = system.Utf8ToAnsi(utf8);
    if (!ansi.empty() || utf8.empty()) return ansi;
    ansi.assign(utf8);
    for (char& c : ansi) {
        if (static_cast<unsigned char>(c) >= 0x80) c = '?';
    }
    return ansi;
}

std::string IsoUtcTime(KeyTime time) {
    constexpr std::int64_t kSecondsPerDay = 86400;
    std::int64_t days = time / kSecondsPerDay;
    std::int64_t seconds = time % kSecondsPerDay;
    if (seconds < 0) {
        seconds += kSecondsPerDay;
        --days;
    }
    std::int64_t year = 0;
    unsigned month = 0;
    unsigned day = 0;
    CivilDate(days, &year, &month, &day);
    const auto s = static_cast<unsigned>(seconds);
    std::string iso = std::to_string(year);
    if (year >= 0 && year < 1000) iso.insert(0, 4 - iso.size(), '0');
    return iso + "-" + TwoDigits(month) + "-" + TwoDigits(day) + "T" + TwoDigits(s / 3600) + ":" +
           TwoDigits(s / 60 % 60) + ":" + TwoDigits(s % 60) + "Z";
}

std::string ReleaseOf(const Report& report, const RegistrationFinding& registration) {
    for (const ProductScope& product : report.products) {
        if (product.product == registration.product) return product.release;
    }
    return std::string();
}

std::size_t UnreadableProfileCount(const Findings& findings) {
    std::size_t count = 0;
    for (const ProfileFinding& profile : findings.profiles) {
        if (profile.state == ProfileState::kUnreadable) ++count;
    }
    return count;
}

RunSummary SummaryOf(const Report& report) {
    RunSummary summary;
    summary.command = report.command;
    for (const ProfileFinding& profile : report.findings.profiles) {
        switch (profile.state) {
            case ProfileState::kInPlace:
                ++summary.inPlace;
                break;
            case ProfileState::kLoaded:
                ++summary.loaded;
                break;
            case ProfileState::kUnreadable:
                ++summary.unreadable;
                break;
            case ProfileState::kAbsent:
                ++summary.absent;
                break;
        }
    }
    std::vector<std::string> sids;
    if (report.command == Command::kScan) {
        for (const RegistrationFinding& registration : report.findings.registrations) {
            for (const UserFinding& user : registration.users) sids.push_back(user.sid);
        }
    } else {
        for (const SelectedPair& pair : report.plan.selection) sids.push_back(pair.sidText);
    }
    summary.stale = sids.size();
    summary.users = DistinctSids(std::move(sids));
    if (report.applied) {
        for (const Action& action : report.plan.actions) {
            switch (action.result) {
                case ActionResult::kDone:
                    ++summary.done;
                    break;
                case ActionResult::kFailed:
                    ++summary.failed;
                    break;
                case ActionResult::kRefused:
                    ++summary.refused;
                    break;
                case ActionResult::kSkipped:
                case ActionResult::kPlanned:  // not carried out
                    ++summary.skipped;
                    break;
            }
        }
    }
    return summary;
}

RunSummary SummaryOf(const std::vector<KeptRun>& runs) {
    RunSummary summary;
    summary.command = Command::kBackups;
    summary.runs = runs.size();
    return summary;
}

RunSummary SummaryOf(const RestoreReport& report) {
    RunSummary summary;
    summary.command = Command::kRestore;
    for (const RestoredItem& item : report.items) {
        switch (item.outcome) {
            case RestoreOutcome::kRestored:
                ++summary.done;
                break;
            case RestoreOutcome::kFailed:
                ++summary.failed;
                break;
            case RestoreOutcome::kRefused:
            case RestoreOutcome::kTaken:  // never overwritten: refused for the place's sake
                ++summary.refused;
                break;
            case RestoreOutcome::kNothing:
                ++summary.skipped;
                break;
        }
    }
    return summary;
}

RunSummary SummaryOf(const PurgeReport& report) {
    RunSummary summary;
    summary.command = Command::kPurge;
    summary.done = report.purged.size();
    summary.failed = report.failed.size();
    return summary;
}

std::string SummaryLine(const RunSummary* summary, ExitCode exitCode) {
    std::string line = "quorvane:";
    auto add = [&line](const char* key, std::size_t value) {
        line += ' ';
        line += key;
        line += '=';
        line += std::to_string(value);
    };
    if (summary != nullptr) {
        switch (summary->command) {
            case Command::kScan:
            case Command::kPlan:
            case Command::kClean:
                add("stale", summary->stale);
                add("users", summary->users);
                add("absent", summary->absent);
                add("unreadable", summary->unreadable);
                add("done", summary->done);
                add("failed", summary->failed);
                add("refused", summary->refused);
                add("skipped", summary->skipped);
                break;
            case Command::kRestore:
                add("done", summary->done);
                add("failed", summary->failed);
                add("refused", summary->refused);
                add("skipped", summary->skipped);
                break;
            case Command::kPurge:
                add("done", summary->done);
                add("failed", summary->failed);
                break;
            case Command::kBackups:
                add("backups", summary->runs);
                break;
        }
    }
    add("exit", static_cast<std::size_t>(exitCode));
    return line + "\n";
}

std::string ReportJson(Platform& os, const Report& report, const RunFacts& facts) {
    Json document = DocumentHead(os, report.command, facts, SummaryOf(report));
    document["mode"] = report.allProfiles ? "all-profiles" : "current-user";
    if (report.command != Command::kScan) {
        document["selection"] = {
            {"users", TextList(os.system, report.selection.users)},
            {"registrations", TextList(os.system, report.selection.registrations)},
            {"unmatchedUsers", TextList(os.system, report.unmatchedUsers)},
            {"unmatchedRegistrations", TextList(os.system, report.unmatchedRegistrations)}};
    }
    document["registryRead"] = report.registryRead;

    Json profiles = Json::array();
    for (const ProfileFinding& profile : report.findings.profiles) {
        profiles.push_back(ProfileJson(os, profile));
    }
    document["profiles"] = std::move(profiles);

    Json registrations = Json::array();
    for (const RegistrationFinding& registration : report.findings.registrations) {
        Json json;
        json["label"] = Utf8(os.system, registration.label);
        json["keyName"] = Utf8(os.system, text::AfterLastBackslash(registration.keyPath));
        json["product"] = Utf8(os.system, registration.product);
        json["release"] = Utf8(os.system, ReleaseOf(report, registration));
        Json users = Json::array();
        for (const UserFinding& user : registration.users) users.push_back(UserJson(os, user));
        json["users"] = std::move(users);
        registrations.push_back(std::move(json));
    }
    document["registrations"] = std::move(registrations);

    if (report.command != Command::kScan) {
        Json actions = Json::array();
        for (const Action& action : report.plan.actions) {
            actions.push_back(ActionJson(os, action, report.applied));
        }
        document["actions"] = std::move(actions);
    }
    if (report.command == Command::kClean && report.applied) {
        document["backup"] = report.backupRun.empty() ? Json(nullptr) : Json(report.backupRun);
    }
    // Every text went through the conversion; a byte it let through unchanged is replaced
    // rather than thrown over.
    return document.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

std::string PlanText(Platform& os, const Plan& plan, bool applied) {
    std::string out;
    const std::string* sid = nullptr;
    for (const Action& action : plan.actions) {
        if (sid == nullptr || *sid != action.sid) {
            sid = &action.sid;
            const std::string account = AccountOf(os, action.sid);
            out += Printable(action.sid);
            if (!account.empty()) out += " (" + Printable(account) + ")";
            out += ":\n";
        }
        out += ActionLine(action, applied);
        if (applied && (action.error != err::kSuccess || !action.reason.empty())) {
            out += "  [";
            if (action.error != err::kSuccess) out += std::to_string(action.error) + " ";
            out += Printable(action.reason.empty() ? ErrorText(os.system, action.error)
                                                   : action.reason);
            out += "]";
        }
        out += '\n';
    }
    return out;
}

std::string PlanText(Platform& os, const Plan& plan) { return PlanText(os, plan, false); }

std::string ReportText(Platform& os, const Report& report) {
    IResources& resources = os.resources;
    std::string out = FormatResource(resources, IDS_HEADING, {report.heading}) + "\n";
    if (!report.allProfiles) out += "(HKEY_CURRENT_USER)\n";
    if (!report.registryRead) {
        return out + resources.LoadString(IDS_REGISTRY_UNREADABLE) + "\n";
    }

    const Findings& findings = report.findings;
    if (report.command == Command::kScan) {
        for (const RegistrationFinding& registration : findings.registrations) {
            out += "\n" + Printable(registration.label) + "  " +
                   Printable(text::AfterLastBackslash(registration.keyPath)) + "\n";
            for (const UserFinding& user : registration.users) {
                // A user whom the system cannot name is listed by his SID alone.
                out += "  " +
                       (user.account.empty()
                            ? Printable(user.sid)
                            : Printable(user.account) + " (" + Printable(user.sid) + ")") +
                       ": " + ReasonName(user.reason) + "\n";
                out += "    " + Printable(FullKeyPath(user.sid, user.keyPath)) + "\n";
                // A leftover folder held in memory has no key yet, so no key time: "-", as the
                // JSON's null.
                out += "    " +
                       FormatResource(
                           resources, IDS_CLI_USER_TIME,
                           {user.leftover ? std::string("-") : IsoUtcTime(user.userOldestKeyTime)});
                if (user.reason != StaleReason::kMachineKeyMissing) {
                    out += FormatResource(resources, IDS_CLI_MACHINE_TIME,
                                          {IsoUtcTime(user.machineOldestKeyTime)});
                }
                out += "\n";
            }
        }
    } else if (!report.plan.actions.empty()) {
        out += "\n" + PlanText(os, report.plan, report.applied);
    }

    // The profiles not scanned: those that could not be read, then those with nothing left.
    std::string unreadable;
    const std::size_t unreadableCount = UnreadableProfileCount(findings);
    std::string notScanned;
    for (ProfileState state : {ProfileState::kUnreadable, ProfileState::kAbsent}) {
        for (const ProfileFinding& profile : findings.profiles) {
            if (profile.state != state) continue;
            const std::string account = AccountOf(os, profile.sid);
            notScanned += std::string(StateName(state)) + ": " + Printable(profile.sid);
            if (!account.empty()) notScanned += " (" + Printable(account) + ")";
            notScanned += "\n";
        }
    }
    if (!notScanned.empty()) out += "\n" + notScanned;
    if (unreadableCount != 0) {
        unreadable =
            FormatResource(resources, IDS_USERS_UNREADABLE, {std::to_string(unreadableCount)});
    }

    // The status, as the dialog's status line and result boxes say it.
    std::vector<std::string> status;
    if (findings.registrations.empty()) {
        status.push_back(resources.LoadString(IDS_NO_INVALID_ENTRIES));
        if (unreadable.empty()) status.push_back(resources.LoadString(IDS_CLEANUP_NOT_NEEDED));
    } else if (report.command != Command::kScan && report.plan.selection.empty()) {
        status.push_back(resources.LoadString(IDS_NOTHING_SELECTED));
    } else if (report.applied) {
        const bool allDone =
            std::all_of(report.plan.actions.begin(), report.plan.actions.end(),
                        [](const Action& action) { return action.result == ActionResult::kDone; });
        status.push_back(resources.LoadString(allDone ? IDS_DELETED : IDS_DELETE_FAILED));
    }
    status.push_back(unreadable);
    // The dialog's texts carry their own leading and trailing blanks; one blank joins them here.
    std::string line;
    for (const std::string& part : status) {
        const std::size_t first = part.find_first_not_of(' ');
        if (first == std::string::npos) continue;
        if (!line.empty()) line += ' ';
        line += part.substr(first, part.find_last_not_of(' ') - first + 1);
    }
    return line.empty() ? out : out + "\n" + line + "\n";
}

namespace {

std::string Dump(const Json& document) {
    return document.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

std::string TextOr(std::string_view text, std::string_view otherwise) {
    return std::string(text.empty() ? otherwise : text);
}

}  // namespace

std::string BackupsJson(Platform& os, const std::vector<KeptRun>& runs, const RunFacts& facts) {
    Json document = DocumentHead(os, Command::kBackups, facts, SummaryOf(runs));
    Json list = Json::array();
    for (const KeptRun& run : runs) {
        Json json;
        json["run"] = run.manifest.run;
        json["time"] = IsoUtcTime(run.manifest.time);
        json["program"] = run.manifest.program;
        json["operator"] = run.manifest.operatorName;
        json["scope"] = run.manifest.currentUser ? "current-user" : "machine";
        json["users"] = run.users;
        json["size"] = run.size;
        json["result"] = run.manifest.result;
        json["restored"] = run.manifest.restoredTime == 0
                               ? Json(nullptr)
                               : Json(IsoUtcTime(run.manifest.restoredTime));
        json["folder"] = Utf8(os.system, run.folder);
        list.push_back(std::move(json));
    }
    document["backups"] = std::move(list);
    return Dump(document);
}

std::string BackupsText(Platform& os, const std::vector<KeptRun>& runs) {
    IResources& resources = os.resources;
    if (runs.empty()) return resources.LoadString(IDS_CLI_NO_BACKUPS) + "\n";
    std::string out;
    for (const KeptRun& run : runs) {
        // The operator's name is UTF-8 in the manifest; the console line is ANSI.
        out += run.manifest.run + "  " + IsoUtcTime(run.manifest.time) + "  " +
               Printable(AnsiOfUtf8(os.system, TextOr(run.manifest.operatorName, "?"))) + "  " +
               FormatResource(resources, IDS_CLI_BACKUP_USERS, {std::to_string(run.users)}) + "  " +
               FormatResource(resources, IDS_CLI_BACKUP_BYTES, {std::to_string(run.size)}) + "  " +
               run.manifest.result;
        if (run.manifest.restoredTime != 0) {
            out += "  " + FormatResource(resources, IDS_CLI_BACKUP_RESTORED,
                                         {IsoUtcTime(run.manifest.restoredTime)});
        }
        out += "\n";
    }
    return out;
}

std::string RestoreJson(Platform& os, const RestoreReport& report, const RunFacts& facts) {
    Json document = DocumentHead(os, Command::kRestore, facts, SummaryOf(report));
    document["run"] = report.run.empty() ? Json(nullptr) : Json(report.run);
    document["error"] = ErrorJson(os, report.error, "");
    Json items = Json::array();
    for (const RestoredItem& item : report.items) {
        Json json;
        json["kind"] = ActionKindName(item.kind);
        json["path"] = Utf8(os.system, item.path);
        json["sid"] = item.sid;
        json["result"] = RestoreOutcomeName(item.outcome);
        json["error"] = ErrorJson(os, item.error, "");
        items.push_back(std::move(json));
    }
    document["items"] = std::move(items);
    return Dump(document);
}

std::string RestoreText(Platform& os, const RestoreReport& report) {
    if (report.error != err::kSuccess) {
        return "restore: " + ErrorText(os.system, report.error) + " (" +
               std::to_string(report.error) + ")\n";
    }
    std::string out = FormatResource(os.resources, IDS_CLI_RESTORE_RUN, {report.run}) + "\n";
    for (const RestoredItem& item : report.items) {
        out += std::string("  ") + RestoreOutcomeName(item.outcome) + "  " +
               ActionKindName(item.kind) + "  " + Printable(item.path);
        if (item.error != err::kSuccess) out += "  (" + std::to_string(item.error) + ")";
        out += "\n";
    }
    if (report.items.empty()) {
        out += "  " + os.resources.LoadString(IDS_CLI_NOTHING_TO_RESTORE) + "\n";
    }
    return out;
}

std::string PurgeJson(Platform& os, const PurgeReport& report, const RunFacts& facts) {
    Json document = DocumentHead(os, Command::kPurge, facts, SummaryOf(report));
    document["error"] = ErrorJson(os, report.error, "");
    document["purged"] = report.purged;
    Json failed = Json::array();
    for (const auto& f : report.failed) {
        failed.push_back({{"run", f.first}, {"error", ErrorJson(os, f.second, "")}});
    }
    document["failed"] = std::move(failed);
    return Dump(document);
}

std::string PurgeText(Platform& os, const PurgeReport& report) {
    if (report.error != err::kSuccess) {
        return "purge: " + ErrorText(os.system, report.error) + "\n";
    }
    std::string out;
    for (const std::string& run : report.purged) {
        out += FormatResource(os.resources, IDS_CLI_PURGED, {run}) + "\n";
    }
    for (const auto& f : report.failed) {
        out += FormatResource(os.resources, IDS_CLI_PURGE_FAILED,
                              {f.first, std::to_string(f.second)}) +
               "\n";
    }
    if (out.empty()) out = os.resources.LoadString(IDS_CLI_NOTHING_PURGED) + "\n";
    return out;
}

const char* CommandName(Command command) { return NameOf(kCommandNames, command, "scan"); }

std::string SummaryJsonText(const RunSummary& summary, ExitCode exitCode) {
    return SummaryJson(summary, exitCode).dump();
}

}  // namespace qv::cli
