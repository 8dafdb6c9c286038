#include "app/quorvane_app.h"

#include "app/defaults.h"
#include "base/text.h"
#include "res/resource.h"

namespace qv {
namespace {

constexpr char kAdvapi32[] = "Advapi32.dll";
constexpr char kOleAcc[] = "oleacc.dll";
constexpr char kDebugSwitch[] = "-d";
constexpr char kCreateStdAccessibleObject[] = "CreateStdAccessibleObject";
constexpr char kLresultFromObject[] = "LresultFromObject";

// Windows 4.0 and later as the runtime records it: major * 256 + minor.
constexpr std::uint32_t kWindows40 = 0x400;

}  // namespace

bool CQuorvaneApp::InitInstance(std::string_view commandLine, const DialogRunner& runDialog) {
    m_os.system.InitCommonControls();

    // The only switch. It is a plain substring of the argument text, so any word that contains
    // "-d" turns it on; the search steps over double-byte characters.
    if (!commandLine.empty() && text::FindText(commandLine, kDebugSwitch) != text::npos) {
        m_bDebug = true;
    }

    // Windows 95, 98 and Me lack what the tool needs from the NT family (per-user hives, tokens):
    // refuse before anything is loaded.
    OsVersion version;
    if (m_os.system.GetVersion(&version) == err::kSuccess &&
        version.major * 256 + version.minor >= kWindows40 &&
        version.platformId == kVerPlatformWin32Windows) {
        m_os.messages.Show(0, m_os.resources.LoadString(IDS_WIN9X_REFUSED),
                           m_os.resources.LoadString(IDS_CAPTION), mb::kIconError);
        return false;
    }

    // A library that does not load is not reported: its users see a null handle.
    advapi32_.reset(m_os.system.LoadLibrary(kAdvapi32));
    oleAcc_.reset(m_os.system.LoadLibrary(kOleAcc));

    // The settings file lies in the current directory, joined with exactly one "\" (a drive root
    // gives "C:\\Quorvane.ini", which the file system accepts). Without a directory there is no
    // settings file and the dialog works in default mode.
    m_pszProfileName.clear();
    std::string directory;
    const std::uint32_t length = m_os.system.GetCurrentDirectory(kMaxPath, &directory);
    if (length != 0 && length < kMaxPath) {
        m_pszProfileName = directory + "\\" + kSettingsFileName;
    }

    if (runDialog) runDialog(*this);
    return false;
}

int CQuorvaneApp::ExitInstance() {
    advapi32_.reset();
    oleAcc_.reset();
    // No message loop ran, so the exit code is the framework's 0.
    return 0;
}

void* CQuorvaneApp::AccessibilityEntry(std::string_view name) {
    void** cached = nullptr;
    if (name == kCreateStdAccessibleObject) {
        cached = &m_createStdAccessibleObject;
    } else if (name == kLresultFromObject) {
        cached = &m_lresultFromObject;
    } else {
        return nullptr;
    }
    // Resolved only from the library start-up loaded: a lookup with a null module would search the
    // tool's own executable instead.
    if (*cached == nullptr && oleAcc_) *cached = m_os.system.GetProcAddress(oleAcc_.get(), name);
    return *cached;
}

}  // namespace qv
