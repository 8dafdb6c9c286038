// The string tables of both languages against each other and against the code that loads them.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <regex>
#include <set>
#include <string>

#include "fake/fake_system.h"
#include "res/resource.h"

namespace qv {
namespace {

using Table = std::map<std::uint32_t, std::string>;

#define QV_STRING(id, text) {id, text},
const Table kJapanese = {
#include "res/strings.inc"
};
const Table kEnglish = {
#include "res/strings_en.inc"
};
#undef QV_STRING

std::string ReadText(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Every "%" directive of a format, in order ("%s", "%d", ...; "%%" is a literal).
std::vector<std::string> Directives(const std::string& format) {
    std::vector<std::string> found;
    for (std::size_t i = 0; i < format.size(); ++i) {
        if (format[i] != '%') continue;
        if (i + 1 < format.size() && format[i + 1] == '%') {
            ++i;
            continue;
        }
        found.push_back(format.substr(i, 2));
        ++i;
    }
    return found;
}

// The ids resource.h names IDS_..., by name.
std::map<std::string, std::uint32_t> DefinedStringIds() {
    const std::string header = ReadText(std::string(QV_SOURCE_DIR) + "/res/resource.h");
    std::map<std::string, std::uint32_t> ids;
    const std::regex define(R"(#define\s+(IDS_\w+)\s+(\d+))");
    for (std::sregex_iterator it(header.begin(), header.end(), define), end; it != end; ++it) {
        ids[(*it)[1]] = static_cast<std::uint32_t>(std::stoul((*it)[2]));
    }
    return ids;
}

// The IDS_ names the program's sources use.
std::set<std::string> StringIdsInSources() {
    std::set<std::string> names;
    const std::regex use(R"(\bIDS_[A-Z0-9_]+)");
    for (const auto& entry :
         std::filesystem::recursive_directory_iterator(std::string(QV_SOURCE_DIR) + "/src")) {
        if (!entry.is_regular_file()) continue;
        const std::string source = ReadText(entry.path());
        for (std::sregex_iterator it(source.begin(), source.end(), use), end; it != end; ++it) {
            names.insert(it->str());
        }
    }
    return names;
}

TEST(StringTables, EveryIdHasBothLanguagesWithTheSameArguments) {
    ASSERT_FALSE(kJapanese.empty());
    for (const auto& [id, japanese] : kJapanese) {
        auto english = kEnglish.find(id);
        ASSERT_NE(english, kEnglish.end()) << "no English text for " << id;
        EXPECT_EQ(Directives(english->second), Directives(japanese)) << id;
        EXPECT_FALSE(english->second.empty()) << id;
    }
    for (const auto& [id, english] : kEnglish) {
        EXPECT_EQ(kJapanese.count(id), 1u) << "no Japanese text for " << id;
    }

    const std::map<std::string, std::uint32_t> defined = DefinedStringIds();
    ASSERT_FALSE(defined.empty());
    for (const auto& [name, id] : defined) {
        EXPECT_EQ(kJapanese.count(id), 1u) << name;
        EXPECT_EQ(kEnglish.count(id), 1u) << name;
    }
    const std::set<std::string> used = StringIdsInSources();
    EXPECT_GE(used.size(), 10u);
    for (const std::string& name : used) EXPECT_EQ(defined.count(name), 1u) << name;
}

TEST(StringTables, EnglishIsAsciiAndJapaneseSurvivesCodePage932) {
    for (const auto& [id, english] : kEnglish) {
        for (char c : english) {
            const auto byte = static_cast<unsigned char>(c);
            EXPECT_TRUE(byte >= 0x20 && byte < 0x7F) << id << ": " << english;
        }
    }
    for (const auto& [id, japanese] : kJapanese) {
        EXPECT_EQ(fake::Utf8FromCp932(fake::Cp932(japanese)), japanese) << id;
    }
}

}  // namespace
}  // namespace qv
