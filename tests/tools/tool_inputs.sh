#!/usr/bin/env bash
# What the headless programs make of their command lines and of bad input: a refusal exits with
# status 2 and one short line on standard error; --help and --version print on standard output
# and exit 0.
set -u
cli=$1
bench=$2
version=$3
pbrain=$4

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
failures=0

fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

# run INPUT PROGRAM ARGS...: runs with INPUT on standard input; sets rc, out and err.
run() {
  local input=$1
  shift
  printf '%s' "$input" | "$@" >"$tmp/out" 2>"$tmp/err"
  rc=$?
  out=$(cat "$tmp/out")
  err=$(cat "$tmp/err")
}

# refused TEXT PROGRAM ARGS...: exit status 2, nothing on standard output, and one line on
# standard error that contains TEXT.
refused() {
  local text=$1
  shift
  run '' "$@"
  local what="$(basename "$1") ${*:2}"
  [ "$rc" -eq 2 ] || fail "$what: exit status $rc, not 2"
  [ -z "$out" ] || fail "$what: printed on standard output: $out"
  [ "$(wc -l <"$tmp/err")" -eq 1 ] || fail "$what: standard error is not one line: $err"
  case "$err" in *"$text"*) ;; *) fail "$what: standard error lacks '$text': $err" ;; esac
}

mkdir "$tmp/dir"
for p in "$cli" "$bench"; do
  refused '--budget takes a whole number from 1 to 4294967, not "4294968"' "$p" --budget 4294968
  refused '--budget takes a whole number from 1 to 4294967, not "0"' "$p" --budget 0
  refused '--rule takes a whole number from 0 to 1, not "2"' "$p" --rule 2
  refused '--rule takes a whole number from 0 to 1, not "one"' "$p" --rule one
  refused '--rule needs a value' "$p" --rule
  refused '--memory takes a whole number from 1 to 1048576, not "0"' "$p" --memory 0
  refused '--memory takes a whole number from 1 to 1048576, not "1048577"' "$p" --memory 1048577
  refused 'unknown option "--frobnicate"' "$p" --frobnicate
  refused 'unexpected argument "5"' "$p" 5
done
refused '--steps takes a whole number from 0 to 10000000, not "99999999999999999999"' \
  "$bench" --steps 99999999999999999999
refused '--steps takes a whole number from 0 to 10000000, not "-1"' "$bench" --steps -1
refused '--moves takes a whole number from 0 to 224, not "99999999999999999999"' \
  "$bench" --moves 99999999999999999999
refused '--json takes no value' "$bench" --json=yes
refused 'unknown option "--script"' "$bench" --script -
refused 'unknown option "--json"' "$cli" --json
refused '--script needs a non-empty FILE' "$cli" --script ''
refused 'cannot read the script' "$cli" --script "$tmp/dir"
refused 'it is a directory' "$cli" --script "$tmp/dir"
refused 'cannot read the script "'"$tmp"'/absent": No such file' "$cli" --script "$tmp/absent"

# Help and version.
for p in "$cli" "$bench"; do
  name=$(basename "$p")
  for h in --help -h; do
    run '' "$p" --rule 1 "$h" --frobnicate
    [ "$rc" -eq 0 ] && [ -z "$err" ] || fail "$name $h: status $rc, error '$err'"
    case "$out" in "usage: $name [OPTION]..."*"--memory MB"*"--version"*) ;;
    *) fail "$name $h printed: $out" ;; esac
  done
  run '' "$p" --version
  [ "$rc" -eq 0 ] && [ -z "$err" ] && [ "$out" = "$name $version" ] ||
    fail "$name --version: status $rc, printed '$out', error '$err'"
done
run '' "$cli" --help
for shown in 'click CELL -> 0|1 flags FC FR T' 'computer -> RATING cell CELL' \
  'ply=N top=CELL rootCount=N' 'children CELL:RATING:COUNT' 'line N: what'; do
  case "$out" in *"$shown"*) ;; *) fail "korvalt-cli --help lacks '$shown'" ;; esac
done

