#!/usr/bin/env python3
"""The calibration report: choices by family cross-validation and the tables
of accuracy, gap openings and compression, from the per-pair tables of
seqcorvane-calibrate accuracy (one file a run, named as tools/run_calibration.sh
names them):

    optimal__<table>.tsv                       the optimal criterion with a priors table
    posterior__<table>__shape<A>.tsv           the posterior criterion (fallback at the top)
    marginal-posterior__<table>__shape<A>.tsv  the same without the fallback
    peer__<name>.tsv                           another aligner's alignments

    tools/calibration_report.py RUNS_DIR --pairs PAIRS --out bench/ACCURACY.md

Choices: the priors table of the optimal criterion, then the posterior
criterion's gamma shape of site rates and whether it falls back at the top
of the distance range. Each is made on the training folds (families in 4 of 5
folds, by FNV-1a of the family name, as seqcorvane-calibrate --fold makes
them) and measured on the held-out fold; the held-out results of the 5 folds
are pooled. The objective is the mean of the accuracy over all pairs and over
the pairs below 30% identity. The table shipped is the one chosen on all
pairs, provided its cross-validated accuracy beats the current table's
overall and in every bin below 40%.
"""
import argparse
import csv
import glob
import os
import re
import sys

BINS = ["0-20%", "20-30%", "30-40%", "40-60%", "60-100%"]
FOLDS = 5


def fold_of(family):
    h = 1469598103934665603
    for c in family.encode():
        h ^= c
        h = (h * 1099511628211) % (1 << 64)
    return h % FOLDS


def bin_of(pid):
    for k, upper in enumerate((20, 30, 40, 60)):
        if pid < upper:
            return k
    return 4


def load(path):
    with open(path) as f:
        return {r["pair_id"]: r for r in csv.DictReader(f, delimiter="\t")}


class Totals:
    """Pooled counts over a set of pairs, per bin and over all."""

    def __init__(self):
        self.c = {k: [0, 0, 0, 0, 0, 0, 0] for k in list(range(5)) + ["all", "below30"]}

    def add(self, r):
        b = bin_of(float(r["percent_identity"]))
        keys = [b, "all"] + (["below30"] if b < 2 else [])
        comp = r["compression_bits"]
        for k in keys:
            t = self.c[k]
            t[0] += int(r["reference_pairs"])
            t[1] += int(r["reproduced"])
            t[2] += int(r["test_pairs"])
            t[3] += int(r["gap_openings"])
            t[4] += int(r["reference_gap_openings"])
            t[5] += 1
            t[6] += comp not in ("NA", "nan") and float(comp) > 0

    def accuracy(self, k):
        t = self.c[k]
        return t[1] / t[0] if t[0] else 0.0

    def gaps(self, k):
        t = self.c[k]
        return 100.0 * t[3] / t[2] if t[2] else 0.0

    def reference_gaps(self, k):
        t = self.c[k]
        return 100.0 * t[4] / t[0] if t[0] else 0.0

    def compressed(self, k):
        t = self.c[k]
        return t[6] / t[5] if t[5] else 0.0

    def objective(self):
        return 0.5 * (self.accuracy("all") + self.accuracy("below30"))


def totals(run, keep=lambda r: True):
    t = Totals()
    for r in run.values():
        if keep(r):
            t.add(r)
    return t


def choose(candidates, runs, fold):
    """The candidate of best objective on the pairs outside the fold (None: all pairs)."""
    return max(candidates, key=lambda c: totals(runs[c], lambda r: fold is None or fold_of(r["family"]) != fold).objective())


def held_out(choice_of_fold, runs):
    """Pooled held-out results: each fold's pairs from the run chosen without them."""
    t = Totals()
    for f in range(FOLDS):
        for r in runs[choice_of_fold[f]].values():
            if fold_of(r["family"]) == f:
                t.add(r)
    return t


