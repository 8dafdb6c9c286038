#!/usr/bin/env bash
# Prepares a Debian 12 machine for building, testing and demonstrating Quorvane. Safe to run again:
# it installs only the packages that are missing and generates the Japanese locale only once.
# Needs root (or sudo) the first time, when something is missing.
set -euo pipefail

packages=(
  cmake ninja-build g++ googletest libgtest-dev libbenchmark-dev nlohmann-json3-dev
  clang libclang-rt-dev clang-format
  libcli11-dev
  g++-mingw-w64-x86-64-posix mingw-w64-tools binutils-mingw-w64-x86-64
  wine wine64
  xvfb xauth xdotool x11-apps x11-utils imagemagick fonts-vlgothic jq
  python3-jsonschema
  locales
)

as_root() {
  if [ "$(id -u)" -eq 0 ]; then
    "$@"
  elif command -v sudo >/dev/null 2>&1; then
    sudo "$@"
  else
    echo "setup: '$*' needs root" >&2
    return 1
  fi
}

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  if [ "$status" != "install ok installed" ]; then
    missing+=("$p")
  fi
done

if [ "${#missing[@]}" -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  as_root apt-get update
  as_root apt-get install -y --no-install-recommends "${missing[@]}" </dev/null
else
  echo "setup: all packages present"
fi

# The tool runs under Wine with the Japanese ANSI code page (932), which Wine takes from the
# ja_JP locale of the process.
if ! locale -a 2>/dev/null | grep -qiE '^ja_JP\.utf-?8$'; then
  echo "setup: generating the ja_JP.UTF-8 locale"
  if grep -qE '^#[[:space:]]*ja_JP\.UTF-8 UTF-8' /etc/locale.gen; then
    as_root sed -i -E 's/^#[[:space:]]*(ja_JP\.UTF-8 UTF-8)/\1/' /etc/locale.gen
  elif ! grep -qE '^ja_JP\.UTF-8 UTF-8' /etc/locale.gen; then
    echo 'ja_JP.UTF-8 UTF-8' | as_root tee -a /etc/locale.gen >/dev/null
  fi
  as_root locale-gen
else
  echo "setup: ja_JP.UTF-8 locale present"
fi
