#!/usr/bin/env bash
# Installs what is missing, builds, and runs the program against the simulated
# detector. Extra arguments go to beamport-cli (default: --simulate identify).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
# Access to CP210x adapters for the logged-in user, where this machine has udev.
if [ "$(id -u)" -eq 0 ] && [ -d /etc/udev/rules.d ] &&
   ! cmp -s packaging/60-beamport-cp210x.rules /etc/udev/rules.d/60-beamport-cp210x.rules; then
  install -m 644 packaging/60-beamport-cp210x.rules /etc/udev/rules.d/ &&
    { command -v udevadm >/dev/null && udevadm control --reload-rules 2>/dev/null || true; }
fi
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBEAMPORT_TESTS=OFF >/dev/null
cmake --build build -j"$(nproc)"
if (($#)); then exec build/beamport-cli "$@"; fi
exec build/beamport-cli --simulate identify
