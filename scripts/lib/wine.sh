# shellcheck shell=bash
# Wine and X helpers shared by the demo, the test command and the end-to-end tests. Source it.

# The environment every Wine process of ours runs in: a 64-bit prefix, no Wine chatter, no Mono or
# Gecko installer prompts, and the Japanese locale, which gives the tool its ANSI code page 932.
# Every process that exchanges ANSI text with the tool (the probe, reg.exe) needs the same locale.
qv_wine_env() {
  export WINEPREFIX="$1"
  export WINEARCH=win64
  export WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml="
  export LC_ALL=ja_JP.UTF-8
}

# Removes a prefix, ending its wineserver first if one still runs (a demo left open, a test that
# was interrupted).
qv_remove_prefix() {
  if [ -d "$1" ]; then
    WINEPREFIX="$1" wineserver -k >/dev/null 2>&1 || true
    rm -rf "$1"
  fi
}

# A new prefix at $1 (removed first when it exists), ready when this returns.
qv_new_prefix() {
  local prefix="$1"
  qv_remove_prefix "$prefix"
  mkdir -p "$(dirname "$prefix")"
  ( qv_wine_env "$prefix" && wineboot -i >/dev/null 2>&1 && wineserver -w )
  [ -f "$prefix/system.reg" ] && [ -f "$prefix/user.reg" ]
}

# Copies a prepared prefix; cheaper than a new one for each end-to-end test.
qv_copy_prefix() {
  qv_remove_prefix "$2"
  cp -a "$1" "$2"
}

# The Windows path of a file below the prefix's drive C:, e.g. "users\ann" -> "C:\users\ann".
qv_win_path() {
  printf 'C:\\%s' "${1//\//\\}"
}

# An X server of our own on a free display, for runs without $DISPLAY. Sets DISPLAY and
# QV_XVFB_PID; qv_stop_display ends that server (and only that one).
qv_start_display() {
  local fifo dir
  dir=$(mktemp -d)
  fifo="$dir/display"
  mkfifo "$fifo"
  # -displayfd picks a free display and writes its number once the server accepts clients.
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$fifo" >/dev/null 2>&1 &
  QV_XVFB_PID=$!
  local number=""
  read -r -t 60 number <"$fifo" || true
  rm -rf "$dir"
  if [ -z "$number" ]; then
    echo "Xvfb did not start" >&2
    kill "$QV_XVFB_PID" 2>/dev/null || true
    QV_XVFB_PID=""
    return 1
  fi
  export DISPLAY=":$number"
}

qv_stop_display() {
  if [ -n "${QV_XVFB_PID:-}" ]; then
    kill "$QV_XVFB_PID" 2>/dev/null || true
    wait "$QV_XVFB_PID" 2>/dev/null || true
    QV_XVFB_PID=""
  fi
}

# Waits, at most $1 tries of half a second, until the command after it succeeds.
qv_poll() {
  local tries="$1"
  shift
  local i
  for ((i = 0; i < tries; i++)); do
    if "$@"; then return 0; fi
    sleep 0.5
  done
  return 1
}

# Ends the wineserver of the current prefix and with it every Wine process of that prefix.
qv_end_wine() {
  wineserver -k 2>/dev/null || true
  wineserver -w 2>/dev/null || true
}
