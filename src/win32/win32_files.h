// The files port on kernel32 (ANSI).
#pragma once
#include <memory>

#include "port/files.h"
#include "win32/windows_api.h"

namespace qv::win32 {

[[nodiscard]] std::unique_ptr<IFileSystem> MakeFileSystem();

}  // namespace qv::win32
