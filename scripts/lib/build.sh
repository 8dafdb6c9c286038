# shellcheck shell=bash
# Configuring, building and testing through the project's presets. Source it after setting
# QV_SOURCE. Everything is built below build/ of the source tree; QV_BUILD_DIR moves it elsewhere
# (for a second working copy of the same tree), with one folder per preset as the presets name it.

QV_BUILD="${QV_BUILD_DIR:-$QV_SOURCE/build}"

qv_configure() {
  local preset="$1"
  if [ -z "${QV_BUILD_DIR:-}" ]; then
    cmake --preset "$preset"
  else
    cmake --preset "$preset" -B "$QV_BUILD/$preset"
  fi
}

# Two jobs at most: the machine has two cores and the tests run beside the build.
qv_build() {
  local preset="$1"
  shift
  cmake --build "$QV_BUILD/$preset" --parallel 2 "$@"
}

qv_ctest() {
  local preset="$1"
  shift
  if [ -z "${QV_BUILD_DIR:-}" ]; then
    ctest --preset "$preset" "$@"
  else
    ctest --test-dir "$QV_BUILD/$preset" --output-on-failure "$@"
  fi
}
