#!/usr/bin/env bash
# The benchmark against the peers, in one command:
#
#   bench/run.sh [--quick] [--no-3000-marginal] [--no-profile] [--runs N] [--out FILE]
#
# Builds seqcorvane in Release mode in build-bench/, and for each sequence pair
# of bench/pairs/ (about 150, 500, 1,100 and 3,000 residues per sequence; made
# by bench/make_pairs.py if missing) measures the optimal and the marginal
# criterion side by side with EMBOSS needle and probcons on the same pair:
# wall time (hyperfine), CPU time and peak resident memory (GNU time). Then the
# nanoseconds per DP cell of one optimal fill and one forward pass, the number
# of substitution models built and data files read in full runs
# (seqcorvane-dpcells), and a callgrind profile of the 500-residue pair. The
# table goes to standard output and to bench/RESULTS.md.
#
#   --quick             the 150 and 500 pairs only, 2 runs each, no profile;
#                       writes build-bench/RESULTS-quick.md unless --out is given
#   --no-3000-marginal  skip the marginal criterion (and probcons) on the 3,000 pair
#   --no-profile        skip the callgrind profile
#   --runs N            timed runs per command (default: 5, and 3 on the 3,000 pair)
#   --out FILE          where to write the results (default bench/RESULTS.md)
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(cd "$here/.." && pwd)"
build="$root/build-bench"

quick=0
marg3000=1
profile=1
runs=""
out=""
while [ $# -gt 0 ]; do
  case "$1" in
    --quick) quick=1; profile=0 ;;
    --no-3000-marginal) marg3000=0 ;;
    --no-profile) profile=0 ;;
    --runs) runs="$2"; shift ;;
    --out) out="$2"; shift ;;
    -h|--help) sed -n '2,22p' "${BASH_SOURCE[0]}" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "run.sh: unknown argument '$1' (see --help)" >&2; exit 1 ;;
  esac
  shift
done
if [ -z "$out" ]; then
  if [ "$quick" = 1 ]; then out="$build/RESULTS-quick.md"; else out="$here/RESULTS.md"; fi
