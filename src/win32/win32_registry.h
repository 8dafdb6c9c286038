// The registry port on the system's advapi32 registry functions (ANSI).
#pragma once
#include "port/registry.h"
#include "win32/windows_api.h"

namespace qv::win32 {

class Win32Registry final : public IRegistry {
  public:
    Win32Registry() = default;

    // Alike on purpose: the fake and the Windows adapter implement the same port, so both list its
    // methods.
    [[nodiscard]] Win32Error OpenKey(HKey parent, std::string_view subKey, std::uint32_t access,
                                     HKey* key) noexcept override;
    [[nodiscard]] Win32Error CreateKey(HKey parent, std::string_view subKey, std::uint32_t options,
                                       std::uint32_t access, HKey* key,
                                       std::uint32_t* disposition) noexcept override;
    [[nodiscard]] Win32Error EnumKey(HKey key, std::uint32_t index, std::uint32_t bufferChars,
                                     std::string* name) noexcept override;
    [[nodiscard]] Win32Error QueryValue(HKey key, std::string_view valueName,
                                        std::uint32_t bufferBytes, std::uint32_t* type,
                                        std::string* data,
                                        std::uint32_t* neededBytes) noexcept override;
    // Grows its buffers until the value fits (ERROR_MORE_DATA), a few times at most: a value that
    // keeps growing in between gives ERROR_MORE_DATA.
    [[nodiscard]] Win32Error EnumValue(HKey key, std::uint32_t index, std::string* name,
                                       std::uint32_t* type, std::string* data) noexcept override;
    [[nodiscard]] Win32Error SetValue(HKey key, std::string_view valueName, std::uint32_t type,
                                      std::string_view data) noexcept override;
    [[nodiscard]] Win32Error DeleteKey(HKey parent, std::string_view subKey) noexcept override;
    [[nodiscard]] Win32Error FlushKey(HKey key) noexcept override;
    [[nodiscard]] Win32Error QueryLastWriteTime(HKey key, FileTime* time) noexcept override;
    [[nodiscard]] Win32Error SetLastWriteTime(HKey key, FileTime time) noexcept override;
    [[nodiscard]] Win32Error CloseKey(HKey key) noexcept override;
    [[nodiscard]] Win32Error SaveKey(HKey key, std::string_view file) noexcept override;
    [[nodiscard]] Win32Error LoadKey(HKey parent, std::string_view subKey,
                                     std::string_view file) noexcept override;
    [[nodiscard]] Win32Error UnLoadKey(HKey parent, std::string_view subKey) noexcept override;
};

}  // namespace qv::win32
