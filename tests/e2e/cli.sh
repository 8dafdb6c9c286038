#!/usr/bin/env bash
# The console program on the demo machine (scripts/lib/machine.sh): `scan --json` lists what the
# dialog shows, with the evidence, and writes nothing; `plan` changes nothing; `clean --yes` for the
# running user takes exactly the actions its plan listed and changes exactly what they name; and
# every exit code: 1 for what a scan and a plan find (also when a profile cannot be read), 2 for a
# usage error and for a clean-up without --yes and without a console, 0 once nothing is left and
# for a --user that names nobody, 3 when a profile cannot be read and nothing stale is left or a
# clean-up could not reach it. Every text output ends with the summary line; --output writes the
# document in UTF-8 to a Japanese path; --version names the project's version.
. "$(dirname "$0")/lib.sh"

e2e_new_prefix cli
owned="$E2E_WORK/owned.txt"
qv_build_demo_machine "$E2E_PREFIX" "$owned"
runner=$(e2e_runner_name)
computer=$(wine cmd /c 'echo %COMPUTERNAME%' 2>/dev/null | tr -d '\r\n')
qv_end_wine

# --- scan ----------------------------------------------------------------------------------------

snapshot before-scan
cli_run scan scan --json
e2e_check "scan --json exits 1: stale registrations found" status_is 1 scan
snapshot after-scan
e2e_check "scan writes nothing, not even the leftover folders' key" unchanged before-scan after-scan

scan_json="$E2E_WORK/scan.out"
# The dialog's tree of the demo machine (see demo_cleanup.sh), without its check boxes.
e2e_check "scan --json lists what the dialog shows" test "$(jq -r \
  '.registrations[] | .label, (.users[] | "  " + .account)' "$scan_json")" = "$(e2e_demo_labels)"
e2e_check "every profile is listed with how its hive was read" test "$(jq -r \
  '.schemaVersion, .mode, (.profiles[] | .sid + " " + .account + " " + .state)' "$scan_json")" = "1
all-profiles
S-1-5-18 SYSTEM loaded
S-1-5-19 LOCAL SERVICE loaded
S-1-5-20 NETWORK SERVICE loaded
$QV_RUNNER_SID $runner in-place"

