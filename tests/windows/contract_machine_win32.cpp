// The contract tests (tests/contract) against the system's own adapters.
#include "windows_test_support.h"
// The Windows headers first (through the support header), then what builds on them.
#include <map>
#include <vector>

#include "security/token.h"
#include "tests/contract/contract_machine.h"

namespace qv::contract {
namespace {

using namespace qv::win32;
using namespace qv::win32::testing;

class Win32ContractMachine final : public ContractMachine {
  public:
    Win32ContractMachine()
        : library_(::LoadLibraryExA(kSecurityLibrary, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32)),
          advapi32_(reinterpret_cast<ModuleHandle>(library_.get())),
          machine_(advapi32_, ::GetModuleHandleA(nullptr)) {}
    ~Win32ContractMachine() override {
        for (const std::string& name : variables_) ::SetEnvironmentVariableA(name.c_str(), nullptr);
        // A link goes only through a handle on the link itself (NtDeleteKey); the scratch key's
        // deletion by name would reach its target instead.
        using DeleteKeyCall = LONG(WINAPI*)(HANDLE);
        void* address = reinterpret_cast<void*>(
            ::GetProcAddress(::GetModuleHandleA("ntdll.dll"), "NtDeleteKey"));
        auto deleteKey = reinterpret_cast<DeleteKeyCall>(address);
        for (const std::string& path : links_) {
            UniqueSystemKey link;
            if (deleteKey != nullptr &&
                ::RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), REG_OPTION_OPEN_LINK,
                                KEY_ALL_ACCESS, link.put()) == ERROR_SUCCESS) {
                (void)deleteKey(link.get());
            }
        }
    }

    Platform& os() override { return machine_.platform(); }
    bool IsWine() const override {
        return ::GetProcAddress(::GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
    }
    std::string Folder() const override { return folder_.path(); }
    std::string KeyPath() const override { return key_.path(); }

    void MakeFile(const std::string& path, std::string_view contents,
                  std::uint32_t attributes) override {
        WriteFile(path, contents);
        if (attributes != 0) {
            EXPECT_TRUE(::SetFileAttributesA(path.c_str(), attributes)) << path;
        }
    }
    void MakeFolder(const std::string& path) override {
        EXPECT_TRUE(::CreateDirectoryA(path.c_str(), nullptr)) << path;
    }
    void HoldOpen(const std::string& path, bool held) override {
        if (!held) {
            held_.erase(path);
            return;
        }
        UniqueKernelHandle file(::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                              OPEN_EXISTING, 0, nullptr));
        EXPECT_TRUE(file) << path;
        held_[path] = std::move(file);
    }
    void SetEnv(const std::string& name, const char* value) override {
        EXPECT_TRUE(::SetEnvironmentVariableA(name.c_str(), value) || value == nullptr) << name;
        variables_.push_back(name);
    }
    void MakeHiveFile(const std::string& path) override {
        // Saved from an empty key of its own below the scratch key; saving asks for the backup
        // privilege on Windows.
        UniqueSystemKey source;
        const std::string name = "hive source " + std::to_string(++hives_);
        ASSERT_EQ(::RegCreateKeyExA(key_.get(), name.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                    nullptr, source.put(), nullptr),
                  ERROR_SUCCESS);
        // The save checks what counts: whether the privilege was there.
        (void)AdjustNamedPrivilege(os().security, true, "SeBackupPrivilege");
        EXPECT_EQ(::RegSaveKeyA(source.get(), path.c_str(), nullptr), ERROR_SUCCESS) << path;
        (void)AdjustNamedPrivilege(os().security, false, "SeBackupPrivilege");
    }
    void MakeKeyLink(const std::string& path, const std::string& target) override {
        UniqueSystemKey link;
        ASSERT_EQ(
            ::RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, REG_OPTION_CREATE_LINK,
                              KEY_ALL_ACCESS | KEY_CREATE_LINK, nullptr, link.put(), nullptr),
            ERROR_SUCCESS)
            << path;
        links_.push_back(path);
        // The target's absolute name, in UTF-16 without a terminating NUL.
        const std::string name = "\\Registry\\User\\" + TokenUserSidText() + "\\" + target;
        const std::wstring wide(name.begin(), name.end());
        EXPECT_EQ(::RegSetValueExW(link.get(), L"SymbolicLinkValue", 0, REG_LINK,
                                   reinterpret_cast<const BYTE*>(wide.data()),
                                   static_cast<DWORD>(wide.size() * sizeof(wchar_t))),
                  ERROR_SUCCESS);
    }
    void LetTimePass() override {
        // Longer than the system clock's tick (15.6 ms on Windows).
        ::Sleep(50);
    }

  private:
    UniqueModule library_;
    ModuleHandle advapi32_;
    Win32Platform machine_;
    ScratchFolder folder_;
    ScratchKey key_;
    std::map<std::string, UniqueKernelHandle> held_;
    std::vector<std::string> links_;
    std::vector<std::string> variables_;
    int hives_ = 0;
};

std::unique_ptr<ContractMachine> MakeWin32Machine() {
    return std::make_unique<Win32ContractMachine>();
}

}  // namespace

QV_INSTANTIATE_CONTRACTS(Windows, &MakeWin32Machine);

}  // namespace qv::contract
