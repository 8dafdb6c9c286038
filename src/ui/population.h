// The dialog's tree filled from what the scan finds.
#pragma once
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "engine/findings.h"
#include "engine/workspace.h"
#include "ui/user_data_tree.h"

namespace qv {

// Adds the findings' registrations and users to the tree, in the scan's order; a registration
// whose label the tree lists already gets the new users below it. Users without an account name
// are not shown; their SIDs go to *unnamedUsers (optional).
void FillTree(UserDataTree& tree, const Findings& findings,
              std::set<std::string>* unnamedUsers = nullptr);
// The same for findings that grow while a scan runs: adds the users that *filled (the count of
// users of each registration added so far, kept between calls) does not count yet, and counts
// them. Called after each step, it lists what FillTree would list at the end, except that a
// registration seen first for unnamed users only, or sharing its label with an earlier one, may
// stand in another place (TreeShows tells).
// True when it added a user item.
bool FillTreeFrom(UserDataTree& tree, const Findings& findings, std::vector<std::size_t>* filled,
                  std::set<std::string>* unnamedUsers = nullptr);
// Whether the tree holds exactly what FillTree would make of `parts`, one after the other, in an
// empty tree: the same items in the same order, with the same key paths and SIDs.
[[nodiscard]] bool TreeShows(UserDataTree& tree, const std::vector<const Findings*>& parts);
// Scans one company, product and release and fills the tree with what it finds; the users whose
// registry could not be read are added to *unreadableUsers, those left out for want of an account
// name to *unnamedUsers (both optional). False when the registry cannot be read.
[[nodiscard]] bool PopulateTree(Workspace& ws, UserDataTree& tree, std::string_view company,
                                std::string_view product, std::string_view release,
                                std::set<std::string>* unreadableUsers = nullptr,
                                std::set<std::string>* unnamedUsers = nullptr);

}  // namespace qv
