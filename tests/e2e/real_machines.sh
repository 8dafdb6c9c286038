#!/usr/bin/env bash
# Machines shaped like those administrators have, through both programs: the product's machine
# keys where its 32-bit installer writes them (the 32-bit view) beside a key only in the 64-bit
# view, profile list entries with nothing behind them (no folder, no hive file, a ".bak" entry), a
# user whose account is gone, a profile folder with a Japanese name, and the running user with a
# Japanese account name (Wine names him after $USER).
. "$(dirname "$0")/lib.sh"

e2e_new_prefix real_machines
export USER='田中'
now=$(date +%s)
t0=$((now - 30 * 86400))
english='Software\Brennard\Ovaline\R16.0\OVLN-201:409'
japanese='Software\Brennard\Ovaline\R16.0\OVLN-201:411'

# The English product is installed by its 32-bit installer, as old as the users' registrations:
# nothing of it is stale. The Japanese one has a key in the 64-bit view alone, which its 32-bit
# installer never writes: it is not installed, and every user's Japanese registration is stale.
qv_add_machine_registration "$E2E_PREFIX" "$english" "$t0"
qv_reg_key "$E2E_PREFIX/system.reg" "$japanese" "$t0"  # the 64-bit view

# LOCAL SERVICE, whose profile folder has a Japanese name; a user whose account is gone.
jp_profile='C:\users\サービス'
qv_add_service_profile "$E2E_PREFIX" S-1-5-19 "$jp_profile" "$t0" "$english" "$japanese"
departed=S-1-5-21-0-0-0-1077
qv_add_service_profile "$E2E_PREFIX" "$departed" 'C:\users\departed' "$t0" "$japanese"
# Entries with nothing behind them: no folder, a folder without its hive, and the ".bak" entry a
# temporary profile leaves, naming LOCAL SERVICE's folder.
qv_add_profile "$E2E_PREFIX" S-1-5-21-0-0-0-1078 'C:\users\nowhere' "$t0"
qv_add_profile "$E2E_PREFIX" S-1-5-21-0-0-0-1079 'C:\users\emptied' "$t0"
mkdir -p "$(qv_unix_path "$E2E_PREFIX" 'C:\users\emptied')"
qv_add_profile "$E2E_PREFIX" S-1-5-19.bak "$jp_profile" "$t0"
absent='S-1-5-19.bak S-1-5-21-0-0-0-1078 S-1-5-21-0-0-0-1079'

# The running user (his hive is loaded, used in place): a Japanese registration.
profile=$(qv_runner_profile "$E2E_PREFIX")
qv_add_user_registration "$E2E_PREFIX" "$QV_RUNNER_SID" "$E2E_PREFIX/user.reg" "$japanese" "$t0" \
  "$profile\\AppData\\Roaming" "$profile\\AppData\\Local" "$(qv_runner_temp "$E2E_PREFIX")"
runner=$(e2e_runner_name | iconv -f CP932 -t UTF-8)
qv_end_wine

# --- the console program -------------------------------------------------------------------------

snapshot before
cli_run scan scan --json
e2e_check "scan exits 1: stale data found, and the profiles that are gone are no failure" \
  status_is 1 scan
json="$E2E_WORK/scan.out"
e2e_check "the profiles that are gone are absent, without an error; the others were loaded" \
  test "$(jq -r '.profiles[] | select(.state == "absent" and .error == null) | .sid' "$json" |
    LC_ALL=C sort | tr '\n' ' ')" = "$absent "
e2e_check "no profile is unreadable" test "$(jq '[.profiles[] | select(.state == "unreadable")] |
  length' "$json")" = 0
e2e_check "the 32-bit view's key counts: only the Japanese registration is stale, for all three" \
  test "$(jq -r '.registrations[] | .keyName + " " + (.users | map(.sid) | sort | join(","))' \
    "$json")" = "OVLN-201:411 $(printf '%s\n' S-1-5-19 "$departed" "$QV_RUNNER_SID" |
    LC_ALL=C sort | paste -sd,)"
e2e_check "the user whose account is gone is listed by his SID, with a null account" \
  test "$(jq -c --arg s "$departed" '[.registrations[].users[] | select(.sid == $s) | .account]' \
    "$json")" = '[null]'
account_of() { jq -r --arg s "$1" '.registrations[].users[] | select(.sid == $s) | .account' "$json"; }
if [ "$runner" = "$USER" ]; then
  e2e_check "the Japanese account name comes back whole" test "$(account_of "$QV_RUNNER_SID")" = '田中'
else
  echo "NOTE: Wine names the running user '$runner', not '$USER': no Japanese account here"
fi
e2e_check "the Japanese profile folder's data folder is named in full" \
  test "$(jq -r '.registrations[].users[] | select(.sid == "S-1-5-19") | .roamingFolder' \
    "$json")" = "$jp_profile\\Application Data\\Brennard\\Ovaline 2004\\R16.0\\jpn"
