#include "win32/win32_system.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <climits>
#include <cstring>
#include <ctime>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "base/text.h"
#include "win32/win32_folder_security.h"
#include "win32/win32_handles.h"

namespace qv::win32 {
namespace {

constexpr DWORD kProfileStringChars = 4096;
constexpr DWORD kSystemMessageFlags =
    FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
static_assert(kSystemMessageFlags == 0x1300);
constexpr DWORD kNeutralDefaultLanguage = MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT);
static_assert(kNeutralDefaultLanguage == 0x400);
static_assert(sizeof(OSVERSIONINFOA) == 148);

HMODULE ToSystemModule(ModuleHandle module) noexcept { return reinterpret_cast<HMODULE>(module); }

// A text of the ANSI code page as UTF-16; false when a byte is no character of the code page (or
// the text is too long for one call), so that no stand-in character can make two names equal.
bool ToExactWide(std::string_view text, std::wstring* wide) noexcept {
    wide->clear();
    if (text.empty()) return true;
    if (text.size() > static_cast<std::size_t>(INT_MAX)) return false;
    const int bytes = static_cast<int>(text.size());
    try {
        const int units =
            ::MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, text.data(), bytes, nullptr, 0);
        if (units <= 0) return false;
        wide->resize(static_cast<std::size_t>(units));
        return ::MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, text.data(), bytes, wide->data(),
                                     units) == units;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

// RtlGenRandom: advapi32's SystemFunction036, which the system forwards to another library
// (cryptbase, no KnownDLL). Imported, that library would be looked for while the loader resolves
// the program's imports, beside the program too; resolved here, at the first call, it is looked
// for where the program's libraries come from by then, the system folder alone (and bcrypt, no
// KnownDLL either, is not imported at all).
using RandomFunction = BOOLEAN(WINAPI*)(PVOID buffer, ULONG length);
RandomFunction Random() noexcept {
    static const RandomFunction function = [] {
        HMODULE advapi32 = ::GetModuleHandleA("advapi32.dll");
        if (advapi32 == nullptr) return RandomFunction{nullptr};
        return reinterpret_cast<RandomFunction>(
            reinterpret_cast<void*>(::GetProcAddress(advapi32, "SystemFunction036")));
    }();
    return function;
}

// The machine's run lock: a mutex in the namespace every session shares, which SYSTEM and the
// Administrators alone may open ("P": nothing inherited; GA: all access). A user who is not an
// administrator can neither open it nor, from an interactive session, create an object in
// Global\ before the tool does.
constexpr char kMachineLockName[] = "Global\\Quorvane.MachineRun";
constexpr char kMachineLockSddl[] = "D:P(A;;GA;;;SY)(A;;GA;;;BA)";
// Whether this process holds the lock. A mutex is the thread's own: a second wait of the same
// thread would succeed at once, so a second holder in this process is refused here instead.
std::atomic<bool> g_machineLockHeld{false};

class Win32System final : public ISystem {
  public:
    void InitCommonControls() noexcept override { ::InitCommonControls(); }

    [[nodiscard]] Win32Error GetVersion(OsVersion* version) noexcept override {
        OSVERSIONINFOA info{};
        info.dwOSVersionInfoSize = sizeof info;
        if (!::GetVersionExA(&info)) return ::GetLastError();
        version->major = info.dwMajorVersion;
        version->minor = info.dwMinorVersion;
        version->platformId = info.dwPlatformId;
        return err::kSuccess;
    }

    [[nodiscard]] ModuleHandle LoadLibrary(std::string_view name) noexcept override {
        std::string text;
        if (!ToSystemText(name, &text)) return 0;
        // A name with a path or a drive would be loaded from where it points, whatever the flags.
        if (text.find_first_of("\\/:") != std::string::npos) {
            ::SetLastError(ERROR_INVALID_PARAMETER);
            return 0;
        }
        // The system folder alone: neither the program's folder nor the current directory, which
        // someone else may have written a library of that name into.
        return reinterpret_cast<ModuleHandle>(
            ::LoadLibraryExA(text.c_str(), nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32));
    }

