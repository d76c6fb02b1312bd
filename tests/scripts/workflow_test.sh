#!/usr/bin/env bash
# The cluster workflow on one machine: an all-against-all job of 100
# sequences split into three shards and run by Snakemake on 2 cores gives the
# table of one seqcorvane-batch run (all columns but the seconds).
#   workflow_test.sh SOURCE_DIR BATCH_BINARY
set -euo pipefail
src=$1
batch=$2
command -v snakemake >/dev/null 2>&1 || { echo "snakemake is not installed"; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
# 100 sequences of 40 to 80 residues, mutated from the example globins.
/usr/bin/python3 - "$src/examples" > seqs.fa <<'PY'
import random, sys, glob
rng = random.Random(7)
bases = []
for name in sorted(glob.glob(sys.argv[1] + "/h*.fa")) + sorted(glob.glob(sys.argv[1] + "/m*.fa")):
    bases.append("".join(l.strip() for l in open(name) if not l.startswith(">")))
letters = "ACDEFGHIKLMNPQRSTVWY"
for n in range(100):
    s = bases[n % len(bases)]
    start = rng.randrange(0, 40)
    s = s[start:start + rng.randrange(40, 81)]
    s = "".join(rng.choice(letters) if rng.random() < 0.3 else c for c in s)
    print(f">seq{n:03d}\n{s}")
PY
snakemake -s "$src/workflow/Snakefile" --cores 2 --quiet \
  --config seqs=seqs.fa shards=3 out=merged.tsv work=shards batch="$batch" data="$src/data" >snakemake.log 2>&1 ||
  { cat snakemake.log; exit 1; }
"$batch" seqs.fa --data "$src/data" --threads 2 -o one.tsv
[ "$(wc -l < one.tsv)" -eq 4951 ] || { echo "expected 4950 pairs"; exit 1; }
cut -f1-11,13 one.tsv > one.cut
cut -f1-11,13 merged.tsv > merged.cut
cmp one.cut merged.cut
echo "workflow: merged table of $(($(wc -l < merged.tsv) - 1)) pairs equals one batch run"
