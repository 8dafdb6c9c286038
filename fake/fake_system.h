// The fake machine's system services, message boxes, debug output and resources.
#pragma once
#include <cstdint>
#include <deque>
#include <map>
#include <numeric>
#include <string>
#include <string_view>
#include <vector>

#include "base/text.h"
#include "fake/fault_plan.h"
#include "port/system.h"
#include "port/user.h"

namespace qv::fake {

class FakeFileSystem;

// The port's calls that take injected faults, and their subjects: the library's file name ("name"
// completed with ".dll"); the time asked for, in decimal seconds since 1970; none for the others.
// A failing GetCurrentDirectory answers 0, LoadLibrary 0, LocalTimeRoundTrip false (besides years
// before 1900), AnsiToUtf8 an empty text, as when the system runs out of memory.
// kAcquireMachineLock: a fault fails the acquisition (as on Windows for a user who is not an
// administrator: access denied).
enum class SysOp {
    kGetCurrentDirectory,
    kLoadLibrary,
    kLocalTimeRoundTrip,
    kAnsiToUtf8,
    kAcquireMachineLock
};

class FakeSystem final : public ISystem, public FaultInjection<SysOp> {
  public:
    explicit FakeSystem(FakeFileSystem& files) : files_(files) {}

    // --- setup ---
    void SetVersion(OsVersion v) { version_ = v; }  // default 5.1, NT family
    // Names are case-insensitive.
    void SetEnv(std::string_view name, std::string_view value) {
        env_[text::FoldCase(name)] = std::string(value);
    }
    void UnsetEnv(std::string_view name) { env_.erase(text::FoldCase(name)); }
    void SetCurrentDirectory(std::string_view dir) { currentDirectory_ = dir; }
    void SetNow(std::int64_t unixSeconds) { now_ = unixSeconds; }
    void SetComputerName(std::string_view name) { computerName_ = name; }
    // The bytes the random generator hands out next, in order; when they run out it goes on with
    // a fixed sequence of its own.
    void QueueRandom(std::string_view bytes) { queuedRandom_.append(bytes); }

    // --- inspection ---
    const std::string& CurrentDirectory() const { return currentDirectory_; }
    std::int64_t Now() const { return now_; }
    int InitCommonControlsCalls() const { return initCommonControlsCalls_; }
    // One name (as passed to LoadLibrary) per load not yet matched by a FreeLibrary: a library
    // loaded twice and freed once is still listed.
    const std::vector<std::string>& LoadedLibraries() const { return loaded_; }
    int FreeLibraryCalls() const { return freeLibraryCalls_; }
    // Whether a run holds the machine's run lock, and the timeout of every acquisition asked for.
    bool MachineLockHeld() const { return machineLockHolder_ != 0; }
    const std::vector<std::uint32_t>& MachineLockTimeouts() const { return machineLockTimeouts_; }
    const std::vector<std::uint32_t>& Sleeps() const { return sleeps_; }

    // --- ISystem ---
    void InitCommonControls() noexcept override { ++initCommonControlsCalls_; }
    [[nodiscard]] Win32Error GetVersion(OsVersion* version) noexcept override {
        *version = version_;
        return err::kSuccess;
    }
    // Known libraries (advapi32, oleacc, kernel32, user32, comctl32, shell32, ...) load from the
    // system folder under any case, with or without ".dll"; others never load, nor does any name
    // with a path or a drive.
    [[nodiscard]] ModuleHandle LoadLibrary(std::string_view name) noexcept override;
    [[nodiscard]] Win32Error FreeLibrary(ModuleHandle module) noexcept override;
    // GetProcAddress gives every export of a loaded library an address of its own, the same on
    // every lookup and distinct from every other library's and entry's. Names are exact
    // (case-sensitive); for oleacc.dll, whose entries the tool looks up by name, a name the
    // library does not export gives null.
    void* GetProcAddress(ModuleHandle module, std::string_view name) noexcept override;
    [[nodiscard]] std::uint32_t GetCurrentDirectory(std::uint32_t bufferChars,
                                                    std::string* directory) noexcept override;
    [[nodiscard]] std::uint32_t ExpandEnvironmentStrings(std::string_view source,
                                                         std::uint32_t bufferChars,
                                                         std::string* expanded) noexcept override;
    [[nodiscard]] Win32Error GetEnvironmentVariable(std::string_view name,
                                                    std::string* value) noexcept override;
    // Reads the INI file from the fake file system, as GetPrivateProfileStringA does: section and
    // key names case-insensitive, the first of each name counts, values trimmed of surrounding
    // blanks and of one pair of quotes, cut to 4095 characters; a missing file, section or key
    // gives the default without its trailing blanks.
    std::string GetPrivateProfileString(std::string_view section, std::string_view key,
                                        std::string_view defaultValue,
                                        std::string_view file) noexcept override;
    std::string FormatSystemMessage(Win32Error code) noexcept override;
    std::int64_t CurrentTime() noexcept override { return now_; }
    // Waits no time; the wait is noted.
    void Sleep(std::uint32_t milliseconds) noexcept override { sleeps_.push_back(milliseconds); }
    [[nodiscard]] bool LocalTimeRoundTrip(std::int64_t utcSeconds,
                                          std::int64_t* result) noexcept override;
    [[nodiscard]] Win32Error GetComputerName(std::string* name) noexcept override {
        *name = computerName_;
        return err::kSuccess;
    }
    // The machine's ANSI code page is 932, converted as the system converts it (see
    // Utf8FromCp932).
    std::string AnsiToUtf8(std::string_view ansi) noexcept override;
    // Code page 932, as Cp932 converts (a character it lacks becomes "?").
    std::string Utf8ToAnsi(std::string_view utf8) noexcept override;
    // Folds what the system folds of code page 932: the ASCII letters, the full-width Latin
    // letters and the Greek and Cyrillic letters (every other character is its own).
    [[nodiscard]] bool EqualsIgnoringCase(std::string_view a, std::string_view b) noexcept override;
    [[nodiscard]] Win32Error GenerateRandom(unsigned char* bytes,
                                            std::size_t count) noexcept override;
    // One lock for the whole machine: every run on it (every acquisition through this port) sees
    // every other's. A busy lock is answered at once, as when the wait ended before its holder let
    // go; releasing a lock that is not held fails with ERROR_NOT_OWNER (none:
    // ERROR_INVALID_HANDLE).
    [[nodiscard]] MachineLockOutcome AcquireMachineLock(std::uint32_t timeoutMs,
                                                        MachineLockRef* lock,
                                                        Win32Error* error) noexcept override;
    [[nodiscard]] Win32Error ReleaseMachineLock(MachineLockRef lock) noexcept override;

