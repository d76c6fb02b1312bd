#!/usr/bin/env bash
# The explorer in Debian's chromium, driven by playwright-core (pinned in
# package-lock.json, installed with npm ci into the build tree once): opens
# the page for a 1,100-residue pair, zooms, clicks cells and checks the
# alignments shown against the library's; prints the first picture's and the
# through-cell alignment's times and leaves screenshots in
# BUILD_DIR/browser-test: explore.png (the window) and explore-full.png (the
# whole page). Without a pair of its own, it then does the same under the
# local hypothesis (--mode local) for a real domain inside unrelated flanks
# (the alpha globin of examples/ inside stretches of the sevenless receptor,
# beside the beta globin), checking the region the page draws and states
# (screenshots explore-local.png, explore-local-full.png). 77: chromium, node
# or npm is missing.
#   run.sh SOURCE_DIR BUILD_DIR [S.fa T.fa [--json 1]]
set -euo pipefail
src=$1
build=$2
own_pair=$(( $# >= 4 ))
s=${3:-$src/bench/pairs/s1100.fa}
t=${4:-$src/bench/pairs/t1100.fa}
shift $(( $# < 4 ? $# : 4 ))
chromium=${CHROMIUM:-/usr/bin/chromium}
[ -x "$chromium" ] || { echo "chromium is not installed ($chromium): tools/setup-deps.sh --tests installs it"; exit 77; }
command -v node >/dev/null 2>&1 || { echo "node is not installed: tools/setup-deps.sh --tests installs it"; exit 77; }
command -v npm >/dev/null 2>&1 || { echo "npm is not installed: tools/setup-deps.sh --tests installs it"; exit 77; }
work=$build/browser-test
mkdir -p "$work"
if ! cmp -s "$src/tests/browser/package-lock.json" "$work/package-lock.json" ||
   [ ! -f "$work/node_modules/playwright-core/package.json" ]; then
  cp "$src/tests/browser/package.json" "$src/tests/browser/package-lock.json" "$work/"
  (cd "$work" && npm ci --ignore-scripts --no-audit --no-fund --loglevel=error)
fi
# Figures of one run: read from a fresh picture, never an old one.
rm -f "$work"/explore*.png
export CHROMIUM=$chromium
run() {
  node "$src/tests/browser/explore_test.mjs" --explore "$build/seqcorvane-explore" --python /usr/bin/python3 \
    --pythonpath "$build/python" --playwright "$work" --out "$work" "$@"
}
run --s "$s" --t "$t" "$@"
[ "$own_pair" = 1 ] && exit 0
/usr/bin/python3 - "$src/examples" "$work" <<'PY'
import os, sys
def residues(name):
    with open(os.path.join(sys.argv[1], name)) as f:
        return "".join(line.strip() for line in f.read().splitlines()[1:])
sevenless = residues("7less_drome.fa")
with open(os.path.join(sys.argv[2], "local-s.fa"), "w") as f:
    f.write(">HBB_HUMAN\n" + residues("hbb_human.fa") + "\n")
with open(os.path.join(sys.argv[2], "local-t.fa"), "w") as f:
    f.write(">EMBEDDED_HBA\n" + sevenless[200:350] + residues("hba_macfa.fa") + sevenless[1200:1320] + "\n")
PY
run --s "$work/local-s.fa" --t "$work/local-t.fa" --mode local
