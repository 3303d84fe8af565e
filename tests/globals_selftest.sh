#!/usr/bin/env bash
# The mutable-globals check names, by file and line, every kind of mutable
# process-wide variable (namespace scope, anonymous namespace, class static,
# function-local static, a table of pointers to const, thread-local), and
# passes on constants of every kind, also in a sanitizer build: constexpr,
# const objects built at start-up, const pointer tables, function-local static
# constants, classes with vtables.
#
#   globals_selftest.sh CHECK_SCRIPT [CXX]
set -euo pipefail
check=${1:?usage: globals_selftest.sh CHECK_SCRIPT [CXX]}
cxx=${2:-${CXX:-c++}}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# name|source; the expected finding is the line of the source marked FLAG.
cases=(
  'namespace.cpp|int gCount = 1; // FLAG
int Count() { return ++gCount; }'
  'anonymous.cpp|#include <string>
namespace {
std::string gName; // FLAG
}
std::string &Name() { return gName; }'
  'member.cpp|struct RCounter { static int sCount; }; // FLAG
int RCounter::sCount = 0;
int Next() { return ++RCounter::sCount; }'
  'local.cpp|#include <vector>
std::vector<int> &Table()
{
    static std::vector<int> table; // FLAG
    return table;
}'
  'pointers.cpp|const char *gNames[] = {"a", "b"}; // FLAG
const char *First() { return gNames[0]; }'
  'thread.cpp|thread_local int tDepth = 0; // FLAG
int Depth() { return ++tDepth; }'
)
fine='#include <string>
#include <vector>
constexpr int kCount = 3;
const std::string kName = "name";
const char *const kList[] = {"a", "b"};
extern const int kLimit;
const int kLimit = 5;
namespace {
const std::vector<std::string> kWords = {"x", "y"};
}
const std::vector<std::string> &Words()
{
    static const std::vector<std::string> words = {"a", "b"};
    return words.empty() ? kWords : words;
}
struct TShape {
    virtual ~TShape();
    virtual int Sides() const { return kCount + kLimit; }
};
TShape::~TShape() = default;
const char *Name() { return kList[kName.size() % 2]; }'

build_tree() { # folder, flags, then name|source entries
  local dir=$1 flags=$2 entry name
  shift 2
  mkdir -p "$dir/src/room" "$dir/build/CMakeFiles/room.dir/src/room"
  for entry in "$@"; do
    name=${entry%%|*}
    printf '%s\n' "${entry#*|}" >"$dir/src/room/$name"
    # shellcheck disable=SC2086
    "$cxx" -std=c++20 -g -fPIE $flags -c "$dir/src/room/$name" -o "$dir/build/CMakeFiles/room.dir/src/room/$name.o"
  done
}

failures=0
# Constants alone pass, plain and with the sanitizers' instrumentation.
for flags in "" "-fsanitize=address,undefined -fno-omit-frame-pointer"; do
  build_tree "$tmp/fine${flags:+-san}" "$flags" "fine.cpp|$fine"
  if ! out=$("$check" "$tmp/fine${flags:+-san}/build" "$tmp/fine${flags:+-san}/src"); then
    echo "constants were refused (${flags:-no sanitizers}):"
    echo "$out"
    failures=$((failures + 1))
  fi
done

# Each mutable kind is found, with its file and line, beside the constants.
build_tree "$tmp/mixed" "" "fine.cpp|$fine" "${cases[@]}"
if out=$("$check" "$tmp/mixed/build" "$tmp/mixed/src"); then
  echo "mutable globals passed:"
  echo "$out"
  failures=$((failures + 1))
fi
for entry in "${cases[@]}"; do
  name=${entry%%|*}
  line=$(grep -n 'FLAG' "$tmp/mixed/src/room/$name" | cut -d: -f1)
  grep -q "^src/room/$name:$line: .* is a mutable process-wide variable" <<<"$out" ||
    { echo "$name: its variable (line $line) was not named"; failures=$((failures + 1)); }
done
if grep -q "fine.cpp" <<<"$out"; then
  echo "a constant was taken for a mutable variable:"
  grep "fine.cpp" <<<"$out"
  failures=$((failures + 1))
fi
((failures == 0)) || { echo "mutable globals check self-test: $failures problem(s)"; exit 1; }
echo "mutable globals check self-test: passed"
