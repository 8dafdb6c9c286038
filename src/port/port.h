// What every port is: an interface that the core holds by reference, never copies, and that is
// destroyed through its base.
#pragma once

namespace qv {

class Port {
  public:
    Port(const Port&) = delete;
    Port& operator=(const Port&) = delete;
    virtual ~Port() = default;

  protected:
    Port() = default;
};

}  // namespace qv
