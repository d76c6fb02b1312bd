#!/usr/bin/env bash
# The library as another project uses it: installed into a temporary prefix
# (then moved), the example program built against the installed tree with
# CMake (find_package(seqcorvane), target seqcorvane::seqcorvane; the
# install's data found with no directory named) and with pkg-config (its
# datadir variable); both builds print what the in-tree example prints, and
# its compression is the single program's.
#   package_test.sh SOURCE_DIR BUILD_DIR ALIGN_PAIR SEQCORVANE [SANITIZED]
set -euo pipefail
src=$1 build=$2 example=$3 program=$4
if [ "${5:-0}" = 1 ]; then
  echo "the library is built with the sanitizers: other projects link it in the plain build's test"
  exit 77
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cmake --install "$build" --prefix "$work/prefix" >/dev/null
mv "$work/prefix" "$work/moved"
prefix="$work/moved"
data="$prefix/share/seqcorvane/data"
s="$src/examples/hbb_human.fa" t="$src/examples/hba_macfa.fa"
[ -f "$prefix/include/seqcorvane/seqcorvane.h" ] || { echo "headers not installed"; exit 1; }

"$example" "$s" "$t" optimal "$data" > "$work/expected.txt"

mkdir "$work/consumer"
# A program that names no model directory: it finds the install's data (the
# moved one), not the source tree's.
cat > "$work/consumer/models.cpp" <<'CPP'
#include <iostream>

#include "seqcorvane/seqcorvane.h"

int main() {
  const seqcorvane::Models models;
  std::cout << models.directory() << "\n";
}
CPP
cat > "$work/consumer/CMakeLists.txt" <<CMAKE
cmake_minimum_required(VERSION 3.19)
project(consumer LANGUAGES CXX)
set(CMAKE_CXX_STANDARD 17)
find_package(seqcorvane REQUIRED)
add_executable(align_pair "$src/examples/align_pair.cpp")
target_link_libraries(align_pair PRIVATE seqcorvane::seqcorvane)
add_executable(models models.cpp)
target_link_libraries(models PRIVATE seqcorvane::seqcorvane)
CMAKE
cmake -S "$work/consumer" -B "$work/consumer/build" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/consumer/build" >/dev/null
"$work/consumer/build/align_pair" "$s" "$t" optimal "$data" > "$work/cmake.txt"
diff "$work/expected.txt" "$work/cmake.txt"
found=$(cd "$work" && "$work/consumer/build/models")
[ "$found" = "$data" ] || { echo "the consumer found the models in '$found', not in the install's '$data'"; exit 1; }
(cd "$work" && "$work/consumer/build/align_pair" "$s" "$t" optimal) > "$work/cmake-found.txt"
diff "$work/expected.txt" "$work/cmake-found.txt"

command -v pkg-config >/dev/null || { echo "pkg-config is not installed"; exit 77; }
export PKG_CONFIG_PATH="$prefix/lib/pkgconfig:$prefix/lib64/pkgconfig:$(ls -d "$prefix"/lib/*/pkgconfig 2>/dev/null | tr '\n' ':')"
# shellcheck disable=SC2046
g++ -std=c++17 -o "$work/align_pair_pc" "$src/examples/align_pair.cpp" $(pkg-config --cflags --libs seqcorvane)
"$work/align_pair_pc" "$s" "$t" optimal "$(pkg-config --variable=datadir seqcorvane)" > "$work/pkgconfig.txt"
diff "$work/expected.txt" "$work/pkgconfig.txt"

# The example's compression is the program's, to the digits the report prints.
bits=$(cut -f4 "$work/expected.txt" | head -1 | cut -d' ' -f1)
(cd "$work" && NO_COLOR=1 "$program" "$s" "$t" -o "$work/p" > "$work/program.txt")
reported=$(awk '/COMPRESSION +wrt null/ { print $5 }' "$work/program.txt")
awk -v a="$bits" -v b="$reported" 'BEGIN { d = a - b; if (d < 0) d = -d; exit !(d <= 5e-4 * (b < 0 ? -b : b) + 1e-9) }' ||
  { echo "example $bits bits, program $reported bits"; exit 1; }
echo "example: $(cat "$work/expected.txt" | head -1)"
