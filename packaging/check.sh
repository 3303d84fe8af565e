#!/usr/bin/env bash
# Checks an installed Beamport tree: every file the package must hold is there
# with the right mode, the manual pages are gzipped and render without
# warnings, the menu entry and the udev rule say what they must, and the bash
# completion completes commands and their options.
#
# With a package or a build folder it also checks the package's relations: it
# depends on the Qt SQLite driver (service records are kept by default) and
# recommends the PostgreSQL driver (the store a service centre shares). The
# programs never link Qt Charts (the logger draws its own chart), and the
# package never depends on it.
#
#   packaging/check.sh ROOT          ROOT holds usr/... (an unpacked .deb, a DESTDIR)
#   packaging/check.sh --deb FILE.deb
#                                    unpacks the package into a temporary folder first
#   packaging/check.sh --install BUILD
#                                    installs BUILD into a temporary DESTDIR first
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
usage="usage: packaging/check.sh ROOT | --deb FILE.deb | --install BUILD"

relations=0 depends="" recommends=""
case "${1:-}" in
--install | --deb)
  [ -n "${2:-}" ] || { echo "$usage" >&2; exit 64; }
  tmp=$(mktemp -d)
  trap 'rm -rf "$tmp"' EXIT
  root=$tmp
  relations=1
  if [ "$1" = --install ]; then
    DESTDIR="$tmp" cmake --install "$2" --prefix /usr >/dev/null
    # The relations CPack writes into the control file (the libraries' own
    # dependencies are added to Depends when the package is built).
    field() { sed -n "s/^set($1 \"\(.*\)\")\$/\1/p" "$2/CPackConfig.cmake"; }
    depends=$(field CPACK_DEBIAN_PACKAGE_DEPENDS "$2")
    recommends=$(field CPACK_DEBIAN_PACKAGE_RECOMMENDS "$2")
  else
    dpkg-deb -x "$2" "$tmp"
    depends=$(dpkg-deb -f "$2" Depends)
    recommends=$(dpkg-deb -f "$2" Recommends)
  fi
  ;;
"" | -*) echo "$usage" >&2; exit 64 ;;
*) root=$1 ;;
esac

failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

# The tools the checks run: a check that cannot run fails, it is never skipped.
for tool in file:file man:man-db desktop-file-validate:desktop-file-utils readelf:binutils; do
  command -v "${tool%%:*}" >/dev/null ||
    fail "${tool%%:*} is not installed (Debian: ${tool#*:}): the checks that need it cannot run"
done

# Files and modes.
expect() { # mode path
  local path=$root/$2
  if [ ! -f "$path" ]; then
    fail "missing $2"
  elif [ "$(stat -c %a "$path")" != "$1" ]; then
    fail "$2 has mode $(stat -c %a "$path"), not $1"
  fi
}
for program in beamport beamport-cli beamport-sim; do
  expect 755 usr/bin/$program
  expect 644 usr/share/man/man1/$program.1.gz
  if [ -f "$root/usr/bin/$program" ] && command -v readelf >/dev/null &&
     readelf -d "$root/usr/bin/$program" 2>/dev/null | grep -q 'NEEDED.*libQt6Charts'; then
    fail "usr/bin/$program links Qt Charts (the logger's chart is drawn with QPainter)"
  fi
done
expect 644 usr/lib/udev/rules.d/60-beamport-cp210x.rules
expect 644 usr/share/applications/beamport.desktop
expect 644 usr/share/icons/hicolor/scalable/apps/beamport.svg
for size in 16 32 48 64 128 256; do
  expect 644 usr/share/icons/hicolor/${size}x${size}/apps/beamport.png
  png=$root/usr/share/icons/hicolor/${size}x${size}/apps/beamport.png
  if [ -f "$png" ] && command -v file >/dev/null && ! file "$png" | grep -q "PNG image data, $size x $size,"; then
    fail "$png is not a $size x $size PNG: $(file -b "$png")"
  fi
done
expect 644 usr/share/bash-completion/completions/beamport-cli
expect 644 usr/share/doc/beamport/copyright
expect 644 usr/share/doc/beamport/changelog.gz
outside=$(find "$root" -mindepth 1 -maxdepth 1 ! -name usr)
[ -z "$outside" ] || fail "files outside /usr: $outside"

