#!/usr/bin/env bash
# The layering check fails, naming file and line, on an include that runs up
# the stack and on a widget header outside the window's room; it passes on a
# tree whose includes only go down.
set -euo pipefail
check=${1:?usage: layering_selftest.sh CHECK_SCRIPT}
tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT
mkdir -p "$tree/model" "$tree/app" "$tree/ui"
printf '#include "model/a.h"\n' >"$tree/app/b.h"
printf '#include <QLabel>\n#include "app/b.h"\n' >"$tree/ui/c.cpp"
printf '#pragma once\n' >"$tree/model/a.h"
qt=$(mktemp -d)
trap 'rm -rf "$tree" "$qt"' EXIT
mkdir -p "$qt/QtWidgets" && touch "$qt/QtWidgets/QLabel"
"$check" "$tree" "$qt" >/dev/null || { echo "a clean tree was refused"; exit 1; }

printf '#include "app/b.h"\n' >"$tree/model/a.h"
out=$("$check" "$tree" "$qt") && { echo "an upward include passed"; exit 1; }
grep -q "model/a.h:1: model includes app/b.h" <<<"$out" || { echo "not named: $out"; exit 1; }

printf '#pragma once\n' >"$tree/model/a.h"
printf '#include <QLabel>\n' >"$tree/app/d.cpp"
out=$("$check" "$tree" "$qt") && { echo "a widget outside ui passed"; exit 1; }
grep -q "app/d.cpp:1: app includes QLabel" <<<"$out" || { echo "not named: $out"; exit 1; }
echo "layering check self-test: passed"
