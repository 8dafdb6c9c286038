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
. scripts/lib/wine.sh
. scripts/lib/build.sh

rounds="${1:-5}"
limit="1.2"
backup_limit="1.3"

bash scripts/setup.sh

echo "delete speed: building qv_delete_speed.exe"
qv_configure mingw >/dev/null
qv_build mingw --target qv_delete_speed

prefix="$QV_BUILD/speed-prefix"
log="$QV_BUILD/delete-speed.log"
echo "delete speed: a fresh Wine prefix in $prefix"
qv_new_prefix "$prefix"
qv_wine_env "$prefix"

# The shell may open progress windows: a virtual X server of our own, as for the tests.
unset DISPLAY
qv_start_display
cleanup() {
  qv_end_wine
  qv_stop_display
}
trap cleanup EXIT

status=0
wine "$QV_BUILD/mingw/qv_delete_speed.exe" "$rounds" 100 100 | tr -d '\r' | tee "$log" || status=$?
if [ "$status" -ne 0 ]; then
  echo "delete speed: the measurement failed (exit $status)"
  exit 1
fi
ratio=$(sed -n 's/^ratio (deleter \/ shell): //p' "$log")
if [ -z "$ratio" ]; then
  echo "delete speed: no ratio in the output"
  exit 1
fi
backup_ratio=$(sed -n 's/^ratio (clean-up with backup \/ without): //p' "$log")
if [ -n "$backup_ratio" ] && awk -v r="$backup_ratio" -v l="$backup_limit" 'BEGIN { exit !(r <= l) }'; then
  echo "delete speed: a clean-up with a backup costs ${backup_ratio}x one without (at most ${backup_limit}x): met"
else
  echo "delete speed: a clean-up with a backup costs ${backup_ratio:-?}x one without (at most ${backup_limit}x): NOT met"
  status=3
fi
if awk -v r="$ratio" -v l="$limit" 'BEGIN { exit !(r <= l) }'; then
  echo "delete speed: the deleter costs ${ratio}x the shell's deletion (at most ${limit}x): met"
else
  echo "delete speed: the deleter costs ${ratio}x the shell's deletion (at most ${limit}x): NOT met"
  exit 3
fi
exit "$status"
