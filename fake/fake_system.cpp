#include "fake/fake_system.h"

#include <iconv.h>

#include <algorithm>
#include <exception>
#include <fstream>
#include <iterator>
#include <optional>
#include <stdexcept>
#include <utility>

#include "base/scope_exit.h"
#include "base/text.h"
#include "fake/fake_case.h"
#include "fake/fake_files.h"
#include "res/resource.h"

namespace qv::fake {
namespace {

constexpr Win32Error kResourceTypeNotFound = 1813;  // ERROR_RESOURCE_TYPE_NOT_FOUND
constexpr Win32Error kResourceNameNotFound = 1814;  // ERROR_RESOURCE_NAME_NOT_FOUND

constexpr std::int64_t kFirstOf1900 = -2208988800;  // 1900-01-01 00:00:00 UTC
constexpr std::size_t kProfileBufferChars = 4096;   // the settings lookup's buffer

// The libraries a machine has; LoadLibraryA finds them under any case, with or without ".dll".
constexpr const char* kSystemLibraries[] = {
    "advapi32.dll", "oleacc.dll", "kernel32.dll", "user32.dll", "comctl32.dll",
    "shell32.dll",  "gdi32.dll",  "ntdll.dll",    "ole32.dll",  "oleaut32.dll",
};
constexpr ModuleHandle kFirstModule = 0x77000000;
constexpr ModuleHandle kModuleStride = 0x00100000;
constexpr ModuleHandle kOleacc = kFirstModule + kModuleStride;  // the second of kSystemLibraries
// Where a module's exports lie, inside its image: one slot apart each, in the order first looked
// up.
constexpr std::uintptr_t kFirstExport = 0x1000;
constexpr std::uintptr_t kExportStride = 0x10;

// The exports of oleacc.dll that the tool resolves by name through the system port (the library
// has more; the tool forwards only these).
constexpr const char* kOleaccExports[] = {"CreateStdAccessibleObject", "LresultFromObject"};

// The English system texts, as FormatMessageA returns them.
constexpr std::pair<Win32Error, const char*> kSystemMessages[] = {
    {2, "The system cannot find the file specified.\r\n"},
    {3, "The system cannot find the path specified.\r\n"},
    {5, "Access is denied.\r\n"},
    {6, "The handle is invalid.\r\n"},
    {13, "The data is invalid.\r\n"},
    {18, "There are no more files.\r\n"},
    {32, "The process cannot access the file because it is being used by another process.\r\n"},
    {87, "The parameter is incorrect.\r\n"},
    {122, "The data area passed to a system call is too small.\r\n"},
    {145, "The directory is not empty.\r\n"},
    {234, "More data is available.\r\n"},
    {259, "No more data is available.\r\n"},
    {1010, "The configuration registry key is invalid.\r\n"},
    {1018, "Illegal operation attempted on a registry key that has been marked for deletion.\r\n"},
    {1314, "A required privilege is not held by the client.\r\n"},
    {1332, "No mapping between account names and security IDs was done.\r\n"},
};

// `s` without the `blanks` at either end (no blank is the trail byte of a double-byte character).
std::string_view Trim(std::string_view s, std::string_view blanks = " \t\r\v\f") {
    const std::size_t first = s.find_first_not_of(blanks);
    if (first == std::string_view::npos) return {};
    return s.substr(first, s.find_last_not_of(blanks) - first + 1);
}

// A library name with ".dll" added when it has no extension, as the loader completes it.
std::string LibraryFile(std::string_view name) {
    return std::string(name) + (text::Find(name, '.') == text::npos ? ".dll" : "");
}

// The handle of the system folder's library that a LoadLibraryA name names (in any case); 0 when
// none.
ModuleHandle HandleOf(std::string_view name) {
    const std::string file = LibraryFile(name);
    for (std::size_t i = 0; i < std::size(kSystemLibraries); ++i) {
        if (text::EqualsNoCase(file, kSystemLibraries[i])) return kFirstModule + i * kModuleStride;
    }
    return 0;
}

// The value of `key` in `section` of an INI text; nullopt when the section or key is missing.
// The first section of that name and the first key of that name in it count. The names asked for
// lose their leading and trailing spaces (only spaces), as on Windows and Wine (contract test).
std::optional<std::string> FindProfileValue(std::string_view ini, std::string_view section,
                                            std::string_view key) {
    section = Trim(section, " ");
    key = Trim(key, " ");
    bool inSection = false;
    for (std::size_t start = 0; start < ini.size();) {
        const std::size_t end = text::Find(ini, '\n', start);
        const std::string_view line = Trim(ini.substr(start, end - start));
        start = std::min(end, ini.size()) + 1;
        if (line.empty()) continue;
        if (line.front() == '[') {
            if (inSection) return std::nullopt;  // left the first section of that name
            // The name ends at the first "]", or at the line's end when there is none, and loses
            // the blanks around it, as Windows reads it. (Wine, in the contract test, trims the
            // blanks too, but ends the name at the last "]" and takes no section from a line
            // without one.)
            inSection =
                text::EqualsNoCase(Trim(line.substr(1, text::Find(line, ']') - 1)), section);
            continue;
        }
        // A line without "=" is a key with an empty value.
        const std::size_t eq = text::Find(line, '=');
        if (!inSection || !text::EqualsNoCase(Trim(line.substr(0, eq)), key)) continue;
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

// What `f` returns; an empty value when it throws (out of memory, or no conversion in the C
// library), as a system call fails.
template <typename F>
auto OrEmpty(F f) noexcept -> decltype(f()) {
    try {
        return f();
    } catch (const std::exception&) {
        return {};
    }
}

#define QV_STRING(id, text) {id, text},
constexpr std::pair<std::uint32_t, const char*> kStringTable[] = {
#include "res/strings.inc"
};
constexpr std::pair<std::uint32_t, const char*> kEnglishStringTable[] = {
#include "res/strings_en.inc"
};
#undef QV_STRING

// Length of the UTF-8 sequence that starts at s[i] (1 for a stray byte), cut at the text's end.
std::size_t Utf8CharLength(std::string_view s, std::size_t i) {
    const auto lead = static_cast<unsigned char>(s[i]);
    const std::size_t length = (lead >= 0xF0 && lead <= 0xF4)   ? 4
                               : lead >= 0xE0                   ? 3
                               : (lead >= 0xC2 && lead <= 0xDF) ? 2
                                                                : 1;
    return std::min(length, s.size() - i);
}

// `in` converted by the C library one character at a time (`length(in, i)` gives the bytes of
// the one at i); `missing(character)` stands for a character the library does not convert.
template <typename Length, typename Missing>
std::string ConvertEach(const char* to, const char* from, std::string_view in, Length length,
                        Missing missing) {
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        throw std::runtime_error(std::string("the C library cannot convert to ") + to);
    }
    const auto close = MakeScopeExit([cd] { iconv_close(cd); });
    std::string out;
    for (std::size_t i = 0, n = 0; i < in.size(); i += n) {
        n = length(in, i);
        std::string character(in.substr(i, n));
        char buffer[8];
        char* src = character.data();
        char* dst = buffer;
        std::size_t srcLeft = n;
        std::size_t dstLeft = sizeof buffer;
        if (iconv(cd, &src, &srcLeft, &dst, &dstLeft) == static_cast<std::size_t>(-1)) {
            out += missing(std::string_view(character));
        } else {
            out.append(buffer, dst);
        }
    }
    return out;
}

}  // namespace

// --- FakeSystem ---

ModuleHandle FakeSystem::LoadLibrary(std::string_view name) noexcept {
    // Libraries load from the system folder by their bare names: a name with a path or a drive
    // names none of them, as the Windows adapter refuses it.
    const ModuleHandle handle = HandleOf(name);
    if (handle == 0 || TakeFault(SysOp::kLoadLibrary, LibraryFile(name)) != err::kSuccess) return 0;
    // A library has one handle however often it is loaded; each load is a reference.
    loaded_.emplace_back(name);
    return handle;
}

Win32Error FakeSystem::FreeLibrary(ModuleHandle module) noexcept {
    ++freeLibraryCalls_;
    const auto last = std::find_if(loaded_.rbegin(), loaded_.rend(), [&](const std::string& name) {
        return HandleOf(name) == module;
    });
    // The loader reports a handle it does not know (a library freed already) as a module not
    // found, 126: Wine answers so in the contract test, as Windows' loader does.
    if (last == loaded_.rend()) return err::kModNotFound;
    loaded_.erase(std::next(last).base());
    return err::kSuccess;
}

void* FakeSystem::GetProcAddress(ModuleHandle module, std::string_view name) noexcept {
    if (std::none_of(loaded_.begin(), loaded_.end(),
                     [&](const std::string& loaded) { return HandleOf(loaded) == module; }) ||
        (module == kOleacc && std::find(std::begin(kOleaccExports), std::end(kOleaccExports),
                                        name) == std::end(kOleaccExports))) {
        return nullptr;
    }
    // An address inside the module's image, a slot for each name; the fake's users compare and
    // store it, never call it.
    auto known = std::find(exports_.begin(), exports_.end(), name);
    if (known == exports_.end()) known = exports_.emplace(known, name);
    return reinterpret_cast<void*>(module + kFirstExport +
                                   static_cast<std::uintptr_t>(known - exports_.begin()) *
                                       kExportStride);
}

std::uint32_t FakeSystem::GetCurrentDirectory(std::uint32_t bufferChars,
                                              std::string* directory) noexcept {
    if (TakeFault(SysOp::kGetCurrentDirectory, {}) != err::kSuccess ||
        currentDirectory_.size() >= bufferChars) {
        return 0;
    }
    *directory = currentDirectory_;
    return static_cast<std::uint32_t>(currentDirectory_.size());
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
    std::size_t done = 0;
    for (std::size_t open; (open = text::Find(source, '%', done)) != text::npos;) {
        const std::size_t close = text::Find(source, '%', open + 1);
        if (close == text::npos) break;
        const auto it = env_.find(text::FoldCase(source.substr(open + 1, close - open - 1)));
        if (it == env_.end()) {
            out.append(source.substr(done, close - done));
            done = close;
            continue;
        }
        out.append(source.substr(done, open - done)).append(it->second);
        done = close + 1;
    }
    out.append(source.substr(done));
    const auto needed = static_cast<std::uint32_t>(out.size() + 1);
    if (needed <= bufferChars && expanded != nullptr) *expanded = std::move(out);
    return needed;
}

Win32Error FakeSystem::GetEnvironmentVariable(std::string_view name, std::string* value) noexcept {
    const auto it = env_.find(text::FoldCase(name));
    if (it == env_.end()) return err::kEnvVarNotFound;
    *value = it->second;
    return err::kSuccess;
}

std::string FakeSystem::GetPrivateProfileString(std::string_view section, std::string_view key,
                                                std::string_view defaultValue,
                                                std::string_view file) noexcept {
    // A name without a path names a file of the Windows folder, not of the current directory
    // (GetPrivateProfileStringA's documentation).
    const bool bare = text::Find(file, '\\') == text::npos && text::Find(file, '/') == text::npos;
    std::optional<std::string> ini =
        files_.ReadFile(bare ? "C:\\WINDOWS\\" + std::string(file) : std::string(file));
    std::optional<std::string> value = ini ? FindProfileValue(*ini, section, key) : std::nullopt;
    // The default loses its trailing blanks, as the system writes a NUL over them.
    std::string out(value ? *value
                          : defaultValue.substr(0, defaultValue.find_last_not_of(' ') + 1));
    // Cut to what the buffer holds with its NUL, never between the bytes of a double-byte
    // character.
    std::size_t end = 0;
    while (end < out.size() && end + text::CharLength(out, end) < kProfileBufferChars) {
        end += text::CharLength(out, end);
    }
    out.resize(end);
    return out;
}

std::string FakeSystem::FormatSystemMessage(Win32Error code) noexcept {
    for (const auto& [known, text] : kSystemMessages) {
        if (known == code) return text;
    }
    return std::string();
}

bool FakeSystem::LocalTimeRoundTrip(std::int64_t utcSeconds, std::int64_t* result) noexcept {
    // The machine's time zone is UTC without daylight saving, so local time equals UTC.
    if (utcSeconds < kFirstOf1900 ||
        TakeFault(SysOp::kLocalTimeRoundTrip, std::to_string(utcSeconds)) != err::kSuccess) {
        return false;
    }
    *result = utcSeconds;
    return true;
}

std::string FakeSystem::Utf8ToAnsi(std::string_view utf8) noexcept {
    return OrEmpty([&] { return Cp932(utf8); });
}

std::string FakeSystem::AnsiToUtf8(std::string_view ansi) noexcept {
    if (TakeFault(SysOp::kAnsiToUtf8, {}) != err::kSuccess) return std::string();
    return OrEmpty([&] { return Utf8FromCp932(ansi); });
}

bool FakeSystem::EqualsIgnoringCase(std::string_view a, std::string_view b) noexcept {
    return OrEmpty([&] { return UpperCaseCp932(a) == UpperCaseCp932(b); });
}

Win32Error FakeSystem::GenerateRandom(unsigned char* bytes, std::size_t count) noexcept {
    for (std::size_t i = 0; i < count; ++i) {
        if (!queuedRandom_.empty()) {
            bytes[i] = static_cast<unsigned char>(queuedRandom_.front());
            queuedRandom_.erase(0, 1);
            continue;
        }
        // xorshift32: a fixed sequence, different bytes on every call.
        randomState_ ^= randomState_ << 13;
        randomState_ ^= randomState_ >> 17;
        randomState_ ^= randomState_ << 5;
        bytes[i] = static_cast<unsigned char>(randomState_ >> 24);
    }
    return err::kSuccess;
}

MachineLockOutcome FakeSystem::AcquireMachineLock(std::uint32_t timeoutMs, MachineLockRef* lock,
                                                  Win32Error* error) noexcept {
    *lock = 0;
    machineLockTimeouts_.push_back(timeoutMs);
    *error = TakeFault(SysOp::kAcquireMachineLock, {});
    if (*error != err::kSuccess) return MachineLockOutcome::kFailed;
    if (machineLockHolder_ != 0) return MachineLockOutcome::kBusy;
    *lock = machineLockHolder_ = nextMachineLock_++;
    return MachineLockOutcome::kAcquired;
}

Win32Error FakeSystem::ReleaseMachineLock(MachineLockRef lock) noexcept {
    constexpr Win32Error kNotOwner = 288;  // ERROR_NOT_OWNER
    if (lock == 0) return err::kInvalidHandle;
    if (lock != machineLockHolder_) return kNotOwner;
    machineLockHolder_ = 0;
    return err::kSuccess;
}

// --- FakeMessageBoxes ---

int FakeMessageBoxes::Show(WindowRef owner, std::string_view text, std::string_view caption,
                           std::uint32_t style) noexcept {
    shown_.push_back({owner, std::string(text), std::string(caption), style});
    if (answers_.empty()) return mb::kIdOk;
    const int answer = answers_.front();
    answers_.pop_front();
    return answer;
}

// --- FakeResources ---

FakeResources::FakeResources() {
    for (std::uint32_t id : {IDR_FILELIST_ALL, IDR_FILELIST_CLEANUP}) {
        std::ifstream in(std::string(QV_SOURCE_DIR) + "/res/filelist" + std::to_string(id) + ".txt",
                         std::ios::binary);
        if (in) SetBytes(id, "FILELIST", std::string(std::istreambuf_iterator<char>(in), {}));
    }
}

std::string FakeResources::LoadString(std::uint32_t id) noexcept {
    // Without a chosen language the loader takes the user's.
    return OrEmpty([&] { return ResourceString(id, language_ != 0 ? language_ : userLanguage_); });
}

Win32Error FakeResources::LoadResourceBytes(std::uint32_t id, std::string_view type,
                                            std::string* bytes) noexcept {
    // A module without any resource of the type gives a different error than one that lacks
    // only the name.
    const auto ofType = blobs_.find(text::FoldCase(type));
    if (ofType == blobs_.end() || ofType->second.empty()) return kResourceTypeNotFound;
    const auto found = ofType->second.find(id);
    if (found == ofType->second.end()) return kResourceNameNotFound;
    *bytes = found->second;
    return err::kSuccess;
}

// --- code page 932 ---

std::string Cp932(std::string_view utf8) {
    // A character the code page lacks becomes "?", as the system's conversion writes its default
    // character; a broken sequence is dropped the same way.
    return ConvertEach("CP932", "UTF-8", utf8, Utf8CharLength,
                       [](std::string_view) { return std::string("?"); });
}

std::string Utf8FromCp932(std::string_view cp932) {
    // As the system converts without MB_ERR_INVALID_CHARS: a lead byte takes the next byte with
    // it; a pair without a character, and a lead byte at the end, become U+30FB, the code page's
    // default character. The single bytes without a character map to code points of their own:
    // 0x80 to U+0080, 0xA0 to U+F8F0 and 0xFD-0xFF to U+F8F1-U+F8F3.
    return ConvertEach(
        "UTF-8", "CP932", cp932, text::CharLength, [](std::string_view character) -> std::string {
            const auto byte = static_cast<unsigned char>(character[0]);
            if (character.size() == 2 || text::IsLeadByte(byte)) {
                return "\xE3\x83\xBB";
            }
            if (byte == 0x80) return "\xC2\x80";
            return {'\xEF', '\xA3', static_cast<char>(byte == 0xA0 ? 0xB0 : byte - 0x4C)};
        });
}

std::string ResourceString(std::uint32_t id, std::uint16_t languageId) {
    const auto find = [id](const auto& table) {
        for (const auto& [known, utf8] : table) {
            if (known == id) return Cp932(utf8);
        }
        return std::string();
    };
    // English serves every language that is not Japanese.
    const bool japanese = (languageId & 0x3FF) == (kLangJapanese & 0x3FF);
    return japanese ? find(kStringTable) : find(kEnglishStringTable);
}

}  // namespace qv::fake
