#!/bin/sh
# What keeping its record costs one command-line job, as whole processes:
# paired runs, alternating, of `beamport-cli --port PTY identify` against
# `beamport-sim --plain`, with --records off and with the default SQLite store
# (synchronous=FULL, a signed record, the writer thread, the wait for it).
#   bench/records_cli_cost.sh BUILD_DIR [PAIRS]     (default 30 pairs)
# Prints the median of each and of the per-pair difference; target: at most 5 ms.
set -eu
build=${1:?usage: records_cli_cost.sh BUILD_DIR [PAIRS]}
pairs=${2:-30}
work=$(mktemp -d)
sim_pid=
trap '[ -z "$sim_pid" ] || kill "$sim_pid" 2>/dev/null; rm -rf "$work"' EXIT
"$build/beamport-sim" --plain --link "$work/pty" >"$work/sim.out" 2>&1 &
sim_pid=$!
i=0
while [ ! -e "$work/pty" ] && [ $i -lt 50 ]; do sleep 0.1; i=$((i + 1)); done
export XDG_DATA_HOME="$work/data" XDG_CONFIG_HOME="$work/config" BEAMPORT_RECORDS=
run() { # prints the wall time of one job in microseconds
    s=$(date +%s%6N)
    "$build/beamport-cli" --port "$work/pty" --records "$1" identify >/dev/null 2>&1
    e=$(date +%s%6N)
    echo $((e - s))
}
run off >/dev/null
run "sqlite:$work/data/beamport/records.sqlite" >/dev/null # the store and the key made once
i=0
: >"$work/off"; : >"$work/on"; : >"$work/diff"
while [ $i -lt "$pairs" ]; do
    a=$(run off); b=$(run "sqlite:$work/data/beamport/records.sqlite")
    echo "$a" >>"$work/off"; echo "$b" >>"$work/on"; echo $((b - a)) >>"$work/diff"
    i=$((i + 1))
done
median() { sort -n "$1" | awk '{v[NR]=$1} END {m = (NR % 2) ? v[(NR+1)/2] : (v[NR/2] + v[NR/2+1]) / 2; printf "%.1f", m / 1000}'; }
echo "load:$(uptime | sed 's/.*load average//')"
echo "identify, $pairs alternating pairs: records off $(median "$work/off") ms, default store $(median "$work/on") ms," \
     "the record $(median "$work/diff") ms (median of the pair differences; target at most 5 ms)"