# The rule prompt asks again until it gets 0 or 1; an empty answer is 0; end of input ends.
run $'21\n1\nquit\n' "$cli"
[ "$rc" -eq 0 ] || fail "rule prompt: status $rc"
[ "$err" = 'The opening rule is 0 or 1, not "21".' ] || fail "rule prompt complained: $err"
[ "$(grep -o 'Rule \[0\]:' "$tmp/out" | wc -l)" -eq 2 ] || fail "rule prompt not asked twice"
grep -q 'Opening rule 1\.$' "$tmp/out" || fail "'21' then '1' did not pick rule 1"
run $'2\nabc\n\nquit\n' "$cli"
[ "$(wc -l <"$tmp/err")" -eq 2 ] && grep -q 'Opening rule 0\.$' "$tmp/out" ||
  fail "'2', 'abc', '' did not give two complaints and rule 0: $err"
run '' "$cli"
[ "$rc" -eq 0 ] && [ -z "$err" ] || fail "end of input at the prompt: status $rc, error '$err'"

# A 10 MB line of random bytes gives a short message of printable text, in the game and in a
# script.
head -c 10485760 /dev/urandom | tr -d '\n' >"$tmp/garbage"
for mode in "--rule 0 --budget 1" "--script -"; do
  # shellcheck disable=SC2086
  "$cli" $mode <"$tmp/garbage" >/dev/null 2>"$tmp/err"
  size=$(wc -c <"$tmp/err")
  [ "$size" -gt 0 ] && [ "$size" -lt 300 ] || fail "garbage with $mode: $size bytes on standard error"
  LC_ALL=C grep -q '[^[:print:]]' "$tmp/err" && fail "garbage with $mode: raw bytes on standard error"
done

# Below what an empty table holds there is no game; a little above it the game says so once and
# goes on.
run $'h9\nquit\n' "$cli" --rule 0 --memory 4
[ "$rc" -eq 2 ] || fail "--memory 4: status $rc, not 2"
case "$err" in *"--memory 4 leaves no room for the first position"*) ;; *) fail "--memory 4: $err" ;; esac
run $'h9\ng9\nf9\ni10\nj11\nk12\nquit\n' "$cli" --rule 0 --memory 38
notice='Memory limit reached: the computer has stopped thinking ahead. The game goes on.'
[ "$rc" -eq 0 ] || fail "--memory game: status $rc"
[ "$(grep -c "$notice" "$tmp/out")" -eq 1 ] || fail "--memory game: the notice is not shown once"
case "$err" in *"not a move here"*) fail "--memory game refused a move: $err" ;; esac
[ "$(sed -n "/$notice/,\$p" "$tmp/out" | grep -c 'Computer plays')" -ge 2 ] ||
  fail "--memory game: the computer did not play on after the notice"

# pbrain-korvalt reads its command line the same way; its standard input is a manager's.
refused '--budget takes a whole number from 1 to 4294967, not "0"' "$pbrain" --budget 0
refused 'unknown option "--rule"' "$pbrain" --rule 0
refused 'unexpected argument "15"' "$pbrain" 15
for h in --help -h; do
  run '' "$pbrain" "$h"
  [ "$rc" -eq 0 ] && [ -z "$err" ] || fail "pbrain-korvalt $h: status $rc, error '$err'"
  case "$out" in "usage: pbrain-korvalt [OPTION]..."*"--budget THOUSANDS"*"TAKEBACK x,y"*) ;;
  *) fail "pbrain-korvalt $h printed: $out" ;; esac
done
run '' "$pbrain" --version
[ "$rc" -eq 0 ] && [ "$out" = "pbrain-korvalt $version" ] ||
  fail "pbrain-korvalt --version: status $rc, printed '$out'"
run '' "$pbrain"
[ "$rc" -eq 0 ] && [ -z "$out$err" ] || fail "pbrain-korvalt on no input: status $rc, '$out$err'"
"$pbrain" <"$tmp/garbage" >"$tmp/out" 2>"$tmp/err"
rc=$?
[ "$rc" -eq 0 ] && [ ! -s "$tmp/err" ] && [ "$(wc -l <"$tmp/out")" -eq 1 ] &&
  [ "$(wc -c <"$tmp/out")" -lt 300 ] || fail "pbrain-korvalt on garbage: status $rc, $(wc -c <"$tmp/out") bytes"
LC_ALL=C grep -q '[^[:print:]]' "$tmp/out" && fail "pbrain-korvalt on garbage: raw bytes in its answer"

[ "$failures" -eq 0 ] || exit 1
echo "all inputs handled"
