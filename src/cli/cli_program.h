// The console program: reads its command line, scans every profile (or the running user's
// registry), builds the plan of a selection and carries it out, writes what it found as text or
// JSON and answers the exit code.
#pragma once
#include <string>
#include <string_view>
#include <vector>

#include "cli/exit_code.h"
#include "port/console.h"
#include "port/platform.h"

namespace qv::cli {

// `args` are the arguments after the program's name, in the ANSI code page. The platform's message
// boxes should be ConsoleMessageBoxes: nobody is there to close a box.
[[nodiscard]] ExitCode RunCli(Platform& os, IConsole& console,
                              const std::vector<std::string>& args);

// What main does with an exception that escaped RunCli (`what` says which): tells it on standard
// error, ends standard output with the summary line (unless it was to carry JSON alone) and
// answers ExitCode::kInternalError. The one place such a run ends, for whatever else it must
// leave a record of.
[[nodiscard]] ExitCode ReportInternalError(Platform& os, IConsole& console,
                                           const std::vector<std::string>& args,
                                           std::string_view what) noexcept;

}  // namespace qv::cli
