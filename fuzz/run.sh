#!/usr/bin/env bash
# Builds the fuzz targets with clang (AddressSanitizer, UndefinedBehaviorSanitizer,
# warnings as errors) and runs each for SECONDS seconds (default 12) from the
# seed corpus under fuzz/corpus/, without adding to it. Fails on any finding.
#   fuzz/run.sh [SECONDS] [BUILD_DIR]
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
seconds=${1:-12}
build=${2:-build-fuzz}
root=$PWD
case "$build" in /*) ;; *) build="$root/$build" ;; esac
targets=(nullModel matrix priors joints fasta afasta pairlist)
CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSEQCORVANE_FUZZ=ON \
  -DSEQCORVANE_TESTS=OFF -DSEQCORVANE_WERROR=ON >/dev/null
cmake --build "$build" -j2 --target "${targets[@]/#/fuzz_}"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0
for t in "${targets[@]}"; do
  mkdir -p "$work/$t"
  echo "== fuzzing the $t reader for ${seconds}s"
  if ! (cd "$work" && "$build/fuzz/fuzz_$t" -max_total_time="$seconds" -print_final_stats=1 \
        -artifact_prefix="$work/$t-" "$work/$t" "$root/fuzz/corpus/$t" >"$work/$t.log" 2>&1); then
    tail -n 40 "$work/$t.log" >&2
    status=1
  else
    grep -E "^Done|stat::number_of_executed_units" "$work/$t.log" || true
  fi
done
exit "$status"
