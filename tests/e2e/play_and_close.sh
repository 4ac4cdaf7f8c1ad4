#!/usr/bin/env bash
# Plays the real program as a person would, under Xvfb: choose a rule, lower the budget,
# click a cell, wait for the computer's answer on screen, turn the wheel over the mode list
# (which must not switch the game to another mode), play on, and close with Ctrl+Q while the
# mode list has the focus. The program must exit with 0, leave no sanitizer report, and write
# nothing under HOME. Everything it writes stays in its own temporary folder.
set -euo pipefail
game=$1
source "$(dirname "$0")/xvfb.sh"
if e2e_outer "$@"; then
  [ "$e2e_status" -eq 0 ] || exit "$e2e_status"
  # Fontconfig keeps its cache of the system fonts under HOME; that is the library's own
  # doing, not the game's. Everything else must stay untouched.
  written=$(cd "$HOME" && find . -mindepth 1 \( -path ./.cache/fontconfig -prune \) -o -print |
            grep -v '^\./\.cache$' || true)
  if [ -n "$written" ]; then
    echo "the game wrote under HOME:"; echo "$written"; exit 1
  fi
  echo "e2e: played, answered, closed cleanly, nothing written under HOME"
  exit 0
fi

trap 'echo "e2e: a step failed at line $LINENO: $BASH_COMMAND"' ERR
log="$KORVALT_E2E_WORK/game.log"
cd "$KORVALT_E2E_WORK"
# Broken sound files where the game is started: it must not take them, nor stall on them.
: >o.wav
printf 'not a sound' >x.wav
head -c 300 /dev/urandom >gameover.wav
"$game" >"$log" 2>&1 &
pid=$!
fail() { echo "e2e: $*"; kill "$pid" 2>/dev/null || true; cat "$log"; exit 1; }

setup=$(timeout 60 xdotool search --sync --onlyvisible --name '^Korvalt setup' | head -1) ||
  fail "no rules dialog"
# The window manager shows the titles exactly, and the rules dialog as a dialog.
title() { xprop -id "$1" _NET_WM_NAME | sed -E 's/^[^"]*"(.*)"$/\1/'; }
[ "$(title "$setup")" = "Korvalt setup" ] || fail "rules dialog titled '$(title "$setup")'"
xprop -id "$setup" _NET_WM_WINDOW_TYPE | grep -q _NET_WM_WINDOW_TYPE_DIALOG ||
  fail "the rules dialog is not a dialog"
e2e_click $E2E_GOMOKU
e2e_click $E2E_OK
main=$(timeout 60 xdotool search --sync --onlyvisible --name '^Korvalt' | head -1) || fail "no game window"
[ "$(title "$main")" = "Korvalt" ] || fail "game window titled '$(title "$main")'"
sleep 1
# The budget spin edit: its down arrow, pressed until it reaches 1 thousand.
for _ in 1 2 3 4 5 6 7 8; do e2e_click $E2E_BUDGET_DOWN; done
e2e_click $((396 + 8 * 30 + 15)) $((221 + 7 * 30 + 15))   # row 7, column 8: next to the centre

answered=""
for _ in $(seq 1 120); do
  board=$(e2e_cells)
  blue=$(echo "$board" | awk '{ if ($5 - $3 > 20) n++ } END { print n + 0 }')
  red=$(echo "$board" | awk '$1 == 8 && $2 == 7 && $3 - $5 > 20 { print "yes" }')
  if [ "$blue" -ge 2 ] && [ "$red" = "yes" ]; then answered=1; break; fi
  sleep 1
done
[ -n "$answered" ] || fail "no nought on the clicked cell and computer's cross on screen"
import -window root -crop 674x481+396+221 "$KORVALT_E2E_WORK/screen.png" 2>/dev/null || true

# The wheel turned over the mode list must not make it Computer Vs Computer: the computer
# then plays no move by itself, and answers the next click as before.
xdotool mousemove $E2E_MODE_LIST
for _ in 1 2 3; do xdotool click 5; sleep 0.2; done
sleep 3
[ "$(e2e_stones)" -eq 3 ] || fail "the computer moved by itself after the wheel: $(e2e_stones) stones"
# A free cell next to the centre: the computer may have taken any of them. awk reads the whole
# board: leaving early would end the pipeline by SIGPIPE, which pipefail turns into a failure.
free=$(e2e_cells | awk '$1 >= 6 && $1 <= 8 && $2 >= 6 && $2 <= 8 && !($5 - $3 > 20 || $3 - $5 > 20) && free == "" { free = $1 " " $2 } END { print free }')
[ -n "$free" ] || fail "no free cell next to the centre"
read -r free_col free_row <<<"$free"
e2e_click $((396 + free_col * 30 + 15)) $((221 + free_row * 30 + 15))
for _ in $(seq 1 120); do [ "$(e2e_stones)" -ge 5 ] && break; sleep 1; done
[ "$(e2e_stones)" -eq 5 ] || fail "no answer to the second click: $(e2e_stones) stones"

# The mode list takes the focus (opened and closed again), and Ctrl+Q still quits.
e2e_click $E2E_MODE_LIST
xdotool key --window "$main" Escape
sleep 0.5
xdotool key --window "$main" ctrl+q
e2e_exits_cleanly "$pid" "$log" "e2e: after Ctrl+Q" || exit 1
