#!/usr/bin/env bash
# Sets the machine up, builds quorvane.exe and runs it on the demo machine: a Wine prefix of its
# own (build/demo-prefix) with several users' stale registrations, their data and listed files.
# With a display ($DISPLAY) the dialog opens there and the demo ends when it is closed. Without
# one it runs on a virtual X server, saves a screenshot of the dialog to build/demo/quorvane.png,
# prints what the dialog shows and closes it.
set -euo pipefail

QV_SOURCE=$(cd "$(dirname "$0")/.." && pwd)
cd "$QV_SOURCE"
. scripts/lib/wine.sh
. scripts/lib/winereg.sh
. scripts/lib/machine.sh
. scripts/lib/build.sh

bash scripts/setup.sh

echo "demo: building quorvane.exe"
qv_configure mingw >/dev/null
qv_build mingw --target quorvane tree_probe

exe="$QV_BUILD/mingw/quorvane.exe"
probe="$QV_BUILD/mingw/tree_probe.exe"
prefix="$QV_BUILD/demo-prefix"
out="$QV_BUILD/demo"

echo "demo: preparing the demo machine in $prefix"
qv_new_prefix "$prefix"
qv_build_demo_machine "$prefix"
# The dialog font "MS Shell Dlg" has no Japanese glyphs here; a Japanese system draws it with a
# Japanese UI font, as does this proportional one from the set-up's packages.
qv_reg_key "$prefix/system.reg" 'Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes' "$(date +%s)"
qv_reg_sz "$prefix/system.reg" "MS Shell Dlg" "VL PGothic"
qv_wine_env "$prefix"
mkdir -p "$out"
# The tool reads Quorvane.ini from its current directory; the demo runs without one.
rm -f "$out/Quorvane.ini"
cd "$out"

if [ -n "${DISPLAY:-}" ]; then
  echo "demo: opening the dialog on $DISPLAY; close it to end the demo"
  status=0
  wine "$exe" || status=$?
  wineserver -w
  exit "$status"
fi

# Headless: Wine draws the window frames itself (no window manager), so the title shows.
qv_reg_key "$prefix/user.reg" 'Software\Wine\X11 Driver' "$(date +%s)"
qv_reg_sz "$prefix/user.reg" Managed N

qv_start_display
cleanup() {
  qv_end_wine
  qv_stop_display
}
trap cleanup EXIT

wine "$exe" &
tool=$!

dialog_ready() {
  # The dialog is ready once its refresh has filled the tree or set the status line.
  wine "$probe" dump >"$out/dialog.txt" 2>/dev/null &&
    { grep -q '^\[' "$out/dialog.txt" || grep -q '^status: .' "$out/dialog.txt"; }
}
if ! qv_poll 240 dialog_ready; then
  echo "demo: the dialog did not appear" >&2
  exit 1
fi

# The window is painted asynchronously: take pictures until two in a row are the same.
read -r _ left top right bottom < <(grep '^rect:' "$out/dialog.txt")
shot() {
  xwd -root -silent | /usr/bin/convert xwd:- -crop "$((right - left))x$((bottom - top))+$left+$top" \
    +repage "png:$1"
}
stable_shot() {
  shot "$out/next.png"
  if [ -f "$out/quorvane.png" ] && cmp -s "$out/next.png" "$out/quorvane.png"; then
    rm -f "$out/next.png"
    return 0
  fi
  mv "$out/next.png" "$out/quorvane.png"
  return 1
}
rm -f "$out/quorvane.png"
qv_poll 40 stable_shot || true

echo "demo: the dialog shows"
grep -av -- "-hex:" "$out/dialog.txt" | grep -av "^rect:" | iconv -f CP932 -t UTF-8 || true
echo "demo: screenshot saved to $out/quorvane.png"

# Esc closes the dialog like its cancel button.
xdotool key Escape
closed() { ! kill -0 "$tool" 2>/dev/null; }
qv_poll 60 closed || echo "demo: the dialog did not close; ending Wine" >&2
wait "$tool" 2>/dev/null || true
