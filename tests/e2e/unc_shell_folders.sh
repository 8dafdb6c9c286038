#!/usr/bin/env bash
# A user's hive whose shell folders name a share and a WebDAV server: the administrator's scan
# refuses both values before any file call, so the machine never authenticates to that server.
# With WINEDEBUG=+file every file call of the run is traced: none names the host, while the trace
# does hold the run's file calls on that user's profile and the refusals on the debug output.
. "$(dirname "$0")/lib.sh"

e2e_new_prefix unc_shell_folders
sid=S-1-5-20
profile='C:\users\svc-network'
t0=$(($(date +%s) - 86400))
qv_add_profile "$E2E_PREFIX" "$sid" "$profile" "$t0"
hive="$(qv_unix_path "$E2E_PREFIX" "$profile")/ntuser.dat"
qv_hive_new "$hive" "$sid"
qv_reg_key "$hive" 'Software\Microsoft\Windows\CurrentVersion\Explorer\Shell Folders' "$t0"
qv_reg_sz "$hive" AppData '\\qvunchost\share\AppData'
qv_reg_sz "$hive" 'Local AppData' '\\qvunchost@80\dav\Local'
qv_reg_sz "$hive" 'Local Settings' '\\qvunchost\share'
qv_end_wine

export WINEDEBUG=+file,+debugstr
cli_run scan scan --json
unset WINEDEBUG
trace="$E2E_WORK/scan.err"

profile_read() {
  [ "$CLI_STATUS" -le 1 ] &&
    [ "$(jq -r '.profiles[] | select(.sid == "S-1-5-20") | .state' "$E2E_WORK/scan.out")" = loaded ]
}
e2e_check "the scan reads the user's hive" profile_read
file_calls=$(grep -aE '^[0-9a-f]+:trace:file:' "$trace" | grep -aic 'svc-network')
e2e_check "the trace holds the scan's file calls on the user's profile ($file_calls)" \
  test "$file_calls" -gt 0
refusals=$(grep -a 'Refused to use' "$trace" | grep -a 'qvunchost' | grep -acE 'as (Local )?AppData:')
e2e_check "both values are refused on the debug output ($refusals)" test "$refusals" -eq 2
unc_calls=$(grep -aE '^[0-9a-f]+:trace:file:' "$trace" | grep -aic 'qvunchost')
e2e_check "no file call names the server ($unc_calls)" test "$unc_calls" -eq 0

e2e_finish
