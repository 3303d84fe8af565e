#!/usr/bin/env bash
# Installs the Debian packages that are missing, quietly.
#
#   scripts/deps.sh                       what the build and the tests need
#   scripts/deps.sh --run                 what building and running the programs needs
#   scripts/deps.sh --why TEXT PKG...     those packages instead, for TEXT
#
# It says in one line what it installs and why; the installer's own output goes
# to a log file of that install (~/.cache/beamport/deps-TIME.log) that is shown
# (its last lines, and its path) only on failure.
# It needs root or sudo; without either it says which packages to ask for.
set -euo pipefail

build=(cmake ninja-build g++ qt6-base-dev libgl-dev libxkbcommon-dev libqt6sql6-sqlite
       libqt6sql6-psql libsodium-dev libsqlite3-dev pkgconf)
why="needed to build Beamport and run its tests"
pkgs=("${build[@]}" libgtest-dev libgmock-dev googletest)
if [ "${1:-}" = "--run" ]; then
  why="needed to build and run Beamport"
  pkgs=("${build[@]}")
elif [ "${1:-}" = "--why" ]; then
  why=$2
  shift 2
  pkgs=("$@")
fi

missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
((${#missing[@]})) || exit 0

if [ "$(id -u)" -eq 0 ]; then
  as_root=()
elif command -v sudo >/dev/null 2>&1; then
  as_root=(sudo)
else
  echo "Missing Debian packages, $why: ${missing[*]}" >&2
  echo "Installing them needs root, and sudo is not available here: ask an administrator to run" >&2
  echo "  apt-get install ${missing[*]}" >&2
  exit 1
fi

# One log per install, so a later install never hides what an earlier one said.
log="${XDG_CACHE_HOME:-$HOME/.cache}/beamport/deps-$(date +%Y%m%d-%H%M%S)-$$.log"
mkdir -p "$(dirname "$log")"
echo "Installing ${missing[*]}: $why."
if ! {
  "${as_root[@]}" apt-get update -q &&
    "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${missing[@]}"
} >"$log" 2>&1; then
  echo "Installing the packages failed; the last lines of $log:" >&2
  tail -n 15 "$log" >&2
  if [ -n "${as_root[*]}" ]; then
    echo "If sudo refused, ask an administrator to run: apt-get install ${missing[*]}" >&2
  fi
  exit 1
fi
