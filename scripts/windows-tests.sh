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
cleanup() {
  stop_sims
  rm -rf "$work"
}
trap cleanup EXIT

com=$WINEPREFIX/dosdevices/com5
passed=0 failed=0
pass() { passed=$((passed + 1)); printf 'ok    %s\n' "$1"; }
fail() { failed=$((failed + 1)); printf 'FAIL  %s\n' "$1"; }

export BEAMPORT_RECORDS=off QT_QPA_PLATFORM=offscreen

# Two fresh simulated detectors (the demonstration unit), made the same
# moment: one for each build, behind the symbolic links $1 and $2. The unit's
# event log is dated from the moment it is made, so both logs are the same.
sim_pids=()
start_sims() {
  local link
  rm -f "$1" "$2"
  for link in "$1" "$2"; do
    "$linux/beamport-sim" --link "$link" >>"$work/sim.out" 2>>"$work/sim.err" &
    sim_pids+=($!)
  done
  for link in "$1" "$2"; do
    for _ in $(seq 100); do [ -L "$link" ] && break; sleep 0.05; done
    [ -L "$link" ] || { echo "beamport-sim did not start: $(cat "$work/sim.err")" >&2; return 1; }
  done
}
stop_sims() {
  local pid
  for pid in "${sim_pids[@]}"; do kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null || true; done
  sim_pids=()
}

# Runs one command line on both builds, each against a fresh simulator, and
# compares what they print and the exit status. Arguments: a name, then the
# command's words; OUT in a word stands for an output file of the run, whose
# bytes are compared too, and IN for the file $input.
input=
compare() {
  local name=$1; shift
  local lout=$work/$name.linux wout=$work/$name.win args=() a lcode wcode winfile
  start_sims "$work/ttyS-sim" "$com"
  for a in "$@"; do a=${a//OUT/$lout.file}; args+=("${a//IN/$input}"); done
  set +e
  "$linux/beamport-cli" --port "$work/ttyS-sim" "${args[@]}" >"$lout.stdout" 2>"$lout.stderr" </dev/null
  lcode=$?
  set -e
  args=()
  winfile=$(winepath -w "$wout.file" 2>/dev/null)
  local wininput; wininput=$(winepath -w "$input" 2>/dev/null)
  for a in "$@"; do a=${a//OUT/$winfile}; args+=("${a//IN/$wininput}"); done
  set +e
  wine "$win/beamport-cli.exe" --port COM5 "${args[@]}" >"$wout.stdout" 2>"$wout.stderr" </dev/null
  wcode=$?
  set -e
  stop_sims
  rm -f "$com"
  # The folders remembered by the commands before are the same, each written
  # in its system's way.
  if [ "$name" = settings ]; then
    sed -i 's#Z:\\\\tmp\\\\#/tmp/#g' "$wout.stdout"
  fi
  local ok=1
  [ "$lcode" = "$wcode" ] || { ok=0; echo "  exit: linux $lcode, windows $wcode"; }
  cmp -s "$lout.stdout" "$wout.stdout" || { ok=0; diff "$lout.stdout" "$wout.stdout" | head -n 10 | sed "s/^/  /" || true; }
  cmp -s "$lout.stderr" "$wout.stderr" || { ok=0; diff "$lout.stderr" "$wout.stderr" | head -n 10 | sed "s/^/  /" || true; }
  if [ -f "$lout.file" ] || [ -f "$wout.file" ]; then
    # An event's date and time are counted back from the moment the file is
    # saved, which is not the same second in the two runs: they are masked.
    if [ "$name" = events ]; then
      sed -i -E 's/^[0-9]{4}-[0-9]{2}-[0-9]{2},[0-9]{2}:[0-9]{2}:[0-9]{2},/DATE,TIME,/' "$lout.file" "$wout.file"
    fi
    # A .cfg file keeps the moment it was saved (a day count, bytes 8 to 15).
    if [ "$name" = read-out ]; then
      for f in "$lout.file" "$wout.file"; do
        [ -f "$f" ] && head -c 8 /dev/zero | dd of="$f" bs=1 seek=8 conv=notrunc status=none
      done
    fi
    cmp -s "$lout.file" "$wout.file" || { ok=0; echo "  the files differ:"; diff "$lout.file" "$wout.file" | head -n 6 | sed "s/^/  /" || true; }
  fi
  if [ $ok = 1 ]; then pass "$name (exit $lcode)"; else fail "$name"; fi
}

# The platform's unit tests (built when GoogleTest is in the cross-built prefix).
if [ -f "$win/tests/test_windows.exe" ]; then
  if wine "$win/tests/test_windows.exe" >"$work/unit.out" 2>&1; then
    pass "test_windows.exe: $(grep -a -c '^\[       OK \]' "$work/unit.out") passed"
  else
    fail "test_windows.exe"
    grep -a -E '^\[  FAILED  \]|Failure|error' "$work/unit.out" | head -n 20 | sed 's/^/  /'
  fi
  grep -a '^\[  SKIPPED \]' "$work/unit.out" | sed 's/^/  /' || true
fi

version=$(wine "$win/beamport-cli.exe" --version 2>&1 | tr -d '\r')
if [ "$version" = "$("$linux/beamport-cli" --version 2>&1)" ]; then pass "--version: $version"; else fail "--version: $version"; fi

compare identify identify
compare read read
compare events events --out OUT
compare eeprom eeprom --out OUT
compare read-out read --out OUT
compare settings settings
input=$work/read-out.linux.file
compare write --yes write IN
compare sensor-cal --yes sensor-cal --span 50

# The in-process simulated detector: a named pipe on Windows, a pty on Linux.
set +e
"$linux/beamport-cli" --simulate identify >"$work/sim-id.linux" 2>&1 </dev/null
lcode=$?
wine "$win/beamport-cli.exe" --simulate identify >"$work/sim-id.win" 2>&1 </dev/null
wcode=$?
set -e
if [ "$lcode" = "$wcode" ] && cmp -s "$work/sim-id.linux" "$work/sim-id.win"; then
  pass "--simulate identify (exit $wcode)"
else
  fail "--simulate identify: exit linux $lcode, windows $wcode"
  diff "$work/sim-id.linux" "$work/sim-id.win" | head -n 10 | sed 's/^/  /'
fi

# The simulator killed in the middle of a job: the port's error, 161 (how long
# the program took to see it is printed, not judged).
start_sims "$work/ttyS-sim" "$com"
wine "$win/beamport-cli.exe" --port COM5 log --seconds 60 >"$work/vanish.out" 2>&1 </dev/null &
job=$!
sleep 4
stop_sims
start=$(date +%s%N)
set +e
wait "$job"
wcode=$?
set -e
ms=$((($(date +%s%N) - start) / 1000000))
rm -f "$com"
if [ "$wcode" = 161 ]; then
  pass "simulator gone mid-job: exit 161 after ${ms} ms"
else
  fail "simulator gone mid-job: exit $wcode after ${ms} ms"
  tail -n 5 "$work/vanish.out" | sed 's/^/  /'
fi

echo "windows tests: $passed passed, $failed failed"
[ "$failed" = 0 ]
