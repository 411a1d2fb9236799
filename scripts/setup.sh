#!/usr/bin/env bash
# Installs, with apt-get, whatever the build, the tests and the window need and is missing.
# Safe to run again: it installs nothing when everything is there.
set -euo pipefail

packages=(
  cmake make g++ pkg-config          # the build
  libgtest-dev libgmock-dev          # the tests
  qt6-base-dev                       # the window (Qt 6 Widgets)
  fonts-liberation2                  # the window's sans font
  clang libclang-rt-14-dev           # the fuzzer (libFuzzer)
  xvfb xauth imagemagick             # a window without a display; screenshots
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