# The evidence of one user's registration: reason, key times, folders, key path.
evidence() {
  jq -r --arg want "$1" --arg sid "$2" '.registrations[] | select(.label == $want) | .keyName
    as $name | .release as $release | .users[] | select(.sid == $sid) |
    [$name, $release, .reason, .userOldestKeyTime // "null", .machineOldestKeyTime // "null",
     .keyPath, .roamingFolder // "", .localFolder // "", (.leftover | tostring)] | join("|")' \
    "$scan_json"
}
seconds() { date -u -d "$1" +%s; }
reinstalled_an_hour_later() {
  local name release reason user machine keypath roaming local_root leftover
  IFS='|' read -r name release reason user machine keypath roaming local_root leftover \
    < <(evidence "Ovaline 2004 (English)" S-1-5-18)
  [ "$name|$release|$reason|$leftover" = "OVLN-201:409|R16.0|reinstalled|false" ] &&
    [ $(($(seconds "$machine") - $(seconds "$user"))) -eq 3600 ] &&
    [ "$keypath" = 'HKEY_USERS\S-1-5-18\Software\Brennard\Ovaline\R16.0\OVLN-201:409' ] &&
    [ "$roaming" = 'C:\users\svc-system\Application Data\Brennard\Ovaline 2004\R16.0\enu' ] &&
    [ "$local_root" = 'C:\users\svc-system\Local Settings\Application Data\Brennard\Ovaline 2004\R16.0\enu' ]
}
e2e_check "SYSTEM's English registration: reinstalled, the machine's key an hour newer, its folders" \
  reinstalled_an_hour_later
e2e_check "NETWORK SERVICE's German registration: the machine has no key, so no machine time" \
  test "$(evidence "Ovaline 2004 (German)" S-1-5-20 | cut -d'|' -f1-3,5)" = \
  "OVLN-201:407|R16.0|machine-key-missing|null"
e2e_check "the running user's French folders are a leftover without a key time" \
  test "$(evidence "Ovaline 2004 (French)" "$QV_RUNNER_SID" | cut -d'|' -f1,3-5,9)" = \
  "OVLN-201:40C|machine-key-missing|null|null|true"

# --- plan ----------------------------------------------------------------------------------------

cli_run plan plan
e2e_check "plan exits 1: stale registrations found" status_is 1 plan
e2e_check "plan lists actions" grep -aq '^  delete-key-tree ' "$E2E_WORK/plan.out"
e2e_check "the plan's text ends with the summary line (exit=1)" summary_line_last plan
cli_run scan-text scan
e2e_check "the scan's text ends with the summary line (exit=1)" summary_line_last scan-text
e2e_check "the summary line counts what the JSON counts" test \
  "$(tail -n 1 "$E2E_WORK/scan-text.out" | tr -d '\r' | sed 's/^quorvane: //')" = \
  "$(jq -r '.summary | "stale=\(.stale) users=\(.users) absent=\(.profiles.absent) unreadable=\(.profiles.unreadable) done=\(.done) failed=\(.failed) refused=\(.refused) skipped=\(.skipped) exit=\(.exitCode)"' \
    "$E2E_WORK/scan.out")"
e2e_check "scan --json prints the document alone" \
  test "$(jq -r '.command + " " + (.summary.exitCode | tostring)' "$E2E_WORK/scan.out")" = "scan 1"

# --- the document's head, --version, --output --------------------------------------------------

version=$(sed -n 's/^project(Quorvane VERSION \([0-9.]*\) .*/\1/p' "$QV_SOURCE/CMakeLists.txt")
cli_run version --version
e2e_check "--version prints the program's name and the project's version, exit 0" test \
  "$CLI_STATUS $(tr -d '\r' <"$E2E_WORK/version.out")" = "0 quorvane-cli $version"
head_of() {
  jq -r '[.tool.name, .tool.version, (.machine | type), (.generatedAt | test("^[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}Z$") | tostring), (.runId | type)] | join(" ")' "$1"
}
e2e_check "the document names the tool, the machine, the time, and no run for a scan" \
  test "$(head_of "$E2E_WORK/scan.out")" = "quorvane-cli $version string true null"
e2e_check "the machine is the computer's name" test \
  "$(jq -r .machine "$E2E_WORK/scan.out")" = "$computer"
mkdir -p "$E2E_WORK/中村"
printf 'the last run' >"$E2E_WORK/中村/高橋.json"
cli_run output plan --output '中村\高橋.json'
output_is_utf8_json() {
  python3 - "$E2E_WORK/中村/高橋.json" <<'PY'
import json, sys
with open(sys.argv[1], encoding="utf-8", errors="strict") as f:
    document = json.load(f)
assert document["command"] == "plan" and document["summary"]["exitCode"] == 1, document["summary"]
assert document["selection"] == {"users": [], "registrations": [], "unmatchedUsers": [],
                                 "unmatchedRegistrations": []}, document["selection"]
PY
}
e2e_check "--output to a Japanese path: exit 1, the file replaced by the document in UTF-8" \
  eval 'status_is 1 output && output_is_utf8_json'
e2e_keep_json "$E2E_WORK/中村/高橋.json"
e2e_check "nothing but the document is left in its folder" \
  test "$(ls "$E2E_WORK/中村")" = "高橋.json"
e2e_check "standard output carries the text with the summary line" \
  eval 'grep -aq "^  delete-key-tree " "$E2E_WORK/output.out" && summary_line_last output'
snapshot after-plan
e2e_check "plan changes nothing (files below drive_c and registry)" unchanged after-scan after-plan

# --- refusals ------------------------------------------------------------------------------------

cli_run no-console clean
e2e_check "clean without --yes and without a console exits 2" status_is 2 no-console
cli_run usage scan --user "$runner"
e2e_check "a usage error exits 2" status_is 2 usage
e2e_check "the usage error is explained on standard error" test -s "$E2E_WORK/usage.err"
e2e_check "and standard output has the summary line alone" \
  test "$(tr -d '\r' <"$E2E_WORK/usage.out")" = "quorvane: exit=2"
cli_run bogus bogus
unknown=$(e2e_string_text IDS_CLI_UNKNOWN_COMMAND)
e2e_check "a word that is no command is told as such (exit 2)" eval 'status_is 2 bogus &&
  LC_ALL=C grep -aqF "$(printf "%s" "${unknown/\%s/bogus}" | iconv -f UTF-8 -t CP932)" "$E2E_WORK/bogus.err"'
# A --user that names nobody on this machine (a typo) is no error: nothing is done, and the
# document and standard error name it.
cli_run nobody clean --yes --json --user SYSTEMM
e2e_check "clean --yes --user SYSTEMM exits 0 and does nothing" test "$CLI_STATUS $(jq -r \
  '(.actions | length | tostring) + " " + (.selection.unmatchedUsers | join(",")) + " " +
   (.summary.done | tostring)' "$E2E_WORK/nobody.out")" = "0 0 SYSTEMM 0"
e2e_check "standard error names the user" grep -aq 'SYSTEMM' "$E2E_WORK/nobody.err"
# An elevated run (Wine's token is an administrator's) uses a settings file only when no one but
# SYSTEM, the administrators and the running user can change it or its folder, and when it names
# one key each. Wine keeps no security descriptor for a file of its own: it answers one made from
# the Unix mode bits, owned by the running user, with an entry from the owner's bits and one for
# Everyone from the others' (the group's are left out). So a folder of mode 755 holds a file the run
# uses, and one of mode 777 a file it refuses.
settings_in() {
  mkdir -p "$E2E_WORK/$1"
  chmod "$2" "$E2E_WORK/$1"
  printf '[Quorvane]\r\nCompany=%s\r\nProduct=Ovaline\r\nVersion=R16.0\r\n' "$3" \
    >"$E2E_WORK/$1/Quorvane.ini"
  chmod 644 "$E2E_WORK/$1/Quorvane.ini"
}
settings_in settings-kept 755 Acme
cli_run settings-kept scan --settings settings-kept/Quorvane.ini
e2e_check "a settings file only its owner can change is used: nothing of its product (exit 0)" \
  status_is 0 settings-kept
settings_in settings-open 777 Acme
cli_run settings-open scan --settings settings-open/Quorvane.ini
e2e_check "a settings file in a folder everyone can change is not used: exit 2" \
  status_is 2 settings-open
# The tool speaks Japanese here: the reason after the file's name, in code page 932.
writers=$(e2e_string_text IDS_CLI_SETTINGS_WRITERS)
e2e_check "standard error says why" env LC_ALL=C grep -aqF \
  "$(printf '%s' "${writers#*%s}" | iconv -f UTF-8 -t CP932)" "$E2E_WORK/settings-open.err"
settings_in settings-keys 755 'Microsoft\Windows'
cli_run settings-keys scan --settings settings-keys/Quorvane.ini
e2e_check "a settings file naming a key path is not used: exit 2" status_is 2 settings-keys
mkdir -p "$E2E_WORK/settings-bare"
printf '[Quorvane]\r\nLanguage=en\r\n' >"$E2E_WORK/settings-bare/Quorvane.ini"
chmod 755 "$E2E_WORK/settings-bare"
cli_run settings-bare scan --settings settings-bare/Quorvane.ini
e2e_check "a settings file that names no product is not used (the built-in ones are not scanned in its place): exit 2" \
  eval 'status_is 2 settings-bare && ! grep -aq "OVLN" "$E2E_WORK/settings-bare.out"'

snapshot after-refusals
# The refused clean leaves its run records in the audit log, in the tool's folder; nothing else.
outside_tool_folder() { grep -v -e " $audit_folder\$" -e " $audit_folder/" "$E2E_WORK/$1.snapshot"; }
e2e_check "neither changes anything outside the tool's folder" \
  test "$(outside_tool_folder after-plan)" = "$(outside_tool_folder after-refusals)"
# The log's first run is the refused clean; the clean of nobody that follows it is framed too.
e2e_check "the refused clean's run-start and run-end (exit 2) are in the audit log" test "$(jq -r \
  '.action + ":" + (.exitCode | tostring)' "$E2E_PREFIX/$audit_folder/audit.jsonl" | tr '\n' ' ')" = \
  "run-start:null run-end:2 run-start:null run-end:0 "

# --- clean of one user ---------------------------------------------------------------------------

cli_run user-plan plan --json --user "$runner"
e2e_check "plan --user of the running user exits 1" status_is 1 user-plan
cli_run clean clean --yes --json --user "$runner"
e2e_check "clean --yes --user of the running user exits 0" status_is 0 clean
snapshot after-clean

actions() { jq -r '.actions[] | .kind + "\t" + .path' "$1"; }
e2e_check "the clean-up takes the planned actions, in order" \
  test "$(actions "$E2E_WORK/clean.out")" = "$(actions "$E2E_WORK/user-plan.out")"
e2e_check "the plan has actions of the running user only" \
  test "$(jq -r '[.actions[] | .sid] | unique | join(" ")' "$E2E_WORK/user-plan.out")" = \
  "$QV_RUNNER_SID"
e2e_check "every action is done" \
  test "$(jq -r '[.actions[] | .result] | unique | join(" ")' "$E2E_WORK/clean.out")" = done

# The paths an action list names, in the snapshot's form, lower case (Windows paths ignore case):
# files and folders as "drive_c/...", keys as the running user's user.reg writes them; a tree
# action ends in "/" or "\" so that everything below it matches.
named_paths() {
  jq -r '.actions[] | .kind + "\t" + .path' "$1" | awk -F '\t' -v SID="$QV_RUNNER_SID" '
    function lower(s) { return tolower(s) }
    $1 == "delete-file" || $1 == "remove-empty-folder" || $1 == "delete-folder-tree" {
      p = $2; sub(/^[Cc]:/, "drive_c", p); gsub(/\\/, "/", p)
      print "file\t" lower(p) ($1 == "delete-folder-tree" ? "/" : "")
    }
    $1 == "delete-key-tree" || $1 == "delete-empty-key" {
      p = $2; prefix = "HKEY_USERS\\" SID "\\"
      if (index(p, prefix) != 1) { print "foreign\t" p; next }
      p = substr(p, length(prefix) + 1)
      print "key\t" lower(p) ($1 == "delete-key-tree" ? "\\" : "")
    }'
}
# What the snapshots say is gone: files and folders, and the running user's keys (user.reg).
files_of() { sed -n 's/^[dlf] \(\([0-9]* \)\?\)\(drive_c[^ ]*.*\)$/\3/p' "$1" | sed 's/ -> .*//'; }
keys_of() {
  awk '/^== user.reg$/ { on = 1; next } /^== / { on = 0 } on && index($0, "[") == 1 {
    k = $0; sub(/^\[/, "", k); sub(/\]( [0-9]+)?$/, "", k); gsub(/\\\\/, "\\", k); print k }' "$1"
}
gone() {
  comm -23 <("$1" "$E2E_WORK/after-refusals.snapshot" | tr 'A-Z' 'a-z' | LC_ALL=C sort -u) \
    <("$1" "$E2E_WORK/after-clean.snapshot" | tr 'A-Z' 'a-z' | LC_ALL=C sort -u)
}
# Whether every gone entry is named by an action (itself, or below a tree action), and every
# entry an action names that was there before is gone.
exactly_named() {
  local kind="$1" lister="$2" named
  named=$(named_paths "$E2E_WORK/clean.out" | awk -F '\t' -v K="$kind" '$1 == K { print $2 }')
  [ -n "$(gone "$lister")" ] || { echo "  nothing is gone"; return 1; }
  # Passed through the environment: awk -v would read "\b" in "software\brennard" as an escape.
  QV_AWK_NAMED="$named" awk '
    BEGIN { n = split(ENVIRON["QV_AWK_NAMED"], list, "\n") }
    {
      ok = 0
      for (i = 1; i <= n; i++) {
        t = list[i]; last = substr(t, length(t), 1)
        if ($0 == t || ((last == "/" || last == "\\") && ($0 == substr(t, 1, length(t) - 1) ||
            index($0, t) == 1))) { ok = 1; break }
      }
      if (!ok) { print "  gone, but no action names it: " $0; bad = 1 }
    }
    END { exit bad }' < <(gone "$lister") || return 1
  # Each named entry that existed is gone (a leftover key that the clean-up wrote first and then
  # deleted was not there before).
  local before after entry
  before=$("$lister" "$E2E_WORK/after-refusals.snapshot" | tr 'A-Z' 'a-z' | LC_ALL=C sort -u)
  after=$("$lister" "$E2E_WORK/after-clean.snapshot" | tr 'A-Z' 'a-z' | LC_ALL=C sort -u)
  while IFS= read -r entry; do
    [ -n "$entry" ] || continue
    entry="${entry%/}"
    entry="${entry%\\}"
    if grep -qxF -- "$entry" <<<"$before" && grep -qxF -- "$entry" <<<"$after"; then
      echo "  named by an action, still there: $entry"
      return 1
    fi
  done <<<"$named"
}
e2e_check "the files and folders gone are exactly those the actions name" exactly_named file files_of
e2e_check "the running user's keys gone are exactly those the actions name" exactly_named key keys_of
e2e_check "no action names another hive" \
  test -z "$(named_paths "$E2E_WORK/clean.out" | grep '^foreign')"
nothing_else_changed() {
  # Everything that is still there is as it was; nothing is new.
  local new
  new=$(comm -13 <(timeless "$E2E_WORK/after-refusals.snapshot") \
    <(timeless "$E2E_WORK/after-clean.snapshot") | head -n 5)
  [ -z "$new" ] && return 0
  printf '  new or changed: %s\n' "$new"
  return 1
}
e2e_check "nothing else changed and nothing was added" nothing_else_changed
audit_log="$E2E_PREFIX/$audit_folder/audit.jsonl"
e2e_check "the audit log has one line per action, in order, all of the console program" test \
  "$(jq -r 'select(.action | startswith("run-") | not) |
    .program + " " + .action + " " + .path + " " + .result' "$audit_log" 2>/dev/null)" = \
  "$(jq -r '.actions[] | "quorvane-cli " + .kind + " " + .path + " " + .result' "$E2E_WORK/clean.out")"

# The running user has nothing stale left: his own scan finds nothing.
cli_run current-user scan --json --current-user
e2e_check "scan --current-user of the cleaned user exits 0" status_is 0 current-user
e2e_check "it says so in its mode and lists nothing" test "$(jq -r \
  '.mode + " " + (.registrations | length | tostring)' "$E2E_WORK/current-user.out")" = \
  "current-user 0"

# --- a profile that cannot be read beside stale data (the fleet's shapes) ---------------------

# The service profiles' hives go (absent: never a failure; Wine would not write back a hive it
# loaded from a file, so their clean-up would not last), and the running user gets a stale
# registration again: one the machine has no key of.
qv_end_wine
for profile in svc-system svc-local svc-network; do
  rm -f "$(qv_unix_path "$E2E_PREFIX" "C:\\users\\$profile")/ntuser.dat"
done
qv_reg_key "$E2E_PREFIX/user.reg" 'Software\Brennard\Ovaline\R16.0\OVLN-201:407' \
  "$(($(date +%s) - 30 * 86400))"
qv_add_profile "$E2E_PREFIX" S-1-5-21-0-0-0-1999 'C:\users\broken' "$(date +%s)"
mkdir -p "$(qv_unix_path "$E2E_PREFIX" 'C:\users\broken')"
# A hive file that cannot be opened: a folder of its name (a damaged file is no better under Wine,
# which leaves its key behind a failed load until the wineserver ends: it does after each run).
mkdir -p "$(qv_unix_path "$E2E_PREFIX" 'C:\users\broken')/ntuser.dat"
cli_run unreadable scan --json
qv_end_wine
e2e_check "detection with a profile whose hive cannot be loaded beside a stale registration exits 1" \
  status_is 1 unreadable
e2e_check "that profile is listed as unreadable" test "$(jq -r \
  '.profiles[] | select(.sid == "S-1-5-21-0-0-0-1999") | .state' "$E2E_WORK/unreadable.out")" = \
  unreadable
e2e_check "with the error of its hive's load" test "$(jq -r \
  '.profiles[] | select(.sid == "S-1-5-21-0-0-0-1999") | (.error.code > 0 and
   (.error.message | length) > 0)' "$E2E_WORK/unreadable.out")" = true