    [[nodiscard]] Win32Error FreeLibrary(ModuleHandle module) noexcept override {
        if (module == 0) return err::kInvalidHandle;
        return ::FreeLibrary(ToSystemModule(module)) ? err::kSuccess : ::GetLastError();
    }

    void* GetProcAddress(ModuleHandle module, std::string_view name) noexcept override {
        std::string text;
        // A null module would search the executable itself, which is never what a caller means.
        if (module == 0 || !ToSystemText(name, &text)) return nullptr;
        return reinterpret_cast<void*>(::GetProcAddress(ToSystemModule(module), text.c_str()));
    }

    [[nodiscard]] std::uint32_t GetCurrentDirectory(std::uint32_t bufferChars,
                                                    std::string* directory) noexcept override {
        std::vector<char> buffer;
        try {
            buffer.resize(bufferChars + std::size_t{1});
        } catch (const std::bad_alloc&) {
            return 0;
        }
        DWORD length = ::GetCurrentDirectoryA(bufferChars, buffer.data());
        // A directory that does not fit gives the size needed (NUL included), never less than the
        // buffer: that is a failure here.
        if (length == 0 || length >= bufferChars) return 0;
        directory->assign(buffer.data(), length);
        return length;
    }

    [[nodiscard]] std::uint32_t ExpandEnvironmentStrings(std::string_view source,
                                                         std::uint32_t bufferChars,
                                                         std::string* expanded) noexcept override {
        std::string text;
        if (!ToSystemText(source, &text)) {
            ::SetLastError(ERROR_INVALID_PARAMETER);
            return 0;
        }
        std::vector<char> buffer;
        try {
            buffer.resize(bufferChars + std::size_t{1});
        } catch (const std::bad_alloc&) {
            return 0;
        }
        DWORD needed = ::ExpandEnvironmentStringsA(text.c_str(), buffer.data(), bufferChars);
        if (needed != 0 && needed <= bufferChars) {
            // The count is that of the system's conversion; the text ends at the NUL it wrote.
            expanded->assign(buffer.data(), ::strnlen(buffer.data(), bufferChars));
        }
        return needed;
    }

    [[nodiscard]] Win32Error GetEnvironmentVariable(std::string_view name,
                                                    std::string* value) noexcept override {
        std::string text;
        if (!ToSystemText(name, &text)) return err::kInvalidParameter;
        std::vector<char> buffer(256);
        for (;;) {
            // An empty value also gives 0; only the error tells it from a missing variable.
            ::SetLastError(ERROR_SUCCESS);
            DWORD length = ::GetEnvironmentVariableA(text.c_str(), buffer.data(),
                                                     static_cast<DWORD>(buffer.size()));
            if (length == 0) {
                Win32Error e = ::GetLastError();
                if (e != err::kSuccess) return e;
                value->clear();
                return err::kSuccess;
            }
            if (length < buffer.size()) {
                value->assign(buffer.data(), length);
                return err::kSuccess;
            }
            try {
                buffer.resize(length);
            } catch (const std::bad_alloc&) {
                return err::kNotEnoughMemory;
            }
        }
    }

    std::string GetPrivateProfileString(std::string_view section, std::string_view key,
                                        std::string_view defaultValue,
                                        std::string_view file) noexcept override {
        std::string sectionText;
        std::string keyText;
        std::string defaultText;
        std::string fileText;
        if (!ToSystemText(section, &sectionText) || !ToSystemText(key, &keyText) ||
            !ToSystemText(defaultValue, &defaultText) || !ToSystemText(file, &fileText)) {
            return std::string(defaultValue);
        }
        std::array<char, kProfileStringChars> buffer{};
        DWORD length =
            ::GetPrivateProfileStringA(sectionText.c_str(), keyText.c_str(), defaultText.c_str(),
                                       buffer.data(), kProfileStringChars, fileText.c_str());
        return std::string(buffer.data(), std::min<DWORD>(length, kProfileStringChars - 1));
    }

