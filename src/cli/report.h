// What the console program shows of a run: the JSON document (UTF-8) and the text (ANSI code
// page, with the dialog's texts from the string table where they apply).
#pragma once
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "cli/command_line.h"
#include "engine/findings.h"
#include "engine/plan.h"
#include "engine/restore.h"
#include "engine/scan.h"
#include "port/platform.h"

namespace qv::cli {

struct Report {
    Command command = Command::kScan;
    bool allProfiles = true;  // false: the running user's registry only
    std::vector<ProductScope> products;
    std::string heading;  // what the dialog's heading names: the products, or the settings' name
    bool registryRead = true;  // false: the profile list or HKEY_CURRENT_USER could not be read
    Findings findings;
    // plan and clean: the plan of the users' registrations selected (Plan::selection).
    Plan plan;
    bool applied = false;   // clean: the plan was carried out (each action has its result)
    std::string backupRun;  // clean: the run id of the backup kept; empty without one
};

// The resource text with each "%s" replaced by the next of `arguments`, in order (none left: by
// nothing). Nothing else of the text is read as a format, and an argument never is.
std::string FormatResource(IResources& resources, std::uint32_t id,
                           std::initializer_list<std::string_view> arguments);
// Seconds since 1970 as "2020-09-13T12:26:40Z".
std::string IsoUtcTime(KeyTime time);
// The release of the product a registration was found under; empty when none fits.
std::string ReleaseOf(const Report& report, const RegistrationFinding& registration);
// The number of profiles whose registry could not be read.
std::size_t UnreadableProfileCount(const Findings& findings);

// The JSON document of the run, UTF-8, with a line break at its end.
std::string ReportJson(Platform& os, const Report& report);
// The text of the run, in the ANSI code page.
std::string ReportText(Platform& os, const Report& report);
// The actions of a plan as text, one a line below a line for each user (ANSI).
std::string PlanText(Platform& os, const Plan& plan);

// The commands on kept clean-ups: JSON documents (UTF-8) and texts (ANSI code page).
std::string BackupsJson(Platform& os, const std::vector<KeptRun>& runs);
std::string BackupsText(Platform& os, const std::vector<KeptRun>& runs);
std::string RestoreJson(Platform& os, const RestoreReport& report);
std::string RestoreText(Platform& os, const RestoreReport& report);
std::string PurgeJson(Platform& os, const PurgeReport& report);
std::string PurgeText(Platform& os, const PurgeReport& report);

}  // namespace qv::cli