e2e_check "the summary counts it, the absent ones and what was found" test "$(jq -r \
  '.summary | "\(.profiles.unreadable) \(.profiles.absent) \(.stale) \(.exitCode)"' \
  "$E2E_WORK/unreadable.out")" = "1 3 1 1"

# The remediation removes what it can reach, names the profile it cannot read, and exits 3.
cli_run remedy clean --yes
qv_end_wine
e2e_check "the remediation beside an unreadable profile exits 3" status_is 3 remedy
e2e_check "it names the unreadable profile" \
  grep -aq '^unreadable: S-1-5-21-0-0-0-1999' "$E2E_WORK/remedy.out"
e2e_check "it removed the readable profile's stale registration" \
  grep -aq '^  done     delete-key-tree .*OVLN-201:407$' "$E2E_WORK/remedy.out"
e2e_check "its text ends with the summary line (exit=3)" summary_line_last remedy
cli_run after-remedy scan --json
qv_end_wine
e2e_check "detection afterwards exits 3: nothing stale, one profile not read" eval \
  'status_is 3 after-remedy && test "$(jq -r "(.registrations | length | tostring) + \" \" +
   (.summary.profiles.unreadable | tostring)" "$E2E_WORK/after-remedy.out")" = "0 1"'

# A profile whose folder is gone is absent, never a failure: nothing stale, exit 0.
rm -rf "$(qv_unix_path "$E2E_PREFIX" 'C:\users\broken')"
cli_run absent scan
e2e_check "with that profile gone too, detection exits 0" status_is 0 absent
e2e_check "it is listed as absent" grep -aq '^absent: S-1-5-21-0-0-0-1999' "$E2E_WORK/absent.out"
e2e_check "its text ends with the summary line (exit=0)" summary_line_last absent

e2e_finish
