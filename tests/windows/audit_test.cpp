// The audit port on the system, in a scratch folder in place of the machine's ProgramData: the
// folder's protection as the system reads it back, lines appended byte for byte, and the folders
// it must refuse.
//
// Wine 8 has no reparse points (a junction cannot be made, a Unix symbolic link looks like a plain
// folder or file), so the refusal of a folder or log file that is a link is checked by the fake
// machine's tests, not here.
#include "win32/windows_api.h"
// The Windows headers first, then everything that builds on them.
#include <aclapi.h>
#include <sddl.h>
#include <shlobj.h>

#include <fstream>
#include <iterator>

#include "security/audit_log.h"
#include "win32/win32_audit.h"
#include "windows_test_support.h"

namespace qv::win32::testing {
namespace {

bool UnderWine() {
    return ::GetProcAddress(::GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct Ace {
    BYTE type;
    BYTE flags;
    ACCESS_MASK mask;
    std::string sid;
};

std::string SidText(PSID sid) {
    char* text = nullptr;
    if (!::ConvertSidToStringSidA(sid, &text)) return "?";
    UniqueLocalMemory held(text);
    return text;
}

// The folder's DACL as the system reads it back, and whether it is protected from inheritance.
std::vector<Ace> ReadDacl(const std::string& path, bool* isProtected) {
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR raw = nullptr;
    std::vector<Ace> aces;
    EXPECT_EQ(::GetNamedSecurityInfoA(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                                      nullptr, nullptr, &dacl, nullptr, &raw),
              ERROR_SUCCESS);
    UniqueLocalMemory held(raw);
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    EXPECT_TRUE(::GetSecurityDescriptorControl(raw, &control, &revision));
    *isProtected = (control & SE_DACL_PROTECTED) != 0;
    if (dacl == nullptr) return aces;
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        void* ace = nullptr;
        if (!::GetAce(dacl, i, &ace)) break;
        auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
        aces.push_back({allowed->Header.AceType, allowed->Header.AceFlags, allowed->Mask,
                        SidText(&allowed->SidStart)});
    }
    return aces;
}

bool operator==(const Ace& a, const Ace& b) {
    return a.type == b.type && a.flags == b.flags && a.mask == b.mask && a.sid == b.sid;
}
std::ostream& operator<<(std::ostream& out, const Ace& a) {
    return out << "{type " << int{a.type} << ", flags " << int{a.flags} << ", mask " << a.mask
               << ", " << a.sid << "}";
}

// A folder made by the test with the descriptor `sddl`.
void MakeFolder(const std::string& path, const char* sddl) {
    PSECURITY_DESCRIPTOR raw = nullptr;
    ASSERT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1, &raw,
                                                                       nullptr));
    UniqueLocalMemory held(raw);
    SECURITY_ATTRIBUTES attributes{sizeof attributes, raw, FALSE};
    ASSERT_TRUE(::CreateDirectoryA(path.c_str(), &attributes)) << path;
}

TEST(AuditStoreOnSystem, CreatesTheFolderForSystemAndAdministratorsOnlyAndAppendsLinesAsGiven) {
    ScratchFolder dir;
    Win32AuditStore store(dir.path());
    const std::string folder = dir / "Quorvane";
    const std::string log = folder + "\\audit.jsonl";
    EXPECT_EQ(store.LogPath(), log);
    EXPECT_EQ(store.Append("early"), err::kInvalidHandle);
    ASSERT_EQ(store.Open(AuditPlace::kMachine, kAuditFolderSecurity), err::kSuccess);

    // Wine keeps no descriptor for a file: it answers one made from the Unix mode bits (SYSTEM
    // always, the user for the owner's bits, Everyone for the others'), unprotected.
    bool isProtected = false;
    const std::vector<Ace> expected = {
        {ACCESS_ALLOWED_ACE_TYPE, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE, FILE_ALL_ACCESS,
         "S-1-5-18"},
        {ACCESS_ALLOWED_ACE_TYPE, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE, FILE_ALL_ACCESS,
         UnderWine() ? TokenUserSidText() : "S-1-5-32-544"},
    };
    EXPECT_EQ(ReadDacl(folder, &isProtected), expected);
    EXPECT_EQ(isProtected, !UnderWine());

    const std::string japanese = "\xE6\x97\xA5\xE6\x9C\xAC";  // "日本" in UTF-8, not code page 932
    EXPECT_EQ(store.Append("{\"path\":\"" + japanese + "\"}"), err::kSuccess);
    EXPECT_EQ(store.Append("a\nb"), err::kInvalidParameter);
    // A second writer at the same time (another clean-up) appends too; a reader may look on.
    Win32AuditStore other(dir.path());
    ASSERT_EQ(other.Open(AuditPlace::kMachine, kAuditFolderSecurity), err::kSuccess);
    EXPECT_EQ(other.Append("other"), err::kSuccess);
    EXPECT_EQ(store.Append("second"), err::kSuccess);
    EXPECT_EQ(ReadAll(log), "{\"path\":\"" + japanese + "\"}\nother\nsecond\n");
    store.Close();
    other.Close();
    EXPECT_EQ(store.Append("late"), err::kInvalidHandle);

    // Opened again, the folder it made is kept and the log goes on at its end.
    ASSERT_EQ(store.Open(AuditPlace::kMachine, kAuditFolderSecurity), err::kSuccess);
    EXPECT_EQ(store.Append("third"), err::kSuccess);
    store.Close();
    EXPECT_EQ(ReadAll(log), "{\"path\":\"" + japanese + "\"}\nother\nsecond\nthird\n");
}

// ProgramData lets every user create folders: one of the log's name that grants anyone else, or a
// file in its place, is not written to. (Everyone rather than Users is granted: Wine derives a
// folder's grants from its Unix mode bits, which keep Everyone but make the running user of any
// group of his.)
TEST(AuditStoreOnSystem, RefusesAFolderThatGrantsOthersOrIsNoFolder) {
    ScratchFolder dir;
    MakeFolder(dir / "Quorvane", "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FR;;;WD)");
    Win32AuditStore store(dir.path());
    EXPECT_EQ(store.Open(AuditPlace::kMachine, kAuditFolderSecurity), err::kAccessDenied);
    EXPECT_FALSE(Exists(dir / "Quorvane\\audit.jsonl"));

    ScratchFolder second;
    WriteFile(second / "Quorvane", "not a folder");
    Win32AuditStore onFile(second.path());
    EXPECT_EQ(onFile.Open(AuditPlace::kMachine, kAuditFolderSecurity), err::kDirectory);

    // A folder that grants no more than asked (here SYSTEM alone) is the log's.
    ScratchFolder third;
    MakeFolder(third / "Quorvane", "D:P(A;OICI;FA;;;SY)");
    Win32AuditStore narrower(third.path());
    EXPECT_EQ(narrower.Open(AuditPlace::kMachine, kAuditFolderSecurity), err::kSuccess);
}

// Rotation on the system, with the limit lowered by the variable: each log is renamed one up before
// a line that would take it past the limit, the oldest beyond five is dropped, and the logs read
// oldest first hold the last lines written, whole and in order. A log another writer holds open
// cannot be renamed: the line goes on at its end.
TEST(AuditStoreOnSystem, RotatesByRenameWithoutLosingOrSplittingALine) {
    ScratchFolder dir;
    ASSERT_TRUE(::SetEnvironmentVariableA("QUORVANE_AUDIT_ROTATE_BYTES", "64"));
    Win32AuditStore store(dir.path());
    const Win32Error opened = store.Open(AuditPlace::kMachine, kAuditFolderSecurity);
    ::SetEnvironmentVariableA("QUORVANE_AUDIT_ROTATE_BYTES", nullptr);
    ASSERT_EQ(opened, err::kSuccess);
    std::vector<std::string> written;
    for (int i = 0; i < 40; ++i) {
        std::string line =
            std::to_string(i) + std::string(static_cast<std::size_t>(i % 7) * 9, '.');
        ASSERT_EQ(store.Append(line), err::kSuccess);
        written.push_back(line + "\n");
    }
    const std::string folder = dir / "Quorvane";
    std::string all;
    for (int n = 5; n >= 1; --n) {
        const std::string rotated = ReadAll(folder + "\\audit." + std::to_string(n) + ".jsonl");
        ASSERT_FALSE(rotated.empty()) << n;
        EXPECT_LE(rotated.size(), 64u);
        all += rotated;
    }
    EXPECT_FALSE(Exists(folder + "\\audit.6.jsonl"));
    all += ReadAll(folder + "\\audit.jsonl");
    std::string last;
    for (std::size_t i = written.size(); i-- > 0 && last.size() < all.size();) {
        last = written[i] + last;
    }
    EXPECT_EQ(all, last);

    // Another writer holds the log: no rename, the lines go on in it.
    ASSERT_TRUE(::SetEnvironmentVariableA("QUORVANE_AUDIT_ROTATE_BYTES", "64"));
    Win32AuditStore other(dir.path());
    ASSERT_EQ(other.Open(AuditPlace::kMachine, kAuditFolderSecurity), err::kSuccess);
    ::SetEnvironmentVariableA("QUORVANE_AUDIT_ROTATE_BYTES", nullptr);
    const std::string before = ReadAll(folder + "\\audit.1.jsonl");
    for (int i = 0; i < 8; ++i) ASSERT_EQ(store.Append(std::string(20, 'h')), err::kSuccess);
    EXPECT_EQ(ReadAll(folder + "\\audit.1.jsonl"), before);
    EXPECT_GT(ReadAll(folder + "\\audit.jsonl").size(), 64u);
    other.Close();
    ASSERT_EQ(store.Append("after"), err::kSuccess);
    EXPECT_EQ(ReadAll(folder + "\\audit.jsonl"), "after\n");
}

// The machine's log lies in its common application data folder.
TEST(AuditStoreOnSystem, TheMachinesLogIsInTheCommonApplicationDataFolder) {
    char common[MAX_PATH] = {};
    ASSERT_EQ(::SHGetFolderPathA(nullptr, CSIDL_COMMON_APPDATA, nullptr, 0, common), S_OK);
    EXPECT_EQ(Win32AuditStore().LogPath(), std::string(common) + "\\Quorvane\\audit.jsonl");
}

class SystemTextsOnSystem : public RealMachine {};

// The ANSI code page (932 in these tests) converts to UTF-8, including the double-byte characters
// whose trail byte is a backslash.
TEST_F(SystemTextsOnSystem, AnsiTextsBecomeUtf8) {
    const std::string utf8 = "C:\\\xE8\xA1\xA8\\\xE3\x82\xBD";  // "C:\表\ソ"
    EXPECT_EQ(os().system.AnsiToUtf8(Cp932FromUtf8(utf8)), utf8);
    EXPECT_EQ(os().system.AnsiToUtf8(""), "");
}

}  // namespace
}  // namespace qv::win32::testing
