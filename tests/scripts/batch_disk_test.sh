#!/usr/bin/env bash
# seqcorvane-batch on a small disk (a tmpfs of a given size): a table of
# 990 pairs is finished on a disk with room for it once but not twice
# (fresh, resumed from a partial file that holds every row, rerun over the
# finished table with some pairs changed, as JSON lines); on a disk too small
# the run stops at the first row that does not fit, having aligned no more
# pairs than it wrote. Needs a tmpfs: mounted as root, else in a user
# namespace (unshare), else skipped (77).
#   batch_disk_test.sh BATCH
set -euo pipefail
batch=$1
work=$(mktemp -d)
disk=$work/disk
mkdir "$disk"
cleanup() {
  cd /
  umount "$disk" 2>/dev/null || umount -l "$disk" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
mountDisk() {
  umount "$disk" 2>/dev/null || true
  mount -t tmpfs -o "size=$1" tmpfs "$disk"
}
if ! mountDisk 64k 2>/dev/null; then
  if [ -z "${BATCH_DISK_TEST_NAMESPACE:-}" ] && command -v unshare >/dev/null 2>&1 &&
    unshare -r -m true 2>/dev/null; then
    rm -rf "$work"
    trap - EXIT
    exec env BATCH_DISK_TEST_NAMESPACE=1 unshare -r -m bash "$0" "$@"
  fi
  echo "cannot mount a tmpfs here"
  exit 77
fi
cd "$work"
/usr/bin/python3 - > s.fa <<'PY'
import random
rng = random.Random(3)
for n in range(45):
    print(f">s{n:02d}\n" + "".join(rng.choice("ACDEFGHIKLMNPQRSTVWY") for _ in range(20)))
PY
cut13() { grep -v '^#' "$1" | cut -f1-11,13-; }
"$batch" s.fa -o clean.tsv
"$batch" s.fa -o clean.jsonl
size=$(stat -c %s clean.tsv)
[ "$(grep -vc '^#' clean.tsv)" -eq 991 ] || { echo "expected 990 pairs"; exit 1; }
# Room for the table once and a half: never twice.
once=$(((size * 3 / 2 + 4095) / 4096 * 4096))
mountDisk "$once"
"$batch" s.fa -o "$disk/t.tsv" 2>err.txt || { cat err.txt; exit 1; }
cmp <(cut13 clean.tsv) <(cut13 "$disk/t.tsv")
[ "$(ls -A "$disk")" = t.tsv ] || { ls -A "$disk"; exit 1; }
"$batch" s.fa -o "$disk/t.tsv" 2>err.txt
[ "$(cat err.txt)" = "seqcorvane-batch: resuming '$disk/t.tsv': 990 of 990 pairs done, 0 to align" ] ||
  { cat err.txt; exit 1; }
# Some sequences changed: the finished table becomes the partial file.
sed -e '2s/.*/WWWWWWWWWWWWWWWWWWWW/' -e '4s/.*/MMMMMMMMMMMMMMMMMMMM/' s.fa > changed.fa
"$batch" changed.fa -o "$disk/t.tsv" 2>err.txt || { cat err.txt; exit 1; }
grep -q "903 of 990 pairs done, 87 to align (87 whose sequences changed since)" err.txt || { cat err.txt; exit 1; }
"$batch" changed.fa -o changed.tsv
cmp <(cut13 changed.tsv) <(cut13 "$disk/t.tsv")
# What an earlier version left on such a disk: every row in the partial
# file (in the order the threads finished them) and no table.
rm "$disk/t.tsv"
/usr/bin/python3 - clean.tsv "$disk/t.tsv.partial" <<'PY'
import random, sys
lines = open(sys.argv[1], "rb").read().split(b"\n")[:-1]
head = next(k for k, l in enumerate(lines) if l.startswith(b"id_s\t")) + 1
rows = lines[head:]
random.Random(5).shuffle(rows)
open(sys.argv[2], "wb").write(b"\n".join(lines[:head] + rows) + b"\n")
PY
"$batch" s.fa -o "$disk/t.tsv" 2>err.txt
[ "$(cat err.txt)" = "seqcorvane-batch: resuming '$disk/t.tsv': 990 of 990 pairs done, 0 to align" ] ||
  { cat err.txt; exit 1; }
cmp clean.tsv "$disk/t.tsv"
echo "disk: a table finished, resumed and rerun with room for it once"

# JSON lines, with room for the JSON-lines table once.
jsize=$(stat -c %s clean.jsonl)
mountDisk $(((jsize * 23 / 20 + 4095) / 4096 * 4096))
"$batch" s.fa -o "$disk/t.jsonl" 2>err.txt || { cat err.txt; exit 1; }
cmp <(sed 's/"seconds": [0-9.]*//' clean.jsonl) <(sed 's/"seconds": [0-9.]*//' "$disk/t.jsonl")

# Too small a disk: one line, no table, no more pairs aligned than rows written.
mountDisk $((size / 3 / 4096 * 4096))
if "$batch" s.fa -o "$disk/t.tsv" --threads 2 --alignments aln 2>err.txt; then echo "a full disk was accepted"; exit 1; fi
[ "$(cat err.txt)" = "seqcorvane-batch: error: cannot write '$disk/t.tsv.partial': No space left on device; the rows written so far stay in it for a rerun" ] ||
  { cat err.txt; exit 1; }
[ ! -e "$disk/t.tsv" ]
rows=$(grep -vc '^#' "$disk/t.tsv.partial" || true)
aligned=$(ls aln | wc -l)
[ "$aligned" -le $((rows + 4)) ] || { echo "aligned $aligned pairs, wrote $rows rows"; exit 1; }
echo "disk: a full disk stops the run at its first failed write ($rows rows, $aligned pairs aligned)"
