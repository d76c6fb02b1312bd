#!/usr/bin/env bash
# The cluster workflow on one machine: an all-against-all job of 100
# sequences split into three shards and run by Snakemake on 2 cores gives the
# table of one seqcorvane-batch run (all columns but the seconds); a rerun
# with another criterion, shard count or output never merges the earlier
# shards; paths with blanks and a list of pairs work; identifiers of any
# bytes merge, as tab-separated rows and as JSON lines; mode=local gives the
# batch program's local table (and JSON lines) and never merges the global
# shards; the shards of an earlier batch program, without calibrated_bits,
# are refused; the README's command runs as written from the top of a source
# tree.
#   workflow_test.sh SOURCE_DIR BATCH_BINARY
set -euo pipefail
export LC_ALL=C  # tables are bytes
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
flow() {
  snakemake -s "$src/workflow/Snakefile" --cores 2 --quiet --config "$@" batch="$batch" data="$src/data" \
    >snakemake.log 2>&1 || { cat snakemake.log; exit 1; }
}
# The header and rows (by place: an identifier may begin with '#'), without the seconds.
cutTable() { sed -n '/^id_s\t/,$p' "$1" | cut -f1-11,13-; }
flow seqs=seqs.fa shards=3 out=merged.tsv work=shards
"$batch" seqs.fa --data "$src/data" --threads 2 -o one.tsv
[ "$(grep -vc '^#' one.tsv)" -eq 4951 ] || { echo "expected 4950 pairs"; exit 1; }
cmp <(cutTable one.tsv) <(cutTable merged.tsv)
cmp <(grep '^#' one.tsv) <(grep '^#' merged.tsv)
echo "workflow: merged table of $(grep -vc '^#' merged.tsv) lines equals one batch run"

# Another criterion into another table, then another shard count: never the
# earlier shards.
flow seqs=seqs.fa shards=3 out=marginal.tsv work=shards criterion=marginal
[ "$(grep -v '^#' marginal.tsv | tail -n +2 | cut -f5 | sort -u)" = marginal ] || { echo "stale shards merged"; exit 1; }
flow seqs=seqs.fa shards=2 out=two.tsv work=shards
cmp <(cutTable one.tsv) <(cutTable two.tsv)
# A changed input reruns the shards.
sed -i 's/^>seq099$/>seq099/; $ s/.$/W/' seqs.fa
flow seqs=seqs.fa shards=3 out=changed.tsv work=shards
[ "$(grep -c $'^seq098\tseq099\t' changed.tsv)" -eq 1 ]
if cmp -s <(cutTable merged.tsv) <(cutTable changed.tsv); then echo "a changed input kept the old shards"; exit 1; fi

# Blanks in every path, and a list of pairs.
mkdir "my dir"
head -n 20 seqs.fa > "my dir/ten seqs.fa"
flow seqs="my dir/ten seqs.fa" shards=2 out="my dir/my table.tsv" work="my dir/shards"
[ "$(grep -vc '^#' "my dir/my table.tsv")" -eq 46 ] || { echo "paths with blanks"; exit 1; }
printf '>a\nHEAGAWGHEEKLMNPQ\n' > "my dir/a.fa"
printf '>b\nHEAGAWGHEERLMNPQ\n' > "my dir/b.fa"
printf 'my dir/a.fa\tmy dir/b.fa\nmy dir/b.fa\tmy dir/a.fa\n' > "my dir/list.tsv"
flow pairs="my dir/list.tsv" shards=2 out="my dir/listed.tsv" work="my dir/shards"
[ "$(grep -vc '^#' "my dir/listed.tsv")" -eq 3 ] || { echo "pairs mode"; exit 1; }

# Identifiers a batch run takes: one that begins with '#', one with U+2028,
# a vertical tab, U+0085 or bytes that are not UTF-8; merged as one batch run
# writes them, as tab-separated rows and as JSON lines; a list of pairs
# naming a file whose name is not UTF-8.
printf '>#first\nHEAGAWGHEEKLMNPQ\n>line\xe2\x80\xa8sep\nHEAGAWGHEERLMNPQ\n>v\x0btab\nPAWHEAEKLMNPQ\n' > odd.fa
printf '>caf\xe9\nHEAGAWGHEEKLMNAQ\n>nel\xc2\x85x\nHEAGAWGHEEKLMNPW\n>#\nMVHLTPEEKSAVTALW\n>plain\nMVLSPADKTNVKAAWG\n' >> odd.fa
flow seqs=odd.fa shards=3 out=odd.tsv work=shards
"$batch" odd.fa --data "$src/data" -o odd-one.tsv
cmp <(cutTable odd-one.tsv) <(cutTable odd.tsv)
[ "$(sed -n '/^id_s\t/,$p' odd.tsv | wc -l)" -eq 22 ] || { echo "odd identifiers: rows lost"; exit 1; }
flow seqs=odd.fa shards=2 out=odd.jsonl work=shards
"$batch" odd.fa --data "$src/data" -o odd-one.jsonl
noSeconds() { sed 's/"seconds": [0-9.]*, //' "$1"; }
cmp <(noSeconds odd-one.jsonl) <(noSeconds odd.jsonl)
/usr/bin/python3 - odd.jsonl <<'PY'
import json, sys
rows = [json.loads(line) for line in open(sys.argv[1], "rb")]
assert len(rows) == 21 and rows[0]["id_s"] == "#first" and rows[0]["id_t"] == "line\u2028sep", rows[0]
assert {r["id_s"] for r in rows} >= {"caf\ufffd", "nel\x85x", "v\x0btab", "#"}, rows
assert all(isinstance(r["K"], int) and isinstance(r["null_bits"], float) for r in rows)
PY
cp "my dir/a.fa" $'caf\xe9.fa'
printf 'caf\xe9.fa\tmy dir/b.fa\n# a comment\nmy dir/b.fa\tcaf\xe9.fa\r\n' > latin.tsv
flow pairs=latin.tsv shards=2 out=latin.tsv.out work=shards
[ "$(grep -vc '^#' latin.tsv.out)" -eq 3 ] || { echo "a list naming a file that is not UTF-8"; exit 1; }
echo "workflow: identifiers of any bytes merge as one batch run writes them, as TSV and JSON lines"