    std::string FormatSystemMessage(Win32Error code) noexcept override {
        char* text = nullptr;
        DWORD length = ::FormatMessageA(kSystemMessageFlags, nullptr, code, kNeutralDefaultLanguage,
                                        reinterpret_cast<LPSTR>(&text), 0, nullptr);
        UniqueLocalMemory owner(text);
        if (length == 0 || text == nullptr) return std::string();
        return std::string(text, length);
    }

    std::int64_t CurrentTime() noexcept override { return std::time(nullptr); }

    void Sleep(std::uint32_t milliseconds) noexcept override { ::Sleep(milliseconds); }

    [[nodiscard]] bool LocalTimeRoundTrip(std::int64_t utcSeconds,
                                          std::int64_t* result) noexcept override {
        std::time_t t = static_cast<std::time_t>(utcSeconds);
        if (static_cast<std::int64_t>(t) != utcSeconds) return false;
        // The tool runs on one thread; the C runtime's static result is copied at once.
        const std::tm* local = std::localtime(&t);
        if (local == nullptr || local->tm_year < 0) return false;
        std::tm fields = *local;
        std::time_t back = std::mktime(&fields);
        if (back == static_cast<std::time_t>(-1)) return false;
        *result = static_cast<std::int64_t>(back);
        return true;
    }

    [[nodiscard]] Win32Error GetComputerName(std::string* name) noexcept override {
        // The size the system asks for on ERROR_BUFFER_OVERFLOW may count characters where an
        // ANSI name of a double-byte code page takes bytes: the buffer grows to twice that and
        // the call is made again, a few times at most.
        std::vector<char> buffer(MAX_COMPUTERNAME_LENGTH + 1);
        for (int attempt = 0;; ++attempt) {
            DWORD chars = static_cast<DWORD>(buffer.size());
            if (::GetComputerNameA(buffer.data(), &chars)) {
                try {
                    name->assign(buffer.data(), std::min<std::size_t>(chars, buffer.size() - 1));
                } catch (const std::bad_alloc&) {
                    return err::kNotEnoughMemory;
                }
                return err::kSuccess;
            }
            const DWORD e = ::GetLastError();
            if (e != ERROR_BUFFER_OVERFLOW || attempt == 3) return e;
            try {
                buffer.assign(std::max<std::size_t>(2 * buffer.size(), 2 * std::size_t{chars} + 1),
                              '\0');
            } catch (const std::bad_alloc&) {
                return err::kNotEnoughMemory;
            }
        }
    }

    std::string AnsiToUtf8(std::string_view ansi) noexcept override {
        // Without MB_ERR_INVALID_CHARS a byte that is no character still converts (to what the code
        // page makes of it), so the text keeps every character after it.
        std::string utf8;
        return ConvertCodePage(CP_ACP, CP_UTF8, ansi, &utf8) ? utf8 : std::string();
    }

    std::string Utf8ToAnsi(std::string_view utf8) noexcept override {
        std::string ansi;
        return ConvertCodePage(CP_UTF8, CP_ACP, utf8, &ansi) ? ansi : std::string();
    }

    [[nodiscard]] bool EqualsIgnoringCase(std::string_view a,
                                          std::string_view b) noexcept override {
        std::wstring wideA;
        std::wstring wideB;
        if (!ToExactWide(a, &wideA) || !ToExactWide(b, &wideB)) return text::EqualsNoCase(a, b);
        if (wideA.size() > INT_MAX || wideB.size() > INT_MAX) return text::EqualsNoCase(a, b);
        return ::CompareStringOrdinal(wideA.data(), static_cast<int>(wideA.size()), wideB.data(),
                                      static_cast<int>(wideB.size()), TRUE) == CSTR_EQUAL;
    }

    [[nodiscard]] Win32Error GenerateRandom(unsigned char* bytes,
                                            std::size_t count) noexcept override {
        const RandomFunction generate = Random();
        if (generate == nullptr) return ERROR_PROC_NOT_FOUND;
        while (count > 0) {
            const ULONG chunk = static_cast<ULONG>(std::min<std::size_t>(count, 0x10000000));
            // It sets no error of its own.
            if (!generate(bytes, chunk)) return ERROR_GEN_FAILURE;
            bytes += chunk;
            count -= chunk;
        }
        return err::kSuccess;
    }

