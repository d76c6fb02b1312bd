#!/usr/bin/python3
"""Family cross-validation of the posterior criterion's fitted match emissions
on both reference sets of ../shared/bench, beside the peers, and the verdict
on the unrelated pairs. Writes a Markdown report.

    PYTHONPATH=build/python bench/accuracy/crossvalidate.py OUT.md --peers DIR
        [--shared DIR] [--folds 10] [--bins 6] [--pseudocounts 2000] [--rounds 2]
        [--variants BINSxPSEUDOxROUNDS,...]

The pairs are split into FOLDS by family; for each fold the tables are fitted
(tools/fit_match_joints.py) on the other folds and the fold's pairs aligned
with them; the held-out folds are pooled. Accuracy: the share of a reference's
(core) residue pairs an alignment reproduces, averaged over the pairs of a bin
of percent identity or of a source. Peers' alignments are read from
DIR/<set>/<peer>/<pair_id>.afasta (bench/accuracy/peers.py writes them).
"""
import argparse
import csv
import random
import os
import shutil
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "tools"))
import fit_match_joints as fj  # noqa: E402
import peers  # noqa: E402
import seqcorvane  # noqa: E402

BINS = [(0, 20), (20, 30), (30, 40), (40, 60), (60, 101)]
SOURCES = {"twilight": ["prefab4", "sabre"], "calibration": ["homstrad", "ox"]}
PEERS = ["probcons", "probalign", "parasail"]


def matched(row_s, row_t, mask=None):
    pairs, i, j = set(), 0, 0
    for k, (a, b) in enumerate(zip(row_s, row_t)):
        if a != "-" and b != "-" and (mask is None or mask[k] == "1"):
            pairs.add((i, j))
        i += a != "-"
        j += b != "-"
    return pairs


def share(pair, row_s, row_t):
    ref = matched(pair["row_s"], pair["row_t"], pair["mask"])
    return len(ref & matched(row_s, row_t)) / len(ref) if ref else None


def auc(pos, neg):
    wins = sum(1.0 if p > n else 0.5 if p == n else 0.0 for p in pos for n in neg)
    return wins / (len(pos) * len(neg))


def read_afasta(path):
    """The two rows of an alignment file that peers.py wrote."""
    with open(path) as f:
        (_, row_s), (_, row_t) = peers.read_fasta(f.read())
    return row_s, row_t


def cross_validate(pairs, data, folds, bins, pseudo, rounds, base_k, log, machine_ends=False):
    """Held-out results of every pair under the tables fitted without its fold;
    with machine_ends, also those with the end gaps priced as the machine does."""
    held, plain = [None] * len(pairs), [None] * len(pairs)
    for f in range(folds):
        train = [k for k, p in enumerate(pairs) if fj.fold_of(p, folds) != f]
        test = [k for k, p in enumerate(pairs) if fj.fold_of(p, folds) == f]
        tables = fj.fit_rounds([pairs[k] for k in train], data, bins, pseudo, rounds,
                               first_distances=[base_k[k] for k in train])
        d = fj.model_dir(data, tables)
        for k, r in zip(test, fj.align_all([pairs[k] for k in test], d)):
            held[k] = r
        if machine_ends:
            for k, r in zip(test, fj.align_all([pairs[k] for k in test], d, end_gaps_alike=False)):
                plain[k] = r
        shutil.rmtree(d)
        log(f"  fold {f}: {len(test)} pairs held out")
    return held, plain


def table(title, pairs, methods):
    """Rows of mean shares by bin and source, for each method (name -> share per pair)."""
    out = [f"### {title}\n"]
    sets = sorted({p["set"] for p in pairs})
    cols = []
    for lo, hi in BINS:
        cols.append((f"{lo}-{min(hi, 100)}%", lambda p, lo=lo, hi=hi: lo <= float(p["percent_identity"]) < hi))
    for s in sets:
        for src in SOURCES[s]:
            cols.append((src, lambda p, src=src: p["dataset"] == src))
    cols.append(("all", lambda p: True))
    out.append("| method | " + " | ".join(
        f"{name} ({sum(1 for p in pairs if keep(p))})" for name, keep in cols) + " |")
    out.append("|---|" + "---:|" * len(cols))
    for name, shares in methods.items():
        cells = []
        for _, keep in cols:
            vals = [x for p, x in zip(pairs, shares) if keep(p) and x is not None]
            cells.append(f"{sum(vals) / len(vals):.4f}" if vals else "-")
        out.append(f"| {name} | " + " | ".join(cells) + " |")
    return out + [""]


