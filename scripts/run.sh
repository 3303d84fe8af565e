#!/usr/bin/env bash
# Installs what is missing, builds, and runs the program against the simulated
# detector. Extra arguments go to beamport-cli (default: --simulate identify).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBEAMPORT_TESTS=OFF >/dev/null
cmake --build build -j"$(nproc)"
if (($#)); then exec build/beamport-cli "$@"; fi
exec build/beamport-cli --simulate identify
