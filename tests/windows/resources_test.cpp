// The compiled resources as the system serves them: string table in the ANSI code page, the file
// list byte for byte, dialog template IDD_QUORVANE_DIALOG exactly as designed, and the code page's
// lead bytes.
#include <cstring>
#include <map>

#include "base/text.h"
#include "resource.h"
#include "windows_test_support.h"

namespace qv::win32::testing {
namespace {

using ResourcesOfTheModule = RealMachine;

TEST_F(ResourcesOfTheModule, StringsArriveInCodePage932) {
    ASSERT_EQ(::GetACP(), 932u) << "run with LC_ALL=ja_JP.UTF-8";
    // Every text of the string table as the operator reads it (written here in UTF-8); two end
    // with a space, two begin with one.
    const std::map<std::uint32_t, std::string> expected = {
        {IDS_REGISTRY_UNREADABLE, "レジストリを読み込めません。"},
        {IDS_NO_INVALID_ENTRIES, "無効なユーザ レジストリ エントリはありません。"},
        {IDS_CONFIRM_DELETE, "選択したユーザ データを本当に削除しますか?"},
        {IDS_CAPTION, "ユーザ データをクリーンアップ"},
        {IDS_DELETE_FAILED, "ユーザ データを削除できません。"},
        {IDS_DELETED, "選択したユーザ データは削除されました。 "},
        {IDS_NOTHING_SELECTED, "ユーザ レジストリ エントリが選択されていません。"},
        {IDS_HEADING, "%s 用のユーザ データをクリーンアップします:"},
        {IDS_WIN9X_REFUSED, "このアプリケーションは、Windows 95/98/Me では動作しません。 "},
        {IDS_CLEANUP_NOT_NEEDED, " クリーンアップは必要ではありません。"},
        {IDS_USERS_UNREADABLE, " %s 人のユーザ レジストリを読み込めませんでした。"},
        {IDS_AUDIT_LOG_FAILED, "監査ログ %s に書き込めませんでした。"},
        {IDS_USERS_UNNAMED, " アカウント名のない %s 人のユーザは表示されていません。"},
    };
    for (const auto& [id, utf8] : expected) {
        EXPECT_EQ(os().resources.LoadString(id), Cp932FromUtf8(utf8)) << id;
    }
    // The caption and the text that begins with a space, spelled out in code page 932.
    EXPECT_EQ(os().resources.LoadString(IDS_CAPTION).substr(0, 4), "\x83\x86\x81\x5B");
    EXPECT_EQ(os().resources.LoadString(IDS_CLEANUP_NOT_NEEDED).substr(0, 3), " \x83\x4E");
    EXPECT_EQ(os().resources.LoadString(999), "");

    // The same texts when Japanese is asked for by name (the string block read directly), and
    // the English table when English is.
    os().resources.UseLanguage(MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT));
    for (const auto& [id, utf8] : expected) {
        EXPECT_EQ(os().resources.LoadString(id), Cp932FromUtf8(utf8)) << id;
    }
    EXPECT_EQ(os().resources.LoadString(999), "");
    os().resources.UseLanguage(MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
    EXPECT_EQ(os().resources.LoadString(IDS_CAPTION), "Clean Up User Data");
    EXPECT_EQ(os().resources.LoadString(IDS_REGISTRY_UNREADABLE), "The registry cannot be read.");
    EXPECT_EQ(os().resources.LoadString(IDS_CLEANUP_NOT_NEEDED), " No clean-up is needed.");
    EXPECT_EQ(os().resources.LoadString(999), "");
    os().resources.UseLanguage(0);
}

TEST_F(ResourcesOfTheModule, FileListIsTheSourceFileByteForByte) {
    const std::string expected =
#include "filelist132_expected.inc"
        ;
    std::string bytes;
    ASSERT_EQ(os().resources.LoadResourceBytes(IDR_FILELIST_CLEANUP, "FILELIST", &bytes),
              err::kSuccess);
    EXPECT_EQ(bytes, expected);
    ASSERT_EQ(os().resources.LoadResourceBytes(IDR_FILELIST_ALL, "FILELIST", &bytes),
              err::kSuccess);
    EXPECT_FALSE(bytes.empty());

    std::string untouched = "unchanged";
    EXPECT_EQ(os().resources.LoadResourceBytes(133, "FILELIST", &untouched),
              static_cast<Win32Error>(ERROR_RESOURCE_NAME_NOT_FOUND));
    EXPECT_EQ(os().resources.LoadResourceBytes(IDR_FILELIST_CLEANUP, "NOLIST", &untouched),
              static_cast<Win32Error>(ERROR_RESOURCE_TYPE_NOT_FOUND));
    EXPECT_EQ(untouched, "unchanged");
}

// Reads dialog template IDD_QUORVANE_DIALOG (DLGTEMPLATEEX) of one language field by field.
class TemplateReader {
  public:
    explicit TemplateReader(LANGID language) {
        HRSRC found = ::FindResourceExW(nullptr, MAKEINTRESOURCEW(5),  // RT_DIALOG
                                        MAKEINTRESOURCEW(IDD_QUORVANE_DIALOG), language);
        p_ = found ? static_cast<const BYTE*>(::LockResource(::LoadResource(nullptr, found)))
                   : nullptr;
    }
    bool found() const { return p_ != nullptr; }
    template <typename T>
    T Read() {
        T value;
        std::memcpy(&value, p_, sizeof value);
        p_ += sizeof value;
        return value;
    }
    // A name field: a string, or 0xFFFF and an ordinal (returned as "#<n>").
    std::wstring Name() {
        if (Read<WORD>() == 0xFFFF) return L"#" + std::to_wstring(Read<WORD>());
        p_ -= sizeof(WORD);
        std::wstring text(reinterpret_cast<const wchar_t*>(p_));
        p_ += (text.size() + 1) * sizeof(wchar_t);
        return text;
    }
    void AlignTo4() {
        while (reinterpret_cast<std::uintptr_t>(p_) % 4 != 0) ++p_;
    }