NEGATIVE = (
    "Measured before the fitted emissions, each chosen and measured by cross-validation over families with a "
    "prototype that reproduces the posterior criterion exactly (300 of 300 twilight pairs alike), and not worth "
    "trying again blind: free terminal flanks (unaligned ends priced only by their residues) -0.009 per pair; a "
    "second, long gap regime -0.0005 at best and -0.007 when chosen on held-out folds; a temperature on all costs "
    "(beta 0.5 to 1.5) lower at every beta; gap opening raised in hydrophilic windows about 0 held out; each pair "
    "given its reference transitions, nothing; joints fitted on every matched column instead of the core columns, "
    "nothing or worse. The gap side is not the limit, although the alignments open fewer gaps than the references "
    "(3.9 against 5.7 per 100 matched pairs). For the verdict: a composition-adjusted null model (each pair's own "
    "residue frequencies, their cost stated) lowers the ROC AUC of the compression from 0.88 to 0.81 (pooled "
    "frequencies) or leaves it (each sequence's own); a z-score against five shuffles of T, 0.884 to 0.889. "
    "End gaps, with the fitted tables on all pairs (in-sample): a trailing run's opening at half its cost "
    "(calibration 0.8914, twilight 0.6021) or the stays of both end runs at half their cost (twilight 0.6076, but "
    "calibration 0-20% 0.4566 against 0.4651) are beaten or matched by pricing the two ends alike, which has no "
    "parameter (calibration 0.8922, twilight 0.6024, every bin up); the stays at half cost at the trailing end only "
    "lower the twilight pairs (0.5948); at a third of the cost at both ends everything falls (twilight 0.5333). "
    "Why the verdict stays near 0.88: all 108 unrelated pairs, and 633 of the 1,699 related ones, reach the top of "
    "the distance range, where the compression mostly prices the gaps that the lengths force; the unrelated pairs' "
    "compression falls 0.22 bits per residue of length difference (correlation -0.93), and their length "
    "differences are larger (median 92 against 22). Calibrating that away (the bits plus 0.1 to 0.3 bits per "
    "residue of difference, as shuffles of the same lengths would) lowers the ROC AUC to 0.894 at best; the best "
    "numbers that are no significance reach 0.912 (mean posterior of the matched columns) and 0.918 (its z-score "
    "summed with that of the bits per residue).")


def mean_confidence(r):
    conf = [c for c, a, b in zip(r.column_confidence, r.row_s, r.row_t) if a != "-" and b != "-"]
    return sum(conf) / len(conf) if conf else 0.0


