#!/usr/bin/env bash
# Sets the machine up and runs every test: the formatting check, the native unit tests (ASan,
# UBSan), the fuzz harnesses for a bounded number of runs each, the Windows test program under
# Wine in a fresh prefix, and the end-to-end tests of quorvane.exe under Wine on a virtual X
# server. Runs without a terminal or standard input (CI). Exits non-zero when anything fails; the
# last line it prints is "N passed, N failed", counting the tests ctest ran, one per fuzz harness,
# the checks of the end-to-end tests, and one failure for each step that could not run, and one
# for each file whose layout differs from .clang-format, and one for the check that every status
# return is [[nodiscard]].
set -uo pipefail

QV_SOURCE=$(cd "$(dirname "$0")/.." && pwd)
cd "$QV_SOURCE" || exit 1
. scripts/lib/wine.sh
. scripts/lib/build.sh
. scripts/lib/counts.sh

finish() {
  echo
  echo "$passed passed, $failed failed"
  [ "$failed" -eq 0 ]
  exit
}

step() { echo; echo "=== $*"; }

step "setup"
if ! bash scripts/setup.sh </dev/null; then
  echo "FAIL: setting up the machine"
  failed=$((failed + 1))
  finish
fi
mkdir -p "$QV_BUILD"

step "formatting"
# Every C++ file of the repository is laid out as its .clang-format says; a file that differs
# counts as one failure.
drift=0
while IFS= read -r -d '' file; do
  if ! clang-format --style=file "$file" | cmp -s - "$file"; then
    echo "FAIL: $file differs from .clang-format (clang-format -i $file)"
    drift=$((drift + 1))
  fi
done < <(git ls-files -z '*.cpp' '*.h' 2>/dev/null)
if [ "$drift" -eq 0 ]; then
  echo "PASS: every C++ file follows .clang-format"
  passed=$((passed + 1))
else
  failed=$((failed + drift))
fi

step "deployment scripts and JSON schemas"
# The .ps1 scripts cannot run here (no PowerShell): they are checked against docs/fleet.md. The
# schemas are checked against hand-written examples and the JSON examples of the Markdown files;
# the end-to-end tests' documents are checked after those tests (tests/e2e/run_all.sh).
python3 scripts/check_deploy_scripts.py 2>&1 | tee "$QV_BUILD/deploy-scripts.log"
count_summary "$QV_BUILD/deploy-scripts.log" "the deployment scripts' checks"
python3 scripts/check_schemas.py --self-test --markdown README.md docs/*.md 2>&1 |
  tee "$QV_BUILD/schema-examples.log"
count_summary "$QV_BUILD/schema-examples.log" "the schema checks"

step "statuses"
# Every function that returns a status is [[nodiscard]] (one check: PASS, or FAIL with the list).
if python3 scripts/check_nodiscard.py; then
  passed=$((passed + 1))
else
  failed=$((failed + 1))
fi

step "native build and unit tests"
if qv_configure native && qv_build native; then
  qv_ctest native --parallel 2 --timeout 600 </dev/null 2>&1 | tee "$QV_BUILD/native-tests.log"
  count_ctest "$QV_BUILD/native-tests.log"
else
  echo "FAIL: native build"
  failed=$((failed + 1))
fi

step "fuzzing (libFuzzer harnesses, bounded runs)"
if qv_configure fuzz && qv_build fuzz; then
  bash scripts/fuzz.sh </dev/null 2>&1 | tee "$QV_BUILD/fuzz-tests.log"
  count_summary "$QV_BUILD/fuzz-tests.log" "the fuzz harnesses"
else
  echo "FAIL: fuzz build"
  failed=$((failed + 1))
fi

step "Windows cross build"
if ! { qv_configure mingw && qv_build mingw; }; then
  echo "FAIL: Windows cross build"
  failed=$((failed + 1))
  finish
fi

step "release package"
# The zip holds both programs, the deployment scripts, the README and the licence in one folder.
package_lists_everything() {
  local listing want
  qv_build mingw --target package >/dev/null || return 1
  listing=$(cmake -E tar tf "$QV_BUILD"/mingw/quorvane-*.zip) || return 1
  for want in quorvane.exe quorvane-cli.exe quorvane-detect.cmd quorvane-remediate.cmd \
    intune-detect.ps1 intune-remediate.ps1 configmgr-discovery.ps1 README.md LICENSE; do
    grep -qx "quorvane/$want" <<<"$listing" || { echo "  missing: $want"; return 1; }
  done
}
if package_lists_everything; then
  echo "PASS: the release package holds both programs, the deployment scripts, the README and the licence"
  passed=$((passed + 1))
else
  echo "FAIL: the release package"
  failed=$((failed + 1))
fi

# Every Windows program runs on an X server of our own, also when the caller has a display.
unset DISPLAY
if ! qv_start_display; then
  echo "FAIL: starting Xvfb"
  failed=$((failed + 1))
  finish
fi
trap qv_stop_display EXIT

step "Windows tests under Wine"
prefix="$QV_BUILD/wine-prefix"
if qv_new_prefix "$prefix"; then
  (
    qv_wine_env "$prefix"
    qv_ctest mingw --timeout 1200 </dev/null 2>&1
    wineserver -k 2>/dev/null
    wineserver -w 2>/dev/null
  ) | tee "$QV_BUILD/windows-tests.log"
  count_ctest "$QV_BUILD/windows-tests.log"
else
  echo "FAIL: creating the Wine prefix $prefix"
  failed=$((failed + 1))
fi

step "end-to-end tests under Wine"
timeout 2700 bash tests/e2e/run_all.sh </dev/null 2>&1 | tee "$QV_BUILD/e2e-tests.log"
count_summary "$QV_BUILD/e2e-tests.log" "the end-to-end tests"

finish
