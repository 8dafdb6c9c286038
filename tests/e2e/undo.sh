#!/usr/bin/env bash
# Undo on the demo machine (scripts/lib/machine.sh), in the running user's hive, which Wine loads
# in place and writes back: a clean-up from the console, then `restore --last --user`, gives the
# files below drive_c and the registry back as they were; a second restore changes nothing; a
# restore that finds a place taken again leaves the new item and its backup and exits 3; `backups`
# lists the runs and `purge` deletes them, and both restore and purge are in the audit log.
. "$(dirname "$0")/lib.sh"

e2e_new_prefix undo
qv_build_demo_machine "$E2E_PREFIX" "$E2E_WORK/owned.txt"
runner=$(e2e_runner_name)
qv_end_wine

same_as() {
  local diff
  diff=$(diff <(timeless "$E2E_WORK/$1.snapshot") <(timeless "$E2E_WORK/$2.snapshot") | head -n 10)
  [ -z "$diff" ] && return 0
  printf '  %s\n' "$diff"
  return 1
}

snapshot before
cli_run clean clean --yes --json --user "$runner"
e2e_check "clean --yes --user of the running user exits 0" status_is 0 clean
run=$(jq -r '.backup // empty' "$E2E_WORK/clean.out")
e2e_check "the clean-up names its backup" test -n "$run"
e2e_check "every removal has its backup" test "$(jq -r '[.actions[] |
  select(.kind == "delete-folder-tree" or .kind == "delete-file" or .kind == "delete-key-tree") |
  select(.backup == null)] | length' "$E2E_WORK/clean.out")" = 0
# The run's registry scripts and key trees, kept aside for the import at the end.
mkdir -p "$E2E_WORK/scripts"
rm -f "$E2E_WORK/scripts/"*
cp "$E2E_PREFIX/$audit_folder/Backups/$run/"*.reg "$E2E_PREFIX/$audit_folder/Backups/$run/"*.keys.json \
  "$E2E_WORK/scripts/" 2>/dev/null
snapshot cleaned
e2e_check "the clean-up changed the machine" test -n "$(diff <(timeless "$E2E_WORK/before.snapshot") \
  <(timeless "$E2E_WORK/cleaned.snapshot") | head -n 1)"

cli_run restore restore --last --user "$runner" --json
e2e_check "restore --last --user exits 0" status_is 0 restore
e2e_check "it restores the run the clean-up named" test "$(jq -r .run "$E2E_WORK/restore.out")" = "$run"
e2e_check "every item is restored" test "$(jq -r '[.items[].result] | unique | join(" ")' \
  "$E2E_WORK/restore.out")" = restored
snapshot restored
e2e_check "files and registry are as before the clean-up" same_as before restored


cli_run again restore --last --json
e2e_check "a second restore exits 0 and has nothing left to do" test \
  "$CLI_STATUS $(jq -r '.items | length' "$E2E_WORK/again.out")" = "0 0"
snapshot again
e2e_check "a second restore changes nothing" same_as restored again

cli_run list backups --json
e2e_check "backups lists the run as restored, by its operator" test "$(jq -r \
  '.backups[] | [.run, (.restored != null | tostring), .result] | join(" ")' \
  "$E2E_WORK/list.out")" = "$run true done"

