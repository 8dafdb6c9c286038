#include "fake/fake_system.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <iterator>
#include <new>
#include <stdexcept>
#include <utility>

#include "base/text.h"
#include "base/unique_handle.h"
#include "fake/fake_case.h"
#include "fake/fake_files.h"
#include "res/resource.h"

namespace qv::fake {
namespace {

constexpr Win32Error kResourceTypeNotFound = 1813;  // ERROR_RESOURCE_TYPE_NOT_FOUND
constexpr Win32Error kResourceNameNotFound = 1814;  // ERROR_RESOURCE_NAME_NOT_FOUND

constexpr std::int64_t kDefaultNow = 1767225600;    // 2026-01-01 00:00:00 UTC
constexpr std::int64_t kFirstOf1900 = -2208988800;  // 1900-01-01 00:00:00 UTC
constexpr std::size_t kProfileBufferChars = 4096;   // the settings lookup's buffer
constexpr char kWindowsDirectory[] = "C:\\WINDOWS";

// The libraries a machine has; LoadLibraryA finds them under any case, with or without ".dll".
constexpr const char* kSystemLibraries[] = {
    "advapi32.dll", "oleacc.dll", "kernel32.dll", "user32.dll", "comctl32.dll",
    "shell32.dll",  "gdi32.dll",  "ntdll.dll",    "ole32.dll",  "oleaut32.dll",
};
constexpr ModuleHandle kFirstModule = 0x77000000;
constexpr ModuleHandle kModuleStride = 0x00100000;
// Where a module's exports lie, inside its image: one slot apart each, in the order first looked
// up.
constexpr std::uintptr_t kFirstExport = 0x1000;
constexpr std::uintptr_t kExportStride = 0x10;

// The exports of oleacc.dll that the tool resolves by name through the system port (the library
// has more; the tool forwards only these).
constexpr const char* kOleaccExports[] = {"CreateStdAccessibleObject", "LresultFromObject"};

// The English system texts, as FormatMessageA returns them.
struct SystemMessage {
    Win32Error code;
    const char* text;
};
constexpr SystemMessage kSystemMessages[] = {
    {0, "The operation completed successfully.\r\n"},
    {1, "Incorrect function.\r\n"},
    {2, "The system cannot find the file specified.\r\n"},
    {3, "The system cannot find the path specified.\r\n"},
    {4, "The system cannot open the file.\r\n"},
    {5, "Access is denied.\r\n"},
    {6, "The handle is invalid.\r\n"},
    {8, "Not enough storage is available to process this command.\r\n"},
    {13, "The data is invalid.\r\n"},
    {14, "Not enough storage is available to complete this operation.\r\n"},
    {18, "There are no more files.\r\n"},
    {32, "The process cannot access the file because it is being used by another process.\r\n"},
    {87, "The parameter is incorrect.\r\n"},
    {122, "The data area passed to a system call is too small.\r\n"},
    {123, "The filename, directory name, or volume label syntax is incorrect.\r\n"},
    {126, "The specified module could not be found.\r\n"},
    {127, "The specified procedure could not be found.\r\n"},
    {145, "The directory is not empty.\r\n"},
    {161, "The specified path is invalid.\r\n"},
    {183, "Cannot create a file when that file already exists.\r\n"},
    {203, "The system could not find the environment option that was entered.\r\n"},
    {234, "More data is available.\r\n"},
    {259, "No more data is available.\r\n"},
    {267, "The directory name is invalid.\r\n"},
    {998, "Invalid access to memory location.\r\n"},
    {1009, "The configuration registry database is corrupt.\r\n"},
    {1010, "The configuration registry key is invalid.\r\n"},
    {1018, "Illegal operation attempted on a registry key that has been marked for deletion.\r\n"},
    {1300, "Not all privileges or groups referenced are assigned to the caller.\r\n"},
    {1313, "A specified privilege does not exist.\r\n"},
    {1314, "A required privilege is not held by the client.\r\n"},
    {1332, "No mapping between account names and security IDs was done.\r\n"},
    {1337, "The security ID structure is invalid.\r\n"},
    {1813, "The specified resource type cannot be found in the image file.\r\n"},
    {1814, "The specified resource name cannot be found in the image file.\r\n"},
};

// `s` without the `blanks` at either end (no blank is the trail byte of a double-byte character).
std::string_view Trim(std::string_view s, std::string_view blanks = " \t\r\v\f") {
    const std::size_t first = s.find_first_not_of(blanks);
    if (first == std::string_view::npos) return {};
    return s.substr(first, s.find_last_not_of(blanks) - first + 1);
}

// A bare library name with ".dll" added when it has no extension, as the loader completes it.
std::string LibraryFileName(std::string_view name) {
    std::string file(name);
    if (text::Find(file, '.') == text::npos) file += ".dll";
    return file;
}

// Where the settings lookup reads `file`: a bare file name lies in the Windows directory; a name
// with a path is taken as given (relative to the current directory when it is relative).
std::string ProfilePath(std::string_view file) {
    if (text::Find(file, '\\') == text::npos && text::Find(file, '/') == text::npos) {
        return std::string(kWindowsDirectory) + "\\" + std::string(file);
    }
    return std::string(file);
}

// The value of `key` in `section` of an INI text; nullopt when the section or key is missing.
// The first section of that name and the first key of that name in it count. The names asked for
// lose their leading and trailing spaces (only spaces), as on Windows and Wine (contract test).
std::optional<std::string> FindProfileValue(std::string_view ini, std::string_view section,
                                            std::string_view key) {
    section = Trim(section, " ");
    key = Trim(key, " ");
    bool inSection = false;
    bool sectionSeen = false;
    std::size_t start = 0;
    while (start < ini.size()) {
        std::size_t end = text::Find(ini, '\n', start);
        std::string_view line =
            Trim(ini.substr(start, end == text::npos ? text::npos : end - start));
        start = end == text::npos ? ini.size() : end + 1;
        if (line.empty()) continue;

        if (line.front() == '[') {
            if (inSection) return std::nullopt;  // left the first section of that name
            // The name ends at the first "]", or at the line's end when there is none, and loses
            // the blanks around it, as Windows reads it. (Wine, in the contract test, trims the
            // blanks too, but ends the name at the last "]" and takes no section from a line
            // without one.)
            std::size_t close = text::Find(line, ']');
            std::string_view name =
                Trim(line.substr(1, close == text::npos ? text::npos : close - 1));
            if (!sectionSeen && text::EqualsNoCase(name, section)) {
                inSection = true;
                sectionSeen = true;
            }
            continue;
        }
        if (!inSection) continue;

        // A line without "=" is a key with an empty value.
        std::size_t eq = text::Find(line, '=');
        std::string_view name = Trim(line.substr(0, eq));
        if (!text::EqualsNoCase(name, key)) continue;
        if (eq == text::npos) return std::string();
        std::string_view value = Trim(line.substr(eq + 1));
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
            value.back() == value.front()) {
            value = value.substr(1, value.size() - 2);
        }
        return std::string(value);
    }
    return std::nullopt;
}

// Cuts a text to what a buffer of `chars` characters holds with its NUL, never between the two
// bytes of a double-byte character.
std::string CutToBuffer(std::string s, std::size_t chars) {
    if (s.size() < chars) return s;
    std::size_t end = 0;
    for (std::size_t i = 0; i < s.size();) {
        std::size_t len = text::CharLength(s, i);
        if (i + len > chars - 1) break;
        i += len;
        end = i;
    }
    s.resize(end);
    return s;
}

struct StringEntry {
    std::uint32_t id;
    const char* utf8;
};
#define QV_STRING(id, text) {id, text},
constexpr StringEntry kStringTable[] = {
#include "res/strings.inc"
};
constexpr StringEntry kEnglishStringTable[] = {
#include "res/strings_en.inc"
};
#undef QV_STRING

bool IsJapanese(std::uint16_t languageId) {
    return (languageId & 0x3FF) == (kLangJapanese & 0x3FF);
}

std::optional<std::string> ReadBinaryFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A conversion descriptor, closed however the conversion ends.
int CloseConversion(iconv_t cd) noexcept { return iconv_close(cd); }
using UniqueIconv = UniqueHandle<iconv_t, &CloseConversion>;

// iconv_open's descriptor, empty when the C library cannot convert (iconv_open's (iconv_t)-1).
UniqueIconv OpenConversion(const char* to, const char* from) {
    iconv_t cd = iconv_open(to, from);
    return UniqueIconv(cd == reinterpret_cast<iconv_t>(-1) ? iconv_t{} : cd);
}

// Length of the UTF-8 sequence that starts with `lead` (1 for a stray byte).
std::size_t Utf8Length(unsigned char lead) {
    if (lead >= 0xF0 && lead <= 0xF4) return 4;
    if (lead >= 0xE0) return 3;
    if (lead >= 0xC2 && lead <= 0xDF) return 2;
    return 1;
}

// One character of code page 932 (one byte or a lead byte and its trail byte) in UTF-8; nothing
// when the C library does not map it.
std::optional<std::string> Cp932CharToUtf8(iconv_t cd, std::string_view bytes) {
    std::string in(bytes);
    char* src = in.data();
    std::size_t srcLeft = in.size();
    char out[8];
    char* dst = out;
    std::size_t dstLeft = sizeof out;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    if (iconv(cd, &src, &srcLeft, &dst, &dstLeft) == static_cast<std::size_t>(-1) || srcLeft != 0) {
        return std::nullopt;
    }
    return std::string(out, static_cast<std::size_t>(dst - out));
}

// Code page 932 to UTF-8 as the system converts it without MB_ERR_INVALID_CHARS; nothing when the
// C library cannot convert from the code page. A lead byte (0x81-0x9F, 0xE0-0xFC) takes the next
// byte with it; a pair without a character, and a lead byte at the end, become U+30FB, the code
// page's default character. The single bytes without a character map to their own code points:
// 0x80 to U+0080, 0xA0 to U+F8F0 and 0xFD-0xFF to U+F8F1-U+F8F3.
std::optional<std::string> ConvertFromCp932(std::string_view cp932) {
    UniqueIconv cd = OpenConversion("UTF-8", "CP932");
    if (!cd) return std::nullopt;
    constexpr char kDefaultChar[] = "\xE3\x83\xBB";  // U+30FB
    std::string out;
    std::size_t i = 0;
    while (i < cp932.size()) {
        const auto byte = static_cast<unsigned char>(cp932[i]);
        if (byte < 0x80) {
            out += static_cast<char>(byte);
            ++i;
        } else if ((byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC)) {
            const std::size_t length = std::min<std::size_t>(2, cp932.size() - i);
            std::optional<std::string> pair =
                length == 2 ? Cp932CharToUtf8(cd.get(), cp932.substr(i, 2)) : std::nullopt;
            out += pair ? *pair : kDefaultChar;
            i += length;
        } else if (byte >= 0xA1 && byte <= 0xDF) {
            out += Cp932CharToUtf8(cd.get(), cp932.substr(i, 1)).value_or(kDefaultChar);
            ++i;
        } else {
            // 0x80, 0xA0, 0xFD-0xFF.
            const char32_t code = byte == 0x80   ? 0x80
                                  : byte == 0xA0 ? 0xF8F0
                                                 : 0xF8F1 + (byte - 0xFD);
            if (code < 0x800) {
                out += static_cast<char>(0xC0 | (code >> 6));
            } else {
                out += static_cast<char>(0xE0 | (code >> 12));
                out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            }
            out += static_cast<char>(0x80 | (code & 0x3F));
            ++i;
        }
    }
    return out;
}

}  // namespace

