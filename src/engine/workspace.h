// What the scan and the clean-up work on: the machine, the product tables, the administrator flag,
// the owner window of their message boxes and the book of hives this run could not unload. The
// engine sees no dialog: a front end presents its findings and hands it a selection.
#pragma once
#include "app/tables.h"
#include "port/platform.h"
#include "security/profiles.h"

namespace qv {

struct Workspace {
    Services services;
    const Tables& tables;
    bool admin = false;
    WindowRef owner = 0;
    HiveBook* hives = nullptr;  // optional
};

}  // namespace qv
