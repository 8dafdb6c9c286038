#!/usr/bin/env bash
# Runs every end-to-end test (tests/e2e/*.sh except the helpers) against the Windows build under
# Wine, each in a prefix of its own copied from one fresh base prefix. Needs the mingw build
# (quorvane.exe, quorvane-cli.exe, tree_probe.exe, lock_holder.exe); starts an X server of its own
# when $DISPLAY is not set. Prints every check and ends with "N passed, N failed" over all checks.
set -uo pipefail

QV_SOURCE=$(cd "$(dirname "$0")/../.." && pwd)
. "$QV_SOURCE/scripts/lib/wine.sh"
. "$QV_SOURCE/scripts/lib/build.sh"
. "$QV_SOURCE/scripts/lib/counts.sh"
export QV_SOURCE QV_BUILD

for f in quorvane.exe quorvane-cli.exe tree_probe.exe lock_holder.exe; do
  if [ ! -f "$QV_BUILD/mingw/$f" ]; then
    echo "e2e: $QV_BUILD/mingw/$f is missing; build the mingw preset first" >&2
    echo "0 passed, 1 failed"
    exit 1
  fi
done

if [ -z "${DISPLAY:-}" ]; then
  qv_start_display || { echo "0 passed, 1 failed"; exit 1; }
  trap qv_stop_display EXIT
fi

export QV_E2E_BASE_PREFIX="$QV_BUILD/e2e/base-prefix"
echo "e2e: preparing a fresh base prefix"
if ! qv_new_prefix "$QV_E2E_BASE_PREFIX"; then
  echo "e2e: wineboot failed" >&2
  echo "0 passed, 1 failed"
  exit 1
fi

# Every JSON document the tests produce is copied into this folder (by lib.sh, which runs the
# console program) and validated against its schema after the last test.
export QV_E2E_JSON_DIR="${QV_E2E_JSON_DIR:-$QV_BUILD/e2e/json}"
rm -rf "$QV_E2E_JSON_DIR"
mkdir -p "$QV_E2E_JSON_DIR"

for test in "$QV_SOURCE"/tests/e2e/*.sh; do
  case "$(basename "$test")" in lib.sh | run_all.sh) continue ;; esac
  echo "=== $(basename "$test" .sh)"
  log="$QV_BUILD/e2e/$(basename "$test" .sh).log"
  mkdir -p "$QV_BUILD/e2e"
  bash "$test" 2>&1 | tee "$log"
  count_summary "$log" "$(basename "$test" .sh)" "${PIPESTATUS[0]}"
done

echo "=== the documents' schemas"
log="$QV_BUILD/e2e/schemas.log"
python3 "$QV_SOURCE/scripts/check_schemas.py" --documents "$QV_E2E_JSON_DIR" 2>&1 | tee "$log"
count_summary "$log" "the schema check"

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