// --- FakeSystem ---

struct FakeSystem::State {
    explicit State(FakeFileSystem& f) : files(f) {}

    FakeFileSystem& files;
    OsVersion version{5, 1, kVerPlatformWin32Nt};
    std::vector<std::pair<std::string, std::string>> env;  // names keep the case they were set in
    std::string currentDirectory = "C:\\Tools";
    std::int64_t now = kDefaultNow;
    std::vector<std::uint32_t> sleeps;
    int initCommonControlsCalls = 0;
    int freeLibraryCalls = 0;

    struct LoadedModule {
        ModuleHandle handle;
        std::string name;  // as passed to LoadLibraryA
    };
    std::vector<LoadedModule> loaded;  // one entry per reference not yet freed
    // The addresses handed out by GetProcAddress, per module and exact name.
    std::map<std::pair<ModuleHandle, std::string>, void*, std::less<>> exports;
    std::map<ModuleHandle, std::uintptr_t> exportCount;
    std::string computerName = "QVTEST-PC";
    std::deque<unsigned char> queuedRandom;
    std::uint32_t randomState = 0x2545F491u;
    MachineLockRef machineLockHolder = 0;  // 0: free
    MachineLockRef nextMachineLock = 0x4D4C0001;
    std::vector<std::uint32_t> machineLockTimeouts;

