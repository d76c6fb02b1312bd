#!/usr/bin/python3
"""The verdicts of the global, local and automatic hypotheses with a simple
composition adjustment, with the prototype (lochyp.py): each sequence's own
residue composition is the background of both hypotheses (the null model and
the gap and flank residues), and the match joint at each distance is rescaled
by iterative proportional fitting to have those two compositions as its
marginals. Stating the compositions costs both hypotheses alike, so it drops
out of the compression. Each hypothesis searches its own distance.

    bench/context/comp_eval.py CACHE [--shared DIR] [--sets context,domains] [--jobs 2]

Writes CACHE/proto/<set>_<hypothesis>-composition.tsv (numbers only) for
context_bench.py --extra, and prints ROC AUC and called-related counts.
"""
import argparse
import multiprocessing
import os
import pickle
import sys

import numpy as np

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import context_bench as cb  # noqa: E402
import lochyp as lh  # noqa: E402

_MODEL = None


def composition(model, seq):
    q = np.bincount(model.idx(seq), minlength=20).astype(float)
    return q / q.sum()


def ipf(joint, rows, cols, rounds=100):
    j = joint.copy()
    for _ in range(rounds):
        r = j.sum(1)
        j *= np.divide(rows, r, out=np.zeros_like(r), where=r > 0)[:, None]
        c = j.sum(0)
        j *= np.divide(cols, c, out=np.zeros_like(c), where=c > 0)[None, :]
    return j


def adjusted_pair(model, s, t, K, qs, qt):
    p = lh.Pair(model, s, t, K)
    j = ipf(np.exp(-model.match[K]), qs, qt)
    with np.errstate(divide="ignore"):
        p.match = -np.log(j)[p.si][:, p.ti]
        p.gs, p.gt = -np.log(qs[p.si]), -np.log(qt[p.ti])
    return p


def work(args):
    p, path, costs = args
    global _MODEL
    if os.path.exists(path):
        return
    if _MODEL is None:
        _MODEL = lh.Model(costs)
    model, s, t = _MODEL, p["s"], p["t"]
    qs, qt = composition(model, s), composition(model, t)
    null = lh.wt_nits(len(s)) + lh.wt_nits(len(t)) - np.log(qs[model.idx(s)]).sum() - np.log(qt[model.idx(t)]).sum()

    def glob(k):
        _, z = lh.forward(adjusted_pair(model, s, t, k, qs, qt), local=False, keep=False)
        return -z + lh.LN1000 + lh.wt_nits(max(len(s), len(t)))

    def loc(k):
        _, z = lh.forward(adjusted_pair(model, s, t, k, qs, qt), local=True, keep=False)
        return null + lh.LN1000 + lh.boundary_nits(len(s), len(t)) - z
    kg, lg, _ = lh.search_distance(glob)
    kl, ll, _ = lh.search_distance(loc)
    out = {"null": float(null), "Lg": lg, "Ll": ll, "Kg": kg, "Kl": kl}
    with open(path + ".tmp", "wb") as f:
        pickle.dump(out, f)
    os.replace(path + ".tmp", path)


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("cache")
    ap.add_argument("--shared", default=os.path.join(HERE, "..", "..", "..", "shared", "bench"))
    ap.add_argument("--dumper", default=os.path.join(HERE, "..", "..", "build", "bench", "seqcorvane-dumpcosts"))
    ap.add_argument("--sets", default="context,domains")
    ap.add_argument("--jobs", type=int, default=2)
    a = ap.parse_args()
    lh.Model.load(a.dumper, None, "posterior", a.cache)
    costs = os.path.join(a.cache, "costs_posterior.txt")
    for set_name in a.sets.split(","):
        pairs = cb.load_set(a.shared, set_name)
        d = os.path.join(a.cache, "proto", set_name + "-composition")
        os.makedirs(d, exist_ok=True)
        order = sorted(pairs, key=lambda p: -len(p["s"]) * len(p["t"]))
        with multiprocessing.Pool(a.jobs) as pool:
            pool.map(work, [(p, os.path.join(d, p["pair_id"] + ".pkl"), costs) for p in order], chunksize=1)
        recs = {}
        for p in pairs:
            with open(os.path.join(d, p["pair_id"] + ".pkl"), "rb") as f:
                recs[p["pair_id"]] = pickle.load(f)
        for hyp in ("global", "local", "auto"):
            nums = {}
            for p in pairs:
                r = recs[p["pair_id"]]
                L = {"global": r["Lg"], "local": r["Ll"],
                     "auto": -np.logaddexp(-(r["Lg"] + lh.LN2), -(r["Ll"] + lh.LN2))}[hyp]
                nums[p["pair_id"]] = (r["null"] - L) / lh.LN2
            with open(os.path.join(a.cache, "proto", f"{set_name}_{hyp}-composition.tsv"), "w") as f:
                f.write("pair_id\trow_s\trow_t\tnumber\tcalled\n")
                for p in pairs:
                    f.write(f"{p['pair_id']}\t\t\t{nums[p['pair_id']]!r}\t{int(nums[p['pair_id']] > 0)}\n")
            pos = [nums[p["pair_id"]] for p in pairs if p["related"]]
            neg = [nums[p["pair_id"]] for p in pairs if not p["related"]]
            print(f"{set_name} {hyp}, composition-adjusted: AUC {cb.auc(pos, neg):.3f}, related called related "
                  f"{sum(x > 0 for x in pos)} / {len(pos)}, unrelated {sum(x > 0 for x in neg)} / {len(neg)}")


if __name__ == "__main__":
    main()
