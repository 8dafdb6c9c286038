#!/usr/bin/env bash
# Sets the machine up, cross-builds qv_scan_speed.exe and runs it under Wine in a fresh prefix of
# its own (build/scan-speed-prefix): 100 profiles whose hive files hold about 1 MB each, scanned
# by the console scan (both products, as an administrator, writing nothing) and loaded and
# unloaded by a bare loop, alternately, for a few rounds, on one core. Prints the median time of each, their
# ratio and where one scan's time went, checks that the profiles were removed again, and exits
# non-zero when the scan costs more than 1.2 times the bare loop, or when anything failed.
#   bash scripts/scan_speed.sh [rounds]      (default 9)
set -euo pipefail

QV_SOURCE=$(cd "$(dirname "$0")/.." && pwd)
cd "$QV_SOURCE"
. scripts/lib/wine.sh
. scripts/lib/build.sh

rounds="${1:-9}"
profiles=100
kilobytes=1024
limit="1.2"

bash scripts/setup.sh

echo "scan speed: building qv_scan_speed.exe"
qv_configure mingw >/dev/null
qv_build mingw --target qv_scan_speed

prefix="$QV_BUILD/scan-speed-prefix"
log="$QV_BUILD/scan-speed.log"
echo "scan speed: a fresh Wine prefix in $prefix"
qv_new_prefix "$prefix"
qv_wine_env "$prefix"
# A console program: no window, no display.
unset DISPLAY
trap qv_end_wine EXIT

# One core for the program and its Wine server alike. Every registry and file call is a round
# trip between the two processes; spread over two cores, where the scheduler puts them adds 30 to
# 55 us to each call and varies from run to run, on one core a call costs 8 to 10 us. The scan and
# the bare loop run the same way, so the ratio compares their work, not their placement. The
# server started by the prefix's setup is ended first, so that the one started now is pinned too.
wineserver -k 2>/dev/null || true
wineserver -w 2>/dev/null || true
pin=()
if command -v taskset >/dev/null 2>&1; then pin=(taskset -c 0); fi
status=0
"${pin[@]}" wine "$QV_BUILD/mingw/qv_scan_speed.exe" "$rounds" "$profiles" "$kilobytes" |
  tr -d '\r' | tee "$log" || status=$?
if [ "$status" -ne 0 ]; then
  echo "scan speed: the measurement failed (exit $status)"
  exit 1
fi

# The program removes its profiles, hive files and keys; nothing of them may be left.
profile_list='HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion\ProfileList'
if wine reg query "$profile_list" 2>/dev/null | tr -d '\r' | grep 'S-1-5-21-1-2-3-' >/dev/null ||
  wine reg query 'HKLM\Software\Brennard' >/dev/null 2>&1 ||
  [ -n "$(find "$prefix/drive_c/users" -maxdepth 4 -name 'qv-scan-speed-*' -print -quit)" ]; then
  echo "scan speed: the profiles of the measurement were not all removed"
  exit 1
fi

ratio=$(sed -n 's/^ratio (scan \/ bare loop): //p' "$log")
if [ -z "$ratio" ]; then
  echo "scan speed: no ratio in the output"
  exit 1
fi
if awk -v r="$ratio" -v l="$limit" 'BEGIN { exit !(r <= l) }'; then
  echo "scan speed: the scan costs ${ratio}x the bare load-and-unload loop (at most ${limit}x): met"
else
  echo "scan speed: the scan costs ${ratio}x the bare load-and-unload loop (at most ${limit}x): NOT met"
  exit 3
fi
