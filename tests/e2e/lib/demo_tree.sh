# shellcheck shell=bash
# The dialog's tree of the demo machine (scripts/lib/machine.sh), shared by the tests that run on
# it. Sourced by tests/e2e/lib.sh.

# The demo tree's twelve lines in the order the tool lists them: each registration, then its
# users. "RUNNER" stands for the running user's account name.
E2E_DEMO_TREE_LINES=(
  "Ovaline 2004 (English)" "  SYSTEM" "  LOCAL SERVICE"
  "Ovaline 2004 (German)" "  NETWORK SERVICE" "  RUNNER"
  "Ovaline 2004 (French)" "  RUNNER"
  "Ovaline Sketch 2004 (English)" "  LOCAL SERVICE"
  "Ovaline Sketch 2004 (Japanese)" "  NETWORK SERVICE"
)

# The demo tree as the probe prints it. $1 gives each line's check box in order, "x" checked, "-"
# unchecked, "." for a line that is not listed; spaces are ignored, so that the marks can be
# grouped by registration. Without $1 every line is listed and checked:
#   e2e_demo_tree "--- xxx xx xx xx"   the English registration and its two users unchecked
e2e_demo_tree() {
  local marks="${1:-xxx xxx xx xx xx}" line i=0 out=""
  marks="${marks// /}"
  if [ "${#marks}" -ne "${#E2E_DEMO_TREE_LINES[@]}" ]; then
    echo "e2e_demo_tree: ${#marks} marks for ${#E2E_DEMO_TREE_LINES[@]} lines" >&2
    return 1
  fi
  [ -n "${E2E_RUNNER_NAME:-}" ] || E2E_RUNNER_NAME=$(e2e_runner_name)
  for line in "${E2E_DEMO_TREE_LINES[@]}"; do
    local mark="${marks:i:1}"
    i=$((i + 1))
    [ "$mark" = . ] && continue
    local box="[x]"
    [ "$mark" = - ] && box="[ ]"
    line="${line/RUNNER/$E2E_RUNNER_NAME}"
    if [ "${line:0:2}" = "  " ]; then line="  $box ${line:2}"; else line="$box $line"; fi
    out+="${out:+$'\n'}$line"
  done
  printf '%s' "$out"
}

# The demo tree's labels alone, without check boxes (what the console program's scan lists).
e2e_demo_labels() { e2e_demo_tree | sed 's/\[[x ]\] //'; }
