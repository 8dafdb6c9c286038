#!/usr/bin/env bash
# A clean-up of the whole demo machine (scripts/lib/machine.sh), confirmed from the keyboard with
# every item checked: the tool reports the deletion, and every listed user's data folders and
# listed files are gone, with the running user's registration keys; the fresh registrations'
# data folders, the users' well-known folders and the fresh light-edition key stay.
. "$(dirname "$0")/lib.sh"

e2e_new_prefix demo_cleanup
owned="$E2E_WORK/owned.txt"   # SID, key path, data|listed, unix path (see qv_add_user_data)
qv_build_demo_machine "$E2E_PREFIX" "$owned"
runner=$(e2e_runner_name)
runner_profile=$(qv_runner_profile "$E2E_PREFIX")

# The registrations the tree lists (see population.sh for why): every one of them is checked, so
# the clean-up takes them all. The running user's French one is the key that the scan creates
# for his leftover folders.
stale_pairs="S-1-5-18	Software\\Brennard\\Ovaline\\R16.0\\OVLN-201:409
S-1-5-19	Software\\Brennard\\Ovaline\\R16.0\\OVLN-201:409
S-1-5-19	Software\\Brennard\\Ovaline Sketch\\R9\\OVSK-201:409
S-1-5-20	Software\\Brennard\\Ovaline\\R16.0\\OVLN-201:407
S-1-5-20	Software\\Brennard\\Ovaline Sketch\\R9\\OVSK-201:411
$QV_RUNNER_SID	Software\\Brennard\\Ovaline\\R16.0\\OVLN-201:407
$QV_RUNNER_SID	Software\\Brennard\\Ovaline\\R16.0\\OVLN-201:40C"
# The fresh registrations, which are not listed: SYSTEM's Japanese main product (as old as the
# machine's) and the running user's Japanese light edition (30 seconds older than the machine's).
fresh_pairs="S-1-5-18	Software\\Brennard\\Ovaline\\R16.0\\OVLN-201:411
$QV_RUNNER_SID	Software\\Brennard\\Ovaline Sketch\\R9\\OVSK-201:411"

# The paths of one kind ("data", "listed" or "" for both) that the given pairs own.
owned_paths() {
  local pairs="$1" kind="$2"
  awk -F '\t' -v KIND="$kind" 'NR == FNR { want[$1 "\t" $2] = 1; next }
    ($1 "\t" $2) in want && (KIND == "" || $3 == KIND) { print $4 }' \
    <(printf '%s\n' "$pairs") "$owned"
}

# Every pair owns both data folders and at least one listed file, and all of it exists before the
# clean-up: the checks after it would otherwise pass on nothing.
each_pair_owns_existing_data() {
  local sid keypath n
  while IFS=$'\t' read -r sid keypath; do
    n=$(owned_paths "$sid	$keypath" data | wc -l)
    [ "$n" -eq 2 ] || { echo "  $sid $keypath: $n data folders"; return 1; }
    [ -n "$(owned_paths "$sid	$keypath" listed)" ] || { echo "  $sid $keypath: no listed file"; return 1; }
  done < <(printf '%s\n%s\n' "$stale_pairs" "$fresh_pairs")
  all_exist < <(owned_paths "$stale_pairs" "") && all_exist < <(owned_paths "$fresh_pairs" data)
}
all_exist() {
  local path
  while IFS= read -r path; do [ -e "$path" ] || { echo "  missing: $path"; return 1; }; done
}
none_exist() {
  local path
  while IFS= read -r path; do [ ! -e "$path" ] || { echo "  still there: $path"; return 1; }; done
}
e2e_check "the demo machine holds every registration's data folders and listed files" \
  each_pair_owns_existing_data

e2e_start_tool
e2e_check "the dialog appears" e2e_wait_dialog
e2e_check "the whole demo tree is listed, every item checked" test "$(e2e_tree)" = "$(e2e_demo_tree)"
runner_key() { printf 'HKU\\%s\\Software\\Brennard\\%s' "$QV_RUNNER_SID" "$1"; }
e2e_check "the running user's French leftover is registered before the clean-up" \
  e2e_key_exists "$(runner_key 'Ovaline\R16.0\OVLN-201:40C')"

e2e_confirm_cleanup
e2e_check "the tool reports that the selected user data was deleted" e2e_result_is IDS_DELETED
e2e_key Return
e2e_check "the report closes with Enter" qv_poll 60 e2e_no_msgbox

