// The clean-up dialog run by the system's dialog manager through the dialog procedure, on this
// machine's registry (which holds no product registration), and the accessibility entry points.
#include "resource.h"
#include "ui/quorvane_app.h"
#include "win32/accessibility.h"
#include "win32/dialog_host.h"
#include "windows_test_support.h"

namespace qv::win32::testing {
namespace {

class DialogOnSystem : public RealMachine {
  protected:
    DialogOnSystem()
        : dialog_(Services{os(), false}, ""), host_(dialog_, ::GetModuleHandleA(nullptr)) {}

    // Runs the window's messages, as the program's message loop does, until the dialog's
    // refresh or clean-up is over (or a minute has passed: a refresh that never ends is left for
    // the caller to find still busy, not waited for).
    void RunSteps() {
        const DWORD start = ::GetTickCount();
        MSG msg;
        while (dialog_.Busy() && ::GetTickCount() - start < 60000) {
            if (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
                ::TranslateMessage(&msg);
                ::DispatchMessageA(&msg);
            }
        }
    }

    std::string ItemText(HWND window, int id) {
        char text[512] = {};
        ::GetDlgItemTextA(window, id, text, sizeof text);
        return text;
    }

    // Made and ended in the program's order: the dialog outlives its host.
    CQuorvaneDlg dialog_;
    QuorvaneDialogHost host_;
};

TEST_F(DialogOnSystem, InitialisationShowsTheIconAndAnEmptyMachine) {
    UniqueWindow window(host_.CreateModeless(nullptr));
    ASSERT_NE(window.get(), nullptr);
    // The window is there before the scan: clean-up is off until its end.
    EXPECT_TRUE(::IsWindowVisible(window.get()));
    EXPECT_FALSE(::IsWindowEnabled(::GetDlgItem(window.get(), IDOK)));
    RunSteps();
    ASSERT_NE(host_.icon(), nullptr);
    EXPECT_EQ(::SendMessageA(window.get(), WM_GETICON, ICON_BIG, 0),
              reinterpret_cast<LRESULT>(host_.icon()));
    EXPECT_EQ(::SendMessageA(window.get(), WM_GETICON, ICON_SMALL, 0),
              reinterpret_cast<LRESULT>(host_.icon()));
    EXPECT_EQ(::SendMessageA(window.get(), WM_QUERYDRAGICON, 0, 0),
              reinterpret_cast<LRESULT>(host_.icon()));

    // The tree has its check box images: the style was applied again. (Wine's dialog manager
    // drops WS_BORDER of a control with WS_EX_CLIENTEDGE, so only the tree's own styles are
    // compared.)
    HWND tree = ::GetDlgItem(window.get(), IDC_TREE);
    EXPECT_EQ(::GetWindowLongA(tree, GWL_STYLE) & 0xFFFF, 0x0117);
    EXPECT_NE(::SendMessageA(tree, TVM_GETIMAGELIST, TVSIL_STATE, 0), 0);
    // No stale registration here: the status line says so, and clean-up is off.
    EXPECT_EQ(ItemText(window.get(), IDC_STATUS),
              os().resources.LoadString(IDS_NO_INVALID_ENTRIES) +
                  os().resources.LoadString(IDS_CLEANUP_NOT_NEEDED));
    EXPECT_FALSE(::IsWindowEnabled(::GetDlgItem(window.get(), IDOK)));
    char title[512] = {};
    ::GetWindowTextA(window.get(), title, sizeof title);
    std::string heading = os().resources.LoadString(IDS_HEADING);
    heading.replace(heading.find("%s"), 2, "Ovaline/Ovaline Sketch");
    EXPECT_EQ(title, heading);
}

// Cancels the dialog as soon as the dialog manager creates it.
LRESULT CALLBACK CancelOnCreate(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_CREATEWND) {
        char name[32] = {};
        ::GetClassNameA(reinterpret_cast<HWND>(wParam), name, sizeof name);
        if (std::string(name) == "#32770") {
            ::PostMessageA(reinterpret_cast<HWND>(wParam), WM_COMMAND,
                           MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
        }
    }
    return ::CallNextHookEx(nullptr, code, wParam, lParam);
}

BOOL Unhook(HHOOK h) noexcept { return ::UnhookWindowsHookEx(h); }
using UniqueHook = UniqueHandle<HHOOK, &Unhook>;

TEST_F(DialogOnSystem, CancelEndsTheModalRunWithCancel) {
    UniqueHook hook(::SetWindowsHookExA(WH_CBT, &CancelOnCreate, nullptr, ::GetCurrentThreadId()));
    ASSERT_TRUE(hook);
    EXPECT_EQ(host_.RunModal(), IDCANCEL);
    // The window is gone, and the dialog object that outlives it holds nothing of it.
    EXPECT_EQ(dialog_.tree(), nullptr);
}

TEST_F(DialogOnSystem, DestroyedWindowUnbindsTheDialogAndTheHostCanShowItAgain) {
    {
        UniqueWindow window(host_.CreateModeless(nullptr));
        ASSERT_NE(window.get(), nullptr);
        EXPECT_NE(dialog_.tree(), nullptr);
    }
    EXPECT_EQ(dialog_.tree(), nullptr);
    UniqueWindow again(host_.CreateModeless(nullptr));
    ASSERT_NE(again.get(), nullptr);
    EXPECT_NE(dialog_.tree(), nullptr);
    // The new window's refresh runs to its end: no step of the first window is still awaited.
    RunSteps();
    EXPECT_FALSE(dialog_.Busy());
}

TEST_F(RealMachine, AccessibilityEntryPointsForwardOnlyWhenTheLibraryIsLoaded) {
    UniqueWindow window(::CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                          nullptr, nullptr));
    {
        CQuorvaneApp withoutLibrary(os());
        AccessibilityScope scope(withoutLibrary);
        void* object = &withoutLibrary;  // a sentinel the unresolved call must leave alone
        EXPECT_EQ(CreateStdAccessibleObject(window.get(), OBJID_CLIENT, IID_IAccessible, &object),
                  0);
        EXPECT_EQ(object, &withoutLibrary);
        EXPECT_EQ(LresultFromObject(IID_IAccessible, 0, nullptr), 0);
    }
    // Start-up loads the library (and frees it at the application's end).
    CQuorvaneApp app(os());
    app.InitInstance("", {});
    ASSERT_NE(app.oleAcc(), 0u);
    AccessibilityScope scope(app);
    void* object = nullptr;
    EXPECT_EQ(CreateStdAccessibleObject(window.get(), OBJID_CLIENT, IID_IAccessible, &object),
              S_OK);
    ASSERT_NE(object, nullptr);
    static_cast<IUnknown*>(object)->Release();
}

}  // namespace
}  // namespace qv::win32::testing
