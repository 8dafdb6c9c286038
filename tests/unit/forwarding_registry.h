// A registry port that hands every call on to another: a test overrides the calls it watches or
// changes.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "port/registry.h"

namespace qv::test {

class ForwardingRegistry : public IRegistry {
  public:
    explicit ForwardingRegistry(IRegistry& registry) : registry_(registry) {}

    Win32Error EnumKey(HKey key, std::uint32_t index, std::uint32_t bufferChars,
                       std::string* name) noexcept override {
        return registry_.EnumKey(key, index, bufferChars, name);
    }
    Win32Error OpenKey(HKey parent, std::string_view subKey, std::uint32_t access,
                       HKey* key) noexcept override {
        return registry_.OpenKey(parent, subKey, access, key);
    }
    Win32Error OpenLinkKey(HKey parent, std::string_view subKey, std::uint32_t access,
                           HKey* key) noexcept override {
        return registry_.OpenLinkKey(parent, subKey, access, key);
    }
    Win32Error CreateKey(HKey parent, std::string_view subKey, std::uint32_t options,
                         std::uint32_t access, HKey* key,
                         std::uint32_t* disposition) noexcept override {
        return registry_.CreateKey(parent, subKey, options, access, key, disposition);
    }
    Win32Error QueryValue(HKey key, std::string_view valueName, std::uint32_t bufferBytes,
                          std::uint32_t* type, std::string* data,
                          std::uint32_t* neededBytes) noexcept override {
        return registry_.QueryValue(key, valueName, bufferBytes, type, data, neededBytes);
    }
    Win32Error EnumValue(HKey key, std::uint32_t index, std::string* name, std::uint32_t* type,
                         std::string* data) noexcept override {
        return registry_.EnumValue(key, index, name, type, data);
    }
    Win32Error SetValue(HKey key, std::string_view valueName, std::uint32_t type,
                        std::string_view data) noexcept override {
        return registry_.SetValue(key, valueName, type, data);
    }
    Win32Error DeleteKey(HKey parent, std::string_view subKey) noexcept override {
        return registry_.DeleteKey(parent, subKey);
    }
    Win32Error DeleteOpenKey(HKey key) noexcept override { return registry_.DeleteOpenKey(key); }
    Win32Error FlushKey(HKey key) noexcept override { return registry_.FlushKey(key); }
    Win32Error QueryLastWriteTime(HKey key, FileTime* time) noexcept override {
        return registry_.QueryLastWriteTime(key, time);
    }
    Win32Error SetLastWriteTime(HKey key, FileTime time) noexcept override {
        return registry_.SetLastWriteTime(key, time);
    }
    Win32Error CloseKey(HKey key) noexcept override { return registry_.CloseKey(key); }
    Win32Error SaveKey(HKey key, std::string_view file) noexcept override {
        return registry_.SaveKey(key, file);
    }
    Win32Error LoadKey(HKey parent, std::string_view subKey,
                       std::string_view file) noexcept override {
        return registry_.LoadKey(parent, subKey, file);
    }
    Win32Error UnLoadKey(HKey parent, std::string_view subKey) noexcept override {
        return registry_.UnLoadKey(parent, subKey);
    }

  protected:
    IRegistry& registry_;
};

}  // namespace qv::test
