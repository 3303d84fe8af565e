#!/usr/bin/env bash
# Installs what is missing, builds, and starts Beamport on a simulated detector.
#
#   scripts/run.sh          with a display: the window (build/beamport --simulate);
#                           without one: beamport-cli --simulate identify, then read
#   scripts/run.sh ARGS     build/beamport-cli ARGS
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/check-build-dir.sh build
scripts/deps.sh --run

# Access to CP210x adapters for the user at the seat, where this machine runs
# udev and this script may write its rules (and the package has not done so).
rule=60-beamport-cp210x.rules
if [ "$(id -u)" -eq 0 ] && [ -d /etc/udev/rules.d ] && command -v udevadm >/dev/null &&
   [ ! -e /usr/lib/udev/rules.d/$rule ] && ! cmp -s packaging/$rule /etc/udev/rules.d/$rule; then
  echo "Installing the udev rule /etc/udev/rules.d/$rule, so that CP210x infrared adapters can be opened without root and ModemManager leaves them alone."
  install -m 644 packaging/$rule /etc/udev/rules.d/
  udevadm control --reload-rules 2>/dev/null || true
fi

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBEAMPORT_TESTS=OFF >/dev/null
cmake --build build -j"$(nproc)" --target beamport beamport-cli beamport-sim
if (($#)); then exec build/beamport-cli "$@"; fi

if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  echo "Starting the window on a simulated detector. With a real adapter: build/beamport --port /dev/ttyUSB0, or build/beamport alone to find the adapter."
  exec build/beamport --simulate
fi

echo "The window needs a display (DISPLAY or WAYLAND_DISPLAY); here is the command line instead."
echo "The answers below come from a simulated detector. With a real adapter: build/beamport-cli --port /dev/ttyUSB0 identify, or without --port to find the adapter."
echo "\$ beamport-cli --simulate identify"
build/beamport-cli --simulate identify
echo "\$ beamport-cli --simulate read"
build/beamport-cli --simulate read
