#!/usr/bin/env bash
# Fails when the code under src/ holds a mutable process-wide variable: a
# namespace-scope, class-static or function-local static variable that is not
# const or constexpr. Prints each one as FILE:LINE: NAME and fails.
#
#   check-globals.sh BUILD_DIR SRC_DIR
#
# How: the compiled objects of src/ in BUILD_DIR (CMakeFiles/*/src/...) tell
# which variables the compiler placed in writable memory (.data, .bss and
# thread-local sections, not the read-only-after-relocation .data.rel.ro).
# What the language runtime, the compiler and Qt put there is left out: vtables
# and type information, guard variables of statics, exception-handling
# references, sanitizer instrumentation, Qt's meta-type registrations and the
# standard library's own. A const object that needs code to build it (a const
# QString, a static const std::vector) lands in writable memory too: the
# declaration in the object's source file (or its room's headers) decides, and
# one that says const or constexpr is kept. A variable whose declaration cannot
# be found is reported.
set -euo pipefail
build=${1:?usage: check-globals.sh BUILD_DIR SRC_DIR}
src=${2:?usage: check-globals.sh BUILD_DIR SRC_DIR}
src=$(cd "$src" && pwd)
for tool in objdump c++filt; do
  command -v "$tool" >/dev/null || { echo "check-globals: $tool is missing (Debian: binutils)"; exit 1; }
done

mapfile -d '' objects < <(find "$build" -path '*/CMakeFiles/*.dir/src/*' -name '*.o' -print0 | sort -z)
((${#objects[@]})) || { echo "check-globals: no objects of src/ under $build: build first"; exit 1; }

# The declaration of NAME (its last name part) in FILES: prints "LINE:TEXT" of
# the first line that declares it as a variable.
declaration() { # name, files...
  local name=$1
  shift
  grep -HnE "(^|[^A-Za-z0-9_:.>])${name}[[:space:]]*(\\[[^]]*\\][[:space:]]*)*(=|\\{|;|\\()" "$@" 2>/dev/null |
    grep -vE '^[^:]*:[0-9]+:[[:space:]]*(//|return\b|\*)' | head -n 1 || true
}

# Whether a declaration says const or constexpr for the variable itself: the
# words before the name, template arguments left out; for a pointer, the words
# after its last star (a pointer to const may still be pointed elsewhere).
is_const() { # text before the name
  local head=$1 prev=""
  while [ "$head" != "$prev" ]; do
    prev=$head
    head=$(sed -E 's/<[^<>]*>//g' <<<"$head")
  done
  head=${head##*\*}
  grep -qE '(^|[^A-Za-z0-9_])(const|constexpr)([^A-Za-z0-9_]|$)' <<<"$head"
}

found=0
declare -A seen=()
for object in "${objects[@]}"; do
  rel=${object#*/CMakeFiles/*.dir/src/}
  rel=${rel%.o}
  source=$src/$rel
  room=${rel%%/*}
  # An object left in the build folder by a source file since removed is
  # no part of the programs any more.
  [ -f "$source" ] || continue
  # Symbol lines: ADDRESS FLAGS SECTION SIZE NAME; writable sections only.
  while IFS=$'\t' read -r section mangled; do
    name=$(c++filt <<<"$mangled")
    case $name in
      vtable\ for* | typeinfo* | "guard variable for"* | "construction vtable"* | VTT\ for* | \
      DW.ref.* | .* | _* | std::* | __gnu_cxx::* | QtPrivate::* | QMetaTypeId* | "QMetaTypeIdQObject"* | \
      *::staticMetaObject | *qt_static_metacall* | *qt_meta_stringdata* | *qt_meta_data* | *qInitResources* | \
      *qCleanupResources* | *qt_resource_*)
        continue ;;
    esac
    [ -n "${seen[$name]:-}" ] && continue
    seen[$name]=1
    # The variable's own name: the last part, without an ABI tag or a clone suffix.
    short=${name%%\[abi:*}
    short=${short##*::}
    short=${short%%.*}
    files=()
    [ -f "$source" ] && files+=("$source")
    mapfile -t headers < <(find "$src/$room" -name '*.h' 2>/dev/null | sort)
    files+=("${headers[@]}")
    hit=$(declaration "$short" "${files[@]}")
    if [ -n "$hit" ]; then
      file=${hit%%:*}
      rest=${hit#*:}
      line=${rest%%:*}
      text=${rest#*:}
      before=$(sed -E "s/(^|[^A-Za-z0-9_:.>])${short}[[:space:]]*((\\[[^]]*\\][[:space:]]*)*(=|\\{|;|\\()).*/\\1/" <<<"$text")
      is_const "$before" && continue
      echo "src/${file#"$src"/}:$line: $name is a mutable process-wide variable ($section)"
    else
      echo "src/$rel: $name is in writable memory ($section) and no declaration was found"
    fi
    found=$((found + 1))
  done < <(objdump -t "$object" 2>/dev/null |
    awk '/^[0-9a-f]+ / && $2 != "f" {
           sec = ""; for (i = 2; i <= NF; i++) if ($i ~ /^\./ || $i == "*COM*") { sec = $i; break }
           if (sec == "" || $(NF) ~ /^\./) next
           if (sec ~ /^\.(data|bss|tdata|tbss)(\.|$)/ && sec !~ /^\.data\.rel\.ro/ || sec == "*COM*")
             print sec "\t" $(NF)
         }')
done

if ((found)); then
  echo "mutable globals check: FAILED, $found mutable process-wide variable(s) in src/; the state belongs to an object that owns it"
  exit 1
fi
echo "mutable globals check: no mutable process-wide variable in src/"
