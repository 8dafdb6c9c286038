#!/usr/bin/env bash
# Runs the fuzz harnesses of the "fuzz" preset (build/fuzz/<name>_fuzz, from fuzz/<name>_fuzz.cpp)
# each over its corpus fuzz/corpus/<name> for a bounded number of runs with a fixed seed, so that a
# run of the test command is repeatable. The corpus is only read: what the run finds goes to a
# scratch folder (build/fuzz-work/<name>), a crashing input to build/fuzz-work/artifacts/. Prints
# PASS or FAIL per harness and ends with "N passed, N failed".
#
#
# The long mode (QV_FUZZ_MINUTES=N) runs each harness for N minutes instead, with a random seed
# (-seed=0) and no bound on the runs, so that every run explores something new; it is not part of
# the test command. What it finds is kept in the scratch folder for a look (a crashing input stays
# in the artifacts folder, to be replayed and added to the corpus with its fix). The PASS line
# gives the executions of each harness and their rate.
#
#   bash scripts/fuzz.sh                  # every harness
#   bash scripts/fuzz.sh settings_file    # one harness
#   QV_FUZZ_RUNS=100000 QV_FUZZ_SEED=0 bash scripts/fuzz.sh placeholders   # longer, random seed
#   QV_FUZZ_MINUTES=10 bash scripts/fuzz.sh                                 # long mode
set -uo pipefail

QV_SOURCE=$(cd "$(dirname "$0")/.." && pwd)
cd "$QV_SOURCE" || exit 1
. scripts/lib/build.sh

# Runs per harness, chosen so that all of them take about half a minute of processor time (a
# quarter of a minute on two idle cores): the text harnesses run tens of thousands of inputs a
# second, the machine harnesses build a whole fake machine per input and run a few dozen.
declare -A runs=(
  [sid_text]=100000
  [placeholders]=80000
  [settings_file]=500
  [product_files]=450
)

names=("$@")
if [ "${#names[@]}" -eq 0 ]; then
  for source in fuzz/*_fuzz.cpp; do
    name=$(basename "$source" _fuzz.cpp)
    names+=("$name")
  done
fi

work="$QV_BUILD/fuzz-work"
mkdir -p "$work/artifacts"

# The bounds of one harness's run: a fixed number of runs with a fixed seed, or in the long mode a
# time with a random seed (the run ends at the time, which is then no failure).
minutes="${QV_FUZZ_MINUTES:-}"
if [ -n "$minutes" ] && ! [[ "$minutes" =~ ^[1-9][0-9]*$ ]]; then
  echo "QV_FUZZ_MINUTES must be a whole number of minutes, not '$minutes'" >&2
  exit 2
fi
bounds() {
  local name="$1"
  if [ -n "$minutes" ]; then
    echo "-runs=-1 -seed=${QV_FUZZ_SEED:-0} -max_total_time=$((minutes * 60))"
  else
    # -max_total_time only keeps a badly overloaded machine from stretching the step.
    echo "-runs=${QV_FUZZ_RUNS:-${runs[$name]:-10000}} -seed=${QV_FUZZ_SEED:-1} -max_total_time=120"
  fi
}

# Runs one harness; prints its PASS or FAIL line and leaves the verdict in $work/<name>.verdict.
run_harness() {
  local name="$1"
  local program="$QV_BUILD/fuzz/${name}_fuzz"
  local corpus="$QV_SOURCE/fuzz/corpus/$name"
  local scratch="$work/$name"
  local log="$work/$name.log"
  local start=$SECONDS execs
  if [ ! -x "$program" ] || [ ! -d "$corpus" ]; then
    echo "FAIL: $name (no program $program or no corpus $corpus)"
    echo FAIL >"$work/$name.verdict"
    return
  fi
  rm -rf "$scratch"
  mkdir -p "$scratch"
  # -timeout: one input taking this long is a hang and fails the run.
  # shellcheck disable=SC2046  # the bounds are separate words
  if "$program" $(bounds "$name") \
      -timeout=30 -rss_limit_mb=2048 -print_final_stats=1 \
      -artifact_prefix="$work/artifacts/$name-" "$scratch" "$corpus" >"$log" 2>&1 </dev/null; then
    execs=$(grep -aoE 'stat::number_of_executed_units: *[0-9]+' "$log" | grep -oE '[0-9]+$')
    local seconds=$((SECONDS - start)) found
    found=$(find "$scratch" -type f | wc -l)
    echo "PASS: $name (${execs:-?} inputs in $seconds s, $(( ${execs:-0} / (seconds > 0 ? seconds : 1) )) a second, $found new in $scratch)"
    echo PASS >"$work/$name.verdict"
  else
    {
      echo "FAIL: $name (log: $log)"
      grep -aE -A2 'property broken|ERROR: (AddressSanitizer|LeakSanitizer|libFuzzer)|runtime error' \
        "$log" | head -n 12
      grep -aE 'Test unit written to' "$log" | head -n 1
    }
    echo FAIL >"$work/$name.verdict"
  fi
}

# Two harnesses at a time: the machine has two cores.
for name in "${names[@]}"; do
  rm -f "$work/$name.verdict"
  while [ "$(jobs -rp | wc -l)" -ge 2 ]; do wait -n; done
  run_harness "$name" &
done
wait

passed=0
failed=0
for name in "${names[@]}"; do
  if [ "$(cat "$work/$name.verdict" 2>/dev/null)" = PASS ]; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
  fi
done

echo
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
