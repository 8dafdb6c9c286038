#!/usr/bin/env bash
# A clean-up run from the keyboard: Enter starts it, the confirmation's default is Cancel, OK
# deletes. Afterwards the checked users' registration keys, data folders and listed files are
# gone, and nothing else is.
#
# Wine does not write back a hive that a program loaded, so the users here have their hives present
# under HKEY_USERS already (keys made with reg.exe in the same wineserver session), as logged-on
# users' hives are: the tool uses them in place and the deletion can be seen afterwards.
. "$(dirname "$0")/lib.sh"

e2e_new_prefix cleanup
runner_profile=$(qv_runner_profile "$E2E_PREFIX")

# Files of the machine that no clean-up may touch, and data of a product the tool does not know.
mkdir -p "$E2E_PREFIX/drive_c/ProgramData/Brennard/Other Product" \
  "$(qv_unix_path "$E2E_PREFIX" "$runner_profile")/AppData/Roaming/Brennard/Ovaline 2004/R16.0/deu"
printf 'keep\r\n' >"$E2E_PREFIX/drive_c/ProgramData/Brennard/Other Product/keep.txt"
printf 'keep\r\n' >"$(qv_unix_path "$E2E_PREFIX" "$runner_profile")/AppData/Roaming/Brennard/Ovaline 2004/R16.0/deu/keep.txt"

now=$(date +%s)
qv_add_profile "$E2E_PREFIX" S-1-5-19 'C:\users\svc-local' "$now"
qv_add_profile "$E2E_PREFIX" S-1-5-20 'C:\users\svc-network' "$now"

wineserver -p   # one session from the first reg.exe to the end of the tool
reg_add() { wine reg add "$@" /f >/dev/null 2>&1; }

# A user whose hive is present: shell folders in the older layout.
session_user() {
  local sid="$1" profile="$2"
  local key="HKU\\$sid\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders"
  reg_add "$key" /v AppData /t REG_SZ /d "$profile\\Application Data" &&
    reg_add "$key" /v "Local AppData" /t REG_SZ /d "$profile\\Local Settings\\Application Data" &&
    reg_add "$key" /v "Local Settings" /t REG_SZ /d "$profile\\Local Settings" &&
    mkdir -p "$(qv_unix_path "$E2E_PREFIX" "$profile")/Local Settings/Temp" \
      "$(qv_unix_path "$E2E_PREFIX" "$profile")/Application Data" \
      "$(qv_unix_path "$E2E_PREFIX" "$profile")/Local Settings/Application Data"
}

# A registration of a session user with its data folders and listed files. Appends what the
# registration owns (its folders' contents and its listed files, unix paths) to the file $4.
session_registration() {
  local sid="$1" profile="$2" keypath="$3" owned="$4" lang="$5" full="$6"
  local release="${keypath%\\*}"
  release="${release##*\\}"
  local appdata="$profile\\Application Data"
  local local_appdata="$profile\\Local Settings\\Application Data"
  local roaming="$appdata\\Brennard\\$full\\$release\\$lang"
  local local_root="$local_appdata\\Brennard\\$full\\$release\\$lang"
  reg_add "HKU\\$sid\\$keypath" /v RoamableRootFolder /t REG_SZ /d "$roaming" &&
    reg_add "HKU\\$sid\\$keypath" /v LocalRootFolder /t REG_SZ /d "$local_root" || return 1
  qv_add_data_folders "$E2E_PREFIX" "$roaming" "$local_root"
  find "$(qv_unix_path "$E2E_PREFIX" "$roaming")" "$(qv_unix_path "$E2E_PREFIX" "$local_root")" >>"$owned"
  if [ -s "$QV_SOURCE/res/filelist132.txt" ]; then
    qv_expand_list "$QV_SOURCE/res/filelist132.txt" "$keypath" "$roaming" "$local_root" \
      "$appdata" "$profile\\Local Settings\\Temp" | qv_create_listed "$E2E_PREFIX" >>"$owned"
  fi
}

net='C:\users\svc-network'
loc='C:\users\svc-local'
cleaned="$E2E_WORK/cleaned.txt"   # what NETWORK SERVICE's two registrations own
kept="$E2E_WORK/kept.txt"         # what LOCAL SERVICE's registration owns
: >"$cleaned"
: >"$kept"
setup() {
  session_user S-1-5-20 "$net" && session_user S-1-5-19 "$loc" &&
    session_registration S-1-5-20 "$net" 'Software\Brennard\Ovaline\R16.0\OVLN-201:407' "$cleaned" deu "Ovaline 2004" &&
    session_registration S-1-5-20 "$net" 'Software\Brennard\Ovaline Sketch\R9\OVSK-201:409' "$cleaned" enu "Ovaline Sketch 2004" &&
    session_registration S-1-5-19 "$loc" 'Software\Brennard\Ovaline\R16.0\OVLN-201:407' "$kept" deu "Ovaline 2004"
}
e2e_check "the users' hives and registrations are set up" setup

