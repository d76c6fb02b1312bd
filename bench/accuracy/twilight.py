#!/usr/bin/python3
"""A baseline on the twilight-zone reference pairs and the unrelated pairs of
../shared/bench: the posterior and optimal criteria's share of reference core
residue pairs reproduced, by identity bin and by source, and how well the
posterior criterion's compression tells the related pairs from the unrelated
ones (ROC AUC; the shares the verdict calls wrongly). Nothing is fitted here.

  PYTHONPATH=build/python bench/accuracy/twilight.py [--shared DIR] [--out FILE]
"""
import argparse
import csv
import os
import sys
import time

import seqcorvane

HERE = os.path.dirname(os.path.abspath(__file__))
BINS = [(0, 20), (20, 30), (30, 40), (40, 60), (60, 101)]


def core_pairs(row_s, row_t, mask=None):
    """The residue pairs (i, j) of the matched columns, in the core where a mask is given."""
    pairs, i, j = set(), 0, 0
    for k, (a, b) in enumerate(zip(row_s, row_t)):
        if a != "-" and b != "-" and (mask is None or mask[k] == "1"):
            pairs.add((i, j))
        i += a != "-"
        j += b != "-"
    return pairs


def auc(positives, negatives):
    """The chance that a random related pair scores above a random unrelated one (ties count half)."""
    wins = 0.0
    for p in positives:
        for n in negatives:
            wins += 1.0 if p > n else 0.5 if p == n else 0.0
    return wins / (len(positives) * len(negatives))


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--shared", default=os.path.join(HERE, "..", "..", "..", "shared", "bench"))
    ap.add_argument("--out", default=os.path.join(HERE, "TWILIGHT.md"))
    a = ap.parse_args()
    with open(os.path.join(a.shared, "twilight_pairs.tsv")) as f:
        related = list(csv.DictReader(f, delimiter="\t"))
    with open(os.path.join(a.shared, "unrelated_pairs.tsv")) as f:
        unrelated = list(csv.DictReader(f, delimiter="\t"))
    models = seqcorvane.default_models()
    seqs = [(r["row_s"].replace("-", ""), r["row_t"].replace("-", "")) for r in related]
    rows = {}
    started = time.time()
    for criterion in ("posterior", "optimal"):
        results = seqcorvane.align_many(seqs, criterion=criterion, models=models)
        rows[criterion] = []
        for r, res in zip(related, results):
            ref = core_pairs(r["row_s"], r["row_t"], r["core_mask"])
            test = core_pairs(res.row_s, res.row_t)
            rows[criterion].append((r, len(ref & test), len(ref), res.compression_bits))
        print(f"{criterion}: {len(results)} pairs aligned", file=sys.stderr)
    negatives = [x.compression_bits for x in seqcorvane.align_many([(u["seq_s"], u["seq_t"]) for u in unrelated],
                                                                     criterion="posterior", models=models)]
    out = ["# Twilight-zone baseline\n",
           f"{len(related)} reference pairs (core columns), {len(unrelated)} unrelated pairs; "
           f"seqcorvane {seqcorvane.__version__}; {time.strftime('%Y-%m-%d', time.gmtime())}; "
           f"{time.time() - started:.0f} s on {os.cpu_count()} cores. Made by `bench/accuracy/twilight.py`.\n",
           "## Share of reference core residue pairs reproduced (pooled over pairs)\n",
           "Pooled over the pairs of a column (pairs in parentheses); the last column the mean over pairs of each"
           " pair's share.\n",
           "| criterion | " + " | ".join(f"{lo}-{min(hi, 100)}%" for lo, hi in BINS) +
           " | prefab4 | sabre | all | mean per pair |",
           "|---|" + "---:|" * (len(BINS) + 4)]
    for criterion, data in rows.items():
        cells = []
        for lo, hi in BINS:
            sel = [(h, n) for r, h, n, _ in data if lo <= float(r["percent_identity"]) < hi]
            cells.append(f"{sum(h for h, _ in sel) / max(1, sum(n for _, n in sel)):.4f} ({len(sel)})")
        for source in ("prefab4", "sabre"):
            sel = [(h, n) for r, h, n, _ in data if r["dataset"] == source]
            cells.append(f"{sum(h for h, _ in sel) / max(1, sum(n for _, n in sel)):.4f}")
        cells.append(f"{sum(h for _, h, _, _ in data) / max(1, sum(n for _, _, n, _ in data)):.4f}")
        cells.append(f"{sum(h / n for _, h, n, _ in data if n) / max(1, sum(1 for _, _, n, _ in data if n)):.4f}")
        out.append(f"| {criterion} | " + " | ".join(cells) + " |")
    positives = [c for _, _, _, c in rows["posterior"]]
    out += ["\n## Relatedness: the posterior criterion's compression\n",
            f"ROC AUC, related against unrelated: {auc(positives, negatives):.3f}. Related pairs called unrelated "
            f"(compression <= 0): {sum(c <= 0 for c in positives)} of {len(positives)}; unrelated pairs called "
            f"related: {sum(c > 0 for c in negatives)} of {len(negatives)}.\n"]
    text = "\n".join(out) + "\n"
    with open(a.out + ".tmp", "w") as f:
        f.write(text)
    os.replace(a.out + ".tmp", a.out)
    print(text)


if __name__ == "__main__":
    main()
