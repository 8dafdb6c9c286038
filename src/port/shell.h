// Shell port: deletion of a folder tree.
#pragma once
#include <cstdint>
#include <string_view>

#include "port/window.h"

namespace qv {

namespace shell {
inline constexpr std::uint32_t kFoDelete = 3;
inline constexpr std::uint16_t kFofNoConfirmation = 0x0010;
inline constexpr std::uint16_t kFofNoErrorUi = 0x0400;
}  // namespace shell

class IShell {
public:
    IShell() = default;
    IShell(const IShell&) = delete;
    IShell& operator=(const IShell&) = delete;
    virtual ~IShell() = default;

    // SHFileOperationA with FO_DELETE, source `path` (the adapter adds the two NULs), no
    // destination and `flags`. Returns the shell's result, which is not a Win32 error code.
    virtual int DeleteTree(WindowRef owner, std::string_view path, std::uint16_t flags) noexcept = 0;
};

}  // namespace qv
