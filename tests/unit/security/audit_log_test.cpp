#include "security/audit_log.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <nlohmann/json.hpp>
#include <optional>
#include <random>
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

// A run's frame: run-start with the version, command, mode and the command line as given (quoted
// where a blank or a quote needs it, every text escaped, a byte the system cannot convert written
// as "?", an overlong one cut), and run-end with the exit code and the summary given, or this run's
// action lines by result when the summary is no JSON object. A run never finished ends with exit
// code 4.
TEST_F(AuditLogTest, RunRecordsFrameEveryRunWhateverItsCommandLine) {
    using Json = nlohmann::ordered_json;
    struct Row {
        std::vector<std::string> arguments;
        std::string commandLine;  // expected; empty: cut at kAuditMaxCommandLineBytes
        std::string summary;
        std::optional<int> exitCode;  // none: never finished
        Json expectedSummary;
    };
    const std::string hostile = "C:\\a\"b\r\n{\"x\":1}\x1b[2J";
    const std::vector<Row> rows = {
        {{"clean", "--yes"},
         "clean --yes",
         R"({"exitCode":0,"done":7})",
         0,
         Json::parse(R"({"exitCode":0,"done":7})")},
        {{"clean", "--settings", hostile, ""},
         "clean --settings \"C:\\a\\\"b\r\n{\\\"x\\\":1}\x1b[2J\" \"\"",
         "not json",
         3,
         Json::parse(R"({"exitCode":3,"done":1,"failed":1,"refused":0,"skipped":1})")},
        {{"purge", "--older-than", "\xff\xfe"},
         "purge --older-than ??",
         "[1,2]",
         2,
         Json::parse(R"({"exitCode":2,"done":1,"failed":1,"refused":0,"skipped":1})")},
        {{"restore", std::string(kAuditMaxCommandLineBytes, 'r')},
         "",
         "",
         std::nullopt,
         Json::parse(R"({"exitCode":4,"done":1,"failed":1,"refused":0,"skipped":1})")},
    };
    for (const Row& row : rows) {
        FakeMachine machine;
        machine.system.InjectFault(fake::SysOp::kAnsiToUtf8, {}, err::kNotEnoughMemory,
                                   fake::kAlways);  // for the replacement to show
        AuditLog log(machine.platform(), kAuditProgramConsole);
        ASSERT_EQ(log.Open(AuditPlace::kMachine), err::kSuccess);
        {
            RunRecord record(log, {row.arguments[0], "all-profiles", &row.arguments});
            log.Record(Deleted("C:\\a"));
            log.Record({"delete-file", "C:\\b", kAnn, "", "failed", 5, ""});
            log.Record({"delete-file", "C:\\c", kAnn, "", "skipped", err::kSuccess, ""});
            if (row.exitCode) {
                record.Finish(*row.exitCode, row.summary);
                record.Finish(9, "{}");  // only the first counts
            }
        }
        const std::vector<std::string> lines = machine.audit.Lines();
        ASSERT_EQ(lines.size(), 5u) << row.arguments[0];
        const Json start = Json::parse(lines.front());
        const Json end = Json::parse(lines.back());
        EXPECT_EQ(start["action"], "run-start");
        EXPECT_EQ(start["run"], log.run());
        EXPECT_EQ(start["program"], "quorvane-cli");
        EXPECT_EQ(start["version"], std::string(AuditProgramVersion()));
        EXPECT_EQ(start["command"], row.arguments[0]);
        EXPECT_EQ(start["mode"], "all-profiles");
        const std::string commandLine = start["commandLine"];
        if (row.commandLine.empty()) {
            EXPECT_LE(commandLine.size(), kAuditMaxCommandLineBytes);
            EXPECT_EQ(commandLine.rfind("restore rrr", 0), 0u) << commandLine;
        } else {
            EXPECT_EQ(commandLine, row.commandLine);
        }
        EXPECT_EQ(end["action"], "run-end");
        EXPECT_EQ(end["run"], log.run());
        EXPECT_EQ(end["exitCode"], row.exitCode.value_or(kAuditExitInternalError));
        EXPECT_EQ(end["summary"], row.expectedSummary) << lines.back();
    }
}

// Rotation over many lines of many sizes and limits: every log but the newest stays within the
// limit unless it holds a single line; the logs read oldest first hold whole lines only, the last
// ones written, in order, without a gap: a line is lost only with the oldest log dropped.
TEST(AuditRotation, NoLineIsLostOrSplitAndNoLogOutgrowsTheLimit) {
    std::mt19937 random(18);
    for (int round = 0; round < 40; ++round) {
        FakeAuditStore store;
        const std::uint64_t limit = 16 + random() % 400;
        store.SetRotateBytes(limit);
        ASSERT_EQ(store.Open(AuditPlace::kMachine, kAuditFolderSecurity), err::kSuccess);
        std::vector<std::string> written;
        const int count = 1 + static_cast<int>(random() % 300);
        for (int i = 0; i < count; ++i) {
            std::string line = std::to_string(i) + ":" + std::string(random() % 120, 'x');
            ASSERT_EQ(store.Append(line), err::kSuccess);
            written.push_back(std::move(line));
        }
        std::string all;
        for (int n = kAuditRotatedLogs; n >= 1; --n) {
            const std::string& rotated = store.Rotated(n);
            if (rotated.empty()) continue;
            EXPECT_EQ(rotated.back(), '\n');
            // Full before it was rotated: within the limit, or one line over it alone.
            const bool oneLine = rotated.find('\n') == rotated.size() - 1;
            EXPECT_TRUE(rotated.size() <= limit || oneLine) << rotated.size() << " > " << limit;
            all += rotated;
        }
        EXPECT_TRUE(store.Contents().size() <= limit ||
                    store.Contents().find('\n') == store.Contents().size() - 1);
        all += store.Contents();
        std::vector<std::string> kept;
        for (std::size_t at = 0; at < all.size();) {
            const std::size_t end = all.find('\n', at);
            ASSERT_NE(end, std::string::npos);
            kept.push_back(all.substr(at, end - at));
            at = end + 1;
        }
        ASSERT_FALSE(kept.empty());
        ASSERT_LE(kept.size(), written.size());
        EXPECT_TRUE(std::equal(kept.begin(), kept.end(), written.end() - kept.size()));
        // Nothing is dropped while fewer logs than kept were rotated.
        if (store.Rotated(kAuditRotatedLogs).empty()) {
            EXPECT_EQ(kept.size(), written.size());
        }
    }
    // A log another process holds is not renamed; the line goes on at its end.
    FakeAuditStore held;
    held.SetRotateBytes(8);
    ASSERT_EQ(held.Open(AuditPlace::kMachine, kAuditFolderSecurity), err::kSuccess);
    ASSERT_EQ(held.Append("first"), err::kSuccess);
    held.HoldLog(true);
    ASSERT_EQ(held.Append("second"), err::kSuccess);
    EXPECT_EQ(held.Contents(), "first\nsecond\n");
    held.HoldLog(false);
    ASSERT_EQ(held.Append("third"), err::kSuccess);
    EXPECT_EQ(held.Rotated(1), "first\nsecond\n");
    EXPECT_EQ(held.Contents(), "third\n");
    // The variable that lowers the limit: a count of bytes up to the default, nothing else.
    EXPECT_EQ(AuditRotateBytes("4096"), 4096u);
    for (const char* ignored : {"", "0", "-1", "12x", "99999999", "0x10"}) {
        EXPECT_EQ(AuditRotateBytes(ignored), kAuditRotateBytes) << ignored;
    }
}

}  // namespace
}  // namespace qv
