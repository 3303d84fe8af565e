#!/usr/bin/env bash
# Tries the README's two commands on a fresh Debian 12 machine: a minbase root
# made by debootstrap, with this checkout copied in (HEAD plus the changes not
# yet committed), /proc, /dev, /dev/pts, /sys and a tmpfs /tmp mounted. There
# it runs scripts/test.sh as root, then scripts/run.sh as an ordinary user in
# that user's own copy of the checkout (no display: the command line on the
# simulated detector). With --windows it then runs scripts/windows.sh --test
# as root in that root, twice: the first run builds the Windows toolchain's
# libraries from nothing, the second reuses them.
#
#   scripts/fresh-machine.sh [--keep] [--windows]
#       --keep      leaves the root in place
#       --windows   also the Windows build and its tests, first and second run
#
# One line per stage with its time, then the total. A failed stage shows the
# last lines of its log and ends the run with a non-zero status. The root's
# tarball and the downloaded packages are kept in the cache folder
# (BEAMPORT_FRESH_CACHE, default /var/cache/beamport-fresh), so a second run
# skips debootstrap and most downloads. Needs root.
set -euo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
keep=0 windows=0
for arg in "$@"; do
  case $arg in
    --keep) keep=1 ;;
    --windows) windows=1 ;;
    *) echo "usage: scripts/fresh-machine.sh [--keep] [--windows]" >&2; exit 64 ;;
  esac
done
[ "$(id -u)" -eq 0 ] || { echo "fresh-machine: needs root (debootstrap, chroot, mounts)" >&2; exit 1; }

cache=${BEAMPORT_FRESH_CACHE:-/var/cache/beamport-fresh}
mirror=${BEAMPORT_FRESH_MIRROR:-http://deb.debian.org/debian}
case "$cache" in
  "$src" | "$src"/*) echo "fresh-machine: the cache folder may not lie inside the checkout" >&2; exit 64 ;;
esac
mkdir -p "$cache/apt-archives"
tarball=$cache/debian12-minbase.tar.gz
run=$(mktemp -d "$cache/run.XXXXXX")
root=$run/root
logs=$run/logs
mkdir -p "$root" "$logs"

# The mount points, one a line, in the order they were mounted.
mounted=$run/mounted
: >"$mounted"
cleanup() {
  local status=$? pid link
  # Whatever the stages left running inside the root (a database server, a
  # simulated detector) holds its mounts: end those processes first.
  for link in /proc/[0-9]*/root; do
    pid=${link#/proc/}
    pid=${pid%/root}
    [ "$link" -ef "$root" ] && kill -KILL "$pid" 2>/dev/null || true
  done
  tac "$mounted" | while IFS= read -r target; do
    umount "$target" 2>/dev/null || umount -l "$target" 2>/dev/null || true
  done
  if ((keep)); then
    echo "the root stays in $root; logs in $logs"
  elif ! findmnt -rn -o TARGET | grep -qF "$root"; then
    # A failed run keeps its logs.
    if [ "$status" -eq 0 ]; then rm -rf "$run"; else rm -rf "$root"; fi
  fi
  exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

start_all=$SECONDS
stage() { # name, then the command; its output goes to the stage's log
  local name=$1 begin=$SECONDS log=$logs/$1.log status=0
  shift
  # In a subshell of its own, so that the first failing command ends the stage.
  (set -e; "$@") >"$log" 2>&1 || status=$?
  if [ "$status" -eq 0 ]; then
    printf '%-12s ok      %4d s\n' "$name" $((SECONDS - begin))
  else
    printf '%-12s FAILED  %4d s  (log: %s)\n' "$name" $((SECONDS - begin)) "$log"
    tail -n 30 "$log" | sed 's/^/  | /'
    printf '%-12s FAILED  %4d s\n' total $((SECONDS - start_all))
    exit 1
  fi
}

make_root() {
  if [ ! -s "$tarball" ]; then
    "$src/scripts/deps.sh" --why "needed to build a fresh Debian 12 root" debootstrap
    local fresh=$run/debootstrap
    debootstrap --variant=minbase --cache-dir="$cache/apt-archives" bookworm "$fresh" "$mirror"
    tar -C "$fresh" -czf "$tarball.part" .
    mv "$tarball.part" "$tarball"
    rm -rf "$fresh"
  fi
  tar -C "$root" -xzf "$tarball"
  cp /etc/resolv.conf "$root/etc/resolv.conf"
  echo "deb $mirror bookworm main" >"$root/etc/apt/sources.list"
  # Packages keep their services stopped inside the root (a chroot has no init
  # to stop them again).
  printf '#!/bin/sh\nexit 101\n' >"$root/usr/sbin/policy-rc.d"
  chmod 755 "$root/usr/sbin/policy-rc.d"
}

mount_all() {
  local spec
  for spec in "proc proc" "dev bind" "dev/pts bind" "dev/shm tmpfs" "sys bind" "tmp tmpfs" \
              "var/cache/apt/archives cache"; do
    set -- $spec
    mkdir -p "$root/$1"
    case $2 in
      proc) mount -t proc proc "$root/$1" ;;
      bind) mount --bind "/$1" "$root/$1" ;;
      tmpfs) mount -t tmpfs -o mode=1777,size=8g tmpfs "$root/$1" ;;
      cache) mount --bind "$cache/apt-archives" "$root/$1" ;;
    esac
    echo "$root/$1" >>"$mounted"
  done
}

