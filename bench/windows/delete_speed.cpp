// The cost of deleting a tree of small files with the tool's deleter, against the shell's deletion
// (SHFileOperationA FO_DELETE) of the same tree on the same machine. Each round builds the tree,
// deletes it one way, builds it again and deletes it the other way; the order alternates between
// rounds so that neither way always meets a warmer file system. Prints the median time of each
// way and their ratio, and where the deleter's time went: the calls it made to the handle port,
// how many and how long they took.
//   qv_delete_speed.exe [rounds [folders [files per folder]]]     (default 5 rounds, 100 x 100)
// Exit code: 0 measured, 1 a build or a deletion failed, 2 bad arguments.
#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "cleanup/deleter.h"
#include "cleanup/journal.h"
#include "speed_support.h"
#include "win32/win32_file_handles.h"
#include "win32/win32_handles.h"
#include "win32/windows_api.h"

namespace {

using qv::bench::Argument;
using qv::bench::Median;
using qv::bench::Now;

using qv::win32::UniqueKernelHandle;

bool Exists(const std::string& path) {
    return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// `tree` with `folders` folders of `files` files of a few bytes each.
bool BuildTree(const std::string& tree, int folders, int files) {
    if (!::CreateDirectoryA(tree.c_str(), nullptr)) return false;
    for (int f = 0; f < folders; ++f) {
        const std::string folder = tree + "\\d" + std::to_string(f);
        if (!::CreateDirectoryA(folder.c_str(), nullptr)) return false;
        for (int i = 0; i < files; ++i) {
            const std::string path = folder + "\\f" + std::to_string(i) + ".txt";
            UniqueKernelHandle file(::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr,
                                                  CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
            if (!file) return false;
            DWORD written = 0;
            if (!::WriteFile(file.get(), "data", 4, &written, nullptr)) return false;
        }
    }
    return true;
}

bool ShellDelete(const std::string& tree) {
    std::string from = tree;
    from.push_back('\0');  // the list of sources ends with a second NUL
    SHFILEOPSTRUCTA operation{};
    operation.wFunc = FO_DELETE;
    operation.pFrom = from.c_str();
    operation.fFlags = FOF_NOCONFIRMATION | FOF_NOERRORUI;
    int result = ::SHFileOperationA(&operation);
    if (result != 0) std::fprintf(stderr, "the shell's deletion answered %d\n", result);
    return result == 0;
}

// The handle port on the system, with the count and the time of every call.
class TimedHandles final : public qv::IFileHandles {
  public:
    // The names the report gives the port's calls, in the order of qv::HandleOp.
    static constexpr const char* kNames[qv::kHandleOpCount] = {
        "OpenFolder",     "OpenRelative",  "QueryFacts",    "ListFolder",      "SetAttributes",
        "DeleteByHandle", "Close",         "CreateFolder",  "CheckProtection", "Rename",
        "WriteWholeFile", "ReadWholeFile", "QueryIdentity", "AppendToFile"};

    qv::Win32Error OpenFolder(std::string_view path, qv::FileRef* handle) noexcept override {
        Timer t(this, qv::HandleOp::kOpenFolder);
        return system_->OpenFolder(path, handle);
    }
    qv::Win32Error OpenRelative(qv::FileRef folder, std::string_view name, std::uint32_t intent,
                                qv::FileRef* handle) noexcept override {
        Timer t(this, qv::HandleOp::kOpenRelative);
        return system_->OpenRelative(folder, name, intent, handle);
    }
    qv::Win32Error QueryFacts(qv::FileRef handle, qv::FileFacts* facts) noexcept override {
        Timer t(this, qv::HandleOp::kQueryFacts);
        return system_->QueryFacts(handle, facts);
    }
    qv::Win32Error ListFolder(qv::FileRef folder, std::string_view mask,
                              std::vector<qv::FolderEntry>* entries) noexcept override {
        Timer t(this, qv::HandleOp::kListFolder);
        return system_->ListFolder(folder, mask, entries);
    }
    qv::Win32Error SetAttributes(qv::FileRef handle, std::uint32_t attributes) noexcept override {
        Timer t(this, qv::HandleOp::kSetAttributes);
        return system_->SetAttributes(handle, attributes);
    }
    qv::Win32Error DeleteByHandle(qv::FileRef handle) noexcept override {
        Timer t(this, qv::HandleOp::kDelete);
        return system_->DeleteByHandle(handle);
    }
    qv::Win32Error DeleteIgnoringReadOnly(qv::FileRef handle) noexcept override {
        Timer t(this, qv::HandleOp::kDelete);
        return system_->DeleteIgnoringReadOnly(handle);
    }
    qv::Win32Error QueryIdentity(qv::FileRef handle, qv::FileIdentity* identity) noexcept override {
        Timer t(this, qv::HandleOp::kQueryIdentity);
        return system_->QueryIdentity(handle, identity);
    }
    qv::Win32Error Close(qv::FileRef handle) noexcept override {
        Timer t(this, qv::HandleOp::kClose);
        return system_->Close(handle);
    }
    qv::Win32Error CreateFolder(qv::FileRef folder, std::string_view name,
                                qv::FolderProtection protection,
                                qv::FileRef* handle) noexcept override {
        Timer t(this, qv::HandleOp::kCreateFolder);
        return system_->CreateFolder(folder, name, protection, handle);
    }
    qv::Win32Error Rename(qv::FileRef handle, qv::FileRef folder,
                          std::string_view name) noexcept override {
        Timer t(this, qv::HandleOp::kRename);
        return system_->Rename(handle, folder, name);
    }
    qv::Win32Error RenameReplacing(qv::FileRef handle, qv::FileRef folder,
                                   std::string_view name) noexcept override {
        Timer t(this, qv::HandleOp::kRename);
        return system_->RenameReplacing(handle, folder, name);
    }
    qv::Win32Error WriteWholeFile(qv::FileRef folder, std::string_view name,
                                  std::string_view data) noexcept override {
        Timer t(this, qv::HandleOp::kWriteWholeFile);
        return system_->WriteWholeFile(folder, name, data);
    }
    qv::Win32Error ReadWholeFile(qv::FileRef folder, std::string_view name,
                                 std::string* data) noexcept override {
        Timer t(this, qv::HandleOp::kReadWholeFile);
        return system_->ReadWholeFile(folder, name, data);
    }
    qv::Win32Error AppendToFile(qv::FileRef folder, std::string_view name,
                                std::string_view data) noexcept override {
        Timer t(this, qv::HandleOp::kAppendToFile);
        return system_->AppendToFile(folder, name, data);
    }
    qv::Win32Error CheckProtection(qv::FileRef folder,
                                   qv::FolderProtection protection) noexcept override {
        Timer t(this, qv::HandleOp::kCheckProtection);
        return system_->CheckProtection(folder, protection);
    }
    // Not a call of the deleter or of a clean-up's backup: passed on untimed.
    qv::Win32Error CheckWriters(qv::FileRef folder, std::string_view name) noexcept override {
        return system_->CheckWriters(folder, name);
    }

    long calls[qv::kHandleOpCount] = {};
    double seconds[qv::kHandleOpCount] = {};

  private:
    struct Timer {
        Timer(TimedHandles* owner, qv::HandleOp call) : owner_(owner), call_(call), start_(Now()) {}
        ~Timer() {
            owner_->calls[static_cast<std::size_t>(call_)] += 1;
            owner_->seconds[static_cast<std::size_t>(call_)] += Now() - start_;
        }
        TimedHandles* owner_;
        qv::HandleOp call_;
        double start_;
    };

    std::unique_ptr<qv::IFileHandles> system_ = qv::win32::MakeFileHandles();
};

bool DeleterDelete(const std::string& anchor, const std::string& tree, TimedHandles* handles) {
    qv::Deleter deleter(*handles, {anchor});
    qv::DeleteReport report = deleter.DeleteTree(tree);
    if (!report.ok()) {
        std::fprintf(stderr, "the deleter stopped at %s (error %lu) %s\n", report.path.c_str(),
                     static_cast<unsigned long>(report.error), report.reason.c_str());
    }
    return report.ok();
}

// The backup of a clean-up as the deleter sees it: the checked tree moves, in one rename of its
// handle, into a folder of the run.
class FolderKeeper final : public qv::Keeper {
  public:
    FolderKeeper(qv::IFileHandles& files, qv::FileRef folder) : files_(files), folder_(folder) {}
    [[nodiscard]] qv::Win32Error Keep(qv::FileRef handle, std::uint64_t, std::string_view,
                                      std::string* where) noexcept override {
        *where = std::to_string(++count_);
        return files_.Rename(handle, folder_, *where);
    }

  private:
    qv::IFileHandles& files_;
    qv::FileRef folder_;
    unsigned count_ = 0;
};

bool KeeperDelete(const std::string& anchor, const std::string& tree, TimedHandles* handles) {
    const std::string backups = anchor + "\\backup";
    if (!::CreateDirectoryA(backups.c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS) {
        return false;
    }
    qv::UniqueFileRef folder(*handles);
    if (handles->OpenFolder(backups, folder.put()) != qv::err::kSuccess) return false;
    FolderKeeper keeper(*handles, folder.get());
    qv::Deleter deleter(*handles, {anchor}, nullptr, &keeper);
    qv::DeleteReport report = deleter.DeleteTree(tree);
    if (!report.ok()) {
        std::fprintf(stderr, "the backup stopped at %s (error %lu)\n", report.path.c_str(),
                     static_cast<unsigned long>(report.error));
    }
    return report.ok();
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = Argument(argc, argv, 1, 5);
    const int folders = Argument(argc, argv, 2, 100);
    const int files = Argument(argc, argv, 3, 100);
    if (rounds < 0 || folders < 0 || files < 0) {
        std::fprintf(stderr, "usage: %s [rounds [folders [files per folder]]]\n", argv[0]);
        return 2;
    }

    char temp[MAX_PATH] = {};
    if (::GetTempPathA(MAX_PATH, temp) == 0) return 1;
    const std::string scratch =
        std::string(temp) + "qv-delete-speed-" + std::to_string(::GetCurrentProcessId());
    const std::string tree = scratch + "\\tree";
    if (!::CreateDirectoryA(scratch.c_str(), nullptr)) {
        std::fprintf(stderr, "cannot create %s\n", scratch.c_str());
        return 1;
    }
    std::printf("tree: %d folders x %d files = %d files, %d rounds\n", folders, files,
                folders * files, rounds);

    // Each round takes the three in another order: the shell, the deleter, and the deleter that
    // keeps a backup (whose moved trees are deleted after the round, untimed).
    static const char* const kNames[] = {"shell", "deleter", "backup"};
    std::vector<double> times[3];
    TimedHandles timed;
    TimedHandles untimed;
    bool ok = true;
    for (int round = 0; round < rounds && ok; ++round) {
        for (int step = 0; step < 3 && ok; ++step) {
            const int turn = (step + round) % 3;
            if (!BuildTree(tree, folders, files)) {
                std::fprintf(stderr, "cannot build the tree in %s\n", tree.c_str());
                ok = false;
                break;
            }
            const double start = Now();
            ok = turn == 0   ? ShellDelete(tree)
                 : turn == 1 ? DeleterDelete(scratch, tree, &timed)
                             : KeeperDelete(scratch, tree, &untimed);
            const double seconds = Now() - start;
            if (ok && Exists(tree)) {
                std::fprintf(stderr, "the tree is still there after the %s\n", kNames[turn]);
                ok = false;
            }
            times[turn].push_back(seconds);
            std::printf("round %d: %-7s %8.1f ms\n", round + 1, kNames[turn], seconds * 1000);
            std::fflush(stdout);
            if (turn == 2 && Exists(scratch + "\\backup")) ShellDelete(scratch + "\\backup");
        }
    }
    // Whatever is left of a failed round.
    if (Exists(tree)) ShellDelete(tree);
    if (Exists(scratch + "\\backup")) ShellDelete(scratch + "\\backup");
    ::RemoveDirectoryA(scratch.c_str());
    const std::vector<double>& shell = times[0];
    const std::vector<double>& deleter = times[1];
    if (!ok) return 1;

    const double shellMedian = Median(shell);
    const double deleterMedian = Median(deleter);
    std::printf("shell median:   %8.1f ms\n", shellMedian * 1000);
    std::printf("deleter median: %8.1f ms\n", deleterMedian * 1000);
    std::printf("ratio (deleter / shell): %.2f\n", deleterMedian / shellMedian);
    const double backupMedian = Median(times[2]);
    std::printf("backup median:  %8.1f ms\n", backupMedian * 1000);
    std::printf("ratio (clean-up with backup / without): %.4f\n", backupMedian / deleterMedian);
    std::printf("the deleter's calls to the handle port, per round:\n");
    double total = 0;
    for (std::size_t c = 0; c < qv::kHandleOpCount; ++c) total += timed.seconds[c];
    for (std::size_t c = 0; c < qv::kHandleOpCount; ++c) {
        if (timed.calls[c] == 0) continue;
        std::printf("  %-15s %7ld calls %9.1f ms %7.1f us/call %5.1f%%\n", TimedHandles::kNames[c],
                    timed.calls[c] / rounds, timed.seconds[c] * 1000 / rounds,
                    timed.seconds[c] * 1e6 / static_cast<double>(timed.calls[c]),
                    100 * timed.seconds[c] / total);
    }
    return 0;
}
