#!/usr/bin/env bash
# The deployment engines' batch wrappers (deploy/*.cmd), run by Wine's cmd beside
# quorvane-cli.exe as the release package lays them out, in a folder whose path has spaces and from
# C:\Windows\System32 as the current directory (as a Group Policy start-up script runs): a relative
# --settings is taken from the wrappers' folder; the detection script exits 1 while the running
# user has a stale registration, the remediation script cleans it up and exits 0, and the detection
# script then exits 0. The audit log frames each run that could change something with its
# run-start and run-end lines, a run refused before acting too, and is rotated with a small limit
# without a line lost or split.
. "$(dirname "$0")/lib.sh"

e2e_new_prefix deploy_wrappers
profile=$(qv_runner_profile "$E2E_PREFIX")
key='Software\Brennard\Ovaline\R16.0\OVLN-201:407'
roaming="$profile\\AppData\\Roaming\\Brennard\\Ovaline 2004\\R16.0\\deu"
local_root="$profile\\AppData\\Local\\Brennard\\Ovaline 2004\\R16.0\\deu"
qv_reg_key "$E2E_PREFIX/user.reg" "$key" "$(($(date +%s) - 30 * 86400))"
qv_reg_sz "$E2E_PREFIX/user.reg" RoamableRootFolder "$roaming"
qv_reg_sz "$E2E_PREFIX/user.reg" LocalRootFolder "$local_root"
for folder in "$roaming" "$local_root"; do
  mkdir -p "$(qv_unix_path "$E2E_PREFIX" "$folder")/Support"
  printf 'data\r\n' >"$(qv_unix_path "$E2E_PREFIX" "$folder")/Support/data.ini"
done

