// What every Quorvane program carries: the version information and the application manifest of
// quorvane.exe and quorvane-cli.exe (built beside this test program), and the manifest in effect
// in this program, which carries the dialog's.
#include "windows_test_support.h"
// The Windows headers first (through the support header), then what builds on them.
#include <string>
#include <string_view>
#include <vector>

#include "base/text.h"

namespace qv::win32::testing {
namespace {

// A program in the folder of this test program.
std::string ToolPath(const char* program) {
    char self[MAX_PATH] = {};
    const DWORD length = ::GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string path(self, length);
    return path.substr(0, path.rfind('\\') + 1) + program;
}

// Each program with its own description and execution level: the dialog asks an administrator to
// elevate, the console program runs with the token it is started with.
struct Program {
    const char* file;
    const wchar_t* description;
    const char* executionLevel;
};
constexpr Program kPrograms[] = {
    {"quorvane.exe", L"ユーザ データをクリーンアップ",
     R"(<requestedExecutionLevel level="highestAvailable")"},
    {"quorvane-cli.exe", L"ユーザ データをクリーンアップ (コンソール)",
     R"(<requestedExecutionLevel level="asInvoker")"},
};

// A string of the version information's Japanese Unicode block.
std::wstring VersionString(const std::vector<char>& info, const wchar_t* name) {
    const std::wstring query = std::wstring(L"\\StringFileInfo\\041104B0\\") + name;
    void* value = nullptr;
    UINT chars = 0;
    if (!::VerQueryValueW(info.data(), query.c_str(), &value, &chars) || chars == 0) return L"";
    return std::wstring(static_cast<const wchar_t*>(value), chars - 1);
}

TEST(ProgramResources, VersionInformationHoldsTheProjectsVersion) {
    for (const Program& program : kPrograms) {
        SCOPED_TRACE(program.file);
        const std::string tool = ToolPath(program.file);
        DWORD ignored = 0;
        const DWORD size = ::GetFileVersionInfoSizeA(tool.c_str(), &ignored);
        ASSERT_NE(size, 0u) << tool;
        std::vector<char> info(size);
        ASSERT_TRUE(::GetFileVersionInfoA(tool.c_str(), 0, size, info.data()));

        VS_FIXEDFILEINFO* fixed = nullptr;
        UINT length = 0;
        ASSERT_TRUE(
            ::VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
        ASSERT_EQ(length, sizeof(VS_FIXEDFILEINFO));
        EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
        const DWORD high = (QV_PROJECT_VERSION_MAJOR << 16) | QV_PROJECT_VERSION_MINOR;
        const DWORD low = static_cast<DWORD>(QV_PROJECT_VERSION_PATCH) << 16;
        EXPECT_EQ(fixed->dwFileVersionMS, high);
        EXPECT_EQ(fixed->dwFileVersionLS, low);
        EXPECT_EQ(fixed->dwProductVersionMS, high);
        EXPECT_EQ(fixed->dwProductVersionLS, low);
        EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));

        // One translation: Japanese, Unicode.
        WORD* translation = nullptr;
        ASSERT_TRUE(::VerQueryValueW(info.data(), L"\\VarFileInfo\\Translation",
                                     reinterpret_cast<void**>(&translation), &length));
        ASSERT_EQ(length, 4u);
        EXPECT_EQ(translation[0], 0x0411);
        EXPECT_EQ(translation[1], 1200);

        const std::string version = QV_PROJECT_VERSION;
        const std::wstring wideVersion(version.begin(), version.end());
        EXPECT_EQ(VersionString(info, L"ProductName"), L"Quorvane");
        EXPECT_EQ(VersionString(info, L"ProductVersion"), wideVersion);
        EXPECT_EQ(VersionString(info, L"FileVersion"), wideVersion);
        EXPECT_EQ(VersionString(info, L"FileDescription"), program.description);
        const std::string file = program.file;
        EXPECT_EQ(VersionString(info, L"OriginalFilename"), std::wstring(file.begin(), file.end()));
    }
}

TEST(ProgramResources, ToolCarriesItsManifestAsResourceOne) {
    for (const Program& program : kPrograms) {
        SCOPED_TRACE(program.file);
        const std::string tool = ToolPath(program.file);
        UniqueModule image(::LoadLibraryExA(
            tool.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
        ASSERT_NE(image.get(), nullptr) << tool;
        // CREATEPROCESS_MANIFEST_RESOURCE_ID of type RT_MANIFEST: the one the loader reads.
        HRSRC found = ::FindResourceA(image.get(), MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));
        ASSERT_NE(found, nullptr);
        const auto* bytes =
            static_cast<const char*>(::LockResource(::LoadResource(image.get(), found)));
        ASSERT_NE(bytes, nullptr);
        const std::string_view manifest(bytes, ::SizeofResource(image.get(), found));

        for (std::string_view expected : {
                 std::string_view(program.executionLevel),
                 std::string_view(R"(name="Microsoft.Windows.Common-Controls" version="6.0.0.0")"),
                 std::string_view(R"(publicKeyToken="6595b64144ccf1df")"),
                 // Windows 10 and 11, the newest system the tool declares.
                 std::string_view(R"(<supportedOS Id="{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"/>)"),
                 std::string_view(">true</dpiAware>"),
                 std::string_view(">system</dpiAwareness>"),
             }) {
            EXPECT_NE(text::FindText(manifest, expected), text::npos) << expected;
        }
        // No other manifest beside it that the loader could take instead.
        EXPECT_EQ(::FindResourceA(image.get(), MAKEINTRESOURCEA(2), MAKEINTRESOURCEA(24)), nullptr);
    }
}

TEST(ProgramResources, CommonControlsSixAreInEffect) {
    // The manifest's dependency makes the loader bind the side-by-side Common Controls 6 rather
    // than the system folder's library. (Wine's answers 5.81 to DllGetVersion in both places, so
    // the library's location tells them apart.)
    HMODULE controls = ::GetModuleHandleA("comctl32.dll");
    ASSERT_NE(controls, nullptr);
    char path[MAX_PATH] = {};
    ASSERT_NE(::GetModuleFileNameA(controls, path, MAX_PATH), 0u);
    const std::string folded = text::FoldCase(path);  // upper case
    EXPECT_NE(text::FindText(folded, "\\WINSXS\\"), text::npos) << path;
    EXPECT_NE(text::FindText(folded, "MICROSOFT.WINDOWS.COMMON-CONTROLS"), text::npos) << path;
}

}  // namespace
}  // namespace qv::win32::testing
