#!/usr/bin/env bash
# seqcorvane-batch's table as JSON lines: one object a pair with the
# columns' fields in their order (numbers as numbers, NA as null), read back
# by Python's json with every field equal to the tab-separated table's;
# identifiers of any bytes (beginning with '#', quotes, backslashes, a
# vertical tab, U+2028, U+0085, a character beyond U+FFFF, bytes that are
# not UTF-8) give ASCII lines; by the option or the name's extension, to
# standard output too; errors and notices on standard error as for the TSV
# table; a finished one is refused, an interrupted run resumes.
#   batch_jsonl_test.sh BATCH
set -euo pipefail
batch=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
printf '>#hash\nHEAGAWGHEE\n>caf\xe9\nHEAGAWGHEK\n>q"b\\s\xe2\x80\xa8v\x0b\xf0\x9f\x98\x80\nPAWHEAE\n' > ids.fa
printf '>nel\xc2\x85\xed\xa0\x80x\nHEAGAWGHEEKL\n>none\nacgt\n' >> ids.fa
status=0
"$batch" ids.fa -o t.tsv --threads 1 2>tsv.err || status=$?
[ "$status" -eq 3 ] || { echo "TSV table: status $status"; exit 1; }
status=0
"$batch" ids.fa -o t.jsonl --threads 1 2>json.err || status=$?
[ "$status" -eq 3 ] || { echo "JSON lines: status $status"; cat json.err; exit 1; }
cmp tsv.err json.err
grep -q "^seqcorvane-batch: pair caf\\\\xE9 / none: no standard residues" json.err || { cat json.err; exit 1; }
"$batch" ids.fa --table-format jsonl --threads 1 > out.jsonl 2>/dev/null || true
"$batch" ids.fa -o t2.json --table-format jsonl --threads 1 2>/dev/null || true
/usr/bin/python3 - <<'PY'
import json
raw = open("t.tsv", "rb").read().split(b"\n")[:-1]
k = next(i for i, l in enumerate(raw) if l.startswith(b"id_s\t"))
names = raw[k].decode().split("\t")
tsv = [l.split(b"\t") for l in raw[k + 1:]]
data = open("t.jsonl", "rb").read()
assert all(32 <= c < 127 or c == 10 for c in data), "not ASCII"
rows = [json.loads(l) for l in data.split(b"\n")[:-1]]
assert len(rows) == len(tsv) == 10, (len(rows), len(tsv))
text = {"id_s", "id_t", "criterion", "status", "pair_digest"}
for row, fields in zip(rows, tsv):
    assert list(row) == names, list(row)
    for name, field in zip(names, fields):
        value = row[name]
        if name in text:
            assert value == field.decode("utf-8", "replace"), (name, value, field)
        elif name == "seconds":  # (of another run)
            assert type(value) is float and value >= 0, value
        elif field == b"NA":
            assert value is None, (name, value)
        else:
            assert type(value) is (int if b"." not in field else float) and value == float(field), (name, value, field)
assert rows[0]["id_s"] == "#hash" and rows[0]["id_t"] == "caf\ufffd"
assert rows[1]["id_t"] == 'q"b\\s\u2028v\x0b\U0001F600', rows[1]["id_t"]
assert rows[2]["id_t"] == "nel\x85\ufffd\ufffd\ufffdx", rows[2]["id_t"]
assert rows[3]["status"] == "error" and rows[3]["K"] is None
strip = lambda f: [{k: v for k, v in json.loads(l).items() if k != "seconds"} for l in open(f, "rb")]
assert strip("out.jsonl") == strip("t.jsonl") == strip("t2.json"), "standard output, --table-format"
print("jsonl: every field as the TSV table's, in ASCII")
PY
# Another format name is a usage error.
if "$batch" ids.fa --table-format xml 2>err.txt; then echo "xml accepted"; exit 1; fi
[ "$(head -1 err.txt)" = "seqcorvane-batch: --table-format takes tsv or jsonl, not 'xml'" ] || { cat err.txt; exit 1; }
# A finished JSON-lines table is left as it is; an interrupted run resumes
# from its partial file (tab-separated, with the provenance).
cp t.jsonl before.jsonl
if "$batch" ids.fa -o t.jsonl 2>err.txt; then echo "a finished JSON-lines table was resumed"; exit 1; fi
[ "$(tail -1 err.txt)" = "seqcorvane-batch: error: the table 't.jsonl' is there already, and a JSON-lines table holds no provenance to resume from: it is left as it is; remove it or name another table with -o" ] ||
  { cat err.txt; exit 1; }
cmp before.jsonl t.jsonl
{ sed -n '1,/^id_s\t/p' t.tsv; sed -n '/^id_s\t/,$p' t.tsv | sed -n '2p;3p'; } > r.jsonl.partial
status=0
"$batch" ids.fa -o r.jsonl 2>err.txt || status=$?
[ "$status" -eq 3 ] && grep -q "resuming 'r.jsonl': 2 of 10 pairs done, 8 to align" err.txt || { cat err.txt; exit 1; }
cmp <(sed 's/"seconds": [0-9.]*//' t.jsonl) <(sed 's/"seconds": [0-9.]*//' r.jsonl)
[ ! -e r.jsonl.partial ]
echo "jsonl: options, refusal of a finished table, resumed from the partial file"
