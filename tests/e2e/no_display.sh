#!/usr/bin/env bash
# Without a display the game says so in one line and exits with 3, and the play script then
# starts the terminal game. Usage: no_display.sh GAME [PLAY_SCRIPT]
set -uo pipefail
game=$1
play=${2:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
expected="Cannot open a display; the terminal game is korvalt-cli."
check() {
  local what=$1 status
  shift
  env -u QT_QPA_PLATFORM "$@" "$game" >out.txt 2>err.txt
  status=$?
  [ "$status" -eq 3 ] || { echo "$what: exit $status"; cat err.txt; exit 1; }
  [ "$(cat err.txt)" = "$expected" ] || { echo "$what: said:"; cat err.txt; exit 1; }
  [ ! -s out.txt ] || { echo "$what: wrote to standard output"; exit 1; }
}
check "a display that cannot be opened" -u WAYLAND_DISPLAY DISPLAY=:987
check "a Wayland display without a compositor" -u DISPLAY WAYLAND_DISPLAY=wayland-987 XDG_RUNTIME_DIR="$work"
if [ -n "$play" ]; then
  printf 'quit\n' | env -u QT_QPA_PLATFORM -u WAYLAND_DISPLAY DISPLAY=:987 bash "$play" --rule 0 >out.txt 2>err.txt ||
    { echo "play script failed"; cat err.txt; exit 1; }
  grep -q "Korvalt: five in a row" out.txt || { echo "play script did not start the terminal game"; cat out.txt err.txt; exit 1; }
  grep -qF "$expected" err.txt || { echo "play script hid the reason"; exit 1; }
fi
echo "no display: one clear line, exit 3${play:+, and the terminal game}"
