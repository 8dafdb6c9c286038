#include "security/sid_text.h"

#include <gtest/gtest.h>

#include "fake/fake_machine.h"

namespace qv {
namespace {

using fake::FakeMachine;
using fake::SecOp;

constexpr SidIdentifierAuthority kNt = {{0, 0, 0, 0, 0, 5}};

class SidTextTest : public ::testing::Test {
  protected:
    void TearDown() override {
        EXPECT_EQ(m.security.LiveSidCount(), 0u);
        EXPECT_EQ(m.security.BadFreeSidCount(), 0u);
    }
    // A SID made from its parts, not from text.
    UniqueSid Make(SidIdentifierAuthority authority, std::vector<std::uint32_t> subs) {
        std::uint32_t values[8] = {};
        std::copy(subs.begin(), subs.end(), values);
        UniqueSid sid(m.security);
        EXPECT_EQ(m.security.AllocateAndInitializeSid(
                      authority, static_cast<std::uint8_t>(subs.size()), values, sid.put()),
                  0u);
        return sid;
    }
    std::string Text(ConstSid sid) {
        std::uint32_t size = 260;
        std::string text = "unset";
        EXPECT_TRUE(SidToText(m.security, sid, &size, &text));
        return text;
    }
    // The text of TextToSid(input), or "none".
    std::string Parsed(std::string_view input) {
        UniqueSid sid = TextToSid(m.security, input);
        return sid ? Text(sid.get()) : "none";
    }

