#include "engine/scan.h"

#include <algorithm>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "app/defaults.h"
#include "base/text.h"
#include "discovery/registration.h"
#include "security/profiles.h"
#include "security/sid_text.h"

namespace qv {
namespace {

// A user's registration counts as stale only when its oldest key is more than this many seconds
// older than the oldest key of the machine's registration.
constexpr KeyTime kStaleMarginSeconds = 60;

constexpr char kProcessingSid[] = "Processing sid : ";

// A key's last-write time (from 1601) as a key time (seconds from 1970), 0 when it cannot be taken
// through local time.
KeyTime KeyTimeFromFileTime(ISystem& system, FileTime time) {
    const std::int64_t utc =
        static_cast<std::int64_t>(time / kFileTimeTicksPerSecond) - kSecondsFrom1601To1970;
    std::int64_t local = 0;
    return system.LocalTimeRoundTrip(utc, &local) ? local : 0;
}

// The machine's oldest key time of each registration path, taken once per scan: every user of a
// registration is judged against the same machine key, and whether the machine has a key, which
// every user's leftover folders ask, comes from the same single open.
class MachineTimes {
  public:
    // `view`: the registry view of the products' machine keys.
    MachineTimes(Platform& os, std::uint32_t view) : os_(os), view_(view) {}
    // False when the machine has no key of that path.
    bool Oldest(const std::string& registrationKeyPath, KeyTime* time) {
        auto it = times_.find(registrationKeyPath);
        if (it == times_.end()) {
            std::optional<KeyTime> value;
            UniqueKey machine = OpenKey(os_.registry, kHkeyLocalMachine, registrationKeyPath,
                                        reg::kKeyRead | view_);
            if (machine) value = OldestKeyTime(os_, machine.get());
            it = times_.emplace(registrationKeyPath, value).first;
        }
        if (!it->second) return false;
        *time = *it->second;
        return true;
    }
    // Whether the machine has a key of that path.
    bool Has(const std::string& registrationKeyPath) {
        KeyTime ignored = 0;
        return Oldest(registrationKeyPath, &ignored);
    }

  private:
    Platform& os_;
    std::uint32_t view_;
    std::map<std::string, std::optional<KeyTime>> times_;
};

// A user's account name, looked up at his first finding and kept for his others. A SID that the
// system maps to no account stays without one; any other failure is asked again at the next
// finding.
class UserAccount {
  public:
    UserAccount(ISecurity& security, std::string_view sidText)
        : security_(security), sid_(sidText) {}
    // False when there is no account name (or it could not be looked up).
    bool Name(std::string* name) {
        if (state_ == State::kUnknown) {
            Win32Error error = err::kSuccess;
            if (AccountNameFromSidText(security_, sid_, &name_, &error)) {
                state_ = State::kFound;
            } else if (error == err::kNoneMapped) {
                state_ = State::kNone;
            }
        }
        if (state_ != State::kFound) return false;
        *name = name_;
        return true;
    }

  private:
    enum class State { kUnknown, kFound, kNone };
    ISecurity& security_;
    std::string sid_;
    State state_ = State::kUnknown;
    std::string name_;
};

// Which companies' keys a loaded user's hive lacks, each asked once for all products of the
// company: a hive without "Software\<company>" has none of its release keys either. It is asked
// only for the companies given (those of two or more products, named by one key name), so that
// it saves key opens rather than adding them.
class CompanyKeys {
  public:
    CompanyKeys(IRegistry& registry, std::string_view sidText,
                const std::set<std::string, std::less<>>& companies)
        : registry_(registry), sid_(sidText), companies_(companies) {}
    // True only when the company's key is not there (any other answer opens the release keys).
    bool Lacks(const std::string& company) {
        if (companies_.find(company) == companies_.end()) return false;
        auto it = lacks_.find(company);
        if (it == lacks_.end()) {
            Win32Error opened = err::kSuccess;
            // Opened only for the answer whether it is there; the owner closes it at once.
            (void)OpenKey(registry_, kHkeyUsers, sid_ + "\\Software\\" + company, reg::kReadNative,
                          &opened);
            it = lacks_.emplace(company, opened == err::kFileNotFound).first;
        }
        return it->second;
    }

