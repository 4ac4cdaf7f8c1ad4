#!/usr/bin/env bash
# Installs what is missing, builds the game and starts it. Without a display it starts the
# terminal game instead, with the options given here (korvalt-cli --help lists them); the
# window takes none.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/release -j "$(nproc)" --target korvalt korvalt-cli
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No graphical display found: starting the terminal game instead." >&2
  exec build/release/tools/korvalt-cli "$@"
fi
# The game exits with 3 when it cannot open the display it was given.
status=0
build/release/app/korvalt || status=$?
if [ "$status" -eq 3 ]; then
  exec build/release/tools/korvalt-cli "$@"
fi
exit "$status"
