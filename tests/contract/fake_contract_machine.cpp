// The contract tests against the fake machine.
#include "fake/fake_machine.h"
#include "tests/contract/contract_machine.h"

namespace qv::contract {
namespace {

constexpr char kFolder[] = "C:\\Contract";
constexpr char kKeyPath[] = "Software\\Quorvane contract";

class FakeContractMachine final : public ContractMachine {
  public:
    FakeContractMachine() {
        machine_.files.AddDirectory(kFolder);
        machine_.registry.CreateKey(std::string("HKCU\\") + kKeyPath);
        // As the Windows test program runs: a 64-bit program on 64-bit Windows.
        machine_.registry.SetWow64(true);
    }

    Platform& os() override { return machine_.platform(); }
    bool IsWine() const override { return false; }
    std::string Folder() const override { return kFolder; }
    std::string KeyPath() const override { return kKeyPath; }

    void MakeFile(const std::string& path, std::string_view contents,
                  std::uint32_t attributes) override {
        machine_.files.AddFile(path, contents, attributes);
    }
    void MakeFolder(const std::string& path) override { machine_.files.AddDirectory(path); }
    void HoldOpen(const std::string& path, bool held) override {
        machine_.files.SetInUse(path, held);
    }
    void SetEnv(const std::string& name, const char* value) override {
        if (value == nullptr) {
            machine_.system.UnsetEnv(name);
        } else {
            machine_.system.SetEnv(name, value);
        }
    }
    void MakeHiveFile(const std::string& path) override {
        machine_.files.AddFile(path, "regf");
        machine_.registry.CreateHiveFile(path);
    }
    void MakeKeyLink(const std::string& path, const std::string& target) override {
        machine_.registry.AddLink("HKCU\\" + path, "HKCU\\" + target);
    }
    void LetTimePass() override { machine_.system.SetNow(machine_.system.Now() + 1); }

  private:
    fake::FakeMachine machine_;
};

std::unique_ptr<ContractMachine> MakeFakeMachine() {
    return std::make_unique<FakeContractMachine>();
}

}  // namespace

QV_INSTANTIATE_CONTRACTS(Fake, &MakeFakeMachine);

}  // namespace qv::contract
