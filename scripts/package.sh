#!/usr/bin/env bash
# Builds the Debian package beamport_<version>_<arch>.deb at the top of the
# repository: a release build with Debian's hardening flags in build-package,
# stripped, packed by CPack. With --check it also checks the package's files
# (packaging/check.sh), runs lintian on it and desktop-file-validate on the
# menu entry.
set -euo pipefail
cd "$(dirname "$0")/.."
check=0
case "${1:-}" in
  --check) check=1 ;;
  "") ;;
  *) echo "usage: scripts/package.sh [--check]" >&2; exit 64 ;;
esac

need=(dpkg-dev file man-db)
((check)) && need+=(lintian desktop-file-utils)
scripts/deps.sh
scripts/deps.sh --why "needed to build and check the Debian package" "${need[@]}"

# Debian's compiler and linker flags: stack protector, fortified functions,
# full RELRO, immediate binding. The source path is kept out of the binaries.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
CXXFLAGS="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS) -ffile-prefix-map=$PWD=."
LDFLAGS="$(dpkg-buildflags --get LDFLAGS)"
export CXXFLAGS LDFLAGS
cmake -S . -B build-package -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBEAMPORT_TESTS=OFF \
  -DCMAKE_INSTALL_PREFIX=/usr >/dev/null
cmake --build build-package -j"$(nproc)"
(cd build-package && cpack -G DEB >cpack.log 2>&1) || { tail -20 build-package/cpack.log; exit 1; }

deb=$(ls -t build-package/beamport_*.deb | head -1)
mv -f "$deb" .
deb=$(basename "$deb")
echo "Built $deb"

if ((check)); then
  BEAMPORT_VERSION=$(dpkg-deb -f "$deb" Version) packaging/check.sh --deb "$deb"
  desktop-file-validate packaging/beamport.desktop && echo "desktop-file-validate: no problems"
  # Errors fail the check; warnings and notes are listed.
  lintian --info --display-level '>=warning' --fail-on error "$deb" || exit 1
  echo "lintian: no errors"
fi
