#!/usr/bin/env bash
# The default CMake generator (Unix Makefiles) builds the project, not only
# Ninja: configures a scratch folder without -G, builds the packaging files
# (the compressed manual pages and changelog, which go into a folder of the
# build tree) and the smallest program, and removes the folder again.
#
#   default_generator_test.sh SOURCE_DIR
set -euo pipefail
source_dir=${1:?usage: default_generator_test.sh SOURCE_DIR}
scratch=$(mktemp -d "${TMPDIR:-/tmp}/beamport-default-generator.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
unset CMAKE_GENERATOR
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S "$source_dir" -B "$scratch" -DCMAKE_BUILD_TYPE=Debug -DBEAMPORT_TESTS=OFF -DBEAMPORT_GUI=OFF \
  "${launcher[@]}" >"$scratch/configure.log" 2>&1 || { cat "$scratch/configure.log"; exit 1; }
grep -q '^CMAKE_GENERATOR:INTERNAL=Unix Makefiles$' "$scratch/CMakeCache.txt" ||
  { echo "the default generator is not Unix Makefiles here: $(grep '^CMAKE_GENERATOR:' "$scratch/CMakeCache.txt")"; exit 1; }
if ! cmake --build "$scratch" -j2 --target beamport_packaging_files beamport-sim >"$scratch/build.log" 2>&1; then
  tail -n 30 "$scratch/build.log"
  exit 1
fi
for f in packaging/beamport-cli.1.gz packaging/changelog.gz beamport-sim; do
  [ -s "$scratch/$f" ] || { echo "the build left no $f"; exit 1; }
done
echo "default generator: configured and built the packaging files and beamport-sim"
