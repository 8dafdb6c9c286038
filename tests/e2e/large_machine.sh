#!/usr/bin/env bash
# A machine with many profiles, as a lab or a terminal server has them: the demo machine and 300
# profiles more whose hives are files. The dialog's window is there at once and answers its
# messages while the scan runs, its status line tells how far the scan is, the tree at the end is
# the demo machine's, and Cancel during the scan closes it with no hive left loaded. Prints how
# soon the window appeared after the start (a figure, not checked).
. "$(dirname "$0")/lib.sh"

profiles=300
e2e_new_prefix large_machine
qv_build_demo_machine "$E2E_PREFIX"
t0=$(($(date +%s) - 30 * 86400))
for ((i = 0; i < profiles; i++)); do
  sid="S-1-5-21-9-9-9-$((2000 + i))"
  qv_add_profile "$E2E_PREFIX" "$sid" "C:\\users\\lab$i" "$t0"
  qv_new_user_hive "$E2E_PREFIX" "$sid" "C:\\users\\lab$i" "$t0"
done

# The hives the scan loads: the service accounts' and the lab's.
no_profile_hive_loaded() {
  ! e2e_loaded_hives | grep -qE '^S-1-5-(18|19|20|21-9-9-9-[0-9]+)$'
}

# The probe looks for the window from before the start, every 5 ms.
e2e_probe appear 120000 >"$E2E_WORK/appear.txt" &
probe=$!
sleep 3
start_ms=$(date +%s%3N)
e2e_start_tool
wait "$probe"
appeared_ms=$(sed -n 's/^appeared-at-ms: //p' "$E2E_WORK/appear.txt" | tr -d '\r')
e2e_check "the window appears" test -n "$appeared_ms"
echo "large machine: the window appeared $((${appeared_ms:-0} - start_ms)) ms after the start" \
  "($profiles profiles more than the demo machine's)"

# For two and a half seconds of the scan: every message answered within a second, and the status
# line telling how far the scan is.
e2e_probe responsive 2500 >"$E2E_WORK/responsive.txt"
max_answer=$(sed -n 's/^max-answer-ms: //p' "$E2E_WORK/responsive.txt" | tr -d '\r')
unanswered=$(sed -n 's/^unanswered: //p' "$E2E_WORK/responsive.txt" | tr -d '\r')
echo "large machine: the longest answer to WM_NULL during the scan took ${max_answer:-?} ms"
answers_in_time() { [ "${unanswered:-1}" -eq 0 ] && [ "${max_answer:-1000}" -lt 1000 ]; }
e2e_check "the window answers every message within a second while it scans" answers_in_time
progress_shown() {
  local status
  for status in $(sed -n 's/^status-hex: //p' "$E2E_WORK/responsive.txt" | tr -d '\r'); do
    e2e_dump_busy "$status" && return 0
  done
  return 1
}
e2e_check "the status line tells how far the scan is" progress_shown

e2e_check "the scan ends" e2e_wait_dialog
e2e_check "the tree at the end is the demo machine's, item by item" \
  test "$(e2e_tree)" = "$(e2e_demo_tree)"
e2e_check "the status line is empty at the end" test -z "$(e2e_field status-hex)"
e2e_check "the clean-up button is enabled at the end" test "$(e2e_field ok)" = enabled
e2e_check "the scan's hives are unloaded" no_profile_hive_loaded
e2e_click_background
e2e_key Escape
e2e_check "Esc closes the dialog" qv_poll 60 e2e_tool_ended

# Again, and Cancel clicked while the scan runs: the probe waits for the window from before the
# start, lets the scan run for 150 ms (all of it takes a second or two here), reads the status
# line and the clean-up button and clicks Cancel.
e2e_probe cancel-after 150 >"$E2E_WORK/cancel.txt" &
probe=$!
sleep 3
e2e_start_tool
wait "$probe"
cancelled_busy() {
  e2e_dump_busy "$(sed -n 's/^status-hex: //p' "$E2E_WORK/cancel.txt" | tr -d '\r')"
}
e2e_check "Cancel is clicked while the status line tells of the scan" cancelled_busy
e2e_check "the clean-up button is disabled while the scan runs" \
  test "$(sed -n 's/^ok: //p' "$E2E_WORK/cancel.txt" | tr -d '\r')" = disabled
e2e_check "Cancel during the scan closes the dialog" qv_poll 60 e2e_tool_ended
e2e_check "Cancel during the scan leaves no hive loaded" no_profile_hive_loaded

e2e_finish
