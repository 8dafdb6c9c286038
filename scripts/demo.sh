#!/usr/bin/env bash
# Sets the machine up, builds quorvane.exe and runs it on the demo machine: a Wine prefix of its
# own (build/demo-prefix) with several users' stale registrations, their data and listed files.
# With a display ($DISPLAY) the dialog opens there and the demo ends when it is closed. Without
# one it runs on a virtual X server, saves a screenshot of the dialog to build/demo/quorvane.png,
# prints what the dialog shows and closes it.
#   bash scripts/demo.sh [--lang en|ja]
# --lang runs Wine with the user's interface in that language (the locale en_US.UTF-8 or
# ja_JP.UTF-8), and the tool speaks it; the screenshot is then build/demo/quorvane-LANG.png.
# Without it the demo runs in Japanese, the ANSI code page of the tool's Japanese texts.
set -euo pipefail

lang=""
while [ $# -gt 0 ]; do
  case "$1" in
    --lang) lang="${2:-}"; shift 2 || shift ;;
    --lang=*) lang="${1#--lang=}"; shift ;;
    *) echo "usage: bash scripts/demo.sh [--lang en|ja]" >&2; exit 2 ;;
  esac
done
case "$lang" in
  "") locale="" ;;
  en) locale=en_US.UTF-8 ;;
  ja) locale=ja_JP.UTF-8 ;;
  *) echo "demo: --lang takes en or ja" >&2; exit 2 ;;
esac

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
# Wine takes the user's interface language from the locale's name (bash warns when the C library
# lacks that locale; Wine does not need it).
if [ -n "$locale" ]; then { export LANG="$locale" LC_ALL="$locale"; } 2>/dev/null; fi
picture="$out/quorvane${lang:+-$lang}.png"
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
  if [ -f "$picture" ] && cmp -s "$out/next.png" "$picture"; then
    rm -f "$out/next.png"
    return 0
  fi
  mv "$out/next.png" "$picture"
  return 1
}
rm -f "$picture"
qv_poll 40 stable_shot || true

echo "demo: the dialog shows"
grep -av -- "-hex:" "$out/dialog.txt" | grep -av -e "^rect:" -e "-fit:" |
  if [ "$lang" = en ]; then cat; else iconv -f CP932 -t UTF-8 || true; fi
echo "demo: screenshot saved to $picture"

# Esc closes the dialog like its cancel button.
xdotool key Escape
closed() { ! kill -0 "$tool" 2>/dev/null; }
qv_poll 60 closed || echo "demo: the dialog did not close; ending Wine" >&2
wait "$tool" 2>/dev/null || true
