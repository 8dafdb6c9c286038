#!/usr/bin/env bash
# The demo machine (scripts/lib/machine.sh): which registrations are listed, under which users,
# in which order; that the hives the tool loaded are unloaded again; and how check boxes follow
# clicks and the space key.
. "$(dirname "$0")/lib.sh"

e2e_new_prefix population
qv_build_demo_machine "$E2E_PREFIX"
runner=$(e2e_runner_name)
e2e_start_tool

# What the machine holds, and what the tool must make of it:
# - The machine has OVLN-201:409 and OVSK-201:411 an hour newer than the users' keys (stale), and
#   OVLN-201:411 as old as theirs (fresh, not listed); OVLN-201:407, OVLN-201:40C and
#   OVSK-201:409 are not on the machine (stale whatever their times).
# - Profiles, in the order the profile list enumerates them: S-1-5-18 (SYSTEM: 409, 411),
#   S-1-5-19 (LOCAL SERVICE: 409, OVSK 409), S-1-5-20 (NETWORK SERVICE: 407, OVSK 411), the
#   running user (407; French data folders without a key, which the tool registers as
#   OVLN-201:40C; OVSK 411 only 30 seconds older than the machine's, not listed).
# - The main product is scanned before the light edition; within a user, registrations come in
#   the order of their key names (407 before 40C); registration items appear in the order of their
#   first user; a second user with the same label joins the existing item.
# - Every item starts checked; every registration item is shown expanded.
expected_tree="$(e2e_demo_tree)"

e2e_check "the dialog appears" e2e_wait_dialog
e2e_check "the stale registrations are listed with their users, all checked" \
  test "$(e2e_tree)" = "$expected_tree"
e2e_check "the status line is empty" test -z "$(e2e_field status-hex)"
e2e_check "the clean-up button is enabled" test "$(e2e_field ok)" = enabled
e2e_check "the title is the heading for both products" \
  test "$(e2e_field title-hex)" = "$(e2e_default_title_hex)"

no_service_hive_loaded() {
  ! e2e_loaded_hives | grep -qE '^S-1-5-(18|19|20)$'
}
e2e_check "the hives the tool loaded for the scan are unloaded again" no_service_hive_loaded
runner_hive_loaded() { e2e_loaded_hives | grep -qx "$QV_RUNNER_SID"; }
e2e_check "the running user's hive, used in place, is still loaded" runner_hive_loaded

# The scan registered the running user's French leftover in his hive, with the folders it found:
# the local one decided, the roaming one is its counterpart below the user's "AppData".
leftover_value() {
  wine reg query "HKU\\$QV_RUNNER_SID\\Software\\Brennard\\Ovaline\\R16.0\\OVLN-201:40C" /v "$1" \
    2>/dev/null | tr -d '\r' | sed -n "s/^ *$1 *REG_SZ *//p"
}
leftover_registered() {
  local profile
  profile=$(qv_runner_profile "$E2E_PREFIX")
  [ "$(leftover_value LocalRootFolder)" = "$profile\\AppData\\Local\\Brennard\\Ovaline 2004\\R16.0\\fra" ] &&
    [ "$(leftover_value RoamableRootFolder)" = "$profile\\AppData\\Roaming\\Brennard\\Ovaline 2004\\R16.0\\fra" ]
}
e2e_check "the scan registered the running user's leftover French folders in his hive" leftover_registered

# Clicking a registration item's check box gives all its users its new state.
e2e_click_checkbox "Ovaline 2004 (English)"
e2e_check "unchecking a registration item unchecks all its users" e2e_wait_tree "$(e2e_demo_tree '--- xxx xx xx xx')"

e2e_click_checkbox "Ovaline 2004 (English)"
e2e_check "checking it again checks all its users" e2e_wait_tree "$expected_tree"

# A user item: the registration item stays checked while another of its users is.
e2e_click_checkbox "NETWORK SERVICE" "Ovaline 2004 (German)"
e2e_check "unchecking one of two users leaves the registration checked" e2e_wait_tree "$(e2e_demo_tree 'xxx x-x xx xx xx')"

e2e_click_checkbox "$runner" "Ovaline 2004 (German)"
e2e_check "unchecking the last checked user unchecks the registration" e2e_wait_tree "$(e2e_demo_tree 'xxx --- xx xx xx')"

e2e_click_checkbox "NETWORK SERVICE" "Ovaline 2004 (German)"
after_recheck="$(e2e_demo_tree 'xxx xx- xx xx xx')"
e2e_check "checking a user checks its registration" e2e_wait_tree "$after_recheck"

# A click on a label selects the item and changes no check box; the space key then toggles the
# selected item's box with the same propagation. Events are handled in order, so the state after
# the space key shows whether the label click changed anything.
e2e_click_label "Ovaline Sketch 2004 (Japanese)"
e2e_key space
e2e_check "a label click changes nothing; space toggles the selected registration and its users" \
  e2e_wait_tree "$(e2e_demo_tree 'xxx xx- xx xx --')"

# Arrow keys move the selection and change no check box: Up selects the item above, LOCAL SERVICE,
# the only user of the light edition's English registration; space then toggles it.
e2e_key Up space
e2e_check "an arrow key changes nothing; space toggles the user above" e2e_wait_tree "$(e2e_demo_tree 'xxx xx- xx -- --')"

# Two quick clicks on one spot make a double click: the tree control toggles a check box on the
# second click as on the first, and the propagation has to follow both. A click on the background
# first keeps the earlier clicks out of the pair.
double_click() {
  local x y
  read -r x y < <(e2e_probe "$@") || return 1
  e2e_click_background
  xdotool mousemove "$x" "$y" click --repeat 2 --delay 50 1
}

# The German registration is checked with one of its two users unchecked: the first click
# unchecks it and both users, the second checks all three.
double_click checkbox "Ovaline 2004 (German)"
e2e_check "a double click on a registration's check box leaves it and all its users checked" \
  e2e_wait_tree "$(e2e_demo_tree 'xxx xxx xx -- --')"

# The only user of an unchecked registration: the first click checks the user and the
# registration, the second unchecks both again. The caret is on that user (keyboard above), so
# Down then space toggle the Japanese registration below; events are handled in order, so that
# change shows that both clicks were handled.
double_click checkbox "LOCAL SERVICE" "Ovaline Sketch 2004 (English)"
e2e_key Down space
e2e_check "a double click on a user's check box takes its registration along both times" \
  e2e_wait_tree "$(e2e_demo_tree 'xxx xxx xx -- xx')"

# A double click on a label selects the item (and may fold it) but changes no check box; space
# then toggles the selected registration with its user.
double_click label "Ovaline 2004 (English)"
e2e_key space
e2e_check "a double click on a label changes nothing; space then toggles that registration" \
  e2e_wait_tree "$(e2e_demo_tree '--- xxx xx -- xx')"

e2e_key Escape
e2e_check "Esc closes the dialog and the tool ends" qv_poll 60 e2e_tool_ended

e2e_finish
