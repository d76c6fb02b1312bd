#!/usr/bin/python3
"""Checks of the prototype (lochyp.py) by enumeration of every path on tiny
pairs, and against the product on real pairs.

    bench/context/check_prototype.py CACHE [--dumper build/bench/seqcorvane-dumpcosts] [--pairs N]

Enumeration: the global and local summed passes, their best paths and their
posteriors equal the sums over every path listed one by one; the local
prior over boundaries and paths sums to at most 1 for every pair of lengths.
Product: the global marginal message length at the product's marginal
distance and the posterior alignment at its decoding distance equal the
product's on N twilight pairs (needs the Python module on PYTHONPATH).
"""
import argparse
import csv
import itertools
import math
import os
import random
import sys

import numpy as np

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import lochyp as lh  # noqa: E402


def paths(ls, lt):
    """Every state string consuming exactly ls residues of S and lt of T."""
    if ls == 0 and lt == 0:
        yield ""
        return
    if ls > 0 and lt > 0:
        for p in paths(ls - 1, lt - 1):
            yield p + "m"
    if ls > 0:
        for p in paths(ls - 1, lt):
            yield p + "d"
    if lt > 0:
        for p in paths(ls, lt - 1):
            yield p + "i"


ST = {"m": 0, "d": 1, "i": 2}


def global_cost(p, path):
    i = j = 0
    c, prev = lh.LN3, None
    for x in path:
        s = ST[x]
        if prev is not None:
            c += p.trans[prev, s]
        if x == "m":
            c += p.match[i, j]
        elif x == "d":
            c += p.gs[i]
        else:
            c += p.gt[j]
        i += x != "i"
        j += x != "d"
        prev = s
    return c - p.end_disc[prev]


def local_paths(n, m):
    """(a, c, path): the region starting at residues a of S and c of T, its path
    starting and ending with a match."""
    for a in range(n):
        for b in range(a + 1, n + 1):
            for c in range(m):
                for d in range(c + 1, m + 1):
                    for path in paths(b - a, d - c):
                        if path[0] == "m" and path[-1] == "m":
                            yield a, c, path


def local_logodds(p, a, c, path):
    i, j = a, c
    cost, prev = 0.0, None
    for x in path:
        s = ST[x]
        if prev is not None:
            cost += p.trans[prev, s]
        if x == "m":
            cost += p.match[i, j] - p.gs[i] - p.gt[j]
        i += x != "i"
        j += x != "d"
        prev = s
    return cost


def prior_mass(p, path):
    """The probability the region's code gives a path: the first state given, then the transitions."""
    c, prev = 0.0, None
    for x in path:
        if prev is not None:
            c += p.trans[prev, ST[x]]
        prev = ST[x]
    return math.exp(-c)


