#!/usr/bin/python3
"""Fits the posterior criterion's match emissions: joint residue-pair
probabilities at a few evolutionary distances, counted in the reliable
columns of structure-based reference alignments, and writes them as
posteriorMatchJoints.txt.

    PYTHONPATH=build/python tools/fit_match_joints.py OUT [--shared DIR]
        [--bins 4] [--pseudocounts 500] [--rounds 1] [--data data]

Reference pairs: ../shared/bench/twilight_pairs.tsv (the columns its core mask
marks 1) and ../shared/bench/calibration_pairs.tsv (every matched column).
Each pair's distance is the one the posterior criterion decodes it at; the
pairs are cut into BINS groups of equal size by that distance, and each group's
residue pairs, counted in both orders, give one table at the group's mean
distance (geometric), smoothed toward the substitution model's joint
distribution there with PSEUDOCOUNTS columns. The distances come first from
the model without fitted tables (the substitution model averaged over site
rates) and then, for each further round, from the tables just fitted.

Needs numpy and the seqcorvane Python module (a build's python/ directory on
PYTHONPATH).
"""
import argparse
import csv
import hashlib
import math
import os
import shutil
import sys
import tempfile
import zlib

import numpy as np

import seqcorvane

HERE = os.path.dirname(os.path.abspath(__file__))
ALPHABET = "ARNDCQEGHILKMFPSTWYV"  # the substitution model's order
INDEX = {a: k for k, a in enumerate(ALPHABET)}
FILE = "posteriorMatchJoints.txt"
MODEL_FILES = ["protSeqNullMMLEstimatesOrder0.txt", "S_double_precision.txt", "D_double_precision.txt",
               "S_inv_double_precision.txt", "DirichletPriorsGivenN.txt"]


