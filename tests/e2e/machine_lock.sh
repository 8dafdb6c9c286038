#!/usr/bin/env bash
# One run at a time per machine, on the demo machine (scripts/lib/machine.sh): while another run
# holds the machine's run lock (tests/e2e/lock_holder.cpp, or an open dialog), `clean --yes` exits 5
# at once and after `--wait 2` too, loading and changing nothing, while a current-user scan is not
# held back; a second dialog says so in a box that closes with nothing done or, once the other run
# has let go, tries again and opens; a holder that ended without letting go frees the machine; no
# hive is left loaded.
. "$(dirname "$0")/lib.sh"

e2e_new_prefix machine_lock
qv_build_demo_machine "$E2E_PREFIX"
qv_end_wine
HOLDER_EXE="$QV_BUILD/mingw/lock_holder.exe"
HOLDER_PID=""

# Starts the holder; it writes lock.held once it holds the lock.
start_holder() {
  rm -f "$E2E_WORK"/lock.*
  (cd "$E2E_WORK" && exec wine "$HOLDER_EXE" lock) >/dev/null 2>&1 &
  HOLDER_PID=$!
}
holder_holds() { [ -f "$E2E_WORK/lock.held" ]; }
holder_ended() { ! kill -0 "$HOLDER_PID" 2>/dev/null; }
# The holder lets go (release) or ends without letting go (abandon).
end_holder() {
  touch "$E2E_WORK/lock.$1"
  qv_poll 60 holder_ended
}
runner_key() { printf 'HKU\\%s\\Software\\Brennard\\%s' "$QV_RUNNER_SID" "$1"; }
no_service_hive_loaded() { ! e2e_loaded_hives | grep -qE '^S-1-5-(18|19|20)$'; }
busy_said() {
  LC_ALL=C grep -aqF "$(e2e_string_text IDS_CLI_BUSY | iconv -f UTF-8 -t CP932)" "$E2E_WORK/$1.err"
}
# The running user's registrations are as the demo machine has them: the English one there, the
# French leftover not yet registered (a dialog's scan would have), so no run has done anything.
untouched() {
  e2e_key_exists "$(runner_key 'Ovaline\R16.0\OVLN-201:407')" &&
    ! e2e_key_exists "$(runner_key 'Ovaline\R16.0\OVLN-201:40C')"
}

# --- the console against another run -------------------------------------------------------------

start_holder
e2e_check "another run holds the machine (the Global\\ mutex works here)" qv_poll 60 holder_holds
cli_run busy clean --yes
e2e_check "clean --yes exits 5 while another run holds the machine" status_is 5 busy
e2e_check "standard error says the machine is busy" busy_said busy
started=$(date +%s%N)
cli_run busy-wait clean --yes --wait 2
# A figure, not a check: how long the run waited before it gave up.
echo "  clean --yes --wait 2 ended after $((($(date +%s%N) - started) / 1000000)) ms"
e2e_check "clean --yes --wait 2 exits 5 too" status_is 5 busy-wait
e2e_check "and says why" busy_said busy-wait
e2e_check "no hive was loaded, none is left loaded" no_service_hive_loaded
e2e_check "nothing was changed" untouched
cli_run own scan --current-user
e2e_check "a current-user scan is not held back (exit 1: stale registrations found)" status_is 1 own

# --- a second dialog -------------------------------------------------------------------------------

e2e_start_tool
e2e_check "a dialog started meanwhile shows a box" e2e_wait_msgbox
e2e_check "the box says another run is working on this machine" \
  test "$(e2e_msgbox_field text-hex)" = "$(e2e_string_hex IDS_MACHINE_BUSY)"
e2e_check "it offers Retry and Cancel" test "$(grep -c '^button [24] ' "$E2E_WORK/msgbox.txt")" = 2
e2e_key Escape
e2e_check "Cancel closes the tool" qv_poll 60 e2e_tool_ended
e2e_check "with nothing done" untouched

e2e_start_tool
e2e_check "started again, it shows the box again" e2e_wait_msgbox
e2e_check "the other run lets go" end_holder release
e2e_key Return
e2e_check "Retry then opens the dialog" e2e_wait_dialog
e2e_check "which lists the demo machine" test "$(e2e_tree)" = "$(e2e_demo_tree)"

# --- the console against an open dialog ----------------------------------------------------------

cli_run dialog-open clean --yes
e2e_check "clean --yes exits 5 while a dialog is open" status_is 5 dialog-open
e2e_check "the runner's registrations are still there" \
  e2e_key_exists "$(runner_key 'Ovaline\R16.0\OVLN-201:407')"
e2e_check "no hive is loaded twice or left loaded" no_service_hive_loaded
e2e_key Escape
e2e_check "Esc closes the dialog and the tool ends" qv_poll 60 e2e_tool_ended

# --- a holder that ended without letting go ------------------------------------------------------

start_holder
e2e_check "another run holds the machine again" qv_poll 60 holder_holds
cli_run busy-again clean --yes
e2e_check "clean --yes exits 5" status_is 5 busy-again
e2e_check "the other run ends without letting go" end_holder abandon
cli_run clean clean --yes
e2e_check "then clean --yes goes through (exit 0)" status_is 0 clean
runner_english_gone() { ! e2e_key_exists "$(runner_key 'Ovaline\R16.0\OVLN-201:407')"; }
e2e_check "and removed the runner's registrations" runner_english_gone
e2e_check "no hive is left loaded" no_service_hive_loaded

e2e_finish