def accuracy_row(label, t, extra=""):
    return "| %s | %s | %.4f |%s" % (label, " | ".join("%.4f" % t.accuracy(b) for b in range(5)), t.accuracy("all"), extra)


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("runs")
    ap.add_argument("--pairs", required=True)
    ap.add_argument("--out", required=True)
    a = ap.parse_args()
    runs = {os.path.basename(p)[:-4]: load(p) for p in sorted(glob.glob(os.path.join(a.runs, "*.tsv")))}
    if "optimal__current" not in runs:
        sys.exit("calibration_report.py: no optimal__current.tsv in " + a.runs)
    n_pairs = len(runs["optimal__current"])
    def header(first="", extra=()):
        cols = [first] + BINS + ["all"] + list(extra)
        return "| " + " | ".join(cols) + " |\n|---|" + "---:|" * (len(cols) - 1)

    out = []
    w = out.append
    w("# Accuracy on the calibration pairs\n")
    w("Reference alignments: `%s` (%d structure-based pairwise alignments, HOMSTRAD and OXBench;"
      " see its README). Accuracy: the fraction of the reference's residue pairs that an alignment"
      " reproduces, pooled over the pairs of a bin of percent identity. Gap openings: runs of"
      " deletes or inserts per 100 matched pairs of the alignment (references: per 100 of theirs)."
      " Compression > 0: the share of the pairs (all related) whose verdict says related.\n"
      % (os.path.basename(a.pairs), n_pairs))
    w("Made by `tools/run_calibration.sh` (the runs) and `tools/calibration_report.py` (this page);"
      " choices by 5-fold cross-validation over families: made on 4 folds, measured on the fifth,"
      " the 5 held-out folds pooled. Objective: the mean of the accuracy over all pairs and over"
      " the pairs below 30% identity.\n")

    # ---- the optimal criterion's priors table ----
    tables = sorted(k.split("__")[1] for k in runs if k.startswith("optimal__"))
    opt = {t: runs["optimal__" + t] for t in tables}
    w("## Gap priors of the optimal criterion\n")
    w("Each candidate on all pairs (in-sample):\n")
    w(header("table", ["objective"]))
    for t in tables:
        tt = totals(opt[t])
        w(accuracy_row(t, tt, " %.4f |" % tt.objective()))
    per_fold = [choose(tables, opt, f) for f in range(FOLDS)]
    cv, current = held_out(per_fold, opt), totals(opt["current"])
    final = choose(tables, opt, None)
    ships = final != "current" and cv.accuracy("all") > current.accuracy("all") and all(
        cv.accuracy(b) > current.accuracy(b) for b in range(3))
    w("\nChosen on the training folds: %s. Held-out accuracy of those choices against the current table:\n"
      % ", ".join("fold %d: %s" % (f, c) for f, c in enumerate(per_fold)))
    w(header())
    w(accuracy_row("current table", current))
    w(accuracy_row("cross-validated choice", cv))
    w("\nChosen on all pairs: **%s**; %s\n" % (final, "it beats the current table overall and in every bin below"
      " 40% when cross-validated, and ships." if ships else "it does not beat the current table overall and in"
      " every bin below 40% when cross-validated: the current table stays."))
    shipped = final if ships else "current"

    # ---- the posterior criterion ----
    variants = {}
    for key, run in runs.items():
        m = re.match(r"posterior__shape([0-9.]+)__open([0-9.]+)$", key)
        if m:
            variants["shape %s, gap opening x %s" % m.groups()] = run
    chosen_post = None
    if variants:
        names = sorted(variants)
        w("## The posterior criterion\n")
        w("With the shipped priors table: site rates of gamma shape A (0: one rate) and the gap opening of"
          " the priors scaled by F, decoded at the marginal distance of that model (at the optimal"
          " criterion's distance where it reaches the top of the range). Each on all pairs (in-sample):\n")
        w(header("variant", ["objective"]))
        for v in names:
            tt = totals(variants[v])
            w(accuracy_row(v, tt, " %.4f |" % tt.objective()))
        per_fold_p = [choose(names, variants, f) for f in range(FOLDS)]
        cvp = held_out(per_fold_p, variants)
        chosen_post = choose(names, variants, None)
        w("\nChosen on the training folds: %s; on all pairs: **%s** (the program's default)."
          " Held-out accuracy of the choices:\n" % (", ".join("fold %d: %s" % (f, c) for f, c in enumerate(per_fold_p)),
                                                    chosen_post))
        w(header())
        w(accuracy_row("cross-validated choice", cvp))
        w("")
        if "marginal-posterior__default" in runs:
            top = [float(r["percent_identity"]) for r in runs["marginal-posterior__default"].values()
                   if r["K"] not in ("NA", "") and int(r["K"]) >= 999]
            w("Flat posteriors: the marginal distance reaches the top of its range (K >= 999) on %d pairs%s. The"
              " program's choice decoded at that distance, against the fallback to the optimal criterion's"
              " distance there:\n" % (len(top), ", all below %.0f%% identity" % (max(top) + 0.5) if top else ""))
            w(header())
            w(accuracy_row("no fallback", totals(runs["marginal-posterior__default"])))
            w(accuracy_row("fallback", totals(variants[chosen_post])))
            w("")

    # ---- beside the peers ----
    rows = [("optimal (%s table)" % shipped, opt[shipped])]
    if "marginal-posterior__default" in runs:
        rows.append(("marginal, then posterior", runs["marginal-posterior__default"]))
    if chosen_post:
        rows.append(("posterior, rate-averaged matches", variants[chosen_post]))
    if "posterior-fitted__default" in runs:
        rows.append(("posterior, fitted matches (shipped)", runs["posterior-fitted__default"]))
    for k in sorted(runs):
        if k.startswith("peer__"):
            rows.append((k[len("peer__"):], runs[k]))
    w("## Beside other aligners\n")
    w("Peers on the same pairs (bench/accuracy/peers.py): probcons and probalign (Debian packages, default settings),"
      " parasail_aligner (nw, BLOSUM62, open 10, extend 1), needle (EMBOSS, EBLOSUM62, open 10, extend 0.5)."
      " The program's rows use the shipped choices; in-sample for the choices (the held-out figures are above).\n")
    w("Accuracy:\n")
    w(header("aligner"))
    for label, run in rows:
        w(accuracy_row(label, totals(run)))
    w("\nGap openings per 100 matched pairs:\n")
    w(header("aligner"))
    ref = totals(rows[0][1])
    w("| references | %s | %.2f |" % (" | ".join("%.2f" % ref.reference_gaps(b) for b in range(5)), ref.reference_gaps("all")))
    for label, run in rows:
        t = totals(run)
        w("| %s | %s | %.2f |" % (label, " | ".join("%.2f" % t.gaps(b) for b in range(5)), t.gaps("all")))
    w("\nShare of the (related) pairs with compression > 0:\n")
    w(header("criterion"))
    for label, run in rows:
        if label.startswith("marginal") or not label.startswith(("optimal", "posterior")):
            continue
        t = totals(run)
        w("| %s | %s | %.3f |" % (label, " | ".join("%.3f" % t.compressed(b) for b in range(5)), t.compressed("all")))
    text = "\n".join(out) + "\n"
    tmp = a.out + ".tmp"
    with open(tmp, "w") as f:
        f.write(text)
    os.replace(tmp, a.out)


if __name__ == "__main__":
    main()
