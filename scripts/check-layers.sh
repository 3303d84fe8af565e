#!/usr/bin/env bash
# Keeps the house one stack: a file under src/ROOM may include only its own
# room and the rooms below it, and only src/ui may use the widget and chart
# modules. Prints each offending include as FILE:LINE and fails.
#
#   check-layers.sh SRC_DIR [QT_INCLUDE_DIR]
#
# The rooms, lowest first. sim stands on link and model only, so the window
# and the command line can start a simulated detector.
set -euo pipefail
src=${1:?usage: check-layers.sh SRC_DIR [QT_INCLUDE_DIR]}
qt=${2:-}
rooms=(model link files app tools records sim ui cli)

rank_of() {
  local i
  for i in "${!rooms[@]}"; do
    [ "${rooms[$i]}" = "$1" ] && { echo "$i"; return; }
  done
  echo -1
}

# Widget and chart headers: everything the two modules ship, by bare name.
declare -A widget_header=()
if [ -n "$qt" ]; then
  for module in QtWidgets QtCharts; do
    [ -d "$qt/$module" ] || continue
    for f in "$qt/$module"/*; do widget_header[$(basename "$f")]=$module; done
  done
fi

bad=0
cd "$src"
while IFS= read -r -d '' file; do
  room=${file%%/*}
  own=$(rank_of "$room")
  if [ "$own" -lt 0 ]; then
    echo "$src/$file: not in a room (rooms: ${rooms[*]})"
    bad=1
    continue
  fi
  n=0
  while IFS= read -r line; do
    n=$((n + 1))
    [[ $line =~ ^[[:space:]]*#[[:space:]]*include[[:space:]]*([\"\<])([^\"\>]+)[\"\>] ]] || continue
    target=${BASH_REMATCH[2]}
    if [ "${BASH_REMATCH[1]}" = '"' ]; then
      other=${target%%/*}
      [ "$other" = "$target" ] && continue # a file beside it
      theirs=$(rank_of "$other")
      if [ "$theirs" -gt "$own" ]; then
        echo "$src/$file:$n: $room includes $target, which sits above it"
        bad=1
      fi
    elif [ "$room" != ui ]; then
      module=${target%%/*}
      name=${target##*/}
      if [ "$module" = QtWidgets ] || [ "$module" = QtCharts ] || [ -n "${widget_header[$name]:-}" ]; then
        echo "$src/$file:$n: $room includes $target; widgets and charts belong in ui"
        bad=1
      fi
    fi
  done < "$file"
done < <(find . -type f \( -name '*.h' -o -name '*.cpp' \) -printf '%P\0' | sort -z)

if [ "$bad" -ne 0 ]; then
  echo "layering check: FAILED (rooms, lowest first: ${rooms[*]})"
  exit 1
fi
echo "layering check: every include stays in its room or goes down"
