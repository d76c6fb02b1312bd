#!/usr/bin/env bash
# The library's archive exports the API's symbols only: every global symbol it
# defines is in the namespace seqcorvane (its internals in seqcorvane::detail),
# or an instantiation of the C++ runtime's templates (std::, __gnu_cxx::, the
# type information of the function types std::function holds).
#   tests/scripts/symbols_test.sh ARCHIVE
set -uo pipefail
archive="$1"
command -v nm >/dev/null || { echo "nm is not installed"; exit 77; }
outside=$(nm --defined-only -g "$archive" 2>/dev/null | awk 'NF >= 3 { print $3 }' | sort -u |
  grep -Ev '^_Z(N|NK|Z|ZN|GVZN|GVZ|TI|TS|TV|TIN|TSN|TVN|TH|TW)?10seqcorvane' |
  grep -Ev '^_Z(N|NK|Z|ZN|GVZN|GVZ|TI|TS|TV)?(St|Ss|Sa|Sb|Si|So|Sd)' |
  grep -Ev '^_Z(N|NK|ZN)?9__gnu_cxx' |
  grep -Ev '^_ZNSt|^_ZNKSt|^_ZSt|^_ZT[ISV]N?St|^_ZGVZNSt|^_ZZNSt' |
  grep -Ev '^_ZT[IS]P?F[a-z]+E$' |
  grep -Ev '^DW\.ref\.' || true)
if [ -n "$outside" ]; then
  echo "symbols outside the namespace seqcorvane:"
  echo "$outside" | c++filt
  exit 1
fi
echo "every global symbol of $(basename "$archive") is seqcorvane's or the C++ runtime's"
