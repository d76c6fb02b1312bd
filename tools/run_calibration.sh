#!/usr/bin/env bash
# The calibration run: the posterior criterion's fitted match emissions
# cross-validated over families on both reference sets (twilight and
# calibration pairs) with the verdict on the unrelated pairs; candidate
# gap-prior tables and posterior models measured on the calibration pairs;
# choices made by family cross-validation, tables of the results beside the
# peer aligners.
#
#   tools/run_calibration.sh [PAIRS]
#
# PAIRS defaults to ../shared/bench/calibration_pairs.tsv beside the checkout.
# Steps:
#  1. a build of seqcorvane-calibrate and the Python module in build-calib/
#     (made here if missing);
#  2. the candidate priors tables (tools/make_priors_parametric.py), each in a
#     model directory of its own beside copies of data/'s other files;
#  3. seqcorvane-calibrate accuracy of the optimal criterion for every table,
#     and of the posterior criterion with the shipped table for every gamma
#     shape of site rates and scale of the gap opening (models without the
#     fitted emissions), with the shipped fitted emissions, and without its
#     fallback at the top of the distance range for the program's own
#     choice; each run a separate process;
#  4. the peers' alignments of both sets (bench/accuracy/peers.py: probcons,
#     probalign, parasail, and needle on the calibration pairs; kept between
#     runs);
#  5. bench/accuracy/crossvalidate.py: the fitted emissions by 10-fold family
#     cross-validation on both sets, beside the peers, and the verdict;
#  6. tools/calibration_report.py: the choices by 5-fold family
#     cross-validation on the calibration pairs and the tables;
#  5 and 6 together are written to bench/ACCURACY.md, followed by its other
#     sections (domains in context, relatedness: made by bench/context/ and
#     bench/relatedness/, kept as they are).
# Scratch: $SEQCORVANE_CALIBRATION_SCRATCH (default /tmp/seqcorvane-calibration).
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

pairs="${1:-../shared/bench/calibration_pairs.tsv}"
shared="$(dirname "$pairs")"
scratch="${SEQCORVANE_CALIBRATION_SCRATCH:-/tmp/seqcorvane-calibration}"
py=/usr/bin/python3
[ -x "$py" ] || py=python3
tool=build-calib/tools/seqcorvane-calibrate

# the peers, from Debian
need=()
command -v probcons >/dev/null 2>&1 || need+=(probcons)
command -v probalign >/dev/null 2>&1 || need+=(probalign)
command -v parasail_aligner >/dev/null 2>&1 || need+=(parasail)
command -v needle >/dev/null 2>&1 || need+=(emboss)
if [ ${#need[@]} -gt 0 ]; then
  if [ "$(id -u)" -eq 0 ]; then as_root=(); else as_root=(sudo); fi
  echo "calibration: installing ${need[*]}" >&2
  "${as_root[@]}" apt-get update
  "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${need[@]}"
fi

if [ ! -x "$tool" ]; then
  cmake -S . -B build-calib -DCMAKE_BUILD_TYPE=Release -DSEQCORVANE_TESTS=OFF
fi
cmake --build build-calib -j2 --target seqcorvane-calibrate _seqcorvane >/dev/null
mkdir -p "$scratch/runs"

# name: options of make_priors_parametric.py ("current" is the shipped table's)
tables=(
  "current:"
  "open08:--open-max 0.08"
  "open10:--open-max 0.10"
  "open10slow:--open-max 0.10 --open-scale 400"
  "open08slow:--open-max 0.08 --open-scale 400"
  "open14:--open-max 0.14"
  "open18:--open-max 0.18"
  "stay65:--stay-base 0.65 --stay-gain 0.2"
  "open10stay65:--open-max 0.10 --stay-base 0.65 --stay-gain 0.2"
)
shapes=(0 0.5 1 2 4)
openScales=(1 0.6667 0.5 0.35)

for t in "${tables[@]}"; do
  name=${t%%:*}
  dir="$scratch/tables/$name"
  if [ ! -s "$dir/DirichletPriorsGivenN.txt" ]; then
    mkdir -p "$dir"
    cp data/S_double_precision.txt data/D_double_precision.txt data/S_inv_double_precision.txt \
      data/protSeqNullMMLEstimatesOrder0.txt "$dir/"
    # shellcheck disable=SC2086
    "$py" tools/make_priors_parametric.py "$dir/DirichletPriorsGivenN.txt" ${t#*:} >/dev/null
  fi
done
# the shipped models without the fitted match emissions: matches averaged over site rates
rates="$scratch/tables/rates"
mkdir -p "$rates"
cp data/S_double_precision.txt data/D_double_precision.txt data/S_inv_double_precision.txt \
  data/protSeqNullMMLEstimatesOrder0.txt data/DirichletPriorsGivenN.txt "$rates/"

run() {  # run OUT ARGS...: one accuracy run unless its table exists
  local out="$scratch/runs/$1.tsv"
  shift
  [ -s "$out" ] && return 0
  "$tool" accuracy --pairs "$pairs" --out "$out.tmp" --threads 2 "$@" >/dev/null
  mv "$out.tmp" "$out"
  echo "  $(basename "$out")"
}
echo "accuracy runs:"
for t in "${tables[@]}"; do
  name=${t%%:*}
  run "optimal__$name" --data "$scratch/tables/$name" --criterion optimal
done
for a in "${shapes[@]}"; do
  for f in "${openScales[@]}"; do
    run "posterior__shape${a}__open$f" --data "$rates" --criterion posterior --rate-shape "$a" --open-scale "$f"
  done
done
run "marginal-posterior__default" --data "$rates" --criterion marginal-posterior
run "posterior-fitted__default" --data data --criterion posterior

"$py" bench/accuracy/peers.py "$pairs" "$scratch/peers/calibration" --peers probcons,probalign,parasail,needle --jobs 2
"$py" bench/accuracy/peers.py "$shared/twilight_pairs.tsv" "$scratch/peers/twilight" --peers probcons,probalign,parasail \
  --jobs 2
for p in probcons probalign parasail needle; do
  run "peer__$p" --alignments "$scratch/peers/calibration/$p"
done

PYTHONPATH=build-calib/python "$py" bench/accuracy/crossvalidate.py "$scratch/crossvalidation.md" \
  --peers "$scratch/peers" --shared "$shared" \
  --variants 4x500x1,3x2000x1,4x2000x1,6x2000x1,8x2000x1,6x500x1,6x10000x1,4x2000x2 >/dev/null
"$py" tools/calibration_report.py "$scratch/runs" --pairs "$pairs" --out "$scratch/calibration.md"
{
  cat "$scratch/crossvalidation.md"
  echo
  sed 's/^#/##/' "$scratch/calibration.md"
  kept=$(awk '/^## /{keep = ($0 !~ /^## (Both reference sets|Accuracy on the calibration pairs)/)} keep' \
    bench/ACCURACY.md 2>/dev/null || true)
  if [ -n "$kept" ]; then
    echo
    printf '%s\n' "$kept"
  fi
} >bench/ACCURACY.md.tmp
mv bench/ACCURACY.md.tmp bench/ACCURACY.md
echo "wrote bench/ACCURACY.md"
