// The machine as the Windows build sees it: one of each adapter, wired into a Platform, and the
// ANSI code page's lead bytes for qv::text.
#pragma once
#include <memory>

#include "win32/windows_api.h"
// The Windows headers first, then everything that builds on them.
#include "base/text.h"
#include "port/platform.h"
#include "win32/win32_audit.h"
#include "win32/win32_file_handles.h"
#include "win32/win32_files.h"
#include "win32/win32_registry.h"
#include "win32/win32_security.h"
#include "win32/win32_system.h"

namespace qv::win32 {

class Win32Platform {
  public:
    // `advapi32` is the field in which start-up keeps the security library's handle; `module`
    // is the module whose resources the tool reads (its own executable).
    Win32Platform(const ModuleHandle& advapi32, HMODULE module) noexcept;
    Win32Platform(const Win32Platform&) = delete;
    Win32Platform& operator=(const Win32Platform&) = delete;

    Platform& platform() noexcept { return platform_; }

  private:
    // The adapters known only by their ports; declared before the references below, which are
    // bound to them.
    std::unique_ptr<IRegistry> registryOwner_;
    std::unique_ptr<ISecurity> securityOwner_;
    std::unique_ptr<IFileSystem> filesOwner_;
    std::unique_ptr<ISystem> systemOwner_;
    std::unique_ptr<IFileHandles> handlesOwner_;

  public:
    IRegistry& registry;
    ISecurity& security;
    IFileSystem& files;
    IFileHandles& handles;
    ISystem& system;
    Win32MessageBoxes messages;
    Win32DebugOutput debug;
    Win32Resources resources;
    Win32AuditStore audit;

  private:
    Platform platform_;
};

// The lead bytes of `codePage` (GetCPInfo); false when the system does not know the code page.
[[nodiscard]] bool LeadBytesOfCodePage(UINT codePage, text::LeadByteTable* table) noexcept;
// Installs the lead bytes of the process's ANSI code page into qv::text. Start-up does this
// before anything compares or splits a text.
void InstallAnsiLeadBytes() noexcept;

}  // namespace qv::win32
