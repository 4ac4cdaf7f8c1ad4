#!/usr/bin/env bash
# The programs run from the unpacked package: each prints its version, korvalt-cli's script mode
# gives the golden output, and the game under Xvfb finds its sounds in the package's data folder
# relative to itself, matches its menu entry's window class, and closes with Ctrl+Q or SIGTERM
# with status 0. A second start with the data folder removed proves where the sounds came from.
# Usage: run_from_deb.sh DEB VERSION SOURCE_DIR BUILD_PREFIX_DATA_DIR PROGRAM...
set -uo pipefail
deb=$1
version=$2
source=$3
prefix_data=$4
shift 4
source "$(dirname "$0")/../e2e/xvfb.sh"
if e2e_outer "$deb" "$version" "$source" "$prefix_data" "$@"; then
  exit "$e2e_status"
fi

# A copy of its own: the game's run below moves the data folder away for a while.
dpkg-deb -x "$deb" "$KORVALT_E2E_WORK/root"
games="$KORVALT_E2E_WORK/root/usr/games"
failures=0
for program in "$@"; do
  out=$("$games/$program" --version 2>&1)
  [ "$out" = "$program $version" ] || { echo "FAIL: $program --version said '$out'"; failures=$((failures + 1)); }
done
"$games/korvalt-cli" --script "$source/tests/tools/opening.script" |
  diff -u "$source/tests/tools/opening.expected" - ||
  { echo "FAIL: korvalt-cli --script from the package differs from the golden output"; failures=$((failures + 1)); }
[ "$failures" -eq 0 ] || exit 1

root="$KORVALT_E2E_WORK/root"
game="$root/usr/games/korvalt"
wm_class=$(sed -n 's/^StartupWMClass=//p' "$root/usr/share/applications/org.example.korvalt.desktop")
cd "$(dirname "$root")"

# start LOG: starts the game, waits for its rules dialog; sets pid and dialog.
start() {
  "$game" >"$1" 2>&1 &
  pid=$!
  dialog=$(timeout 60 xdotool search --sync --onlyvisible --name '^Korvalt setup' | head -1) ||
    { echo "FAIL: no rules dialog"; cat "$1"; kill "$pid"; exit 1; }
}
# finish HOW LOG: closes the game by Ctrl+Q or SIGTERM and expects status 0.
finish() {
  if [ "$1" = ctrl+q ]; then
    xdotool windowfocus --sync "$dialog"
    # The dialog may be gone before the key is released: that complaint is no failure.
    xdotool key --window "$dialog" ctrl+q 2>/dev/null
  else
    kill -TERM "$pid"
  fi
  for _ in $(seq 1 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  if kill -0 "$pid" 2>/dev/null; then
    kill -9 "$pid"
    echo "FAIL: still running 10 s after $1"
    exit 1
  fi
  local status=0
  wait "$pid" || status=$?
  [ "$status" -eq 0 ] || { echo "FAIL: exit status $status after $1"; cat "$2"; exit 1; }
}

start found.log
class=$(xprop -id "$dialog" WM_CLASS | sed -E 's/.*, "(.*)"$/\1/')
[ "$class" = "$wm_class" ] || { echo "FAIL: window class '$class', menu entry's '$wm_class'"; exit 1; }
finish ctrl+q found.log
if grep 'no usable sound' found.log; then
  echo "FAIL: the game did not find its sounds in the package's data folder"
  exit 1
fi

mv "$root/usr/share/korvalt" "$root/usr/share/korvalt.away"
start missing.log
finish SIGTERM missing.log
mv "$root/usr/share/korvalt.away" "$root/usr/share/korvalt"
if [ -f "$prefix_data/x.wav" ]; then
  echo "note: $prefix_data holds sounds too; whether the ones found came from the package is not shown"
elif [ "$(grep -c '^korvalt: no usable sound' missing.log)" -ne 3 ]; then
  echo "FAIL: without the package's data folder the game still found sounds:"
  cat missing.log
  exit 1
fi
echo "run from the package: versions, script, sounds found relative to the game, closed cleanly"
