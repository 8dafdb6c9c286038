// The registry as the core uses it, on a scratch key below HKEY_CURRENT_USER.
#include <algorithm>
#include <string>
#include <tuple>
#include <vector>

#include "discovery/registration.h"
#include "security/token.h"
#include "tests/contract/contract_machine.h"

namespace qv::contract {
namespace {

std::string Sz(std::string_view text) { return std::string(text) + '\0'; }

UniqueKey Create(IRegistry& registry, HKey parent, const std::string& path,
                 std::uint32_t* disposition = nullptr) {
    UniqueKey key(registry);
    EXPECT_EQ(registry.CreateKey(parent, path, reg::kOptionNonVolatile, reg::kKeyReadWrite,
                                 key.put(), disposition),
              err::kSuccess)
        << path;
    return key;
}

// The names EnumKey gives from index 0 on, and the result that ended it.
std::vector<std::string> SubKeys(IRegistry& registry, HKey key, Win32Error* end) {
    std::vector<std::string> names;
    std::string name;
    for (std::uint32_t i = 0; (*end = registry.EnumKey(key, i, 256, &name)) == err::kSuccess; ++i) {
        names.push_back(name);
    }
    return names;
}

FileTime Stamp(IRegistry& registry, HKey key) {
    FileTime time = 0;
    EXPECT_EQ(registry.QueryLastWriteTime(key, &time), err::kSuccess);
    return time;
}

TEST_P(RegistryContract, PathsAreCaseInsensitiveAndCreationMakesWhatIsMissing) {
    IRegistry& registry = os().registry;
    const std::string base = machine().KeyPath();
    std::uint32_t disposition = 0;
    Create(registry, kHkeyCurrentUser, base + "\\Brennard\\Ovaline\\R16.0", &disposition);
    EXPECT_EQ(disposition, reg::kCreatedNewKey);
    Create(registry, kHkeyCurrentUser, base + "\\BRENNARD\\ovaline", &disposition);
    EXPECT_EQ(disposition, reg::kOpenedExistingKey);
    // Any case and trailing backslashes name the same key.
    EXPECT_TRUE(OpenKey(registry, kHkeyCurrentUser, base + "\\brennard\\OVALINE\\r16.0\\\\",
                        reg::kKeyRead));

    // A missing key and a path with a leading backslash: no handle.
    HKey none = 0xBAD;
    EXPECT_EQ(
        registry.OpenKey(kHkeyCurrentUser, base + "\\Brennard\\Missing", reg::kKeyRead, &none),
        err::kFileNotFound);
    EXPECT_EQ(none, 0u);
    none = 0xBAD;
    EXPECT_EQ(registry.OpenKey(kHkeyCurrentUser, "\\" + base, reg::kKeyRead, &none),
              err::kBadPathname);
    EXPECT_EQ(none, 0u);
}

TEST_P(RegistryContract, SubKeysComeSortedIgnoringCaseIntoBuffersThatHoldTheirNul) {
    IRegistry& registry = os().registry;
    UniqueKey order = Create(registry, kHkeyCurrentUser, machine().KeyPath() + "\\Order");
    for (const char* name : {"beta", "a_b", "Gamma", "AB", "alpha"}) {
        Create(registry, order.get(), name);
    }
    Win32Error end = 0;
    const std::vector<std::string> names = SubKeys(registry, order.get(), &end);
    EXPECT_EQ(end, err::kNoMoreItems);
    if (machine().IsWine()) {
        // Wine compares the names in lower case, so "_" (0x5F) sorts before every letter.
        EXPECT_EQ(names, (std::vector<std::string>{"a_b", "AB", "alpha", "beta", "Gamma"}));
    } else {
        // Windows compares them in upper case, so "_" sorts after every letter: "A_B" > "ALPHA".
        EXPECT_EQ(names, (std::vector<std::string>{"AB", "alpha", "a_b", "beta", "Gamma"}));
    }

    const auto alpha =
        static_cast<std::uint32_t>(std::find(names.begin(), names.end(), "alpha") - names.begin());
    std::string name = "untouched";
    EXPECT_EQ(registry.EnumKey(order.get(), alpha, 5, &name), err::kMoreData);
    EXPECT_EQ(name, "untouched");
    EXPECT_EQ(registry.EnumKey(order.get(), alpha, 6, &name), err::kSuccess);
    EXPECT_EQ(name, "alpha");
}

TEST_P(RegistryContract, ValuesComeAsStoredOrWithTheSizeTheyNeed) {
    IRegistry& registry = os().registry;
    UniqueKey key = Create(registry, kHkeyCurrentUser, machine().KeyPath());
    const std::string stored = Sz("C:\\Data");
    ASSERT_EQ(registry.SetValue(key.get(), "LocalRootFolder", reg::kSz, stored), err::kSuccess);
    ASSERT_EQ(registry.SetValue(key.get(), "Path", reg::kExpandSz, Sz("%TEMP%\\x")), err::kSuccess);

    std::uint32_t type = 0;
    std::uint32_t needed = 0;
    std::string data = "untouched";
    const auto size = static_cast<std::uint32_t>(stored.size());
    EXPECT_EQ(registry.QueryValue(key.get(), "LocalRootFolder", size - 1, &type, &data, &needed),
              err::kMoreData);
    EXPECT_EQ(needed, size);
    EXPECT_EQ(data, "untouched");
    EXPECT_EQ(registry.QueryValue(key.get(), "LOCALROOTFOLDER", size, &type, &data, &needed),
              err::kSuccess);
    EXPECT_EQ(data, stored);
    EXPECT_EQ(type, reg::kSz);
    // An expandable string comes back as stored, references and all.
    EXPECT_EQ(registry.QueryValue(key.get(), "Path", 260, &type, &data, nullptr), err::kSuccess);
    EXPECT_EQ(type, reg::kExpandSz);
    EXPECT_EQ(data, Sz("%TEMP%\\x"));
    EXPECT_EQ(registry.QueryValue(key.get(), "Missing", 260, &type, &data, nullptr),
              err::kFileNotFound);
}

TEST_P(RegistryContract, DeletionTakesOneKeyWithItsValuesAndStrandsItsHandles) {
    IRegistry& registry = os().registry;
    const std::string parent = machine().KeyPath() + "\\Parent";
    Create(registry, kHkeyCurrentUser, parent + "\\Child");
    EXPECT_EQ(registry.DeleteKey(kHkeyCurrentUser, parent), err::kAccessDenied);
    EXPECT_TRUE(OpenKey(registry, kHkeyCurrentUser, parent + "\\Child", reg::kKeyRead));
    EXPECT_EQ(registry.DeleteKey(kHkeyCurrentUser, parent + "\\Missing"), err::kFileNotFound);

    // A key with values only goes with them; another handle on it is left on a deleted key.
    UniqueKey child = Create(registry, kHkeyCurrentUser, parent + "\\Child");
    ASSERT_EQ(registry.SetValue(child.get(), "V", reg::kSz, Sz("x")), err::kSuccess);
    ASSERT_EQ(registry.DeleteKey(kHkeyCurrentUser, parent + "\\Child"), err::kSuccess);
    std::string text;
    EXPECT_EQ(registry.EnumKey(child.get(), 0, 256, &text), err::kKeyDeleted);
    EXPECT_EQ(registry.QueryValue(child.get(), "V", 260, nullptr, &text, nullptr),
              err::kKeyDeleted);
    EXPECT_EQ(registry.SetValue(child.get(), "W", reg::kSz, Sz("y")), err::kKeyDeleted);
    HKey sub = 0xBAD;
    EXPECT_EQ(registry.CreateKey(child.get(), "Sub", reg::kOptionNonVolatile, reg::kKeyReadWrite,
                                 &sub, nullptr),
              err::kKeyDeleted);
    EXPECT_EQ(sub, 0u);
    EXPECT_EQ(registry.FlushKey(child.get()), err::kKeyDeleted);
    EXPECT_EQ(registry.CloseKey(child.release()), err::kSuccess);

    // Made again, the key is new and holds none of the old values.
    std::uint32_t disposition = 0;
    UniqueKey again = Create(registry, kHkeyCurrentUser, parent + "\\Child", &disposition);
    EXPECT_EQ(disposition, reg::kCreatedNewKey);
    EXPECT_EQ(registry.QueryValue(again.get(), "V", 260, nullptr, &text, nullptr),
              err::kFileNotFound);
    again.reset();

    // By its handle: it needs DELETE access, a key with a sub key is refused, and the key goes
    // with its handles left on a deleted key.
    UniqueKey top = OpenKey(registry, kHkeyCurrentUser, parent, reg::kMaximumAllowed);
    UniqueKey readOnly = OpenKey(registry, kHkeyCurrentUser, parent, reg::kKeyRead);
    EXPECT_EQ(registry.DeleteOpenKey(top.get()), err::kAccessDenied);
    child = OpenKey(registry, kHkeyCurrentUser, parent + "\\Child", reg::kMaximumAllowed);
    ASSERT_EQ(registry.DeleteOpenKey(child.get()), err::kSuccess);
    EXPECT_FALSE(OpenKey(registry, kHkeyCurrentUser, parent + "\\Child", reg::kKeyRead));
    EXPECT_EQ(registry.EnumKey(child.get(), 0, 256, &text), err::kKeyDeleted);
    EXPECT_EQ(registry.DeleteOpenKey(readOnly.get()), err::kAccessDenied);
    EXPECT_EQ(registry.DeleteOpenKey(top.get()), err::kSuccess);
    EXPECT_FALSE(OpenKey(registry, kHkeyCurrentUser, parent, reg::kKeyRead));
}

// A registry link is its target to every open but one with REG_OPTION_OPEN_LINK, which opens the
// link itself with its target's name in a REG_LINK value; the clean-up's walk, which opens each
// key as itself, therefore finds every link on its way and refuses it.
TEST_P(RegistryContract, ALinkIsItsTargetUnlessOpenedAsItselfAndTheWalkRefusesIt) {
    IRegistry& registry = os().registry;
    const std::string base = machine().KeyPath();
    {
        UniqueKey below = Create(registry, kHkeyCurrentUser, base + "\\Target\\Below");
        ASSERT_EQ(registry.SetValue(below.get(), "Marker", reg::kSz, Sz("target")), err::kSuccess);
    }
    machine().MakeKeyLink(base + "\\Link", base + "\\Target");
    std::uint32_t type = reg::kNone;
    std::string data;

    UniqueKey through = OpenKey(registry, kHkeyCurrentUser, base + "\\Link\\Below", reg::kKeyRead);
    ASSERT_TRUE(through);
    EXPECT_EQ(registry.QueryValue(through.get(), "Marker", 64, &type, &data, nullptr),
              err::kSuccess);
    EXPECT_EQ(data, Sz("target"));
    for (const char* name : {"\\Link", "\\Target"}) {
        SCOPED_TRACE(name);
        UniqueKey itself(registry);
        ASSERT_EQ(registry.OpenLinkKey(kHkeyCurrentUser, base + name, reg::kKeyRead, itself.put()),
                  err::kSuccess);
        const bool link = std::string(name) == "\\Link";
        EXPECT_EQ(registry.QueryValue(itself.get(), kLinkValueName, 4096, &type, &data, nullptr),
                  link ? err::kSuccess : err::kFileNotFound);
        if (link) {
            EXPECT_EQ(type, reg::kLink);
        }
    }

    for (const char* path : {"\\Link", "\\Link\\Below", "\\Target\\Below"}) {
        SCOPED_TRACE(path);
        UniqueKey walked(registry);
        const bool plain = std::string(path) == "\\Target\\Below";
        EXPECT_EQ(
            OpenKeyRefusingLinks(registry, kHkeyCurrentUser, base + path, reg::kKeyRead, &walked),
            plain ? err::kSuccess : err::kStoppedOnSymlink);
        EXPECT_EQ(static_cast<bool>(walked), plain);
    }
    // Deleted by its handle, a link opened as itself goes as the link; its target stays.
    UniqueKey link(registry);
    ASSERT_EQ(
        registry.OpenLinkKey(kHkeyCurrentUser, base + "\\Link", reg::kMaximumAllowed, link.put()),
        err::kSuccess);
    EXPECT_EQ(registry.DeleteOpenKey(link.get()), err::kSuccess);
    link.reset();
    EXPECT_EQ(registry.OpenLinkKey(kHkeyCurrentUser, base + "\\Link", reg::kKeyRead, link.put()),
              err::kFileNotFound);
    EXPECT_TRUE(OpenKey(registry, kHkeyCurrentUser, base + "\\Target\\Below", reg::kKeyRead));
}

TEST_P(RegistryContract, KeyNamesAreLimitedTo255Characters) {
    IRegistry& registry = os().registry;
    UniqueKey key = Create(registry, kHkeyCurrentUser, machine().KeyPath());
    Create(registry, key.get(), std::string(255, 'k'));
    for (std::size_t length : {256u, 300u}) {
        HKey made = 0xBAD;
        Win32Error e =
            registry.CreateKey(key.get(), std::string(length, 'k'), reg::kOptionNonVolatile,
                               reg::kKeyReadWrite, &made, nullptr);
        UniqueKey owner(registry, e == err::kSuccess ? made : 0);
        if (machine().IsWine()) {
            // Wine takes one character more, and answers a longer name with 234.
            EXPECT_EQ(e, length == 256 ? err::kSuccess : err::kMoreData) << length;
            continue;
        }
        // The fake's choice for Windows: 87 (the code is unverified; older releases answered
        // 1010).
        EXPECT_EQ(e, err::kInvalidParameter) << length;
        EXPECT_EQ(made, 0u) << length;
    }
    // The limit counts characters: 255 double-byte characters (510 bytes) are one valid name,
    // though every trail byte is 0x5C, the code of "\".
    std::string wide;
    for (int i = 0; i < 255; ++i) wide += "\x83\x5C";
    UniqueKey holder = Create(registry, key.get(), "dbcs");
    Create(registry, holder.get(), wide);
    std::string name;
    EXPECT_EQ(registry.EnumKey(holder.get(), 0, 1024, &name), err::kSuccess);
    EXPECT_EQ(name, wide);
    EXPECT_EQ(registry.EnumKey(holder.get(), 1, 1024, &name), err::kNoMoreItems);
}

TEST_P(RegistryContract, CreatingDeletingOrWritingStampsTheChangedKeyOnly) {
    IRegistry& registry = os().registry;
    const std::string parent = machine().KeyPath() + "\\Stamped";
    UniqueKey top = Create(registry, kHkeyCurrentUser, parent);
    UniqueKey middle = Create(registry, top.get(), "Middle");
    const FileTime topTime = Stamp(registry, top.get());
    FileTime middleTime = Stamp(registry, middle.get());

    machine().LetTimePass();
    Create(registry, middle.get(), "New");
    EXPECT_GT(Stamp(registry, middle.get()), middleTime);
    EXPECT_EQ(Stamp(registry, top.get()), topTime);

    middleTime = Stamp(registry, middle.get());
    machine().LetTimePass();
    ASSERT_EQ(registry.DeleteKey(middle.get(), "New"), err::kSuccess);
    EXPECT_GT(Stamp(registry, middle.get()), middleTime);
    EXPECT_EQ(Stamp(registry, top.get()), topTime);

    middleTime = Stamp(registry, middle.get());
    machine().LetTimePass();
    ASSERT_EQ(registry.SetValue(middle.get(), "V", reg::kSz, Sz("x")), err::kSuccess);
    EXPECT_GT(Stamp(registry, middle.get()), middleTime);
    EXPECT_EQ(Stamp(registry, top.get()), topTime);
}

// The two views of HKEY_LOCAL_MACHINE\Software on 64-bit Windows ("Registry Keys Affected by
// WOW64"): a key written in one view is not in the other, the 32-bit view lies in Wow6432Node of
// the native one, a program of either bitness names the view it wants, and the profile list and
// HKEY_CURRENT_USER\Software are shared.
TEST_P(RegistryContract, MachineSoftwareHasA32BitViewBesideTheNativeOne) {
    IRegistry& registry = os().registry;
    const std::string name = "Quorvane contract view";
    const std::string native = "Software\\" + name;
    const std::string redirected = "Software\\Wow6432Node\\" + name;
    auto remove = [&] {
        // RegDeleteKey names no view: each key is deleted by its native path.
        for (const std::string& path :
             {redirected + "\\Product", redirected, native + "\\Product", native}) {
            (void)registry.DeleteKey(kHkeyLocalMachine, path);
        }
    };
    remove();
    auto make = [&](std::uint32_t view, const std::string& value) {
        UniqueKey key(registry);
        ASSERT_EQ(
            registry.CreateKey(kHkeyLocalMachine, native + "\\Product", reg::kOptionNonVolatile,
                               reg::kKeyReadWrite | view, key.put(), nullptr),
            err::kSuccess);
        ASSERT_EQ(registry.SetValue(key.get(), "View", reg::kSz, Sz(value)), err::kSuccess);
    };
    auto read = [&](const std::string& path, std::uint32_t access) {
        Win32Error e = err::kSuccess;
        UniqueKey key = OpenKey(registry, kHkeyLocalMachine, path, access, &e);
        std::string data = "missing " + std::to_string(e);
        if (key) (void)registry.QueryValue(key.get(), "View", 260, nullptr, &data, nullptr);
        return data;
    };
    make(reg::kWow64_32Key, "32");
    EXPECT_EQ(read(native + "\\Product", reg::kKeyRead | reg::kWow64_32Key), Sz("32"));
    EXPECT_EQ(read(native + "\\Product", reg::kReadNative), "missing 2");
    EXPECT_EQ(read(native + "\\Product", reg::kKeyRead), "missing 2");  // a 64-bit program
    EXPECT_EQ(read(redirected + "\\Product", reg::kReadNative), Sz("32"));
    make(reg::kWow64_64Key, "64");
    EXPECT_EQ(read(native + "\\Product", reg::kReadNative), Sz("64"));
    EXPECT_EQ(read(native + "\\Product", reg::kKeyRead | reg::kWow64_32Key), Sz("32"));
    remove();

    // Shared: the profile list is one key in both views, and so is HKEY_CURRENT_USER\Software.
    const std::string profiles = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";
    Win32Error end = 0;
    UniqueKey list64 = OpenKey(registry, kHkeyLocalMachine, profiles, reg::kReadNative);
    UniqueKey list32 =
        OpenKey(registry, kHkeyLocalMachine, profiles, reg::kKeyRead | reg::kWow64_32Key);
    ASSERT_TRUE(list64);
    ASSERT_TRUE(list32);
    EXPECT_EQ(SubKeys(registry, list32.get(), &end), SubKeys(registry, list64.get(), &end));
    UniqueKey user(registry);
    ASSERT_EQ(registry.CreateKey(kHkeyCurrentUser, machine().KeyPath() + "\\In32",
                                 reg::kOptionNonVolatile, reg::kKeyReadWrite | reg::kWow64_32Key,
                                 user.put(), nullptr),
              err::kSuccess);
    EXPECT_TRUE(
        OpenKey(registry, kHkeyCurrentUser, machine().KeyPath() + "\\In32", reg::kReadNative));
}

// A hive loaded under HKEY_USERS, unloaded again (with the privilege enabled just for that)
// whatever the test did.
class LoadedHive {
  public:
    LoadedHive(Platform& os, std::string name) : os_(os), name_(std::move(name)) {}
    LoadedHive(const LoadedHive&) = delete;
    LoadedHive& operator=(const LoadedHive&) = delete;
    ~LoadedHive() {
        // A clean-up at the end of a test: what fails here fails the tests that check it.
        (void)AdjustNamedPrivilege(os_.security, true, sec::kRestorePrivilege);
        (void)os_.registry.UnLoadKey(kHkeyUsers, name_);
        (void)AdjustNamedPrivilege(os_.security, false, sec::kRestorePrivilege);
    }

