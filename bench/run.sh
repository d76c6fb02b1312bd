#!/usr/bin/env bash
# The benchmark against the peers, in one command:
#
#   bench/run.sh [--pair N]... [--runs R] [--no-profile] [--out FILE]
#
# Installs what it needs that is missing (the build tools; needle from emboss,
# probcons, parasail, perf), builds seqcorvane in Release mode in
# build-bench/, makes the pairs of bench/pairs/ if they are missing
# (bench/make_pairs.py) and runs bench/bench.py, which measures and writes the
# report to bench/RESULTS.md (or FILE).
#
#   --pair N      only the pair of N residues (1100, 3000, 10000 or 30000); repeatable
#   --runs R      rounds of the alternated commands (default 5 at 1,100, 3 at 3,000, 1 above)
#   --no-profile  no perf profile of the 3,000 pair
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(cd "$here/.." && pwd)"
build="$root/build-bench"
for a in "$@"; do
  case "$a" in
    -h|--help) sed -n '2,15p' "${BASH_SOURCE[0]}" | sed 's/^# \{0,1\}//'; exit 0 ;;
  esac
done

"$root/tools/setup-deps.sh"
need=()
command -v needle >/dev/null 2>&1 || need+=(emboss)
command -v probcons >/dev/null 2>&1 || need+=(probcons)
command -v parasail_aligner >/dev/null 2>&1 || need+=(parasail)
command -v perf >/dev/null 2>&1 || need+=(linux-perf)
[ -x /usr/bin/python3 ] || need+=(python3)
if [ ${#need[@]} -gt 0 ]; then
  if [ "$(id -u)" -eq 0 ]; then as_root=(); else as_root=(sudo); fi
  echo "bench: installing ${need[*]}" >&2
  "${as_root[@]}" apt-get update
  "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${need[@]}"
fi

echo "== build (Release) in $build" >&2
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DSEQCORVANE_TESTS=OFF >/dev/null
cmake --build "$build" -j2 --target seqcorvane-bin seqcorvane-batch seqcorvane-dpcells >/dev/null

for f in s30000.fa globins100.fa; do
  [ -s "$here/pairs/$f" ] || { /usr/bin/python3 "$here/make_pairs.py" >&2; break; }
done
exec /usr/bin/python3 "$here/bench.py" --build "$build" "$@"
