#!/bin/sh
# Runs the Windows test program under Wine: the Japanese ANSI code page (932) that the tests of the
# string table expect, quiet Wine, and a display for the tree view and dialog tests (a private
# Xvfb when none is set). The caller's WINEPREFIX is used when set.
#   sh tests/windows/run_under_wine.sh wine build/mingw/qv_windows_tests.exe [gtest options]
set -eu
emulator=${1:-wine}
program=$2
shift 2
export LC_ALL=ja_JP.UTF-8
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
if [ -z "${DISPLAY:-}" ] && command -v xvfb-run >/dev/null 2>&1; then
    exec xvfb-run -a -s "-screen 0 1024x768x24" "$emulator" "$program" "$@"
fi
exec "$emulator" "$program" "$@"
