#!/usr/bin/env bash
# Sets the machine up, cross-builds qv_scan_speed.exe and runs it under Wine in a fresh prefix of
# its own (build/scan-speed-prefix): 100 profiles whose hive files hold about 1 MB each, scanned
# by the console scan (both products, as an administrator, writing nothing), refreshed by the
# dialog (its one pass over the profiles into a real tree control, on an X server of its own) and
# loaded and unloaded by a bare loop, in turn, for a few rounds, on one core. Prints the median
# time of each, their ratios and where one scan's time went, checks that the profiles were removed
# again, and exits non-zero when the scan or the dialog's refresh costs more than 1.2 times the
# bare loop, or when anything failed.
#   bash scripts/scan_speed.sh [rounds]      (default 9)
set -euo pipefail

QV_SOURCE=$(cd "$(dirname "$0")/.." && pwd)
cd "$QV_SOURCE"
. scripts/lib/speed.sh

rounds="${1:-9}"
profiles=100
kilobytes=1024
limit="1.2"

qv_speed_prepare "scan speed" qv_scan_speed scan-speed-prefix
prefix="$QV_BUILD/scan-speed-prefix"
log="$QV_BUILD/scan-speed.log"
# The dialog's window and tree need a display: one of its own.
unset DISPLAY
qv_start_display
trap 'qv_end_wine; qv_stop_display' EXIT

# One core for the program and its Wine server alike (see qv_speed_one_core).
qv_speed_one_core
qv_speed_run "scan speed" "$log" "$QV_BUILD/mingw/qv_scan_speed.exe" "$rounds" "$profiles" \
  "$kilobytes"

# The program removes its profiles, hive files and keys; nothing of them may be left.
profile_list='HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion\ProfileList'
if wine reg query "$profile_list" 2>/dev/null | tr -d '\r' | grep 'S-1-5-21-1-2-3-' >/dev/null ||
  wine reg query 'HKLM\Software\Wow6432Node\Brennard' >/dev/null 2>&1 ||
  [ -n "$(find "$prefix/drive_c/users" -maxdepth 4 -name 'qv-scan-speed-*' -print -quit)" ]; then
  echo "scan speed: the profiles of the measurement were not all removed"
  exit 1
fi

qv_speed_need_ratio "scan speed" "$log" "ratio (scan / bare loop)"
qv_speed_need_ratio "scan speed" "$log" "ratio (dialog refresh / bare loop)"
verdict=0
qv_speed_check "scan speed" "$log" "ratio (scan / bare loop)" "$limit" \
  "the scan costs RATIOx the bare load-and-unload loop" || verdict=3
qv_speed_check "scan speed" "$log" "ratio (dialog refresh / bare loop)" "$limit" \
  "the dialog's refresh costs RATIOx the bare load-and-unload loop" || verdict=3
exit "$verdict"
