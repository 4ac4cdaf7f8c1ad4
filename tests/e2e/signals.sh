#!/usr/bin/env bash
# SIGTERM, SIGINT and SIGHUP (logout, Ctrl+C in a terminal) close the game as Ctrl+Q does:
# the thread is stopped and joined, and the program exits with 0 without a sanitizer report,
# whether the rules dialog is still open or the search is growing hard.
set -euo pipefail
game=$1
source "$(dirname "$0")/xvfb.sh"
if e2e_outer "$@"; then
  exit "$e2e_status"
fi

cd "$KORVALT_E2E_WORK"
run() {
  local sig=$1 when=$2 log="$KORVALT_E2E_WORK/game-$1-$2.log" pid
  "$game" >"$log" 2>&1 &
  pid=$!
  timeout 60 xdotool search --sync --onlyvisible --name '^Korvalt setup' >/dev/null ||
    { echo "$sig/$when: no rules dialog"; cat "$log"; exit 1; }
  if [ "$when" = playing ]; then
    xdotool mousemove $E2E_GOMOKU click 1
    sleep 0.3
    xdotool mousemove $E2E_OK click 1
    timeout 60 xdotool search --sync --onlyvisible --name '^Korvalt$' >/dev/null ||
      { echo "$sig/$when: no game window"; cat "$log"; exit 1; }
    sleep 2 # the search grows at full speed from the first position
  fi
  kill -s "$sig" "$pid"
  e2e_exits_cleanly "$pid" "$log" "$sig/$when" || exit 1
  echo "$sig/$when: exit 0"
}
for sig in TERM INT HUP; do
  run "$sig" playing
done
run TERM dialog
