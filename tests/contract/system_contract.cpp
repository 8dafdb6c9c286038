// Environment, settings file, system messages and libraries as the system port answers them.
#include <string>
#include <tuple>
#include <utility>

#include "tests/contract/contract_machine.h"

namespace qv::contract {
namespace {

std::string Expand(ISystem& system, std::string_view source) {
    std::string out = "untouched";
    std::uint32_t needed = system.ExpandEnvironmentStrings(source, 1024, &out);
    EXPECT_EQ(needed, out.size() + 1) << source;
    return out;
}

TEST_P(SystemContract, EnvironmentExpandsWhatIsSetAndLeavesTheRest) {
    ISystem& system = os().system;
    machine().SetEnv("QV_CONTRACT_HOME", "C:\\Users\\ann");
    machine().SetEnv("QV_CONTRACT_INDIRECT", "%QV_CONTRACT_HOME%");
    machine().SetEnv("QV_CONTRACT_EMPTY", "");
    machine().SetEnv("QV_CONTRACT_NONE", nullptr);

    // "C:\Users\ann\ntuser.dat" and its NUL: 24 characters, written only when they fit.
    std::string expanded = "untouched";
    EXPECT_EQ(system.ExpandEnvironmentStrings("%QV_CONTRACT_HOME%\\ntuser.dat", 23, &expanded),
              24u);
    EXPECT_EQ(expanded, "untouched");
    EXPECT_EQ(system.ExpandEnvironmentStrings("%qv_contract_home%\\ntuser.dat", 24, &expanded),
              24u);
    EXPECT_EQ(expanded, "C:\\Users\\ann\\ntuser.dat");

    // A value is not expanded again; what names nothing stays as written.
    EXPECT_EQ(Expand(system, "%QV_CONTRACT_INDIRECT%"), "%QV_CONTRACT_HOME%");
    EXPECT_EQ(Expand(system, "%QV_CONTRACT_NONE%\\a"), "%QV_CONTRACT_NONE%\\a");
    EXPECT_EQ(Expand(system, "100%"), "100%");
    EXPECT_EQ(Expand(system, "%%"), "%%");
    EXPECT_EQ(Expand(system, "a%QV_CONTRACT_HOME"), "a%QV_CONTRACT_HOME");
    // Where the expansion goes on after a name that is not set: Wine copies the whole reference
    // and goes on after it. Windows' answer is unverified; the fake lets the closing "%" open the
    // next reference.
    EXPECT_EQ(Expand(system, "%QV_CONTRACT_NONE%QV_CONTRACT_HOME%"),
              machine().IsWine() ? "%QV_CONTRACT_NONE%QV_CONTRACT_HOME%"
                                 : "%QV_CONTRACT_NONEC:\\Users\\ann");

    std::string value = "untouched";
    EXPECT_EQ(system.GetEnvironmentVariable("qv_contract_home", &value), err::kSuccess);
    EXPECT_EQ(value, "C:\\Users\\ann");
    EXPECT_EQ(system.GetEnvironmentVariable("QV_CONTRACT_EMPTY", &value), err::kSuccess);
    EXPECT_EQ(value, "");
    EXPECT_EQ(system.GetEnvironmentVariable("QV_CONTRACT_NONE", &value), err::kEnvVarNotFound);
}

TEST_P(SystemContract, SettingsFileIsReadAsTheSystemReadsIt) {
    const std::string file = InFolder("Quorvane.ini");
    machine().MakeFile(file,
                       "; settings\r\n"
                       "[Other]\r\n"
                       "Company=Wrong\r\n"
                       "  [quorvane]  \r\n"
                       "  company  =  Acme Corp  \r\n"
                       "Product=\"  Quoted  \"\r\n"
                       "Version='R1'\r\n"
                       "Half=\"open\r\n"
                       "Empty=\r\n"
                       "Company=Second\r\n"
                       "[ Spaced\t]\r\n"
                       "Company=Blanks\r\n"
                       "[Br]acket]\r\n"
                       "Company=First\r\n"
                       "[Unclosed\r\n"
                       "Company=Open\r\n"
                       "[\x83\x5D]\r\n"  // U+30BE in code page 932: its second byte is "]"
                       "Company=Zo\r\n"
                       "[Long]\r\n"
                       "Company=" +
                           std::string(5000, 'a') + "\r\n");
    auto ini = [&](std::string_view section, std::string_view key) {
        return os().system.GetPrivateProfileString(section, key, "dflt  ", file);
    };
    EXPECT_EQ(ini("Quorvane", "Company"), "Acme Corp");
    EXPECT_EQ(ini("Quorvane", "PRODUCT"), "  Quoted  ");
    EXPECT_EQ(ini("Quorvane", "Version"), "R1");
    EXPECT_EQ(ini("Quorvane", "Half"), "\"open");
    EXPECT_EQ(ini("Quorvane", "Empty"), "");
    EXPECT_EQ(ini("Quorvane", "Missing"), "dflt");
    EXPECT_EQ(ini("Nowhere", "Company"), "dflt");
    EXPECT_EQ(ini("Other", "Company"), "Wrong");
    EXPECT_EQ(ini("\x83\x5D", "Company"), "Zo");
    // A section's name loses the blanks around it, and the names asked for their spaces.
    EXPECT_EQ(ini("Spaced", "Company"), "Blanks");
    EXPECT_EQ(ini("  Spaced ", " Company  "), "Blanks");
    // On Windows the name ends at the first "]", or at the line's end without one. Wine ends it at
    // the last "]" and takes no section from a line without one.
    EXPECT_EQ(ini("Br", "Company"), machine().IsWine() ? "dflt" : "First");
    EXPECT_EQ(ini("Br]acket", "Company"), machine().IsWine() ? "First" : "dflt");
    EXPECT_EQ(ini("Unclosed", "Company"), machine().IsWine() ? "dflt" : "Open");
    // A value is cut to the 4,096-character buffer, its NUL included.
    EXPECT_EQ(ini("Long", "Company"), std::string(4095, 'a'));
    EXPECT_EQ(os().system.GetPrivateProfileString("Quorvane", "Company", "dflt  ",
                                                  InFolder("missing.ini")),
              "dflt");
}

TEST_P(SystemContract, SystemMessagesEndInALineBreak) {
    for (Win32Error code :
         {2u, 3u, 5u, 6u, 13u, 18u, 32u, 87u, 122u, 145u, 234u, 259u, 1010u, 1018u, 1314u, 1332u}) {
        std::string text = os().system.FormatSystemMessage(code);
        ASSERT_GT(text.size(), 2u) << code;
        EXPECT_EQ(text.substr(text.size() - 2), "\r\n") << code;
    }
    EXPECT_EQ(os().system.FormatSystemMessage(0x2000FFFFu), "");
}

// The tests run with the ANSI code page 932.
TEST_P(SystemContract, AnsiTextsConvertToUtf8AsCodePage932Defines) {
    const std::pair<std::string, std::string> cases[] = {
        // "C:\データ"
        {"C:\\\x83\x66\x81\x5B\x83\x5E", "C:\\\xE3\x83\x87\xE3\x83\xBC\xE3\x82\xBF"},
        // Half-width katakana.
        {"\xB1\xB2", "\xEF\xBD\xB1\xEF\xBD\xB2"},
        // A lead byte at the end is the default character.
        {"A\x81", "A\xE3\x83\xBB"},
        // A lead byte takes the byte after it along, also when the two make no character.
        {std::string("\x81\x20") + "B", std::string("\xE3\x83\xBB") + "B"},
        // The single bytes without a character keep code points of their own.
        {"\x80\xA0\xFD", "\xC2\x80\xEF\xA3\xB0\xEF\xA3\xB1"},
        {"", ""},
    };
    for (const auto& [ansi, utf8] : cases) EXPECT_EQ(os().system.AnsiToUtf8(ansi), utf8);
    // And back, for the names the backups' manifests keep in UTF-8.
    EXPECT_EQ(os().system.Utf8ToAnsi(cases[0].second), cases[0].first);
    EXPECT_EQ(os().system.Utf8ToAnsi(cases[1].second), cases[1].first);
    EXPECT_EQ(os().system.Utf8ToAnsi("\xE7\x94\xB0\xE4\xB8\xAD sato"),
              "\x93\x63\x92\x86 sato");  // "田中 sato"
    EXPECT_EQ(os().system.Utf8ToAnsi(""), "");
}

// Names compare as the file systems compare them: every letter of the code page folded, a
// double-byte character as one character whose trail byte is no ASCII letter.
TEST_P(SystemContract, NamesEqualIgnoringTheCaseOfEveryLetter) {
    const std::tuple<std::string, std::string, bool> cases[] = {
        {"C:\\Documents and Settings\\Ann", "c:\\DOCUMENTS AND SETTINGS\\ann", true},
        {"\x82\x81\x82\x9A", "\x82\x60\x82\x79", true},                  // full-width "az" and "AZ"
        {"\x83\xBF\x83\xD6", "\x83\x9F\x83\xB6", true},                  // Greek alpha and omega
        {"\x84\x70\x84\x80\x84\x91", "\x84\x40\x84\x4F\x84\x60", true},  // Cyrillic
        {"a", "\x82\x81", false},         // ASCII "a" is not the full-width one
        {"\x83\x61", "\x83\x41", false},  // two katakana whose trail bytes are "a" and "A"
        {"\x83\x9F", "\x83\xBF\x83\xBF", false},
        {"ann", "anne", false},
        {"", "", true},
    };
    for (const auto& [a, b, equal] : cases) {
        EXPECT_EQ(os().system.EqualsIgnoringCase(a, b), equal) << a << " | " << b;
        EXPECT_EQ(os().system.EqualsIgnoringCase(b, a), equal) << b << " | " << a;
    }
}

// Each load of a library is a reference to the one module (LoadLibrary counts them, FreeLibrary
// takes one away); an entry is found by its exact name, the same address every time.
TEST_P(SystemContract, ALibraryStaysUntilItsLastReferenceIsFreed) {
    ISystem& system = os().system;
    ModuleHandle oleacc = system.LoadLibrary("oleacc.dll");
    ASSERT_NE(oleacc, 0u);
    EXPECT_EQ(system.LoadLibrary("OLEACC"), oleacc);  // ".dll" completed, any case
    void* create = system.GetProcAddress(oleacc, "CreateStdAccessibleObject");
    void* lresult = system.GetProcAddress(oleacc, "LresultFromObject");
    EXPECT_NE(create, nullptr);
    EXPECT_NE(lresult, nullptr);
    EXPECT_NE(create, lresult);
    EXPECT_EQ(system.GetProcAddress(oleacc, "createstdaccessibleobject"), nullptr);
    EXPECT_EQ(system.GetProcAddress(oleacc, "NoSuchEntry"), nullptr);
    EXPECT_EQ(system.FreeLibrary(oleacc), err::kSuccess);
    EXPECT_EQ(system.GetProcAddress(oleacc, "CreateStdAccessibleObject"), create);
    EXPECT_EQ(system.FreeLibrary(oleacc), err::kSuccess);
    EXPECT_EQ(system.FreeLibrary(oleacc), err::kModNotFound);
}

// GetCurrentDirectoryA writes the directory only into a buffer that holds it and its NUL.
TEST_P(SystemContract, CurrentDirectoryIsWrittenOnlyWhenItFitsWithItsNul) {
    ISystem& system = os().system;
    std::string dir;
    const std::uint32_t length = system.GetCurrentDirectory(260, &dir);
    ASSERT_NE(length, 0u);
    EXPECT_EQ(dir.size(), length);
    std::string kept = "untouched";
    EXPECT_EQ(system.GetCurrentDirectory(length, &kept), 0u);
    EXPECT_EQ(kept, "untouched");
    EXPECT_EQ(system.GetCurrentDirectory(length + 1, &kept), length);
    EXPECT_EQ(kept, dir);
}

// Random bytes (the run ids of the audit log and the backups): the buffer is filled, and two
// draws differ.
TEST_P(SystemContract, RandomBytesFillTheBufferAndDiffer) {
    ISystem& system = os().system;
    std::string first(64, '\0');
    std::string second(64, '\0');
    ASSERT_EQ(system.GenerateRandom(reinterpret_cast<unsigned char*>(first.data()), first.size()),
              err::kSuccess);
    ASSERT_EQ(system.GenerateRandom(reinterpret_cast<unsigned char*>(second.data()), second.size()),
              err::kSuccess);
    EXPECT_NE(first, std::string(64, '\0'));
    EXPECT_NE(first, second);
}

// Libraries come from the system folder by bare name only: a name that points anywhere, even at
// the system folder itself, loads nothing.
TEST_P(SystemContract, OnlyBareLibraryNamesLoad) {
    ISystem& system = os().system;
    for (const char* name : {"C:\\Windows\\System32\\oleacc.dll", ".\\oleacc.dll",
                             "system32/oleacc.dll", "C:oleacc.dll"}) {
        ModuleHandle module = system.LoadLibrary(name);
        EXPECT_EQ(module, 0u) << name;
        if (module != 0) (void)system.FreeLibrary(module);  // freed for the next test
    }
}

// The machine's run lock has one holder at a time, a second of the same process included, and is
// free again once released; releasing what is not held fails.
TEST_P(SystemContract, MachineLockHasOneHolderAtATime) {
    ISystem& system = os().system;
    Win32Error error = err::kInvalidParameter;
    UniqueMachineLock first(system);
    ASSERT_EQ(system.AcquireMachineLock(0, first.put(), &error), MachineLockOutcome::kAcquired);
    EXPECT_EQ(error, err::kSuccess);
    EXPECT_TRUE(first);

    UniqueMachineLock second(system);
    EXPECT_EQ(system.AcquireMachineLock(20, second.put(), &error), MachineLockOutcome::kBusy);
    EXPECT_FALSE(second);
    EXPECT_EQ(error, err::kSuccess);

    EXPECT_EQ(first.close(), err::kSuccess);
    ASSERT_EQ(system.AcquireMachineLock(0, second.put(), &error), MachineLockOutcome::kAcquired);
    EXPECT_TRUE(second);
    EXPECT_EQ(second.close(), err::kSuccess);
    EXPECT_EQ(system.ReleaseMachineLock(0), err::kInvalidHandle);
}

}  // namespace
}  // namespace qv::contract