    FakeMachine m;
};

TEST_F(SidTextTest, AuthorityIsDecimalUnlessItsTopBytesAreSet) {
    EXPECT_EQ(Text(Make(kNt, {18}).get()), "S-1-5-18");
    EXPECT_EQ(Text(Make(kNt, {21, 1, 2, 3, 1001}).get()), "S-1-5-21-1-2-3-1001");
    EXPECT_EQ(Text(Make({{0, 1, 0, 0, 0, 0}}, {7}).get()), "S-1-0x000100000000-7");
    EXPECT_EQ(Text(Make({{0xAB, 0, 0, 0, 0, 0x0C}}, {1}).get()), "S-1-0xab000000000c-1");
    EXPECT_EQ(Text(Make({{0, 0, 1, 2, 3, 4}}, {0}).get()), "S-1-16909060-0");
    EXPECT_EQ(Text(Make({{0, 0, 0xFF, 0xFF, 0xFF, 0xFF}}, {4294967295u}).get()),
              "S-1-4294967295-4294967295");
}

TEST_F(SidTextTest, BufferSizeFollowsTheCountNotTheText) {
    for (std::uint32_t n : {1u, 4u, 8u}) {
        UniqueSid sid = Make(kNt, std::vector<std::uint32_t>(n, 1));
        const std::uint32_t needed = 28 + 12 * n;
        std::uint32_t size = needed - 1;
        std::string text = "untouched";
        Win32Error lastError = 0;
        EXPECT_FALSE(SidToText(m.security, sid.get(), &size, &text, &lastError));
        EXPECT_EQ(size, needed);
        EXPECT_EQ(lastError, 122u);
        EXPECT_EQ(text, "untouched");
        EXPECT_TRUE(SidToText(m.security, sid.get(), &size, &text));
    }
}

TEST_F(SidTextTest, InvalidSidGivesNoText) {
    alignas(4) std::uint8_t bytes[12] = {2, 1, 0, 0, 0, 0, 0, 5, 18, 0, 0, 0};  // revision 2
    std::uint32_t size = 260;
    std::string text = "untouched";
    EXPECT_FALSE(SidToText(m.security, bytes, &size, &text));
    EXPECT_EQ(size, 260u);
    EXPECT_EQ(text, "untouched");
}

TEST_F(SidTextTest, TextRoundTripsForOneToEightSubAuthorities) {
    for (SidIdentifierAuthority authority : {kNt, SidIdentifierAuthority{{0, 1, 2, 3, 4, 0xFE}}}) {
        std::vector<std::uint32_t> subs;
        for (std::uint32_t n = 1; n <= 8; ++n) {
            subs.push_back(n == 8 ? 4294967295u : n * 1000003u);
            UniqueSid sid = Make(authority, subs);
            const std::string text = Text(sid.get());
            UniqueSid parsed = TextToSid(m.security, text);
            ASSERT_TRUE(parsed) << text;
            EXPECT_TRUE(m.security.EqualSid(parsed.get(), sid.get())) << text;
            EXPECT_EQ(Text(parsed.get()), text);
        }
    }
}

TEST_F(SidTextTest, ParseRules) {
    EXPECT_EQ(Parsed("S-1-5"), "none");
    EXPECT_EQ(Parsed("S-1"), "none");
    EXPECT_EQ(Parsed(""), "none");
    EXPECT_EQ(Parsed("S-7-5-18"), "S-1-5-18");  // the revision is not read
    EXPECT_EQ(Parsed("S-1-5-1-2-3-4-5-6-7-8-9"), "S-1-5-1-2-3-4-5-6-7-8");
    EXPECT_EQ(Parsed("S-1-5-21-abc-7"), "S-1-5-21-0-7");
    EXPECT_EQ(Parsed("S-1-5-12x"), "S-1-5-12");
    EXPECT_EQ(Parsed("S-1-5-18-"), "S-1-5-18-0");
    EXPECT_EQ(Parsed("S-1-5-4294967296"), "S-1-5-0");
    EXPECT_EQ(Parsed("S-1-5-" + std::string(5000, '9')), "S-1-5-0");
    EXPECT_EQ(Parsed("S-1-16777216-1"), "S-1-16777216-1");
    // Hexadecimal authority fields take up to two digits each.
    EXPECT_EQ(Parsed("S-1-0x000100000000-5"), "S-1-0x000100000000-5");
    EXPECT_EQ(Parsed("S-1-0x0102-5"), "S-1-0x010200000000-5");
    EXPECT_EQ(Parsed("S-1-0x-5"), "S-1-0-5");
    EXPECT_EQ(Parsed("S-1-0x00000000000599-5"), "S-1-5-5");  // beyond six fields: ignored
    EXPECT_EQ(Parsed("S-1-0x01zz02-5"), "S-1-0x010000000000-5");
    m.security.InjectFault(SecOp::kAllocate, {}, 8);
    EXPECT_EQ(Parsed("S-1-5-18"), "none");
}

TEST_F(SidTextTest, AccountNamesComeWithoutDomain) {
    m.security.AddAccount("S-1-5-21-1-1-1-1001", "ann", "QVTEST");
    m.security.AddAccount("S-1-5-21-9-9-9-1001", "ann", "FARAWAY");
    std::string first, second, system;
    EXPECT_TRUE(AccountNameFromSidText(m.security, "S-1-5-21-1-1-1-1001", &first));
    EXPECT_TRUE(AccountNameFromSidText(m.security, "S-1-5-21-9-9-9-1001", &second));
    EXPECT_TRUE(AccountNameFromSidText(m.security, "S-1-5-18", &system));
    EXPECT_EQ(first, "ann");
    EXPECT_EQ(second, "ann");
    EXPECT_EQ(system, "SYSTEM");

    std::string name = "untouched";
    EXPECT_FALSE(AccountNameFromSidText(m.security, "S-1-5-21-4-4-4-4", &name));
    EXPECT_FALSE(AccountNameFromSidText(m.security, "S-1-5", &name));
    m.security.InjectFault(SecOp::kLookupSid, {}, 1332, 2);
    EXPECT_FALSE(AccountNameFromSidText(m.security, "S-1-5-21-1-1-1-1001", &name));
    EXPECT_EQ(name, "untouched");
}

// Names and domains of any length in the double-byte code page come back whole, whether the
// system's first answer counts bytes (Windows) or characters (Wine under code page 932).
TEST_F(SidTextTest, AccountNamesOfAnyLengthAndCodePageComeBackWhole) {
    const std::string tanaka = "\x93\x63\x92\x86";  // 田中 in code page 932
    const std::string hyo = "\x95\x5C";             // 表: its trail byte is "\"
    const std::vector<std::pair<std::string, std::string>> accounts = {
        {"ann", "QVTEST"},
        {tanaka, "QVTEST"},
        {hyo + "a" + hyo, tanaka + tanaka},
        {std::string(1, 'x'), std::string(1, 'y')},
        {std::string(200, 'n'), "QVTEST"},
        {[&] {
             std::string longName;
             for (int i = 0; i < 120; ++i) longName += i % 3 == 0 ? std::string("k") : tanaka;
             return longName;
         }(),
         hyo},
    };
    for (std::size_t i = 0; i < accounts.size(); ++i) {
        m.security.AddAccount("S-1-5-21-3-3-3-" + std::to_string(2000 + i), accounts[i].first,
                              accounts[i].second);
    }
    for (bool characters : {false, true}) {
        m.security.SetLookupCountsCharacters(characters);
        for (std::size_t i = 0; i < accounts.size(); ++i) {
            const std::string sid = "S-1-5-21-3-3-3-" + std::to_string(2000 + i);
            std::string name;
            std::string qualified;
            EXPECT_TRUE(AccountNameFromSidText(m.security, sid, &name)) << i << characters;
            EXPECT_TRUE(QualifiedAccountFromSidText(m.security, sid, &qualified));
            EXPECT_EQ(name, accounts[i].first) << i << " characters " << characters;
            EXPECT_EQ(qualified, accounts[i].second + "\\" + accounts[i].first) << i;
        }
    }
}

TEST_F(SidTextTest, SidTextsAreWhatTheSystemWrites) {
    for (const char* sid : {"S-1-5-18", "S-1-5-21-1-2-3-1001", "S-1-0x000100000000-5",
                            "S-1-5-21-4294967295-1-2-3-4-5-6-7-8-9-10-11-12-13"}) {
        EXPECT_TRUE(IsSidText(sid)) << sid;
    }
    for (const char* other :
         {"S-1-5-21-1-2-3-1001.bak", "S-1-5", "S-1-5-", "S-1-5--18", "s-1-5-18x", "S-2-5-18", "",
          "S-1-5-4294967296", "S-1-0x0102-5", "S-1-5-18\\Software", ".DEFAULT",
          "S-1-5-1-2-3-4-5-6-7-8-9-10-11-12-13-14-15-16"}) {
        EXPECT_FALSE(IsSidText(other)) << other;
    }
}

TEST_F(SidTextTest, CurrentUserIsTheTokensUserNotAnAccountOfTheSameName) {
    EXPECT_EQ(CurrentUserSidText(m.security), FakeMachine::kOperatorSid);

    // A domain account and a local account named alike; the process runs as the local one, the
    // domain one resolves first by bare name.
    m.security.AddAccount("S-1-5-21-7-7-7-2001", "bob", "FARAWAY");
    m.security.AddAccount("S-1-5-21-100-200-300-1001", "bob", "QVTEST");
    m.security.SetUserName("bob");
    m.security.SetTokenUser("S-1-5-21-100-200-300-1001");
    EXPECT_EQ(CurrentUserSidText(m.security), "S-1-5-21-100-200-300-1001");
    // The largest SID there is comes back whole.
    m.security.SetTokenUser("S-1-5-21-4294967295-1-2-3-4-5-6-7-8-9-10-11-12-13");
    EXPECT_EQ(CurrentUserSidText(m.security), "S-1-5-21-4294967295-1-2-3-4-5-6-7-8-9-10-11-12-13");
    EXPECT_EQ(m.security.OpenTokenCount(), 0u);

    for (SecOp op : {SecOp::kOpenToken, SecOp::kTokenInfoSize, SecOp::kTokenInfo}) {
        m.security.InjectFault(op, {}, 5);
        EXPECT_EQ(CurrentUserSidText(m.security), "") << static_cast<int>(op);
        EXPECT_EQ(m.security.OpenTokenCount(), 0u);
    }
    m.security.SetUnbound(true);
    EXPECT_EQ(CurrentUserSidText(m.security), "");
}

}  // namespace
}  // namespace qv
