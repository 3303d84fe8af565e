#!/usr/bin/env bash
# Installs what is missing, builds with AddressSanitizer and UndefinedBehavior-
# Sanitizer, and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/check-build-dir.sh build-asan
scripts/deps.sh
scripts/deps.sh --why "needed by the tests: a throwaway database server, PDF text, checks of the package's files" \
  postgresql poppler-utils file man-db desktop-file-utils
echo "Configuring and building Beamport and its tests with AddressSanitizer and UndefinedBehaviorSanitizer in build-asan/ (a first build takes about 15 minutes on two cores; later ones only rebuild what changed)."
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DBEAMPORT_SANITIZE=ON >/dev/null
cmake --build build-asan -j"$(nproc)"
export QT_QPA_PLATFORM=offscreen
# No test keeps service records in this user's own store: those that want a
# store choose one. (gtest_discover_tests passes only the first variable of
# its ENVIRONMENT list on to the tests.)
export BEAMPORT_RECORDS=off
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
# The record-store tests run against a throwaway PostgreSQL server too.
root=$(pwd)
echo "Starting a throwaway PostgreSQL server for the record-store tests."
pgdir=$(mktemp -d /tmp/beamport-pg.XXXXXX)
trap '"$root/scripts/pg-test.sh" stop "$pgdir"' EXIT
BEAMPORT_TEST_PG=$("$root/scripts/pg-test.sh" start "$pgdir")
export BEAMPORT_TEST_PG
cd build-asan
echo "Running every test (about 10 minutes on two cores); a failing test prints its output."
# Tests against the detector's fixed 0.1 s reply windows can miss one on an
# overloaded machine: such a test gets one more try.
ctest --output-on-failure -j"$(nproc)" --timeout 300 --repeat until-pass:2