# The local hypothesis, with a pair that fails: the merged table (all
# columns but the seconds, the hypothesis and regions too) and its JSON lines
# are those of one batch run --mode local, after a global run of the same
# settings into the same work directory; a mode it does not take is refused.
{ cat "my dir/ten seqs.fa"; printf '>none\nacgt\n'; } > local.fa
flow seqs=local.fa shards=3 out=global.tsv work=shards
flow seqs=local.fa shards=3 out=local.tsv work=shards mode=local
"$batch" local.fa --data "$src/data" --mode local -o local-one.tsv 2>/dev/null || [ $? -eq 3 ]
allButSeconds() { sed -n '/^id_s\t/,$p' "$1" | cut -f1-11,13-; }
cmp <(allButSeconds local-one.tsv) <(allButSeconds local.tsv)
cmp <(grep '^#' local-one.tsv) <(grep '^#' local.tsv)
grep -q '^# mode: local$' local.tsv && ! grep -q '^# mode:' global.tsv || { echo "mode lines"; exit 1; }
sent=$(allButSeconds local.tsv | tail -n +2 | cut -f15 | sort | uniq -c | tr -s ' \n' ' ')
[ "$sent" = " 10 NA 45 local " ] || { echo "the hypotheses sent: $sent"; exit 1; }
flow seqs=local.fa shards=2 out=local.jsonl work=shards mode=local
"$batch" local.fa --data "$src/data" --mode local -o local-one.jsonl 2>/dev/null || [ $? -eq 3 ]
cmp <(noSeconds local-one.jsonl) <(noSeconds local.jsonl)
grep -q '"hypothesis": "local", "region_s": \[[0-9]*, [0-9]*\], "region_t": \[' local.jsonl
grep -q '"hypothesis": null, "region_s": null, "region_t": null}$' local.jsonl
if snakemake -s "$src/workflow/Snakefile" --cores 1 --dry-run --config seqs=local.fa mode=glocal >bad.log 2>&1; then
  echo "mode=glocal accepted"; exit 1
fi
grep -q "config: mode is global, local or auto, not glocal" bad.log || { cat bad.log; exit 1; }
echo "workflow: mode=local merges as one batch run --mode local writes, as TSV and JSON lines"

# A batch program of an earlier version, whose tables lack calibrated_bits:
# the merge refuses its shards with one line and writes no table.
cat > old-batch <<EOF
#!/usr/bin/env bash
"$batch" "\$@"; status=\$?
for ((k = 1; k < \$#; k++)); do
  [ "\${!k}" = -o ] && { j=\$((k + 1)); cut -f1-14 "\${!j}" > "\${!j}.old" && mv "\${!j}.old" "\${!j}"; }
done
exit \$status
EOF
chmod +x old-batch
if snakemake -s "$src/workflow/Snakefile" --cores 2 --config seqs="my dir/ten seqs.fa" shards=2 out=old.tsv \
  work=old-shards batch="$PWD/old-batch" data="$src/data" >old.log 2>&1; then
  echo "shards without calibrated_bits merged"; exit 1
fi
grep -q "has no column calibrated_bits: it was written by an earlier seqcorvane-batch" old.log || { cat old.log; exit 1; }
[ ! -e old.tsv ] && [ "$(sed -n '/^id_s\t/p' old-shards/*/shard1.tsv)" = "$(printf '%s\t' id_s id_t length_s \
  length_t criterion K null_bits alignment_bits compression_bits identity gap_openings seconds status)pair_digest" ] ||
  { echo "the earlier version's shards"; exit 1; }
echo "workflow: shards of an earlier batch program, without calibrated_bits, are refused"

# The README's command, as written, from the top of a source tree.
tree="$work/tree"
mkdir -p "$tree/workflow" "$tree/bench/pairs" "$tree/build/batch"
cp "$src/workflow/Snakefile" "$tree/workflow/"
cp "$src/bench/pairs/globins100.fa" "$tree/bench/pairs/"
ln -s "$batch" "$tree/build/batch/seqcorvane-batch"
command=$(grep -m1 '^snakemake -s workflow/Snakefile --cores 2 --config seqs=' "$src/README.md")
(cd "$tree" && eval "$command --quiet" >"$work/readme.log" 2>&1) || { cat "$work/readme.log"; exit 1; }
[ "$(grep -vc '^#' "$tree/table.tsv")" -eq 4951 ] || { echo "the README's command"; exit 1; }
echo "workflow: stale shards never merged; blanks, pairs and the README's command work"