  private:
    Platform& os_;
    std::string name_;
};

TEST_P(RegistryContract, HivesLoadWithTheRestorePrivilegeAndKeepTheirRoot) {
    IRegistry& registry = os().registry;
    const std::string first = InFolder("first.dat");
    const std::string second = InFolder("second.dat");
    machine().MakeHiveFile(first);
    machine().MakeHiveFile(second);
    const std::string name = "Quorvane contract hive";

    ASSERT_TRUE(AdjustNamedPrivilege(os().security, false, sec::kRestorePrivilege));
    EXPECT_EQ(registry.LoadKey(kHkeyUsers, name, first), err::kPrivilegeNotHeld);
    ASSERT_TRUE(AdjustNamedPrivilege(os().security, true, sec::kRestorePrivilege));
    LoadedHive loaded(os(), name);
    ASSERT_EQ(registry.LoadKey(kHkeyUsers, name, first), err::kSuccess);

    Win32Error taken = registry.LoadKey(kHkeyUsers, name, second);
    EXPECT_EQ(taken, err::kAlreadyExists);
    // Windows never deletes the root of a hive, empty as it is (the fake answers 5; the code is
    // unverified). Wine deletes it, and the hive's name with it.
    Win32Error rootDeleted = registry.DeleteKey(kHkeyUsers, name);
    if (machine().IsWine()) {
        EXPECT_EQ(rootDeleted, err::kSuccess);
        EXPECT_EQ(registry.UnLoadKey(kHkeyUsers, name), err::kFileNotFound);
    } else {
        EXPECT_EQ(rootDeleted, err::kAccessDenied);
        EXPECT_TRUE(OpenKey(registry, kHkeyUsers, name, reg::kKeyRead));
        EXPECT_EQ(registry.UnLoadKey(kHkeyUsers, name), err::kSuccess);
    }
    EXPECT_FALSE(OpenKey(registry, kHkeyUsers, name, reg::kKeyRead));
    EXPECT_TRUE(AdjustNamedPrivilege(os().security, false, sec::kRestorePrivilege));
}

// The values of a key as EnumValue lists them, sorted by name (the system promises no order).
using Values = std::vector<std::tuple<std::string, std::uint32_t, std::string>>;
Values AllValues(IRegistry& registry, HKey key) {
    Values values;
    std::string name, data;
    std::uint32_t type = 0;
    Win32Error end = 0;
    for (std::uint32_t i = 0; (end = registry.EnumValue(key, i, &name, &type, &data)) == 0; ++i) {
        values.emplace_back(name, type, data);
    }
    EXPECT_EQ(end, err::kNoMoreItems);
    std::sort(values.begin(), values.end());
    return values;
}

TEST_P(RegistryContract, ValuesEnumerateAsSetAndASavedKeyLoadsTheSame) {
    IRegistry& registry = os().registry;
    const std::string base = machine().KeyPath() + "\\Saved";
    UniqueKey top = Create(registry, kHkeyCurrentUser, base);
    UniqueKey child = Create(registry, kHkeyCurrentUser, base + "\\Child");
    Create(registry, kHkeyCurrentUser, base + "\\Child\\Grandchild");
    // Larger than the first buffers a name and data get.
    const std::string longName(300, 'n');
    std::string longData(3000, '\0');
    for (std::size_t i = 0; i < longData.size(); ++i) longData[i] = static_cast<char>(i * 7);
    const Values set = {{"", reg::kSz, Sz("default")},
                        {"Bytes", reg::kBinary, std::string("\0\x01\xff", 3)},
                        {"Count", reg::kDword, std::string("\x2a\0\0\0", 4)},
                        {"Empty", reg::kBinary, std::string()},
                        {longName, reg::kBinary, longData}};
    for (const auto& [name, type, data] : set) {
        ASSERT_EQ(registry.SetValue(top.get(), name, type, data), err::kSuccess) << name;
    }
    ASSERT_EQ(registry.SetValue(child.get(), "C", reg::kSz, Sz("c")), err::kSuccess);
    EXPECT_EQ(AllValues(registry, top.get()), set);

    const std::string file = InFolder("saved.hiv");
    ASSERT_TRUE(AdjustNamedPrivilege(os().security, false, sec::kBackupPrivilege));
    EXPECT_EQ(registry.SaveKey(top.get(), file), err::kPrivilegeNotHeld);
    // Windows creates the file only for a save it makes, and never over an existing one. Wine
    // leaves an empty file behind a refused save and replaces a file that exists.
    if (!machine().IsWine()) {
        EXPECT_EQ(os().files.GetFileAttributes(file), kInvalidFileAttributes);
    }
    ASSERT_TRUE(AdjustNamedPrivilege(os().security, true, sec::kBackupPrivilege));
    ASSERT_EQ(registry.SaveKey(top.get(), file), err::kSuccess);
    EXPECT_EQ(registry.SaveKey(top.get(), file),
              machine().IsWine() ? err::kSuccess : err::kAlreadyExists);
    EXPECT_TRUE(AdjustNamedPrivilege(os().security, false, sec::kBackupPrivilege));
    EXPECT_NE(os().files.GetFileAttributes(file), kInvalidFileAttributes);
    // A change after the save is no part of it.
    ASSERT_EQ(registry.SetValue(top.get(), "Later", reg::kSz, Sz("x")), err::kSuccess);

    const std::string name = "Quorvane contract saved";
    ASSERT_TRUE(AdjustNamedPrivilege(os().security, true, sec::kRestorePrivilege));
    LoadedHive loaded(os(), name);
    ASSERT_EQ(registry.LoadKey(kHkeyUsers, name, file), err::kSuccess);
    EXPECT_TRUE(AdjustNamedPrivilege(os().security, false, sec::kRestorePrivilege));
    {
        UniqueKey root = OpenKey(registry, kHkeyUsers, name, reg::kKeyRead);
        ASSERT_TRUE(root);
        EXPECT_EQ(AllValues(registry, root.get()), set);
        Win32Error end = 0;
        EXPECT_EQ(SubKeys(registry, root.get(), &end), std::vector<std::string>{"Child"});
        UniqueKey loadedChild = OpenKey(registry, kHkeyUsers, name + "\\Child", reg::kKeyRead);
        ASSERT_TRUE(loadedChild);
        EXPECT_EQ(AllValues(registry, loadedChild.get()), (Values{{"C", reg::kSz, Sz("c")}}));
        EXPECT_EQ(SubKeys(registry, loadedChild.get(), &end),
                  std::vector<std::string>{"Grandchild"});
        EXPECT_EQ(Stamp(registry, loadedChild.get()), Stamp(registry, child.get()));
    }
}

}  // namespace
}  // namespace qv::contract
