// The SID text parser and formatter (security/sid_text) on arbitrary text and arbitrary SIDs.
//
// Properties, for every input:
// - text -> SID -> text: whatever TextToSid accepts formats to a text that fits the buffer size
//   the count promises, that parses back to the same SID, that formats to itself, and that the
//   fake machine's own strict reader of SID texts reads as the same SID;
// - a text in the strict form (what the fake's reader accepts: "S-1-", a decimal authority below
//   2^32 or "0x" and twelve hex digits, one to eight decimal sub-authorities below 2^32) parses to
//   exactly the SID it names;
// - SID -> text -> SID: a SID built from the input's bytes (authority, one to eight
//   sub-authorities) survives the round trip;
// - a buffer one byte short of the promised size is refused with 122 and the text is untouched;
// - every SID made is freed once; nothing is read outside a buffer (ASan).
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "base/text.h"
#include "fake/fake_security.h"
#include "fuzz/fuzz_check.h"
#include "security/sid_text.h"

namespace qv::fuzz {
namespace {

fake::FakeSecurity& Security() {
    static fake::FakeSecurity security;
    return security;
}

// The stored form of a SID made through the port: header and sub-authorities.
std::vector<std::uint8_t> StoredForm(ISecurity& security, ConstSid sid) {
    const std::uint8_t count = *security.GetSidSubAuthorityCount(sid);
    const auto* bytes = static_cast<const std::uint8_t*>(sid);
    return std::vector<std::uint8_t>(bytes, bytes + 8 + 4 * count);
}

// Formats `sid`, checking the size rule on the way.
std::string FormatChecked(ISecurity& security, ConstSid sid, std::string_view context) {
    const std::uint32_t count = *security.GetSidSubAuthorityCount(sid);
    const std::uint32_t promised = SidTextBufferSize(count);

    std::uint32_t size = promised - 1;
    std::string text = "untouched";
    Win32Error lastError = 0;
    QV_FUZZ_CHECK(!SidToText(security, sid, &size, &text, &lastError), context);
    QV_FUZZ_CHECK(size == promised && lastError == err::kInsufficientBuffer, context);
    QV_FUZZ_CHECK(text == "untouched", context);

    size = promised;
    QV_FUZZ_CHECK(SidToText(security, sid, &size, &text), context);
    // The caller's buffer holds the text and its NUL.
    QV_FUZZ_CHECK(text.size() + 1 <= promised, text);
    return text;
}

// A text in the strict form whose authority the formatter would also accept as written.
bool IsStrictText(std::string_view input, const std::vector<std::uint8_t>& strict) {
    if (strict.size() < 12 || strict[1] > 8 || input.substr(0, 4) != "S-1-") return false;
    const std::size_t dash = text::Find(input, '-', 4);
    const std::string_view authority = input.substr(4, dash - 4);
    if (authority.substr(0, 2) == "0X") return false;  // the parser reads only "0x"
    if (authority.substr(0, 2) == "0x") return true;
    // A decimal authority of 2^32 or more is no text the formatter writes.
    return strict[2] == 0 && strict[3] == 0;
}

void TextToSidToText(std::string_view input) {
    ISecurity& security = Security();
    UniqueSid sid = TextToSid(security, input);
    const std::vector<std::uint8_t> strict = fake::FakeSecurity::SidBytes(input);
    if (IsStrictText(input, strict)) {
        QV_FUZZ_CHECK(sid, input);
        QV_FUZZ_CHECK(StoredForm(security, sid.get()) == strict, input);
    }
    if (!sid) return;
    QV_FUZZ_CHECK(security.IsValidSid(sid.get()), input);
    const std::uint8_t count = *security.GetSidSubAuthorityCount(sid.get());
    QV_FUZZ_CHECK(count >= 1 && count <= 8, input);

    const std::string text = FormatChecked(security, sid.get(), input);
    UniqueSid again = TextToSid(security, text);
    QV_FUZZ_CHECK(again, text);
    QV_FUZZ_CHECK(security.EqualSid(again.get(), sid.get()), text);
    QV_FUZZ_CHECK(FormatChecked(security, again.get(), text) == text, text);
    QV_FUZZ_CHECK(fake::FakeSecurity::SidBytes(text) == StoredForm(security, sid.get()), text);
}

void SidToTextToSid(const std::uint8_t* data, std::size_t size) {
    if (size < 7) return;
    ISecurity& security = Security();
    SidIdentifierAuthority authority{};
    std::memcpy(authority.value, data, 6);
    const std::uint8_t count = static_cast<std::uint8_t>(data[6] % 8 + 1);
    std::uint32_t subs[8] = {};
    const std::uint8_t* rest = data + 7;
    std::size_t left = size - 7;
    for (std::uint8_t i = 0; i < count && left > 0; ++i) {
        const std::size_t take = left < 4 ? left : 4;
        for (std::size_t b = 0; b < take; ++b) subs[i] |= std::uint32_t{rest[b]} << (8 * b);
        rest += take;
        left -= take;
    }

    UniqueSid sid(security);
    if (security.AllocateAndInitializeSid(authority, count, subs, sid.put()) != err::kSuccess) {
        Fail(__FILE__, __LINE__, "a SID of one to eight sub-authorities can be made", "");
    }
    const std::string text = FormatChecked(security, sid.get(), "a SID made from bytes");
    UniqueSid parsed = TextToSid(security, text);
    QV_FUZZ_CHECK(parsed, text);
    QV_FUZZ_CHECK(security.EqualSid(parsed.get(), sid.get()), text);
}

}  // namespace
}  // namespace qv::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace qv::fuzz;
    TextToSidToText(AsText(data, size));
    SidToTextToSid(data, size);
    qv::fake::FakeSecurity& security = Security();
    QV_FUZZ_CHECK(security.LiveSidCount() == 0, "a SID was not freed");
    QV_FUZZ_CHECK(security.BadFreeSidCount() == 0, "a SID was freed twice or was not made");
    return 0;
}
