#!/usr/bin/env bash
# pip install . as a user runs it: a fresh virtualenv of the python3 on PATH
# (whichever it is), offline (no package index), the module built through
# the project's CMake for that interpreter; then, from another directory and
# with no environment variable, the package imports, states the project's
# version, finds the model data installed inside it and aligns the example
# pair. Then once more without build isolation. The CMake build is kept in
# WORK_DIR/cache between runs, so that only the first run compiles.
# Exits 77 when the python3 on PATH cannot make a virtualenv with pip.
#   pip_install_test.sh SOURCE_DIR WORK_DIR
set -euo pipefail
src=$(cd "$1" && pwd)
work=$2
py=$(command -v python3) || { echo "no python3 on PATH"; exit 77; }
"$py" -c 'import sys; sys.exit(sys.version_info < (3, 9))' || { echo "$py is older than Python 3.9"; exit 77; }
"$py" -c 'import venv, ensurepip' 2>/dev/null || { echo "$py has no venv or ensurepip"; exit 77; }
mkdir -p "$work"
rm -rf "$work/venv" "$work/elsewhere"
"$py" -m venv "$work/venv" || { echo "$py cannot make a virtualenv"; exit 77; }
bin="$work/venv/bin"
[ -x "$bin/pip" ] || { echo "the virtualenv of $py has no pip"; exit 77; }

unset PYTHONPATH PYTHONHOME
export PIP_NO_INDEX=1 PIP_DISABLE_PIP_VERSION_CHECK=1 SEQCORVANE_BUILD_DIR="$work/cache"
start=$(date +%s)
(cd "$src" && "$bin/pip" install -q .)
took=$(($(date +%s) - start))

mkdir "$work/elsewhere"
cd "$work/elsewhere"
check() {
  "$bin/python" - "$src" <<'PY'
import filecmp, importlib.metadata, os, re, sys, sysconfig
import seqcorvane
src = sys.argv[1]
here = os.path.dirname(os.path.realpath(seqcorvane.__file__))
# The virtualenv's own copy, not the source or build tree's.
assert here.startswith(os.path.realpath(sys.prefix)), here
with open(os.path.join(src, "CMakeLists.txt")) as f:
    version = re.search(r"project\(seqcorvane VERSION ([0-9.]+)", f.read()).group(1)
assert seqcorvane.__version__ == version == importlib.metadata.version("seqcorvane"), seqcorvane.__version__
# Built for this interpreter, with its type hints.
module = seqcorvane._seqcorvane.__file__
assert module.endswith(sysconfig.get_config_var("EXT_SUFFIX")), module
assert os.path.isfile(os.path.join(here, "py.typed")) and os.path.isfile(os.path.join(here, "_seqcorvane.pyi"))
# The explorer with its page.
assert os.path.isfile(os.path.join(here, "explore", "page", "index.html"))
# The model data installed inside the package, as in the source tree.
data = os.path.realpath(seqcorvane.default_models().directory)
assert data == os.path.join(here, "data"), data
for name in os.listdir(os.path.join(src, "data")):
    if name.endswith(".txt"):
        assert filecmp.cmp(os.path.join(src, "data", name), os.path.join(data, name), shallow=False), name
def residues(name):
    with open(os.path.join(src, "examples", name)) as f:
        return "".join(f.read().splitlines()[1:])
r = seqcorvane.align(residues("hbb_human.fa"), residues("hba_macfa.fa"))
assert r.verdict == "related" and r.row_s.replace("-", "") == residues("hbb_human.fa")
print(f"Python {sys.version.split()[0]}: {r!r}")
PY
}
check
"$bin/seqcorvane-explore" --version | grep -qx "seqcorvane-explore [0-9.]*"

# Offline with the build tools at hand (Debian's), as --no-build-isolation runs it.
(cd "$src" && "$bin/pip" install -q --no-build-isolation --force-reinstall .)
check
echo "pip install . took ${took} s (build kept in $work/cache)"
