// The users' and the machine's shell folders, read from "Shell Folders".
#pragma once
#include <initializer_list>
#include <string>
#include <string_view>

#include "port/registry.h"

namespace qv {

inline constexpr char kUserShellFoldersSuffix[] =
    "\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
inline constexpr char kCommonShellFoldersKey[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";

// The value names of the folders the tool reads from those keys.
namespace shell_folder {
inline constexpr char kAppData[] = "AppData";
inline constexpr char kLocalAppData[] = "Local AppData";
inline constexpr char kLocalSettings[] = "Local Settings";
inline constexpr char kCommonAppData[] = "Common AppData";  // the machine's key only
}  // namespace shell_folder

// 0 and *folder without trailing backslashes, or the registry's error (13 for a value that is not
// REG_SZ). After a failed open *folder is untouched.
[[nodiscard]] Win32Error ReadUserShellFolder(IRegistry& registry, std::string_view sidText,
                                             std::string_view valueName, std::string* folder);
// One value of a "Shell Folders" key and the folder it is read into.
struct ShellFolderRead {
    std::string_view valueName;
    std::string* folder;
};
// Reads the values in order through one open of the user's "Shell Folders" key, each as
// ReadUserShellFolder reads it, and stops at the first that fails: 0, or the error of the open or
// of that value.
[[nodiscard]] Win32Error ReadUserShellFolders(IRegistry& registry, std::string_view sidText,
                                              std::initializer_list<ShellFolderRead> reads);
[[nodiscard]] Win32Error ReadCommonShellFolder(IRegistry& registry, std::string_view valueName,
                                               std::string* folder);

}  // namespace qv
