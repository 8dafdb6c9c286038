#include "win32/accessibility.h"

namespace qv::win32 {
namespace {

// The one application object of the process (null outside its scope).
CQuorvaneApp* g_application = nullptr;

template <typename Function>
Function Entry(const char* name) noexcept {
    if (g_application == nullptr) return nullptr;
    try {
        return reinterpret_cast<Function>(g_application->AccessibilityEntry(name));
    } catch (...) {
        return nullptr;
    }
}

}  // namespace

AccessibilityScope::AccessibilityScope(CQuorvaneApp& app) noexcept : previous_(g_application) {
    g_application = &app;
}

AccessibilityScope::~AccessibilityScope() { g_application = previous_; }

}  // namespace qv::win32

extern "C" HRESULT WINAPI CreateStdAccessibleObject(HWND hwnd, LONG idObject, REFIID riid,
                                                    void** ppvObject) {
    auto forward =
        qv::win32::Entry<decltype(&::CreateStdAccessibleObject)>("CreateStdAccessibleObject");
    if (forward == nullptr) return 0;
    return forward(hwnd, idObject, riid, ppvObject);
}

extern "C" LRESULT WINAPI LresultFromObject(REFIID riid, WPARAM wParam, LPUNKNOWN punk) {
    auto forward = qv::win32::Entry<decltype(&::LresultFromObject)>("LresultFromObject");
    if (forward == nullptr) return 0;
    return forward(riid, wParam, punk);
}
