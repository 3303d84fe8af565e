#!/usr/bin/env bash
# The layering check passes on a tree whose includes keep to the table of
# rooms, and fails, naming file and line, on each kind of fault: an include
# that runs up the stack, an include of a lower room the table does not allow
# (sim using app), a widget header outside the window's room, Qt Charts in any
# room, a platform header outside the platform's own files, a file outside
# every room, and a table that is no stack.
set -euo pipefail
check=${1:?usage: layering_selftest.sh CHECK_SCRIPT}
tree=$(mktemp -d)
qt=$(mktemp -d)
trap 'rm -rf "$tree" "$qt"' EXIT
mkdir -p "$qt/QtWidgets" "$qt/QtCharts" && touch "$qt/QtWidgets/QLabel" "$qt/QtCharts/QChart"

clean_tree() {
  rm -rf "${tree:?}"/*
  mkdir -p "$tree/model" "$tree/link" "$tree/app" "$tree/sim" "$tree/ui"
  printf 'model:\nlink: model\napp: link model\nsim: link model\nui: app link model sim\n' >"$tree/rooms.txt"
  printf '#pragma once\n' >"$tree/model/a.h"
  printf '#include "model/a.h"\n' >"$tree/link/l.h"
  printf '#include "link/l.h"\n#include "model/a.h"\n#include <QString>\n' >"$tree/app/b.h"
  printf '#include "sim_own.h"\n#include "link/l.h"\n' >"$tree/sim/s.cpp"
  printf '#include <QLabel>\n#include "app/b.h"\n#include "sim/s.h"\n' >"$tree/ui/c.cpp"
  printf '#include "link/l.h"\n#include <termios.h>\n#include <sys/stat.h>\n#include <csignal>\n' >"$tree/link/port_posix.cpp"
  printf '#include <poll.h>\n#include <sys/inotify.h>\n' >"$tree/sim/line_linux.cpp"
  printf '#include "link/l.h"\n#include <windows.h>\n' >"$tree/link/port_win32.cpp"
}

clean_tree
"$check" "$tree" "$qt" >/dev/null || { echo "a clean tree was refused: $("$check" "$tree" "$qt")"; exit 1; }

failures=0
# Each case: what it breaks, the shell that breaks it, a line the check must print.
cases=(
  "an include that runs up"
  'printf "#include \"app/b.h\"\n" >>"$tree/model/a.h"'
  "model/a.h:2: model includes app/b.h, which sits above it"

  "sim using app"
  'printf "#include \"app/b.h\"\n" >>"$tree/sim/s.cpp"'
  "sim/s.cpp:3: sim includes app/b.h, but sim may use only: model link"

  "a use the table leaves out (app taking the simulator)"
  'printf "#include \"sim/s.h\"\n" >>"$tree/app/b.h"'
  "app/b.h:4: app includes sim/s.h, but app may use only: model link"

  "a widget header outside ui"
  'printf "#include <QLabel>\n" >"$tree/app/d.cpp"'
  "app/d.cpp:1: app includes QLabel; widgets and charts belong in ui"

  "a widget module path outside ui"
  'printf "\n#include <QtCharts/QChart>\n" >"$tree/sim/t.h"'
  "sim/t.h:2: sim includes QtCharts/QChart; widgets and charts belong in ui"

  "Qt Charts in the window's room"
  'printf "#include <QtCharts/QChartView>\n" >>"$tree/ui/c.cpp"'
  "ui/c.cpp:4: ui includes QtCharts/QChartView; charts are drawn with QPainter, Qt Charts is not used"

  "a bare Qt Charts header in the window's room"
  'printf "#include <QChart>\n" >>"$tree/ui/c.cpp"'
  "ui/c.cpp:4: ui includes QChart; charts are drawn with QPainter"

  "a POSIX header in a file for every platform"
  'printf "#include <cstdint>\n#include <unistd.h>\n" >"$tree/app/d.cpp"'
  "app/d.cpp:2: app includes <unistd.h>, a platform header: only a file NAME_posix.cpp or NAME_linux.cpp may"

  "a system folder header in a header, beside a platform file"
  'printf "#pragma once\n#include <sys/types.h>\n" >"$tree/link/port.h"'
  "link/port.h:2: link includes <sys/types.h>, a platform header"

  "the signal header in a room's own file"
  'printf "#include <csignal>\n" >>"$tree/sim/s.cpp"'
  "sim/s.cpp:3: sim includes <csignal>, a platform header"

  "a Windows header outside a win32 file"
  'printf "#include <windows.h>\n" >>"$tree/link/port_posix.cpp"'
  "link/port_posix.cpp:5: link includes <windows.h>, a platform header: only a file NAME_win32.cpp may"

  "a POSIX header in a win32 file"
  'printf "#include <fcntl.h>\n" >>"$tree/link/port_win32.cpp"'
  "link/port_win32.cpp:3: link includes <fcntl.h>, a platform header"

  "a folder that is no room"
  'mkdir -p "$tree/extra" && printf "\n" >"$tree/extra/e.cpp"'
  "extra/e.cpp: not in a room"

  "an include of a folder that is no room"
  'printf "#include \"util/u.h\"\n" >>"$tree/link/l.h"'
  "link/l.h:2: link includes util/u.h, which is in no room"

  "a table that goes round"
  'printf "model: app\n" >"$tree/rooms.txt.new" && grep -v "^model:" "$tree/rooms.txt" >>"$tree/rooms.txt.new" && mv "$tree/rooms.txt.new" "$tree/rooms.txt"'
  "rooms.txt:1: model uses itself by way of other rooms"

  "a table naming an unknown room"
  'printf "cli: app nowhere\n" >>"$tree/rooms.txt"'
  "rooms.txt:6: cli uses nowhere, which is no room of the table"

  "a table line of another shape"
  'printf "ui app\n" >>"$tree/rooms.txt"'
  "rooms.txt:6: not 'ROOM: ROOMS IT USES'"
)
for ((i = 0; i < ${#cases[@]}; i += 3)); do
  clean_tree
  eval "${cases[i + 1]}"
  if out=$("$check" "$tree" "$qt"); then
    echo "passed, but must fail: ${cases[i]}"
    failures=$((failures + 1))
  elif ! grep -qF "${cases[i + 2]}" <<<"$out"; then
    echo "${cases[i]}: not named as '${cases[i + 2]}'; the check said:"
    echo "$out"
    failures=$((failures + 1))
  fi
done
((failures == 0)) || { echo "layering check self-test: $failures case(s) failed"; exit 1; }
echo "layering check self-test: passed"
