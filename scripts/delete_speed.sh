#!/usr/bin/env bash
# Sets the machine up, cross-builds qv_delete_speed.exe and runs it under Wine in a fresh prefix of
# its own (build/speed-prefix): a tree of 10,000 small files (100 folders of 100) deleted by the
# shell (SHFileOperationA) and by the tool's deleter, alternately, for a few rounds. Prints the
# median time of each and their ratio, and exits non-zero when the deleter costs more than 1.2
# times what the shell's deletion costs, or when a deletion failed.
#   bash scripts/delete_speed.sh [rounds]      (default 5)
set -euo pipefail

QV_SOURCE=$(cd "$(dirname "$0")/.." && pwd)
cd "$QV_SOURCE"
. scripts/lib/speed.sh

rounds="${1:-5}"
limit="1.2"

qv_speed_prepare "delete speed" qv_delete_speed speed-prefix
log="$QV_BUILD/delete-speed.log"

# The shell may open progress windows: a virtual X server of our own, as for the tests.
unset DISPLAY
qv_start_display
cleanup() {
  qv_end_wine
  qv_stop_display
}
trap cleanup EXIT

qv_speed_run "delete speed" "$log" "$QV_BUILD/mingw/qv_delete_speed.exe" "$rounds" 100 100
qv_speed_verdict "delete speed" "$log" "ratio (deleter / shell)" "$limit" \
  "the deleter costs RATIOx the shell's deletion"
