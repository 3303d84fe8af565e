#!/bin/bash
# The Windows programs under Wine (scripts/windows.sh --test runs this with
# Wine's environment set): the command line's first words, then device jobs
# through Wine's COM5 against the Linux simulator on a pty, each compared with
# the Linux build's stdout, stderr, exit status and files; jobs that keep
# service records each on a fresh store per build, and the records each build
# wrote verified by the other.
#
#   windows-tests.sh WIN_BUILD_DIR
#
# The Linux programs come from $BEAMPORT_LINUX_BUILD (default: build-asan,
# else build, in the checkout); they are built there when missing. A command
# still running after BEAMPORT_WINE_TIMEOUT seconds (default 300) is stopped
# and ends with 124, so a hang fails its check instead of the whole run.
set -eEuo pipefail
# A command that ends the run says so, rather than the run just stopping.
# (Only where a failure stops the run: not where set +e lets a command fail.)
trap '_err=$?; [[ $- == *e* ]] && echo "windows-tests.sh: line $LINENO: \"$BASH_COMMAND\" failed with status $_err" >&2' ERR

root=$(cd "$(dirname "$0")/.." && pwd)
win=${1:?usage: windows-tests.sh WIN_BUILD_DIR}
: "${WINEPREFIX:?run through scripts/windows.sh --test (Wine environment)}"
limit=${BEAMPORT_WINE_TIMEOUT:-300}
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
  wineserver -k 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# Both builds start from nothing remembered: the Linux one with a settings
# folder of this run's own, the Windows one in a throwaway copy of the Wine
# prefix (its registry values and its user's folders), so that what earlier
# runs remembered never shows up in the comparison.
export XDG_CONFIG_HOME=$work/linux-config XDG_DATA_HOME=$work/linux-data
cp -a "$WINEPREFIX" "$work/prefix"
export WINEPREFIX=$work/prefix
# One Wine server for the whole run, its own output in a log: a server that a
# Windows program starts writes into that program's stderr (which is compared),
# and one that ends between two programs can fail the next one's start.
wineserver -p >"$work/wineserver.log" 2>&1
wine reg delete 'HKCU\Software\IR\Norvik' /f >/dev/null 2>&1 || true

# The Windows name of a file of this run: Wine's drive Z: is the root folder
# (no Wine process needed, so it cannot fail while Wine's server comes and goes).
winpath() {
  [ -n "$1" ] || return 0 # no file (a compare without an input)
  local p
  p=$(realpath -m "$1")
  printf 'Z:%s' "${p//\//\\}"
}

com=$WINEPREFIX/dosdevices/com5
passed=0 failed=0
pass() { passed=$((passed + 1)); printf 'ok    %s\n' "$1"; }
fail() { failed=$((failed + 1)); printf 'FAIL  %s\n' "$1"; }

export BEAMPORT_RECORDS=off QT_QPA_PLATFORM=offscreen