    std::vector<std::pair<std::string, std::string>>::iterator FindEnv(std::string_view name) {
        for (auto it = env.begin(); it != env.end(); ++it) {
            if (text::EqualsNoCase(it->first, name)) return it;
        }
        return env.end();
    }
};

FakeSystem::FakeSystem(FakeFileSystem& files) : s_(std::make_unique<State>(files)) {}
FakeSystem::~FakeSystem() = default;

void FakeSystem::SetVersion(OsVersion v) { s_->version = v; }

void FakeSystem::SetEnv(std::string_view name, std::string_view value) {
    auto it = s_->FindEnv(name);
    if (it != s_->env.end()) {
        it->second = std::string(value);
    } else {
        s_->env.emplace_back(std::string(name), std::string(value));
    }
}

void FakeSystem::UnsetEnv(std::string_view name) {
    auto it = s_->FindEnv(name);
    if (it != s_->env.end()) s_->env.erase(it);
}

void FakeSystem::SetCurrentDirectory(std::string_view dir) {
    s_->currentDirectory = std::string(dir);
}
void FakeSystem::SetNow(std::int64_t unixSeconds) { s_->now = unixSeconds; }
void FakeSystem::SetComputerName(std::string_view name) { s_->computerName = std::string(name); }
void FakeSystem::QueueRandom(std::string_view bytes) {
    s_->queuedRandom.insert(s_->queuedRandom.end(), bytes.begin(), bytes.end());
}

