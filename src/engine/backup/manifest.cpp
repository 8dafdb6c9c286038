#include "engine/backup/manifest.h"

#include <exception>
#include <nlohmann/json.hpp>
#include <utility>

#include "base/text.h"
#include "base/time_text.h"

namespace qv {
namespace {

using Json = nlohmann::ordered_json;

// 2: JSON lines (1 was one JSON object, written again whole after each action).
constexpr int kFormat = 2;

// An ANSI text for the reader and for the program: "<name>" as UTF-8, "<name>Ansi" exact.
void PutPath(ISystem& system, Json* node, const char* name, std::string_view ansi) {
    (*node)[name] = Utf8(system, ansi);
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

std::string Line(const Json& node) {
    return node.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n";
}

Json FolderNode(ISystem& system, std::string_view folder) {
    Json node;
    PutPath(system, &node, "path", folder);
    return node;
}

Json ActionNode(ISystem& system, const ManifestAction& entry) {
    const Action& a = entry.action;
    Json node;
    node["action"] = ActionKindName(a.kind);
    PutPath(system, &node, "path", a.path);
    node["user"] = a.sid;
    node["userAccount"] = entry.account;
    node["result"] = ActionResultName(a.result);
    node["error"] = a.error;
    node["reason"] = Utf8(system, a.reason);
    PutPath(system, &node, "backup", a.backup);
    node["attributes"] = a.attributes;
    if (!entry.note.empty()) node["note"] = entry.note;
    return node;
}

bool ActionFrom(const Json& node, ManifestAction* entry) {
    Action& a = entry->action;
    std::string kind;
    std::string result;
    if (!node.is_object() || !Get(node, "action", &kind) || !KindOf(kind, &a.kind) ||
        !GetPath(node, "path", &a.path) || !Get(node, "user", &a.sid) ||
        !Get(node, "result", &result) || !ResultOf(result, &a.result) ||
        !GetPath(node, "backup", &a.backup)) {
        return false;
    }
    // What a restore does not need: an action without them keeps their defaults.
    (void)Get(node, "error", &a.error);
    (void)Get(node, "reason", &a.reason);
    (void)Get(node, "attributes", &a.attributes);
    (void)Get(node, "userAccount", &entry->account);
    (void)Get(node, "note", &entry->note);
    return true;
}

// The run's own fields, as the header holds them.
bool HeaderFrom(const Json& root, Manifest* m) {
    int format = 0;
    std::string scope;
    if (!root.is_object() || !Get(root, "format", &format) || format != kFormat ||
        !Get(root, "run", &m->run) || !Get(root, "unixTime", &m->time) ||
        !Get(root, "scope", &scope)) {
        return false;
    }
    (void)Get(root, "program", &m->program);  // texts for the reader only: optional
    (void)Get(root, "machine", &m->machine);
    (void)Get(root, "operator", &m->operatorName);
    (void)Get(root, "operatorSid", &m->operatorSid);
    m->currentUser = scope == "current-user";
    auto folders = root.find("folders");
    if (folders == root.end() || !folders->is_array()) return false;
    for (const Json& node : *folders) {
        std::string folder;
        if (!node.is_object() || !GetPath(node, "path", &folder)) return false;
        m->folders.push_back(std::move(folder));
    }
    return true;
}

// One line after the header into `m`; a line that is not a whole record changes nothing.
void ApplyLine(std::string_view line, Manifest* m) {
    Json node;
    try {
        node = Json::parse(line);
    } catch (const std::exception&) {
        return;  // cut off by a run that stopped, and ended by the next line added
    }
    std::string entry;
    if (!node.is_object() || !Get(node, "entry", &entry)) return;
    if (entry == "action") {
        ManifestAction action;
        if (ActionFrom(node, &action)) m->actions.push_back(std::move(action));
    } else if (entry == "folder") {
        std::string folder;
        if (GetPath(node, "path", &folder)) m->folders.push_back(std::move(folder));
    } else if (entry == "result") {
        std::string result;
        if (Get(node, "result", &result) && (result == "done" || result == "failed")) {
            m->result = std::move(result);
        }
    } else if (entry == "restored") {
        std::size_t index = 0;
        std::int64_t time = 0;
        if (!Get(node, "index", &index) || !Get(node, "unixTime", &time) ||
            index >= m->actions.size()) {
            return;
        }
        m->actions[index].restored = true;
        m->restoredTime = time;
        (void)Get(node, "by", &m->restoredBy);
    }
}

}  // namespace

std::string ManifestHeaderLine(ISystem& system, const Manifest& manifest) {
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
    Json folders = Json::array();
    for (const std::string& folder : manifest.folders)
        folders.push_back(FolderNode(system, folder));
    root["folders"] = std::move(folders);
    return Line(root);
}

std::string ManifestActionLine(ISystem& system, const ManifestAction& entry) {
    Json node;
    node["entry"] = "action";
    node.update(ActionNode(system, entry));
    return Line(node);
}

std::string ManifestFolderLine(ISystem& system, std::string_view folder) {
    Json node;
    node["entry"] = "folder";
    node.update(FolderNode(system, folder));
    return Line(node);
}

std::string ManifestResultLine(std::string_view result) {
    Json node;
    node["entry"] = "result";
    node["result"] = std::string(result);
    return Line(node);
}

std::string ManifestRestoredLine(std::size_t index, std::int64_t time, std::string_view by) {
    Json node;
    node["entry"] = "restored";
    node["index"] = index;
    node["time"] = Iso8601Utc(time);
    node["unixTime"] = time;
    node["by"] = std::string(by);
    return Line(node);
}

bool ManifestFromText(std::string_view text, Manifest* manifest) {
    const std::size_t headerEnd = text.find('\n');
    if (headerEnd == std::string_view::npos) return false;
    Manifest m;
    try {
        if (!HeaderFrom(Json::parse(text.substr(0, headerEnd)), &m)) return false;
    } catch (const std::exception&) {
        return false;
    }
    // Only whole lines: what follows the last line feed was cut off.
    for (std::size_t start = headerEnd + 1;;) {
        const std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) break;
        ApplyLine(text.substr(start, end - start), &m);
        start = end + 1;
    }
    *manifest = std::move(m);
    return true;
}

}  // namespace qv