    [[nodiscard]] MachineLockOutcome AcquireMachineLock(std::uint32_t timeoutMs,
                                                        MachineLockRef* lock,
                                                        Win32Error* error) noexcept override {
        *lock = 0;
        *error = err::kSuccess;
        if (g_machineLockHeld.exchange(true)) return MachineLockOutcome::kBusy;
        auto fail = [error](Win32Error e) noexcept {
            g_machineLockHeld = false;
            *error = e != err::kSuccess ? e : static_cast<Win32Error>(ERROR_GEN_FAILURE);
            return MachineLockOutcome::kFailed;
        };
        UniqueLocalMemory descriptor;
        const Win32Error made = DescriptorFromSddl(kMachineLockSddl, &descriptor);
        if (made != err::kSuccess) return fail(made);
        SECURITY_ATTRIBUTES attributes{};
        attributes.nLength = sizeof attributes;
        attributes.lpSecurityDescriptor = descriptor.get();
        attributes.bInheritHandle = FALSE;
        // Opens the mutex when it exists (its own access list then decides), else creates it.
        UniqueKernelHandle mutex(::CreateMutexA(&attributes, FALSE, kMachineLockName));
        if (!mutex) return fail(::GetLastError());
        // INFINITE is never asked for: a wait always ends.
        const DWORD wait = std::min<DWORD>(timeoutMs, INFINITE - 1);
        switch (::WaitForSingleObject(mutex.get(), wait)) {
            case WAIT_OBJECT_0:
            case WAIT_ABANDONED:  // its holder ended without letting go: the lock is free
                *lock = reinterpret_cast<MachineLockRef>(mutex.release());
                return MachineLockOutcome::kAcquired;
            case WAIT_TIMEOUT:
                g_machineLockHeld = false;
                return MachineLockOutcome::kBusy;
            default:
                return fail(::GetLastError());
        }
    }

    [[nodiscard]] Win32Error ReleaseMachineLock(MachineLockRef lock) noexcept override {
        if (lock == 0) return err::kInvalidHandle;
        UniqueKernelHandle mutex(reinterpret_cast<HANDLE>(lock));
        const Win32Error released = ::ReleaseMutex(mutex.get()) ? err::kSuccess : ::GetLastError();
        g_machineLockHeld = false;
        return released;
    }
};

}  // namespace

std::unique_ptr<ISystem> MakeSystem() { return std::make_unique<Win32System>(); }

