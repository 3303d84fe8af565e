#!/usr/bin/env bash
# Keeps the rooms apart: a file under src/ROOM may include only its own room
# and the rooms that SRC_DIR/rooms.txt lets ROOM use (the same table the build
# links the rooms' libraries by), and only src/ui may use the widget module.
# No room uses Qt Charts: the logger's chart is drawn with QPainter. A system
# header of one platform (POSIX and Linux: <unistd.h>, <sys/...>, <signal.h>,
# ...; Windows: <windows.h>, ...) is included only by that platform's own
# files, NAME_posix.cpp or NAME_linux.cpp and NAME_win32.cpp, never by a
# header. Prints each offending include as FILE:LINE and fails; a table that
# is malformed, names an unknown room or lets a room use itself by way of
# another fails too.
#
#   check-layers.sh SRC_DIR [QT_INCLUDE_DIR]
set -euo pipefail
src=${1:?usage: check-layers.sh SRC_DIR [QT_INCLUDE_DIR]}
qt=${2:-}
table=$src/rooms.txt
[ -f "$table" ] || { echo "$table: missing (the rooms and the rooms each may use)"; exit 1; }

bad=0
rooms=()
declare -A uses=() # "ROOM OTHER" -> 1 when the table lets ROOM use OTHER
declare -A listed=()
n=0
while IFS= read -r line || [ -n "$line" ]; do
  n=$((n + 1))
  line=${line%%#*}
  [[ $line =~ ^[[:space:]]*$ ]] && continue
  if [[ ! $line =~ ^([a-z][a-z0-9_]*):([a-z0-9_[:space:]]*)$ ]]; then
    echo "$table:$n: not 'ROOM: ROOMS IT USES': $line"
    bad=1
    continue
  fi
  room=${BASH_REMATCH[1]}
  if [ -n "${listed[$room]:-}" ]; then
    echo "$table:$n: $room is listed twice"
    bad=1
  fi
  listed[$room]=$n
  rooms+=("$room")
  for other in ${BASH_REMATCH[2]}; do uses["$room $other"]=1; done
done <"$table"

for pair in "${!uses[@]}"; do
  other=${pair#* }
  [ -n "${listed[$other]:-}" ] && continue
  echo "$table:${listed[${pair% *}]}: ${pair% *} uses $other, which is no room of the table"
  bad=1
done

# reaches ROOM OTHER: ROOM uses OTHER, directly or by way of other rooms.
declare -A reach=()
for room in "${rooms[@]}"; do
  todo=("$room")
  while ((${#todo[@]})); do
    at=${todo[0]}
    todo=("${todo[@]:1}")
    for other in "${rooms[@]}"; do
      if [ -n "${uses["$at $other"]:-}" ] && [ -z "${reach["$room $other"]:-}" ]; then
        reach["$room $other"]=1
        todo+=("$other")
      fi
    done
  done
  if [ -n "${reach["$room $room"]:-}" ]; then
    echo "$table:${listed[$room]}: $room uses itself by way of other rooms: the rooms must form a stack"
    bad=1
  fi
done
((bad)) && { echo "layering check: FAILED (the table $table)"; exit 1; }

# Widget and chart headers: everything the two modules ship, by bare name.
declare -A widget_header=()
if [ -n "$qt" ]; then
  for module in QtWidgets QtCharts; do
    [ -d "$qt/$module" ] || continue
    for f in "$qt/$module"/*; do widget_header[$(basename "$f")]=$module; done
  done
fi

# The platform a system header belongs to: posix, win32, or nothing.
header_platform() {
  case $1 in
  unistd.h | fcntl.h | termios.h | poll.h | signal.h | csignal | pwd.h | grp.h | pty.h | dirent.h | dlfcn.h | \
    sys/* | linux/* | asm/*) echo posix ;;
  windows.h | winbase.h | winioctl.h | setupapi.h | io.h | conio.h | aclapi.h | shlobj.h) echo win32 ;;
  esac
}

# The platform a source file is written for: posix, win32, or nothing.
file_platform() {
  case $1 in
  *_posix.cpp | *_linux.cpp) echo posix ;;
  *_win32.cpp) echo win32 ;;
  esac
}

allowed_list() { # the rooms ROOM may use, for a message
  local other list=""
  for other in "${rooms[@]}"; do [ -n "${uses["$1 $other"]:-}" ] && list+=" $other"; done
  echo "${list:- none}"
}

cd "$src"
while IFS= read -r -d '' file; do
  room=${file%%/*}
  if [ "$room" = "$file" ] || [ -z "${listed[$room]:-}" ]; then
    echo "$src/$file: not in a room of $table (rooms: ${rooms[*]})"
    bad=1
    continue
  fi
  n=0
  while IFS= read -r line || [ -n "$line" ]; do
    n=$((n + 1))
    [[ $line =~ ^[[:space:]]*#[[:space:]]*include[[:space:]]*([\"\<])([^\"\>]+)[\"\>] ]] || continue
    target=${BASH_REMATCH[2]}
    if [ "${BASH_REMATCH[1]}" = '"' ]; then
      other=${target%%/*}
      [ "$other" = "$target" ] && continue # a file beside it
      [ "$other" = "$room" ] && continue
      [ -n "${uses["$room $other"]:-}" ] && continue
      if [ -n "${reach["$other $room"]:-}" ]; then
        echo "$src/$file:$n: $room includes $target, which sits above it"
      elif [ -n "${listed[$other]:-}" ]; then
        echo "$src/$file:$n: $room includes $target, but $room may use only:$(allowed_list "$room")"
      else
        echo "$src/$file:$n: $room includes $target, which is in no room"
      fi
      bad=1
    elif header=$(header_platform "$target") && [ -n "$header" ]; then
      if [ "$header" != "$(file_platform "$file")" ]; then
        if [ "$header" = win32 ]; then own="NAME_win32.cpp"; else own="NAME_posix.cpp or NAME_linux.cpp"; fi
        echo "$src/$file:$n: $room includes <$target>, a platform header: only a file $own may"
        bad=1
      fi
    else
      module=${target%%/*}
      name=${target##*/}
      if [ "$module" = QtCharts ] || [ "${widget_header[$name]:-}" = QtCharts ]; then
        echo "$src/$file:$n: $room includes $target; charts are drawn with QPainter, Qt Charts is not used"
        bad=1
      fi
      [ "$room" = ui ] && continue
      if [ "$module" = QtWidgets ] || [ "$module" = QtCharts ] || [ -n "${widget_header[$name]:-}" ]; then
        echo "$src/$file:$n: $room includes $target; widgets and charts belong in ui"
        bad=1
      fi
    fi
  done <"$file"
done < <(find . -type f \( -name '*.h' -o -name '*.cpp' \) -printf '%P\0' | sort -z)

if [ "$bad" -ne 0 ]; then
  echo "layering check: FAILED (the rooms and what each may use: $table)"
  exit 1
fi
echo "layering check: every include stays in its room or goes to a room it may use"
