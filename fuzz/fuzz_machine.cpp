#include "fuzz/fuzz_machine.h"

#include "base/text.h"

namespace qv::fuzz {
namespace {

bool SameValues(const KeyImage& a, const KeyImage& b) {
    if (a.values.size() != b.values.size()) return false;
    for (const auto& [name, value] : a.values) {
        auto it = b.values.find(name);
        if (it == b.values.end() || it->second.type != value.type ||
            it->second.bytes != value.bytes) {
            return false;
        }
    }
    return true;
}

}  // namespace

RegistryImage TakeRegistryImage(const fake::FakeRegistry& registry) {
    RegistryImage image;
    for (fake::FakeRegistry::KeyRecord& record : registry.AllKeys()) {
        KeyImage key;
        key.path = std::move(record.path);
        key.time = record.time;
        for (auto& [name, value] : record.values) {
            key.values.emplace(text::FoldCase(name), std::move(value));
        }
        std::string folded = text::FoldCase(key.path);
        image.emplace(std::move(folded), std::move(key));
    }
    return image;
}

std::vector<KeyChange> CompareRegistry(const RegistryImage& before, const RegistryImage& after) {
    std::vector<KeyChange> changes;
    for (const auto& [folded, key] : before) {
        auto it = after.find(folded);
        if (it == after.end()) {
            changes.push_back({key.path, "removed"});
        } else if (!SameValues(key, it->second)) {
            changes.push_back({key.path, "values"});
        } else if (key.time != it->second.time) {
            changes.push_back({key.path, "time"});
        }
    }
    for (const auto& [folded, key] : after) {
        if (before.count(folded) == 0) changes.push_back({key.path, "added"});
    }
    return changes;
}

DiskImage TakeDiskImage(const fake::FakeFileSystem& files) {
    DiskImage image;
    for (fake::FakeFileSystem::EntryRecord& entry : files.AllEntries()) {
        std::string folded = text::FoldCase(entry.path);
        image.emplace(std::move(folded), EntryImage{entry.attributes, std::move(entry.contents),
                                                    std::move(entry.target)});
    }
    return image;
}

std::vector<std::string> CompareDisk(const DiskImage& before, const DiskImage& after) {
    std::vector<std::string> changed;
    for (const auto& [path, entry] : before) {
        auto it = after.find(path);
        if (it == after.end() || !(it->second == entry)) changed.push_back(path);
    }
    for (const auto& [path, entry] : after) {
        if (before.count(path) == 0) changed.push_back(path);
    }
    return changed;
}

bool IsAtOrBelow(std::string_view path, std::string_view folder) {
    if (folder.empty() || path.size() < folder.size() || path.substr(0, folder.size()) != folder)
        return false;
    return path.size() == folder.size() || path[folder.size()] == '\\' || folder.back() == '\\';
}

std::string Describe(const std::vector<KeyChange>& changes) {
    std::string out;
    for (const KeyChange& c : changes) out += c.what + " " + c.path + "; ";
    return out;
}

std::string Describe(const std::vector<std::string>& paths) {
    std::string out;
    for (const std::string& p : paths) out += p + "; ";
    return out;
}

}  // namespace qv::fuzz