  private:
    FakeFileSystem& files_;
    OsVersion version_{5, 1, kVerPlatformWin32Nt};
    std::map<std::string, std::string> env_;  // by text::FoldCase of the name
    std::string currentDirectory_ = "C:\\Tools";
    std::int64_t now_ = 1767225600;  // 2026-01-01 00:00:00 UTC
    std::string computerName_ = "QVTEST-PC";
    std::vector<std::uint32_t> sleeps_;
    int initCommonControlsCalls_ = 0;
    int freeLibraryCalls_ = 0;
    std::vector<std::string> loaded_;   // the name of every load not yet freed
    std::vector<std::string> exports_;  // every name GetProcAddress answered, in order
    std::string queuedRandom_;
    std::uint32_t randomState_ = 0x2545F491u;
    MachineLockRef machineLockHolder_ = 0;  // 0: free
    MachineLockRef nextMachineLock_ = 0x4D4C0001;
    std::vector<std::uint32_t> machineLockTimeouts_;
};

class FakeMessageBoxes final : public IMessageBoxes {
  public:
    struct Box {
        WindowRef owner;
        std::string text;
        std::string caption;
        std::uint32_t style;
    };
    const std::vector<Box>& Shown() const { return shown_; }
    void Clear() { shown_.clear(); }
    // The answers of the next boxes, in order; when none is queued a box answers mb::kIdOk.
    void QueueAnswer(int answer) { answers_.push_back(answer); }

    int Show(WindowRef owner, std::string_view text, std::string_view caption,
             std::uint32_t style) noexcept override;

  private:
    std::vector<Box> shown_;
    std::deque<int> answers_;
};

class FakeDebugOutput final : public IDebugOutput {
  public:
    const std::vector<std::string>& Lines() const { return lines_; }
    // All writes joined.
    std::string Text() const {
        return std::accumulate(lines_.begin(), lines_.end(), std::string());
    }
    void Clear() { lines_.clear(); }
    void Write(std::string_view text) noexcept override { lines_.emplace_back(text); }

  private:
    std::vector<std::string> lines_;
};

// LANGIDs of the two languages the tool's resources are in.
inline constexpr std::uint16_t kLangJapanese = 0x0411;
inline constexpr std::uint16_t kLangEnglishUs = 0x0409;

// Serves the tool's string tables (Japanese and English, in code page 932) and its two file lists,
// read from res/. The user's interface is Japanese unless a test says otherwise.
class FakeResources final : public IResources {
  public:
    FakeResources();
    void SetBytes(std::uint32_t id, std::string_view type, std::string_view bytes) {
        blobs_[text::FoldCase(type)][id] = bytes;
    }
    void RemoveResource(std::uint32_t id, std::string_view type) {
        blobs_[text::FoldCase(type)].erase(id);
    }
    void SetUserInterfaceLanguage(std::uint16_t languageId) { userLanguage_ = languageId; }
    // The language UseLanguage chose; 0 when none was.
    std::uint16_t Language() const { return language_; }
    std::uint16_t UserInterfaceLanguage() noexcept override { return userLanguage_; }
    void UseLanguage(std::uint16_t languageId) noexcept override { language_ = languageId; }
    std::string LoadString(std::uint32_t id) noexcept override;
    [[nodiscard]] Win32Error LoadResourceBytes(std::uint32_t id, std::string_view type,
                                               std::string* bytes) noexcept override;

  private:
    std::uint16_t userLanguage_ = kLangJapanese;
    std::uint16_t language_ = 0;
    // The bytes by the type's text::FoldCase (type names are case-insensitive), then by id.
    std::map<std::string, std::map<std::uint32_t, std::string>> blobs_;
};

// UTF-8 to code page 932, for tests that compare with the tool's Japanese texts.
std::string Cp932(std::string_view utf8);
// Code page 932 to UTF-8 as the system converts it: a lead byte takes the next byte with it, and a
// pair without a character (or a lead byte at the end) becomes U+30FB, the default character;
// 0x80, 0xA0 and 0xFD-0xFF become U+0080, U+F8F0 and U+F8F1-U+F8F3.
std::string Utf8FromCp932(std::string_view cp932);
// The string table entry `id` in a language (a LANGID: English unless Japanese) as the tool sees it
// (code page 932).
std::string ResourceString(std::uint32_t id, std::uint16_t languageId = kLangJapanese);

}  // namespace qv::fake
