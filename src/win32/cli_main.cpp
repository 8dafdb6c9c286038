// quorvane-cli.exe: the console program on the machine's adapters. Message boxes go to standard
// error; the exit code is the program's answer.
#include "win32/windows_api.h"
// The Windows headers first, then everything that builds on them.
#include <exception>
#include <string>
#include <vector>

#include "cli/cli_program.h"
#include "cli/console_boxes.h"
#include "port/system.h"
#include "win32/dll_search.h"
#include "win32/win32_console.h"
#include "win32/win32_platform.h"

// The C runtime's arguments are in the ANSI code page, as the tool's texts are; it expands no
// wildcards.
int main(int argc, char** argv) {
    // Before anything can load a library: from the system folder only.
    qv::win32::LoadLibrariesFromSystemFolderOnly();
    // Every text the tool splits or compares is in the ANSI code page; its lead bytes come first.
    qv::win32::InstallAnsiLeadBytes();

    // The security adapter binds its functions from the security library, loaded here for the
    // whole run as the dialog's start-up loads it.
    qv::ModuleHandle advapi32 = 0;
    qv::win32::Win32Platform machine(advapi32, ::GetModuleHandleA(nullptr));
    qv::UniqueLibrary library(machine.system, machine.system.LoadLibrary(qv::kSecurityLibrary));
    advapi32 = library.get();

    qv::win32::Win32Console console;
    qv::cli::ConsoleMessageBoxes boxes(console);
    qv::Platform platform{machine.registry, machine.security,  machine.files,
                          machine.handles,  machine.system,    boxes,
                          machine.debug,    machine.resources, machine.audit};

    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) args.emplace_back(argv[i] != nullptr ? argv[i] : "");
    // Failures are results; an exception that still escapes (out of memory, a fault of the
    // program's own) ends the run with exit code 4, said on standard error, never with the C
    // runtime's abort (exit code 3, which a partial failure answers).
    try {
        return static_cast<int>(qv::cli::RunCli(platform, console, args));
    } catch (const std::exception& e) {
        return static_cast<int>(qv::cli::ReportInternalError(platform, console, args, e.what()));
    } catch (...) {
        return static_cast<int>(
            qv::cli::ReportInternalError(platform, console, args, "unknown exception"));
    }
}
