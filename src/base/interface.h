// What every interface of the tool is, a port or not: held by reference, never copied, and
// destroyed through its base.
#pragma once

namespace qv {

class Interface {
  public:
    Interface(const Interface&) = delete;
    Interface& operator=(const Interface&) = delete;
    virtual ~Interface() = default;

  protected:
    Interface() = default;
};

}  // namespace qv