# The package's folder, with a space in its path: the scripts beside the console program, and two
# settings files beside them (one of another company's product, one of the built-in product).
package_dir='C:\Program Files\Quorvane Fleet'
package="$(qv_unix_path "$E2E_PREFIX" "$package_dir")"
mkdir -p "$package/conf"
cp "$QV_BUILD/mingw/quorvane-cli.exe" "$QV_SOURCE"/deploy/*.cmd "$package/"
printf '[Quorvane]\r\nCompany=Acme\r\nProduct=Ovaline\r\nVersion=R16.0\r\n' >"$package/Quorvane.ini"
printf '[Quorvane]\r\nCompany=Brennard\r\nProduct=Ovaline\r\nVersion=R16.0\r\n' \
  >"$package/conf/Ovaline.ini"
chmod 755 "$package" "$package/conf"
chmod 644 "$package/Quorvane.ini" "$package/conf/Ovaline.ini"

# A start-up script's surroundings: a batch file that changes to C:\Windows\System32 and hands
# over to the wrapper with the arguments given (without "call", whose exit code Wine's cmd loses),
# so that the process's exit code is the wrapper's.
driver="$(qv_unix_path "$E2E_PREFIX" 'C:\from-system32.cmd')"
printf '@echo off\r\ncd /d C:\\windows\\system32\r\n"%s\\%%1" %%2 %%3 %%4\r\n' \
  "$package_dir" >"$driver"

# The exit code of a wrapper run from C:\Windows\System32 (its output goes to the log).
run_script() {
  (cd "$E2E_WORK" && wine cmd /c 'C:\from-system32.cmd' "$@" >>"$E2E_WORK/scripts.log" 2>&1)
  echo $?
}

e2e_check "from System32, a relative --settings is read beside the wrapper: another product, exit 0" \
  test "$(run_script quorvane-detect.cmd --settings Quorvane.ini)" -eq 0
e2e_check "and one in a folder below it: the built-in product's registration is found, exit 1" \
  test "$(run_script quorvane-detect.cmd --settings 'conf\Ovaline.ini')" -eq 1
e2e_check "the detection script exits 1 while a stale registration is there" \
  test "$(run_script quorvane-detect.cmd)" -eq 1
e2e_check "a remediation with a settings file that is not there is refused: exit 2" \
  test "$(run_script quorvane-remediate.cmd --settings missing.ini)" -eq 2
e2e_check "the remediation script cleans it up and exits 0" \
  test "$(run_script quorvane-remediate.cmd)" -eq 0
e2e_check "the registration's folders are gone" \
  test ! -e "$(qv_unix_path "$E2E_PREFIX" "$roaming")" -a ! -e "$(qv_unix_path "$E2E_PREFIX" "$local_root")"
e2e_check "the detection script then exits 0" test "$(run_script quorvane-detect.cmd)" -eq 0
e2e_check "a usage error passes through as 2" \
  test "$(run_script quorvane-detect.cmd --no-such-option)" -eq 2

# --- the audit log's run records -----------------------------------------------------------------
log_dir="$E2E_PREFIX/drive_c/ProgramData/Quorvane"
audit="$log_dir/audit.jsonl"
# Each run as "command exit first-action-after-start": the refused one ends before acting.
e2e_check "each clean is framed by run-start and run-end with its exit code; the refused one too" \
  test "$(jq -r 'select(.action == "run-start") | .command + " " + .commandLine' "$audit" |
    tr '\n' '|')$(jq -r 'select(.action == "run-end") | .exitCode' "$audit" | tr '\n' ' ')" = \
  "clean clean --yes --settings missing.ini|clean clean --yes|2 0 "
e2e_check "the run records carry the run id of the clean-up's actions, and the version" \
  test "$(jq -r 'select(.action == "delete-key-tree") | .run' "$audit")" = \
  "$(jq -r 'select(.action == "run-start" and .commandLine == "clean --yes") | .run' "$audit")" -a \
  "$(jq -r 'select(.action == "run-start") | .version' "$audit" | sort -u | grep -cE '^[0-9]+\.[0-9]+\.[0-9]+$')" -eq 1
e2e_check "the run-end of the clean-up counts what it did" test "$(jq -r \
  'select(.action == "run-end" and .exitCode == 0) | (.summary.done > 0)' "$audit")" = true

# Rotation with a small limit: purges (each a run-start and a run-end) until the log has been
# rotated; every line is then in one of the logs, whole, in order, none lost.
before=$(wc -l <"$audit")
limit=1500
for i in 1 2 3 4 5 6; do
  (cd "$E2E_WORK" && QUORVANE_AUDIT_ROTATE_BYTES=$limit wine "$package/quorvane-cli.exe" purge \
    --older-than 9999 >/dev/null 2>>"$E2E_WORK/scripts.log" </dev/null)
done
all_logs() {
  local n
  for n in 5 4 3 2 1; do [ -f "$log_dir/audit.$n.jsonl" ] && cat "$log_dir/audit.$n.jsonl"; done
  cat "$audit"
}
e2e_check "the log was rotated by rename into audit.1.jsonl and on" \
  test -f "$log_dir/audit.1.jsonl" -a -f "$log_dir/audit.2.jsonl"
e2e_check "no line was lost: the earlier lines and two for each purge" \
  test "$(all_logs | wc -l)" -eq $((before + 12))
e2e_check "every line of every log is one whole JSON object" \
  test "$(all_logs | jq -c 'type' 2>/dev/null | grep -c '^"object"$')" -eq $((before + 12))
within_limit() {
  # The oldest rotated log holds the lines written before the limit was lowered.
  local n
  for n in 1 2 3 4; do
    f="$log_dir/audit.$n.jsonl"
    [ -f "$log_dir/audit.$((n + 1)).jsonl" ] || break
    [ "$(stat -c %s "$f")" -le "$limit" ] || [ "$(wc -l <"$f")" -eq 1 ] || return 1
  done
}
e2e_check "no rotated log but the oldest goes beyond the limit, unless with a single line" within_limit
e2e_check "the purges' lines come last, in pairs of one run each" test "$(all_logs | tail -n 12 |
  jq -r '.run + " " + .action' | paste -d' ' - - | awk '$1 == $3 && $2 == "run-start" && $4 == "run-end"' |
  wc -l)" -eq 6

e2e_finish
