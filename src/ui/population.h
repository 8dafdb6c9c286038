// The dialog's tree filled from what the scan finds.
#pragma once
#include <set>
#include <string>
#include <string_view>

#include "engine/findings.h"
#include "engine/workspace.h"
#include "ui/user_data_tree.h"

namespace qv {

// Adds the findings' registrations and users to the tree, in the scan's order; a registration
// whose label the tree lists already gets the new users below it. Users without an account name
// are not shown; their SIDs go to *unnamedUsers (optional).
void FillTree(UserDataTree& tree, const Findings& findings,
              std::set<std::string>* unnamedUsers = nullptr);
// Scans one company, product and release and fills the tree with what it finds; the users whose
// registry could not be read are added to *unreadableUsers, those left out for want of an account
// name to *unnamedUsers (both optional). False when the registry cannot be read.
[[nodiscard]] bool PopulateTree(Workspace& ws, UserDataTree& tree, std::string_view company,
                                std::string_view product, std::string_view release,
                                std::set<std::string>* unreadableUsers = nullptr,
                                std::set<std::string>* unnamedUsers = nullptr);

}  // namespace qv