def sha256(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def load_pairs(shared):
    """The reference pairs of both sets, each with its set, family, rows and mask."""
    pairs = []
    for name in ("twilight_pairs.tsv", "calibration_pairs.tsv"):
        with open(os.path.join(shared, name)) as f:
            for r in csv.DictReader(f, delimiter="\t"):
                r["mask"] = r.get("core_mask") or "1" * len(r["row_s"])
                r["set"] = name.split("_")[0]
                r["s"], r["t"] = r["row_s"].replace("-", ""), r["row_t"].replace("-", "")
                pairs.append(r)
    return pairs


def fold_of(pair, folds):
    """Cross-validation fold of a pair, by its family (the same on every run)."""
    return zlib.crc32(f"{pair['set']}/{pair['family']}".encode()) % folds


def substitution_joint(data, k):
    """pi_b M^k(a | b) from the model files, symmetrised: the substitution model's joint at distance k."""
    s = np.loadtxt(os.path.join(data, "S_double_precision.txt"))
    d = np.diag(np.loadtxt(os.path.join(data, "D_double_precision.txt")))
    s_inv = np.loadtxt(os.path.join(data, "S_inv_double_precision.txt"))
    pi = {}
    for line in open(os.path.join(data, "protSeqNullMMLEstimatesOrder0.txt")):
        if line.strip():
            letter, p = line.split()
            pi[letter] = float(p)
    p = np.array([pi[a] for a in ALPHABET])
    m = s @ np.diag(d ** k) @ s_inv
    j = m * p[None, :]
    j = 0.5 * (j + j.T)
    return j / j.sum()


def counts_of(pair):
    """The residue pairs of the pair's reliable matched columns, counted in both orders."""
    c = np.zeros((20, 20))
    for a, b, keep in zip(pair["row_s"], pair["row_t"], pair["mask"]):
        if a != "-" and b != "-" and keep == "1":
            c[INDEX[a], INDEX[b]] += 0.5
            c[INDEX[b], INDEX[a]] += 0.5
    return c


def fit(pairs, distances, data, bins, pseudocounts):
    """(distance, table) for each bin of the pairs ordered by their distance."""
    order = sorted(range(len(pairs)), key=lambda k: distances[k])
    tables = []
    for b in range(bins):
        group = order[b * len(order) // bins:(b + 1) * len(order) // bins]
        k = math.exp(sum(math.log(distances[g]) for g in group) / len(group))
        c = sum(counts_of(pairs[g]) for g in group)
        j = c + pseudocounts * substitution_joint(data, k)
        tables.append((k, j / j.sum()))
    # equal distances (many pairs at one K) would give a table twice: merge them
    merged = []
    for k, j in tables:
        if merged and abs(merged[-1][0] - k) < 1e-6 * k:
            merged[-1] = (k, 0.5 * (merged[-1][1] + j))
        else:
            merged.append((k, j))
    return merged


def write(path, tables, header):
    tmp = path + ".tmp"
    with open(tmp, "w") as f:
        for line in header:
            f.write(f"# {line}\n")
        f.write(f"alphabet {ALPHABET}\n")
        for k, j in tables:
            f.write(f"K {k:.6f}\n")
            for row in j:
                f.write(" ".join(f"{x:.17g}" for x in row) + "\n")
    os.replace(tmp, path)


def read_tables(path):
    """The (distance, table) pairs of a tables file written by write()."""
    tables, rows = [], None
    for line in open(path):
        if line.startswith("K "):
            rows = []
            tables.append((float(line.split()[1]), rows))
        elif rows is not None and line.strip():
            rows.append([float(x) for x in line.split()])
    return [(k, np.array(r)) for k, r in tables]


def model_dir(data, tables=None, header=()):
    """A scratch model directory: data's five files, and the tables when given."""
    d = tempfile.mkdtemp(prefix="seqcorvane-joints-")
    for name in MODEL_FILES:
        shutil.copy(os.path.join(data, name), d)
    if tables is not None:
        write(os.path.join(d, FILE), tables, header)
    return d


def align_all(pairs, directory, end_gaps_alike=True):
    """The posterior criterion's results for the pairs under the models of the directory."""
    models = seqcorvane.Models(directory)
    return seqcorvane.align_many([(p["s"], p["t"]) for p in pairs], criterion="posterior", models=models,
                                 end_gaps_alike=end_gaps_alike)


def fit_rounds(pairs, data, bins, pseudocounts, rounds, first_distances=None, log=None):
    """The tables after the rounds of fitting (distances from the previous round's model)."""
    distances = first_distances
    if distances is None:
        d = model_dir(data)
        distances = [r.K for r in align_all(pairs, d)]
        shutil.rmtree(d)
    tables = None
    for n in range(rounds):
        tables = fit(pairs, distances, data, bins, pseudocounts)
        if log:
            log(f"round {n + 1}: tables at K " + ", ".join(f"{k:.1f}" for k, _ in tables))
        if n + 1 < rounds:
            d = model_dir(data, tables)
            distances = [r.K for r in align_all(pairs, d)]
            shutil.rmtree(d)
    return tables


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("out")
    ap.add_argument("--shared", default=os.path.join(HERE, "..", "..", "shared", "bench"))
    ap.add_argument("--data", default=os.path.join(HERE, "..", "data"))
    ap.add_argument("--bins", type=int, default=4)
    ap.add_argument("--pseudocounts", type=float, default=500)
    ap.add_argument("--rounds", type=int, default=1)
    a = ap.parse_args()
    pairs = load_pairs(a.shared)
    tables = fit_rounds(pairs, a.data, a.bins, a.pseudocounts, a.rounds, log=lambda m: print(m, file=sys.stderr))
    header = [
        "Joint residue-pair probabilities of the posterior criterion's match state, by distance K.",
        f"Fitted by tools/fit_match_joints.py --bins {a.bins} --pseudocounts {a.pseudocounts:g} --rounds {a.rounds}",
        f"from twilight_pairs.tsv (core columns) and calibration_pairs.tsv (matched columns): {len(pairs)} pairs;",
        "sha256 " + ", ".join(f"{n} {sha256(os.path.join(a.shared, n))[:16]}"
                              for n in ("twilight_pairs.tsv", "calibration_pairs.tsv")) + ".",
        "Rows and columns in the alphabet's order; each table is symmetric and sums to 1.",
    ]
    write(a.out, tables, header)
    print(f"wrote {a.out}: {len(tables)} tables", file=sys.stderr)


if __name__ == "__main__":
    main()
