#include "fake/fake_audit.h"

#include <gtest/gtest.h>

namespace qv::fake {
namespace {

constexpr char kProtected[] = "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";

// The rules the system adapter keeps: no link is written through, a folder that grants others is
// not used, a line is one line, and nothing is appended to a log that is not open.
TEST(FakeAuditStoreTest, RefusesWhatTheSystemAdapterRefuses) {
    FakeAuditStore store;
    EXPECT_EQ(store.Append("x"), err::kInvalidHandle);

    store.SetFolder(FakeAuditStore::Entry::kPlain, "D:(A;OICI;FA;;;BU)");
    EXPECT_EQ(store.Open(AuditPlace::kMachine, kProtected), err::kAccessDenied);
    store.SetFolder(FakeAuditStore::Entry::kLink);
    EXPECT_EQ(store.Open(AuditPlace::kMachine, kProtected), err::kReparsePointEncountered);
    EXPECT_EQ(store.Append("x"), err::kInvalidHandle);

    store.SetFolder(FakeAuditStore::Entry::kPlain, kProtected);
    ASSERT_EQ(store.Open(AuditPlace::kMachine, kProtected), err::kSuccess);
    EXPECT_EQ(store.Append("a\nb"), err::kInvalidParameter);
    EXPECT_EQ(store.Append("a\rb"), err::kInvalidParameter);
    EXPECT_EQ(store.Append("new"), err::kSuccess);
    EXPECT_EQ(store.Lines(), std::vector<std::string>{"new"});
    store.Close();
    EXPECT_EQ(store.Append("late"), err::kInvalidHandle);
}

}  // namespace
}  // namespace qv::fake
