#!/usr/bin/env bash
# Says in one line, and fails, when this user cannot build in DIR: it (or a
# file in it) belongs to another user, typically root from an earlier run with
# sudo. CMake would otherwise fail with a page of errors about files it may
# not write.
#
#   scripts/check-build-dir.sh DIR
set -euo pipefail
dir=${1:?usage: scripts/check-build-dir.sh DIR}
[ -e "$dir" ] || exit 0
me=$(id -u)
other=$(find "$dir" -maxdepth 2 ! -user "$me" -printf '%u\n' -quit 2>/dev/null || true)
if [ -n "$other" ] || [ ! -w "$dir" ]; then
  owner=$(stat -c %U "$dir")
  if [ "$owner" = "$(id -un)" ]; then
    what="$dir/ holds files of ${other:-another user}, not only of $(id -un)"
    owner=${other:-root}
  else
    what="$dir/ belongs to $owner, not to $(id -un)"
  fi
  echo "$what, so this build cannot write there: remove it (sudo rm -rf $dir) and run again, or run as $owner." >&2
  exit 1
fi
