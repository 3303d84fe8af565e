#!/bin/bash
# The Windows installer as a technician meets it, under Wine: a silent install
# (/S) into a throwaway copy of the Wine prefix, the installed programs started
# from their folder with nothing of the build's environment (no WINEPATH, no
# QT_PLUGIN_PATH), the window in simulate mode photographed when there is one,
# then a silent uninstall that must leave the prefix as it found it.
#
#   windows-install-test.sh INSTALLER [SCREENSHOT.png]
#
# Run with Wine's environment set (scripts/windows.sh --test does). What the
# programs keep for their user (the remembered values under HKCU\Software\IR,
# the records store, the bench key, the traffic log) is theirs, not the
# installer's: the uninstaller leaves it, and so does this comparison.
set -euo pipefail

installer=$(realpath "${1:?usage: windows-install-test.sh INSTALLER [SCREENSHOT.png]}")
shot=${2:+$(realpath -m "$2")}
: "${WINEPREFIX:?run through scripts/windows.sh --test (Wine environment)}"

work=$(mktemp -d /tmp/beamport-install.XXXXXX)
trap 'WINEPREFIX=$work/prefix wineserver -k 2>/dev/null || true; rm -rf "$work"' EXIT
cp -a "$WINEPREFIX" "$work/prefix"
export WINEPREFIX=$work/prefix
unset WINEPATH QT_PLUGIN_PATH

passed=0 failed=0
pass() { passed=$((passed + 1)); printf 'ok    %s\n' "$1"; }
fail() { failed=$((failed + 1)); printf 'FAIL  %s\n' "$1"; }

# What the prefix holds: every path under drive_c, and every registry key
# (Wine's .reg files note a time beside each key, which is left out). The
# programs' per-user data and Wine's own scratch are not the installer's.
snapshot() {
  (cd "$WINEPREFIX/drive_c" && find . -path ./users/\*/Temp -prune -o -print) |
    grep -v -i -E '/AppData/(Local|Roaming)/(beamport|IR)(/|$)' | sort >"$1.files"
  sed -n 's/^\(\[[^]]*\]\).*/\1/p' "$WINEPREFIX"/system.reg "$WINEPREFIX"/user.reg |
    grep -v -i -E '^\[Software\\\\IR(\\\\|\])|^\[Software\\\\Wine\\\\|MuiCache|RecentDocs|UserAssist' |
    sort >"$1.keys"
}

wineserver -w
snapshot "$work/before"

# A silent install, into Program Files.
set +e
timeout 300 wine "$installer" /S
code=$?
set -e
wineserver -w
dir=$WINEPREFIX/drive_c/Program\ Files/Beamport
if [ "$code" = 0 ] && [ -x "$dir/bin/beamport-cli.exe" ] && [ -f "$dir/Uninstall.exe" ]; then
  pass "silent install into C:\\Program Files\\Beamport ($(find "$dir" -type f | wc -l) files)"
else
  fail "silent install: exit $code, $(ls "$dir" 2>&1 | tr '\n' ' ')"
fi

# The installed command line, from its own folder (bin, the folder the
# installer puts on the PATH when asked).
cd "$dir/bin"
version=$(wine ./beamport-cli.exe --version 2>&1 | tr -d '\r') || true
if [[ $version =~ ^beamport-cli\ [0-9.]+$ ]]; then pass "installed --version: $version"; else fail "installed --version: $version"; fi
# Keeping a service record (on by default) ends as cleanly as the job: three
# runs, each with its identity out, exit 0 and nothing on stderr (a program
# that faults or hangs on its way out would show here).
ends=0
for run in 1 2 3; do
  set +e
  timeout 120 wine ./beamport-cli.exe --simulate identify >"$work/id.out" 2>"$work/id.err"
  code=$?
  set -e
  if [ "$code" = 0 ] && grep -q '^Load Identify... OK' "$work/id.out" && [ ! -s "$work/id.err" ]; then
    ends=$((ends + 1))
  else
    echo "  run $run: exit $code; stderr: $(head -c 300 "$work/id.err")"
  fi
done
if [ $ends = 3 ]; then pass "installed --simulate identify, its record kept: 3 clean runs"; else fail "installed --simulate identify: $ends of 3 clean runs"; fi

# A file name beyond the system's ANSI code page, given on the command line
# and written: the arguments are read as the user typed them.
mkdir -p "$work/out"
name='Zoë ünit 検査.cfg'
set +e
BEAMPORT_RECORDS=off timeout 120 wine ./beamport-cli.exe --simulate read --out "$(winepath -w "$work/out")\\$name" >/dev/null 2>&1
code=$?
set -e
if [ "$code" = 0 ] && [ -s "$work/out/$name" ]; then
  pass "read --out to a file named in UTF-16: $name"
else
  fail "read --out '$name': exit $code, folder holds: $(ls "$work/out" | tr '\n' ' ')"
fi

# The window: a Start-menu entry, and the window up in simulate mode.
if [ -f "$dir/bin/beamport.exe" ]; then
  link=$(find "$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs" -iname 'Beamport*.lnk' | head -n 1)
  if [ -n "$link" ]; then pass "Start-menu entry: ${link##*/Programs/}"; else fail "no Start-menu entry for the window"; fi
  if [ -n "$shot" ]; then
    # Under Xvfb at 1280x720: the window starts, draws, and the screen is saved.
    # Wine's server, still up after the command line's runs, knows no display:
    # a window made through it fails (CreateWindowEx), so it ends first.
    wineserver -w
    xvfb-run -a -s "-screen 0 1280x720x24" bash -c '
      wine ./beamport.exe --simulate >"$1/window.log" 2>&1 &
      for _ in $(seq 60); do
        sleep 1
        xwd -root -silent >"$1/screen.xwd" 2>/dev/null || continue
        # The window has drawn once the screen is more than a few colours.
        if [ "$(xwdtopnm "$1/screen.xwd" 2>/dev/null | ppmhist -noheader 2>/dev/null | wc -l)" -gt 8 ]; then
          touch "$1/drawn"
          break
        fi
      done
      sleep 5
      # Only a window that drew replaces the picture in docs/.
      [ -f "$1/drawn" ] && xwd -root -silent | xwdtopnm 2>/dev/null | pnmtopng >"$2"
      wineserver -k' _ "$work" "$shot" || true
    if [ -f "$work/drawn" ] && [ -s "$shot" ]; then
      pass "the window in simulate mode: $shot"
    else
      fail "the window did not draw within 60 s; what it printed:"
      tail -n 5 "$work/window.log" | sed 's/^/  /'
    fi
  fi
fi
cd /

# A silent uninstall. The uninstaller runs a copy of itself from the temp
# folder; wineserver -w waits for it.
set +e
wine "C:\\Program Files\\Beamport\\Uninstall.exe" /S
code=$?
set -e
wineserver -w
snapshot "$work/after"
if [ "$code" = 0 ] && cmp -s "$work/before.files" "$work/after.files" && cmp -s "$work/before.keys" "$work/after.keys"; then
  pass "silent uninstall: the prefix's files and registry keys as before the install"
else
  fail "silent uninstall: exit $code, left behind:"
  { diff "$work/before.files" "$work/after.files"; diff "$work/before.keys" "$work/after.keys"; } | grep '^[<>]' | head -n 20 | sed 's/^/  /'
fi

echo "installer tests: $passed passed, $failed failed"
[ "$failed" = 0 ]
