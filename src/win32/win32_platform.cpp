#include "win32/win32_platform.h"

namespace qv::win32 {

Win32Platform::Win32Platform(const ModuleHandle& advapi32, HMODULE module) noexcept
    : registryOwner_(MakeRegistry()),
      securityOwner_(MakeSecurity(advapi32)),
      filesOwner_(MakeFileSystem()),
      systemOwner_(MakeSystem()),
      handlesOwner_(MakeFileHandles()),
      registry(*registryOwner_),
      security(*securityOwner_),
      files(*filesOwner_),
      handles(*handlesOwner_),
      system(*systemOwner_),
      resources(module),
      platform_{registry, security, files, handles, system, messages, debug, resources, audit} {}

bool LeadBytesOfCodePage(UINT codePage, text::LeadByteTable* table) noexcept {
    CPINFO info{};
    if (!::GetCPInfo(codePage, &info)) return false;
    table->fill(false);
    // Pairs of inclusive bounds, ended by a pair of zeros.
    for (int i = 0; i + 1 < MAX_LEADBYTES && info.LeadByte[i] != 0; i += 2) {
        for (unsigned c = info.LeadByte[i]; c <= info.LeadByte[i + 1]; ++c) (*table)[c] = true;
    }
    return true;
}

void InstallAnsiLeadBytes() noexcept {
    text::LeadByteTable table{};
    // Should the system not describe its own code page, the built-in table (932) stays.
    if (LeadBytesOfCodePage(CP_ACP, &table)) text::SetLeadBytes(table);
}

}  // namespace qv::win32
