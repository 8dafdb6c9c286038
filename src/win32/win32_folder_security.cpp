#include "win32/win32_folder_security.h"

#include <sddl.h>

#include <new>

namespace qv::win32 {

std::vector<void*> ProcessUser() noexcept {
    std::vector<void*> buffer;
    HANDLE raw = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &raw)) return buffer;
    UniqueKernelHandle token(KernelHandleCloser{}, raw);
    DWORD length = 0;
    (void)::GetTokenInformation(token.get(), TokenUser, nullptr, 0, &length);
    if (length < sizeof(TOKEN_USER)) return buffer;
    try {
        buffer.resize(length / sizeof(void*) + 1);
    } catch (const std::bad_alloc&) {
        return buffer;
    }
    if (!::GetTokenInformation(token.get(), TokenUser, buffer.data(), length, &length)) {
        buffer.clear();
    }
    return buffer;
}

PSID UserSid(const std::vector<void*>& user) noexcept {
    return user.empty() ? nullptr : reinterpret_cast<const TOKEN_USER*>(user.data())->User.Sid;
}

Win32Error DescriptorFromSddl(const std::string& sddl, UniqueLocalMemory* descriptor) noexcept {
    PSECURITY_DESCRIPTOR raw = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl.c_str(), SDDL_REVISION_1, &raw,
                                                                nullptr)) {
        return ::GetLastError();
    }
    *descriptor = UniqueLocalMemory(LocalMemoryCloser{}, raw);
    return err::kSuccess;
}

Win32Error FolderDescriptor(FolderProtection protection, UniqueLocalMemory* descriptor) noexcept {
    try {
        // "P": the folder takes nothing from its parent; "OICI": files and folders below inherit.
        switch (protection) {
            case FolderProtection::kAdministratorsOnly:
                return DescriptorFromSddl("D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)", descriptor);
            case FolderProtection::kCurrentUserOnly: {
                const std::vector<void*> user = ProcessUser();
                PSID sid = UserSid(user);
                if (sid == nullptr) return ERROR_NO_TOKEN;
                char* text = nullptr;
                if (!::ConvertSidToStringSidA(sid, &text)) return ::GetLastError();
                UniqueLocalMemory held(LocalMemoryCloser{}, text);
                return DescriptorFromSddl(std::string("D:P(A;OICI;FA;;;") + text + ")", descriptor);
            }
            case FolderProtection::kInherited:
                break;
        }
    } catch (const std::bad_alloc&) {
        return err::kNotEnoughMemory;
    }
    return err::kInvalidParameter;
}

}  // namespace qv::win32
