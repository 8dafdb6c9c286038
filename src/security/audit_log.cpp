#include "security/audit_log.h"

#include <exception>
#include <nlohmann/json.hpp>
#include <utility>

#include "base/text.h"
#include "base/time_text.h"
#include "security/sid_text.h"

namespace qv {
namespace {

constexpr std::size_t kRunIdBytes = 16;

}  // namespace

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
    nlohmann::ordered_json line;
    line["time"] = Iso8601Utc(time);
    line["run"] = run_;
    line["program"] = program_;
    if (!machine_.empty()) line["machine"] = machine_;
    if (!operator_.empty()) line["operator"] = operator_;
    if (!operatorSid_.empty()) line["operatorSid"] = operatorSid_;
    line["user"] = Utf8(system, entry.userSid);
    if (!entry.userAccount.empty()) line["userAccount"] = Utf8(system, entry.userAccount);
    line["action"] = Utf8(system, entry.action);
    line["path"] = Utf8(system, entry.path);
    line["result"] = Utf8(system, entry.result);
    if (entry.error != err::kSuccess) line["error"] = entry.error;
    if (!entry.reason.empty()) line["reason"] = Utf8(system, entry.reason);
    return line.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

void AuditLog::Record(const AuditEntry& entry) noexcept {
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
        line = Line(entry, os_.system.CurrentTime());
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

}  // namespace qv
