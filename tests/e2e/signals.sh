#!/usr/bin/env bash
# SIGTERM, SIGINT and SIGHUP (logout, Ctrl+C in a terminal) close the game as Ctrl+Q does:
# the thread is stopped and joined, and the program exits with 0 without a sanitizer report,
# whether the rules dialog is still open or the search is growing hard.
set -euo pipefail
game=$1
if [ -z "${KORVALT_E2E_INNER:-}" ]; then
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
  mkdir -p "$work/home" "$work/run"
  chmod 700 "$work/run"
  export HOME="$work/home" XDG_RUNTIME_DIR="$work/run" KORVALT_E2E_INNER=1 KORVALT_E2E_WORK="$work"
  unset QT_QPA_PLATFORM
  xvfb-run -a -s "-screen 0 1280x1024x24" bash "$0" "$game"
  exit $?
fi

cd "$KORVALT_E2E_WORK"
run() {
  local sig=$1 when=$2 log="$KORVALT_E2E_WORK/game-$1-$2.log" pid status
  "$game" >"$log" 2>&1 &
  pid=$!
  timeout 60 xdotool search --sync --onlyvisible --name '^Korvalt setup' >/dev/null ||
    { echo "$sig/$when: no rules dialog"; cat "$log"; exit 1; }
  if [ "$when" = playing ]; then
    xdotool mousemove $((484 + 15)) $((304 + 96)) click 1
    sleep 0.3
    xdotool mousemove $((484 + 293)) $((304 + 172)) click 1
    timeout 60 xdotool search --sync --onlyvisible --name '^Korvalt$' >/dev/null ||
      { echo "$sig/$when: no game window"; cat "$log"; exit 1; }
    sleep 2 # the search grows at full speed from the first position
  fi
  kill -s "$sig" "$pid"
  for _ in $(seq 1 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  if kill -0 "$pid" 2>/dev/null; then
    kill -9 "$pid"
    echo "$sig/$when: still running 10 s after the signal"
    exit 1
  fi
  status=0
  wait "$pid" || status=$?
  [ "$status" -eq 0 ] || { echo "$sig/$when: exit code $status"; cat "$log"; exit 1; }
  if grep -E 'ERROR: (Address|Leak)Sanitizer|WARNING: ThreadSanitizer|runtime error:' "$log"; then
    echo "$sig/$when: sanitizer report"
    exit 1
  fi
  echo "$sig/$when: exit 0"
}
for sig in TERM INT HUP; do
  run "$sig" playing
done
run TERM dialog
