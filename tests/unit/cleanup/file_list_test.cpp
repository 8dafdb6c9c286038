#include "cleanup/file_list.h"

#include <algorithm>

#include "cleanup_fixture.h"
#include "res/resource.h"

namespace qv::test {
namespace {

using Lines = std::vector<std::string>;

class DeleteBufferTest : public ::testing::Test {
  protected:
    DeleteBufferTest() { EXPECT_EQ(table.Add("TEMP", "C:\\Temp"), hr::kOk); }
    // `result`: hr::kFalse when a file that a line matched is to stay.
    Lines Run(const std::string& text, HResult result = hr::kOk) {
        m.debug.Clear();
        EXPECT_EQ(DeleteBuffer(m.platform(), deleter, text, table), result);
        EXPECT_EQ(m.files.OpenHandleCount(), 0u);
        return m.debug.Lines();
    }
    bool Traced(const std::string& line) {
        const Lines& lines = m.debug.Lines();
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    }

    fake::FakeMachine m;
    PlaceholderTable table;
    // Every drive is the deleter's to work in, as far as these tests go.
    Deleter deleter{m.files, {"C:\\", "D:\\"}};
};

TEST_F(DeleteBufferTest, TracesEveryStep) {
    m.files.AddFile("C:\\Data\\keep.txt");
    m.files.AddFile("C:\\Data\\Sub\\a.txt");
    const std::string text =
        "C:\\Data\\Sub\\*.txt\r\nC:\\Missing\\x.txt\r\n\r\nC:\\Data\r\nC:\\Data\\keep.txt";
    EXPECT_EQ(Run(text),
              (Lines{"Start of DeleteBuffer\n", text, "End of DeleteBuffer\n",
                     "Processing \"C:\\Data\\Sub\\*.txt\"\n", "\tFound \"C:\\Data\\Sub\\a.txt\"\n",
                     "\tRemoving \"C:\\Data\\Sub\\a.txt\"\n",
                     "\tAttempting to remove directory \"C:\\Data\\Sub\"\n",
                     "\tAttempting to remove directory \"C:\\Data\"\n",
                     "\tERROR: Couldn't remove directory (145)\n",
                     "Processing \"C:\\Missing\\x.txt\"\n", "\tERROR: FindFile failed. (3)\n",
                     "Processing \"\"\n", "\tERROR: FindFile failed. (3)\n",
                     "Processing \"C:\\Data\"\n", "\tFound \"C:\\Data\"\n",
                     "\tThis is a directory.\n", "\tAttempting to remove directory \"C:\\Data\"\n",
                     "\tERROR: Couldn't remove directory (145)\n"}));
    EXPECT_FALSE(m.files.Exists("C:\\Data\\Sub"));
    // The text after the last line feed is no line.
    EXPECT_TRUE(m.files.Exists("C:\\Data\\keep.txt"));
}

TEST_F(DeleteBufferTest, WalkUpStopsAtWellKnownFoldersAndDriveRoots) {
    m.files.AddDrive('D');
    EXPECT_EQ(table.Add("APPDATAFOLDER", "C:\\Users\\ann\\AppData\\Roaming"), hr::kOk);
    EXPECT_EQ(table.Add("COMMONAPPDATAFOLDER", "C:\\ProgramData"), hr::kOk);
    EXPECT_EQ(table.Add("PROGRAMFILES", "c:\\PROGRAM FILES\\"), hr::kOk);
    table.AddKeptFolder("C:\\Users\\ann\\AppData\\Local");
    table.AddKeptFolder("C:\\Home\\cy");
    const Lines kept = {"C:\\Temp",          "C:\\Users\\ann\\AppData\\Roaming", "C:\\ProgramData",
                        "C:\\Program Files", "C:\\Users\\ann\\AppData\\Local",   "C:\\Home\\cy"};
    std::string text;
    for (const std::string& folder : kept) {
        m.files.AddFile(folder + "\\Sub\\f.log");
        text += folder + "\\Sub\\f.log\r\n";
    }
    m.files.AddFile("C:\\Temp\\ovln1.tmp");
    m.files.AddFile("D:\\Lone\\f.log");
    text += "c:\\temp\\ovln1.tmp\r\nD:\\Lone\\f.log\r\n";
    Run(text);

    for (const std::string& folder : kept) {
        SCOPED_TRACE(folder);
        EXPECT_FALSE(m.files.Exists(folder + "\\Sub"));
        EXPECT_TRUE(m.files.Exists(folder));
        EXPECT_FALSE(Traced("\tAttempting to remove directory \"" + folder + "\"\n"));
    }
    EXPECT_FALSE(m.files.Exists("C:\\Temp\\ovln1.tmp"));
    EXPECT_FALSE(m.files.Exists("D:\\Lone"));
    EXPECT_FALSE(Traced("\tAttempting to remove directory \"D:\"\n"));
}

TEST_F(DeleteBufferTest, ReadOnlyAndInUseFilesStayAndAreTraced) {
    m.files.AddFile("C:\\Data\\ro.txt", "", fa::kReadOnly);
    m.files.AddFile("C:\\Data\\busy.txt");
    m.files.SetInUse("C:\\Data\\busy.txt");
    Lines lines = Run("C:\\Data\\*.txt\r\n", hr::kFalse);
    EXPECT_TRUE(m.files.Exists("C:\\Data\\ro.txt"));
    EXPECT_TRUE(m.files.Exists("C:\\Data\\busy.txt"));
    EXPECT_TRUE(Traced("\tRemoving \"C:\\Data\\ro.txt\"\n"));
    EXPECT_TRUE(Traced("\tRemoving \"C:\\Data\\busy.txt\"\n"));
    EXPECT_EQ(lines.back(), "\tERROR: Couldn't remove directory (145)\n");
}

TEST_F(DeleteBufferTest, OverlongTraceLineIsCutBetweenCharacters) {
    // "Processing \"" and "\"\n" take 14 of the 1023 bytes; "ab" and 503 double-byte characters
    // fill 1008 of the 1009 left, and the next character does not fit whole.
    std::string dbcs;
    for (int i = 0; i < 600; ++i) dbcs += "\x95\x5C";
    Lines lines = Run("ab" + dbcs + "\r\n");
    EXPECT_EQ(lines[3], "Processing \"ab" + dbcs.substr(0, 2 * 503) + "\"\n");
}

TEST_F(DeleteBufferTest, ListWithABadReferenceDeletesAndTracesNothing) {
    m.files.AddFile("C:\\Temp\\ovln1.tmp");
    m.resources.SetBytes(IDR_FILELIST_CLEANUP, kFileListType,
                         "%TEMP%\\ovln*.tmp\r\n%ABCDEFGHIJKLMNOPQRSTUVWXYZ012345%\r\n");
    EXPECT_EQ(LoadFileList(m.platform(), deleter, IDR_FILELIST_CLEANUP, kFileListType, table),
              hr::kFail);
    m.resources.SetBytes(IDR_FILELIST_CLEANUP, kFileListType,
                         "%TEMP%\\ovln*.tmp\r\n%APIVERSION%\r\n");
    EXPECT_EQ(LoadFileList(m.platform(), deleter, IDR_FILELIST_CLEANUP, kFileListType, table),
              hr::kBadPlaceholder);
    EXPECT_TRUE(m.files.Exists("C:\\Temp\\ovln1.tmp"));
    EXPECT_TRUE(m.debug.Lines().empty());

    // A NUL ends the list.
    m.files.AddFile("C:\\Temp\\ovln2.tmp");
    static const char kCutList[] = "%TEMP%\\ovln1.tmp\r\n\0%TEMP%\\ovln2.tmp\r\n";
    m.resources.SetBytes(IDR_FILELIST_CLEANUP, kFileListType,
                         std::string(kCutList, sizeof kCutList - 1));
    EXPECT_EQ(LoadFileList(m.platform(), deleter, IDR_FILELIST_CLEANUP, kFileListType, table),
              hr::kOk);
    EXPECT_FALSE(m.files.Exists("C:\\Temp\\ovln1.tmp"));
    EXPECT_TRUE(m.files.Exists("C:\\Temp\\ovln2.tmp"));
}

TEST_F(DeleteBufferTest, MissingListGivesTheSystemErrorAsHResult) {
    m.resources.RemoveResource(IDR_FILELIST_CLEANUP, kFileListType);
    // ERROR_RESOURCE_NAME_NOT_FOUND (1814) and ERROR_RESOURCE_TYPE_NOT_FOUND (1813).
    EXPECT_EQ(LoadFileList(m.platform(), deleter, IDR_FILELIST_CLEANUP, kFileListType, table),
              static_cast<HResult>(0x80070716u));
    EXPECT_EQ(LoadFileList(m.platform(), deleter, IDR_FILELIST_CLEANUP, "NOSUCHTYPE", table),
              static_cast<HResult>(0x80070715u));
}

class FileListDataTest : public CleanupTest {
  protected:
    std::string Bytes(std::uint32_t id) {
        std::string bytes;
        EXPECT_EQ(m.resources.LoadResourceBytes(id, kFileListType, &bytes), err::kSuccess);
        return bytes;
    }
    static Lines SplitCrLf(const std::string& bytes) {
        Lines lines;
        std::size_t start = 0;
        for (std::size_t end; (end = bytes.find("\r\n", start)) != std::string::npos;
             start = end + 2) {
            lines.push_back(bytes.substr(start, end - start));
        }
        EXPECT_EQ(start, bytes.size()) << "text after the last line end";
        return lines;
    }
    static void ExpectPlainAscii(const std::string& bytes) {
        for (char c : bytes) {
            bool plain = (c >= 0x20 && c < 0x7F) || c == '\r' || c == '\n';
            ASSERT_TRUE(plain) << "byte " << static_cast<int>(static_cast<unsigned char>(c));
        }
        EXPECT_EQ(std::count(bytes.begin(), bytes.end(), '\n'),
                  std::count(bytes.begin(), bytes.end(), '\r'));
    }
};

TEST_F(FileListDataTest, CleanUpListHasItsThirtyLinesAndExpandsForARealUser) {
    const std::string bytes = Bytes(IDR_FILELIST_CLEANUP);
    ExpectPlainAscii(bytes);
    Lines lines = SplitCrLf(bytes);
    ASSERT_EQ(lines.size(), 30u);
    for (int i = 0; i < 10; ++i) EXPECT_EQ(lines[i].rfind("%TEMP%\\", 0), 0u) << lines[i];
    for (int i = 10; i < 26; ++i) {
        EXPECT_EQ(lines[i].rfind("%COMMONAPPDATAFOLDER%\\%COMPANY%\\%FULLPRODUCTNAME%\\", 0), 0u);
    }
    EXPECT_EQ(lines[28], "%LOCALROOTPARENT%");
    EXPECT_EQ(lines[29], "%ROAMABLEROOTPARENT%");

    Register(kAnn);
    PlaceholderTable table;
    ASSERT_EQ(
        BuildPlaceholderTable(m.platform(), RegistrationPath(kAnn), kAnn, tables, &table).result,
        err::kSuccess);
    std::string expanded;
    EXPECT_EQ(ExpandPlaceholders(bytes, table, &expanded), hr::kOk);
    // The full list names a placeholder that no table defines.
    const std::string full = Bytes(IDR_FILELIST_ALL);
    ExpectPlainAscii(full);
    EXPECT_EQ(SplitCrLf(full).size(), 355u);
    EXPECT_EQ(full.substr(full.size() - 4), "\r\n\r\n");
    EXPECT_EQ(ExpandPlaceholders(full, table, &expanded), hr::kBadPlaceholder);
}

}  // namespace
}  // namespace qv::test