std::string FakeSystem::CurrentDirectory() const { return s_->currentDirectory; }
std::int64_t FakeSystem::Now() const { return s_->now; }
int FakeSystem::InitCommonControlsCalls() const { return s_->initCommonControlsCalls; }
int FakeSystem::FreeLibraryCalls() const { return s_->freeLibraryCalls; }

std::vector<std::string> FakeSystem::LoadedLibraries() const {
    std::vector<std::string> names;
    for (const auto& m : s_->loaded) names.push_back(m.name);
    return names;
}

void FakeSystem::InitCommonControls() noexcept { ++s_->initCommonControlsCalls; }

Win32Error FakeSystem::GetVersion(OsVersion* version) noexcept {
    if (version == nullptr) return err::kInvalidParameter;
    *version = s_->version;
    return err::kSuccess;
}

ModuleHandle FakeSystem::LoadLibrary(std::string_view name) noexcept {
    // Libraries load from the system folder by their bare names; a name with a path or a drive
    // is refused, as the Windows adapter refuses it.
    if (text::Find(name, '\\') != text::npos || text::Find(name, '/') != text::npos ||
        text::Find(name, ':') != text::npos) {
        return 0;
    }
    std::string file = LibraryFileName(name);
    for (std::size_t i = 0; i < std::size(kSystemLibraries); ++i) {
        if (!text::EqualsNoCase(file, kSystemLibraries[i])) continue;
        if (TakeFault(SysOp::kLoadLibrary, file) != err::kSuccess) return 0;
        // A library has one handle however often it is loaded; each load is a reference.
        ModuleHandle handle = kFirstModule + i * kModuleStride;
        s_->loaded.push_back({handle, std::string(name)});
        return handle;
    }
    return 0;
}

Win32Error FakeSystem::FreeLibrary(ModuleHandle module) noexcept {
    ++s_->freeLibraryCalls;
    for (auto it = s_->loaded.rbegin(); it != s_->loaded.rend(); ++it) {
        if (it->handle == module) {
            s_->loaded.erase(std::next(it).base());
            return err::kSuccess;
        }
    }
    // The loader reports a handle it does not know (a library freed already) as a module not
    // found, 126: Wine answers so in the contract test, as Windows' loader does.
    return err::kModNotFound;
}

