#!/bin/bash
# Builds Beamport for 64-bit Windows on Debian 12: the MinGW-w64 cross
# compilers, Wine and NSIS from Debian; the libraries Debian does not ship for
# MinGW (libsodium, SQLite, libpq, Qt's qtbase) built once from Debian's own
# source packages into a cache folder outside the checkout; then the programs.
set -euo pipefail

usage() {
  cat <<'USAGE'
usage: scripts/windows.sh [--test] [--if-cached] [--rebuild-deps] [--deps-only] [--no-apt] [--build-dir DIR]

Builds the Windows programs (beamport.exe, beamport-cli.exe) with MinGW-w64
and their installer (build-win64/Beamport-VERSION-win64.exe).

  --test           also run the Windows tests under Wine
  --if-cached      build and test (as --test) only when the libraries are in the
                   cache already; otherwise say so in one line and stop (CI)
  --rebuild-deps   throw the cross-built libraries away and build them again
  --deps-only      only install the packages and build the libraries
  --no-apt         do not install Debian packages (they are there already)
  --only LIB       build only this library (sqlite, libpq, qt, sodium, gtest)
  --build-dir DIR  the build folder (default: build-win64 in the checkout)
  -h, --help       this text

The cross-built libraries live in $BEAMPORT_WIN_CACHE (default
${XDG_CACHE_HOME:-$HOME/.cache}/beamport-windows): prefix/ holds them, src/ the
Debian sources, logs/ each build's log, stamps/ one file per finished library,
times.txt how long each stage took. Later runs reuse them.
USAGE
}

root=$(cd "$(dirname "$0")/.." && pwd)
cache=${BEAMPORT_WIN_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/beamport-windows}
build=$root/build-win64
run_tests=0 rebuild=0 deps_only=0 apt=1 only= if_cached=0
while [ $# -gt 0 ]; do
  case $1 in
    --test) run_tests=1 ;;
    --if-cached) if_cached=1 run_tests=1 ;;
    --rebuild-deps) rebuild=1 ;;
    --deps-only) deps_only=1 ;;
    --no-apt) apt=0 ;;
    --only) shift; only=${1:?--only needs a library}; deps_only=1 ;;
    --build-dir) shift; build=$(realpath -m "${1:?--build-dir needs a folder}") ;;
    -h|--help) usage; exit 0 ;;
    *) echo "windows.sh: unknown option $1" >&2; usage >&2; exit 64 ;;
  esac
  shift
done

triple=x86_64-w64-mingw32
prefix=$cache/prefix
jobs=${BEAMPORT_JOBS:-2}
export BEAMPORT_WIN_PREFIX=$prefix
toolchain=$root/cmake/mingw-w64-x86_64.cmake

say() { printf '== %s\n' "$*" >&2; }
die() { printf 'windows.sh: %s\n' "$*" >&2; exit 1; }
as_root() { if [ "$(id -u)" = 0 ]; then "$@"; else sudo "$@"; fi; }

# Runs a stage and notes its wall-clock time in times.txt; its status is the
# stage's (a stage stops at its first failing command, as the script does).
timed() {
  local name=$1; shift
  local start=$SECONDS status
  set +e
  ( set -e; "$@" )
  status=$?
  set -e
  printf '%s %s %ds\n' "$(date -u +%FT%TZ)" "$name" $((SECONDS - start)) >>"$cache/times.txt"
  return $status
}

install_packages() {
  local sources=/etc/apt/sources.list.d/beamport-deb-src.sources
  if [ ! -f "$sources" ]; then
    say "enabling Debian source packages ($sources)"
    as_root tee "$sources" >/dev/null <<'SRC'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SRC
    as_root apt-get update -qq
  fi
  local pkgs=(g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
              mingw-w64-tools wine wine64 nsis ninja-build dpkg-dev cmake pkg-config
              qt6-base-dev qt6-base-dev-tools googletest tcl autoconf automake libtool
              xvfb xauth x11-apps netpbm ccache)
  local missing=()
  for p in "${pkgs[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed' || missing+=("$p")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    say "installing ${missing[*]}"
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
  fi
  # The Windows tests compare with the Linux programs, built here too.
  [ $run_tests = 0 ] || "$root/scripts/deps.sh" --run
}

