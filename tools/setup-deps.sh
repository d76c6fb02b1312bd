#!/usr/bin/env bash
# Installs what building and testing seqcorvane needs on Debian or Ubuntu:
# cmake, a C++ compiler, GoogleTest and zlib. Does nothing when all are present.
# Uses sudo only when not running as root.
set -euo pipefail

missing=()
command -v cmake >/dev/null 2>&1 || missing+=(cmake)
command -v g++ >/dev/null 2>&1 || missing+=(g++)
if [ ! -e /usr/include/gtest/gtest.h ] && ! ls /usr/lib/*/cmake/GTest /usr/lib/cmake/GTest >/dev/null 2>&1; then
  missing+=(libgtest-dev)
fi
[ -e /usr/include/zlib.h ] || missing+=(zlib1g-dev)
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -eq 0 ]; then
  as_root=()
else
  as_root=(sudo)
fi
echo "setup-deps: installing ${missing[*]}" >&2
"${as_root[@]}" apt-get update
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"
