#include "engine/manifest.h"

#include <exception>
#include <nlohmann/json.hpp>
#include <utility>

#include "base/text.h"
#include "base/time_text.h"

namespace qv {
namespace {

using Json = nlohmann::ordered_json;

constexpr int kFormat = 1;

// An ANSI text for the reader and for the program: "<name>" as UTF-8, "<name>Ansi" exact.
void PutPath(ISystem& system, Json* node, const char* name, std::string_view ansi) {
    (*node)[name] = Utf8OrAsIs(system, ansi);
    (*node)[std::string(name) + "Ansi"] = text::Hex(ansi);
}

bool GetPath(const Json& node, const char* name, std::string* ansi) {
    auto it = node.find(std::string(name) + "Ansi");
    return it != node.end() && it->is_string() && text::FromHex(it->get<std::string>(), ansi);
}

template <typename T>
bool Get(const Json& node, const char* name, T* value) {
    auto it = node.find(name);
    if (it == node.end()) return false;
    try {
        *value = it->get<T>();
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

bool KindOf(std::string_view name, ActionKind* kind) {
    for (ActionKind k : {ActionKind::kRegisterLeftoverFolder, ActionKind::kDeleteFolderTree,
                         ActionKind::kDeleteFile, ActionKind::kRemoveEmptyFolder,
                         ActionKind::kDeleteKeyTree, ActionKind::kDeleteEmptyKey}) {
        if (name == ActionKindName(k)) {
            *kind = k;
            return true;
        }
    }
    return false;
}

bool ResultOf(std::string_view name, ActionResult* result) {
    for (ActionResult r : {ActionResult::kPlanned, ActionResult::kDone, ActionResult::kFailed,
                           ActionResult::kRefused, ActionResult::kSkipped}) {
        if (name == ActionResultName(r)) {
            *result = r;
            return true;
        }
    }
    return false;
}

}  // namespace

std::string ManifestJson(ISystem& system, const Manifest& manifest) {
    Json root;
    root["format"] = kFormat;
    root["run"] = manifest.run;
    root["program"] = manifest.program;
    root["time"] = Iso8601Utc(manifest.time);
    root["unixTime"] = manifest.time;
    root["machine"] = manifest.machine;
    root["operator"] = manifest.operatorName;
    root["operatorSid"] = manifest.operatorSid;
    root["scope"] = manifest.currentUser ? "current-user" : "machine";
    root["result"] = manifest.result;
    Json folders = Json::array();
    for (const std::string& folder : manifest.folders) {
        Json node;
        PutPath(system, &node, "path", folder);
        folders.push_back(std::move(node));
    }
    root["folders"] = std::move(folders);
    Json actions = Json::array();
    for (const ManifestAction& entry : manifest.actions) {
        const Action& a = entry.action;
        Json node;
        node["action"] = ActionKindName(a.kind);
        PutPath(system, &node, "path", a.path);
        node["user"] = a.sid;
        node["userAccount"] = entry.account;
        node["result"] = ActionResultName(a.result);
        node["error"] = a.error;
        node["reason"] = Utf8OrAsIs(system, a.reason);
        PutPath(system, &node, "backup", a.backup);
        node["attributes"] = a.attributes;
        node["restored"] = entry.restored;
        actions.push_back(std::move(node));
    }
    root["actions"] = std::move(actions);
    if (manifest.restoredTime != 0) {
        root["restored"] = Iso8601Utc(manifest.restoredTime);
        root["restoredUnixTime"] = manifest.restoredTime;
        root["restoredBy"] = manifest.restoredBy;
    }
    return root.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

bool ManifestFromJson(std::string_view json, Manifest* manifest) {
    Json root;
    try {
        root = Json::parse(json);
    } catch (const std::exception&) {
        return false;
    }
    Manifest m;
    int format = 0;
    std::string scope;
    if (!root.is_object() || !Get(root, "format", &format) || format != kFormat ||
        !Get(root, "run", &m.run) || !Get(root, "unixTime", &m.time) ||
        !Get(root, "scope", &scope) || !Get(root, "result", &m.result)) {
        return false;
    }
    (void)Get(root, "program", &m.program);  // texts for the reader only: optional
    (void)Get(root, "machine", &m.machine);
    (void)Get(root, "operator", &m.operatorName);
    (void)Get(root, "operatorSid", &m.operatorSid);
    (void)Get(root, "restoredUnixTime", &m.restoredTime);
    (void)Get(root, "restoredBy", &m.restoredBy);
    m.currentUser = scope == "current-user";
    auto folders = root.find("folders");
    auto actions = root.find("actions");
    if (folders == root.end() || !folders->is_array() || actions == root.end() ||
        !actions->is_array()) {
        return false;
    }
    for (const Json& node : *folders) {
        std::string folder;
        if (!node.is_object() || !GetPath(node, "path", &folder)) return false;
        m.folders.push_back(std::move(folder));
    }
    for (const Json& node : *actions) {
        ManifestAction entry;
        Action& a = entry.action;
        std::string kind;
        std::string result;
        if (!node.is_object() || !Get(node, "action", &kind) || !KindOf(kind, &a.kind) ||
            !GetPath(node, "path", &a.path) || !Get(node, "user", &a.sid) ||
            !Get(node, "result", &result) || !ResultOf(result, &a.result) ||
            !GetPath(node, "backup", &a.backup) || !Get(node, "restored", &entry.restored)) {
            return false;
        }
        // What a restore does not need: an action without them keeps their defaults.
        (void)Get(node, "error", &a.error);
        (void)Get(node, "reason", &a.reason);
        (void)Get(node, "attributes", &a.attributes);
        (void)Get(node, "userAccount", &entry.account);
        m.actions.push_back(std::move(entry));
    }
    *manifest = std::move(m);
    return true;
}

}  // namespace qv
