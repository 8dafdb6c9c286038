#!/usr/bin/env bash
# A profile whose hive file is there but cannot be loaded: the tool cannot read that user's
# registry, so it does not say that no clean-up is needed; the status line counts the user
# instead. Esc closes the dialog.
. "$(dirname "$0")/lib.sh"

e2e_new_prefix unreadable_profile
qv_add_profile "$E2E_PREFIX" S-1-5-20 'C:\users\svc-gone' "$(date +%s)"
mkdir -p "$(qv_unix_path "$E2E_PREFIX" 'C:\users\svc-gone')"
# A hive file that cannot be opened: a folder of its name (a damaged file is no better under Wine,
# which leaves its key behind a failed load).
mkdir -p "$(qv_unix_path "$E2E_PREFIX" 'C:\users\svc-gone')/ntuser.dat"
e2e_start_tool

e2e_check "the dialog appears" e2e_wait_dialog
# IDS_NO_INVALID_ENTRIES, then IDS_USERS_UNREADABLE with the number of users in ASCII digits, in code page 932.
unreadable=$(e2e_string_text IDS_USERS_UNREADABLE)
expected_status="$(e2e_string_hex IDS_NO_INVALID_ENTRIES)$(printf '%s' "${unreadable/\%s/1}" | e2e_hex)"
e2e_check "the status line counts the one user whose registry could not be read" \
  test "$(e2e_field status-hex)" = "$expected_status"
e2e_check "the tree is empty" test -z "$(e2e_tree)"
# Wine leaves an empty key of the name behind a load that fails; nothing of a hive is in it.
nothing_loaded() {
  [ -z "$(wine reg query 'HKU\S-1-5-20' /s 2>/dev/null | tr -d '\r' | grep -v '^$' |
    grep -vx 'HKEY_USERS\\S-1-5-20')" ]
}
e2e_check "no hive is left loaded" nothing_loaded

e2e_key Escape
e2e_check "Esc closes the dialog and the tool ends" qv_poll 60 e2e_tool_ended

e2e_finish
