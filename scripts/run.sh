#!/usr/bin/env bash
# Sets everything up, builds, starts the simulated board on loopback and opens the window.
#
# On the first run (no Parametrage.ini beside the program yet) it writes one that points the
# window at the simulator, so an upload works at once without a board. To use a real board,
# type its address and port in the window (they are saved when the window closes), or edit
# build/bin/Parametrage.ini.
#
#   BOARD_SIM_PORT   port of the simulator (default 2323)
#   BOARD_SIM_ARGS   extra options for board-sim (see build/bin/board-sim --help)
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh

bin="$PWD/build/bin"
port="${BOARD_SIM_PORT:-2323}"
ini="$bin/Parametrage.ini"
if [ ! -e "$ini" ]; then
  printf '[TELNET]\r\nIP=127.0.0.1\r\nPORT=%s\r\nCAPAMEM=8\r\n' "$port" > "$ini"
  echo "Wrote $ini pointing at the simulator (127.0.0.1:$port)."
fi

mkdir -p build/sim
# shellcheck disable=SC2086
"$bin/board-sim" --port "$port" --image "$PWD/build/sim/eeprom.bin" ${BOARD_SIM_ARGS:-} &
sim=$!
trap 'kill "$sim" 2>/dev/null || true; wait "$sim" 2>/dev/null || true' EXIT
echo "board-sim runs on 127.0.0.1:$port; every upload's EEPROM image goes to build/sim/eeprom.bin."

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  "$bin/brelvin-web-server"
else
  echo "No display found: running the window under Xvfb (nothing will be visible)."
  xvfb-run -a -s "-screen 0 1024x768x24" "$bin/brelvin-web-server"
fi
