# Sourced by the end-to-end scripts. `e2e_outer "$@"` runs the calling script again under a
# fresh Xvfb, with a temporary HOME and runtime folder of its own (removed at exit), leaves
# the inner run's status in e2e_status and returns 0; inside that run it returns 1 at once,
# and KORVALT_E2E_WORK names the temporary folder.
e2e_outer() {
  [ -z "${KORVALT_E2E_INNER:-}" ] || return 1
  KORVALT_E2E_WORK=$(mktemp -d)
  trap 'rm -rf "$KORVALT_E2E_WORK"' EXIT
  mkdir -p "$KORVALT_E2E_WORK/home" "$KORVALT_E2E_WORK/run"
  chmod 700 "$KORVALT_E2E_WORK/run"
  export HOME="$KORVALT_E2E_WORK/home" XDG_RUNTIME_DIR="$KORVALT_E2E_WORK/run"
  export KORVALT_E2E_INNER=1 KORVALT_E2E_WORK
  unset QT_QPA_PLATFORM
  e2e_status=0
  xvfb-run -a -s "-screen 0 1280x1024x24" bash "$0" "$@" || e2e_status=$?
  return 0
}

# `e2e_exits_cleanly PID LOG WHAT` waits up to 20 s for the game to end, then checks that it
# exited with 0 and left no sanitizer report in its log; it says what failed and returns 1.
e2e_exits_cleanly() {
  local pid=$1 log=$2 what=$3 status=0
  for _ in $(seq 1 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.2; done
  if kill -0 "$pid" 2>/dev/null; then
    kill -9 "$pid"
    echo "$what: still running 20 s later"
    return 1
  fi
  wait "$pid" || status=$?
  [ "$status" -eq 0 ] || { echo "$what: exit code $status"; cat "$log"; return 1; }
  if grep -E 'ERROR: (Address|Leak)Sanitizer|WARNING: ThreadSanitizer|runtime error:' "$log"; then
    echo "$what: sanitizer report"
    return 1
  fi
}

# Where Xvfb, with no window manager, puts the controls, in screen pixels ("x y"): the rules
# dialog at 484,304 and the game window's client area at 396,221, its panel 469 to the right.
E2E_GOMOKU="$((484 + 15)) $((304 + 96))"
E2E_OK="$((484 + 293)) $((304 + 172))"
E2E_MODE_LIST="$((396 + 469 + 8 + 80)) $((221 + 3 + 152 + 12))"
E2E_BUDGET_TEXT="$((396 + 469 + 120 + 20)) $((221 + 3 + 216 + 12))"
E2E_BUDGET_DOWN="$((396 + 469 + 120 + 57 - 6)) $((221 + 3 + 216 + 26 - 6))"

# `e2e_click X Y` clicks there with a real pointer and gives the window time to answer.
e2e_click() { xdotool mousemove "$1" "$2" click 1; sleep 0.3; }

# The game window's board read off the screen, one line "column row red green blue" per cell
# with its averaged colour; the window must stand where Xvfb, with no window manager, puts it.
e2e_cells() {
  import -window root -crop 450x450+396+221 png:- 2>/dev/null |
    convert png:- -scale 15x15\! txt:- | tail -n +2 |
    sed -E 's/^([0-9]+),([0-9]+): \(([0-9.]+),([0-9.]+),([0-9.]+).*/\1 \2 \3 \4 \5/'
}

# Stones on the board: cells whose red or blue stands above their green. The rating tint and
# the hints keep green at its full value, only a cross's or a nought's pen lowers it. The whole
# listing is read first, so that the pipeline never ends early by SIGPIPE.
e2e_stones() {
  e2e_cells | awk '{ if ($3 - $4 > 20 || $5 - $4 > 20) n++ } END { print n + 0 }'
}