# The paths below drive_c alone (the shared snapshot also holds contents and the registry).
drive_c_paths() { find "$E2E_PREFIX/drive_c" | LC_ALL=C sort; }
drive_c_paths >"$E2E_WORK/before.txt"

e2e_start_tool
# Neither registration is on the machine; the two users share the German one, listed in profile
# order (S-1-5-19 before S-1-5-20).
e2e_check "the dialog appears" e2e_wait_dialog
e2e_check "both registrations are listed with their users" test "$(e2e_tree)" = "[x] Ovaline 2004 (German)
  [x] LOCAL SERVICE
  [x] NETWORK SERVICE
[x] Ovaline Sketch 2004 (English)
  [x] NETWORK SERVICE"

e2e_click_checkbox "LOCAL SERVICE" "Ovaline 2004 (German)"
selection="[x] Ovaline 2004 (German)
  [ ] LOCAL SERVICE
  [x] NETWORK SERVICE
[x] Ovaline Sketch 2004 (English)
  [x] NETWORK SERVICE"
e2e_check "LOCAL SERVICE is unchecked" e2e_wait_tree "$selection"

# Enter: the clean-up button is the default button.
e2e_key Return
e2e_check "Enter asks for confirmation" e2e_wait_msgbox
e2e_check "the confirmation asks whether to delete the selected user data" \
  test "$(e2e_msgbox_field text-hex)" = "$(e2e_string_hex IDS_CONFIRM_DELETE)"
e2e_check "the confirmation's caption is the tool's" \
  test "$(e2e_msgbox_field caption-hex)" = "$(e2e_string_hex IDS_CAPTION)"
e2e_check "the confirmation's default and focused button is Cancel" \
  env LC_ALL=C grep -aqE '^button 2 .* default focus$' "$E2E_WORK/msgbox.txt"

# Enter in the confirmation takes its default: Cancel. Nothing changes.
e2e_key Return
e2e_check "Enter in the confirmation closes it" qv_poll 60 e2e_no_msgbox
e2e_check "after Cancel the tree and its check boxes are as they were" e2e_wait_tree "$selection"
all_exist() {
  local path
  while IFS= read -r path; do [ -e "$path" ] || return 1; done <"$1"
}
e2e_check "after Cancel no file is deleted" all_exist "$cleaned"
e2e_check "after Cancel no key is deleted" e2e_key_exists 'HKU\S-1-5-20\Software\Brennard\Ovaline\R16.0\OVLN-201:407'

# Enter again, Tab to OK, Enter.
e2e_key Return
e2e_check "Enter asks again" e2e_wait_msgbox
e2e_key Tab
e2e_check "Tab moves the focus to OK" qv_poll 40 e2e_ok_focused
e2e_key Return
deleted_box() {
  e2e_msgbox && [ "$(e2e_msgbox_field text-hex)" = "$(e2e_string_hex IDS_DELETED)" ]
}
e2e_check "the tool reports that the selected user data was deleted" qv_poll 120 deleted_box
e2e_key Return
e2e_check "the report closes with Enter" qv_poll 60 e2e_no_msgbox

# The tree is rebuilt from the registry: only the unchecked user's registration is left, checked.
e2e_check "the rebuilt tree holds only what was not checked, checked again" \
  e2e_wait_tree "[x] Ovaline 2004 (German)
  [x] LOCAL SERVICE"
e2e_check "the clean-up button stays enabled" test "$(e2e_field ok)" = enabled

# Registry: both keys of NETWORK SERVICE are gone, and with them the release, product and company
# keys that were left without sub keys; the shell folders beside them stay.
e2e_check "NETWORK SERVICE's company key is gone with both registrations" \
  bash -c "! wine reg query 'HKU\\S-1-5-20\\Software\\Brennard' >/dev/null 2>&1"
e2e_check "NETWORK SERVICE's other keys stay" \
  e2e_key_exists 'HKU\S-1-5-20\Software\Microsoft\Windows\CurrentVersion\Explorer\Shell Folders'