# A place taken again: the first product folder tree of a second clean-up gets a new file.
cli_run clean2 clean --yes --json --user "$runner"
e2e_check "a second clean-up exits 0" status_is 0 clean2
tree=$(jq -r '[.actions[] | select(.kind == "delete-folder-tree" and .result == "done")][0] |
  .path + "|" + .backup' "$E2E_WORK/clean2.out")
tree_path=${tree%%|*}
backup_path=${tree#*|}
unix_of() { printf '%s' "$E2E_PREFIX/drive_c/${1#[Cc]:\\}" | tr '\\' '/'; }
mkdir -p "$(unix_of "$tree_path")"
echo new >"$(unix_of "$tree_path")/new.txt"
cli_run taken restore --last --json
e2e_check "a restore that finds a place taken exits 3" status_is 3 taken
e2e_check "it reports the place as taken" test "$(jq -r --arg p "$tree_path" \
  '.items[] | select(.path == $p) | .result' "$E2E_WORK/taken.out")" = taken
e2e_check "the new item and the backup both stay" test -f "$(unix_of "$tree_path")/new.txt" -a \
  -d "$(unix_of "$backup_path")"

cli_run purge purge --older-than 0 --json
e2e_check "purge --older-than 0 exits 0 and purges both runs" test \
  "$CLI_STATUS $(jq -r '.purged | length' "$E2E_WORK/purge.out")" = "0 2"
e2e_check "no backup is left" test -z "$(ls -A "$E2E_PREFIX/$audit_folder/Backups" 2>/dev/null)"
audit_log="$E2E_PREFIX/$audit_folder/audit.jsonl"
e2e_check "the audit log has the restores and the purges" test "$(jq -r \
  'select(.action | startswith("restore-") or . == "purge-backup") | .action' "$audit_log" |
  sed 's/-.*//' | LC_ALL=C sort -u | tr '\n' ' ')" = "purge restore "

# A run that sees only the running user's registry keeps its backup in his own folder.
cli_run mine clean --yes --json --current-user
e2e_check "clean --current-user exits 0 and names its backup" test \
  "$CLI_STATUS $(jq -r '.backup != null' "$E2E_WORK/mine.out")" = "0 true"
e2e_check "its backup lies in the user's own folder, not the machine's" test -n \
  "$(find "$E2E_PREFIX/drive_c/users" -path '*/Quorvane/Backups/*/manifest.json' 2>/dev/null)"
cli_run mine-back restore --last --current-user --json
e2e_check "restore --last --current-user exits 0" status_is 0 mine-back
e2e_check "its actions go to the user's own audit log" test -n "$(find "$E2E_PREFIX/drive_c/users" \
  -path '*/Quorvane/audit.jsonl' -exec jq -r 'select(.action == "restore-key-tree") | .run' {} +)"

# A folder of the tool's that someone else made (here from the Unix side, without the tool's access
# list) is moved aside whole by an administrator's run, told of, and never used.
programdata="$E2E_PREFIX/drive_c/ProgramData"
mv "$programdata/Quorvane" "$programdata/Quorvane-of-the-runs-above"
mkdir -p "$programdata/Quorvane/Backups/planted"
printf '{}' >"$programdata/Quorvane/Backups/planted/manifest.json"
cli_run planted purge --older-than 1 --json
e2e_check "a purge beside a folder someone else made exits 0" status_is 0 planted
aside=$(find "$programdata" -maxdepth 1 -name 'Quorvane.untrusted-*' -print -quit)
e2e_check "that folder is moved aside whole" test -f "$aside/Backups/planted/manifest.json"
e2e_check "standard error says so" grep -qF 'Moved "C:\ProgramData\Quorvane" aside' \
  "$E2E_WORK/planted.err"
e2e_check "so does the new audit log" test "$(jq -r 'select(.action == "move-aside") | .path' \
  "$programdata/Quorvane/audit.jsonl")" = 'C:\ProgramData\Quorvane'
cli_run planted-list backups --json
e2e_check "nothing planted is listed as a backup" test \
  "$(jq -r '.backups | length' "$E2E_WORK/planted-list.out")" = 0

# Each registry script the first clean-up wrote, imported as an administrator would import it: the
# registry outside the keys the scripts were made from stays as it was. The registry files once
# Wine has written them back, without times and without those keys (each "HKEY_USERS\<SID>\..."
# is a section of the running user's user.reg, named below the hive with doubled backslashes).
scripts=("$E2E_WORK/scripts/"*.reg)
[ -e "${scripts[0]}" ] || scripts=()
script_keys=$(for f in "${scripts[@]}"; do
  tr -d '\r' <"$f" | sed -n '2,3s/^\[HKEY_USERS\\[^\\]*\\\(.*\)\]$/\1/p' | head -n 1
done | sed 's/\\/\\\\/g')
registry_outside() {
  qv_end_wine
  for file in system.reg user.reg userdef.reg; do
    echo "== $file"
    normalized_registry "$E2E_PREFIX/$file"
  done | KEYS="$script_keys" awk '
    BEGIN { n = split(ENVIRON["KEYS"], key, "\n") }
    index($0, "[") == 1 {
      skip = 0
      for (i = 1; i <= n; i++) {
        if (key[i] != "" && (index($0, "[" key[i] "]") == 1 || index($0, "[" key[i] "\\\\") == 1)) skip = 1
      }
    }
    index($0, "==") == 1 { skip = 0 }
    !skip && index($0, "#time=") != 1' |
    sed 's/^\(\[.*\]\) [0-9]*$/\1/' >"$E2E_WORK/$1.registry"
}
imports_ok() {
  local f
  for f in "${scripts[@]}"; do
    wine reg import "$(winepath -w "$f" 2>/dev/null)" >/dev/null 2>&1 || return 1
  done
}
kept_trees=("$E2E_WORK/scripts/"*.keys.json)
e2e_check "the clean-up wrote a registry script for each key tree it kept" test \
  "${#scripts[@]}" -gt 0 -a "${#scripts[@]}" = "${#kept_trees[@]}" -a \
  "${#scripts[@]}" = "$(printf '%s\n' "$script_keys" | grep -c .)"
registry_outside before-import
e2e_check "reg import reads every registry script the clean-up wrote" imports_ok
registry_outside after-import
e2e_check "importing them changes nothing outside their own keys" diff -q \
  "$E2E_WORK/before-import.registry" "$E2E_WORK/after-import.registry"

e2e_finish
