#!/usr/bin/env bash
# The deployment engines' batch wrappers (deploy/*.cmd), run by Wine's cmd beside
# quorvane-cli.exe as the release package lays them out: the detection script exits 1 while the
# running user has a stale registration, the remediation script cleans it up and exits 0, and the
# detection script then exits 0.
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

# The package's folder: both scripts beside the console program.
package="$E2E_PREFIX/drive_c/quorvane"
mkdir -p "$package"
cp "$QV_BUILD/mingw/quorvane-cli.exe" "$QV_SOURCE"/deploy/*.cmd "$package/"

# The exit code of a script run by Wine's cmd (its output goes to the log).
run_script() {
  (cd "$E2E_WORK" && wine cmd /c "C:\\quorvane\\$1" >>"$E2E_WORK/scripts.log" 2>&1)
  echo $?
}

e2e_check "the detection script exits 1 while a stale registration is there" \
  test "$(run_script quorvane-detect.cmd)" -eq 1
e2e_check "the remediation script cleans it up and exits 0" \
  test "$(run_script quorvane-remediate.cmd)" -eq 0
e2e_check "the registration's folders are gone" \
  test ! -e "$(qv_unix_path "$E2E_PREFIX" "$roaming")" -a ! -e "$(qv_unix_path "$E2E_PREFIX" "$local_root")"
e2e_check "the detection script then exits 0" test "$(run_script quorvane-detect.cmd)" -eq 0
e2e_check "a usage error passes through as 2" \
  test "$(run_script 'quorvane-detect.cmd --no-such-option')" -eq 2

e2e_finish
