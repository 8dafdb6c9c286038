// The contract tests: one suite of the machine's behaviour that the core relies on, run against
// the fake machine (natively, tests/contract/fake_contract_machine.cpp) and against the system's
// own adapters (in the Windows test program, tests/windows/contract_machine_win32.cpp). When the
// two disagree, one of them is wrong; the fake follows Windows, and where Wine answers otherwise
// than Windows the test accepts Wine's answer under IsWine() and names the difference.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "base/interface.h"
#include "port/platform.h"

namespace qv::contract {

// What a contract test needs of a machine besides its ports: a folder and a key it may fill, and
// the setup that the ports cannot do. Everything it makes is gone when the machine is.
class ContractMachine : public Interface {
  public:
    virtual Platform& os() = 0;
    // Whether the machine is Wine rather than Windows.
    virtual bool IsWine() const = 0;
    // An empty folder: an absolute path without a trailing "\".
    virtual std::string Folder() const = 0;
    // An empty key below HKEY_CURRENT_USER, as a path relative to it.
    virtual std::string KeyPath() const = 0;

    // A file with these contents and attributes (fa::kReadOnly, fa::kHidden; 0 for a plain file).
    virtual void MakeFile(const std::string& path, std::string_view contents,
                          std::uint32_t attributes = 0) = 0;
    virtual void MakeFolder(const std::string& path) = 0;
    // Another process holds the file open without sharing delete access, or lets it go again.
    virtual void HoldOpen(const std::string& path, bool held) = 0;
    // Sets a variable of the process's environment; null removes it.
    virtual void SetEnv(const std::string& name, const char* value) = 0;
    // A hive file whose root key is empty, as the system saves one.
    virtual void MakeHiveFile(const std::string& path) = 0;
    // A registry link at `path` to the existing key `target`, both below HKEY_CURRENT_USER.
    virtual void MakeKeyLink(const std::string& path, const std::string& target) = 0;
    // Lets the registry's clock move on, so that a key stamped from now on carries a later time.
    virtual void LetTimePass() = 0;
};

using MachineFactory = std::unique_ptr<ContractMachine> (*)();

class ContractTest : public ::testing::TestWithParam<MachineFactory> {
  protected:
    void SetUp() override { machine_ = GetParam()(); }
    void TearDown() override { machine_.reset(); }

    ContractMachine& machine() { return *machine_; }
    Platform& os() { return machine_->os(); }
    std::string InFolder(std::string_view name) {
        return machine_->Folder() + "\\" + std::string(name);
    }

  private:
    std::unique_ptr<ContractMachine> machine_;
};

class RegistryContract : public ContractTest {};
class FilesContract : public ContractTest {};
class HandlesContract : public ContractTest {};
class SecurityContract : public ContractTest {};
class SystemContract : public ContractTest {};

// Runs every contract test against the machines that `factory` makes; the tests are then named
// "<prefix>/RegistryContract.<test>/0" and so on. Use inside namespace qv::contract.
#define QV_INSTANTIATE_CONTRACTS(prefix, factory)                                   \
    INSTANTIATE_TEST_SUITE_P(prefix, RegistryContract, ::testing::Values(factory)); \
    INSTANTIATE_TEST_SUITE_P(prefix, FilesContract, ::testing::Values(factory));    \
    INSTANTIATE_TEST_SUITE_P(prefix, HandlesContract, ::testing::Values(factory));  \
    INSTANTIATE_TEST_SUITE_P(prefix, SecurityContract, ::testing::Values(factory)); \
    INSTANTIATE_TEST_SUITE_P(prefix, SystemContract, ::testing::Values(factory))

}  // namespace qv::contract
