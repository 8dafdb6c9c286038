// Helpers of the Windows tests: a machine of real adapters, and scratch folders and keys that are
// removed again whatever the test does.
#pragma once
#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "win32/win32_handles.h"
#include "win32/win32_platform.h"
#include "win32/windows_api.h"

namespace qv::win32::testing {

// The security library loaded as start-up loads it, and the real adapters bound to it.
class RealMachine : public ::testing::Test {
  protected:
    RealMachine()
        : library_(::LoadLibraryExA(kSecurityLibrary, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32)),
          advapi32_(reinterpret_cast<ModuleHandle>(library_.get())),
          machine_(advapi32_, ::GetModuleHandleA(nullptr)) {}

    Platform& os() { return machine_.platform(); }

    UniqueModule library_;
    ModuleHandle advapi32_;
    Win32Platform machine_;
};

// Text converted by the system from UTF-8 to the ANSI code page 932.
std::string Cp932FromUtf8(std::string_view utf8);

// A new empty folder below the temporary folder, deleted with its contents at the end.
class ScratchFolder {
  public:
    ScratchFolder();
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    const std::string& path() const { return path_; }
    std::string operator/(std::string_view name) const { return path_ + "\\" + std::string(name); }

  private:
    std::string path_;
};

void WriteFile(const std::string& path, std::string_view contents);
bool Exists(const std::string& path);

// HKEY_CURRENT_USER\Software\Quorvane tests\<unique>, deleted with its sub keys at the end. The
// open key makes it an owner that cannot be copied.
class ScratchKey {
  public:
    ScratchKey();
    ~ScratchKey();
    HKEY get() const { return key_.get(); }
    const std::string& path() const { return path_; }  // below HKEY_CURRENT_USER

  private:
    std::string path_;
    UniqueSystemKey key_;
};

// Whether a privilege is enabled in the process token, read with the system's own calls.
bool IsPrivilegeEnabled(const char* name);
// The running user's SID text, from the token (TokenUser) and the system's SID formatting.
std::string TokenUserSidText();

}  // namespace qv::win32::testing
