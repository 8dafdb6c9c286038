// The plan is exact: on random machines, the scan lists every stale registration of every
// present profile (named or not, in either registry view) and passes over the profiles that are
// gone, scanning and planning change nothing, applying takes exactly the planned actions, and
// what the clean-up changed on the machine is exactly what those actions name.
#include "engine/plan.h"

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "base/text.h"
#include "engine/scan.h"
#include "fake/fake_machine.h"
#include "random_machine.h"

namespace qv {
namespace {

using test::RandomMachine;

// What the actions that were done name: the paths and keys they removed.
bool RemovedByActions(const std::string& imageName, const std::vector<Action>& actions) {
    for (const Action& a : actions) {
        if (a.result != ActionResult::kDone) continue;
        const bool isKey =
            a.kind == ActionKind::kDeleteKeyTree || a.kind == ActionKind::kDeleteEmptyKey;
        const bool isTree =
            a.kind == ActionKind::kDeleteFolderTree || a.kind == ActionKind::kDeleteKeyTree;
        if (a.kind == ActionKind::kRegisterLeftoverFolder) continue;
        const std::string name = (isKey ? "key " + a.path : "file " + text::FoldCase(a.path));
        if (imageName == name) return true;
        if (isTree && imageName.rfind(name + "\\", 0) == 0) return true;
    }
    return false;
}

TEST(PlanTest, OnRandomMachinesTheChangesAreExactlyThePlannedActions) {
    int actionsSeen = 0;
    for (unsigned seed = 1; seed <= 40; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        RandomMachine r(seed);
        Workspace ws{Services{r.m.platform(), false}, r.tables, true, 0};
        const auto before = r.Image();

        Findings findings;
        ASSERT_TRUE(ScanProducts(
            ws, {{"Brennard", "Ovaline", "R16.0"}, {"Brennard", "Ovaline Sketch", "R9"}}, &findings,
            ScanMode::kWriteNothing));
        std::set<std::pair<std::string, std::string>> listed;
        for (const RegistrationFinding& registration : findings.registrations) {
            for (const UserFinding& user : registration.users) {
                EXPECT_EQ(user.account.empty(), r.unnamed.count(user.sid) == 1) << user.sid;
                if (!user.leftover) listed.emplace(user.sid, user.keyPath);
            }
        }
        EXPECT_EQ(listed, r.stale);
        for (const ProfileFinding& profile : findings.profiles) {
            EXPECT_EQ(profile.state == ProfileState::kAbsent, r.absent.count(profile.sid) == 1)
                << profile.sid;
            EXPECT_NE(profile.state, ProfileState::kUnreadable) << profile.sid;
        }
        // An entry not named by a SID is never loaded under that name.
        for (const std::string& loaded : r.m.registry.Log(fake::RegOp::kLoad)) {
            EXPECT_EQ(loaded.find(".bak"), std::string::npos) << loaded;
        }
        Plan plan = BuildPlan(ws, findings, Select(findings, {}));
        ASSERT_EQ(r.Image(), before) << "the scan or the plan changed the machine";

        Plan applied = plan;
        (void)ApplyPlan(ws, findings, &applied, CleanupRun{});
        ASSERT_EQ(applied.actions.size(), plan.actions.size());
        for (std::size_t i = 0; i < plan.actions.size(); ++i) {
            EXPECT_EQ(ActionKindName(applied.actions[i].kind),
                      ActionKindName(plan.actions[i].kind));
            EXPECT_EQ(applied.actions[i].path, plan.actions[i].path);
            EXPECT_EQ(applied.actions[i].sid, plan.actions[i].sid);
            // A refusal is known before anything is done; nothing the plan let through fails.
            EXPECT_EQ(applied.actions[i].result == ActionResult::kRefused,
                      plan.actions[i].result == ActionResult::kRefused)
                << applied.actions[i].path;
        }
        actionsSeen += static_cast<int>(applied.actions.size());

        // Everything that changed is named by a done action, and everything such an action names
        // is gone; nothing was added or altered.
        const auto after = r.Image();
        for (const auto& [name, content] : before) {
            const auto it = after.find(name);
            if (RemovedByActions(name, applied.actions)) {
                EXPECT_EQ(it, after.end()) << "still there: " << name;
            } else {
                ASSERT_NE(it, after.end()) << "removed by no action: " << name;
                EXPECT_EQ(it->second, content) << "changed: " << name;
            }
        }
        for (const auto& [name, content] : after) {
            EXPECT_EQ(before.count(name), 1u) << "added: " << name;
        }
        EXPECT_TRUE(r.m.files.Exists("C:\\WINDOWS\\system.ini"));
    }
    // The machines were varied enough to plan something.
    EXPECT_GT(actionsSeen, 100);
}

}  // namespace
}  // namespace qv