# Registry: the running user's hive is used in place, so the deletion shows. Both his listed
# registrations are gone, and with them the release and product keys left without a sub key;
# his fresh light-edition registration, never listed, stays.
runner_keys_gone() {
  local key
  for key in 'Ovaline\R16.0\OVLN-201:407' 'Ovaline\R16.0\OVLN-201:40C' 'Ovaline'; do
    ! e2e_key_exists "$(runner_key "$key")" || { echo "  still there: $key"; return 1; }
  done
}
e2e_check "the running user's registration keys are gone, with their emptied parents" runner_keys_gone
e2e_check "the running user's fresh light-edition key stays" \
  e2e_key_exists "$(runner_key 'Ovaline Sketch\R9\OVSK-201:411')"
no_service_hive_loaded() {
  ! e2e_loaded_hives | grep -qE '^S-1-5-(18|19|20)$'
}
e2e_check "the hives the clean-up loaded are unloaded again" no_service_hive_loaded

# Files: everything the listed registrations owned is gone, whoever's hive held them.
runner_data_gone() {
  none_exist < <(owned_paths "$QV_RUNNER_SID	Software\\Brennard\\Ovaline\\R16.0\\OVLN-201:407
$QV_RUNNER_SID	Software\\Brennard\\Ovaline\\R16.0\\OVLN-201:40C" data)
}
e2e_check "the running user's data folders are gone" runner_data_gone
e2e_check "every listed user's data folders and listed files are gone" \
  none_exist < <(owned_paths "$stale_pairs" "")
# The fresh registrations' listed files are not checked: the listed ones name the same temporary
# and shared files, which went with them.
e2e_check "the fresh registrations' data folders stay" \
  all_exist < <(owned_paths "$fresh_pairs" data)
well_known_stay() {
  local folder
  for folder in 'C:\users\svc-system' 'C:\users\svc-local' 'C:\users\svc-network'; do
    printf '%s\n' "$folder" "$folder\\Application Data" "$folder\\Local Settings" \
      "$folder\\Local Settings\\Application Data" "$folder\\Local Settings\\Temp"
  done
  printf '%s\n' "$runner_profile" "$runner_profile\\AppData\\Roaming" \
    "$runner_profile\\AppData\\Local" "$(qv_runner_temp "$E2E_PREFIX")" 'C:\ProgramData' \
    'C:\Program Files' 'C:\Program Files (x86)'
}
well_known_exist() {
  local folder
  while IFS= read -r folder; do
    [ -d "$(qv_unix_path "$E2E_PREFIX" "$folder")" ] || { echo "  gone: $folder"; return 1; }
  done < <(well_known_stay)
}
e2e_check "the users' and the machine's well-known folders stay" well_known_exist

# The rebuilt tree. On Windows it would be empty. Wine does not write back a hive loaded from a
# file, so the service accounts' deleted keys are back when the refresh loads their hives again,
# and their registrations are listed again (their data is gone, as checked above). The running
# user's are not: his keys are gone, and his French folders, which the scan registered, too.
e2e_check "the rebuilt tree holds only the service accounts' registrations, which Wine restores" \
  e2e_wait_tree "$(e2e_demo_tree 'xxx xx. .. xx xx')"

e2e_key Escape
e2e_check "Esc closes the dialog and the tool ends" qv_poll 60 e2e_tool_ended

# Undo of the dialog's clean-up for the running user, whose hive Wine writes back: his keys and
# data folders are back.
cli_run restore restore --last --user "$runner" --json
e2e_check "restore --last --user of the running user exits 0 after the dialog's clean-up" \
  status_is 0 restore
runner_keys_back() {
  local key
  for key in 'Ovaline\R16.0\OVLN-201:407' 'Ovaline\R16.0\OVLN-201:40C'; do
    e2e_key_exists "$(runner_key "$key")" || { echo "  not back: $key"; return 1; }
  done
}
e2e_check "the running user's registration keys are back" runner_keys_back
e2e_check "the running user's data folders are back" all_exist < <(owned_paths \
  "$QV_RUNNER_SID	Software\\Brennard\\Ovaline\\R16.0\\OVLN-201:407
$QV_RUNNER_SID	Software\\Brennard\\Ovaline\\R16.0\\OVLN-201:40C" data)

e2e_finish
