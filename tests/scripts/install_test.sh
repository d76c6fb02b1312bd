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
fi
# The installed data, not the source tree's: spoil it, and the run names it.
echo "not a matrix" > "$work/moved/share/seqcorvane/data/D_double_precision.txt"
if "$work/moved/bin/seqcorvane" "$src/examples/hbb_human.fa" "$src/examples/hba_macfa.fa" >/dev/null 2>err.txt; then
  echo "the spoiled installed data was not used"; exit 1
fi
grep -q "moved/bin/../share/seqcorvane/data/D_double_precision.txt" err.txt || { cat err.txt; exit 1; }
"$work/moved/bin/seqcorvane" --version
