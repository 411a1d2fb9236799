#!/usr/bin/env bash
# Sets everything up, builds, and runs every test (window tests offscreen).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh
cd build
ctest --output-on-failure -j2 "$@"
