#!/usr/bin/env bash
# Under an address-space limit (ulimit -v) the game either says it cannot start, in both
# languages, and exits non-zero, or it starts, plays Computer Vs Computer into the node
# table's limit, keeps playing, and quits cleanly with Ctrl+Q. Usage:
# low_memory.sh GAME TOO_SMALL_KB ENOUGH_KB... (sanitizer builds map far too much to take part).
# Where the limit falls in a game depends on what the window's libraries map, so each ENOUGH
# level is tried in turn until one brings the limit during the game; any other fault fails.
set -euo pipefail
game=$1
too_small=$2
shift 2
source "$(dirname "$0")/xvfb.sh"
if e2e_outer "$game" "$too_small" "$@"; then
  exit "$e2e_status"
fi

cd "$KORVALT_E2E_WORK"
trap 'echo "low memory: a step failed at line $LINENO: $BASH_COMMAND"' ERR
ended() { ! kill -0 "$1" 2>/dev/null; }

# Too little to start: the box says so in both languages, OK ends the program with 1.
log="$KORVALT_E2E_WORK/small.log"
(ulimit -v "$too_small"; exec "$game") >"$log" 2>&1 &
pid=$!
box=$(timeout 30 xdotool search --sync --onlyvisible --name '^Message$' | head -1) ||
  { echo "ulimit -v $too_small: no message"; cat "$log"; kill "$pid"; exit 1; }
sleep 0.5
xdotool windowfocus --sync "$box" key Return
for _ in $(seq 1 50); do ended "$pid" && break; sleep 0.2; done
ended "$pid" || { echo "ulimit -v $too_small: still running after OK"; kill "$pid"; exit 1; }
status=0
wait "$pid" || status=$?
[ "$status" -ne 0 ] || { echo "ulimit -v $too_small: exit code 0"; exit 1; }
grep -q "Not enough memory to start the game: [0-9]* MB available, [0-9]* MB needed." "$log" ||
  { echo "ulimit -v $too_small: no clear message"; cat "$log"; exit 1; }
grep -q "Недостаточно памяти" "$log" || { echo "ulimit -v $too_small: English only"; exit 1; }
echo "ulimit -v $too_small: says it cannot start, exit $status"

# Enough to play: a Computer Vs Computer game runs into the table's limit and goes on playing
# from the room kept for play. Once the game runs, its budget goes up to 1,000 thousand: the
# tree then grows by tens of megabytes in the position on the board, so the limit comes during
# the game wherever the window's own memory puts it.
# Returns 0 when it did, 3 when this level does not bring the limit during the game, and
# 1 for a fault.
play_into_limit() {
  local enough=$1 log pid main at_limit
  log="$KORVALT_E2E_WORK/enough$enough.log"
  (ulimit -v "$enough"; exec "$game") >"$log" 2>&1 &
  pid=$!
  timeout 60 xdotool search --sync --onlyvisible --name '^Korvalt setup$' >/dev/null ||
    { echo "ulimit -v $enough: no rules dialog"; cat "$log"; return 1; }
  e2e_click $E2E_GOMOKU
  e2e_click $E2E_OK
  main=$(timeout 60 xdotool search --sync --onlyvisible --name '^Korvalt$' | head -1) ||
    { echo "ulimit -v $enough: no game window"; cat "$log"; return 1; }
  sleep 1
  # Open the mode list, take the entry below Human Vs Computer.
  e2e_click $E2E_MODE_LIST
  xdotool key Down Return
  if grep -q "memory limit reached" "$log"; then
    echo "ulimit -v $enough: the limit came before Computer Vs Computer began"
    kill "$pid"
    wait "$pid" || true
    return 3
  fi
  # The budget's text, then its Up key, 25 thousand a press, from 175 to 1,000.
  e2e_click $E2E_BUDGET_TEXT
  xdotool key --delay 20 --repeat 33 Up
  for _ in $(seq 1 60); do
    grep -q "memory limit reached" "$log" && break
    ended "$pid" && break
    sleep 1
  done
  ended "$pid" && { echo "ulimit -v $enough: the game ended by itself"; cat "$log"; return 1; }
  if ! grep -q "memory limit reached" "$log"; then
    echo "ulimit -v $enough: the limit was not reached in a minute"
    kill "$pid"
    wait "$pid" || true
    return 3
  fi
  at_limit=$(e2e_stones)
  for _ in $(seq 1 60); do
    [ "$(e2e_stones)" -gt "$at_limit" ] && break
    ended "$pid" && break
    sleep 0.5
  done
  ended "$pid" && { echo "ulimit -v $enough: the game died after the limit"; cat "$log"; return 1; }
  [ "$(e2e_stones)" -gt "$at_limit" ] ||
    { echo "ulimit -v $enough: no move after the limit ($at_limit stones)"; kill "$pid"; return 1; }
  echo "ulimit -v $enough: the limit came at $at_limit stones, then $(e2e_stones)"
  xdotool key --window "$main" ctrl+q
  e2e_exits_cleanly "$pid" "$log" "ulimit -v $enough: after Ctrl+Q" || return 1
  if grep -E "QPainter|insufficient memory|bad_alloc|Segmentation" "$log"; then
    echo "ulimit -v $enough: the window ran short of memory"
    return 1
  fi
  echo "ulimit -v $enough: played into the limit, went on, quit with 0"
}

for enough in "$@"; do
  status=0
  play_into_limit "$enough" || status=$?
  [ "$status" -eq 3 ] || exit "$status"
done
echo "no level of $* brought the table's limit during the game"
exit 1
