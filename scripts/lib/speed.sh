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

# Runs the program under Wine; its output, without carriage returns, is shown and kept in $2.
# Ends the script (exit 1) when the program fails.
#   qv_speed_run NAME LOG PROGRAM [ARGUMENTS...]
qv_speed_run() {
  local name="$1" log="$2" status=0
  shift 2
  wine "$@" | tr -d '\r' | tee "$log" || status=$?
  if [ "$status" -ne 0 ]; then
    echo "$name: the measurement failed (exit $status)"
    exit 1
  fi
}

# Reads the ratio the program printed on its line "LABEL: <ratio>" and says whether it meets the
# limit, in WHAT with RATIO replaced by the ratio. Ends the script with 1 when there is no ratio,
# with 3 when the ratio is above the limit.
#   qv_speed_verdict NAME LOG LABEL LIMIT WHAT
qv_speed_verdict() {
  local name="$1" log="$2" label="$3" limit="$4" what="$5" ratio
  ratio=$(sed -n "s|^$label: ||p" "$log")
  if [ -z "$ratio" ]; then
    echo "$name: no ratio in the output"
    exit 1
  fi
  if awk -v r="$ratio" -v l="$limit" 'BEGIN { exit !(r <= l) }'; then
    echo "$name: ${what//RATIO/$ratio} (at most ${limit}x): met"
  else
    echo "$name: ${what//RATIO/$ratio} (at most ${limit}x): NOT met"
    exit 3
  fi
}
