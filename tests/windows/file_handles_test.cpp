// The handle port on the system, beyond the contract tests (tests/contract/handles_contract.cpp):
// the volume serial the port reports, paths beyond the ANSI limit, and names the ANSI code page
// cannot hold.
#include <algorithm>
#include <memory>
#include <utility>
#include <vector>

#include "cleanup/deleter.h"
#include "tests/contract/listing.h"
#include "win32/win32_file_handles.h"
#include "windows_test_support.h"

namespace qv::win32::testing {
namespace {

using contract::Listing;

std::wstring WideFromAnsi(const std::string& text) {
    int units =
        ::MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(units), L'\0');
    ::MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(),
                          units);
    return wide;
}

// Entries made with "\\?\" paths or UTF-16 names, which the scratch folder's clean-up (ANSI paths
// of up to 260 characters) cannot remove: removed here, newest first, whatever the test did.
class WideEntries {
  public:
    WideEntries() = default;
    WideEntries(const WideEntries&) = delete;
    WideEntries& operator=(const WideEntries&) = delete;
    ~WideEntries() {
        for (auto it = paths_.rbegin(); it != paths_.rend(); ++it) {
            if (!::DeleteFileW(it->c_str())) ::RemoveDirectoryW(it->c_str());
        }
    }
    bool AddFolder(const std::wstring& path) {
        if (!::CreateDirectoryW(path.c_str(), nullptr)) return false;
        paths_.push_back(path);
        return true;
    }
    bool AddFile(const std::wstring& path) {
        UniqueKernelHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                              FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) return false;
        paths_.push_back(path);
        return true;
    }

  private:
    std::vector<std::wstring> paths_;
};

class HandlesOnSystem : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(files_->OpenFolder(dir_.path(), anchor_.put()), err::kSuccess);
    }

    IFileHandles& files() { return *files_; }

    UniqueFileRef Open(FileRef folder, std::string_view name, std::uint32_t intent,
                       Win32Error* error) {
        UniqueFileRef handle(files());
        *error = files().OpenRelative(folder, name, intent, handle.put());
        return handle;
    }

    Listing List(FileRef folder, std::string_view mask, Win32Error* error) {
        return contract::ListEntries(files(), folder, mask, error);
    }

    ScratchFolder dir_;
    std::unique_ptr<IFileHandles> files_ = MakeFileHandles();
    UniqueFileRef anchor_{*files_};
};

TEST_F(HandlesOnSystem, FactsCarryTheVolumeSerialOfTheSystem) {
    FileFacts facts;
    ASSERT_EQ(files().QueryFacts(anchor_.get(), &facts), err::kSuccess);
    BY_HANDLE_FILE_INFORMATION byHandle{};
    ASSERT_TRUE(::GetFileInformationByHandle(reinterpret_cast<HANDLE>(anchor_.get()), &byHandle));
    EXPECT_EQ(facts.volumeSerial, byHandle.dwVolumeSerialNumber);
}

TEST_F(HandlesOnSystem, FoldersBeyondThePathLimitAreReachedByRelativeOpens) {
    // Five levels of 60 characters: the deepest file's path is well over 260 characters, which the
    // path calls reach only with the "\\?\" form used here for the setup.
    const std::string level(60, 'd');
    std::wstring deep = L"\\\\?\\" + WideFromAnsi(dir_.path());
    WideEntries made;
    for (int i = 0; i < 5; ++i) {
        deep += L"\\" + WideFromAnsi(level);
        ASSERT_TRUE(made.AddFolder(deep));
    }
    ASSERT_TRUE(made.AddFile(deep + L"\\f.txt"));
    ASSERT_GT(deep.size(), 4u + 260u);

    // Down by relative opens, then everything deleted bottom up through the handles.
    std::vector<UniqueFileRef> chain;
    Win32Error error = 0;
    FileRef parent = anchor_.get();
    for (int i = 0; i < 5; ++i) {
        chain.push_back(Open(parent, level, open_intent::kList | open_intent::kDelete, &error));
        ASSERT_EQ(error, err::kSuccess) << i;
        parent = chain.back().get();
    }
    Listing deepest = List(parent, "*.txt", &error);
    ASSERT_EQ(error, err::kSuccess);
    ASSERT_EQ(deepest.size(), 1u);
    EXPECT_EQ(deepest[0].first, "f.txt");
    UniqueFileRef file = Open(parent, "f.txt", open_intent::kDelete, &error);
    ASSERT_EQ(error, err::kSuccess);
    EXPECT_EQ(files().DeleteByHandle(file.get()), err::kSuccess);
    file.reset();
    while (!chain.empty()) {
        EXPECT_EQ(files().DeleteByHandle(chain.back().get()), err::kSuccess) << chain.size();
        chain.pop_back();
    }
    EXPECT_FALSE(Exists(dir_ / level));
}

