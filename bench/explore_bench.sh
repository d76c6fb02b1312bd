#!/usr/bin/env bash
# The explorer's speed in a real browser (Debian's chromium driven by
# playwright-core, as its test drives it), for the 1,100- and the
# 3,000-residue pair of bench/pairs/: the time from the start to the address,
# from the address to the page's first picture, from a click on a cell to
# the alignment through it shown below the landscape, and the server's peak
# memory. Prints a table of medians over the runs beside the targets (first
# picture within 2 s at 1,100 residues; an alignment through a cell within
# 200 ms).
#
#   bench/explore_bench.sh [--build DIR] [--runs R] [--clicks C]
#
# Uses a build made as README.md says (default build/); installs chromium,
# node and npm with tools/setup-deps.sh --tests when they are missing.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$root/build"
runs=3
clicks=5
while [ $# -gt 0 ]; do
  case "$1" in
    --build) build=$(cd "$2" && pwd); shift 2 ;;
    --runs) runs=$2; shift 2 ;;
    --clicks) clicks=$2; shift 2 ;;
    -h|--help) sed -n '2,15p' "${BASH_SOURCE[0]}" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "explore_bench.sh: unknown argument '$1'" >&2; exit 1 ;;
  esac
done
[ -x "$build/seqcorvane-explore" ] || { echo "explore_bench.sh: no $build/seqcorvane-explore: build first" >&2; exit 1; }
"$root/tools/setup-deps.sh" --tests
out=$(mktemp)
trap 'rm -f "$out"' EXIT
for n in 1100 3000; do
  for r in $(seq "$runs"); do
    bash "$root/tests/browser/run.sh" "$root" "$build" "$root/bench/pairs/s$n.fa" "$root/bench/pairs/t$n.fa" \
      --json 1 --clicks "$clicks" | tail -1 | sed "s/^/$n /" >> "$out"
  done
done
/usr/bin/python3 - "$out" "$runs" "$clicks" <<'PY'
import json, statistics, sys
rows = {}
for line in open(sys.argv[1]):
    n, text = line.split(" ", 1)
    rows.setdefault(n, []).append(json.loads(text))
print(f"seqcorvane-explore in chromium: medians of {sys.argv[2]} runs, {sys.argv[3]} clicks each")
print()
print("| pair | address after start (ms) | first picture after the address (ms) | through a cell, median / worst (ms) | server peak memory (MiB) |")
print("|---|---|---|---|---|")
for n, runs in rows.items():
    med = lambda key: statistics.median(r[key] for r in runs)
    each = [x for r in runs for x in r["through_cell_ms_each"]]
    print(f"| {runs[0]['pair']} | {med('startup_ms'):.0f} | {med('first_picture_ms'):.0f} | "
          f"{statistics.median(each):.0f} / {max(each):.0f} | {med('server_peak_mib'):.0f} |")
print()
first = statistics.median(r["first_picture_ms"] for r in rows["1100"])
worst = max(x for runs in rows.values() for r in runs for x in r["through_cell_ms_each"])
print(f"targets: first picture <= 2000 ms at 1,100 residues: {first:.0f} ms, "
      f"{'met' if first <= 2000 else 'MISSED'}; through a cell <= 200 ms: worst {worst:.0f} ms, "
      f"{'met' if worst <= 200 else 'MISSED'}")
PY
