#include "discovery/shell_folders.h"

#include <cstdint>
#include <string>

#include "app/defaults.h"
#include "base/text.h"

namespace qv {
namespace {

bool IsStringType(std::uint32_t type) {
    return type == reg::kSz || type == reg::kExpandSz || type == 7 /* REG_MULTI_SZ */;
}

// Reads one "Shell Folders" value below an open key into `folder`.
//
// The value is read into a MAX_PATH buffer that starts out holding the folder's previous text, and
// the folder afterwards is that buffer's text up to its first NUL, whatever the query returned:
// after a failed query the caller still finds its previous text, and after a value of the wrong
// type the raw text of that value. Callers that fill in defaults rely on this.
[[nodiscard]] Win32Error ReadShellFolderValue(IRegistry& registry, HKey key,
                                              std::string_view valueName, std::string* folder) {
    std::string buffer = text::UpToNul(*folder);
    if (buffer.size() < kMaxPath) buffer.resize(kMaxPath, '\0');

    std::uint32_t type = reg::kNone;
    std::string data;
    Win32Error result = registry.QueryValue(key, valueName, kMaxPath, &type, &data, nullptr);
    if (result == err::kSuccess) {
        if (IsStringType(type) && data.find('\0') == std::string::npos) {
            // A string stored without its NUL. The system adds one when the buffer has room; a
            // value that fills the whole buffer would leave the path unterminated, so it is
            // refused like any other value that does not fit with its NUL.
            if (data.size() >= kMaxPath) {
                *folder = text::UpToNul(buffer);
                return err::kMoreData;
            }
            data.push_back('\0');
        }
        buffer.replace(0, data.size() < buffer.size() ? data.size() : buffer.size(), data);
        if (type != reg::kSz) result = err::kInvalidData;
    }

    *folder = text::UpToNul(buffer);
    if (result == err::kSuccess) *folder = text::TrimTrailingBackslashes(*folder);
    return result;
}

[[nodiscard]] Win32Error ReadShellFolder(IRegistry& registry, HKey root, std::string_view keyPath,
                                         std::string_view valueName, std::string* folder) {
    Win32Error opened = err::kSuccess;
    UniqueKey key = OpenKey(registry, root, keyPath, reg::kReadNative, &opened);
    if (opened != err::kSuccess) return opened;
    return ReadShellFolderValue(registry, key.get(), valueName, folder);
}

}  // namespace

Win32Error ReadUserShellFolder(IRegistry& registry, std::string_view sidText,
                               std::string_view valueName, std::string* folder) {
    return ReadUserShellFolders(registry, sidText, {{valueName, folder}});
}

Win32Error ReadUserShellFolders(IRegistry& registry, std::string_view sidText,
                                std::initializer_list<ShellFolderRead> reads) {
    std::string keyPath(sidText);
    keyPath += kUserShellFoldersSuffix;
    Win32Error opened = err::kSuccess;
    UniqueKey key = OpenKey(registry, kHkeyUsers, keyPath, reg::kReadNative, &opened);
    if (opened != err::kSuccess) return opened;
    for (const ShellFolderRead& read : reads) {
        Win32Error result = ReadShellFolderValue(registry, key.get(), read.valueName, read.folder);
        if (result != err::kSuccess) return result;
    }
    return err::kSuccess;
}

Win32Error ReadCommonShellFolder(IRegistry& registry, std::string_view valueName,
                                 std::string* folder) {
    return ReadShellFolder(registry, kHkeyLocalMachine, kCommonShellFoldersKey, valueName, folder);
}

}  // namespace qv
