#!/bin/bash
# The Windows programs under Wine (scripts/windows.sh --test runs this with
# Wine's environment set): the command line's first words, then device jobs
# through Wine's COM5 against the Linux simulator on a pty, each compared with
# the Linux build's stdout, stderr, exit status and files.
#
#   windows-tests.sh WIN_BUILD_DIR
#
# The Linux programs come from $BEAMPORT_LINUX_BUILD (default: build-asan,
# else build, in the checkout); they are built there when missing.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
win=${1:?usage: windows-tests.sh WIN_BUILD_DIR}
: "${WINEPREFIX:?run through scripts/windows.sh --test (Wine environment)}"
linux=${BEAMPORT_LINUX_BUILD:-}
if [ -z "$linux" ]; then
  linux=$root/build
  [ -x "$root/build-asan/beamport-sim" ] && linux=$root/build-asan
fi
if [ ! -x "$linux/beamport-sim" ] || [ ! -x "$linux/beamport-cli" ]; then
  echo "== building the Linux programs in $linux" >&2
  cmake -S "$root" -B "$linux" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
  nice -n 10 cmake --build "$linux" -j"${BEAMPORT_JOBS:-2}" --target beamport-cli beamport-sim
fi

work=$(mktemp -d /tmp/beamport-wine.XXXXXX)
sim_pid=
cleanup() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

com=$WINEPREFIX/dosdevices/com5
passed=0 failed=0
pass() { passed=$((passed + 1)); printf 'ok    %s\n' "$1"; }
fail() { failed=$((failed + 1)); printf 'FAIL  %s\n' "$1"; }

export BEAMPORT_RECORDS=off QT_QPA_PLATFORM=offscreen

# A fresh simulated detector (the demonstration unit) on a pty; $1 is a
# symbolic link made to its device.
start_sim() {
  rm -f "$1"
  "$linux/beamport-sim" --link "$1" >"$work/sim.out" 2>"$work/sim.err" &
  sim_pid=$!
  for _ in $(seq 100); do [ -L "$1" ] && return 0; sleep 0.05; done
  echo "beamport-sim did not start: $(cat "$work/sim.err")" >&2
  return 1
}
stop_sim() { kill "$sim_pid" 2>/dev/null; wait "$sim_pid" 2>/dev/null || true; sim_pid=; }

# Runs one command line on both builds, each against a fresh simulator, and
# compares what they print and the exit status. Arguments: a name, then the
# command's words; OUT in a word stands for an output file of the run, whose
# bytes are compared too.
compare() {
  local name=$1; shift
  local lout=$work/$name.linux wout=$work/$name.win args=() a lcode wcode
  for a in "$@"; do args+=("${a//OUT/$lout.file}"); done
  start_sim "$work/ttyS-sim"
  set +e
  "$linux/beamport-cli" --port "$work/ttyS-sim" "${args[@]}" >"$lout.stdout" 2>"$lout.stderr"
  lcode=$?
  set -e
  stop_sim
  args=()
  local winfile; winfile=$(winepath -w "$wout.file" 2>/dev/null)
  for a in "$@"; do args+=("${a//OUT/$winfile}"); done
  start_sim "$com"
  set +e
  wine "$win/beamport-cli.exe" --port COM5 "${args[@]}" >"$wout.stdout" 2>"$wout.stderr"
  wcode=$?
  set -e
  stop_sim
  rm -f "$com"
  # The Windows console ends lines with CR LF only where the program says so.
  local ok=1
  [ "$lcode" = "$wcode" ] || { ok=0; echo "  exit: linux $lcode, windows $wcode"; }
  cmp -s "$lout.stdout" "$wout.stdout" || { ok=0; diff "$lout.stdout" "$wout.stdout" | head -n 10 | sed 's/^/  /'; }
  cmp -s "$lout.stderr" "$wout.stderr" || { ok=0; diff "$lout.stderr" "$wout.stderr" | head -n 10 | sed 's/^/  /'; }
  if [ -f "$lout.file" ] || [ -f "$wout.file" ]; then
    cmp -s "$lout.file" "$wout.file" || { ok=0; echo "  the files differ"; }
  fi
  if [ $ok = 1 ]; then pass "$name (exit $lcode)"; else fail "$name"; fi
}

version=$(wine "$win/beamport-cli.exe" --version 2>&1 | tr -d '\r')
if [ "$version" = "$("$linux/beamport-cli" --version 2>&1)" ]; then pass "--version: $version"; else fail "--version: $version"; fi

compare identify identify
compare read read
compare events events --out OUT
compare eeprom eeprom --out OUT

echo "windows tests: $passed passed, $failed failed"
[ "$failed" = 0 ]
