// Removing a folder with everything in it through the plain file calls: how the Windows test
// program and the measurements clear what they prepared beside the tool (the shell's deletion and
// the tool's own deleter are among the things they test and measure).
#pragma once
#include <string>

#include "win32/win32_handles.h"
#include "win32/windows_api.h"

namespace qv::win32::testing {

inline void RemoveTree(const std::string& folder) {
    {
        WIN32_FIND_DATAA found{};
        UniqueSearch search(::FindFirstFileA((folder + "\\*").c_str(), &found));
        if (search) {
            do {
                const std::string name = found.cFileName;
                if (name == "." || name == "..") continue;
                const std::string path = folder + "\\" + name;
                ::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
                if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                    RemoveTree(path);
                } else {
                    ::DeleteFileA(path.c_str());
                }
            } while (::FindNextFileA(search.get(), &found));
        }
    }  // the search closed first: an open search would keep the folder
    ::RemoveDirectoryA(folder.c_str());
}

}  // namespace qv::win32::testing