cli_run text scan
text_lists() {
  local sid
  for sid in $absent; do grep -aqx "absent: $sid" "$E2E_WORK/text.out" || return 1; done
  grep -aq "^  $departed: machine-key-missing" "$E2E_WORK/text.out"
}
e2e_check "the text lists the absent profiles and the unnamed user" text_lists
cli_run departed plan --json --user "$departed"
e2e_check "--user with his SID plans for the unnamed user alone" test "$(jq -r \
  '[.actions[].sid] | unique | join(",")' "$E2E_WORK/departed.out")" = "$departed"
snapshot after-scans
# Wine renames its device classes whenever it starts without a display adapter registered; the
# tool reads nothing of that part of the registry.
without_devices() {
  awk 'index($0, "[") == 1 { skip = index($0, "[System\\\\CurrentControlSet\\\\") == 1 }
    !skip' "$E2E_WORK/$1.snapshot" >"$E2E_WORK/$1.nodev.snapshot"
}
without_devices before
without_devices after-scans
e2e_check "the scans and the plan change nothing" unchanged before.nodev after-scans.nodev

# A clean-up without a selection cleans everyone, the unnamed user too, and removes exactly the
# files and folders its actions name (Wine does not write back a hive it loaded from a file, so
# the keys of those users are not compared).
cli_run clean clean --yes --json
e2e_check "the clean-up exits 0" status_is 0 clean
e2e_check "its actions take the unnamed user's data too" test "$(jq -r --arg s "$departed" \
  '[.actions[] | select(.sid == $s and .result == "done")] | length > 0' "$E2E_WORK/clean.out")" = true
snapshot after-clean
gone_exactly_named() {
  local named gone path
  named=$(jq -r '.actions[] | select(.result == "done" and (.kind | test("^(delete-folder-tree|delete-file|remove-empty-folder)$"))) | .path' \
    "$E2E_WORK/clean.out" | while IFS= read -r path; do qv_unix_path "$E2E_PREFIX" "$path"; echo; done |
    sed "s|^$E2E_PREFIX/||")
  gone=$(comm -23 <(grep -a '^[df] ' "$E2E_WORK/after-scans.snapshot" | sed 's/^[df] [0-9]* *//' |
    sed 's/^[df] //' | LC_ALL=C sort) <(grep -a '^[df] ' "$E2E_WORK/after-clean.snapshot" |
    sed 's/^[df] [0-9]* *//' | sed 's/^[df] //' | LC_ALL=C sort) | grep -v "^$audit_folder")
  [ -n "$gone" ] || { echo "  nothing was removed"; return 1; }
  while IFS= read -r path; do
    local covered=""
    while IFS= read -r n; do
      n="${n%/}"
      case "$path" in "$n" | "$n"/*) covered=1 ;; esac
    done <<<"$named"
    [ -n "$covered" ] || { echo "  removed by no action: $path"; return 1; }
  done <<<"$gone"
  while IFS= read -r n; do
    [ -z "$n" ] && continue
    [ ! -e "$E2E_PREFIX/$n" ] || { echo "  named by an action, still there: $n"; return 1; }
  done <<<"$named"
}
e2e_check "the files and folders gone are exactly those the actions name" gone_exactly_named
e2e_check "the English data, which the 32-bit view shows installed, is kept" test -d \
  "$(qv_unix_path "$E2E_PREFIX" "$jp_profile\\Application Data\\Brennard\\Ovaline 2004\\R16.0\\enu")"

# --- the dialog, on the machine as it was --------------------------------------------------------

e2e_new_prefix real_machines_dialog
qv_add_machine_registration "$E2E_PREFIX" "$english" "$t0"
qv_reg_key "$E2E_PREFIX/system.reg" "$japanese" "$t0"
qv_add_service_profile "$E2E_PREFIX" S-1-5-19 "$jp_profile" "$t0" "$english" "$japanese"
qv_add_service_profile "$E2E_PREFIX" "$departed" 'C:\users\departed' "$t0" "$japanese"
qv_add_profile "$E2E_PREFIX" S-1-5-21-0-0-0-1078 'C:\users\nowhere' "$t0"
qv_add_profile "$E2E_PREFIX" S-1-5-19.bak "$jp_profile" "$t0"
profile=$(qv_runner_profile "$E2E_PREFIX")
qv_add_user_registration "$E2E_PREFIX" "$QV_RUNNER_SID" "$E2E_PREFIX/user.reg" "$japanese" "$t0" \
  "$profile\\AppData\\Roaming" "$profile\\AppData\\Local" "$(qv_runner_temp "$E2E_PREFIX")"
e2e_start_tool
e2e_check "the dialog appears" e2e_wait_dialog
expected_tree=$(printf '[x] Ovaline 2004 (Japanese)\n  [x] LOCAL SERVICE\n  [x] %s' "$runner" |
  iconv -f UTF-8 -t CP932)
e2e_check "the tree lists the named users of the Japanese registration only" \
  test "$(e2e_tree)" = "$expected_tree"
unnamed=$(e2e_string_text IDS_USERS_UNNAMED)
e2e_check "the status line says one user was left out for want of a name, nothing unreadable" \
  test "$(e2e_field status-hex)" = "$(printf '%s' "${unnamed/\%s/1}" | e2e_hex)"
e2e_key Escape
e2e_check "Esc closes the dialog and the tool ends" qv_poll 60 e2e_tool_ended

e2e_finish
