#include "engine/backup/key_backup.h"

#include <cstdio>
#include <exception>
#include <nlohmann/json.hpp>
#include <utility>

#include "base/text.h"
#include "discovery/registration.h"

namespace qv {
namespace {

// Room for the longest key name (255 characters) and its NUL.
constexpr std::uint32_t kKeyNameChars = 256;
// The registry's own limit on the depth of a key tree.
constexpr int kMaxDepth = 512;

[[nodiscard]] Win32Error ReadOpenKey(IRegistry& registry, HKey key, KeyTreeCopy* tree, int depth) {
    if (depth > kMaxDepth) return err::kInvalidData;
    Win32Error e = registry.QueryLastWriteTime(key, &tree->lastWrite);
    if (e != err::kSuccess) return e;
    for (std::uint32_t index = 0;; ++index) {
        KeyValueCopy value;
        e = registry.EnumValue(key, index, &value.name, &value.type, &value.data);
        if (e == err::kNoMoreItems) break;
        if (e != err::kSuccess) return e;
        tree->values.push_back(std::move(value));
    }
    return ForEachSubKey(registry, key, kKeyNameChars, [&](const std::string& name) {
        KeyTreeCopy sub;
        sub.name = name;
        // A registry link below the registration is refused, never followed into another key.
        UniqueKey open(registry);
        Win32Error error = OpenKeyRefusingLinks(registry, key, sub.name, reg::kReadNative, &open);
        if (error != err::kSuccess) return error;
        error = ReadOpenKey(registry, open.get(), &sub, depth + 1);
        if (error != err::kSuccess) return error;
        tree->subKeys.push_back(std::move(sub));
        return err::kSuccess;
    });
}

[[nodiscard]] Win32Error WriteOpenKey(IRegistry& registry, HKey key, const KeyTreeCopy& tree) {
    for (const KeyValueCopy& value : tree.values) {
        Win32Error e = registry.SetValue(key, value.name, value.type, value.data);
        if (e != err::kSuccess) return e;
    }
    for (const KeyTreeCopy& sub : tree.subKeys) {
        UniqueKey open(registry);
        Win32Error e = registry.CreateKey(key, sub.name, reg::kOptionNonVolatile,
                                          reg::kReadWriteNative, open.put(), nullptr);
        if (e != err::kSuccess) return e;
        e = WriteOpenKey(registry, open.get(), sub);
        if (e != err::kSuccess) return e;
    }
    return err::kSuccess;
}

// Gives the written keys their times back, each after the keys below it (writing a sub key
// stamps its parent). Where the system keeps no such time, the keys keep the time of the write.
void PutTimesBack(IRegistry& registry, HKey key, const KeyTreeCopy& tree) {
    for (const KeyTreeCopy& sub : tree.subKeys) {
        UniqueKey open = OpenKey(registry, key, sub.name, reg::kKeyWrite | reg::kWow64_64Key);
        if (open) PutTimesBack(registry, open.get(), sub);
    }
    // Best effort: the keys and values are back either way.
    (void)registry.SetLastWriteTime(key, tree.lastWrite);
}

nlohmann::json ToJson(const KeyTreeCopy& tree) {
    nlohmann::json node;
    node["name"] = text::Hex(tree.name);
    node["time"] = tree.lastWrite;
    nlohmann::json values = nlohmann::json::array();
    for (const KeyValueCopy& value : tree.values) {
        values.push_back({{"name", text::Hex(value.name)},
                          {"type", value.type},
                          {"data", text::Hex(value.data)}});
    }
    node["values"] = std::move(values);
    nlohmann::json keys = nlohmann::json::array();
    for (const KeyTreeCopy& sub : tree.subKeys) keys.push_back(ToJson(sub));
    node["keys"] = std::move(keys);
    return node;
}

bool HexField(const nlohmann::json& node, const char* field, std::string* bytes) {
    auto it = node.find(field);
    return it != node.end() && it->is_string() && text::FromHex(it->get<std::string>(), bytes);
}

bool FromJson(const nlohmann::json& node, KeyTreeCopy* tree, int depth) {
    if (depth > kMaxDepth || !node.is_object() || !HexField(node, "name", &tree->name)) {
        return false;
    }
    auto time = node.find("time");
    auto values = node.find("values");
    auto keys = node.find("keys");
    if (time == node.end() || !time->is_number_unsigned() || values == node.end() ||
        !values->is_array() || keys == node.end() || !keys->is_array()) {
        return false;
    }
    tree->lastWrite = time->get<FileTime>();
    for (const nlohmann::json& v : *values) {
        KeyValueCopy value;
        auto type = v.find("type");
        if (!v.is_object() || !HexField(v, "name", &value.name) ||
            !HexField(v, "data", &value.data) || type == v.end() || !type->is_number_unsigned()) {
            return false;
        }
        value.type = type->get<std::uint32_t>();
        tree->values.push_back(std::move(value));
    }
    for (const nlohmann::json& k : *keys) {
        KeyTreeCopy sub;
        if (!FromJson(k, &sub, depth + 1)) return false;
        tree->subKeys.push_back(std::move(sub));
    }
    return true;
}

// Whether the script carries `s` as it is, in a key name (`key`) or between double quotes. Every
// byte a line or a section could end on is refused: control characters (a line feed or carriage
// return ends the line), "[" and "]" in a key name (an importer takes the name up to the last "]"),
// and a lead byte whose second byte could be read on its own (at the end of the text, or a second
// byte below 0x40 or one of "[", "\" and "]", which a code page without that pair would leave as
// itself after the lead byte's replacement). The ASCII quote and backslash are escaped.
bool Carries(std::string_view s, bool key) {
    if (key && s.empty()) return false;
    for (std::size_t i = 0; i < s.size(); ++i) {
        const auto c = static_cast<unsigned char>(s[i]);
        if (text::IsLeadByte(c)) {
            if (i + 1 == s.size()) return false;
            const auto trail = static_cast<unsigned char>(s[++i]);
            if (trail < 0x40 || trail == 0x7F || trail == 0xFF || trail == '[' || trail == '\\' ||
                trail == ']') {
                return false;
            }
        } else if (c < 0x20 || c == 0x7F || (key && (c == '[' || c == ']' || c == '\\'))) {
            return false;
        }
    }
    return true;
}

// A name or string between double quotes, with "\" and the quote escaped as the script needs.
std::string Quoted(std::string_view s) {
    std::string out = "\"";
    for (std::size_t i = 0; i < s.size(); i += text::CharLength(s, i)) {
        const std::size_t n = text::CharLength(s, i);
        if (n == 1 && (s[i] == '\\' || s[i] == '"')) out += '\\';
        out.append(s.substr(i, n));
    }
    return out + "\"";
}

bool IsPlainString(const KeyValueCopy& value) {
    if (value.type != reg::kSz || value.data.empty() || value.data.back() != '\0') return false;
    return Carries(std::string_view(value.data.data(), value.data.size() - 1), false);
}
std::string ValueLine(const KeyValueCopy& value) {
    std::string line = value.name.empty() ? std::string("@") : Quoted(value.name);
    line += '=';
    if (IsPlainString(value)) {
        return line + Quoted(std::string_view(value.data.data(), value.data.size() - 1));
    }
    if (value.type == reg::kDword && value.data.size() == 4) {
        std::uint32_t dword = 0;
        for (int i = 3; i >= 0; --i) {
            dword =
                (dword << 8) | static_cast<unsigned char>(value.data[static_cast<std::size_t>(i)]);
        }
        char digits[9];
        std::snprintf(digits, sizeof digits, "%08x", dword);
        return line + "dword:" + digits;
    }
    line += value.type == reg::kBinary ? std::string("hex:")
                                       : "hex(" + std::to_string(value.type) + "):";
    const std::string digits = text::Hex(value.data);
    for (std::size_t i = 0; i < digits.size(); i += 2) {
        if (i != 0) line += ',';
        line.append(digits, i, 2);
    }
    return line;
}

// Adds the key and everything below it; false when a name cannot be carried. Iterative: the tree
// is as deep as the user made it.
bool ExportKey(const KeyTreeCopy& tree, const std::string& keyName, std::string* out) {
    std::vector<std::pair<const KeyTreeCopy*, std::string>> todo{{&tree, keyName}};
    while (!todo.empty()) {
        auto [key, name] = std::move(todo.back());
        todo.pop_back();
        *out += "\r\n[" + name + "]\r\n";
        for (const KeyValueCopy& value : key->values) {
            if (!Carries(value.name, false)) return false;
            *out += ValueLine(value) + "\r\n";
        }
        for (auto sub = key->subKeys.rbegin(); sub != key->subKeys.rend(); ++sub) {
            if (!Carries(sub->name, true)) return false;
            todo.emplace_back(&*sub, name + "\\" + sub->name);
        }
    }
    return true;
}

}  // namespace

Win32Error ReadKeyTree(IRegistry& registry, HKey parent, std::string_view path, KeyTreeCopy* tree) {
    UniqueKey key(registry);
    Win32Error e = OpenKeyRefusingLinks(registry, parent, path, reg::kReadNative, &key);
    if (e != err::kSuccess) return e;
    *tree = KeyTreeCopy{};
    tree->name = text::AfterLastBackslash(path);
    return ReadOpenKey(registry, key.get(), tree, 0);
}

Win32Error WriteKeyTree(IRegistry& registry, HKey parent, std::string_view path,
                        const KeyTreeCopy& tree) {
    {
        // Nothing that has the name again is ever overwritten.
        Win32Error e = err::kSuccess;
        UniqueKey existing = OpenKey(registry, parent, path, reg::kReadNative, &e);
        if (existing) return err::kAlreadyExists;
        if (e != err::kFileNotFound) return e;
    }
    // The keys above it are the user's: one that is a registry link is refused, never followed.
    UniqueKey key(registry);
    std::uint32_t disposition = 0;
    Win32Error e =
        CreateKeyRefusingLinks(registry, parent, path, reg::kReadWriteNative, &key, &disposition);
    if (e != err::kSuccess) return e;
    // Made between the look and the create by someone else: left to him.
    if (disposition != reg::kCreatedNewKey) return err::kAlreadyExists;
    e = WriteOpenKey(registry, key.get(), tree);
    if (e == err::kSuccess) PutTimesBack(registry, key.get(), tree);
    return e;
}

std::string KeyTreeJson(const KeyTreeCopy& tree) { return ToJson(tree).dump(); }

bool KeyTreeFromJson(std::string_view json, KeyTreeCopy* tree) {
    try {
        nlohmann::json node = nlohmann::json::parse(json);
        KeyTreeCopy parsed;
        if (!FromJson(node, &parsed, 0)) return false;
        *tree = std::move(parsed);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

bool RegExport(const KeyTreeCopy& tree, std::string_view keyName, std::string* script) {
    // The names of the key itself: the registration's name is a user's too.
    for (std::size_t start = 0;;) {
        const std::size_t end = text::Find(keyName, '\\', start);
        if (!Carries(keyName.substr(start, end - start), true)) return false;
        if (end == text::npos) break;
        start = end + 1;
    }
    std::string out = "REGEDIT4\r\n";
    if (!ExportKey(tree, std::string(keyName), &out)) return false;
    *script = std::move(out) + "\r\n";
    return true;
}

}  // namespace qv
