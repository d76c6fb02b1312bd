#!/usr/bin/env bash
# The manual pages: each renders with man -l without a warning, and names
# every option its program's --help lists (the explorer's where it is built).
#   man_test.sh SOURCE_DIR SEQCORVANE BATCH PLOT [EXPLORE]
set -euo pipefail
src=$1
command -v man >/dev/null 2>&1 || { echo "man is not installed"; exit 77; }
status=0
check() {
  local page=$1 program=$2
  local text err
  err=$(mktemp)
  text=$(MANWIDTH=80 man --warnings -l "$src/man/$page" 2>"$err")
  if [ -s "$err" ]; then echo "$page: warnings:"; cat "$err"; status=1; fi
  rm -f "$err"
  grep -q "^NAME" <<<"$text" || { echo "$page: no NAME section"; status=1; }
  for option in $("$program" --help | grep -oE -- '--[a-z][a-z-]+' | sort -u); do
    grep -q -- "$option" <<<"$text" || { echo "$page: $option of --help is not described"; status=1; }
  done
}
check seqcorvane.1 "$2"
check seqcorvane-batch.1 "$3"
check seqcorvane-plot.1 "$4"
pages=three
if [ -n "${5:-}" ]; then
  check seqcorvane-explore.1 "$5"
  pages=four
fi
[ "$status" = 0 ] && echo "man: $pages pages render and describe every option"
exit "$status"
