// Placeholder expansion (cleanup/placeholders: ExpandPlaceholders) over arbitrary text and an
// arbitrary table, compared with a reference expansion written from the rules:
// - the text is a run of characters of the ANSI code page (code page 932 here): a lead byte and
//   the byte after it are one character, a lead byte at the very end is one on its own;
// - "%%" stands for "%";
// - "%NAME%" stands for the value of the table's first entry whose name equals NAME, ASCII
//   letters compared without case and double-byte characters as they are; NAME runs to the next
//   "%" character;
// - the value goes in as it is: a "%" inside it is no reference;
// - the first fault in the text decides the result: a "%" without a closing one, or an unknown
//   name, gives kBadPlaceholder; a name of more than 31 bytes gives kFail;
// - on a fault the output is left untouched.
//
// Input: table lines "NAME=VALUE" (a line without "=" is a name with an empty value), an empty
// line, then the text (the rest of the input, line feeds included). Without an empty line the
// whole input is the text and the table is that of a typical registration.
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "base/text.h"
#include "cleanup/placeholders.h"
#include "fuzz/fuzz_check.h"

namespace qv::fuzz {
namespace {

using Entries = std::vector<std::pair<std::string, std::string>>;

// The lead bytes of code page 932, which the core uses until told otherwise.
bool IsCp932Lead(unsigned char c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }

std::vector<std::string_view> Characters(std::string_view s) {
    std::vector<std::string_view> chars;
    std::size_t i = 0;
    while (i < s.size()) {
        const std::size_t length =
            IsCp932Lead(static_cast<unsigned char>(s[i])) && i + 1 < s.size() ? 2 : 1;
        chars.push_back(s.substr(i, length));
        i += length;
    }
    return chars;
}

char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

bool SameName(std::string_view a, std::string_view b) {
    const std::vector<std::string_view> ca = Characters(a);
    const std::vector<std::string_view> cb = Characters(b);
    if (ca.size() != cb.size()) return false;
    for (std::size_t i = 0; i < ca.size(); ++i) {
        if (ca[i].size() == 1 && cb[i].size() == 1) {
            if (Upper(ca[i][0]) != Upper(cb[i][0])) return false;
        } else if (ca[i] != cb[i]) {
            return false;
        }
    }
    return true;
}

struct Expansion {
    HResult result = hr::kOk;
    std::string text;
};

Expansion Reference(std::string_view input, const Entries& entries) {
    const std::vector<std::string_view> chars = Characters(input);
    Expansion out;
    std::size_t k = 0;
    while (k < chars.size()) {
        if (chars[k] != "%") {
            out.text += chars[k++];
            continue;
        }
        if (k + 1 < chars.size() && chars[k + 1] == "%") {
            out.text += '%';
            k += 2;
            continue;
        }
        std::string name;
        std::size_t close = k + 1;
        while (close < chars.size() && chars[close] != "%") name += chars[close++];
        if (close == chars.size()) return Expansion{hr::kBadPlaceholder, {}};
        if (name.size() > 31) return Expansion{hr::kFail, {}};
        const std::string* value = nullptr;
        for (const auto& entry : entries) {
            if (SameName(entry.first, name)) {
                value = &entry.second;
                break;
            }
        }
        if (value == nullptr) return Expansion{hr::kBadPlaceholder, {}};
        out.text += *value;
        k = close + 1;
    }
    return out;
}

Entries TypicalEntries() {
    return {{"ROAMABLEROOTFOLDER", "C:\\Documents and Settings\\ann\\Application Data\\B\\O\\enu"},
            {"LANG", "enu"},
            {"PRODNAME", "OVLN"},
            {"TEMP", "C:\\Documents and Settings\\ann\\Local Settings\\Temp"},
            {"PERCENT", "%"},
            {"FULLPRODUCTNAME", "%PERCENT%"},
            {"\x83\x5C", "double-byte name"}};
}

}  // namespace
}  // namespace qv::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace qv;
    using namespace qv::fuzz;
    const std::string_view input = AsText(data, size);

    Entries entries;
    std::string_view text = input;
    const std::vector<std::string_view> lines = SplitLines(input);
    std::size_t offset = 0;
    bool blankSeen = false;
    for (std::string_view line : lines) {
        if (line.empty()) {
            text = input.substr(offset + 1 > input.size() ? input.size() : offset + 1);
            blankSeen = true;
            break;
        }
        const std::size_t eq = line.find('=');
        if (eq == std::string_view::npos) {
            entries.emplace_back(std::string(line), std::string());
        } else {
            entries.emplace_back(std::string(line.substr(0, eq)), std::string(line.substr(eq + 1)));
        }
        offset += line.size() + 1;
    }
    if (!blankSeen) entries = TypicalEntries();

    PlaceholderTable table;
    for (const auto& entry : entries) {
        QV_FUZZ_CHECK(table.Add(entry.first, entry.second) == hr::kOk, entry.first);
    }

    std::string expanded = "untouched";
    const HResult result = ExpandPlaceholders(text, table, &expanded);
    const Expansion expected = Reference(text, entries);
    QV_FUZZ_CHECK(result == expected.result, text);
    if (result == hr::kOk) {
        QV_FUZZ_CHECK(expanded == expected.text, text);
    } else {
        QV_FUZZ_CHECK(expanded == "untouched", text);
    }
    return 0;
}
