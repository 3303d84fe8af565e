#!/usr/bin/env bash
# The window started where it cannot open: one line that says so and what to
# use instead, exit 1; --help and a wrong option are answered without a display.
set -uo pipefail
bin=$1
fail=0
check() { # NAME WANT_STATUS WANT_LINES WANT_TEXT COMMAND...
  local name=$1 want=$2 want_lines=$3 text=$4
  shift 4
  local err status lines
  err=$("$@" 2>&1 >/dev/null)
  status=$?
  lines=$(printf '%s\n' "$err" | grep -c .)
  if [ "$status" -ne "$want" ] || [ "$lines" -ne "$want_lines" ] || [[ "$err" != *"$text"* ]]; then
    echo "FAIL $name: status $status (want $want), $lines stderr lines (want $want_lines):"
    printf '%s\n' "$err"
    fail=1
  fi
}
clean=(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM)
check "no display" 1 1 "there is no display to open the window on" "${clean[@]}" "$bin" --simulate
check "unreachable display" 1 1 "the window cannot be opened on this display" \
  "${clean[@]}" DISPLAY=:97 XAUTHORITY=/nonexistent "$bin" --simulate
check "help" 0 1 "usage: beamport" "${clean[@]}" "$bin" --help
check "wrong option" 64 2 "unknown option --bogus" "${clean[@]}" "$bin" --bogus
exit $fail
