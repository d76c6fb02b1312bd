#!/usr/bin/env bash
# The full calibration run: builds the data of four substitution models (LG,
# WAG, JTT, Dayhoff) from Debian's paml package, the parametric priors table,
# then cross-validates fitted priors against it for every model (5 folds of
# families) and writes the tables to bench/RESULTS-calibration.md.
#
#   tools/run_calibration.sh [PAIRS] [--ship]
#
# PAIRS defaults to ../shared/bench/calibration_pairs.tsv beside the checkout.
# With --ship, the most accurate model's files and the priors table that
# passed (fitted, or the parametric one) are copied into data/.
# Needs: python3 with numpy, the paml package (/usr/lib/paml/data/dat), a
# build of seqcorvane-calibrate in build-calib/ (made here if missing).
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

pairs="../shared/bench/calibration_pairs.tsv"
ship=()
for a in "$@"; do
  case "$a" in
    --ship) ship=(--ship "$PWD/data") ;;
    *) pairs="$a" ;;
  esac
done
scratch="${SEQCORVANE_CALIBRATION_SCRATCH:-/tmp/seqcorvane-cv}"
models="$scratch-models"
py=/usr/bin/python3
[ -x "$py" ] || py=python3

if [ ! -x build-calib/tools/seqcorvane-calibrate ]; then
  cmake -S . -B build-calib -DCMAKE_BUILD_TYPE=Release -DSEQCORVANE_TESTS=OFF
  cmake --build build-calib -j2 --target seqcorvane-calibrate
fi

rm -rf "$scratch" "$models"
mkdir -p "$models"
for m in lg:lg wag:wag jtt:jones dayhoff:dayhoff; do
  "$py" tools/make_substitution_data.py "/usr/lib/paml/data/dat/${m#*:}.dat" "$models/${m%%:*}" >/dev/null
done
"$py" tools/make_priors_parametric.py "$models/parametric_priors.txt" >/dev/null

build-calib/tools/seqcorvane-calibrate crossval --pairs "$pairs" \
  --model LG="$models/lg" --model WAG="$models/wag" --model JTT="$models/jtt" --model Dayhoff="$models/dayhoff" \
  --baseline "$models/parametric_priors.txt" --folds 5 --degree 1 --workers 2 \
  --scratch "$scratch" --report bench/RESULTS-calibration.md "${ship[@]}"
