#!/usr/bin/env bash
# A relocatable install: installed into a temporary prefix and then moved,
# the programs run from another directory and find the data installed with
# them (<bin>/../share/seqcorvane/data), not the source tree's.
#   install_test.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
src=$1
build=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cmake --install "$build" --prefix "$work/prefix" >/dev/null
mv "$work/prefix" "$work/moved"
mkdir "$work/elsewhere"
cd "$work/elsewhere"
for p in seqcorvane seqcorvane-batch seqcorvane-plot; do [ -x "$work/moved/bin/$p" ] || { echo "$p not installed"; exit 1; }; done
"$work/moved/bin/seqcorvane" "$src/examples/hbb_human.fa" "$src/examples/hba_macfa.fa" -o installed > installed.out
(cd "$work" && "$build/seqcorvane" "$src/examples/hbb_human.fa" "$src/examples/hba_macfa.fa" -o built > "$work/elsewhere/built.out")
diff <(sed 's/installed\.afasta/X/' installed.out) <(sed 's/built\.afasta/X/' built.out)
for page in seqcorvane seqcorvane-batch seqcorvane-plot; do
  [ -f "$work/moved/share/man/man1/$page.1" ] || { echo "the manual page $page.1 is not installed"; exit 1; }
done
# The Python module, where built, imports from the moved install and finds
# the data installed with it.
python=$(ls -d "$work"/moved/lib*/python3*/dist-packages 2>/dev/null | head -1 || true)
if [ -n "$python" ]; then
  found=$(PYTHONPATH="$python" /usr/bin/python3 -c "import seqcorvane; print(seqcorvane.default_models().directory)")
  [ "$(realpath "$found")" = "$(realpath "$work/moved/share/seqcorvane/data")" ] || { echo "python found $found"; exit 1; }
  PYTHONPATH="$python" /usr/bin/python3 -c "import seqcorvane; r = seqcorvane.align('HEAGAWGHEE', 'PAWHEAE'); assert r.rows"
  # The explorer finds its package, its page and the data of the moved
  # install: it serves a pair, and stops on SIGTERM.
  [ -f "$work/moved/share/man/man1/seqcorvane-explore.1" ] || { echo "seqcorvane-explore.1 is not installed"; exit 1; }
  /usr/bin/python3 - "$work/moved/bin/seqcorvane-explore" "$src/examples" <<'PY'
import json, signal, subprocess, sys, urllib.request
p = subprocess.Popen([sys.argv[1], sys.argv[2] + "/hbb_human.fa", sys.argv[2] + "/hba_macfa.fa"],
                     stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
url = p.stdout.readline().strip()
try:
    assert url.startswith("http://127.0.0.1:"), (url, p.stderr.read() if p.poll() is not None else "")
    assert b"landscape.js" in urllib.request.urlopen(url, timeout=30).read()
    assert json.load(urllib.request.urlopen(url + "api/pair", timeout=30))["s"]["name"] == "HBB_HUMAN"
finally:
    p.send_signal(signal.SIGTERM)
assert p.wait(timeout=30) == 0
PY
fi
# The installed data, not the source tree's: spoil it, and the run names it.
echo "not a matrix" > "$work/moved/share/seqcorvane/data/D_double_precision.txt"
if "$work/moved/bin/seqcorvane" "$src/examples/hbb_human.fa" "$src/examples/hba_macfa.fa" >/dev/null 2>err.txt; then
  echo "the spoiled installed data was not used"; exit 1
fi
grep -q "moved/bin/../share/seqcorvane/data/D_double_precision.txt" err.txt || { cat err.txt; exit 1; }
"$work/moved/bin/seqcorvane" --version