void* FakeSystem::GetProcAddress(ModuleHandle module, std::string_view name) noexcept {
    if (module == 0 || name.empty()) return nullptr;
    const auto loaded =
        std::find_if(s_->loaded.begin(), s_->loaded.end(),
                     [&](const State::LoadedModule& m) { return m.handle == module; });
    if (loaded == s_->loaded.end()) return nullptr;
    if (text::EqualsNoCase(LibraryFileName(loaded->name), "oleacc.dll") &&
        std::find(std::begin(kOleaccExports), std::end(kOleaccExports), name) ==
            std::end(kOleaccExports)) {
        return nullptr;
    }
    // An address inside the module's image; the fake's users compare and store it, never call it.
    auto key = std::make_pair(module, std::string(name));
    auto known = s_->exports.find(key);
    if (known != s_->exports.end()) return known->second;
    const std::uintptr_t slot = s_->exportCount[module]++;
    void* address = reinterpret_cast<void*>(module + kFirstExport + slot * kExportStride);
    s_->exports.emplace(std::move(key), address);
    return address;
}

std::uint32_t FakeSystem::GetCurrentDirectory(std::uint32_t bufferChars,
                                              std::string* directory) noexcept {
    if (TakeFault(SysOp::kGetCurrentDirectory, {}) != err::kSuccess || directory == nullptr) {
        return 0;
    }
    const std::string& dir = s_->currentDirectory;
    if (dir.size() + 1 > bufferChars) return 0;
    *directory = dir;
    return static_cast<std::uint32_t>(dir.size());
}

std::uint32_t FakeSystem::ExpandEnvironmentStrings(std::string_view source,
                                                   std::uint32_t bufferChars,
                                                   std::string* expanded) noexcept {
    // A "%" opens a reference that the next "%" closes. A defined name is replaced by its value,
    // which is not scanned again. An undefined or empty name, or a "%" with no closing one, is
    // left as written, so "%%" stays "%%". The closing "%" of an undefined name may open the next
    // reference: Windows' answer is unverified, and this choice is kept although Wine, in the
    // contract test, copies the whole undefined reference and goes on after its closing "%".
    std::string out;
    std::size_t i = 0;
    while (i < source.size()) {
        if (source[i] != '%') {
            std::size_t next = text::Find(source, '%', i);
            if (next == text::npos) next = source.size();
            out.append(source.substr(i, next - i));
            i = next;
            continue;
        }
        std::size_t close = text::Find(source, '%', i + 1);
        if (close == text::npos) {
            out.append(source.substr(i));
            break;
        }
        std::string_view name = source.substr(i + 1, close - i - 1);
        auto it = name.empty() ? s_->env.end() : s_->FindEnv(name);
        if (it != s_->env.end()) {
            out += it->second;
            i = close + 1;
        } else {
            out.append(source.substr(i, close - i));
            i = close;
        }
    }
    auto needed = static_cast<std::uint32_t>(out.size() + 1);
    if (needed <= bufferChars && expanded != nullptr) *expanded = std::move(out);
    return needed;
}

Win32Error FakeSystem::GetEnvironmentVariable(std::string_view name, std::string* value) noexcept {
    if (value == nullptr) return err::kInvalidParameter;
    auto it = s_->FindEnv(name);
    if (name.empty() || it == s_->env.end()) return err::kEnvVarNotFound;
    *value = it->second;
    return err::kSuccess;
}

std::string FakeSystem::GetPrivateProfileString(std::string_view section, std::string_view key,
                                                std::string_view defaultValue,
                                                std::string_view file) noexcept {
    // The default loses its trailing blanks, as the system writes a NUL over them.
    std::string_view fallback = defaultValue;
    while (!fallback.empty() && fallback.back() == ' ') fallback.remove_suffix(1);

    std::optional<std::string> value;
    if (!file.empty() && !section.empty()) {
        std::optional<std::string> ini = s_->files.ReadFile(ProfilePath(file));
        if (ini) value = FindProfileValue(*ini, section, key);
    }
    return CutToBuffer(value ? std::move(*value) : std::string(fallback), kProfileBufferChars);
}

std::string FakeSystem::FormatSystemMessage(Win32Error code) noexcept {
    for (const SystemMessage& m : kSystemMessages) {
        if (m.code == code) return m.text;
    }
    return std::string();
}

