#!/usr/bin/env bash
# Checks of the sources that no compiler makes:
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
[ "$status" = 0 ] && echo "sources: library silent, files short, format kept"
exit "$status"
