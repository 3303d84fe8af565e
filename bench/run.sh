#!/bin/sh
# Builds the benchmarks in release mode and runs them all.
#   bench/run.sh [bench_jobs options]    (see bench_jobs --help)
# Environment: BUILD_DIR (default build-bench in the repository), JOBS (build jobs, default 2),
# LOGGER_SECONDS (length of the logging run, default 60), BEAMPORT_TEST_PG (the PostgreSQL server of the
# records benches; without it a throwaway one when the server programs are installed, see scripts/pg-test.sh).
set -eu

here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
build=${BUILD_DIR:-$root/build-bench}
jobs=${JOBS:-2}

generator=
if command -v ninja >/dev/null 2>&1; then
    generator="-G Ninja"
fi
log=$(mktemp)
pgdir=
trap 'rm -f "$log"; [ -z "$pgdir" ] || "$root/scripts/pg-test.sh" stop "$pgdir"' EXIT
configure() {
    if [ ! -f "$build/CMakeCache.txt" ]; then
        # shellcheck disable=SC2086
        cmake -S "$root" -B "$build" $generator "$@"
    else
        cmake "$build" "$@"
    fi
}
if ! configure -DCMAKE_BUILD_TYPE=Release -DBEAMPORT_GUI=OFF -DBEAMPORT_TESTS=OFF >"$log" 2>&1 ||
    ! cmake --build "$build" -j "$jobs" --target bench_jobs bench_wait_cpu bench_logger_cpu \
        bench_records_journal bench_records_due beamport-cli beamport-sim >>"$log" 2>&1; then
    cat "$log" >&2
    echo "bench/run.sh: the build failed" >&2
    exit 1
fi

echo "== $(uname -n), $(nproc) cores; uptime:$(uptime | sed 's/.*up/ up/')"
echo
echo "== bench_jobs"
status=0
"$build/bench/bench_jobs" "$@" || status=$?
echo
echo "== bench_wait_cpu"
"$build/bench/bench_wait_cpu" || status=$?
echo
echo "== bench_logger_cpu (LOGGER_SECONDS, default 60)"
"$build/bench/bench_logger_cpu" "${LOGGER_SECONDS:-60}" || status=$?
if [ -z "${BEAMPORT_TEST_PG:-}" ]; then
    pgdir=$(mktemp -d)
    if BEAMPORT_TEST_PG=$("$root/scripts/pg-test.sh" start "$pgdir" 2>/dev/null); then
        export BEAMPORT_TEST_PG
    else
        rm -rf "$pgdir"
        pgdir=
    fi
fi
echo
echo "== bench_records_journal"
"$build/bench/bench_records_journal" || status=$?
echo
echo "== bench_records_due"
"$build/bench/bench_records_due" || status=$?
echo
echo "== records_cli_cost.sh"
"$here/records_cli_cost.sh" "$build" || status=$?
exit $status