local_values_kept() {
  wine reg query 'HKU\S-1-5-19\Software\Brennard\Ovaline\R16.0\OVLN-201:407' /v LocalRootFolder 2>/dev/null |
    tr -d '\r' | grep -qF 'svc-local\Local Settings\Application Data\Brennard\Ovaline 2004\R16.0\deu'
}
e2e_check "LOCAL SERVICE's registration stays with its values" local_values_kept

# Files: everything NETWORK SERVICE's registrations owned is gone; what went beyond that are only
# folders on the way up from it that the deletion left empty, never the users' or the machine's
# well-known folders; LOCAL SERVICE's data and everything else stays.
drive_c_paths >"$E2E_WORK/after.txt"
LC_ALL=C comm -23 "$E2E_WORK/before.txt" "$E2E_WORK/after.txt" >"$E2E_WORK/removed.txt"
none_exist() {
  local path
  while IFS= read -r path; do [ ! -e "$path" ] || { echo "  still there: $path"; return 1; }; done <"$1"
}
e2e_check "NETWORK SERVICE's data folders and listed files are gone" none_exist "$cleaned"

removed_only_owned_or_emptied_parents() {
  local path ok=0
  while IFS= read -r path; do
    grep -qxF "$path" "$cleaned" && continue
    # A parent folder of something removed, now absent because it was left empty.
    if grep -qF "$path/" "$cleaned"; then continue; fi
    echo "  removed but not owned: $path"
    ok=1
  done <"$E2E_WORK/removed.txt"
  return "$ok"
}
e2e_check "nothing else is removed except emptied parent folders" removed_only_owned_or_emptied_parents

# Listed files that both users' lists name (the machine's shared product files) go with the first
# user; LOCAL SERVICE's own data stays whole.
kept_own() {
  local path
  while IFS= read -r path; do
    grep -qxF "$path" "$cleaned" && continue
    [ -e "$path" ] || { echo "  gone: $path"; return 1; }
  done <"$kept"
}
e2e_check "LOCAL SERVICE's data folders and its own listed files stay" kept_own

well_known_stay() {
  local profile folder
  for profile in "$net" "$loc"; do
    for folder in "" "\\Application Data" "\\Local Settings" "\\Local Settings\\Application Data" \
        "\\Local Settings\\Temp"; do
      [ -d "$(qv_unix_path "$E2E_PREFIX" "$profile$folder")" ] || { echo "  gone: $profile$folder"; return 1; }
    done
  done
  [ -d "$E2E_PREFIX/drive_c/ProgramData" ] && [ -d "$E2E_PREFIX/drive_c/Program Files" ] &&
    [ -f "$E2E_PREFIX/drive_c/ProgramData/Brennard/Other Product/keep.txt" ] &&
    [ -f "$(qv_unix_path "$E2E_PREFIX" "$runner_profile")/AppData/Roaming/Brennard/Ovaline 2004/R16.0/deu/keep.txt" ]
}
e2e_check "the users' and the machine's well-known folders and unrelated files stay" well_known_stay

# A second run takes the rest. The tree is then empty, and since a clean-up has run, the status
# line says only that there are no invalid entries; the button is disabled for good.
e2e_key Return
e2e_check "Enter asks for the second run" e2e_wait_msgbox
e2e_key Tab
e2e_check "Tab moves the focus to OK again" qv_poll 40 e2e_ok_focused
e2e_key Return
e2e_check "the second run reports the deletion" qv_poll 120 deleted_box
e2e_key Return
e2e_check "the report closes" qv_poll 60 e2e_no_msgbox
empty_after_cleanup() {
  e2e_dump && [ -z "$(e2e_tree)" ] && [ "$(e2e_field status-hex)" = "$(e2e_string_hex IDS_NO_INVALID_ENTRIES)" ]
}
e2e_check "the tree is empty and the status line shows IDS_NO_INVALID_ENTRIES alone" qv_poll 40 empty_after_cleanup
e2e_check "the clean-up button is disabled" test "$(e2e_field ok)" = disabled
e2e_check "LOCAL SERVICE's company key is gone too" \
  bash -c "! wine reg query 'HKU\\S-1-5-19\\Software\\Brennard' >/dev/null 2>&1"
e2e_check "LOCAL SERVICE's data folders are gone" none_exist "$kept"
e2e_check "the well-known folders and unrelated files still stay" well_known_stay

e2e_key Escape
e2e_check "Esc closes the dialog and the tool ends" qv_poll 60 e2e_tool_ended

e2e_finish