std::int64_t FakeSystem::CurrentTime() noexcept { return s_->now; }

void FakeSystem::Sleep(std::uint32_t milliseconds) noexcept { s_->sleeps.push_back(milliseconds); }

const std::vector<std::uint32_t>& FakeSystem::Sleeps() const { return s_->sleeps; }

bool FakeSystem::LocalTimeRoundTrip(std::int64_t utcSeconds, std::int64_t* result) noexcept {
    // The machine's time zone is UTC without daylight saving, so local time equals UTC.
    if (result == nullptr || utcSeconds < kFirstOf1900) return false;
    if (TakeFault(SysOp::kLocalTimeRoundTrip, std::to_string(utcSeconds)) != err::kSuccess) {
        return false;
    }
    *result = utcSeconds;
    return true;
}

Win32Error FakeSystem::GetComputerName(std::string* name) noexcept {
    if (name == nullptr) return err::kInvalidParameter;
    *name = s_->computerName;
    return err::kSuccess;
}

std::string FakeSystem::Utf8ToAnsi(std::string_view utf8) noexcept {
    try {
        return Cp932(utf8);
    } catch (const std::exception&) {
        return std::string();
    }
}

std::string FakeSystem::AnsiToUtf8(std::string_view ansi) noexcept {
    if (TakeFault(SysOp::kAnsiToUtf8, {}) != err::kSuccess) return std::string();
    try {
        return ConvertFromCp932(ansi).value_or(std::string());
    } catch (const std::bad_alloc&) {
        return std::string();
    }
}

bool FakeSystem::EqualsIgnoringCase(std::string_view a, std::string_view b) noexcept {
    try {
        return UpperCaseCp932(a) == UpperCaseCp932(b);
    } catch (const std::bad_alloc&) {
        return text::EqualsNoCase(a, b);
    }
}

Win32Error FakeSystem::GenerateRandom(unsigned char* bytes, std::size_t count) noexcept {
    if (bytes == nullptr && count != 0) return err::kInvalidParameter;
    for (std::size_t i = 0; i < count; ++i) {
        if (!s_->queuedRandom.empty()) {
            bytes[i] = s_->queuedRandom.front();
            s_->queuedRandom.pop_front();
            continue;
        }
        // xorshift32: a fixed sequence, different bytes on every call.
        std::uint32_t x = s_->randomState;
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        s_->randomState = x;
        bytes[i] = static_cast<unsigned char>(x >> 24);
    }
    return err::kSuccess;
}

bool FakeSystem::MachineLockHeld() const { return s_->machineLockHolder != 0; }

const std::vector<std::uint32_t>& FakeSystem::MachineLockTimeouts() const {
    return s_->machineLockTimeouts;
}

MachineLockOutcome FakeSystem::AcquireMachineLock(std::uint32_t timeoutMs, MachineLockRef* lock,
                                                  Win32Error* error) noexcept {
    *lock = 0;
    *error = err::kSuccess;
    s_->machineLockTimeouts.push_back(timeoutMs);
    if (Win32Error e = TakeFault(SysOp::kAcquireMachineLock, {}); e != err::kSuccess) {
        *error = e;
        return MachineLockOutcome::kFailed;
    }
    if (s_->machineLockHolder != 0) return MachineLockOutcome::kBusy;
    s_->machineLockHolder = s_->nextMachineLock++;
    *lock = s_->machineLockHolder;
    return MachineLockOutcome::kAcquired;
}

Win32Error FakeSystem::ReleaseMachineLock(MachineLockRef lock) noexcept {
    constexpr Win32Error kNotOwner = 288;  // ERROR_NOT_OWNER
    if (lock == 0) return err::kInvalidHandle;
    if (lock != s_->machineLockHolder) return kNotOwner;
    s_->machineLockHolder = 0;
    return err::kSuccess;
}

// --- FakeMessageBoxes, FakeDebugOutput ---

int FakeMessageBoxes::Show(WindowRef owner, std::string_view text, std::string_view caption,
                           std::uint32_t style) noexcept {
    shown_.push_back({owner, std::string(text), std::string(caption), style});
    if (answers_.empty()) return mb::kIdOk;
    int answer = answers_.front();
    answers_.pop_front();
    return answer;
}

