// The administrator check and the privilege switch, on the tool's own process token.
#pragma once
#include <string_view>

#include "port/platform.h"

namespace qv {

struct TokenCloser {
    using Value = TokenHandle;
    ISecurity* security = nullptr;
    static TokenHandle Null() noexcept { return 0; }
    bool Owns(TokenHandle) const noexcept { return security != nullptr; }
    Win32Error Close(TokenHandle t) noexcept { return security->CloseToken(t); }
};

class UniqueToken : public UniqueHandle<TokenCloser> {
public:
    UniqueToken() = default;
    explicit UniqueToken(ISecurity& security, TokenHandle t = 0) noexcept
        : UniqueHandle<TokenCloser>(TokenCloser{&security}, t) {}
};

// Whether the process token lists the Administrators group (S-1-5-32-544), whatever its
// attributes. Any failure answers false.
bool IsMemberOfAdministrators(Platform& os);
// Enables or disables one privilege; true when the change call and closing the token succeeded.
bool AdjustNamedPrivilege(ISecurity& security, bool enable, std::string_view privilegeName);

}  // namespace qv