// A deep chain of folders, far beyond the path limit, with a read-only file at the bottom goes
// whole through the deleter and the system's own calls: the walk keeps one handle a level and
// grows no stack with the depth, and a read-only file goes (under Wine after its attribute is
// cleared, since Wine does not know the flag that ignores it). Wine resolves every relative open
// through the whole path, so each level costs more than the one above it: the chain stops at a
// depth a test run can afford, or earlier where the system refuses the next level.
TEST_F(HandlesOnSystem, DeepTreeFarBeyondThePathLimitGoesWholeThroughTheDeleter) {
    constexpr int kMostLevels = 600;
    int levels = 0;
    {
        UniqueFileRef folder(files());
        ASSERT_EQ(
            files().CreateFolder(anchor_.get(), "d", FolderProtection::kInherited, folder.put()),
            err::kSuccess);
        for (levels = 1; levels < kMostLevels; ++levels) {
            UniqueFileRef next(files());
            if (files().CreateFolder(folder.get(), "d", FolderProtection::kInherited, next.put()) !=
                err::kSuccess) {
                (void)next.release();  // a failed create hands out no handle
                break;
            }
            folder = std::move(next);
        }
        ASSERT_EQ(files().WriteWholeFile(folder.get(), "locked.txt", "x"), err::kSuccess);
        Win32Error error = 0;
        UniqueFileRef file = Open(folder.get(), "locked.txt", open_intent::kDelete, &error);
        ASSERT_EQ(error, err::kSuccess);
        ASSERT_EQ(files().SetAttributes(file.get(), fa::kReadOnly), err::kSuccess);
    }
    ASSERT_GT(levels, 300);

    Deleter deleter(files(), {dir_.path()});
    const DeleteReport report = deleter.DeleteTree(dir_.path() + "\\d");
    EXPECT_EQ(report.outcome, DeleteOutcome::kDeleted) << levels << " levels: " << report.path;
    EXPECT_FALSE(Exists(dir_ / "d"));
}

TEST_F(HandlesOnSystem, NameTheCodePageCannotHoldFailsTheListing) {
    // "café.txt" would come out of the ANSI code page 932 as "cafe.txt" or "caf?.txt": another
    // name, or none.
    WriteFile(dir_ / "cafe.txt", "e");
    WideEntries made;
    ASSERT_TRUE(made.AddFile(WideFromAnsi(dir_.path()) + L"\\caf\u00E9.txt"));

    Win32Error error = 0;
    Listing all = List(anchor_.get(), "*", &error);
    EXPECT_EQ(error, static_cast<Win32Error>(ERROR_NO_UNICODE_TRANSLATION));
    EXPECT_EQ(all, Listing{});
    Listing plain = List(anchor_.get(), "cafe*", &error);
    EXPECT_EQ(error, err::kSuccess);
    EXPECT_EQ(plain, (Listing{{"cafe.txt", FILE_ATTRIBUTE_ARCHIVE}}));
}

}  // namespace
}  // namespace qv::win32::testing
