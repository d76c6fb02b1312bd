#!/usr/bin/env bash
# seqcorvane-plot on small files: a landscape with an alignment's path, and a
# batch table. Each PNG exists, has the size asked for and is not blank; a
# missing input is one line and status 1.
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
