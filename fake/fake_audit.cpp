#include "fake/fake_audit.h"

#include <exception>

namespace qv::fake {

void FakeAuditStore::SetFolder(Entry entry, std::string_view security) {
    folder_ = entry;
    folderSecurity_ = entry == Entry::kPlain ? std::string(security) : std::string();
}

std::vector<std::string> FakeAuditStore::Lines() const {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < contents_.size()) {
        std::size_t end = contents_.find('\n', start);
        if (end == std::string::npos) end = contents_.size();
        lines.push_back(contents_.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

Win32Error FakeAuditStore::Open(AuditPlace place, std::string_view folderSecurity) noexcept {
    open_ = false;
    try {
        asked_.emplace_back(folderSecurity);
        places_.push_back(place);
        if (Win32Error e = TakeFault(AuditOp::kOpen, {})) return e;
        if (folderSecurity.empty()) return err::kInvalidParameter;
        switch (folder_) {
            case Entry::kLink:
                return err::kReparsePointEncountered;
            case Entry::kMissing:
                folder_ = Entry::kPlain;
                folderSecurity_ = std::string(folderSecurity);
                break;
            case Entry::kPlain:
                if (folderSecurity_ != folderSecurity) return err::kAccessDenied;
                break;
        }
    } catch (const std::exception&) {
        return err::kNotEnoughMemory;
    }
    open_ = true;
    return err::kSuccess;
}

Win32Error FakeAuditStore::Append(std::string_view utf8Line) noexcept {
    ++appends_;
    if (!open_) return err::kInvalidHandle;
    if (Win32Error e = TakeFault(AuditOp::kAppend, {})) return e;
    if (utf8Line.find_first_of("\r\n") != std::string_view::npos) return err::kInvalidParameter;
    try {
        if (!contents_.empty() && !held_ && contents_.size() + utf8Line.size() + 1 > rotateBytes_) {
            for (std::size_t n = kAuditRotatedLogs - 1; n > 0; --n) {
                rotated_[n] = std::move(rotated_[n - 1]);
            }
            rotated_[0] = std::move(contents_);
            contents_.clear();
        }
        contents_.append(utf8Line.data(), utf8Line.size());
        contents_ += '\n';
    } catch (const std::exception&) {
        return err::kNotEnoughMemory;
    }
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
