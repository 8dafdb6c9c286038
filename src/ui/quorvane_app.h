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
    explicit CQuorvaneApp(Platform& os) : os_(os), advapi32_(os.system), oleAcc_(os.system) {}
    CQuorvaneApp(const CQuorvaneApp&) = delete;
    CQuorvaneApp& operator=(const CQuorvaneApp&) = delete;

    // Constructs the clean-up dialog and runs it modally; the result is ignored.
    using DialogRunner = std::function<void(CQuorvaneApp&)>;

    // The start-up steps, in order; the tool ends after the dialog, or after the refusal of a
    // system it cannot run on.
    void InitInstance(std::string_view commandLine, const DialogRunner& runDialog);
    // Frees the libraries that were loaded; the process exit code.
    [[nodiscard]] int ExitInstance();

    // The accessibility entry points, resolved from the accessibility library on first use; null
    // when they cannot be resolved (callers then answer 0).
    void* AccessibilityEntry(std::string_view name);

    Services services() { return Services{os_, debug_}; }

    // The libraries start-up loaded, 0 when not loaded (or already freed). The security adapter
    // keeps the reference and reads it at each call.
    const ModuleHandle& advapi32() const noexcept { return *advapi32_.addressof(); }
    ModuleHandle oleAcc() const noexcept { return oleAcc_.get(); }

    // Whether the command line asked for the diagnostic boxes.
    bool debug() const noexcept { return debug_; }
    // The settings file: <current directory>\Quorvane.ini; empty when the directory is unknown.
    const std::string& settingsFile() const noexcept { return settingsFile_; }

  private:
    Platform& os_;
    // Freed by ExitInstance, or at the end of the object when an exit path skipped it.
    UniqueLibrary advapi32_;
    UniqueLibrary oleAcc_;
    bool debug_ = false;
    std::string settingsFile_;
    void* createStdAccessibleObject_ = nullptr;
    void* lresultFromObject_ = nullptr;
};

}  // namespace qv
