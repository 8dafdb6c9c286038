#include "ui/quorvane_app.h"

#include "app/defaults.h"
#include "app/language.h"
#include "base/text.h"
#include "res/resource.h"

namespace qv {
namespace {

constexpr char kOleAcc[] = "oleacc.dll";
constexpr char kDebugSwitch[] = "-d";
constexpr char kCreateStdAccessibleObject[] = "CreateStdAccessibleObject";
constexpr char kLresultFromObject[] = "LresultFromObject";

// Windows 4.0 and later as the runtime records it: major * 256 + minor.
constexpr std::uint32_t kWindows40 = 0x400;

}  // namespace

void CQuorvaneApp::InitInstance(std::string_view commandLine, const DialogRunner& runDialog) {
    os_.system.InitCommonControls();
    // The texts in the language of the user's interface until the settings file chooses one.
    (void)UseUiLanguage(os_.resources, std::nullopt);

    // The only switch. It is a plain substring of the argument text, so any word that contains
    // "-d" turns it on; the search steps over double-byte characters.
    if (!commandLine.empty() && text::FindText(commandLine, kDebugSwitch) != text::npos) {
        debug_ = true;
    }

    // Windows 95, 98 and Me lack what the tool needs from the NT family (per-user hives, tokens):
    // refuse before anything is loaded.
    OsVersion version;
    if (os_.system.GetVersion(&version) == err::kSuccess &&
        version.major * 256 + version.minor >= kWindows40 &&
        version.platformId == kVerPlatformWin32Windows) {
        os_.messages.Show(0, os_.resources.LoadString(IDS_WIN9X_REFUSED),
                          os_.resources.LoadString(IDS_CAPTION), mb::kIconError);
        return;
    }

    // A library that does not load is not reported: its users see a null handle.
    advapi32_.reset(os_.system.LoadLibrary(kSecurityLibrary));
    oleAcc_.reset(os_.system.LoadLibrary(kOleAcc));

    // The settings file lies in the current directory, joined with exactly one "\" (a drive root
    // gives "C:\\Quorvane.ini", which the file system accepts). Without a directory there is no
    // settings file and the dialog works in default mode.
    settingsFile_.clear();
    std::string directory;
    const std::uint32_t length = os_.system.GetCurrentDirectory(kMaxPath, &directory);
    if (length != 0 && length < kMaxPath) {
        settingsFile_ = directory + "\\" + kSettingsFileName;
    }

    if (runDialog) runDialog(*this);
}

int CQuorvaneApp::ExitInstance() {
    advapi32_.reset();
    oleAcc_.reset();
    // The tool's exit code is always 0: the dialog's result does not reach it.
    return 0;
}

void* CQuorvaneApp::AccessibilityEntry(std::string_view name) {
    void** cached = nullptr;
    if (name == kCreateStdAccessibleObject) {
        cached = &createStdAccessibleObject_;
    } else if (name == kLresultFromObject) {
        cached = &lresultFromObject_;
    } else {
        return nullptr;
    }
    // Resolved only from the library start-up loaded: a lookup with a null module would search the
    // tool's own executable instead.
    if (*cached == nullptr && oleAcc_) *cached = os_.system.GetProcAddress(oleAcc_.get(), name);
    return *cached;
}

}  // namespace qv
