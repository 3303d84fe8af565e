#!/bin/bash
# The cross-built test programs under Wine: every tests/test_*.exe of a
# Windows build folder, one line each with its counts, the failing and the
# skipped cases under it, then the totals. Wine's environment (WINEPREFIX,
# WINEPATH, ...) is the caller's, as scripts/windows.sh sets it.
#
#   windows-unit-tests.sh WIN_BUILD_DIR
#
# Exits 1 when a program fails or does not finish (BEAMPORT_UNIT_TIMEOUT
# seconds each, default 900), 2 when there is no program to run.
set -uo pipefail

win=${1:?usage: windows-unit-tests.sh WIN_BUILD_DIR}
: "${WINEPREFIX:?set the Wine environment first (scripts/windows.sh does)}"
limit=${BEAMPORT_UNIT_TIMEOUT:-900}

shopt -s nullglob
programs=("$win"/tests/test_*.exe)
if [ ${#programs[@]} = 0 ]; then
  echo "windows unit tests: no tests/test_*.exe in $win (configure with -DBEAMPORT_TESTS=ON)" >&2
  exit 2
fi

work=$(mktemp -d /tmp/beamport-wine-unit.XXXXXX)
trap 'rm -rf "$work"' EXIT
export BEAMPORT_RECORDS=off QT_QPA_PLATFORM=offscreen

# The count in gtest's summary line "[  WORD  ] N tests...", 0 without one.
count() {
  local n
  n=$(grep -a -o -E "^\[ *$1 *\] [0-9]+ tests?(\.|, listed below)" "$2" | head -n 1 | grep -o -E '[0-9]+')
  echo "${n:-0}"
}

# The failing cases' names, once each, joined by ':' (a gtest filter).
failing_cases() {
  grep -a -E '^\[  FAILED  \] [A-Za-z_0-9/]+\.[A-Za-z_0-9/]+' "$1" |
    sed -E 's/^\[  FAILED  \] ([A-Za-z_0-9/]+\.[A-Za-z_0-9/]+).*/\1/' | sort -u | paste -s -d:
}

total_passed=0 total_skipped=0 total_failed=0 failed_programs=0
for exe in "${programs[@]}"; do
  name=$(basename "$exe")
  out=$work/$name.out
  timeout --kill-after=10 "$limit" wine "$exe" >"$out" 2>&1 </dev/null
  code=$?
  sed -i 's/\r$//' "$out"
  passed=$(count PASSED "$out")
  skipped=$(count SKIPPED "$out")
  failed=$(count FAILED "$out")
  again=
  # Cases against the detector's fixed reply windows can miss one on a loaded
  # machine (ctest gives them a second try on Linux): a program that ran to
  # its summary runs its failing cases once more, and passes if they all do.
  cases=$(failing_cases "$out")
  if [ "$code" != 0 ] && [ -n "$cases" ] && grep -a -q -F '[  PASSED  ]' "$out"; then
    timeout --kill-after=10 "$limit" wine "$exe" --gtest_filter="$cases" >"$out.again" 2>&1 </dev/null
    again_code=$?
    sed -i 's/\r$//' "$out.again"
    if [ "$again_code" = 0 ] && [ "$(count FAILED "$out.again")" = 0 ] &&
       [ "$(count PASSED "$out.again")" = "$failed" ]; then
      code=0 passed=$((passed + failed)) again=$cases failed=0
    fi
  fi
  total_passed=$((total_passed + passed))
  total_skipped=$((total_skipped + skipped))
  if [ "$code" = 0 ] && grep -a -q -F '[  PASSED  ]' "$out"; then
    printf 'ok    %s: %d passed, %d skipped\n' "$name" "$passed" "$skipped"
    [ -z "$again" ] || printf '  passed on a second try: %s\n' "${again//:/, }"
  else
    failed_programs=$((failed_programs + 1))
    # A program that ended before its summary counts as one failure.
    [ "$failed" = 0 ] && failed=1
    total_failed=$((total_failed + failed))
    if [ "$code" = 124 ] || [ "$code" = 137 ]; then
      printf 'FAIL  %s: did not finish within %ss\n' "$name" "$limit"
    else
      printf 'FAIL  %s: exit %s, %d passed, %d skipped, %d failed\n' "$name" "$code" "$passed" "$skipped" "$failed"
    fi
    # The failing cases once each (the summary repeats them), else how it ended.
    if grep -a -q -E '^\[  FAILED  \] [A-Za-z_0-9/]+\.' "$out"; then
      grep -a -E '^\[  FAILED  \] [A-Za-z_0-9/]+\.' "$out" | sed -E 's/ \([0-9]+ ms\)$//' | sort -u | sed 's/^/  /'
    else
      tail -n 5 "$out" | sed 's/^/  /'
    fi
  fi
  # The skipped cases by the reason they gave (the line after "Skipped"):
  # their names when they are few, else how many.
  awk '/: Skipped$/ { getline why; reason = why; next }
       /^\[  SKIPPED \] .* \([0-9]+ ms\)$/ {
         name = substr($0, 14); sub(/ \([0-9]+ ms\)$/, "", name)
         if (reason == "") reason = "no reason given"
         if (!(reason in n)) order[++k] = reason
         n[reason]++; names[reason] = names[reason] (n[reason] > 1 ? ", " : "") name; reason = "" }
       END { for (i = 1; i <= k; i++) { r = order[i]
               if (n[r] <= 3) printf "  skipped %s: %s\n", names[r], r
               else printf "  skipped %d cases: %s\n", n[r], r } }' "$out"
done

printf 'windows unit tests: %d passed, %d skipped, %d failed in %d programs\n' \
  "$total_passed" "$total_skipped" "$total_failed" "${#programs[@]}"
[ "$failed_programs" = 0 ]
