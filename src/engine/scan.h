// The scan: the stale product registrations of every profile (administrator) or of the running
// user, with the evidence of each, as findings that a front end presents.
#pragma once
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "cleanup/folder_guard.h"
#include "discovery/registration.h"
#include "engine/findings.h"
#include "engine/workspace.h"
#include "port/registry.h"

namespace qv {

// One product of a scan: company, product and release key names.
struct ProductScope {
    std::string company;
    std::string product;
    std::string release;
};

enum class ScanMode {
    kRegisterLeftovers,  // leftover folders get their registration key, as the dialog's scan does
    kWriteNothing,       // leftover folders are held in the findings; nothing is written
};

// Appends to *findings what the scan of one company, product and release finds. False when the
// registry cannot be read (the profile list, or HKEY_CURRENT_USER in current-user mode).
[[nodiscard]] bool ScanRegistrations(Workspace& ws, std::string_view company,
                                     std::string_view product, std::string_view release,
                                     Findings* findings, ScanMode mode);
// The same for several products, each user's hive made available once for all of them.
[[nodiscard]] bool ScanProducts(Workspace& ws, const std::vector<ProductScope>& scopes,
                                Findings* findings, ScanMode mode);
// A scan taken one profile at a time, so that a front end can answer its window between two
// profiles. An administrator's scan reads the profile list at Begin and makes each user's hive
// available for one Step only: every hive a step loads is unloaded before the step returns, so
// nothing of the scan stays loaded between two steps, nor when the session ends early (the
// operator cancels). A current user's scan is done whole at Begin (no hive to load).
class ScanSession {
  public:
    // `targets`: where the registrations go, one Findings for every product (as ScanProducts
    // fills it) or one per scope, in the scopes' order; the profiles go to the first. A scope
    // that leaves out company, product or release finds nothing.
    ScanSession(Workspace& ws, std::vector<ProductScope> scopes, ScanMode mode,
                std::vector<Findings*> targets);
    ~ScanSession();
    ScanSession(const ScanSession&) = delete;
    ScanSession& operator=(const ScanSession&) = delete;

    // Reads the profile list (or scans the running user). False when the registry cannot be
    // read; the session is then done.
    [[nodiscard]] bool Begin();
    // Scans the next profile for every product. Nothing once done.
    void Step();
    [[nodiscard]] bool Done() const noexcept;
    // The profiles of the scan, and how many of them have been scanned.
    std::size_t ProfileCount() const noexcept;
    std::size_t ProfilesDone() const noexcept;

  private:
    struct State;
    Workspace& ws_;
    std::vector<ProductScope> scopes_;
    ScanMode mode_;
    std::vector<Findings*> targets_;
    std::unique_ptr<State> state_;
};

// True when the machine lacks the registration (read in `machineKeyView`) or its oldest key is
// more than 60 seconds newer than the oldest key of the user's registration.
[[nodiscard]] bool IsStaleRegistration(Platform& os, std::uint32_t machineKeyView,
                                       std::string_view registrationKeyPath,
                                       HKey userRegistrationKey);
// The oldest last-write time of the key and its whole subtree.
KeyTime OldestKeyTime(Platform& os, HKey key);
// The confinement of the folders that a user's hive names, for his leftover folders' discovery:
// the clean-up's (CheckUserFolder), against his profile folder and the other profiles' folders of
// `machine` (the profile list, read once per scan). A refused folder is traced on the debug output
// ("\tRefused to use "<value>" as <name>: <reason>") and nothing is looked for in it.
UserFolderCheck ConfineUserFolders(Platform& os, std::string_view sidText,
                                   const std::vector<MachineProfile>& machine);
// Registers a user's leftover folders of one product and release (see UserDataFolders) through
// folders looked up for it alone, confined as a scan confines them.
void RegisterOrphanedUserData(Platform& os, const Tables& tables, std::string_view sidText,
                              std::string_view company, std::string_view product,
                              std::string_view release,
                              std::vector<LeftoverFolder>* heldInMemory = nullptr);
// Adds a user's stale registration under its label (a new registration when the label is new),
// with his account name, or none when the system cannot name him; false without a SID.
[[nodiscard]] bool AddRegistrationFinding(Workspace& ws, std::string_view product,
                                          std::string_view registrationKeyName, UserFinding user,
                                          Findings* findings);

}  // namespace qv