# Two fresh simulated detectors (the demonstration unit), made the same
# moment: one for each build, behind the symbolic links $1 and $2. The unit's
# event log is dated from the moment it is made, so both logs are the same.
# Knobs for the simulators of the next compare: $sim_knobs.
sim_pids=() sim_knobs=()
start_sims() {
  local link
  rm -f "$1" "$2"
  for link in "$1" "$2"; do
    "$linux/beamport-sim" --link "$link" "${sim_knobs[@]}" >>"$work/sim.out" 2>>"$work/sim.err" &
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

# The records stores. By default no job keeps a record ($lenv and $wenv say
# BEAMPORT_RECORDS=off). stores NAME gives each build a store of its own,
# fresh: the SQLite file $work/NAME.linux.store/records.sqlite or
# $work/NAME.win.store/records.sqlite (told to Windows in its own spelling).
# The Linux side's bench key and witnesses go beside its store
# (XDG_CONFIG_HOME), a key made on first use; the Windows build keeps its key
# in the Wine user's %APPDATA%\beamport (Wine sets APPDATA itself), made on
# its first use there, its witnesses named by each store's path. lcli and wcli
# run the two command lines on them.
lenv=(BEAMPORT_RECORDS=off) wenv=(BEAMPORT_RECORDS=off)
stores() {
  local l=$work/$1.linux.store w=$work/$1.win.store
  mkdir -p "$l" "$w"
  lenv=("BEAMPORT_RECORDS=sqlite:$l/records.sqlite" "XDG_CONFIG_HOME=$l/config" "XDG_DATA_HOME=$l/data")
  wenv=("BEAMPORT_RECORDS=sqlite:$(winpath "$w/records.sqlite")")
}
no_stores() { lenv=(BEAMPORT_RECORDS=off) wenv=(BEAMPORT_RECORDS=off); }
# A command within the time limit.
within() { timeout -k 10 "$limit" "$@"; }
lcli() { within env "${lenv[@]}" "$linux/beamport-cli" "$@"; }
wcli() { within env "${wenv[@]}" wine "$win/beamport-cli.exe" "$@"; }

# Runs a command that needs no detector (a cylinder registered, a template
# saved) on each side's store, the same way; both must say the same and
# succeed, or the check named NAME fails. IN stands for $input.
on_both() {
  local name=$1; shift
  local a args=() wargs=() wininput lcode wcode
  wininput=$(winpath "$input")
  for a in "$@"; do args+=("${a//IN/$input}"); wargs+=("${a//IN/$wininput}"); done
  set +e
  lcli "${args[@]}" >"$work/$name.setup.linux" 2>&1 </dev/null
  lcode=$?
  wcli "${wargs[@]}" >"$work/$name.setup.win" 2>&1 </dev/null
  wcode=$?
  set -e
  if [ "$lcode" != 0 ] || [ "$wcode" != 0 ] || ! cmp -s "$work/$name.setup.linux" "$work/$name.setup.win"; then
    fail "$name: $* (exit linux $lcode, windows $wcode)"
    diff "$work/$name.setup.linux" "$work/$name.setup.win" | head -n 6 | sed 's/^/  /' || true
    return 1
  fi
}

# The technician at the gas: while a run goes on, applies the simulator's span
# gas (SIGUSR1) at each "Apply gas:" line of the run's stderr and removes it
# (SIGUSR2) at each "Remove gas"; ends with the simulator. Arguments: the
# stderr file, the simulator's process id.
follow_gas() {
  local err=$1 pid=$2 seen=0 line
  while kill -0 "$pid" 2>/dev/null; do
    while IFS= read -r line; do
      seen=$((seen + 1))
      case $line in
        "Apply gas: "*) kill -USR1 "$pid" 2>/dev/null || true ;;
        "Remove gas"*) kill -USR2 "$pid" 2>/dev/null || true ;;
      esac
    done < <(tail -n +"$((seen + 1))" "$err" 2>/dev/null)
    sleep 0.1
  done
}

# Runs one side of a compare with its stdout and stderr in OUT.stdout and
# OUT.stderr, the gas followed when $gas is 1. Arguments: the output's stem,
# the simulator's process id, then the command (lcli/wcli and its words).
run_side() {
  local out=$1 pid=$2 follower= code; shift 2
  : >"$out.stderr"
  if [ "${gas:-0}" = 1 ]; then
    follow_gas "$out.stderr" "$pid" &
    follower=$!
  fi
  set +e
  "$@" >"$out.stdout" 2>"$out.stderr" </dev/null
  code=$?
  set -e
  [ -n "$follower" ] && { kill "$follower" 2>/dev/null; wait "$follower" 2>/dev/null || true; }
  return "$code"
}

# What a gas job measures follows the moment the gas reached the sensor (the
# technician's signal comes a little sooner or later on each side) and the
# simulated sensor's noise: in the lines of the readings as found and as left
# and of the bump test's baseline, peak, alarm and recovery, the numbers are
# masked; their words, the criteria and the verdict are not. Arguments: the
# compare's name, the files.
mask_measures() {
  case $1 in
    sensor-cal-cylinder | bump-test) ;;
    *) return 0 ;;
  esac
  shift
  sed -i -E '/^(As (found|left) |  as (found|left): |  baseline )/ s/[+-]?[0-9]+(\.[0-9]+)?/#/g' "$@"
}

