# shellcheck shell=bash
# Shared by the speed scripts (delete_speed.sh, scan_speed.sh): preparing the machine, the
# program and a fresh Wine prefix, running the program under Wine and holding the ratio it prints
# against the script's limit. Source it with QV_SOURCE set; it brings wine.sh and build.sh along.
. "$QV_SOURCE/scripts/lib/wine.sh"
. "$QV_SOURCE/scripts/lib/build.sh"

# Sets the machine up, cross-builds the program's target and makes a fresh Wine prefix
# $QV_BUILD/PREFIX for it, which the rest of the script runs in.
#   qv_speed_prepare NAME TARGET PREFIX
qv_speed_prepare() {
  local name="$1" target="$2" prefix="$QV_BUILD/$3"
  bash "$QV_SOURCE/scripts/setup.sh"
  echo "$name: building $target.exe"
  qv_configure mingw >/dev/null
  qv_build mingw --target "$target"
  echo "$name: a fresh Wine prefix in $prefix"
  qv_new_prefix "$prefix"
  qv_wine_env "$prefix"
}

# What qv_speed_run puts before wine: nothing, or the pinning of qv_speed_one_core.
qv_speed_pin=()

# Runs the program and its Wine server on one core (where taskset exists). Every registry and file
# call is a round trip between the two processes; spread over two cores, where the scheduler puts
# them adds 30 to 55 us to each call and varies from run to run, on one core a call costs 8 to 10
# us. What a program compares runs the same way, so its ratio compares their work, not their
# placement. The server started by the prefix's setup is ended first, so that the one started by
# qv_speed_run is pinned too.
qv_speed_one_core() {
  wineserver -k 2>/dev/null || true
  wineserver -w 2>/dev/null || true
  if command -v taskset >/dev/null 2>&1; then qv_speed_pin=(taskset -c 0); fi
}

# Runs the program under Wine; its output, without carriage returns, is shown and kept in $2.
# Ends the script (exit 1) when the program fails.
#   qv_speed_run NAME LOG PROGRAM [ARGUMENTS...]
qv_speed_run() {
  local name="$1" log="$2" status=0
  shift 2
  "${qv_speed_pin[@]}" wine "$@" | tr -d '\r' | tee "$log" || status=$?
  if [ "$status" -ne 0 ]; then
    echo "$name: the measurement failed (exit $status)"
    exit 1
  fi
}

# Reads the ratio the program printed on its line "LABEL: <ratio>" and says whether it meets the
# limit, in WHAT with RATIO replaced by the ratio ("?" when there is none). Returns 3 when the
# ratio is missing or above the limit, for a check that does not end the script by itself.
#   qv_speed_check NAME LOG LABEL LIMIT WHAT
qv_speed_check() {
  local name="$1" log="$2" label="$3" limit="$4" what="$5" ratio
  ratio=$(sed -n "s|^$label: ||p" "$log")
  if [ -n "$ratio" ] && awk -v r="$ratio" -v l="$limit" 'BEGIN { exit !(r <= l) }'; then
    echo "$name: ${what//RATIO/$ratio} (at most ${limit}x): met"
    return 0
  fi
  echo "$name: ${what//RATIO/${ratio:-?}} (at most ${limit}x): NOT met"
  return 3
}

# Ends the script with 1 when the program printed no line "LABEL: <ratio>".
#   qv_speed_need_ratio NAME LOG LABEL
qv_speed_need_ratio() {
  if ! grep -q "^$3: " "$2"; then
    echo "$1: no ratio in the output"
    exit 1
  fi
}

# The ratio's verdict that ends the script: 1 when there is no ratio, 3 when it is above the limit.
#   qv_speed_verdict NAME LOG LABEL LIMIT WHAT
qv_speed_verdict() {
  qv_speed_need_ratio "$1" "$2" "$3"
  qv_speed_check "$@" || exit 3
}
