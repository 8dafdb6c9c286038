#include "win32/win32_folder_security.h"

#include <aclapi.h>
#include <sddl.h>

#include <iterator>
#include <new>

namespace qv::win32 {
namespace {

// Whether the DACL allows `sid` anything.
bool Allows(const ACL* dacl, PSID sid) noexcept {
    if (dacl == nullptr || sid == nullptr) return false;
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        void* ace = nullptr;
        if (!::GetAce(const_cast<ACL*>(dacl), i, &ace)) return false;
        const auto* header = static_cast<const ACE_HEADER*>(ace);
        if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) continue;
        auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
        if (::EqualSid(&allowed->SidStart, sid)) return true;
    }
    return false;
}

bool IsUser(const std::vector<void*>& user, PSID sid) noexcept {
    return UserSid(user) != nullptr && sid != nullptr && ::EqualSid(UserSid(user), sid);
}

// The owner and the DACL of the open file or folder; both point into *held, which owns the
// descriptor they were read from. A null DACL is no DACL at all.
[[nodiscard]] Win32Error ReadOwnerAndDacl(HANDLE entry, PSID* owner, PACL* dacl,
                                          UniqueLocalMemory* held) noexcept {
    PSECURITY_DESCRIPTOR raw = nullptr;
    DWORD r = ::GetSecurityInfo(entry, SE_FILE_OBJECT,
                                OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, owner,
                                nullptr, dacl, nullptr, &raw);
    if (r != ERROR_SUCCESS) return r;
    *held = UniqueLocalMemory(raw);
    return err::kSuccess;
}

}  // namespace

std::vector<void*> ProcessUser() noexcept {
    std::vector<void*> buffer;
    HANDLE raw = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &raw)) return buffer;
    UniqueKernelHandle token(raw);
    // The first call only learns the length; it fails by design for want of a buffer.
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
    *descriptor = UniqueLocalMemory(raw);
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
                UniqueLocalMemory held(text);
                return DescriptorFromSddl(std::string("D:P(A;OICI;FA;;;") + text + ")", descriptor);
            }
            case FolderProtection::kInherited:
            case FolderProtection::kMachine:
                break;
        }
    } catch (const std::bad_alloc&) {
        return err::kNotEnoughMemory;
    }
    return err::kInvalidParameter;
}

// A folder is the tool's only when it grants no one beyond the descriptor asked for: its owner
// (who may change its DACL at will) and every trustee that an ACE allows anything are trustees of
// that descriptor or the running user himself. ProgramData lets every user create folders, so a
// folder of this name made by someone else, or opened up since, is refused rather than written
// to or read. The running user is accepted because Wine keeps no descriptor for a file: it answers
// one made from the Unix mode bits, which names the user where the descriptor named a group of
// his; on Windows he is one of the administrators the descriptor names, or the folder's owner.
Win32Error CheckGrants(HANDLE folder, PSECURITY_DESCRIPTOR asked) noexcept {
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL wanted = nullptr;
    if (!::GetSecurityDescriptorDacl(asked, &present, &wanted, &defaulted)) {
        return ::GetLastError();
    }
    if (!present || wanted == nullptr) return err::kInvalidParameter;

    PSID owner = nullptr;
    PACL dacl = nullptr;
    UniqueLocalMemory held;
    if (Win32Error e = ReadOwnerAndDacl(folder, &owner, &dacl, &held); e != err::kSuccess) return e;

    // No DACL at all grants everyone everything.
    if (dacl == nullptr) return err::kAccessDenied;
    const std::vector<void*> user = ProcessUser();
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        void* ace = nullptr;
        if (!::GetAce(dacl, i, &ace)) return ::GetLastError();
        const auto* header = static_cast<const ACE_HEADER*>(ace);
        if (header->AceType == ACCESS_DENIED_ACE_TYPE) continue;
        // Object, callback and conditional entries are not ours to judge: refused.
        if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) return err::kAccessDenied;
        PSID trustee = &static_cast<ACCESS_ALLOWED_ACE*>(ace)->SidStart;
        if (!Allows(wanted, trustee) && !IsUser(user, trustee)) return err::kAccessDenied;
    }
    if (!Allows(wanted, owner) && !IsUser(user, owner)) return err::kAccessDenied;
    return err::kSuccess;
}

