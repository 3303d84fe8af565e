#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, AddressSanitizer, UndefinedBehavior-
# Sanitizer) and runs each for RUNS runs, one after the other, starting from
# the seeds in tests/fuzz/corpus/<target>/. One line per target; exits
# non-zero when any target found something (crash, overrun, undefined
# behaviour, leak, hang or a broken invariant).
#
#   tests/fuzz/run.sh [RUNS]        default 200000; CI uses 2000
#
# Environment: BEAMPORT_FUZZ_BUILD (build folder, default build-fuzz),
# FUZZ_MAX_TIME (seconds per target, the safety limit; default 60 + RUNS/10),
# FUZZ_TARGETS (names to run, default all), FUZZ_ARGS (more libFuzzer flags).
# Corpora grow in <build>/fuzz-corpus/, logs go to <build>/fuzz-logs/, and
# inputs that found something to <build>/fuzz-findings/.
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
runs="${1:-200000}"
[[ "$runs" =~ ^[0-9]+$ ]] || { echo "usage: $0 [RUNS]" >&2; exit 64; }
build="${BEAMPORT_FUZZ_BUILD:-$root/build-fuzz}"
max_time="${FUZZ_MAX_TIME:-$((60 + runs / 10))}"

# ---- tools
"$root/scripts/deps.sh" >/dev/null
fuzzer_rt() { compgen -G "/usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a" >/dev/null; }
if ! command -v clang++ >/dev/null || ! fuzzer_rt; then
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq clang libclang-rt-14-dev
fi

# ---- build
mkdir -p "$build"
if [ ! -f "$build/build.ninja" ]; then
  CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DBEAMPORT_FUZZ=ON -DBEAMPORT_GUI=OFF \
    -DBEAMPORT_TESTS=OFF -DBEAMPORT_SANITIZE=ON >"$build/fuzz-configure.log" 2>&1 ||
    { cat "$build/fuzz-configure.log" >&2; exit 1; }
fi
cmake --build "$build" --target fuzz_all -j2 >"$build/fuzz-build.log" 2>&1 ||
  { tail -50 "$build/fuzz-build.log" >&2; exit 1; }

# ---- run
# Scratch files of the targets go to memory where there is some: the store
# writes of the settings target sync to disk otherwise.
scratch="$(mktemp -d "$([ -d /dev/shm ] && [ -w /dev/shm ] && echo /dev/shm || echo "${TMPDIR:-/tmp}")/beamport-fuzz.XXXXXX")"
trap 'rm -rf "$scratch"' EXIT
export TMPDIR="$scratch"
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:allocator_may_return_null=0}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
unset BEAMPORT_FUZZ_VERBOSE

mkdir -p "$build/fuzz-corpus" "$build/fuzz-logs" "$build/fuzz-findings"
targets="${FUZZ_TARGETS:-$(cd "$build/fuzz" && ls fuzz_* | sed 's/^fuzz_//' | sort)}"
passed=0; failed=0
for t in $targets; do
  exe="$build/fuzz/fuzz_$t"
  [ -x "$exe" ] || { echo "fuzz_$t: no such target"; failed=$((failed + 1)); continue; }
  work="$build/fuzz-corpus/$t"; seeds="$root/tests/fuzz/corpus/$t"; log="$build/fuzz-logs/$t.log"
  mkdir -p "$work" "$seeds"
  rc=0
  # shellcheck disable=SC2086
  "$exe" -runs="$runs" -max_total_time="$max_time" -timeout=30 -rss_limit_mb=4096 -print_final_stats=1 \
    -artifact_prefix="$build/fuzz-findings/$t-" ${FUZZ_ARGS:-} "$work" "$seeds" >"$log" 2>&1 || rc=$?
  done_line="$(grep -E '^Done [0-9]+ runs in' "$log" | tail -1 || true)"
  did="$(sed -E 's/^Done ([0-9]+) runs in ([0-9]+) second.*/\1/' <<<"$done_line")"
  secs="$(sed -E 's/^Done ([0-9]+) runs in ([0-9]+) second.*/\2/' <<<"$done_line")"
  corpus="$(find "$work" -type f | wc -l)"
  if [ "$rc" -eq 0 ] && [ -n "$done_line" ]; then
    note=""; [ "$did" -lt "$runs" ] && note=" (stopped by the ${max_time} s limit)"
    echo "fuzz_$t: ${did} runs in ${secs} s, corpus ${corpus}, no finding${note}"
    passed=$((passed + 1))
  else
    what="$(grep -m1 -E 'ERROR: (AddressSanitizer|LeakSanitizer|libFuzzer)|runtime error|invariant broken' "$log" || echo "exit status $rc")"
    artifact="$(grep -m1 -oE "Test unit written to [^ ]+" "$log" | sed 's/Test unit written to //' || true)"
    echo "fuzz_$t: FINDING: ${what} (log $log${artifact:+, input $artifact})"
    failed=$((failed + 1))
  fi
done
echo "fuzz: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
