// What the fixtures of the unit test programs build on: a fake machine, the built-in tables once
// filled, a user data tree over a fake tree control, and a workspace over them all.
#pragma once
#include "app/tables.h"
#include "engine/workspace.h"
#include "fake/fake_machine.h"
#include "fake/fake_ui.h"
#include "ui/user_data_tree.h"

namespace qv::test {

struct MachineParts {
    // `owner`: the window the workspace's dialogs belong to.
    explicit MachineParts(WindowRef owner)
        : ws{Services{m.platform(), false}, tables, true, owner} {}

    fake::FakeMachine m;
    Tables tables;
    fake::FakeTree control;
    UserDataTree tree{control};
    Workspace ws;
};

}  // namespace qv::test
