#!/usr/bin/env bash
# The game reads its command line before it opens a display: --help and --version answer on a
# machine without one and exit 0; anything else is refused in one line with status 2.
# Usage: options.sh GAME VERSION
set -uo pipefail
game=$1
version=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# run ARGS...: the game without any display; sets rc, out and err.
run() {
  env -u QT_QPA_PLATFORM -u WAYLAND_DISPLAY DISPLAY=:987 "$game" "$@" >"$work/out" 2>"$work/err"
  rc=$?
  out=$(cat "$work/out")
  err=$(cat "$work/err")
}

for h in --help -h; do
  run "$h"
  [ "$rc" -eq 0 ] && [ -z "$err" ] || fail "$h: status $rc, error '$err'"
  case "$out" in "usage: korvalt [OPTION]..."*"--version"*"korvalt-cli"*"Exit status"*) ;;
  *) fail "$h printed: $out" ;; esac
done
run --version
[ "$rc" -eq 0 ] && [ -z "$err" ] && [ "$out" = "korvalt $version" ] ||
  fail "--version: status $rc, printed '$out', error '$err'"

while IFS='|' read -r args said; do
  # shellcheck disable=SC2086
  run $args
  [ "$rc" -eq 2 ] && [ -z "$out" ] && [ "$(wc -l <"$work/err")" -eq 1 ] ||
    fail "'$args': status $rc, output '$out', error '$err'"
  case "$err" in "korvalt: $said"*"korvalt --help lists the options"*) ;;
  *) fail "'$args' said: $err" ;; esac
done <<'CASES'
--frobnicate|unknown option "--frobnicate"
-platform offscreen|unknown option "-platform"
board.sgf|unexpected argument "board.sgf"
CASES

[ "$failures" -eq 0 ] || exit 1
echo "game options: help and version without a display, refusals with status 2"
