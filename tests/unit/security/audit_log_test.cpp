#include "security/audit_log.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake/fake_machine.h"

namespace qv {
namespace {

using fake::Cp932;
using fake::FakeAuditStore;
using fake::FakeMachine;

constexpr char kAnn[] = "S-1-5-21-1-2-3-1001";

AuditEntry Deleted(std::string_view path) {
    return {"delete-file", path, kAnn, "", "done", err::kSuccess, ""};
}

class AuditLogTest : public ::testing::Test {
  protected:
    FakeMachine m;
};

// The line of an action: the fields in their order, the machine's texts (code page 932) as UTF-8
// with their backslashes escaped once (the trail byte of "表" is a backslash too), the error only
// when there is one, the reason only for a refusal, one run id for every line of the run, and a
// folder that only SYSTEM and the Administrators may use.
TEST_F(AuditLogTest, EachActionIsOneJsonLineInUtf8) {
    m.system.SetNow(1767225600 + 3661);
    m.system.SetComputerName(Cp932(u8"端末01"));
    m.system.QueueRandom(
        std::string("\x00\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0a\x0b\x0c\x0d\xfe\xff", 16));
    AuditLog log(m.platform(), kAuditProgramConsole);
    ASSERT_EQ(log.Open(AuditPlace::kMachine), err::kSuccess);

    const std::string folder = Cp932(u8"C:\\Documents and Settings\\アン\\Application Data\\表");
    const std::string account = Cp932(u8"アン");
    log.Record({"delete-folder-tree", folder, kAnn, account, "done", err::kSuccess, ""});
    m.system.SetNow(1767225600 + 3662);
    log.Record({"delete-key-tree",
                "HKEY_USERS\\S-1-5-21-1-2-3-1001\\Software\\Brennard\\Ovaline\\R16.0\\OVLN-201:409",
                kAnn, "", "failed", 5, ""});
    log.Record({"delete-file", "C:\\Temp\\a.tmp", kAnn, account, "refused", err::kSuccess,
                Cp932(u8"リンク")});

    const std::vector<std::string> expected = {
        u8R"({"time":"2026-01-01T01:01:01Z","run":"000102030405060708090a0b0c0dfeff",)"
        u8R"("program":"quorvane-cli","machine":"端末01","operator":"QVTEST\\operator",)"
        u8R"("operatorSid":"S-1-5-21-100-200-300-500","user":"S-1-5-21-1-2-3-1001",)"
        u8R"("userAccount":"アン","action":"delete-folder-tree",)"
        u8R"("path":"C:\\Documents and Settings\\アン\\Application Data\\表","result":"done"})",
        u8R"({"time":"2026-01-01T01:01:02Z","run":"000102030405060708090a0b0c0dfeff",)"
        u8R"("program":"quorvane-cli","machine":"端末01","operator":"QVTEST\\operator",)"
        u8R"("operatorSid":"S-1-5-21-100-200-300-500","user":"S-1-5-21-1-2-3-1001",)"
        u8R"("action":"delete-key-tree",)"
        u8R"("path":"HKEY_USERS\\S-1-5-21-1-2-3-1001\\Software\\Brennard\\Ovaline\\R16.0\\OVLN-201:409",)"
        u8R"("result":"failed","error":5})",
        u8R"({"time":"2026-01-01T01:01:02Z","run":"000102030405060708090a0b0c0dfeff",)"
        u8R"("program":"quorvane-cli","machine":"端末01","operator":"QVTEST\\operator",)"
        u8R"("operatorSid":"S-1-5-21-100-200-300-500","user":"S-1-5-21-1-2-3-1001",)"
        u8R"("userAccount":"アン","action":"delete-file","path":"C:\\Temp\\a.tmp",)"
        u8R"("result":"refused","reason":"リンク"})",
    };
    EXPECT_EQ(m.audit.Lines(), expected);
    EXPECT_FALSE(log.failed());
    EXPECT_EQ(m.audit.AskedSecurity(),
              std::vector<std::string>{"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)"});
    EXPECT_EQ(m.audit.FolderSecurity(), "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)");
}

// A log that cannot be opened or written is reported with its first error, and every later action
// is still offered to it: once the log can be written again its lines go on.
TEST_F(AuditLogTest, FailuresAreKeptAndLaterRecordsAreStillAttempted) {
    m.audit.SetFolder(FakeAuditStore::Entry::kLink);
    AuditLog log(m.platform(), kAuditProgramDialog);
    EXPECT_EQ(log.Open(AuditPlace::kMachine), err::kReparsePointEncountered);
    log.Record(Deleted("C:\\a"));
    EXPECT_TRUE(log.failed());

    m.audit.SetFolder(FakeAuditStore::Entry::kMissing);  // the link is gone
    log.Record(Deleted("C:\\b"));
    m.audit.InjectFault(fake::AuditOp::kAppend, {}, 112);  // the disk is full
    log.Record(Deleted("C:\\c"));
    log.Record(Deleted("C:\\d"));

    EXPECT_EQ(m.audit.AskedSecurity().size(), 3u);  // Open, then again at the first two records
    EXPECT_EQ(m.audit.Appends(), 3);
    const std::vector<std::string> lines = m.audit.Lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[0].find(R"("path":"C:\\b")"), std::string::npos) << lines[0];
    EXPECT_NE(lines[1].find(R"("path":"C:\\d")"), std::string::npos) << lines[1];
    EXPECT_EQ(log.firstError(), err::kReparsePointEncountered);
    EXPECT_EQ(log.unwritten(), 2u);

    // Another clean-up is another run.
    AuditLog next(m.platform(), kAuditProgramDialog);
    ASSERT_EQ(next.Open(AuditPlace::kMachine), err::kSuccess);
    EXPECT_EQ(log.run().size(), 32u);
    EXPECT_NE(next.run(), log.run());
}

}  // namespace
}  // namespace qv
