// Deletion of a user's product files: the two root folders whole, then the lines of the built-in
// file list, with a trace to the debug output.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "app/tables.h"
#include "cleanup/deleter.h"
#include "cleanup/journal.h"
#include "cleanup/placeholders.h"
#include "discovery/registration.h"
#include "port/platform.h"

namespace qv {

inline constexpr char kFileListType[] = "FILELIST";

enum class ProductFilesOutcome {
    kRemoved,  // both product folders are gone (or were never there); the list was processed
    // A product folder was refused or could not be deleted whole, a file of the list stayed or
    // the list could not be run: data stays behind.
    kDataLeft,
    kNoTable,  // the registration's values could not be read; nothing was deleted
};

// Deletes a user's product files of one registration: the two product folders whole, then the
// lines of the built-in file list, every removal through the deleter. *tableError (optional)
// receives the registry error with which the placeholder table could not be built.
// `journal` (optional) notes every action; in a dry run nothing is deleted and nothing traced.
// `leftover` gives the folder values of a registration that is not written yet (a dry run's
// leftover folders); otherwise they are read from the registration key.
[[nodiscard]] ProductFilesOutcome CleanProductFiles(Platform& os, const Tables& tables,
                                                    std::string_view registrationPath,
                                                    std::string_view sidText,
                                                    Win32Error* tableError = nullptr,
                                                    Journal* journal = nullptr,
                                                    const LeftoverFolder* leftover = nullptr);
// Loads FILELIST `id`, expands it and runs DeleteBuffer over it; DeleteBuffer's result or the
// failure code.
[[nodiscard]] HResult LoadFileList(Platform& os, Deleter& deleter, std::uint32_t id,
                                   std::string_view type, const PlaceholderTable& table,
                                   Journal* journal = nullptr, std::string_view sid = {});
// Processes the expanded list line by line, with the trace (none in a dry run): 0, or
// hr::kFalse when a file that a line matched stayed (its deletion refused or failed).
[[nodiscard]] HResult DeleteBuffer(Platform& os, Deleter& deleter, std::string_view text,
                                   const PlaceholderTable& table, Journal* journal = nullptr,
                                   std::string_view sid = {});

}  // namespace qv
