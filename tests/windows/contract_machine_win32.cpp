// The contract tests (tests/contract) against the system's own adapters.
#include "windows_test_support.h"
// The Windows headers first (through the support header), then what builds on them.
#include <map>

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
        EXPECT_NE(file.get(), INVALID_HANDLE_VALUE) << path;
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
    std::vector<std::string> variables_;
    int hives_ = 0;
};

std::unique_ptr<ContractMachine> MakeWin32Machine() {
    return std::make_unique<Win32ContractMachine>();
}

}  // namespace

QV_INSTANTIATE_CONTRACTS(Windows, &MakeWin32Machine);

}  // namespace qv::contract
