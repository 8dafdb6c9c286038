# shellcheck shell=bash
# Shared by the end-to-end tests: running quorvane.exe in a prepared prefix, reading its dialog
# with the probe, clicking and typing with xdotool, and reporting one PASS/FAIL line per check.
# Source it from a test; run_all.sh sets QV_SOURCE, QV_BUILD, QV_E2E_BASE_PREFIX and DISPLAY.
set -uo pipefail

: "${QV_SOURCE:?}" "${QV_BUILD:?}" "${QV_E2E_BASE_PREFIX:?}" "${DISPLAY:?}"
. "$QV_SOURCE/scripts/lib/wine.sh"
. "$QV_SOURCE/scripts/lib/winereg.sh"
. "$QV_SOURCE/scripts/lib/machine.sh"
. "$QV_SOURCE/tests/e2e/lib/demo_tree.sh"

E2E_EXE="$QV_BUILD/mingw/quorvane.exe"
E2E_PROBE="$QV_BUILD/mingw/tree_probe.exe"
E2E_PASSED=0
E2E_FAILED=0
E2E_TOOL_PID=""

# --- reporting -----------------------------------------------------------------------------------

e2e_check() {
  local name="$1"
  shift
  if "$@"; then
    echo "PASS: $name"
    E2E_PASSED=$((E2E_PASSED + 1))
  else
    echo "FAIL: $name"
    E2E_FAILED=$((E2E_FAILED + 1))
  fi
}

e2e_finish() {
  e2e_stop_tool
  echo "$E2E_PASSED passed, $E2E_FAILED failed"
  [ "$E2E_FAILED" -eq 0 ] && [ "$E2E_PASSED" -gt 0 ]
}

# --- the machine ---------------------------------------------------------------------------------

# A prefix for one test, copied from the base prefix, with Wine drawing its own window frames so
# that keyboard focus goes to the tool's windows without a window manager. Sets E2E_PREFIX and
# E2E_WORK (the tool's current directory) and the Wine environment.
e2e_new_prefix() {
  E2E_WORK="$QV_BUILD/e2e/$1"
  E2E_PREFIX="$E2E_WORK/prefix"
  mkdir -p "$E2E_WORK"
  qv_copy_prefix "$QV_E2E_BASE_PREFIX" "$E2E_PREFIX"
  qv_reg_key "$E2E_PREFIX/user.reg" 'Software\Wine\X11 Driver' "$(date +%s)"
  qv_reg_sz "$E2E_PREFIX/user.reg" Managed N
  rm -f "$E2E_WORK/Quorvane.ini"
  qv_wine_env "$E2E_PREFIX"
}

# The names under HKEY_USERS, one a line ("S-1-5-21-0-0-0-1000", ".Default", ...).
e2e_loaded_hives() {
  wine reg query 'HKU' 2>/dev/null | tr -d '\r' | sed -n 's/^HKEY_USERS\\//p'
}

# Whether a registry key exists (a full path such as 'HKU\S-1-5-20\Software\Brennard').
# reg.exe asked once more after a failure: under load a start of it can fail on its own, while a
# key that is gone fails both times.
e2e_key_exists() {
  wine reg query "$1" >/dev/null 2>&1 || { sleep 1; wine reg query "$1" >/dev/null 2>&1; }
}

# --- the tool ------------------------------------------------------------------------------------

e2e_start_tool() {
  (cd "$E2E_WORK" && exec wine "$E2E_EXE" "$@") >/dev/null 2>&1 &
  E2E_TOOL_PID=$!
}

e2e_tool_ended() { ! kill -0 "$E2E_TOOL_PID" 2>/dev/null; }

# Ends the prefix's wineserver, and with it the tool if it still runs.
e2e_stop_tool() {
  qv_end_wine
  if [ -n "$E2E_TOOL_PID" ]; then
    wait "$E2E_TOOL_PID" 2>/dev/null || true
    E2E_TOOL_PID=""
  fi
}