# Fetches Debian's source package $1 into src/ once; prints its folder.
debian_source() {
  local pkg=$1 dir
  mkdir -p "$cache/src/$pkg"
  dir=$(find "$cache/src/$pkg" -mindepth 1 -maxdepth 1 -type d | head -n1)
  if [ -z "$dir" ]; then
    (cd "$cache/src/$pkg" && apt-get source -qq "$pkg" >&2)
    dir=$(find "$cache/src/$pkg" -mindepth 1 -maxdepth 1 -type d | head -n1)
  fi
  [ -n "$dir" ] || die "no source for $pkg"
  echo "$dir"
}

# Builds library $1 with function build_$1 once; its log goes to logs/$1.log.
dep() {
  local name=$1
  [ -f "$cache/stamps/$name" ] && return 0
  say "building $name for Windows (log: $cache/logs/$name.log)"
  local start=$SECONDS rc
  # errexit holds inside the subshell only outside a condition.
  set +e
  ( set -e; "build_$name" ) >"$cache/logs/$name.log" 2>&1
  rc=$?
  set -e
  if [ $rc != 0 ]; then
    tail -n 30 "$cache/logs/$name.log" >&2
    die "$name did not build: $cache/logs/$name.log"
  fi
  printf '%s %s %ds\n' "$(date -u +%FT%TZ)" "$name" $((SECONDS - start)) >>"$cache/times.txt"
  touch "$cache/stamps/$name"
}

build_sodium() {
  local src; src=$(debian_source libsodium)
  # Debian's source has no configure script: it is made as Debian's build makes it.
  [ -x "$src/configure" ] || (cd "$src" && autoreconf -fi)
  rm -rf "$cache/work/sodium"; mkdir -p "$cache/work/sodium"; cd "$cache/work/sodium"
  "$src/configure" --host=$triple --prefix="$prefix" --disable-static --enable-shared
  nice -n 10 make -j"$jobs"
  make install
}

# SQLite: the amalgamation made from Debian's source tree (tclsh on the host),
# compiled as sqlite3.dll with the options Debian's own library has.
build_sqlite() {
  local src; src=$(debian_source sqlite3)
  rm -rf "$cache/work/sqlite"; mkdir -p "$cache/work/sqlite"; cd "$cache/work/sqlite"
  "$src/configure" --disable-tcl >/dev/null
  make sqlite3.c
  local flags=(-O2 -DSQLITE_ENABLE_COLUMN_METADATA -DSQLITE_ENABLE_FTS5 -DSQLITE_ENABLE_JSON1
               -DSQLITE_ENABLE_RTREE -DSQLITE_SECURE_DELETE -DSQLITE_THREADSAFE=1
               -DSQLITE_API=__declspec\(dllexport\))
  $triple-gcc-posix "${flags[@]}" -shared -o sqlite3.dll sqlite3.c -Wl,--out-implib,libsqlite3.dll.a
  mkdir -p "$prefix/bin" "$prefix/lib/pkgconfig" "$prefix/include"
  cp sqlite3.dll "$prefix/bin/"
  cp libsqlite3.dll.a "$prefix/lib/"
  cp sqlite3.h sqlite3ext.h "$prefix/include/"
  local version; version=$(sed -n 's/^#define SQLITE_VERSION *"\(.*\)"/\1/p' sqlite3.h)
  cat >"$prefix/lib/pkgconfig/sqlite3.pc" <<PC
prefix=$prefix
libdir=\${prefix}/lib
includedir=\${prefix}/include
Name: SQLite
Description: SQL database engine
Version: $version
Libs: -L\${libdir} -lsqlite3
Cflags: -I\${includedir}
PC
}

