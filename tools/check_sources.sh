#!/usr/bin/env bash
# Checks of the sources that no compiler makes:
#  - the layers' includes point down: a file of a layer folder of src/ (base,
#    models, dp, criteria, io, in this order) includes the public headers and
#    the headers of its own layer and the layers before it, never a later
#    one's; the programs (src/cli, batch/, tools/, python/, examples/,
#    explore/) include the public headers, the shell's (src/shell) and their
#    own folder's only;
#  - the library is silent: no standard streams, printf, exit or abort in the
#    library's folders (src/base, src/models, src/dp, src/criteria, src/io,
#    include/), comments aside; the check helper's default handler writes with
#    write(2) and ends with _Exit;
#  - no source file over 450 lines;
#  - every C++ source follows .clang-format (when clang-format is installed).
#   tools/check_sources.sh [SOURCE_DIR]
set -uo pipefail
cd "${1:-$(dirname "${BASH_SOURCE[0]}")/..}"
status=0

library=(src/base src/models src/dp src/criteria src/io include)
# Comments stripped, then the forbidden calls.
found=$(find "${library[@]}" -name '*.cpp' -o -name '*.h' -o -name '*.inc' | sort | while read -r f; do
  sed -e 's://.*$::' "$f" | grep -nE 'std::(cout|cerr|clog|cin)\b|\b(printf|fprintf|puts|putchar|exit|abort)\s*\(' |
    sed "s|^|$f:|"
done)
if [ -n "$found" ]; then
  echo "the library prints, reads the terminal or ends the process:"
  echo "$found"
  status=1
fi

layers=(base models dp criteria io)
# The layer of a header of the library, by its name ("" for none).
layerOf() {
  local name="$1" l
  for l in "${!layers[@]}"; do
    [ -f "src/${layers[$l]}/$name" ] && { echo "$l"; return; }
  done
  echo ""
}
includes() { sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([^"]*\)".*/\1/p' "$1"; }
wrong=""
for l in "${!layers[@]}"; do
  for f in $(find "src/${layers[$l]}" -name '*.cpp' -o -name '*.h' -o -name '*.inc' | sort); do
    for inc in $(includes "$f"); do
      case "$inc" in seqcorvane/*) continue ;; esac
      [ -f "$(dirname "$f")/$inc" ] && continue
      at=$(layerOf "$inc")
      if [ -z "$at" ]; then
        [ "$inc" = config.h ] || wrong+="$f includes \"$inc\", which is no header of the library"$'\n'
      elif [ "$at" -gt "$l" ]; then
        wrong+="$f (layer ${layers[$l]}) includes \"$inc\" of the later layer ${layers[$at]}"$'\n'
      fi
    done
  done
done
for f in $(find src/cli batch tools python examples explore -maxdepth 2 \( -name '*.cpp' -o -name '*.h' \) \
    -not -path 'tools/tests/*' 2>/dev/null | sort); do
  for inc in $(includes "$f"); do
    case "$inc" in seqcorvane/*) continue ;; esac
    [ -f "$(dirname "$f")/$inc" ] && continue
    [ -f "src/shell/$inc" ] && continue
    wrong+="$f (a program) includes \"$inc\", which is neither a public header nor the shell's"$'\n'
  done
done
if [ -n "$wrong" ]; then
  echo "includes against the direction of the layers:"
  printf '%s' "$wrong"
  status=1
fi

sources=$(git ls-files '*.cpp' '*.h' '*.inc' 2>/dev/null || find src include tests tools batch bench fuzz examples python \
  -name '*.cpp' -o -name '*.h' -o -name '*.inc')
for f in $sources; do
  [ -f "$f" ] || continue
  n=$(wc -l < "$f")
  if [ "$n" -gt 450 ]; then
    echo "$f: $n lines (at most 450)"
    status=1
  fi
done

if command -v clang-format >/dev/null 2>&1; then
  for f in $sources; do
    [ -f "$f" ] || continue
    if ! clang-format --dry-run --Werror "$f" >/dev/null 2>&1; then
      echo "$f: not formatted as .clang-format says (clang-format -i $f)"
      status=1
    fi
  done
else
  echo "clang-format is not installed: the format is not checked"
fi
[ "$status" = 0 ] && echo "sources: layers point down, library silent, files short, format kept"
exit "$status"