  private:
    const BYTE* p_;
};

struct ControlRow {
    DWORD style, exStyle;
    short x, y, cx, cy;
    DWORD id;
    const wchar_t* classOrdinal;  // as the system's resource compiler writes the class
    const wchar_t* className;     // as windres writes it
    const wchar_t* text;
};

struct DialogTexts {
    LANGID language;
    const wchar_t* caption;
    const wchar_t* ok;
    const wchar_t* cancel;
};

// The same window and controls in both languages; only the texts differ.
class DialogTemplate : public ::testing::TestWithParam<DialogTexts> {};

TEST_P(DialogTemplate, HoldsExactlyTheDesignedWindowAndControls) {
    const DialogTexts& texts = GetParam();
    TemplateReader t(texts.language);
    ASSERT_TRUE(t.found());
    EXPECT_EQ(t.Read<WORD>(), 1);       // version
    EXPECT_EQ(t.Read<WORD>(), 0xFFFF);  // extended template
    t.Read<DWORD>();                    // help id
    EXPECT_EQ(t.Read<DWORD>(), 0x00040000u);
    EXPECT_EQ(t.Read<DWORD>(), 0x90C800C8u);
    ASSERT_EQ(t.Read<WORD>(), 4);
    EXPECT_EQ(t.Read<short>(), 0);
    EXPECT_EQ(t.Read<short>(), 0);
    EXPECT_EQ(t.Read<short>(), 341);
    EXPECT_EQ(t.Read<short>(), 196);
    EXPECT_EQ(t.Name(), L"");  // no menu
    EXPECT_EQ(t.Name(), L"");  // the dialog class
    EXPECT_EQ(t.Name(), texts.caption);
    EXPECT_EQ(t.Read<WORD>(), 8);  // points
    t.Read<WORD>();                // weight
    t.Read<WORD>();                // italic, character set
    EXPECT_EQ(t.Name(), L"MS Shell Dlg");

    const ControlRow rows[] = {
        {0x50010001, 0, 197, 155, 66, 16, IDOK, L"#128", L"Button", texts.ok},
        {0x50010000, 0, 265, 155, 66, 16, IDCANCEL, L"#128", L"Button", texts.cancel},
        {0x50800117, 0x00004220, 15, 5, 315, 145, IDC_TREE, L"", L"SysTreeView32", L""},
        {0x50020000, 0, 16, 173, 315, 18, IDC_STATUS, L"#130", L"Static", L""},
    };
    for (const ControlRow& row : rows) {
        t.AlignTo4();
        t.Read<DWORD>();  // help id
        EXPECT_EQ(t.Read<DWORD>(), row.exStyle) << row.id;
        EXPECT_EQ(t.Read<DWORD>(), row.style) << row.id;
        EXPECT_EQ(t.Read<short>(), row.x);
        EXPECT_EQ(t.Read<short>(), row.y);
        EXPECT_EQ(t.Read<short>(), row.cx);
        EXPECT_EQ(t.Read<short>(), row.cy);
        EXPECT_EQ(t.Read<DWORD>(), row.id);
        std::wstring className = t.Name();
        EXPECT_TRUE(className == row.classOrdinal ||
                    _wcsicmp(className.c_str(), row.className) == 0)
            << row.id;
        EXPECT_EQ(t.Name(), row.text) << row.id;
        t.Read<WORD>();  // no creation data
    }
}

INSTANTIATE_TEST_SUITE_P(BothLanguages, DialogTemplate,
                         ::testing::Values(DialogTexts{MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT),
                                                       L"ユーザ データをクリーンアップ",
                                                       L"クリーンアップ", L"キャンセル"},
                                           DialogTexts{MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US),
                                                       L"Clean Up User Data", L"Clean Up",
                                                       L"Cancel"}));

TEST(LeadBytes, FollowEachCodePage) {
    text::LeadByteTable table{};
    ASSERT_TRUE(LeadBytesOfCodePage(932, &table));
    EXPECT_EQ(table, text::Cp932LeadBytes());
    // Simplified Chinese: every byte from 0x81 to 0xFE leads.
    ASSERT_TRUE(LeadBytesOfCodePage(936, &table));
    for (int c = 0; c < 256; ++c) EXPECT_EQ(table[c], c >= 0x81 && c <= 0xFE) << c;
    ASSERT_TRUE(LeadBytesOfCodePage(1252, &table));
    EXPECT_EQ(table, text::LeadByteTable{});

    InstallAnsiLeadBytes();
    EXPECT_TRUE(text::IsLeadByte(0x95));   // 表 is 0x95 0x5C in code page 932
    EXPECT_FALSE(text::IsLeadByte(0xA0));  // a single-byte katakana range neighbour
}

}  // namespace
}  // namespace qv::win32::testing
