// lock_holder: holds the machine's run lock for the end-to-end tests, as another run of the tool
// would: through the tool's own system adapter, so with the same name and the same access list.
//
//   lock_holder NAME    takes the lock (without waiting), then writes NAME.held and waits until
//                       NAME.release appears (lets go, ends 0) or NAME.abandon (ends without
//                       letting go, as a run that is killed: the lock is abandoned)
//
// Exit codes: 0 held and let go (or abandoned), 5 busy, 3 the lock could not be had, 1 usage.
#include "win32/windows_api.h"
// The Windows headers first, then everything that builds on them.
#include <cstdio>
#include <memory>
#include <string>

#include "port/system.h"
#include "win32/dll_search.h"
#include "win32/win32_system.h"

namespace {

bool Exists(const std::string& path) {
    return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace

int main(int argc, char** argv) {
    qv::win32::LoadLibrariesFromSystemFolderOnly();
    if (argc != 2) {
        std::fprintf(stderr, "usage: lock_holder NAME\n");
        return 1;
    }
    const std::string name = argv[1];
    std::unique_ptr<qv::ISystem> system = qv::win32::MakeSystem();
    qv::UniqueMachineLock lock(*system);
    qv::Win32Error error = qv::err::kSuccess;
    switch (system->AcquireMachineLock(0, lock.put(), &error)) {
        case qv::MachineLockOutcome::kAcquired:
            break;
        case qv::MachineLockOutcome::kBusy:
            std::fprintf(stderr, "lock_holder: busy\n");
            return 5;
        case qv::MachineLockOutcome::kFailed:
            std::fprintf(stderr, "lock_holder: failed (%lu)\n", static_cast<unsigned long>(error));
            return 3;
    }
    std::FILE* held = std::fopen((name + ".held").c_str(), "w");
    if (held == nullptr) return 1;
    std::fputs("held\n", held);
    std::fclose(held);
    for (;;) {
        if (Exists(name + ".release")) return 0;  // the owner lets go
        // The process ends with its thread still owning the mutex.
        if (Exists(name + ".abandon")) ::ExitProcess(0);
        ::Sleep(100);
    }
}
