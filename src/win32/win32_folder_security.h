// Security descriptors of the folders the tool creates for its own records (the audit log's
// folder, a clean-up's backup), and the running user they may name.
#pragma once
#include "win32/windows_api.h"
// The Windows headers first, then everything that builds on them.
#include <string>
#include <vector>

#include "port/file_handles.h"
#include "win32/win32_handles.h"

namespace qv::win32 {

// The user this process runs as (TokenUser), in a buffer aligned for the entry's pointer; empty
// when the token cannot be read.
std::vector<void*> ProcessUser() noexcept;
// The SID of a ProcessUser() buffer, or null for an empty one.
PSID UserSid(const std::vector<void*>& user) noexcept;

// A self-relative security descriptor from its SDDL text, freed with LocalFree.
[[nodiscard]] Win32Error DescriptorFromSddl(const std::string& sddl,
                                            UniqueLocalMemory* descriptor) noexcept;

// The protected descriptor of a folder with `protection` (not kInherited): full access, inherited
// by everything below, for SYSTEM and the Administrators group, or for the running user alone.
[[nodiscard]] Win32Error FolderDescriptor(FolderProtection protection,
                                          UniqueLocalMemory* descriptor) noexcept;

// Whether the open folder grants no one beyond the descriptor `asked` (see below): 0, 5, or the
// error with which its security cannot be read. The handle needs READ_CONTROL.
[[nodiscard]] Win32Error CheckGrants(HANDLE folder, PSECURITY_DESCRIPTOR asked) noexcept;
// Whether the open folder is the machine's (FolderProtection::kMachine): owned by SYSTEM, the
// Administrators group, TrustedInstaller or the running user, and no one else is allowed to delete
// it or an entry in it or to change its access list or owner. 0, 5, or the error with which its
// security cannot be read. The handle needs READ_CONTROL.
[[nodiscard]] Win32Error CheckMachineFolder(HANDLE folder) noexcept;

// Whether no one but SYSTEM, the Administrators group, TrustedInstaller and the running user may
// change the open entry (see IFileHandles::CheckWriters): 0, 5, or the error with which its
// security cannot be read. The handle needs READ_CONTROL.
[[nodiscard]] Win32Error CheckWriters(HANDLE entry) noexcept;

}  // namespace qv::win32
