#!/usr/bin/env bash
# A registration whose data folders name the Windows folder and another user's profile, written
# into the running user's own hive (which he can write): a clean-up of everything refuses both
# folders, reports that the user data could not be deleted, and keeps the registration listed;
# the Windows folder and the other profile keep every file.
. "$(dirname "$0")/lib.sh"

e2e_new_prefix refused_folders
qv_build_demo_machine "$E2E_PREFIX"
key='Software\Brennard\Ovaline\R16.0\OVLN-201:40A'
victim_profile='C:\users\svc-network\Documents\Secret'
qv_reg_key "$E2E_PREFIX/user.reg" "$key" "$(($(date +%s) - 30 * 86400))"
qv_reg_sz "$E2E_PREFIX/user.reg" RoamableRootFolder 'C:\windows'
qv_reg_sz "$E2E_PREFIX/user.reg" LocalRootFolder "$victim_profile"
canaries=("$(qv_unix_path "$E2E_PREFIX" 'C:\windows')/qv-canary.txt"
  "$(qv_unix_path "$E2E_PREFIX" "$victim_profile")/keep.txt")
mkdir -p "$(dirname "${canaries[1]}")"
for canary in "${canaries[@]}"; do printf 'keep\r\n' >"$canary"; done
windows_files() { find "$(qv_unix_path "$E2E_PREFIX" 'C:\windows\system32')" -maxdepth 1 | wc -l; }
system32_before=$(windows_files)
# Only now: asking Wine for the name starts the prefix's wineserver, which then holds user.reg.
runner=$(e2e_runner_name)

spanish_listed() {
  local tree
  e2e_dump || return 1
  tree=$(e2e_tree)
  [[ "$tree" == *"[x] Ovaline 2004 (Spanish)
  [x] $runner"* ]]
}
e2e_start_tool
e2e_check "the dialog appears" e2e_wait_dialog
e2e_check "the hostile registration is listed under the running user" spanish_listed

e2e_confirm_cleanup
e2e_check "the tool reports that the user data could not be deleted" e2e_result_is IDS_DELETE_FAILED
e2e_key Return
e2e_check "the report closes with Enter" qv_poll 60 e2e_no_msgbox

e2e_check "the refused registration is listed again after the clean-up" qv_poll 40 spanish_listed
e2e_check "its key stays in the running user's hive" \
  e2e_key_exists "HKU\\$QV_RUNNER_SID\\$key"
all_canaries() {
  local canary
  for canary in "${canaries[@]}"; do [ -f "$canary" ] || { echo "  gone: $canary"; return 1; }; done
}
e2e_check "the Windows folder and the other user's profile keep their files" all_canaries
e2e_check "nothing in system32 went" test "$(windows_files)" -eq "$system32_before"

e2e_key Escape
e2e_check "Esc closes the dialog and the tool ends" qv_poll 60 e2e_tool_ended

e2e_finish
