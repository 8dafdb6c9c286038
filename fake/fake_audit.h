// The fake machine's audit log: the folder and the log file as states, the lines appended, the
// protection each Open asked for, and injected failures.
//
// Rules taken from the system adapter (src/win32/win32_audit.cpp) and the file system: a missing
// folder is created with the descriptor asked for; an existing folder is kept only when it is a
// plain folder (a link gives err::kReparsePointEncountered) whose descriptor grants no one beyond
// what was asked. The fake compares descriptors as texts: a folder whose descriptor is not the one
// asked for counts as granting someone else (err::kAccessDenied), where the system adapter
// compares the trustees. Appends need an open log and land whole at the end of the file.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fake/fault_plan.h"
#include "port/audit.h"

namespace qv::fake {

// The port's calls that take injected faults; their faults have no subject.
enum class AuditOp { kOpen, kAppend };

class FakeAuditStore final : public IAuditStore, public FaultInjection<AuditOp> {
  public:
    enum class Entry { kMissing, kPlain, kLink };

    // --- setup ---
    // An existing folder with that descriptor (SDDL), a link in its place, or none (the default).
    void SetFolder(Entry entry, std::string_view security = {});
    // The rotation size (kAuditRotateBytes unless set).
    void SetRotateBytes(std::uint64_t bytes) { rotateBytes_ = bytes; }
    // Another process holds the log open: it cannot be renamed.
    void HoldLog(bool held) { held_ = held; }

    // --- inspection ---
    // The log file's lines without their line feeds.
    std::vector<std::string> Lines() const;
    // The bytes of "audit.jsonl".
    const std::string& Contents() const { return contents_; }
    // The bytes of "audit.<n>.jsonl" (1 to kAuditRotatedLogs), empty when there is none.
    const std::string& Rotated(int n) const { return rotated_[static_cast<std::size_t>(n - 1)]; }
    // The descriptor the folder has: the one it was created with, or the one set up.
    const std::string& FolderSecurity() const { return folderSecurity_; }
    // The descriptor every Open asked for, in order, and the place.
    const std::vector<std::string>& AskedSecurity() const { return asked_; }
    const std::vector<AuditPlace>& AskedPlaces() const { return places_; }
    int Appends() const { return appends_; }  // calls, failed ones too

    // --- IAuditStore ---
    // The fake holds one log, whatever the place asked for; the place only names its path.
    [[nodiscard]] Win32Error Open(AuditPlace place,
                                  std::string_view folderSecurity) noexcept override;
    [[nodiscard]] Win32Error Append(std::string_view utf8Line) noexcept override;
    void Close() noexcept override { open_ = false; }
    // "C:\Documents and Settings\All Users\Application Data\Quorvane\audit.jsonl", in the common
    // application data folder of the fake machine, or in the running user's (the fake machine's
    // operator) local application data folder.
    std::string LogPath() const override;

  private:
    Entry folder_ = Entry::kMissing;
    std::string folderSecurity_;
    std::string contents_;
    std::string rotated_[kAuditRotatedLogs];
    std::uint64_t rotateBytes_ = kAuditRotateBytes;
    bool held_ = false;
    std::vector<std::string> asked_;
    std::vector<AuditPlace> places_;
    bool open_ = false;
    int appends_ = 0;
};

}  // namespace qv::fake
