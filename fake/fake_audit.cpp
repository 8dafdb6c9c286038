#include "fake/fake_audit.h"

#include <algorithm>
#include <sstream>
#include <utility>

namespace qv::fake {

void FakeAuditStore::SetFolder(Entry entry, std::string_view security) {
    folder_ = entry;
    folderSecurity_ = entry == Entry::kPlain ? std::string(security) : std::string();
}

std::vector<std::string> FakeAuditStore::Lines() const {
    std::istringstream in(contents_);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

Win32Error FakeAuditStore::Open(AuditPlace place, std::string_view folderSecurity) noexcept {
    open_ = false;
    asked_.emplace_back(folderSecurity);
    places_.push_back(place);
    if (Win32Error e = TakeFault(AuditOp::kOpen, {})) return e;
    if (folderSecurity.empty()) return err::kInvalidParameter;
    if (folder_ == Entry::kLink) return err::kReparsePointEncountered;
    if (folder_ == Entry::kMissing) SetFolder(Entry::kPlain, folderSecurity);
    if (folderSecurity_ != folderSecurity) return err::kAccessDenied;
    open_ = true;
    return err::kSuccess;
}

Win32Error FakeAuditStore::Append(std::string_view utf8Line) noexcept {
    ++appends_;
    if (!open_) return err::kInvalidHandle;
    if (Win32Error e = TakeFault(AuditOp::kAppend, {})) return e;
    if (utf8Line.find_first_of("\r\n") != std::string_view::npos) return err::kInvalidParameter;
    // A log another process holds open cannot be renamed: it grows beyond the rotation size.
    if (!contents_.empty() && !held_ && contents_.size() + utf8Line.size() + 1 > rotateBytes_) {
        std::rotate(rotated_, rotated_ + kAuditRotatedLogs - 1, rotated_ + kAuditRotatedLogs);
        rotated_[0] = std::exchange(contents_, {});
    }
    contents_.append(utf8Line).append("\n");
    return err::kSuccess;
}

std::string FakeAuditStore::LogPath() const {
    if (!places_.empty() && places_.back() == AuditPlace::kCurrentUser) {
        return "C:\\Documents and Settings\\operator\\Local Settings\\Application "
               "Data\\Quorvane\\audit.jsonl";
    }
    return "C:\\Documents and Settings\\All Users\\Application Data\\Quorvane\\audit.jsonl";
}

}  // namespace qv::fake