bool ConvertCodePage(UINT fromCodePage, UINT toCodePage, std::string_view text,
                     std::string* converted) noexcept {
    if (converted == nullptr) return false;
    if (text.empty()) {
        converted->clear();
        return true;
    }
    if (text.size() > static_cast<std::size_t>(INT_MAX)) return false;
    const int bytes = static_cast<int>(text.size());
    try {
        const int wideChars =
            ::MultiByteToWideChar(fromCodePage, 0, text.data(), bytes, nullptr, 0);
        if (wideChars <= 0) return false;
        std::vector<wchar_t> wide(static_cast<std::size_t>(wideChars));
        if (::MultiByteToWideChar(fromCodePage, 0, text.data(), bytes, wide.data(), wideChars) !=
            wideChars) {
            return false;
        }
        const int outBytes = ::WideCharToMultiByte(toCodePage, 0, wide.data(), wideChars, nullptr,
                                                   0, nullptr, nullptr);
        if (outBytes <= 0) return false;
        std::string out(static_cast<std::size_t>(outBytes), '\0');
        if (::WideCharToMultiByte(toCodePage, 0, wide.data(), wideChars, out.data(), outBytes,
                                  nullptr, nullptr) != outBytes) {
            return false;
        }
        *converted = std::move(out);
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

int Win32MessageBoxes::Show(WindowRef owner, std::string_view text, std::string_view caption,
                            std::uint32_t style) noexcept {
    // A NUL inside a text only shortens what the operator reads; the box is shown regardless.
    return ::MessageBoxA(ToSystemWindow(owner), text::UpToNul(text).c_str(),
                         text::UpToNul(caption).c_str(), style);
}

void Win32DebugOutput::Write(std::string_view text) noexcept {
    ::OutputDebugStringA(text::UpToNul(text).c_str());
}

namespace {

// UTF-16 text in the ANSI code page, as LoadStringA converts it.
bool Utf16ToAnsi(std::wstring_view wide, std::string* out) noexcept {
    try {
        const int units = static_cast<int>(wide.size());
        const int bytes =
            ::WideCharToMultiByte(CP_ACP, 0, wide.data(), units, nullptr, 0, nullptr, nullptr);
        if (bytes <= 0) return false;
        std::string text(static_cast<std::size_t>(bytes), '\0');
        if (::WideCharToMultiByte(CP_ACP, 0, wide.data(), units, text.data(), bytes, nullptr,
                                  nullptr) != bytes) {
            return false;
        }
        *out = std::move(text);
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

}  // namespace

std::uint16_t Win32Resources::UserInterfaceLanguage() noexcept {
    return ::GetUserDefaultUILanguage();
}

std::string Win32Resources::LoadString(std::uint32_t id) noexcept {
    if (language_ != 0) {
        // The string table in the language chosen: block id / 16 + 1 holds 16 texts, each a
        // count of UTF-16 units and the units.
        HRSRC found = ::FindResourceExW(module_, MAKEINTRESOURCEW(6),  // RT_STRING
                                        MAKEINTRESOURCEW(id / 16 + 1), language_);
        if (found == nullptr) return std::string();
        const auto* units =
            static_cast<const wchar_t*>(::LockResource(::LoadResource(module_, found)));
        const DWORD size = ::SizeofResource(module_, found) / sizeof(wchar_t);
        if (units == nullptr) return std::string();
        DWORD at = 0;
        for (std::uint32_t skip = id % 16; skip > 0 && at < size; --skip) at += 1 + units[at];
        if (at >= size || units[at] == 0 || at + 1 + units[at] > size) return std::string();
        std::string text;
        if (!Utf16ToAnsi(std::wstring_view(units + at + 1, units[at]), &text)) return std::string();
        return text;
    }
    // The length of the stored (UTF-16) text bounds the size of its ANSI form: at most two bytes
    // per unit in a double-byte code page, three in UTF-8.
    const wchar_t* stored = nullptr;
    int units = ::LoadStringW(module_, id, reinterpret_cast<LPWSTR>(&stored), 0);
    if (units <= 0) return std::string();
    std::vector<char> buffer(static_cast<std::size_t>(units) * 3 + 1);
    int length = ::LoadStringA(module_, id, buffer.data(), static_cast<int>(buffer.size()));
    if (length <= 0) return std::string();
    return std::string(buffer.data(), static_cast<std::size_t>(length));
}

Win32Error Win32Resources::LoadResourceBytes(std::uint32_t id, std::string_view type,
                                             std::string* bytes) noexcept {
    std::string typeText;
    if (!ToSystemText(type, &typeText)) return err::kInvalidParameter;
    auto fail = []() noexcept -> Win32Error {
        Win32Error e = ::GetLastError();
        return e != err::kSuccess ? e : static_cast<Win32Error>(ERROR_RESOURCE_DATA_NOT_FOUND);
    };
    HRSRC found = ::FindResourceA(module_, MAKEINTRESOURCEA(id), typeText.c_str());
    if (found == nullptr) return fail();
    // Resources are part of the mapped module: nothing to free.
    HGLOBAL loaded = ::LoadResource(module_, found);
    if (loaded == nullptr) return fail();
    ::SetLastError(ERROR_SUCCESS);
    DWORD size = ::SizeofResource(module_, found);
    if (size == 0 && ::GetLastError() != ERROR_SUCCESS) return ::GetLastError();
    const void* data = ::LockResource(loaded);
    if (data == nullptr && size != 0) return fail();
    bytes->assign(static_cast<const char*>(data), size);
    return err::kSuccess;
}

}  // namespace qv::win32