def verdict_candidates(pairs, tw, unrelated, data, shuffles=5):
    """ROC AUC of numbers that might tell related from unrelated pairs, for both models."""
    related = [(pairs[k]["s"], pairs[k]["t"]) for k in tw]
    negatives = [(u["seq_s"], u["seq_t"]) for u in unrelated]
    out = ["### Verdict: candidate numbers beside the bits\n",
           f"ROC AUC of each number, the twilight pairs against the unrelated pairs; both models on all pairs (the "
           f"fitted tables have seen the related pairs' core columns, so its column is in-sample). Shuffles: the "
           f"residues of T shuffled {shuffles} times (seeded), the pair's compression less their mean.\n",
           "| number | today's model | fitted tables |", "|---|---:|---:|"]
    columns = {}
    for name, d in (("today", fj.model_dir(data)), ("fitted", fj.model_dir(data, fj.read_tables(
            os.path.join(data, fj.FILE))))):
        models = seqcorvane.Models(d)
        ends = name == "fitted"  # today's model priced the end gaps as the machine does
        numbers = {}
        for label, group in (("pos", related), ("neg", negatives)):
            res = seqcorvane.align_many(group, criterion="posterior", models=models, end_gaps_alike=ends)
            rng = random.Random(11)
            shuffled = []
            for s, t in group:
                for _ in range(shuffles):
                    letters = list(t)
                    rng.shuffle(letters)
                    shuffled.append((s, "".join(letters)))
            sh = [r.compression_bits for r in seqcorvane.align_many(shuffled, criterion="posterior", models=models)]
            numbers[label] = {
                "compression (bits)": [r.compression_bits for r in res],
                "bits per residue (over the square root of the two lengths' product)": [r.compression_bits / (len(p[0]) * len(p[1])) ** 0.5
                                           for r, p in zip(res, group)],
                "bits less the shuffles' mean": [r.compression_bits - sum(sh[k * shuffles:(k + 1) * shuffles]) / shuffles
                                                 for k, r in enumerate(res)],
                "mean posterior of the matched columns": [mean_confidence(r) for r in res],
            }
        shutil.rmtree(d)
        columns[name] = {n: auc(numbers["pos"][n], numbers["neg"][n]) for n in numbers["pos"]}
    for n in columns["today"]:
        out.append(f"| {n} | {columns['today'][n]:.3f} | {columns['fitted'][n]:.3f} |")
    return out + [""]


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("out")
    ap.add_argument("--peers", required=True)
    ap.add_argument("--shared", default=os.path.join(HERE, "..", "..", "..", "shared", "bench"))
    ap.add_argument("--data", default=os.path.join(HERE, "..", "..", "data"))
    ap.add_argument("--folds", type=int, default=10)
    ap.add_argument("--variants", default="4x500x1",
                    help="fits to measure, BINSxPSEUDOCOUNTSxROUNDS, comma-separated; the first is reported in full")
    a = ap.parse_args()
    log = lambda m: print(m, file=sys.stderr, flush=True)  # noqa: E731
    started = time.time()
    pairs = fj.load_pairs(a.shared)
    d = fj.model_dir(a.data)
    base = fj.align_all(pairs, d, end_gaps_alike=False)
    optimal = seqcorvane.align_many([(p["s"], p["t"]) for p in pairs], criterion="optimal",
                                    models=seqcorvane.Models(d))
    with open(os.path.join(a.shared, "unrelated_pairs.tsv")) as f:
        unrelated = list(csv.DictReader(f, delimiter="\t"))
    neg_base = [r.compression_bits for r in
                seqcorvane.align_many([(u["seq_s"], u["seq_t"]) for u in unrelated], criterion="posterior",
                                      models=seqcorvane.Models(d))]
    shutil.rmtree(d)
    log(f"baseline: {len(pairs)} pairs, {time.time() - started:.0f} s")
    base_k = [r.K for r in base]

    variants, machine_ends = {}, None
    for v in a.variants.split(","):
        bins, pseudo, rounds = v.split("x")
        log(f"variant {v}:")
        variants[v], plain = cross_validate(pairs, a.data, a.folds, int(bins), float(pseudo), int(rounds), base_k,
                                            log, machine_ends=machine_ends is None)
        if machine_ends is None:
            machine_ends = plain

    shares = {v: [share(p, r.row_s, r.row_t) for p, r in zip(pairs, held)] for v, held in variants.items()}
    first = next(iter(variants))
    methods = {"posterior (today)": [share(p, r.row_s, r.row_t) for p, r in zip(pairs, base)]}
    for v in variants:
        bins, pseudo, rounds = v.split("x")
        if v == first:
            methods[f"posterior, fitted ({bins} tables, {pseudo} pseudocounts, rounds {rounds}), end gaps as the "
                    f"machine prices them, held out"] = [share(p, r.row_s, r.row_t) for p, r in zip(pairs, machine_ends)]
        methods[f"posterior, fitted ({bins} tables, {pseudo} pseudocounts, rounds {rounds}), held out"] = shares[v]
    for peer in PEERS:
        vals = []
        for p in pairs:
            path = os.path.join(a.peers, p["set"], peer, p["pair_id"] + ".afasta")
            vals.append(share(p, *read_afasta(path)) if os.path.exists(path) else None)
        methods[peer] = vals
    methods["optimal"] = [share(p, r.row_s, r.row_t) for p, r in zip(pairs, optimal)]

    out = ["# Accuracy\n",
           "Two parts: the posterior criterion's fitted match emissions cross-validated over families on both "
           "reference sets of ../shared/bench, beside the peers, with the verdict on the unrelated pairs "
           "(`bench/accuracy/crossvalidate.py`); then the gap priors and the posterior criterion's other choices on "
           "the calibration pairs (`tools/calibration_report.py`). Both are run by `tools/run_calibration.sh`.\n",
           "## Both reference sets, family cross-validation\n",
           f"{len(pairs)} reference pairs, {a.folds} folds by family; seqcorvane {seqcorvane.__version__}; "
           f"{time.strftime('%Y-%m-%d', time.gmtime())}; {time.time() - started:.0f} s. "
           "Made by `bench/accuracy/crossvalidate.py`. Mean over the pairs of each pair's share of reference "
           "(core) residue pairs reproduced; pairs per column in parentheses.\n"]
    for s in ("twilight", "calibration"):
        idx = [k for k, p in enumerate(pairs) if p["set"] == s]
        out += table(f"{s}_pairs.tsv", [pairs[k] for k in idx], {m: [v[k] for k in idx] for m, v in methods.items()})

    today, fitted = methods["posterior (today)"], shares[first]
    plain = [share(p, r.row_s, r.row_t) for p, r in zip(pairs, machine_ends)]
    for what, before, after in (("the fitted tables with the end gaps priced alike", today, fitted),
                                ("the fitted tables alone", today, plain),
                                ("the end gaps priced alike, given the fitted tables", plain, fitted)):
        gains = []
        for f in range(a.folds):
            ks = [k for k, p in enumerate(pairs) if fj.fold_of(p, a.folds) == f and before[k] is not None]
            gains.append(sum(after[k] - before[k] for k in ks) / len(ks))
        out.append(f"Held-out gain of {what} ({first}), mean per pair of each fold (both sets): " +
                   ", ".join(f"{g:+.4f}" for g in gains) + f"; positive on {sum(g > 0 for g in gains)} of "
                   f"{a.folds} folds.\n")

    def pooled(v):
        vals = [x for x in shares[v] if x is not None]
        return sum(vals) / len(vals)
    out.append(f"Highest held-out mean over the pairs of both sets: {max(variants, key=pooled)}; the shipped form "
               f"is the first variant listed.\n")
    tw = [k for k, p in enumerate(pairs) if p["set"] == "twilight"]
    out.append("### Verdict: compression of the twilight pairs against the unrelated pairs\n")
    out.append("| model | ROC AUC | related called unrelated | unrelated called related |")
    out.append("|---|---:|---:|---:|")
    pos = [base[k].compression_bits for k in tw]
    out.append(f"| posterior (today) | {auc(pos, neg_base):.3f} | {sum(c <= 0 for c in pos)} of {len(pos)} | "
               f"{sum(c > 0 for c in neg_base)} of {len(neg_base)} |")
    for v, held in variants.items():
        bins, pseudo, rounds = v.split("x")
        tables = fj.fit_rounds(pairs, a.data, int(bins), float(pseudo), int(rounds), first_distances=base_k)
        d = fj.model_dir(a.data, tables)
        neg = [r.compression_bits for r in
               seqcorvane.align_many([(u["seq_s"], u["seq_t"]) for u in unrelated], criterion="posterior",
                                     models=seqcorvane.Models(d))]
        shutil.rmtree(d)
        pos = [held[k].compression_bits for k in tw]
        out.append(f"| fitted {v} | {auc(pos, neg):.3f} | {sum(c <= 0 for c in pos)} of {len(pos)} | "
                   f"{sum(c > 0 for c in neg)} of {len(neg)} |")
    out.append("")
    out += verdict_candidates(pairs, tw, unrelated, a.data)
    out += ["### What did not help\n", NEGATIVE, ""]
    text = "\n".join(out) + "\n"
    with open(a.out + ".tmp", "w") as f:
        f.write(text)
    os.replace(a.out + ".tmp", a.out)
    print(text)


if __name__ == "__main__":
    main()
