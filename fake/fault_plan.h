// How a test makes a fake's calls fail, the same for every part of the fake machine: each fake
// takes faults keyed by its port's calls (RegOp, SecOp, HandleOp, SysOp, AuditOp).
//
//   m.registry.InjectFault(RegOp::kLoad, sid, err::kSharingViolation, kAlways);
//   m.files.InjectFault(HandleOp::kRename, "Quorvane", err::kSharingViolation);
#pragma once
#include <string>
#include <string_view>
#include <vector>

#include "base/text.h"
#include "base/win32_codes.h"

namespace qv::fake {

inline constexpr int kAlways = -1;

template <typename Op>
class FaultInjection {
  public:
    // The next `times` calls of `op` (kAlways: every one from now on) whose subject names `name`
    // fail with `error`. A call's subject is what it acts on, as each fake's call enum says (a
    // key path, a sub key name, an entry's name, a library name; none for the calls of the
    // security and the audit log); it names `name` when `name` is empty, or is the subject or
    // one of its parts between backslashes, ignoring case. The first matching fault answers.
    void InjectFault(Op op, std::string_view name, Win32Error error, int times = 1) {
        if (times != 0) faults_.push_back({op, std::string(name), error, times});
    }
    void ClearFaults() { faults_.clear(); }

  protected:
    // The error a call of `op` on `subject` fails with, that fault used once; 0 when none.
    [[nodiscard]] Win32Error TakeFault(Op op, std::string_view subject) {
        for (auto it = faults_.begin(); it != faults_.end(); ++it) {
            if (it->op != op || !Names(subject, it->name)) continue;
            const Win32Error error = it->error;
            if (it->times > 0 && --it->times == 0) faults_.erase(it);
            return error;
        }
        return err::kSuccess;
    }

  private:
    struct Fault {
        Op op;
        std::string name;
        Win32Error error;
        int times;
    };

    static bool Names(std::string_view subject, std::string_view name) {
        if (name.empty()) return true;
        for (std::size_t start = 0;;) {
            const std::size_t end = text::Find(subject, '\\', start);
            if (text::EqualsNoCase(subject.substr(start, end - start), name)) return true;
            if (end == text::npos) return false;
            start = end + 1;
        }
    }

    std::vector<Fault> faults_;
};

}  // namespace qv::fake
