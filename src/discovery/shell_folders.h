// The users' and the machine's shell folders, read from "Shell Folders".
#pragma once
#include <string>
#include <string_view>

#include "port/registry.h"

namespace qv {

inline constexpr char kUserShellFoldersSuffix[] =
    "\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
inline constexpr char kCommonShellFoldersKey[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";

// 0 and *folder without trailing backslashes, or the registry's error (13 for a value that is not
// REG_SZ). After a failed open *folder is untouched.
[[nodiscard]] Win32Error ReadUserShellFolder(IRegistry& registry, std::string_view sidText,
                                             std::string_view valueName, std::string* folder);
[[nodiscard]] Win32Error ReadCommonShellFolder(IRegistry& registry, std::string_view valueName,
                                               std::string* folder);

}  // namespace qv
