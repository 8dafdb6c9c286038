// The administrator check and the privilege switch, on the tool's own process token.
#pragma once
#include <string>
#include <string_view>

#include "port/platform.h"

namespace qv {

// Whether the process token holds the Administrators group (S-1-5-32-544) enabled, as access
// checks count it: an entry that is deny-only (an administrator's token without elevation under
// UAC) or not enabled is no membership, since such a token cannot load another user's hive.
// Any failure answers false.
[[nodiscard]] bool IsMemberOfAdministrators(Platform& os);
// Enables or disables one privilege; true when the change call and closing the token succeeded.
[[nodiscard]] bool AdjustNamedPrivilege(ISecurity& security, bool enable,
                                        std::string_view privilegeName);

// Enables a privilege for the lifetime of the object and disables it again at its end, on every
// path: a privilege such as SeRestorePrivilege lets the process pass file permissions, so it is
// on only around the one call that needs it.
class ScopedPrivilege {
  public:
    ScopedPrivilege(ISecurity& security, std::string_view privilegeName)
        : security_(security),
          name_(privilegeName),
          enabled_(AdjustNamedPrivilege(security, true, privilegeName)) {}
    // A switch back that fails cannot be helped here (the privilege then stays on until the
    // process ends); the switch on is what callers check, through enabled().
    ~ScopedPrivilege() { (void)AdjustNamedPrivilege(security_, false, name_); }
    ScopedPrivilege(const ScopedPrivilege&) = delete;
    ScopedPrivilege& operator=(const ScopedPrivilege&) = delete;

    // Whether the switch call succeeded (a token without the privilege still answers yes).
    bool enabled() const noexcept { return enabled_; }

  private:
    ISecurity& security_;
    std::string name_;
    bool enabled_;
};

}  // namespace qv