namespace {

// Whether no one but SYSTEM, the Administrators group, TrustedInstaller (the system's servicing
// account, which owns the system's own folders and may change them) and the running user holds
// any of `rights` on the open entry: its owner (who may change its access list at will) is one of
// them, and so is every trustee an entry of its access list allows one of `rights`. Entries only
// for what is created below (CREATOR OWNER's among them) grant nothing on the entry itself;
// object, callback and conditional entries are not ours to judge and refuse it; no access list at
// all lets everyone do everything. Wine keeps no descriptor for a file it did not get one for: it
// answers one made from the Unix mode bits, owned by the running user, with an entry from the
// owner's bits and one for Everyone from the others' (the group's are left out), so an entry that
// others may write (o+w) is refused there.
[[nodiscard]] Win32Error CheckHolders(HANDLE entry, ACCESS_MASK rights) noexcept {
    static const char* const kTrusted[] = {
        "S-1-5-18",
        "S-1-5-32-544",
        "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464",
    };
    UniqueLocalMemory trusted[std::size(kTrusted)];
    for (std::size_t i = 0; i < std::size(kTrusted); ++i) {
        PSID sid = nullptr;
        if (!::ConvertStringSidToSidA(kTrusted[i], &sid)) return ::GetLastError();
        trusted[i] = UniqueLocalMemory(sid);
    }
    const std::vector<void*> user = ProcessUser();
    if (UserSid(user) == nullptr) return ERROR_NO_TOKEN;
    auto isTrusted = [&](PSID sid) {
        if (sid == nullptr || !::IsValidSid(sid)) return false;
        if (::EqualSid(UserSid(user), sid)) return true;
        for (const UniqueLocalMemory& known : trusted) {
            if (::EqualSid(known.get(), sid)) return true;
        }
        return false;
    };

    PSID owner = nullptr;
    PACL dacl = nullptr;
    UniqueLocalMemory held;
    if (Win32Error e = ReadOwnerAndDacl(entry, &owner, &dacl, &held); e != err::kSuccess) return e;

    if (!isTrusted(owner) || dacl == nullptr) return err::kAccessDenied;
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        void* ace = nullptr;
        if (!::GetAce(dacl, i, &ace)) return ::GetLastError();
        const auto* header = static_cast<const ACE_HEADER*>(ace);
        if (header->AceType == ACCESS_DENIED_ACE_TYPE) continue;
        if ((header->AceFlags & INHERIT_ONLY_ACE) != 0) continue;
        if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) return err::kAccessDenied;
        const auto* allowed = static_cast<const ACCESS_ALLOWED_ACE*>(ace);
        if ((allowed->Mask & rights) == 0) continue;
        if (!isTrusted(const_cast<DWORD*>(&allowed->SidStart))) return err::kAccessDenied;
    }
    return err::kSuccess;
}

}  // namespace

// Whoever else may change a settings file could have chosen what an elevated run reads: every
// right that changes the entry counts, its data (for a folder: add a file or a folder), its
// attributes and extended attributes, its existence (delete it, or a child of a folder), its
// access list and its owner, and the generic rights that include any of them.
Win32Error CheckWriters(HANDLE entry) noexcept {
    return CheckHolders(entry, FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA |
                                   FILE_DELETE_CHILD | FILE_WRITE_ATTRIBUTES | DELETE | WRITE_DAC |
                                   WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL);
}

// A folder of the machine's may let others add to it, as below %ProgramData% it does; only the
// rights that change the folder or what is in it count: deleting it or an entry of it, and
// changing its access list or owner (GENERIC_ALL holds them all).
Win32Error CheckMachineFolder(HANDLE folder) noexcept {
    return CheckHolders(folder, DELETE | WRITE_DAC | WRITE_OWNER | FILE_DELETE_CHILD | GENERIC_ALL);
}

}  // namespace qv::win32