def enumerate_checks(model):
    rng = random.Random(5)
    worst = 0.0
    for trial in range(12):
        n, m = rng.randint(1, 4), rng.randint(1, 4)
        s = "".join(rng.choice(lh.ALPHABET) for _ in range(n))
        t = "".join(rng.choice(lh.ALPHABET) for _ in range(m))
        K = rng.choice([5, 60, 250, 900])
        for alike in (False, True):
            p = lh.Pair(model, s, t, K, end_alike=alike)
            costs = {path: global_cost(p, path) for path in paths(n, m)}
            zsum = np.logaddexp.reduce([-c for c in costs.values()])
            _, z = lh.forward(p, local=False, keep=False)
            _, zb = lh.forward(p, local=False, keep=False, best=True)
            worst = max(worst, abs(z - zsum), abs(zb + min(costs.values())))
            post = lh.posteriors(p, local=False)
            pm = np.zeros((n, m))
            for path, c in costs.items():
                for (i, j) in lh.pairs_of_path(path):
                    pm[i, j] += math.exp(-c - z)
            worst = max(worst, float(np.abs(post.pair - pm).max()))
            worst = max(worst, float(np.abs(post.inS - 1).max()), float(np.abs(post.inT - 1).max()))
        p = lh.Pair(model, s, t, K)
        loc = [(a, c, path, local_logodds(p, a, c, path)) for a, c, path in local_paths(n, m)]
        zsum = np.logaddexp.reduce([-x[3] for x in loc])
        _, z = lh.forward(p, local=True, keep=False)
        _, zb = lh.forward(p, local=True, keep=False, best=True)
        worst = max(worst, abs(z - zsum), abs(zb + min(x[3] for x in loc)))
        F, _ = lh.forward(p, local=True, best=True)
        route, a0, c0 = lh.traceback_local(p, F)
        worst = max(worst, abs(local_logodds(p, a0, c0, route) - min(x[3] for x in loc)))
        post = lh.posteriors(p, local=True)
        pm, ins = np.zeros((n, m)), np.zeros(n)
        for a, c, path, cost in loc:
            pr = math.exp(-cost - z)
            for (i, j) in lh.pairs_of_path(path, a, c):
                pm[i, j] += pr
            ins[a:a + sum(x != "i" for x in path)] += pr
        worst = max(worst, float(np.abs(post.pair - pm).max()), float(np.abs(post.inS - ins).max()))
        # the local message length against the sum over every region and path
        msg = lh.local_marginal(model, s, t, K)
        direct = -np.logaddexp.reduce([-(model.null_len(s) + model.null_len(t) + lh.LN1000 + lh.boundary_nits(n, m)
                                         + x[3]) for x in loc])
        worst = max(worst, abs(msg - direct))
    print(f"enumeration: global and local sums, best paths (local: traced back) and posteriors agree within {worst:.2e} nits")
    # the prior: for each pair of lengths, the region's boundaries times its paths sum to at most 1
    p = lh.Pair(model, "A", "A", 250)
    most, masses = 0.0, {}
    for n, m in itertools.product(range(1, 6), range(1, 6)):
        mass = 0.0
        for a in range(n):
            for b in range(a + 1, n + 1):
                for c in range(m):
                    for d in range(c + 1, m + 1):
                        mass += sum(prior_mass(p, path) for path in paths(b - a, d - c)
                                    if path[0] == "m" and path[-1] == "m") / (n * (n + 1) / 2 * m * (m + 1) / 2)
        most = max(most, mass)
        masses[(n, m)] = mass
    print(f"prior over boundaries and paths: at most {most:.6f} for lengths up to 5 x 5 (K 250); 1 x 1: "
          f"{masses[(1, 1)]:.6f}, 2 x 2: {masses[(2, 2)]:.6f}, 5 x 5: {masses[(5, 5)]:.6f}, largest other than 1 x 1: "
          f"{max(v for k, v in masses.items() if k != (1, 1)):.6f}")
    return worst < 1e-9 and most <= 1.0


def product_checks(model, shared, npairs):
    import seqcorvane
    with open(os.path.join(shared, "twilight_pairs.tsv")) as f:
        rows = list(csv.DictReader(f, delimiter="\t"))
    rng = random.Random(3)
    rows = rng.sample(rows, npairs)
    pairs = [(r["row_s"].replace("-", ""), r["row_t"].replace("-", "")) for r in rows]
    res = seqcorvane.align_many(pairs, criterion="posterior")
    worst, same = 0.0, 0
    for (s, t), r in zip(pairs, res):
        mine = lh.global_marginal(model, s, t, r.marginal_K)
        worst = max(worst, abs(mine / lh.LN2 - r.marginal_bits))
        post = lh.posteriors(lh.Pair(model, s, t, r.K, end_alike=True), local=False)
        path = lh.mea(post.pair.astype(np.float32).astype(np.float64), post.unS, post.unT, 0.0)
        same += path == r.path
    print(f"product: marginal message length within {worst:.2e} bits on {npairs} pairs; "
          f"posterior alignment identical on {same} of {npairs}")
    return worst < 1e-6 and same == npairs


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("cache")
    ap.add_argument("--dumper", default=os.path.join(HERE, "..", "..", "build", "bench", "seqcorvane-dumpcosts"))
    ap.add_argument("--shared", default=os.path.join(HERE, "..", "..", "..", "shared", "bench"))
    ap.add_argument("--pairs", type=int, default=20)
    a = ap.parse_args()
    model = lh.Model.load(a.dumper, None, "posterior", a.cache)
    ok = enumerate_checks(model)
    ok = product_checks(model, a.shared, a.pairs) and ok
    sys.exit(0 if ok else 1)


if __name__ == "__main__":
    main()
