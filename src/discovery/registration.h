// The layout of product registration keys, display names and product codes, and the registration
// of leftover product folders.
#pragma once
#include <string>
#include <string_view>
#include <vector>

#include "app/tables.h"
#include "port/platform.h"

namespace qv {

// "Software\<company>\<product>\<release>".
std::string ReleaseKeyPath(std::string_view company, std::string_view product,
                           std::string_view release);
// "Software\<company>\<product>\<release>\<code>-<id>:<lcid>".
std::string RegistrationKeyPath(std::string_view company, std::string_view product,
                                std::string_view release, std::string_view code,
                                std::string_view id, std::string_view lcid);

// The parts of a registration key name "<code>-<id>:<lcid>": the suffix after the first "-" (the
// whole name without one), the product id before the first ":" of the suffix (empty without
// one) and the locale id after it (the whole suffix without one).
struct RegistrationName {
    std::string suffix;
    std::string productId;
    std::string localeId;
};
RegistrationName SplitRegistrationKeyName(std::string_view keyName);

// "OVLN" for "Ovaline", "OVSK" for "Ovaline Sketch", "OVXM" for anything else.
std::string ProductCodeOf(std::string_view product);
// "Ovaline Sketch 2004" for the light edition whatever the id; else the first product table row
// with that id, or empty.
std::string ProductDisplayName(const StringTable& productIds, std::string_view product,
                               std::string_view id);

// A product and language folder of a user that neither the machine nor the user has registered.
struct LeftoverFolder {
    std::string keyPath;  // the registration key it gets, below the user's hive root
    std::string roamingFolder;
    std::string localFolder;
};
// Creates a registration key in the user's hive for each product and language folder that the
// user has and neither the machine nor the user has registered. With `heldInMemory` nothing is
// written: the folders are appended there instead.
void RegisterOrphanedUserData(Platform& os, const Tables& tables, std::string_view sidText,
                              std::string_view company, std::string_view product,
                              std::string_view release,
                              std::vector<LeftoverFolder>* heldInMemory = nullptr);
// Writes the registration key of a leftover folder into the user's hive (a created key gets the
// two folder values); 0 or the error.
[[nodiscard]] Win32Error RegisterLeftoverFolder(Platform& os, std::string_view sidText,
                                                const LeftoverFolder& leftover);

}  // namespace qv
