// quorvane.exe: builds the machine, runs start-up and, from it, the clean-up dialog.
#include "win32/windows_api.h"
// The Windows headers first, then everything that builds on them.
#include "security/machine_lock.h"
#include "ui/quorvane_app.h"
#include "ui/quorvane_dlg.h"
#include "win32/accessibility.h"
#include "win32/dialog_host.h"
#include "win32/dll_search.h"
#include "win32/win32_platform.h"

namespace {

// The adapters and the application object. The security adapter keeps a reference to the
// application's library field; it reads the field only when called, by which time the
// application exists and start-up has loaded the library.
struct Program {
    explicit Program(HMODULE module) : machine(app.advapi32(), module), app(machine.platform()) {}
    qv::win32::Win32Platform machine;
    qv::CQuorvaneApp app;
};

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int) {
    // Before anything can load a library: from the system folder only.
    qv::win32::LoadLibrariesFromSystemFolderOnly();
    // Every text the tool splits or compares is in the ANSI code page; its lead bytes come first.
    qv::win32::InstallAnsiLeadBytes();

    Program program(instance);
    qv::CQuorvaneApp& app = program.app;
    qv::win32::AccessibilityScope accessibility(app);

    // The command line after the program's name; the dialog's result is not used.
    app.InitInstance(commandLine != nullptr ? commandLine : "", [instance,
                                                                 &program](qv::CQuorvaneApp& a) {
        // One run at a time per machine: held from before the dialog is made
        // until after it is gone; busy or failing, the tool closes here.
        qv::UniqueMachineLock machineLock(program.machine.system);
        if (!qv::HoldMachineForDialog(a.services().os, &machineLock)) return;
        // The dialog object outlives its host and the window: the host ends
        // the dialog's binding to the window's controls when the window is
        // destroyed, so the dialog's own end later touches none of them.
        qv::CQuorvaneDlg dialog(a.services(), a.settingsFile());
        qv::win32::QuorvaneDialogHost host(dialog, instance, program.machine.resources.Language());
        host.RunModal();
    });
    return app.ExitInstance();
}
