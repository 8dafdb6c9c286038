// What the population and the clean-up work on: the machine, the dialog's tables, its tree model,
// the administrator flag and the owner window of their message boxes. The engine sees no dialog,
// so a console front end or a dry-run preview can drive it with a tree control of its own.
#pragma once
#include "app/tables.h"
#include <set>
#include <string>

#include "port/platform.h"
#include "security/profiles.h"
#include "ui/user_data_tree.h"

namespace qv {

struct Workspace {
    Services services;
    const Tables& tables;
    UserDataTree& tree;
    bool admin = false;
    WindowRef owner = 0;
    // The hives this run could not unload (optional).
    HiveBook* hives = nullptr;
    // Where the population notes the users whose registry could not be read (optional).
    std::set<std::string>* unreadableUsers = nullptr;
};

}  // namespace qv
