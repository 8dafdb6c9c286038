# shellcheck shell=bash
# Adding up the results of the test runs that scripts/test.sh and tests/e2e/run_all.sh make. Source
# it; it keeps its totals in $passed and $failed, which start at 0 here.

passed=0
failed=0

# Adds the counts of a ctest run from its summary ("95% tests passed, 2 tests failed out of 40");
# a run without a summary counts as one failure.
count_ctest() {
  local log="$1" line
  line=$(grep -E '[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -n 1)
  if [[ "$line" =~ ([0-9]+)\ tests?\ failed\ out\ of\ ([0-9]+) ]]; then
    passed=$((passed + BASH_REMATCH[2] - BASH_REMATCH[1]))
    failed=$((failed + BASH_REMATCH[1]))
  else
    echo "FAIL: no test summary in $log"
    failed=$((failed + 1))
  fi
}

# Adds the counts of a run whose log ends with "N passed, N failed" (the fuzz harnesses, an
# end-to-end script, the schema checks); a log without that last line counts as one failure, named
# by $2. A non-zero $3 (the run's exit status) with no failure counted is one failure more.
count_summary() {
  local log="$1" what="$2" status="${3:-0}" summary
  summary=$(tail -n 1 "$log")
  if [[ "$summary" =~ ^([0-9]+)\ passed,\ ([0-9]+)\ failed$ ]]; then
    passed=$((passed + BASH_REMATCH[1]))
    failed=$((failed + BASH_REMATCH[2]))
    if [ "$status" -ne 0 ] && [ "${BASH_REMATCH[2]}" -eq 0 ]; then failed=$((failed + 1)); fi
  else
    echo "FAIL: $what ended without their summary (status $status)"
    failed=$((failed + 1))
  fi
}
