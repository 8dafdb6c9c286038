// A folder's listing through the handle port as the tests compare it, shared by the contract tests
// and the Windows tests of the handle adapter.
#pragma once
#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "port/file_handles.h"

namespace qv::contract {

using Listing = std::vector<std::pair<std::string, std::uint32_t>>;

// "." and ".." stay where they are (first); the other entries are sorted, as neither the system
// nor the port promises an order for them.
inline Listing Normalised(Listing listing) {
    auto rest = std::find_if(listing.begin(), listing.end(), [](const auto& entry) {
        return entry.first != "." && entry.first != "..";
    });
    std::sort(rest, listing.end());
    return listing;
}

// The entries of an open folder that match `mask`, normalised; *error is the port's result.
inline Listing ListEntries(IFileHandles& files, FileRef folder, std::string_view mask,
                           Win32Error* error) {
    std::vector<FolderEntry> entries;
    *error = files.ListFolder(folder, mask, &entries);
    Listing listing;
    for (const FolderEntry& entry : entries) listing.emplace_back(entry.name, entry.attributes);
    return Normalised(listing);
}

}  // namespace qv::contract
