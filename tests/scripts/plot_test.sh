#!/usr/bin/env bash
# seqcorvane-plot on small files: a landscape with an alignment's path, and a
# batch table. Each PNG exists, has the size asked for and is not blank; a
# missing input is one line and status 1; PNG, PDF and SVG by the output's
# extension; titles and legends that name the set and the criteria (and the
# hypotheses of a local or automatic table); tables with odd identifiers, as
# TSV and JSON lines; many pairs as a density; the verdict calibrated for
# composition where the table has calibrated_bits, else the criterion's own.
#   plot_test.sh SOURCE_DIR PLOT_SCRIPT SEQCORVANE BATCH
set -euo pipefail
src=$1
plot=$2
seqcorvane=$3
batch=$4
/usr/bin/python3 -c "import matplotlib" 2>/dev/null || { echo "matplotlib is not installed"; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
g=$src/tests/golden
"$seqcorvane" "$g/hbb_human_1-70.fa" "$g/hba_macfa_1-70.fa" --criterion marginal -o pair --data "$src/data" >/dev/null
"$seqcorvane" "$g/hbb_human_1-70.fa" "$g/hba_macfa_1-70.fa" -o pair --data "$src/data" >/dev/null
cat "$src"/examples/h*.fa > globins.fa
"$batch" globins.fa --data "$src/data" -o table.tsv
"$plot" landscape pair_MarginalProbabilityLandscape.csv --afasta pair.afasta -o landscape.png
"$plot" table table.tsv -o table.png
/usr/bin/python3 - <<'PY'
import struct
import matplotlib.image as mpimg
for name, size in (("landscape.png", (1050, 900)), ("table.png", (1050, 750))):
    with open(name, "rb") as f:
        head = f.read(24)
    assert head[:8] == b"\x89PNG\r\n\x1a\n", name + ": not a PNG"
    w, h = struct.unpack(">II", head[16:24])
    assert (w, h) == size, f"{name}: {w}x{h}, expected {size}"
    pixels = mpimg.imread(name)
    assert pixels.std() > 0.05, name + ": blank"
print("plot: both pictures drawn")
PY
if "$plot" landscape missing.csv -o x.png 2>err.txt; then echo "a missing input was accepted"; exit 1; fi
[ "$(cat err.txt)" = "seqcorvane-plot: error: cannot read 'missing.csv': No such file or directory" ] || { cat err.txt; exit 1; }
[ ! -e x.png ]

# Outputs: a device is written into (and its failure reported), never
# replaced; a symbolic link is written through.
if "$plot" table table.tsv -o /dev/full 2>err.txt; then echo "a full device was accepted"; exit 1; fi
[ "$(cat err.txt)" = "seqcorvane-plot: error: cannot write '/dev/full': No space left on device" ] || { cat err.txt; exit 1; }
[ -c /dev/full ] || { echo "/dev/full was replaced"; exit 1; }
ln -s real.png link.png
"$plot" table table.tsv -o link.png
[ -L link.png ] && [ -s real.png ] || { echo "the link was replaced"; exit 1; }
# Inputs: one clear line and status 1 for text that is not UTF-8, not a
# number, not finite, or cut short.
bad() {
  local expected=$1
  shift
  if "$plot" "$@" -o bad.png 2>err.txt; then echo "accepted: $*"; exit 1; fi
  [ "$(wc -l < err.txt)" -eq 1 ] && grep -q "$expected" err.txt || { cat err.txt; exit 1; }
  [ ! -e bad.png ] || { echo "a picture of bad input: $*"; exit 1; }
}
printf '\xff\xfe1,2\n' > latin.csv
bad "latin.csv:1: not UTF-8 text" landscape latin.csv
printf '1,2\n1,nan\n' > nan.csv
bad "nan.csv:2: 'nan' is not a finite number" landscape nan.csv
printf '1,2\n1,x\n' > word.csv
bad "word.csv:2: 'x' is not a number" landscape word.csv
head -c -5 table.tsv > cut.tsv
bad "cut.tsv: the last line is cut short" table cut.tsv
"$plot" --version | grep -q '^seqcorvane-plot [0-9]' || { echo "no version number"; exit 1; }
echo "plot: devices, links and bad inputs handled"

# The format follows the extension (or --format): each file's magic bytes;
# any other extension is one line and nothing written.
for f in png pdf svg PDF; do
  "$plot" table table.tsv -o "t.$f"
  "$plot" landscape pair_MarginalProbabilityLandscape.csv --afasta pair.afasta -o "l.$f"
done
"$plot" table table.tsv --format svg -o figure
/usr/bin/python3 - <<'PY'
magic = {"png": lambda b: b.startswith(b"\x89PNG\r\n\x1a\n"), "pdf": lambda b: b.startswith(b"%PDF-"),
         "PDF": lambda b: b.startswith(b"%PDF-"), "svg": lambda b: b.startswith(b"<?xml") and b"<svg" in b[:2000]}
for stem in ("t", "l"):
    for ext, test in magic.items():
        with open(f"{stem}.{ext}", "rb") as f:
            assert test(f.read()), f"{stem}.{ext} is not what its name says"
assert magic["svg"](open("figure", "rb").read()), "--format svg"
print("plot: PNG, PDF and SVG as their names say")
PY
refused() {
  local out=$1 expected=$2
  if "$plot" table table.tsv -o "$out" 2>err.txt; then echo "accepted: $out"; exit 1; fi
  [ "$(cat err.txt)" = "seqcorvane-plot: error: $expected" ] || { cat err.txt; exit 1; }
  [ ! -e "$out" ] || { echo "written: $out"; exit 1; }
}
refused t.jpg "cannot write 't.jpg': '.jpg' is not a picture format of seqcorvane-plot (.png, .pdf or .svg; or --format)"
refused fig "cannot tell the picture's format of 'fig': its name has no extension (.png, .pdf or .svg; or --format)"
if "$plot" landscape pair_MarginalProbabilityLandscape.csv -o l.eps 2>err.txt; then echo "accepted: l.eps"; exit 1; fi
[ ! -e l.eps ] && grep -q "'.eps' is not a picture format" err.txt

# Titles name the set and the criterion, legends the pairs of each kind and
# the alignment's criterion (read back from the pictures' metadata).
has() { grep -aqF -- "$2" "$1" || { echo "$1 does not say: $2"; exit 1; }; }
has t.png "table: 3 pairs, optimal criterion"
has t.pdf "verdict threshold: 0 bits"
has t.svg "jittered by up to 0.35"
"$batch" globins.fa --data "$src/data" --criterion posterior -o post.tsv
"$plot" table post.tsv --set "three globins" -o post.png
has post.png "three globins: 3 pairs, posterior criterion (end gaps alike)"
has l.png "alignment (criterion not stated: see --criterion)"
"$batch" globins.fa --data "$src/data" --mode local -o local.tsv
"$batch" globins.fa --data "$src/data" --mode auto --criterion marginal -o auto.jsonl
"$plot" table local.tsv -o local.png
has local.png "local: 3 pairs, optimal criterion, local hypothesis"
"$plot" table auto.jsonl -o auto.svg
grep -aqE "auto: 3 pairs, marginal criterion, (global|local|global and local) hypothes" auto.svg ||
  { echo "auto.svg does not name the hypotheses"; exit 1; }
"$seqcorvane" "$g/hbb_human_1-70.fa" "$g/hba_macfa_1-70.fa" -o sto --format stockholm --data "$src/data" >/dev/null
"$seqcorvane" "$g/hbb_human_1-70.fa" "$g/hba_macfa_1-70.fa" -o js --criterion posterior --format json \
  --data "$src/data" >/dev/null
"$plot" landscape pair_MarginalProbabilityLandscape.csv --alignment sto.sto -o l-sto.png
has l-sto.png "alignment of the optimal criterion"
"$plot" landscape pair_MarginalProbabilityLandscape.csv --alignment js.json -o l-js.svg
has l-js.svg "alignment of the posterior criterion"
"$plot" landscape pair_MarginalProbabilityLandscape.csv --alignment pair.afasta --criterion optimal -o l-af.pdf
has l-af.pdf "alignment of the optimal criterion"

# Identifiers a batch run takes (beginning with '#', holding a vertical tab,
# U+2028 or bytes that are not UTF-8): every pair drawn, from the
# tab-separated table and from JSON lines alike.
printf '>#first\nHEAGAWGHEEKLMNPQ\n>v\x0btab\nHEAGAWGHEERLMNPQ\n>line\xe2\x80\xa8sep\nPAWHEAEKLMNPQ\n' > odd.fa
printf '>caf\xe9\nHEAGAWGHEEKLMNAQ\n>#\nMVHLTPEEKSAVTALW\n>nel\xc2\x85x\nMVLSPADKTNVKAAWG\n' >> odd.fa
"$batch" odd.fa --data "$src/data" -o odd.tsv
"$batch" odd.fa --data "$src/data" -o odd.jsonl
"$plot" table odd.tsv -o odd.png
has odd.png "odd: 15 pairs, optimal criterion"
"$plot" table odd.jsonl -o odd-json.png
has odd-json.png "odd: 15 pairs, optimal criterion"

# An alignment whose names hold a vertical tab, U+2028 or bytes that are not
# UTF-8: the names are one word each, the rows read whole.
/usr/bin/python3 - <<'PY'
text = open("pair.afasta", "rb").read()
text = text.replace(b">aligned seq 1", b">a\x0bb\xe2\x80\xa8c rest", 1).replace(b">aligned seq 2", b">caf\xe9", 1)
open("odd.fasta", "wb").write(text)
PY
"$plot" landscape pair_MarginalProbabilityLandscape.csv --alignment odd.fasta -o odd-names.svg
has odd-names.svg "a?b?c (70 residues) vs caf"

# Many pairs: counted in bins of whole lengths, a density instead of points.
/usr/bin/python3 - "$(grep '^#' table.tsv)" > many.tsv <<'PY'
import random, sys
rng = random.Random(2)
print(sys.argv[1])
print("id_s\tid_t\tlength_s\tlength_t\tcriterion\tK\tnull_bits\talignment_bits\tcompression_bits\tidentity\t"
      "gap_openings\tseconds\tstatus\tpair_digest")
for n in range(4950):
    length = rng.randrange(120, 160)
    bits = rng.gauss(40, 30) if n % 3 else rng.gauss(-20, 8)
    print(f"#{n}\tt{n}\t{length}\t{length + 3}\toptimal\t100\t600.000\t{600 - bits:.3f}\t{bits:.3f}\t"
          f"50.000\t2\t0.010\tok\t0123456789abcdef")
PY
"$plot" table many.tsv -o many.png
has many.png "many: 4,950 pairs, optimal criterion"
has many.png "bins of 1)"
has many.png "related (compression above 0 bits): "

# The verdict calibrated for composition where the table has calibrated_bits
# (a pair compressed by the criterion's own verdict but not by the calibrated
# one is not related), as TSV and JSON lines; without the column, the
# criterion's own.
has t.png "related (calibrated compression above 0 bits): 3 pairs"
/usr/bin/python3 - table.tsv > composed.tsv <<'PY'
import sys
lines = open(sys.argv[1], "rb").read().split(b"\n")[:-1]
k = next(i for i, l in enumerate(lines) if l.startswith(b"id_s\t"))
assert lines[k].split(b"\t")[14] == b"calibrated_bits", lines[k]
f = lines[k + 1].split(b"\t")
assert float(f[8]) > 0, f
f[14] = b"-5.000"
lines[k + 1] = b"\t".join(f)
sys.stdout.buffer.write(b"\n".join(lines) + b"\n")
PY
"$plot" table composed.tsv -o composed.png
has composed.png "related (calibrated compression above 0 bits): 2 pairs"
has composed.png "not related (0 bits or less): 1 pairs"
"$batch" globins.fa --data "$src/data" -o composed.jsonl
sed -i '1s/"calibrated_bits": [-0-9.]*/"calibrated_bits": -5.000/' composed.jsonl
"$plot" table composed.jsonl -o composed-json.png
has composed-json.png "not related (0 bits or less): 1 pairs"
cut -f1-14 table.tsv > earlier.tsv
"$plot" table earlier.tsv -o earlier.png
has earlier.png "related (compression above 0 bits): 3 pairs"
echo "plot: formats, titles, legends, odd identifiers, many pairs, the calibrated verdict"
