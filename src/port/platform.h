// Everything of the machine that the core reaches, in one place. A Platform is built by the
// Windows adapters (src/win32) or by the fake machine (fake/).
#pragma once
#include "port/audit.h"
#include "port/file_handles.h"
#include "port/files.h"
#include "port/registry.h"
#include "port/security.h"
#include "port/system.h"
#include "port/user.h"

namespace qv {

struct Platform {
    IRegistry& registry;
    ISecurity& security;
    IFileSystem& files;
    IFileHandles& handles;
    ISystem& system;
    IMessageBoxes& messages;
    IDebugOutput& debug;
    IResources& resources;
    IAuditStore& audit;
};

// What every operation of the core receives: the machine, and the diagnostic switch "-d", which
// only adds message boxes.
struct Services {
    Platform& os;
    bool debug = false;
};

}  // namespace qv
