// The backup of a registry key tree: what a clean-up reads of a registration key before it deletes
// it, in a form that puts it back exactly (every name and value byte for byte), and its export as
// a ".reg" text for an administrator, which "reg import" reads.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/win32_codes.h"
#include "port/registry.h"

namespace qv {

struct KeyValueCopy {
    std::string name;
    std::uint32_t type = reg::kNone;
    std::string data;  // as stored
};

struct KeyTreeCopy {
    std::string name;
    FileTime lastWrite = 0;
    std::vector<KeyValueCopy> values;  // in enumeration order
    std::vector<KeyTreeCopy> subKeys;  // in enumeration order
};

// Reads the key `path` below `parent` with its values and everything below it. 0 or the error.
[[nodiscard]] Win32Error ReadKeyTree(IRegistry& registry, HKey parent, std::string_view path,
                                     KeyTreeCopy* tree);
// Makes the key `path` below `parent` anew from `tree`, missing keys above it included, and gives
// each key its last-write time back where the system allows. Nothing is written when the key
// exists already: 183. 0 or the error of the first write that failed.
[[nodiscard]] Win32Error WriteKeyTree(IRegistry& registry, HKey parent, std::string_view path,
                                      const KeyTreeCopy& tree);

// The tree as JSON (names and data in hexadecimal, so that any byte of the ANSI code page comes
// back as it was), and back; FromJson is false for a text that is not such a tree.
std::string KeyTreeJson(const KeyTreeCopy& tree);
[[nodiscard]] bool KeyTreeFromJson(std::string_view json, KeyTreeCopy* tree);

// The tree as a registry script of the ANSI code page ("REGEDIT4", CR LF line ends) with the key
// named `keyName` ("HKEY_USERS\S-1-...\Software\..."): strings that the script carries as text
// (one terminating NUL, no control character, every double-byte character whole) as text, every
// other value as hex. Key and value names cannot be written as hex: when one of them (or of the
// names in `keyName`) holds a control character, "[" or "]" in a key name, or a byte that an
// importer could join with the quote or bracket after it, no script is made (false), so that no
// name a user chose can end its line and start a section of another key.
[[nodiscard]] bool RegExport(const KeyTreeCopy& tree, std::string_view keyName,
                             std::string* script);

}  // namespace qv