std::string FakeDebugOutput::Text() const {
    std::string all;
    for (const std::string& line : lines_) all += line;
    return all;
}

void FakeDebugOutput::Write(std::string_view text) noexcept { lines_.emplace_back(text); }

// --- FakeResources ---

FakeResources::FakeResources() {
    for (const StringEntry& e : kStringTable) japanese_[e.id] = Cp932(e.utf8);
    for (const StringEntry& e : kEnglishStringTable) english_[e.id] = Cp932(e.utf8);
    for (std::uint32_t id : {131u, 132u}) {
        std::string path =
            std::string(QV_SOURCE_DIR) + "/res/filelist" + std::to_string(id) + ".txt";
        if (std::optional<std::string> bytes = ReadBinaryFile(path))
            SetBytes(id, "FILELIST", *bytes);
    }
}

void FakeResources::SetBytes(std::uint32_t id, std::string_view type, std::string_view bytes) {
    blobs_[{id, std::string(type)}] = std::string(bytes);
}

void FakeResources::RemoveResource(std::uint32_t id, std::string_view type) {
    for (auto it = blobs_.begin(); it != blobs_.end(); ++it) {
        if (it->first.first == id && text::EqualsNoCase(it->first.second, type)) {
            blobs_.erase(it);
            return;
        }
    }
}

std::string FakeResources::LoadString(std::uint32_t id) noexcept {
    // Without a chosen language the loader takes the user's; English serves every language that
    // is not Japanese.
    const auto& strings =
        IsJapanese(language_ != 0 ? language_ : userLanguage_) ? japanese_ : english_;
    auto it = strings.find(id);
    return it == strings.end() ? std::string() : it->second;
}

Win32Error FakeResources::LoadResourceBytes(std::uint32_t id, std::string_view type,
                                            std::string* bytes) noexcept {
    if (bytes == nullptr) return err::kInvalidParameter;
    // Resource type names are case-insensitive; a module without any resource of the type gives
    // a different error than one that lacks only the name.
    bool typeFound = false;
    for (const auto& [key, data] : blobs_) {
        if (!text::EqualsNoCase(key.second, type)) continue;
        typeFound = true;
        if (key.first == id) {
            *bytes = data;
            return err::kSuccess;
        }
    }
    return typeFound ? kResourceNameNotFound : kResourceTypeNotFound;
}

// --- code page 932 ---

std::string Cp932(std::string_view utf8) {
    UniqueIconv cd = OpenConversion("CP932", "UTF-8");
    if (!cd) {
        throw std::runtime_error("Cp932: the C library cannot convert to CP932 (gconv modules)");
    }
    std::string out;
    char buffer[256];
    std::string in(utf8);
    char* src = in.data();
    std::size_t srcLeft = in.size();
    while (srcLeft > 0) {
        char* dst = buffer;
        std::size_t dstLeft = sizeof buffer;
        std::size_t r = iconv(cd.get(), &src, &srcLeft, &dst, &dstLeft);
        out.append(buffer, static_cast<std::size_t>(dst - buffer));
        if (r != static_cast<std::size_t>(-1) || errno == E2BIG) continue;
        // A character the code page lacks becomes "?", as the system's conversion writes its
        // default character; a broken sequence is dropped the same way.
        std::size_t skip = std::min(Utf8Length(static_cast<unsigned char>(*src)), srcLeft);
        out += '?';
        src += skip;
        srcLeft -= skip;
    }
    return out;
}

std::string Utf8FromCp932(std::string_view cp932) {
    std::optional<std::string> utf8 = ConvertFromCp932(cp932);
    if (!utf8) {
        throw std::runtime_error("Utf8FromCp932: the C library cannot convert from CP932");
    }
    return *utf8;
}

std::string ResourceString(std::uint32_t id, std::uint16_t languageId) {
    const auto find = [id](const auto& table) {
        for (const StringEntry& e : table) {
            if (e.id == id) return Cp932(e.utf8);
        }
        return std::string();
    };
    return IsJapanese(languageId) ? find(kStringTable) : find(kEnglishStringTable);
}

}  // namespace qv::fake
