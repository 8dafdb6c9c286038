#include "security/audit_log.h"

#include <exception>
#include <iterator>
#include <nlohmann/json.hpp>
#include <utility>

#include "base/text.h"
#include "base/time_text.h"
#include "quorvane_version.h"
#include "security/sid_text.h"

namespace qv {
namespace {

constexpr std::size_t kRunIdBytes = 16;

// The results a run-end line counts, in the order of AuditLog::results_.
constexpr std::string_view kCountedResults[] = {"done", "failed", "refused", "skipped"};

// One argument as a command line spells it: in double quotes when empty or holding a blank or a
// double quote, whose inner double quotes are then escaped with a backslash.
void AppendArgument(std::string_view argument, std::string* line) {
    if (!line->empty()) *line += ' ';
    if (!argument.empty() && argument.find_first_of(" \t\"") == std::string_view::npos) {
        line->append(argument.data(), argument.size());
        return;
    }
    *line += '"';
    for (char c : argument) {
        if (c == '"') *line += '\\';
        *line += c;
    }
    *line += '"';
}

// What every line begins with: when, which run, which program, on which machine, by whom.
nlohmann::ordered_json Head(std::int64_t time, const std::string& run, const std::string& program,
                            const std::string& machine, const std::string& operatorName,
                            const std::string& operatorSid) {
    nlohmann::ordered_json line;
    line["time"] = Iso8601Utc(time);
    line["run"] = run;
    line["program"] = program;
    if (!machine.empty()) line["machine"] = machine;
    if (!operatorName.empty()) line["operator"] = operatorName;
    if (!operatorSid.empty()) line["operatorSid"] = operatorSid;
    return line;
}

}  // namespace

std::string_view AuditProgramVersion() { return QV_VERSION_TEXT; }

AuditLog::AuditLog(Platform& os, std::string program) : os_(os), program_(std::move(program)) {}

AuditLog::~AuditLog() {
    if (open_) os_.audit.Close();
}

Win32Error AuditLog::Open(AuditPlace place) {
    place_ = place;
    // The run id: random, so that runs of many machines gathered in one place stay apart. Should
    // the generator fail, the time and a count of this process's runs still tell this machine's
    // runs apart.
    unsigned char id[kRunIdBytes] = {};
    if (os_.system.GenerateRandom(id, sizeof id) != err::kSuccess) {
        static std::uint64_t runs = 0;
        const auto time = static_cast<std::uint64_t>(os_.system.CurrentTime());
        const std::uint64_t count = ++runs;
        for (int i = 0; i < 8; ++i) {
            id[i] = static_cast<unsigned char>(time >> (56 - 8 * i));
            id[8 + i] = static_cast<unsigned char>(count >> (56 - 8 * i));
        }
    }
    run_ = text::Hex(std::string_view(reinterpret_cast<const char*>(id), sizeof id));

    std::string machine;
    machine_ = os_.system.GetComputerName(&machine) == err::kSuccess ? Utf8(os_.system, machine)
                                                                     : std::string();
    operatorSid_ = CurrentUserSidText(os_.security);
    std::string account;
    operator_ =
        !operatorSid_.empty() && QualifiedAccountFromSidText(os_.security, operatorSid_, &account)
            ? Utf8(os_.system, account)
            : std::string();

    Win32Error e = OpenStore();
    open_ = e == err::kSuccess;
    if (!open_) Fail(e);
    return e;
}

std::string AuditLog::Line(const AuditEntry& entry, std::int64_t time) const {
    ISystem& system = os_.system;
    nlohmann::ordered_json line = Head(time, run_, program_, machine_, operator_, operatorSid_);
    line["user"] = Utf8(system, entry.userSid);
    if (!entry.userAccount.empty()) line["userAccount"] = Utf8(system, entry.userAccount);
    line["action"] = Utf8(system, entry.action);
    line["path"] = Utf8(system, entry.path);
    line["result"] = Utf8(system, entry.result);
    if (entry.error != err::kSuccess) line["error"] = entry.error;
    if (!entry.reason.empty()) line["reason"] = Utf8(system, entry.reason);
    return line.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

template <typename Make>
void AuditLog::Write(Make make) noexcept {
    if (!open_) {
        Win32Error e = OpenStore();
        if (e != err::kSuccess) {
            Fail(e);
            ++unwritten_;
            return;
        }
        open_ = true;
    }
    std::string line;
    try {
        line = make(os_.system.CurrentTime());
    } catch (const std::exception&) {
        Fail(err::kNotEnoughMemory);
        ++unwritten_;
        return;
    }
    Win32Error e = os_.audit.Append(line);
    if (e != err::kSuccess) {
        Fail(e);
        ++unwritten_;
    }
}

void AuditLog::Record(const AuditEntry& entry) noexcept {
    for (std::size_t i = 0; i < std::size(kCountedResults); ++i) {
        if (entry.result == kCountedResults[i]) ++results_[i];
    }
    Write([&](std::int64_t time) { return Line(entry, time); });
}

void AuditLog::RecordRunStart(const RunStart& start) noexcept {
    Write([&](std::int64_t time) { return RunStartLine(start, time); });
}

void AuditLog::RecordRunEnd(int exitCode, std::string_view summaryJson) noexcept {
    Write([&](std::int64_t time) { return RunEndLine(exitCode, summaryJson, time); });
}

std::string AuditLog::RunStartLine(const RunStart& start, std::int64_t time) const {
    ISystem& system = os_.system;
    std::string commandLine;
    if (start.arguments != nullptr) {
        for (const std::string& argument : *start.arguments) AppendArgument(argument, &commandLine);
    }
    commandLine = Utf8(system, commandLine);
    if (commandLine.size() > kAuditMaxCommandLineBytes)
        commandLine.resize(kAuditMaxCommandLineBytes);
    nlohmann::ordered_json line = Head(time, run_, program_, machine_, operator_, operatorSid_);
    line["action"] = "run-start";
    line["version"] = std::string(AuditProgramVersion());
    line["command"] = Utf8(system, start.command);
    line["mode"] = Utf8(system, start.mode);
    line["commandLine"] = commandLine;
    // A command line cut inside a character: the replacement character stands for the rest.
    return line.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

std::string AuditLog::RunEndLine(int exitCode, std::string_view summaryJson,
                                 std::int64_t time) const {
    nlohmann::ordered_json summary;
    if (!summaryJson.empty() && summaryJson.size() <= kAuditMaxSummaryBytes) {
        summary = nlohmann::ordered_json::parse(summaryJson, nullptr, false);
    }
    if (!summary.is_object()) {
        summary = nlohmann::ordered_json::object();
        summary["exitCode"] = exitCode;
        for (std::size_t i = 0; i < std::size(kCountedResults); ++i) {
            summary[std::string(kCountedResults[i])] = results_[i];
        }
    }
    nlohmann::ordered_json line = Head(time, run_, program_, machine_, operator_, operatorSid_);
    line["action"] = "run-end";
    line["exitCode"] = exitCode;
    line["summary"] = std::move(summary);
    return line.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

Win32Error AuditLog::OpenStore() noexcept {
    if (place_ == AuditPlace::kMachine) return os_.audit.Open(place_, kAuditFolderSecurity);
    // The running user's folder grants no other user; without his SID it cannot be made so.
    if (operatorSid_.empty()) return err::kInvalidParameter;
    try {
        std::string security = kUserAuditFolderSecurity;
        const std::size_t at = security.find("<SID>");
        security.replace(at, 5, operatorSid_);
        return os_.audit.Open(place_, security);
    } catch (const std::exception&) {
        return err::kNotEnoughMemory;
    }
}

void AuditLog::Fail(Win32Error error) noexcept {
    if (firstError_ == err::kSuccess) firstError_ = error;
}

RunRecord::RunRecord(AuditLog& log, const RunStart& start) noexcept : log_(log) {
    log_.RecordRunStart(start);
}

RunRecord::~RunRecord() {
    if (!finished_) log_.RecordRunEnd(kAuditExitInternalError, {});
}

void RunRecord::Finish(int exitCode, std::string_view summaryJson) noexcept {
    if (finished_) return;
    finished_ = true;
    log_.RecordRunEnd(exitCode, summaryJson);
}

}  // namespace qv
