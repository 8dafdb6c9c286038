// Images of the fake machine's registry and disk, taken before and after the code under test runs,
// and their differences: the oracles of the harnesses that let the tool loose on a machine.
#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "fake/fake_machine.h"

namespace qv::fuzz {

// Every key of the registry with its values and last-write time, keyed by its folded path:
// "HKLM\...", "HKU\<name>\..." for the mounted hives, "<hive file>|..." for hive files that are
// not loaded.
struct KeyImage {
    std::string path;  // as the registry spells it
    std::int64_t time = 0;
    std::map<std::string, fake::FakeRegistry::RawValue> values;  // by folded name
};
using RegistryImage = std::map<std::string, KeyImage>;

RegistryImage TakeRegistryImage(const fake::FakeRegistry& registry);

struct KeyChange {
    std::string path;
    std::string what;  // "added", "removed", "values", "time"
};
std::vector<KeyChange> CompareRegistry(const RegistryImage& before, const RegistryImage& after);

// Every file, folder and junction of the disk with its attributes, a file's contents and a
// junction's target.
struct EntryImage {
    std::uint32_t attributes = 0;
    std::string contents;
    std::string target;
    bool operator==(const EntryImage& o) const {
        return attributes == o.attributes && contents == o.contents && target == o.target;
    }
};
using DiskImage = std::map<std::string, EntryImage>;  // by folded full path
DiskImage TakeDiskImage(const fake::FakeFileSystem& files);
// The folded paths that were added, removed or changed.
std::vector<std::string> CompareDisk(const DiskImage& before, const DiskImage& after);

// Whether the folded `path` is `folder` (folded) or lies below it; never for an empty folder.
bool IsAtOrBelow(std::string_view path, std::string_view folder);

// Printable text of a list of changes, for a failure report.
std::string Describe(const std::vector<KeyChange>& changes);
std::string Describe(const std::vector<std::string>& paths);

}  // namespace qv::fuzz
