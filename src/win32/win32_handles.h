// Owners for the Win32 handles that the adapters themselves open and close (and the Windows tests
// and measurements beside them), and the conversions between the core's handle values and the
// system's.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "base/unique_handle.h"
#include "port/registry.h"
#include "port/window.h"
#include "win32/windows_api.h"
// After <windows.h>: the NT calls' types and RtlNtStatusToDosError.
#include <winternl.h>

namespace qv::win32 {

// The system's close functions, each in a function of the tool's own (the address of an imported
// function is no constant a template can take).
inline int FreeLocalMemory(HLOCAL h) noexcept { return ::LocalFree(h) == nullptr ? 0 : 1; }
inline BOOL DestroyOwnWindow(HWND h) noexcept { return ::DestroyWindow(h); }
inline BOOL FreeLoadedLibrary(HMODULE h) noexcept { return ::FreeLibrary(h); }
inline BOOL CloseKernelHandle(HANDLE h) noexcept { return ::CloseHandle(h); }
inline LONG CloseSystemKey(HKEY h) noexcept { return ::RegCloseKey(h); }
inline BOOL EndSearch(HANDLE h) noexcept { return ::FindClose(h); }

// A buffer the system allocated with LocalAlloc (FormatMessageA's ALLOCATE_BUFFER).
using UniqueLocalMemory = UniqueHandle<HLOCAL, &FreeLocalMemory>;
// A window this process created and must destroy.
using UniqueWindow = UniqueHandle<HWND, &DestroyOwnWindow>;
// A library loaded with LoadLibraryA.
using UniqueModule = UniqueHandle<HMODULE, &FreeLoadedLibrary>;
// A kernel object handle (process, file) closed with CloseHandle. Null and INVALID_HANDLE_VALUE
// (what a failed CreateFile gives) are both no handle: the owner takes what the call returned.
using UniqueKernelHandle = UniqueHandle<HANDLE, &CloseKernelHandle, InvalidValue::kNullOrMinusOne>;
// A registry key opened with the system's own calls, not through the registry port (the tests and
// the measurements, which prepare the machine beside the tool).
using UniqueSystemKey = UniqueHandle<HKEY, &CloseSystemKey>;
// A search begun with FindFirstFileA; a failed start (INVALID_HANDLE_VALUE) owns nothing.
using UniqueSearch = UniqueHandle<HANDLE, &EndSearch, InvalidValue::kNullOrMinusOne>;

// BeginPaint ... EndPaint for one WM_PAINT.
class PaintScope {
  public:
    explicit PaintScope(HWND window) noexcept : window_(window), dc_(::BeginPaint(window, &ps_)) {}
    PaintScope(const PaintScope&) = delete;
    PaintScope& operator=(const PaintScope&) = delete;
    ~PaintScope() { ::EndPaint(window_, &ps_); }
    HDC dc() const noexcept { return dc_; }

  private:
    HWND window_;
    PAINTSTRUCT ps_{};
    HDC dc_;
};

// The system's functions take NUL-terminated texts; a text with a NUL inside would reach them cut
// short and name something else (a parent folder, a parent key, or for the shell a second path).
// Such texts are refused instead: false when `text` holds a NUL.
inline bool ToSystemText(std::string_view text, std::string* out) {
    if (text.find('\0') != std::string_view::npos) return false;
    out->assign(text.data(), text.size());
    return true;
}

// The core writes the predefined registry roots as their 32-bit values (0x80000002); on 64-bit
// Windows the system's HKEY_LOCAL_MACHINE is that value sign-extended. Other handles pass as they
// are (real key handles are small values, never in the predefined range).
inline HKEY ToSystemKey(HKey key) noexcept {
    if (IsPredefinedKey(key)) {
        return reinterpret_cast<HKEY>(static_cast<LONG_PTR>(static_cast<LONG>(key)));
    }
    return reinterpret_cast<HKEY>(key);
}
inline HKey FromSystemKey(HKEY key) noexcept {
    auto value = reinterpret_cast<std::uintptr_t>(key);
    auto low = static_cast<std::uint32_t>(value);
    if (static_cast<std::uintptr_t>(static_cast<LONG_PTR>(static_cast<LONG>(low))) == value &&
        IsPredefinedKey(low)) {
        return low;
    }
    return value;
}

// An NT call's status as the port's Win32 error code: 0 for success, else the code the system
// maps it to.
[[nodiscard]] inline Win32Error FromStatus(NTSTATUS status) noexcept {
    return status == 0 ? err::kSuccess : static_cast<Win32Error>(::RtlNtStatusToDosError(status));
}

inline HWND ToSystemWindow(WindowRef window) noexcept { return reinterpret_cast<HWND>(window); }
inline WindowRef FromSystemWindow(HWND window) noexcept {
    return reinterpret_cast<WindowRef>(window);
}

}  // namespace qv::win32
