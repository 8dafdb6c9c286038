// System port: version, libraries, current directory, environment, settings file, system message
// texts, common controls, the C runtime's time functions, the computer's name, the conversion of
// ANSI texts to UTF-8 and back, random bytes and the machine's run lock.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "base/unique_handle.h"
#include "base/win32_codes.h"
#include "port/port.h"

namespace qv {

using ModuleHandle = std::uintptr_t;  // 0 is none

struct OsVersion {
    std::uint32_t major = 0;
    std::uint32_t minor = 0;
    std::uint32_t platformId = 0;  // 1 Windows 95/98/Me, 2 NT family
};
inline constexpr std::uint32_t kVerPlatformWin32Windows = 1;
inline constexpr std::uint32_t kVerPlatformWin32Nt = 2;

// The machine's run lock (see ISystem::AcquireMachineLock); 0 is none.
using MachineLockRef = std::uintptr_t;

enum class MachineLockOutcome {
    kAcquired,  // held until released
    kBusy,      // another run still held it when the wait ended
    kFailed,    // the lock could not be created or opened (the error says why)
};

class ISystem : public Port {
  public:
    // InitCommonControls.
    virtual void InitCommonControls() noexcept = 0;
    // GetVersionExA with an OSVERSIONINFOA of 148 bytes.
    [[nodiscard]] virtual Win32Error GetVersion(OsVersion* version) noexcept = 0;
    // LoadLibraryExA(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32) / FreeLibrary / GetProcAddress:
    // a library of the system folder, never one beside the program or in the current directory.
    // LoadLibrary returns 0 on failure, and for a name with a path or a drive.
    [[nodiscard]] virtual ModuleHandle LoadLibrary(std::string_view name) noexcept = 0;
    [[nodiscard]] virtual Win32Error FreeLibrary(ModuleHandle module) noexcept = 0;
    virtual void* GetProcAddress(ModuleHandle module, std::string_view name) noexcept = 0;
    // GetCurrentDirectoryA into a buffer of bufferChars characters; 0 on failure (or when the
    // directory does not fit), else the length written. The system itself answers a directory
    // that does not fit with the size needed; that is reported as 0 here, so that no caller can
    // mistake it for a length and read a directory that was never written.
    [[nodiscard]] virtual std::uint32_t GetCurrentDirectory(std::uint32_t bufferChars,
                                                            std::string* directory) noexcept = 0;
    // ExpandEnvironmentStringsA into a buffer of bufferChars characters: 0 on failure, else the
    // characters needed including the NUL; when that exceeds bufferChars *expanded is untouched.
    [[nodiscard]] virtual std::uint32_t ExpandEnvironmentStrings(
        std::string_view source, std::uint32_t bufferChars, std::string* expanded) noexcept = 0;
    // GetEnvironmentVariableA: err::kEnvVarNotFound when the variable is not set; an empty value
    // is set.
    [[nodiscard]] virtual Win32Error GetEnvironmentVariable(std::string_view name,
                                                            std::string* value) noexcept = 0;
    // GetPrivateProfileStringA with a buffer of 4096 characters.
    virtual std::string GetPrivateProfileString(std::string_view section, std::string_view key,
                                                std::string_view defaultValue,
                                                std::string_view file) noexcept = 0;
    // FormatMessageA(FROM_SYSTEM | IGNORE_INSERTS | ALLOCATE_BUFFER, language 0x400): the system's
    // text for the code as it comes (normally ending in a line break), empty when none.
    virtual std::string FormatSystemMessage(Win32Error code) noexcept = 0;
    // time(NULL): seconds since 1970-01-01 UTC.
    virtual std::int64_t CurrentTime() noexcept = 0;
    // Sleep: the thread waits that many milliseconds.
    virtual void Sleep(std::uint32_t milliseconds) noexcept = 0;
    // The C runtime's round trip through local time: localtime, then mktime of those fields.
    // False when either step fails or the year is before 1900.
    [[nodiscard]] virtual bool LocalTimeRoundTrip(std::int64_t utcSeconds,
                                                  std::int64_t* result) noexcept = 0;
    // GetComputerNameA: the machine's NetBIOS name.
    [[nodiscard]] virtual Win32Error GetComputerName(std::string* name) noexcept = 0;
    // A text of the ANSI code page as UTF-8 (MultiByteToWideChar, then WideCharToMultiByte):
    // bytes that are no character of the code page become what the system's conversion makes of
    // them, never a broken sequence. Empty on failure.
    virtual std::string AnsiToUtf8(std::string_view ansi) noexcept = 0;
    // A UTF-8 text in the ANSI code page, the other way round: a character the code page lacks
    // becomes the code page's default character ("?"). Empty on failure.
    virtual std::string Utf8ToAnsi(std::string_view utf8) noexcept = 0;
    // Whether two texts of the ANSI code page are the same but for the case of their letters, as
    // the file systems compare names: CompareStringOrdinal with bIgnoreCase on their UTF-16 forms,
    // which folds every letter the system knows a case of, not only A to Z. A text that the code
    // page cannot convert compares by its bytes, ASCII letters folded.
    [[nodiscard]] virtual bool EqualsIgnoringCase(std::string_view a,
                                                  std::string_view b) noexcept = 0;
    // `count` bytes from the system's cryptographic random generator (RtlGenRandom).
    [[nodiscard]] virtual Win32Error GenerateRandom(unsigned char* bytes,
                                                    std::size_t count) noexcept = 0;
    // The machine's run lock: one holder at a time on the whole machine, whichever process and
    // session it runs in (a named mutex in the Global\ namespace whose access list grants SYSTEM
    // and the Administrators alone, so that no other user can open or hold it). Waits up to
    // timeoutMs milliseconds (never without end) while another holds it. kAcquired puts the lock
    // into *lock, to be released on the same thread; a holder that ended without letting go gives
    // it up (an abandoned mutex is acquired). kBusy: another holder, of another process or of this
    // one (which is busy at once: the same thread would only hold it twice), still has it.
    // kFailed: *error says why the lock could not be had (access denied to a user who is not an
    // administrator, for one).
    [[nodiscard]] virtual MachineLockOutcome AcquireMachineLock(std::uint32_t timeoutMs,
                                                                MachineLockRef* lock,
                                                                Win32Error* error) noexcept = 0;
    [[nodiscard]] virtual Win32Error ReleaseMachineLock(MachineLockRef lock) noexcept = 0;
};

// A library of LoadLibrary, freed with FreeLibrary.
using UniqueLibrary = UniqueHandle<ModuleHandle, &ISystem::FreeLibrary>;

// The machine's run lock, released with ReleaseMachineLock.
using UniqueMachineLock = UniqueHandle<MachineLockRef, &ISystem::ReleaseMachineLock>;

// A text of the ANSI code page in UTF-8, for every document the tool writes. Should the system fail
// to convert it, every byte outside ASCII becomes "?": the text stays valid UTF-8 and never shows
// a byte it could not read (bytes passed as they are could read as other characters).
inline std::string Utf8(ISystem& system, std::string_view ansi) {
    if (ansi.empty()) return std::string();
    std::string utf8 = system.AnsiToUtf8(ansi);
    if (!utf8.empty()) return utf8;
    utf8.assign(ansi);
    for (char& c : utf8) {
        if (static_cast<unsigned char>(c) >= 0x80) c = '?';
    }
    return utf8;
}

}  // namespace qv