# Manual pages: gzip without a name or time stamp (gzip -n), and they render
# without a warning.
for page in "$root"/usr/share/man/man1/*.1.gz; do
  [ -f "$page" ] || continue
  if ! gzip -t "$page"; then
    fail "$page is not valid gzip"
  elif [ "$(od -An -tu4 -j4 -N4 "$page" | tr -d ' ')" != 0 ]; then
    fail "$page carries a time stamp (not gzip -n)"
  fi
  if command -v man >/dev/null; then
    warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z "$page" 2>&1 >/dev/null || true)
    [ -z "$warnings" ] || fail "$(basename "$page"): $warnings"
  fi
done
# The changelog's top entry is this version.
changelog=$root/usr/share/doc/beamport/changelog.gz
if [ -f "$changelog" ] && [ -n "${BEAMPORT_VERSION:-}" ] &&
   ! zcat "$changelog" | head -1 | grep -qF "beamport ($BEAMPORT_VERSION)"; then
  fail "changelog does not start with version $BEAMPORT_VERSION: $(zcat "$changelog" | head -1)"
fi

# Menu entry: starts the window from the menu, with the icon the package holds.
desktop=$root/usr/share/applications/beamport.desktop
if [ -f "$desktop" ]; then
  for line in "Exec=beamport" "Icon=beamport" "Type=Application" "Terminal=false"; do
    grep -qx "$line" "$desktop" || fail "beamport.desktop lacks $line"
  done
  if command -v desktop-file-validate >/dev/null; then
    out=$(desktop-file-validate "$desktop" 2>&1) || fail "desktop-file-validate: $out"
  fi
fi

# udev rule: every CP210x product, access for the seat and dialout, no ModemManager.
rule=$root/usr/lib/udev/rules.d/60-beamport-cp210x.rules
if [ -f "$rule" ]; then
  tty_line=$(grep '^SUBSYSTEM=="tty"' "$rule" || true)
  for key in 'ATTRS{idVendor}=="10c4"' 'TAG+="uaccess"' 'GROUP="dialout"' 'MODE="0660"' \
             'ENV{ID_MM_DEVICE_IGNORE}="1"'; do
    [[ $tty_line == *"$key"* ]] || fail "udev rule: the tty line lacks $key"
  done
  for pid in ea60 ea61 ea63 ea70 ea71 ea7a ea7b; do
    [[ $tty_line =~ idProduct\}==\"[^\"]*$pid ]] || fail "udev rule: CP210x product $pid missing"
  done
  if command -v udevadm >/dev/null && udevadm verify --help >/dev/null 2>&1; then
    udevadm verify "$rule" >/dev/null 2>&1 || fail "udevadm verify: $(udevadm verify "$rule" 2>&1 | head -3)"
  fi
fi

# Package relations: each name, without its version, among the comma-separated list.
has_relation() { # list, package
  local item
  IFS=, read -ra items <<<"$1"
  for item in "${items[@]}"; do
    item=${item#"${item%%[! ]*}"}
    [ "${item%% *}" = "$2" ] && return 0
  done
  return 1
}
if ((relations)); then
  has_relation "$depends" libqt6sql6-sqlite ||
    fail "Depends lacks libqt6sql6-sqlite (service records are kept in SQLite by default): '$depends'"
  has_relation "$recommends" libqt6sql6-psql ||
    fail "Recommends lacks libqt6sql6-psql (the shared PostgreSQL store): '$recommends'"
  for relation in "$depends" "$recommends"; do
    ! has_relation "$relation" libqt6charts6 || fail "the package still asks for Qt Charts: '$relation'"
  done
fi

# Bash completion, with minimal stand-ins for the bash-completion helpers so
# that the check needs no more than bash.
completion=$root/usr/share/bash-completion/completions/beamport-cli
if [ -f "$completion" ]; then
  complete_line() { # the words of a command line, the last being completed; prints the candidates
    bash -c '
      _init_completion() { words=("${COMP_WORDS[@]}"); cword=$COMP_CWORD; cur=${words[cword]}; prev=${words[cword-1]}; }
      _filedir() { COMPREPLY=(FILES); }
      compopt() { :; }
      source "$1"; shift
      COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1))
      _beamport_cli
      printf "%s\n" "${COMPREPLY[@]}" | sort | tr "\n" " "' _ "$completion" "$@"
  }
  expect_completion() { # expected, then the words
    local want=$1
    shift
    local got
    got=$(complete_line "$@")
    [ "$got" = "$want" ] || fail "completing '$*': got '$got', want '$want'"
  }
  expect_completion "read records restore " beamport-cli re
  expect_completion "read records restore " beamport-cli --simulate re
  expect_completion "read records restore " beamport-cli --port /dev/x re
  expect_completion "--simulate " beamport-cli --si
  expect_completion "--no-battery --no-temperature " beamport-cli log --seconds 5 --no
  expect_completion "--out " beamport-cli --yes events --o
  expect_completion "FILES " beamport-cli write ""
  expect_completion "FILES " beamport-cli read --out ""
  expect_completion "sensor-cal settings " beamport-cli --traffic se
  expect_completion "show sync " beamport-cli records s
  expect_completion "--json " beamport-cli records show 12 --j
  expect_completion "off " beamport-cli --records o
  # the global options after the command
  expect_completion "--yes " beamport-cli factory-reset --y
  expect_completion "--simulate --span " beamport-cli sensor-cal --s
  expect_completion "--span " beamport-cli sensor-cal --sp
  expect_completion "FILES " beamport-cli write --ini ""
fi

if ((failures)); then
  echo "$failures problem(s) in the installed tree" >&2
  exit 1
fi
echo "installed tree: all checks passed"
