// What every port is: an interface that the core holds by reference, never copies, and that is
// destroyed through its base.
#pragma once
#include "base/interface.h"

namespace qv {

class Port : public Interface {
  protected:
    Port() = default;
};

}  // namespace qv