fi
case "$out" in /*) ;; *) out="$PWD/$out" ;; esac

# ---- setup: the toolchain, the peers and the measuring tools (apt-get only for what is missing)
"$root/tools/setup-deps.sh"
need=()
command -v needle >/dev/null 2>&1 || need+=(emboss)
command -v probcons >/dev/null 2>&1 || need+=(probcons)
[ -x /usr/bin/time ] || need+=(time)
command -v hyperfine >/dev/null 2>&1 || need+=(hyperfine)
command -v python3 >/dev/null 2>&1 || need+=(python3)
if [ "$profile" = 1 ]; then
  command -v valgrind >/dev/null 2>&1 || need+=(valgrind)
fi
if [ ${#need[@]} -gt 0 ]; then
  if [ "$(id -u)" -eq 0 ]; then as_root=(); else as_root=(sudo); fi
  echo "bench: installing ${need[*]}" >&2
  "${as_root[@]}" apt-get update
  "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${need[@]}"
fi

# ---- build (Release; -g only adds debug information, for the profile's names)
echo "== build (Release) in $build" >&2
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS=-g -DSEQCORVANE_TESTS=OFF >/dev/null
cmake --build "$build" -j2 --target seqcorvane seqcorvane-dpcells >/dev/null
bin="$build/seqcorvane"
dpcells="$build/bench/seqcorvane-dpcells"

# ---- pairs
pairs="$here/pairs"
if [ "$quick" = 1 ]; then sizes=(150 500); else sizes=(150 500 1100 3000); fi
for n in "${sizes[@]}"; do
  if [ ! -s "$pairs/s$n.fa" ] || [ ! -s "$pairs/t$n.fa" ] || [ ! -s "$pairs/st$n.fa" ]; then
    python3 "$here/make_pairs.py" "$pairs" >&2
    break
  fi
done

# ---- measurements: raw results go to $raw, one file per measurement
raw="$build/bench-raw"
rm -rf "$raw"
mkdir -p "$raw"
scratch="$(mktemp -d /tmp/seqcorvane_bench_XXXXXX)"
trap 'rm -rf "$scratch"' EXIT

# measure NAME RUNS WARMUP COMMAND...: hyperfine for the wall time, GNU time
# (around each run) for CPU time and peak resident memory.
measure() {
  local name="$1" nruns="$2" warm="$3"
  shift 3
  local cmd
  cmd="/usr/bin/time -a -o $raw/$name.time -f '%e %U %S %M' $(printf '%q ' "$@")"
  echo "   $name ($nruns runs)" >&2
  : >"$raw/$name.time"
  (cd "$scratch" && hyperfine -N --style none --runs "$nruns" --warmup "$warm" \
     --export-json "$raw/$name.json" "$cmd" >/dev/null)
  # drop the warm-up runs' lines
  if [ "$warm" -gt 0 ]; then tail -n "$nruns" "$raw/$name.time" >"$raw/$name.time.tmp"; mv "$raw/$name.time.tmp" "$raw/$name.time"; fi
  rm -f "$scratch"/*.afasta "$scratch"/*_MarginalProbabilityLandscape.*
}

start=$(date +%s)
load_start="$(cut -d' ' -f1-3 /proc/loadavg)"
for n in "${sizes[@]}"; do
  s="$pairs/s$n.fa"; t="$pairs/t$n.fa"; st="$pairs/st$n.fa"
  if [ -n "$runs" ]; then r="$runs"; elif [ "$quick" = 1 ]; then r=2; elif [ "$n" = 3000 ]; then r=3; else r=5; fi
  if [ "$n" -le 500 ]; then w=1; else w=0; fi
  echo "== pair $n" >&2
  measure "$n.needle" "$r" "$w" needle -auto -asequence "$s" -bsequence "$t" -gapopen 10 -gapextend 0.5 -outfile /dev/null
  measure "$n.optimal" "$r" "$w" "$bin" "$s" "$t" --criterion optimal -o bench
  counts="optimal,marginal"
  if [ "$n" != 3000 ] || [ "$marg3000" = 1 ]; then
    measure "$n.probcons" "$r" "$w" probcons "$st"
    measure "$n.marginal" "$r" "$w" "$bin" "$s" "$t" --criterion marginal -o bench
  else
    counts="optimal"
  fi
  echo "   $n.dpcells" >&2
  "$dpcells" --counts "$counts" "$s" "$t" >"$raw/$n.dpcells"
done
echo "   measurements took $(( $(date +%s) - start )) s" >&2

# ---- profile: callgrind on the 500-residue pair, one run per criterion
if [ "$profile" = 1 ]; then
  echo "== callgrind profile of the 500 pair" >&2
  for c in optimal marginal; do
    (cd "$scratch" && valgrind --tool=callgrind --callgrind-out-file="$raw/callgrind.$c.out" \
       "$bin" "$pairs/s500.fa" "$pairs/t500.fa" --criterion "$c" -o bench >/dev/null 2>"$raw/callgrind.$c.log")
    callgrind_annotate --threshold=99 "$raw/callgrind.$c.out" >"$raw/callgrind.$c.self" 2>/dev/null || true
    callgrind_annotate --inclusive=yes --threshold=99 "$raw/callgrind.$c.out" >"$raw/callgrind.$c.incl" 2>/dev/null || true
    rm -f "$scratch"/*.afasta "$scratch"/*_MarginalProbabilityLandscape.*
  done
fi

# ---- the machine
{
  echo "cpu $(grep -m1 '^model name' /proc/cpuinfo | sed 's/^model name[[:space:]]*:[[:space:]]*//')"
  echo "cores $(nproc)"
  echo "memory_kib $(awk '/^MemTotal:/ {print $2}' /proc/meminfo)"
  cxx="$(sed -n 's/^CMAKE_CXX_COMPILER:[A-Z]*=//p' "$build/CMakeCache.txt")"
  echo "compiler $("${cxx:-c++}" --version | head -n1)"
  echo "flags $(sed -n 's/^CMAKE_CXX_FLAGS_RELEASE:[A-Z]*=//p' "$build/CMakeCache.txt") $(sed -n 's/^CMAKE_CXX_FLAGS:[A-Z]*=//p' "$build/CMakeCache.txt")"
  echo "kernel $(uname -sr)"
  echo "date $(date -u '+%Y-%m-%d %H:%M UTC')"
  echo "needle $(needle -version 2>&1 | head -n1)"
  echo "probcons $(probcons 2>&1 | sed -n 's/^PROBCONS version \([^ ]*\).*/\1/p' | head -n1)"
  echo "hyperfine $(hyperfine --version)"
  echo "commit $(git -C "$root" rev-parse --short HEAD 2>/dev/null || echo unknown)$(git -C "$root" diff --quiet HEAD -- src data 2>/dev/null || echo ' (with uncommitted changes in src/ or data/)')"
  echo "load_start $load_start"
  echo "load_end $(cut -d' ' -f1-3 /proc/loadavg)"
  echo "marg3000 $marg3000"
  echo "quick $quick"
} >"$raw/machine"

python3 "$here/report.py" "$raw" "${sizes[@]}" >"$out"
cat "$out"
echo "bench: results written to $out" >&2
