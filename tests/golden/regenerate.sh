#!/usr/bin/env bash
# Rewrites the expected output of the golden tests (tests/test_golden.cpp)
# under tests/golden/ from the program as it now is.
#
# Regenerating is only right when a change of the program's output is
# intended: the golden tests exist to catch the changes that are not. Look at
# the difference (git diff tests/golden) before committing it.
#
#   tests/golden/regenerate.sh [--refresh-data] [BUILD_DIR]
#
# --refresh-data  first replace tests/golden/data/ with a copy of the model
#                 data in data/ (for an intended change of the data the golden
#                 cases run on; normally they keep their own frozen copy)
# BUILD_DIR       the build tree to use (default build-golden; configured with
#                 the tests if it does not exist yet)
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(cd "$here/../.." && pwd)"

refresh=0
build=""
for arg in "$@"; do
  case "$arg" in
    --refresh-data) refresh=1 ;;
    -h|--help) sed -n '2,16p' "${BASH_SOURCE[0]}" | sed 's/^# \{0,1\}//'; exit 0 ;;
    -*) echo "regenerate.sh: unknown option '$arg'" >&2; exit 1 ;;
    *) build="$arg" ;;
  esac
done
build="${build:-$root/build-golden}"

if [ "$refresh" = 1 ]; then
  rm -f "$here"/data/*
  mkdir -p "$here/data"
  cp "$root"/data/*.txt "$here/data/"
fi

if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build" -DSEQCORVANE_TESTS=ON >/dev/null
fi
cmake --build "$build" -j2 --target seqcorvane seqcorvane_tests >/dev/null

for d in optimal optimal-calibrated ivalue marginal marginal-interactive posterior optimal-local ivalue-local optimal-auto \
    marginal-local posterior-auto; do rm -rf "${here:?}/$d"; done
SEQCORVANE_GOLDEN_REGENERATE=1 "$build/seqcorvane_tests" --gtest_filter='Golden.*' --gtest_brief=1
# The fresh expected files must pass as they stand.
"$build/seqcorvane_tests" --gtest_filter='Golden.*' --gtest_brief=1
git -C "$root" status --short -- tests/golden || true
