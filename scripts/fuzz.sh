#!/usr/bin/env bash
# Runs the fuzz harnesses of the "fuzz" preset (build/fuzz/<name>_fuzz, from fuzz/<name>_fuzz.cpp)
# each over its corpus fuzz/corpus/<name> for a bounded number of runs with a fixed seed, so that a
# run of the test command is repeatable. The corpus is only read: what the run finds goes to a
# scratch folder (build/fuzz-work/<name>), a crashing input to build/fuzz-work/artifacts/. Prints
# PASS or FAIL per harness and ends with "N passed, N failed".
#
#   bash scripts/fuzz.sh                  # every harness
#   bash scripts/fuzz.sh settings_file    # one harness
#   QV_FUZZ_RUNS=100000 QV_FUZZ_SEED=0 bash scripts/fuzz.sh placeholders   # longer, random seed
set -uo pipefail

QV_SOURCE=$(cd "$(dirname "$0")/.." && pwd)
cd "$QV_SOURCE" || exit 1
. scripts/lib/build.sh

# Runs per harness, chosen so that all of them take about half a minute on two cores: the text
# harnesses run tens of thousands of inputs a second, the machine harnesses build a whole fake
# machine per input and run tens to hundreds.
declare -A runs=(
  [sid_text]=200000
  [placeholders]=120000
  [settings_file]=800
  [product_files]=800
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
passed=0
failed=0
for name in "${names[@]}"; do
  program="$QV_BUILD/fuzz/${name}_fuzz"
  corpus="$QV_SOURCE/fuzz/corpus/$name"
  scratch="$work/$name"
  log="$work/$name.log"
  if [ ! -x "$program" ] || [ ! -d "$corpus" ]; then
    echo "FAIL: $name (no program $program or no corpus $corpus)"
    failed=$((failed + 1))
    continue
  fi
  rm -rf "$scratch"
  mkdir -p "$scratch"
  start=$SECONDS
  # -timeout: one input taking this long is a hang and fails the run; -max_total_time only keeps
  # a badly overloaded machine from stretching the step.
  if "$program" -runs="${QV_FUZZ_RUNS:-${runs[$name]:-10000}}" -seed="${QV_FUZZ_SEED:-1}" \
      -timeout=30 -max_total_time=120 -rss_limit_mb=2048 -print_final_stats=1 \
      -artifact_prefix="$work/artifacts/$name-" "$scratch" "$corpus" >"$log" 2>&1 </dev/null; then
    execs=$(grep -oE 'stat::number_of_executed_units: *[0-9]+' "$log" | grep -oE '[0-9]+$')
    echo "PASS: $name (${execs:-?} inputs in $((SECONDS - start)) s)"
    passed=$((passed + 1))
  else
    echo "FAIL: $name (log: $log)"
    grep -E -A2 'property broken|ERROR: (AddressSanitizer|LeakSanitizer|libFuzzer)|runtime error' "$log" | head -n 12
    grep -E 'Test unit written to' "$log" | head -n 1
    failed=$((failed + 1))
  fi
done

echo
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