# libpq alone, without OpenSSL (the PostgreSQL store's client library).
build_libpq() {
  local src; src=$(debian_source postgresql-15)
  rm -rf "$cache/work/libpq"; mkdir -p "$cache/work/libpq"; cd "$cache/work/libpq"
  "$src/configure" --host=$triple --prefix="$prefix" --without-openssl --without-readline \
    --without-zlib --without-icu --without-llvm
  nice -n 10 make -j"$jobs" -C src/interfaces/libpq
  make -C src/interfaces/libpq install
  make -C src/include install
}

qt_cli_targets="Core Gui Sql QOffscreenIntegrationPlugin QSQLiteDriverPlugin QPSQLDriverPlugin"

qt_version() { dpkg-query -W -f='${Version}' qt6-base-dev | sed 's/[+~-].*//'; }

# qtbase at the host's Qt version, with the host's moc, rcc and uic; only the
# modules Beamport uses (Core, Gui, Widgets, Sql with SQLite and PostgreSQL, Test).
build_qt() {
  local src; src=$(debian_source qt6-base)
  local want; want=$(qt_version)
  grep -q "\"$want\"\|VERSION $want" "$src/.cmake.conf" || die "qt6-base source is not $want"
  # The longest build: a stopped one goes on where it was (--rebuild-deps starts over).
  # Without OpenGL altogether (INPUT_opengl=no): with only the feature off, the
  # Windows platform plugin still asks for dynamic OpenGL and does not compile.
  # Without Direct2D, QtGui has no DirectWrite font database, so the plugin may
  # not ask for one either (directwrite3): it uses GDI's, its default.
  mkdir -p "$cache/work/qt"; cd "$cache/work/qt"
  cmake -S "$src" -B . -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DBEAMPORT_WIN_PREFIX="$prefix" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" -DBUILD_SHARED_LIBS=ON \
    -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
    -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DQT_BUILD_BENCHMARKS=OFF \
    -DINPUT_opengl=no -DFEATURE_opengl=OFF -DFEATURE_opengl_dynamic=OFF -DFEATURE_dynamicgl=OFF \
    -DFEATURE_dbus=OFF -DFEATURE_network=OFF -DFEATURE_concurrent=OFF \
    -DFEATURE_xml=OFF -DFEATURE_printsupport=OFF -DFEATURE_vulkan=OFF \
    -DFEATURE_sql=ON -DFEATURE_sql_sqlite=ON -DFEATURE_system_sqlite=ON -DFEATURE_sql_psql=ON \
    -DFEATURE_sql_odbc=OFF -DFEATURE_sql_mysql=OFF -DFEATURE_testlib=ON -DFEATURE_widgets=ON \
    -DFEATURE_harfbuzz=OFF -DFEATURE_direct2d=OFF -DFEATURE_directwrite3=OFF -DFEATURE_jpeg=OFF -DFEATURE_gif=OFF -DFEATURE_ico=OFF \
    -DFEATURE_textmarkdownreader=OFF -DFEATURE_textmarkdownwriter=OFF -DFEATURE_sessionmanager=OFF \
    -DFEATURE_tabletevent=OFF \
    -DPostgreSQL_ROOT="$prefix" -DSQLite3_ROOT="$prefix"
  # What the command line needs first, then the window's.
  nice -n 10 cmake --build . -j"$jobs" --target $qt_cli_targets
  nice -n 10 cmake --build . -j"$jobs"
  cmake --install .
}

# GoogleTest for the Windows tests, from Debian's googletest sources.
build_gtest() {
  rm -rf "$cache/work/gtest"; mkdir -p "$cache/work/gtest"; cd "$cache/work/gtest"
  cmake -S /usr/src/googletest -B . -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DBEAMPORT_WIN_PREFIX="$prefix" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" -DBUILD_GMOCK=OFF -DBUILD_SHARED_LIBS=OFF \
    -Dgtest_disable_pthreads=OFF
  nice -n 10 cmake --build . -j"$jobs"
  cmake --install .
}

deps() {
  mkdir -p "$cache/stamps" "$cache/logs"
  local name
  for name in ${only:-sqlite libpq qt sodium gtest}; do dep "$name"; done
}

