// The console program: reads its command line, scans every profile (or the running user's
// registry), builds the plan of a selection and carries it out, writes what it found as text or
// JSON and answers the exit code.
#pragma once
#include <string>
#include <vector>

#include "cli/exit_code.h"
#include "port/console.h"
#include "port/platform.h"

namespace qv::cli {

// `args` are the arguments after the program's name, in the ANSI code page. The platform's message
// boxes should be ConsoleMessageBoxes: nobody is there to close a box.
[[nodiscard]] ExitCode RunCli(Platform& os, IConsole& console,
                              const std::vector<std::string>& args);

}  // namespace qv::cli
