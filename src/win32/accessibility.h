// The two accessibility entry points the tool supplies, with the system's signatures
// (CreateStdAccessibleObject, LresultFromObject). Each forwards to the function of the same name
// in the accessibility library that start-up loaded (CQuorvaneApp::oleAcc), resolved once by
// the application object, and answers 0 when it cannot be resolved.
#pragma once
#include <oleacc.h>

#include "ui/quorvane_app.h"
#include "win32/windows_api.h"

namespace qv::win32 {

// Makes `app` the application object the entry points use while this object lives.
class AccessibilityScope {
  public:
    explicit AccessibilityScope(CQuorvaneApp& app) noexcept;
    AccessibilityScope(const AccessibilityScope&) = delete;
    AccessibilityScope& operator=(const AccessibilityScope&) = delete;
    ~AccessibilityScope();

  private:
    CQuorvaneApp* previous_;
};

}  // namespace qv::win32
