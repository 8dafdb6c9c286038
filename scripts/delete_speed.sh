#!/usr/bin/env bash
# Sets the machine up, cross-builds qv_delete_speed.exe and runs it under Wine in a fresh prefix of
# its own (build/speed-prefix): a tree of 10,000 small files (100 folders of 100) deleted by the
# shell (SHFileOperationA), by the tool's deleter and by the deleter keeping a backup (the tree
# moved into a backup folder), in turn, for a few rounds. Prints the median time of each and the
# ratios, and exits non-zero when the deleter costs more than 1.2 times what the shell's deletion
# costs, when a clean-up with a backup costs more than 1.3 times one without, or when a deletion
# failed.
#   bash scripts/delete_speed.sh [rounds]      (default 5)
set -euo pipefail

QV_SOURCE=$(cd "$(dirname "$0")/.." && pwd)
cd "$QV_SOURCE"
. scripts/lib/speed.sh

rounds="${1:-5}"
limit="1.2"
backup_limit="1.3"

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
qv_speed_need_ratio "delete speed" "$log" "ratio (deleter / shell)"
status=0
qv_speed_check "delete speed" "$log" "ratio (clean-up with backup / without)" "$backup_limit" \
  "a clean-up with a backup costs RATIOx one without" || status=$?
qv_speed_verdict "delete speed" "$log" "ratio (deleter / shell)" "$limit" \
  "the deleter costs RATIOx the shell's deletion"
exit "$status"
