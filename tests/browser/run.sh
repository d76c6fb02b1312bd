#!/usr/bin/env bash
# The explorer in Debian's chromium, driven by playwright-core (pinned in
# package-lock.json, installed with npm ci into the build tree once): opens
# the page for a 1,100-residue pair, zooms, clicks cells and checks the
# alignments shown against the library's; prints the first picture's and the
# through-cell alignment's times and leaves screenshots in
# BUILD_DIR/browser-test: explore.png (the window) and explore-full.png (the
# whole page). 77: chromium, node or npm is missing.
#   run.sh SOURCE_DIR BUILD_DIR [S.fa T.fa [--json 1]]
set -euo pipefail
src=$1
build=$2
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
rm -f "$work/explore.png" "$work/explore-full.png"
export CHROMIUM=$chromium
exec node "$src/tests/browser/explore_test.mjs" --explore "$build/seqcorvane-explore" --python /usr/bin/python3 \
  --pythonpath "$build/python" --playwright "$work" --s "$s" --t "$t" --out "$work" "$@"