e2e_probe() { wine "$E2E_PROBE" "$@" 2>/dev/null; }

# The dialog as the probe reads it, into $E2E_WORK/dialog.txt. The dialog shows at once and fills
# in while its refresh runs, its status line telling how far it is: a dump fails while that line
# tells of a refresh or a clean-up under way, so a dump that succeeds shows the finished tree.
e2e_dump() { e2e_probe dump >"$E2E_WORK/dialog.txt" && ! e2e_dump_busy "$(e2e_field status-hex)"; }

# The progress texts' ends (after their last "%s") in both languages, in code page 932 as hex.
E2E_PROGRESS_TAILS=()
e2e_progress_tails() {
  local id file text
  [ "${#E2E_PROGRESS_TAILS[@]}" -gt 0 ] && return 0
  for id in IDS_SCAN_PROGRESS IDS_CLEANUP_PROGRESS; do
    for file in strings.inc strings_en.inc; do
      text=$(sed -n "s/^QV_STRING($id, \"\(.*\)\")\$/\1/p" "$QV_SOURCE/res/$file")
      E2E_PROGRESS_TAILS+=("$(printf '%s' "${text##*%s}" | e2e_hex)")
    done
  done
}

# Whether a status line (in hex, as the probe prints it) tells of a refresh or clean-up under way.
e2e_dump_busy() {
  local status="$1" tail
  e2e_progress_tails
  for tail in "${E2E_PROGRESS_TAILS[@]}"; do
    [ -n "$tail" ] && [ -n "$status" ] && [[ "$status" == *"$tail" ]] && return 0
  done
  return 1
}

e2e_wait_dialog() { qv_poll 240 e2e_dump; }

# A field of the last dump ("status-hex", "ok", ...).
e2e_field() { grep -a "^$1: " "$E2E_WORK/dialog.txt" | head -n 1 | cut -d' ' -f2-; }

# The tree part of the last dump.
e2e_tree() { sed -n '/^tree:$/,$p' "$E2E_WORK/dialog.txt" | tail -n +2; }

# Polls until the tree equals the expected text (the first argument).
e2e_wait_tree() {
  local expected="$1"
  tree_is() { e2e_dump && [ "$(e2e_tree)" = "$expected" ]; }
  qv_poll 40 tree_is
}

# A click on the dialog's own background, below the buttons, which does nothing. Two clicks on
# one spot in quick succession make a double click, which the tree control handles on its own
# (NM_DBLCLK, no NM_CLICK); a click elsewhere in between keeps every click a single one.
e2e_click_background() {
  local left right bottom
  read -r left _ right bottom < <(e2e_field rect) || return 1
  xdotool mousemove "$((left + (right - left) * 3 / 4))" "$((bottom - 6))" click 1
}

# Clicks the check box of an item: e2e_click_checkbox LABEL [PARENT].
e2e_click_checkbox() {
  local x y
  read -r x y < <(e2e_probe checkbox "$@") || return 1
  e2e_click_background
  xdotool mousemove "$x" "$y" click 1
}

e2e_click_label() {
  local x y
  read -r x y < <(e2e_probe label "$@") || return 1
  e2e_click_background
  xdotool mousemove "$x" "$y" click 1
}

e2e_key() { xdotool key "$@"; }

# The message box the tool shows, into $E2E_WORK/msgbox.txt; fails while there is none.
e2e_msgbox() { e2e_probe msgbox >"$E2E_WORK/msgbox.txt"; }
e2e_wait_msgbox() { qv_poll 60 e2e_msgbox; }
e2e_no_msgbox() { ! e2e_msgbox; }
# The confirmation's OK button has the keyboard focus.
e2e_ok_focused() { e2e_msgbox && LC_ALL=C grep -aqE '^button 1 .*focus$' "$E2E_WORK/msgbox.txt"; }
# A message box other than the confirmation: the clean-up's result, whatever it says.
e2e_result_box() { e2e_msgbox && [ "$(e2e_msgbox_field text-hex)" != "$(e2e_string_hex IDS_CONFIRM_DELETE)" ]; }

# A clean-up started and confirmed from the keyboard, each step a check: Enter starts it (a click
# on the dialog's background first gives it the keyboard); the confirmation's default is Cancel,
# so Tab to OK, then Enter; then the result box appears.
e2e_confirm_cleanup() {
  e2e_click_background
  e2e_key Return
  e2e_check "Enter asks for confirmation" e2e_wait_msgbox
  e2e_key Tab
  e2e_check "Tab moves the focus to OK" qv_poll 40 e2e_ok_focused
  e2e_key Return
  e2e_check "a result box appears" qv_poll 240 e2e_result_box
}

# Whether the result box says the string named $1; prints what it says otherwise.
e2e_result_is() {
  [ "$(e2e_msgbox_field text-hex)" = "$(e2e_string_hex "$1")" ] && return 0
  echo "  the result box says: $(e2e_msgbox_field text | iconv -f CP932 -t UTF-8 2>/dev/null)"
  return 1
}
e2e_msgbox_field() { grep -a "^$1: " "$E2E_WORK/msgbox.txt" | head -n 1 | cut -d' ' -f2-; }

# --- expected texts ------------------------------------------------------------------------------

# A string of the tool's string table by its name in res/resource.h, as UTF-8
# (e2e_string_text IDS_HEADING) or in code page 932 as hex (e2e_string_hex IDS_NO_INVALID_ENTRIES).
e2e_string_text() {
  local id
  id=$(sed -n "s/^#define $1 \\([0-9]*\\)\$/\\1/p" "$QV_SOURCE/res/resource.h")
  [ -n "$id" ] || { echo "no string $1 in res/resource.h" >&2; return 1; }
  # A line names its id by number or by name.
  sed -n "s/^QV_STRING(\\($id\\|$1\\), \"\\(.*\\)\")\$/\\2/p" "$QV_SOURCE/res/strings.inc"
}
e2e_hex() { iconv -f UTF-8 -t CP932 | od -An -tx1 | tr -d ' \n'; }
e2e_string_hex() { e2e_string_text "$1" | tr -d '\n' | e2e_hex; }

# The dialog's title in the default configuration: IDS_HEADING with the two product key names.
e2e_default_title_hex() {
  local heading
  heading=$(e2e_string_text IDS_HEADING)
  printf '%s' "${heading/\%s/Ovaline/Ovaline Sketch}" | e2e_hex
}

# The running user's account name as Wine's own programs see it.
e2e_runner_name() {
  wine cmd /c 'echo %USERNAME%' 2>/dev/null | tr -d '\r\n'
}

# --- what the machine holds (snapshots of a prefix) ---------------------------------------------

# A registry file without what Wine itself changes whenever it starts: the times of its device and
# font keys and a driver date. Every other key keeps its time.
normalized_registry() {
  awk '
    index($0, "[") == 1 {
      key = $0
      noisy = (index(key, "[System\\\\CurrentControlSet\\\\") == 1 ||
               index(key, "[Software\\\\Microsoft\\\\Windows NT\\\\CurrentVersion]") == 1 ||
               index(key, "[Software\\\\Wine\\\\Fonts]") == 1)
      if (noisy) { sub(/\] [0-9]+$/, "]", key); print key; next }
    }
    noisy && (index($0, "#time=") == 1 || index($0, "\"DriverDateData\"=") == 1) { next }
    { print }' "$1"
}

# Every file and folder below drive_c (type, size, content) and the registry files, once Wine has
# written them back.
snapshot() {
  qv_end_wine
  (
    cd "$E2E_PREFIX" || exit 1
    find drive_c \( -type d -printf 'd %p\n' \) -o \( -type l -printf 'l %p -> %l\n' \) \
      -o \( -type f -printf 'f %s %p\n' \) | LC_ALL=C sort
    find drive_c -type f -print0 | LC_ALL=C sort -z | xargs -0 md5sum
    for file in system.reg user.reg userdef.reg; do
      echo "== $file"
      normalized_registry "$file"
    done
  ) >"$E2E_WORK/$1.snapshot"
}
unchanged() {
  diff -q "$E2E_WORK/$1.snapshot" "$E2E_WORK/$2.snapshot" >/dev/null && return 0
  diff "$E2E_WORK/$1.snapshot" "$E2E_WORK/$2.snapshot" | head -n 20 | sed 's/^/  /'
  return 1
}

# A snapshot without the keys' times (deleting a key gives its parent a new one, a restore writes
# keys anew) and without the tool's own folder, which holds the audit log and the backups.
audit_folder='drive_c/ProgramData/Quorvane'
timeless() {
  grep -v -e '^==' -e '^#time=' -e " $audit_folder\$" -e " $audit_folder/" "$1" |
    sed 's/^\(\[.*\]\) [0-9]*$/\1/' | LC_ALL=C sort
}

# --- the console program -------------------------------------------------------------------------

CLI_EXE="$QV_BUILD/mingw/quorvane-cli.exe"

# Keeps a copy of a JSON document a test produced in the folder $QV_E2E_JSON_DIR names, when it is
# set (the schema check reads them there, each by its "command"): <test>-<name of the file
# without its extension>.json, where <test> is the folder of the test's work (e2e_new_prefix).
# Does nothing for an empty or missing file.
#   e2e_keep_json FILE
e2e_keep_json() {
  [ -n "${QV_E2E_JSON_DIR:-}" ] && [ -s "$1" ] || return 0
  local name
  name=$(basename "$1")
  mkdir -p "$QV_E2E_JSON_DIR"
  cp "$1" "$QV_E2E_JSON_DIR/$(basename "$E2E_WORK")-${name%.*}.json"
}

# Runs the console program with no console (standard input from /dev/null), standard output into
# $E2E_WORK/NAME.out and standard error into NAME.err; CLI_STATUS is its exit code. A run with
# --json and without --output has its document on standard output: it is kept (e2e_keep_json).
#   cli_run NAME ARGS...
cli_run() {
  local name="$1" arg json=0
  shift
  (cd "$E2E_WORK" && exec wine "$CLI_EXE" "$@") </dev/null >"$E2E_WORK/$name.out" \
    2>"$E2E_WORK/$name.err"
  CLI_STATUS=$?
  for arg in "$@"; do
    case "$arg" in
      --json) json=1 ;;
      --output | --output=*) json=0; break ;;
    esac
  done
  if [ "$json" = 1 ]; then e2e_keep_json "$E2E_WORK/$name.out"; fi
  return 0
}

# The last line of a run's standard output (NAME.out) is the summary line: ASCII key=value pairs
# after "quorvane: ", at most 2,048 characters, ending with the exit code the run answered; and it
# is the only one.
summary_line_last() {
  local out="$E2E_WORK/$1.out" last
  last=$(tail -n 1 "$out" | tr -d '\r')
  if ! LC_ALL=C grep -qE "^quorvane:( [a-z]+=[0-9]+)* exit=$CLI_STATUS\$" <<<"$last" ||
    [ "${#last}" -gt 2048 ] || [ "$(grep -ac '^quorvane: ' "$out")" -ne 1 ]; then
    echo "  the last line of $1 (exit code $CLI_STATUS): $last"
    return 1
  fi
}
status_is() {
  [ "$CLI_STATUS" -eq "$1" ] && return 0
  echo "  exit code $CLI_STATUS, expected $1; standard error:"
  sed 's/^/    /' "$E2E_WORK/$2.err" | iconv -f CP932 -t UTF-8 2>/dev/null
  return 1
}
