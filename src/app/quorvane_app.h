// The application object: start-up checks, the diagnostic switch, the two run-time libraries and
// the settings file, and the modal run of the clean-up dialog.
#pragma once
#include <functional>
#include <string>
#include <string_view>

#include "port/platform.h"

namespace qv {

class CQuorvaneApp {
  public:
    explicit CQuorvaneApp(Platform& os) : m_os(os) {}
    CQuorvaneApp(const CQuorvaneApp&) = delete;
    CQuorvaneApp& operator=(const CQuorvaneApp&) = delete;
    // Frees a library that ExitInstance did not free (an exit path that skipped it).
    ~CQuorvaneApp();

    // Constructs the clean-up dialog and runs it modally; the result is ignored.
    using DialogRunner = std::function<void(CQuorvaneApp&)>;

    // The start-up steps, in order; always false (the tool ends after the dialog).
    bool InitInstance(std::string_view commandLine, const DialogRunner& runDialog);
    // Frees the libraries that were loaded; the process exit code.
    int ExitInstance();

    // The accessibility entry points, resolved from m_hOleAcc on first use; null when they
    // cannot be resolved (callers then answer 0).
    void* AccessibilityEntry(std::string_view name);

    Services services() { return Services{m_os, m_bDebug}; }

    ModuleHandle m_hAdvapi32 = 0;
    ModuleHandle m_hOleAcc = 0;
    bool m_bDebug = false;
    // The settings file: <current directory>\Quorvane.ini; empty when the directory is unknown.
    std::string m_pszProfileName;

  private:
    Platform& m_os;
    void* m_createStdAccessibleObject = nullptr;
    void* m_lresultFromObject = nullptr;
};

}  // namespace qv