# The MinGW runtime libraries the programs and Qt load.
mingw_runtime_dirs() {
  local gcc_dir
  gcc_dir=$(dirname "$($triple-g++-posix -print-libgcc-file-name)")
  printf '%s\n' "$gcc_dir" "/usr/$triple/lib"
}

# The Windows programs, with the toolchain file, into the build folder.
project() {
  say "building Beamport for Windows in $build"
  local tests=OFF gui=ON
  [ -f "$prefix/lib/cmake/GTest/GTestConfig.cmake" ] && tests=ON
  # A Qt installed by hand without its widgets still gives the command line.
  if [ ! -f "$prefix/lib/cmake/Qt6Widgets/Qt6WidgetsConfig.cmake" ]; then
    gui=OFF
    say "Qt Widgets is not in $prefix: the window is left out, the command line is built"
  fi
  # Compiled objects are kept in the cache too (ccache, when installed): a
  # new checkout anywhere on this machine builds in minutes.
  local launcher=()
  if command -v ccache >/dev/null; then
    export CCACHE_DIR=$cache/ccache CCACHE_BASEDIR=$root CCACHE_NOHASHDIR=1
    launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  fi
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DBEAMPORT_WIN_PREFIX="$prefix" \
    -DCMAKE_BUILD_TYPE=Release -DBEAMPORT_TESTS=$tests -DBEAMPORT_GUI=$gui "${launcher[@]}" >/dev/null
  nice -n 10 cmake --build "$build" -j"$jobs"
  # The installer, Beamport-VERSION-win64.exe (CPack's NSIS generator).
  (cd "$build" && nice -n 10 cpack -G NSIS >/dev/null)
  say "installer: $(ls "$build"/Beamport-*-win64.exe)"
}

# Wine's own folder in the cache, made once; the programs find their
# libraries through WINEPATH and Qt its plugins through QT_PLUGIN_PATH.
wine_env() {
  export WINEPREFIX=$cache/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  local dirs=("$prefix/bin") d path=""
  while read -r d; do dirs+=("$d"); done < <(mingw_runtime_dirs)
  for d in "${dirs[@]}"; do path+="${path:+;}Z:${d//\//\\}"; done
  export WINEPATH=$path QT_PLUGIN_PATH="Z:${prefix//\//\\}\\plugins"
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    say "making the Wine prefix $WINEPREFIX"
    wineboot -i >/dev/null 2>&1 || true
    wineserver -w || true
  fi
}

wine_tests() {
  wine_env
  local status=0
  # The cross-built unit tests, then the programs compared with Linux's.
  timed unit-tests "$root/scripts/windows-unit-tests.sh" "$build" || status=1
  timed wine-tests "$root/scripts/windows-tests.sh" "$build" || status=1
  # The installer as a technician meets it; the window's picture under Wine
  # goes to docs/ when the window is built.
  local shot=
  [ -f "$build/beamport.exe" ] && shot=$root/docs/windows-wine-simulate.png
  timed installer-tests "$root/scripts/windows-install-test.sh" "$(ls "$build"/Beamport-*-win64.exe)" $shot || status=1
  return $status
}

# True when every library is built in the cache.
libraries_cached() {
  local name
  for name in sqlite libpq qt sodium gtest; do [ -f "$cache/stamps/$name" ] || return 1; done
}

main() {
  if [ $if_cached = 1 ] && ! libraries_cached; then
    echo "windows tests skipped: the cross-built libraries are not in $cache (a first build takes about 50 minutes on two cores); scripts/windows.sh --test builds them and runs the tests"
    return 0
  fi
  mkdir -p "$cache"
  if [ $rebuild = 1 ]; then
    say "starting the libraries over"
    rm -rf "$cache/prefix" "$cache/work" "$cache/stamps"
  fi
  [ $apt = 1 ] && timed packages install_packages
  timed deps deps
  say "cache: $(du -sh "$cache" | cut -f1) in $cache"
  [ $deps_only = 1 ] && return 0
  timed project project
  # A failed Windows test fails the run (and CI).
  if [ $run_tests = 1 ] && ! wine_tests; then
    say "some Windows tests failed (above)"
    return 1
  fi
  return 0
}

main
exit
