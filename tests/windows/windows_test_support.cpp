#include "windows_test_support.h"

#include <sddl.h>

#include <atomic>
#include <vector>

#include "plain_tree.h"

namespace qv::win32::testing {
namespace {

std::atomic<int> g_serial{0};

std::string UniqueName(const char* prefix) {
    return std::string(prefix) + std::to_string(::GetCurrentProcessId()) + "-" +
           std::to_string(++g_serial);
}

}  // namespace

std::string Cp932FromUtf8(std::string_view utf8) {
    int units =
        ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(units), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(),
                          units);
    int bytes = ::WideCharToMultiByte(932, 0, wide.data(), units, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(bytes), '\0');
    ::WideCharToMultiByte(932, 0, wide.data(), units, out.data(), bytes, nullptr, nullptr);
    return out;
}

ScratchFolder::ScratchFolder() {
    char temp[MAX_PATH] = {};
    ::GetTempPathA(MAX_PATH, temp);
    path_ = std::string(temp) + UniqueName("qvtest-");
    EXPECT_TRUE(::CreateDirectoryA(path_.c_str(), nullptr)) << path_;
}

ScratchFolder::~ScratchFolder() { RemoveTree(path_); }

void WriteFile(const std::string& path, std::string_view contents) {
    UniqueKernelHandle file(::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                          FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(file) << path;
    DWORD written = 0;
    ASSERT_TRUE(::WriteFile(file.get(), contents.data(), static_cast<DWORD>(contents.size()),
                            &written, nullptr));
}

bool Exists(const std::string& path) {
    return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

ScratchKey::ScratchKey() : path_("Software\\Quorvane tests\\" + UniqueName("key-")) {
    EXPECT_EQ(::RegCreateKeyExA(HKEY_CURRENT_USER, path_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                nullptr, key_.put(), nullptr),
              ERROR_SUCCESS);
}

ScratchKey::~ScratchKey() {
    key_.reset();
    ::RegDeleteTreeA(HKEY_CURRENT_USER, path_.c_str());
    ::RegDeleteKeyA(HKEY_CURRENT_USER, path_.c_str());
}

bool IsPrivilegeEnabled(const char* name) {
    HANDLE token = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
    UniqueKernelHandle owner(token);
    LUID luid{};
    if (!::LookupPrivilegeValueA(nullptr, name, &luid)) return false;
    DWORD size = 0;
    ::GetTokenInformation(token, TokenPrivileges, nullptr, 0, &size);
    std::vector<char> buffer(size);
    if (!::GetTokenInformation(token, TokenPrivileges, buffer.data(), size, &size)) return false;
    const auto* privileges = reinterpret_cast<const TOKEN_PRIVILEGES*>(buffer.data());
    for (DWORD i = 0; i < privileges->PrivilegeCount; ++i) {
        const LUID& l = privileges->Privileges[i].Luid;
        if (l.LowPart == luid.LowPart && l.HighPart == luid.HighPart) {
            return (privileges->Privileges[i].Attributes & SE_PRIVILEGE_ENABLED) != 0;
        }
    }
    return false;
}

std::string TokenUserSidText() {
    HANDLE token = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) return {};
    UniqueKernelHandle owner(token);
    DWORD size = 0;
    ::GetTokenInformation(token, ::TokenUser, nullptr, 0, &size);
    std::vector<char> buffer(size);
    if (!::GetTokenInformation(token, ::TokenUser, buffer.data(), size, &size)) return {};
    char* text = nullptr;
    if (!::ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, &text)) {
        return {};
    }
    UniqueLocalMemory textOwner(text);
    return text;
}

}  // namespace qv::win32::testing