# Runs one command line on both builds, each against a fresh simulator, and
# compares what they print and the exit status. Arguments: a name, then the
# command's words; OUT in a word stands for an output file of the run, whose
# bytes are compared too, and IN for the file $input. Each build keeps its
# records as $lenv and $wenv say; $gas=1 follows the gas steps.
input=
compare() {
  local name=$1; shift
  local lout=$work/$name.linux wout=$work/$name.win args=() a lcode wcode winfile
  start_sims "$work/ttyS-sim" "$com"
  for a in "$@"; do a=${a//OUT/$lout.file}; args+=("${a//IN/$input}"); done
  lcode=0
  run_side "$lout" "${sim_pids[0]}" lcli --port "$work/ttyS-sim" "${args[@]}" || lcode=$?
  args=()
  winfile=$(winpath "$wout.file")
  local wininput; wininput=$(winpath "$input")
  for a in "$@"; do a=${a//OUT/$winfile}; args+=("${a//IN/$wininput}"); done
  wcode=0
  run_side "$wout" "${sim_pids[1]}" wcli --port COM5 "${args[@]}" || wcode=$?
  stop_sims
  rm -f "$com"
  mask_measures "$name" "$lout.stdout" "$wout.stdout"
  # The folders and files remembered by the commands before (a firmware image
  # among them, from an earlier run) are the same, each written in its
  # system's way.
  if [ "$name" = settings ]; then
    sed -i '/Z:\\\\tmp\\\\/ { s#Z:\\\\#/#g; s#\\\\#/#g }' "$wout.stdout"
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
  if within wine "$win/tests/test_windows.exe" >"$work/unit.out" 2>&1; then
    pass "test_windows.exe: $(grep -a -c '^\[       OK \]' "$work/unit.out") passed"
  else
    fail "test_windows.exe"
    grep -a -E '^\[  FAILED  \]|Failure|error' "$work/unit.out" | head -n 20 | sed 's/^/  /'
  fi
  grep -a '^\[  SKIPPED \]' "$work/unit.out" | sed 's/^/  /' || true
fi

version=$(within wine "$win/beamport-cli.exe" --version 2>&1 | tr -d '\r')
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

# A firmware image the simulated detector takes (made here, never kept in the
# repository): the settings' 128 packets of 128 bytes, for product 2,
# firmware 1.5 on hardware 5, from firmware 1.0 and hardware 5 on, with the
# CRC-16 of bytes 2 to the end in its first two bytes (little-endian).
make_image() {
  local -a b
  local i bit crc=0 size=$((128 * 128))
  for ((i = 0; i < size; i++)); do b[i]=$(((i * 7 + 3) & 255)); done
  b[2]=2 b[3]=15 b[4]=5 b[5]=10 b[6]=5
  for ((i = 2; i < size; i++)); do
    crc=$((crc ^ b[i]))
    for ((bit = 0; bit < 8; bit++)); do
      if ((crc & 1)); then crc=$(((crc >> 1) ^ 0xA001)); else crc=$((crc >> 1)); fi
    done
  done
  b[0]=$((crc & 255)) b[1]=$((crc >> 8))
  # shellcheck disable=SC2059 # the format is the bytes, \xHH escapes only
  printf "$(printf '\\x%02x' "${b[@]}")" >"$1"
}
image=$work/firmware.img
make_image "$image"
input=$image
compare upgrade --yes upgrade IN

# The jobs that need the records: each build on a fresh store of its own, the
# same cylinder (and template) registered on each through its own command line.
# The calibration and the bump test share a store on each side: its chain of
# two records is what the other build verifies below.
sim_knobs=(--response-seconds 1) gas=1
stores evidence
if on_both cylinder cylinders add --gas H2S --concentration 25 --lot LOT-7 --expires 2099-12-31 --balance N2; then
  compare sensor-cal-cylinder --yes sensor-cal --cylinder 1
  compare bump-test --yes bump-test --cylinder 1
fi
sim_knobs=() gas=0
# A second cylinder whose maker's name is not ASCII: both builds take it from
# their command line as UTF-8, keep it and list it alike.
if on_both cylinder-utf8 cylinders add --gas H2S --concentration 50 --lot LOT-8 --expires 2099-12-31 \
  --maker "Gaswerk Müller" && on_both cylinder-list cylinders; then
  pass "a cylinder's maker beyond ASCII: kept and listed alike"
fi
# The template: the user ID of the detector's .cfg changed to SITE-A (the
# version 7 payload's bytes 1 to 6, the file's 25 to 30).
input=$work/site.cfg
cp "$work/read-out.linux.file" "$input"
printf 'SITE-A' | dd of="$input" bs=1 seek=25 conv=notrunc status=none
stores program
on_both program template save site --from IN --fields mUserID && compare program --yes program site --count 1
no_stores

# The in-process simulated detector: a named pipe on Windows, a pty on Linux.
set +e
within "$linux/beamport-cli" --simulate identify >"$work/sim-id.linux" 2>&1 </dev/null
lcode=$?
within wine "$win/beamport-cli.exe" --simulate identify >"$work/sim-id.win" 2>&1 </dev/null
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
within wine "$win/beamport-cli.exe" --port COM5 log --seconds 60 >"$work/vanish.out" 2>&1 </dev/null &
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

# The simulator killed in the middle of a firmware download: the port's error,
# 161, within 2 s of the kill, and the job's record kept in the store (asked
# for through the command line's records command).
stores vanish-upgrade
start_sims "$work/ttyS-sim" "$com"
wcli --port COM5 --traffic --yes upgrade "$(winpath "$image")" >"$work/vanish-upgrade.out" \
  2>"$work/vanish-upgrade.err" </dev/null &
job=$!
# The download is under way once a few of its packets have gone out.
for _ in $(seq 300); do
  sent=$(cat "$work/vanish-upgrade.out" "$work/vanish-upgrade.err" 2>/dev/null | grep -a -c '\[SEND\] OK' || true)
  [ "$sent" -ge 10 ] && break
  kill -0 "$job" 2>/dev/null || break
  sleep 0.1
done
stop_sims
start=$(date +%s%N)
wcode=0
wait "$job" || wcode=$?
ms=$((($(date +%s%N) - start) / 1000000))
rm -f "$com"
kept=$(wcli records --job upgrade --json 2>/dev/null | grep -a -c '"status": 161' || true)
if [ "$wcode" = 161 ] && [ "$ms" -le 2000 ] && [ "$kept" = 1 ]; then
  pass "simulator gone mid-upgrade (after $sent packets): exit 161 after ${ms} ms, its record kept"
else
  fail "simulator gone mid-upgrade: exit $wcode after ${ms} ms (at most 2000), records of it with status 161: $kept"
  tail -n 5 "$work/vanish-upgrade.err" | sed 's/^/  /'
fi
no_stores

# A record written on one build verifies on the other: the store a build wrote
# in the calibration and the bump test against the cylinder (two records,
# the second chained to the first) copied whole to a folder of its own; each
# build verifies the copy, and both print the same head and the same records
# (every hashed field, the hash and the signature, byte for byte).
cross_check() {
  local side=$1 copy=$work/cross.$1 check what l w lcode wcode ok=1
  rm -rf "$copy"
  mkdir -p "$copy/linux-config"
  if ! cp "$work/evidence.$side.store"/records.sqlite* "$copy/" 2>/dev/null; then
    fail "records written on $side verify on both: the $side build wrote no store"
    return 0
  fi
  l=("BEAMPORT_RECORDS=sqlite:$copy/records.sqlite" "XDG_CONFIG_HOME=$copy/linux-config")
  w=("BEAMPORT_RECORDS=sqlite:$(winpath "$copy/records.sqlite")")
  for check in verify head --json; do
    what=(records "$check")
    set +e
    within env "${l[@]}" "$linux/beamport-cli" "${what[@]}" >"$copy/$check.linux" 2>&1 </dev/null
    lcode=$?
    within env "${w[@]}" wine "$win/beamport-cli.exe" "${what[@]}" >"$copy/$check.win" 2>&1 </dev/null
    wcode=$?
    set -e
    if [ "$lcode" != 0 ] || [ "$wcode" != 0 ] || ! cmp -s "$copy/$check.linux" "$copy/$check.win"; then
      ok=0
      echo "  records $check: exit linux $lcode, windows $wcode"
      diff "$copy/$check.linux" "$copy/$check.win" | head -n 6 | sed 's/^/  /' || true
    fi
  done
  if [ "$(grep -a -c '"sig": "[0-9a-f]\{128\}"' "$copy/--json.linux")" != 2 ] ||
    ! grep -a -q '"job": "bump-test"' "$copy/--json.linux" || ! grep -a -q '"job": "sensor-cal"' "$copy/--json.linux"; then
    ok=0
    echo "  not the two signed records of the sensor-cal and the bump-test in the store the $side build wrote"
  fi
  if [ $ok = 1 ]; then
    pass "records written on $side verify on both: $(head -n 1 "$copy/verify.linux")"
  else
    fail "records written on $side verify on both"
  fi
}
cross_check win
cross_check linux

echo "windows tests: $passed passed, $failed failed"
[ "$failed" = 0 ]