  private:
    IRegistry& registry_;
    std::string sid_;
    const std::set<std::string, std::less<>>& companies_;
    std::map<std::string, bool, std::less<>> lacks_;
};

// What a scan knows of the user it is at.
struct UserScan {
    HKey root;                     // HKEY_USERS (the SID's hive) or the open HKEY_CURRENT_USER
    std::string sid;               // empty when the running user's could not be found
    UserAccount account;           // his account name, for every finding of his
    UserDataFolders* dataFolders;  // an administrator's run only: leftover folders are registered
    CompanyKeys* companyKeys;      // null: the release keys are opened whatever the company
};

[[nodiscard]] bool AddFinding(Workspace& ws, UserAccount& account, std::string_view product,
                              std::string_view registrationKeyName, UserFinding user,
                              Findings* findings);

// Whether the user's registration is stale; *user gets the reason and the times.
bool JudgeRegistration(Platform& os, MachineTimes& machineTimes,
                       const std::string& registrationKeyPath, HKey userRegistrationKey,
                       UserFinding* user) {
    KeyTime machineTime = 0;
    const bool onMachine = machineTimes.Oldest(registrationKeyPath, &machineTime);
    const KeyTime userTime = OldestKeyTime(os, userRegistrationKey);
    user->userOldestKeyTime = userTime;
    user->machineOldestKeyTime = onMachine ? machineTime : 0;
    // The product and language are no longer installed: whatever the user holds is left over.
    user->reason = onMachine ? StaleReason::kReinstalled : StaleReason::kMachineKeyMissing;
    return !onMachine || userTime + kStaleMarginSeconds < machineTime;
}

// A folder value of a registration key as the scan reports it: the text of a REG_SZ value up to
// its first NUL, empty when there is none.
std::string FolderValue(IRegistry& registry, HKey key, std::string_view name) {
    std::string value;
    if (ReadStringValue(registry, key, name, kMaxPath, &value) != err::kSuccess) return {};
    return value;
}

// Tests each registration key below an open release key and notes the stale ones for `sidText`.
// A sub key name that does not fit the buffer, or any other enumeration error, ends the walk.
void AddStaleRegistrations(Workspace& ws, MachineTimes& machineTimes, HKey releaseKey,
                           std::string_view releaseKeyPath, std::string_view product,
                           UserScan& scan, Findings* findings) {
    IRegistry& registry = ws.services.os.registry;
    (void)ForEachSubKey(registry, releaseKey, kMaxPath, [&](const std::string& name) {
        std::string registrationKeyPath(releaseKeyPath);
        registrationKeyPath += '\\';
        registrationKeyPath += name;
        // A registration that is a registry link is none of the user's: it is not listed.
        UniqueKey registration(registry);
        if (OpenKeyRefusingLinks(registry, releaseKey, name, reg::kReadNative, &registration) !=
            err::kSuccess) {
            return true;
        }
        UserFinding user;
        if (JudgeRegistration(ws.services.os, machineTimes, registrationKeyPath, registration.get(),
                              &user)) {
            user.sid = scan.sid;
            user.keyPath = registrationKeyPath;
            user.roamingFolder =
                FolderValue(registry, registration.get(), kRoamableRootFolderValue);
            user.localFolder = FolderValue(registry, registration.get(), kLocalRootFolderValue);
            // A user without a SID is not listed: nothing would name him.
            (void)AddFinding(ws, scan.account, product, name, std::move(user), findings);
        }
        return true;
    });
}

// The stale registrations of one user below one product's release key. The user's data folders,
// looked up once for all products, are given in an administrator's run only: only there are
// leftover folders registered.
void ScanUserProduct(Workspace& ws, MachineTimes& machineTimes, const ProductScope& scope,
                     UserScan& scan, ScanMode mode, Findings* findings) {
    Platform& os = ws.services.os;
    const std::string releaseKeyPath = ReleaseKeyPath(scope.company, scope.product, scope.release);
    std::vector<LeftoverFolder> held;
    if (scan.dataFolders != nullptr) {
        scan.dataFolders->RegisterOrphaned(scope.company, scope.product, scope.release,
                                           mode == ScanMode::kWriteNothing ? &held : nullptr);
    }
    if (scan.companyKeys == nullptr || !scan.companyKeys->Lacks(scope.company)) {
        // Every key of the hive is closed at the end of this block, before the unload: the
        // system refuses to unload a hive with open keys.
        const std::string path =
            scan.root == kHkeyUsers ? scan.sid + "\\" + releaseKeyPath : releaseKeyPath;
        UniqueKey releaseKey = OpenKey(os.registry, scan.root, path, reg::kReadNative);
        if (releaseKey) {
            AddStaleRegistrations(ws, machineTimes, releaseKey.get(), releaseKeyPath, scope.product,
                                  scan, findings);
        }
    }
    // Leftover folders held in memory: stale by what the machine lacks, with no key yet.
    for (LeftoverFolder& leftover : held) {
        UserFinding user;
        user.sid = scan.sid;
        user.keyPath = leftover.keyPath;
        user.reason = StaleReason::kMachineKeyMissing;
        user.roamingFolder = std::move(leftover.roamingFolder);
        user.localFolder = std::move(leftover.localFolder);
        user.leftover = true;
        const std::string keyName = text::AfterLastBackslash(user.keyPath);
        // Likewise: a user without a SID is not listed.
        (void)AddFinding(ws, scan.account, scope.product, keyName, std::move(user), findings);
    }
}

// The companies whose key a user's hive is asked for before his release keys: those of two or
// more products of a scan that writes nothing (a scan that registers leftover folders may create
// the company's key between two products), named by one key name.
std::set<std::string, std::less<>> SharedCompanies(const std::vector<ProductScope>& scopes,
                                                   ScanMode mode) {
    std::set<std::string, std::less<>> shared;
    if (mode != ScanMode::kWriteNothing) return shared;
    std::map<std::string, int> products;
    for (const ProductScope& scope : scopes) {
        if (text::Find(scope.company, '\\') == text::npos) ++products[scope.company];
    }
    for (const auto& [company, count] : products) {
        if (count > 1) shared.insert(company);
    }
    return shared;
}

// What an administrator's scan keeps from one profile to the next.
struct ProfileScan {
    ProfileScan(Platform& os, std::uint32_t view) : machineTimes(os, view) {}
    std::vector<std::string> sids;
    std::size_t next = 0;
    MachineTimes machineTimes;
    // Every user's folders are confined against the same profile list.
    std::vector<MachineProfile> machineProfiles;
    std::set<std::string, std::less<>> sharedCompanies;
};

// The scan of one profile for every product; the profile's finding goes to targets[0], each
// product's registrations to its own target.
void ScanProfile(Workspace& ws, ProfileScan& state, const std::vector<ProductScope>& scopes,
                 const std::vector<Findings*>& targets, ScanMode mode, const std::string& sid) {
    Platform& os = ws.services.os;
    Findings* profiles = targets.front();
    if (ws.services.debug) {
        os.messages.Show(ws.owner, std::string(kProcessingSid) + sid, kSettingsSection,
                         mb::kIconInformation);
    }
    // A profile list entry not named by a SID is no user's: it is not loaded under that name.
    if (!IsSidText(sid)) {
        profiles->profiles.push_back({sid, ProfileState::kAbsent});
        return;
    }
    HiveLease hive(ws.services, sid, ws.hives);
    if (!hive.available()) {
        // The system finds no hive file (or no folder of it): nothing of the user is left.
        // Any other failure is not "nothing to clean": the front end tells how many users
        // could not be read.
        const Win32Error e = hive.error();
        if (e == err::kFileNotFound || e == err::kPathNotFound) {
            profiles->profiles.push_back({sid, ProfileState::kAbsent});
        } else {
            profiles->profiles.push_back({sid, ProfileState::kUnreadable, e});
        }
        return;
    }
    profiles->profiles.push_back(
        {sid, hive.loadedHere() ? ProfileState::kLoaded : ProfileState::kInPlace});
    MachineTimes& machineTimes = state.machineTimes;
    const MachineKeyCheck machineHasKey = [&machineTimes](const std::string& keyPath) {
        return machineTimes.Has(keyPath);
    };
    UserDataFolders dataFolders(os, ws.tables, sid,
                                ConfineUserFolders(os, sid, state.machineProfiles), machineHasKey);
    CompanyKeys companyKeys(os.registry, sid, state.sharedCompanies);
    UserScan scan{kHkeyUsers, sid, UserAccount(os.security, sid), &dataFolders, &companyKeys};
    for (std::size_t i = 0; i < scopes.size(); ++i) {
        ScanUserProduct(ws, machineTimes, scopes[i], scan, mode, targets[i]);
    }
    // A failed unload is reported by the lease itself; the scan of this user is complete.
    (void)hive.Release();
}

bool ScanCurrentUser(Workspace& ws, const std::vector<ProductScope>& scopes,
                     const std::vector<Findings*>& targets) {
    Platform& os = ws.services.os;
    Win32Error opened = err::kSuccess;
    UniqueKey currentUser = OpenKey(os.registry, kHkeyCurrentUser, "", reg::kReadNative, &opened);
    if (opened != err::kSuccess) return false;

    const std::string sid = CurrentUserSidText(os.security);
    MachineTimes machineTimes(os, ws.tables.machineKeyView);
    UserScan scan{currentUser.get(), sid, UserAccount(os.security, sid), nullptr, nullptr};
    for (std::size_t i = 0; i < scopes.size(); ++i) {
        ScanUserProduct(ws, machineTimes, scopes[i], scan, ScanMode::kRegisterLeftovers,
                        targets[i]);
    }
    return true;
}

}  // namespace

bool ScanRegistrations(Workspace& ws, std::string_view company, std::string_view product,
                       std::string_view release, Findings* findings, ScanMode mode) {
    return ScanProducts(
        ws, {ProductScope{std::string(company), std::string(product), std::string(release)}},
        findings, mode);
}

bool ScanProducts(Workspace& ws, const std::vector<ProductScope>& scopes, Findings* findings,
                  ScanMode mode) {
    ScanSession session(ws, scopes, mode, {findings});
    if (!session.Begin()) return false;
    while (!session.Done()) session.Step();
    return true;
}

struct ScanSession::State : ProfileScan {
    using ProfileScan::ProfileScan;
};

ScanSession::ScanSession(Workspace& ws, std::vector<ProductScope> scopes, ScanMode mode,
                         std::vector<Findings*> targets)
    : ws_(ws), mode_(mode) {
    // A settings file that names a company but leaves out the product or release would make the
    // release key path end early, at the company or product key: its sub keys are whole products
    // or releases, not registrations. Nothing is listed for such a product.
    for (std::size_t i = 0; i < scopes.size(); ++i) {
        const ProductScope& scope = scopes[i];
        if (scope.company.empty() || scope.product.empty() || scope.release.empty()) continue;
        scopes_.push_back(scope);
        targets_.push_back(targets.size() == scopes.size() ? targets[i] : targets.front());
    }
}

ScanSession::~ScanSession() = default;

bool ScanSession::Begin() {
    if (scopes_.empty()) return true;
    if (!ws_.admin) return ScanCurrentUser(ws_, scopes_, targets_);
    Platform& os = ws_.services.os;
    auto state = std::make_unique<State>(os, ws_.tables.machineKeyView);
    // A profile list that cannot be read is a registry that cannot be read, not an empty machine.
    if (!ListProfileSids(os, &state->sids)) return false;
    (void)ReadMachineProfiles(os, &state->machineProfiles, false);
    state->sharedCompanies = SharedCompanies(scopes_, mode_);
    state_ = std::move(state);
    return true;
}

void ScanSession::Step() {
    if (Done()) return;
    const std::string& sid = state_->sids[state_->next];
    ScanProfile(ws_, *state_, scopes_, targets_, mode_, sid);
    ++state_->next;
}

bool ScanSession::Done() const noexcept {
    return state_ == nullptr || state_->next >= state_->sids.size();
}

std::size_t ScanSession::ProfileCount() const noexcept {
    return state_ == nullptr ? 0 : state_->sids.size();
}

std::size_t ScanSession::ProfilesDone() const noexcept {
    return state_ == nullptr ? 0 : state_->next;
}

namespace {

// Whether each folder from below the profile folder down to `folder` (strictly inside it, as the
// confinement found) is a plain folder: no link on the way leads out of the profile.
bool NoLinkBelowProfile(IFileSystem& files, const ProfileFolders& profile,
                        const std::string& folder) {
    PathParts home;
    PathParts parts;
    if (!SplitAbsolutePath(profile.profile, &home) || !SplitAbsolutePath(folder, &parts)) {
        return false;
    }
    std::string path = profile.profile;
    for (std::size_t i = home.names.size(); i < parts.names.size(); ++i) {
        path += "\\" + parts.names[i];
        if (!IsPlainFolder(files, path)) return false;
    }
    return true;
}

}  // namespace

UserFolderCheck ConfineUserFolders(Platform& os, std::string_view sidText,
                                   const std::vector<MachineProfile>& machine) {
    return [&os, profile = ProfileOf(os, sidText, machine)](std::string_view valueName,
                                                            const std::string& folder) {
        const RootFolderVerdict verdict = CheckUserFolder(profile, folder);
        const char* reason = RefusalReason(verdict);
        if (verdict == RootFolderVerdict::kAllowed) {
            // Only paths inside the profile are looked at here.
            if (NoLinkBelowProfile(os.files, profile, folder)) return true;
            reason = "not a plain folder of the profile (missing, or reached through a link)";
        }
        os.debug.Write("\tRefused to use \"" + folder + "\" as " + std::string(valueName) + ": " +
                       reason + "\n");
        return false;
    };
}

void RegisterOrphanedUserData(Platform& os, const Tables& tables, std::string_view sidText,
                              std::string_view company, std::string_view product,
                              std::string_view release, std::vector<LeftoverFolder>* heldInMemory) {
    std::vector<MachineProfile> machine;
    (void)ReadMachineProfiles(os, &machine, false);
    UserDataFolders(os, tables, sidText, ConfineUserFolders(os, sidText, machine))
        .RegisterOrphaned(company, product, release, heldInMemory);
}

bool IsStaleRegistration(Platform& os, std::uint32_t machineKeyView,
                         std::string_view registrationKeyPath, HKey userRegistrationKey) {
    MachineTimes machineTimes(os, machineKeyView);
    UserFinding ignored;
    return JudgeRegistration(os, machineTimes, std::string(registrationKeyPath),
                             userRegistrationKey, &ignored);
}

KeyTime OldestKeyTime(Platform& os, HKey key) {
    KeyTime oldest = os.system.CurrentTime();
    FileTime written = 0;
    if (os.registry.QueryLastWriteTime(key, &written) == err::kSuccess) {
        oldest = KeyTimeFromFileTime(os.system, written);
    }

    // A name that cannot be read ends the walk.
    (void)ForEachSubKey(os.registry, key, kMaxPath, [&](const std::string& name) {
        // Opened below an open key: the sub key of that very key, in whichever view it was found.
        UniqueKey child = OpenKey(os.registry, key, name, reg::kKeyRead);
        if (!child) return true;
        const KeyTime childTime = OldestKeyTime(os, child.get());
        child.reset();
        if (childTime < oldest) oldest = childTime;
        return true;
    });
    return oldest;
}

bool AddRegistrationFinding(Workspace& ws, std::string_view product,
                            std::string_view registrationKeyName, UserFinding user,
                            Findings* findings) {
    UserAccount account(ws.services.os.security, user.sid);
    return AddFinding(ws, account, product, registrationKeyName, std::move(user), findings);
}

namespace {

bool AddFinding(Workspace& ws, UserAccount& account, std::string_view product,
                std::string_view registrationKeyName, UserFinding user, Findings* findings) {
    // No SID (the running user's could not be found): there is no account to list. A user whom
    // the system cannot name (an account deleted since) is listed by his SID, without a name:
    // people who have left are just where stale data lies.
    if (user.sid.empty()) return false;
    if (!account.Name(&user.account)) user.account.clear();

    const RegistrationName parts = SplitRegistrationKeyName(registrationKeyName);
    const std::string displayName =
        ProductDisplayName(ws.tables.productIds, product, parts.productId);
    const std::string languageName =
        ws.tables.languageNames.Lookup(parts.localeId).value_or(std::string());

    std::string label;
    if (!displayName.empty() && !languageName.empty()) {
        label = displayName + " (" + languageName + ")";
    } else {
        label = std::string(product) + " (" + parts.suffix + ")";
    }

    // Registrations that share a label are listed as one; each user keeps the path of his own
    // registration, so that removing him takes his key, not the first one's.
    auto& registrations = findings->registrations;
    auto it = std::find_if(registrations.begin(), registrations.end(),
                           [&](const RegistrationFinding& r) { return r.label == label; });
    if (it == registrations.end()) {
        registrations.push_back({label, user.keyPath, std::string(product), {}});
        it = registrations.end() - 1;
    }
    it->users.push_back(std::move(user));
    return true;
}

}  // namespace
}  // namespace qv
