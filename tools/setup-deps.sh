#!/usr/bin/env bash
# Installs what building seqcorvane needs on Debian or Ubuntu: cmake, a C++
# compiler, zlib, and Python's headers with pybind11 (the Python module).
# With --tests, also what the tests need: GoogleTest, Snakemake and
# matplotlib (the workflow and picture tests), clang and its runtime
# libraries (the fuzz targets), clang-format and pkg-config (the source
# checks and the library's install test), man-db (the manual pages' test),
# pytest, Biopython and venv (the Python module's tests), chromium and Node.js with
# npm (the explorer's browser test, which installs its pinned playwright-core
# with npm ci). Does nothing when all are present; uses sudo only when not
# running as root.
#   tools/setup-deps.sh [--tests]
set -euo pipefail

tests=0
[ "${1:-}" = "--tests" ] && tests=1

missing=()
command -v cmake >/dev/null 2>&1 || missing+=(cmake)
command -v g++ >/dev/null 2>&1 || missing+=(g++)
[ -e /usr/include/zlib.h ] || missing+=(zlib1g-dev)
# The Python module: Debian's Python headers and pybind11.
[ -e /usr/include/pybind11/pybind11.h ] || missing+=(pybind11-dev)
[ -e /usr/lib/python3/dist-packages/pybind11/__init__.py ] || missing+=(python3-pybind11)
ls /usr/include/python3*/Python.h >/dev/null 2>&1 || missing+=(python3-dev)
if [ "$tests" = 1 ]; then
  if [ ! -e /usr/include/gtest/gtest.h ] && ! ls /usr/lib/*/cmake/GTest /usr/lib/cmake/GTest >/dev/null 2>&1; then
    missing+=(libgtest-dev)
  fi
  command -v snakemake >/dev/null 2>&1 || missing+=(snakemake)
  /usr/bin/python3 -c "import matplotlib" >/dev/null 2>&1 || missing+=(python3-matplotlib)
  command -v clang++ >/dev/null 2>&1 || missing+=(clang)
  command -v clang-format >/dev/null 2>&1 || missing+=(clang-format)
  command -v pkg-config >/dev/null 2>&1 || missing+=(pkg-config)
  command -v man >/dev/null 2>&1 || missing+=(man-db)
  /usr/bin/python3 -c "import pytest" >/dev/null 2>&1 || missing+=(python3-pytest)
  /usr/bin/python3 -c "import Bio.Align" >/dev/null 2>&1 || missing+=(python3-biopython)
  # pip install . into a virtualenv of Debian's Python (the install test).
  /usr/bin/python3 -c "import ensurepip, venv" >/dev/null 2>&1 || missing+=(python3-venv)
  ls /usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-*.a >/dev/null 2>&1 || missing+=(libclang-rt-dev)
  [ -x /usr/bin/chromium ] || missing+=(chromium)
  command -v node >/dev/null 2>&1 || missing+=(nodejs)
  command -v npm >/dev/null 2>&1 || missing+=(npm)
fi
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -eq 0 ]; then
  as_root=()
else
  as_root=(sudo)
fi
echo "setup-deps: installing ${missing[*]}" >&2
"${as_root[@]}" apt-get update
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"