# The checkout as a user would have it: every file git knows or would add
# (committed, changed, new), without build folders or ignored files.
copy_checkout() { # destination inside the root
  local dest=$root/$1
  mkdir -p "$dest"
  (cd "$src" && git ls-files -z -c -o --exclude-standard |
    while IFS= read -r -d '' f; do [ -e "$f" ] && printf '%s\0' "$f"; done |
    tar --null -T - -cf -) | tar -C "$dest" -xf -
}

in_root() { # uid:gid, folder, command line
  chroot --userspec="$1" "$root" /usr/bin/env -i HOME="$([ "$1" = 0:0 ] && echo /root || echo /home/tech)" \
    PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 \
    /bin/bash -c "cd '$2' && $3" </dev/null
}

user_setup() {
  chroot "$root" useradd --create-home --shell /bin/bash --uid 1000 --user-group tech
  copy_checkout home/tech/beamport
  chroot "$root" chown -R 1000:1000 /home/tech/beamport
}

# stderr must hold nothing but what the program means to say: no toolkit noise.
run_as_user() {
  in_root 1000:1000 /home/tech/beamport "scripts/run.sh" 2>"$logs/run-stderr.log"
  if [ -s "$logs/run-stderr.log" ]; then
    echo "scripts/run.sh wrote to stderr:"
    cat "$logs/run-stderr.log"
    return 1
  fi
}

stage root make_root
stage mounts mount_all
stage copy copy_checkout root/beamport
stage test.sh in_root 0:0 /root/beamport "scripts/test.sh"
stage user user_setup
stage run.sh run_as_user
echo "--- scripts/run.sh as tech said (build lines left out):"
grep -v '^\[[0-9]*/[0-9]*\] ' "$logs/run.sh.log" | sed 's/^/  | /'
if ((windows)); then
  stage windows.sh in_root 0:0 /root/beamport "scripts/windows.sh --test"
  grep -E '^(windows unit tests|windows tests|installer tests):' "$logs/windows.sh.log" | sed 's/^/  | /'
  echo "--- the first Windows run's stages (times.txt) and its cache:"
  sed 's/^/  | /' "$root/root/.cache/beamport-windows/times.txt"
  du -sh "$root/root/.cache/beamport-windows" | sed 's/^/  | /'
  stage windows-2nd in_root 0:0 /root/beamport "scripts/windows.sh --test"
  grep -E '^(windows unit tests|windows tests|installer tests):' "$logs/windows-2nd.log" | sed 's/^/  | /'
fi
printf '%-12s ok      %4d s\n' total $((SECONDS - start_all))
