#!/usr/bin/env bash
# Every manual page renders without a single warning, every program has one, and every option,
# script command and output field that a program's --help lists is in its page.
# Usage: man_pages.sh MAN_DIR PROGRAM...
set -uo pipefail
mandir=$1
shift
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

pages=("$mandir"/*.6)
[ -e "${pages[0]}" ] || { echo "FAIL: no manual page in $mandir"; exit 1; }
for page in "${pages[@]}"; do
  name=$(basename "$page")
  groff -ww -man -Tutf8 -z "$page" 2>"$tmp/err"
  [ ! -s "$tmp/err" ] || fail "groff -ww on $name: $(cat "$tmp/err")"
  # The check Debian's lintian makes, at its width.
  LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z "$page" \
    >/dev/null 2>"$tmp/err"
  [ ! -s "$tmp/err" ] || fail "man --warnings on $name: $(cat "$tmp/err")"
done

for program in "$@"; do
  name=$(basename "$program")
  page="$mandir/$name.6"
  [ -f "$page" ] || { fail "$name has no manual page $page"; continue; }
  groff -man -Tascii -P -cbou "$page" 2>/dev/null >"$tmp/page"
  "$program" --help >"$tmp/help" 2>&1 || { fail "$name --help failed"; continue; }
  # Options, and fields such as ply=N in the description of the output.
  for token in $(grep -oE -- '--[a-z][a-z-]*|\b[a-zA-Z0-9]+=' "$tmp/help" | sort -u); do
    grep -qF -- "$token" "$tmp/page" || fail "$name --help lists '$token', its page does not"
  done
  # Script commands: the words that open the lines of that section.
  for command in $(sed -n '/^Script commands/,/^$/s/^  \([a-z][a-z]*\) .*/\1/p' "$tmp/help"); do
    grep -qE "^ +$command( |$)" "$tmp/page" || fail "$name's script command '$command' is not in its page"
  done
done

[ "$failures" -eq 0 ] || exit 1
echo "${#pages[@]} manual pages render cleanly and cover $# programs"
