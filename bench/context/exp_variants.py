#!/usr/bin/python3
"""Variants of the local hypothesis's model, measured on a subset of the
related context pairs (every fourth below 30% identity) with the decodings
of most expected accuracy at every unpaired weight: does the trade-off of
dev against flank% move?

    bench/context/exp_variants.py CACHE [--shared DIR] [--jobs 2]

  base       the posterior criterion's model (as proto_eval.py)
  open1      the gap opening not scaled (the priors' own)
  comp       each sequence's composition as background, the match joint
             rescaled to it (comp_eval.py)
  beta1.5    posteriors of all costs times 1.5 (sharper), the distance as base
"""
import argparse
import multiprocessing
import os
import pickle
import sys

import numpy as np

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import comp_eval as ce  # noqa: E402
import context_bench as cb  # noqa: E402
import lochyp as lh  # noqa: E402
from proto_eval import W_GRID, score_path  # noqa: E402

VARIANTS = ["open1", "comp", "beta1.5"]  # base: from proto_eval.py's results
_M = {}


def pair_of(variant, s, t, K):
    model, opt = _M["post"], _M["opt"]
    if variant == "comp":
        return ce.adjusted_pair(model, s, t, K, ce.composition(model, s), ce.composition(model, t))
    p = lh.Pair(model, s, t, K)
    if variant == "open1":
        p.trans = opt.trans[K].copy()
    return p


def work(args):
    p, cache = args
    path = os.path.join(cache, p["pair_id"] + ".pkl")
    if os.path.exists(path):
        return
    if not _M:
        _M["post"] = lh.Model(os.path.join(os.path.dirname(cache), "..", "costs_posterior.txt"))
        _M["opt"] = lh.Model(os.path.join(os.path.dirname(cache), "..", "costs_optimal.txt"))
    out = {}
    for v in VARIANTS:
        base = "base" if v == "beta1.5" else v

        def cost(k):
            _, z = lh.forward(pair_of(base, p["s"], p["t"], k), local=True, keep=False)
            return -z
        K, _, _ = lh.search_distance(cost)
        q = pair_of(base, p["s"], p["t"], K)
        if v == "beta1.5":
            q.match, q.gs, q.gt, q.trans = q.match * 1.5, q.gs * 1.5, q.gt * 1.5, q.trans * 1.5
        post = lh.posteriors(q, local=True)
        unS, unT = np.clip(1 - post.pair.sum(1), 0, 1), np.clip(1 - post.pair.sum(0), 0, 1)
        out[v] = {w: score_path(p, lh.mea(post.pair, unS, unT, w)) for w in W_GRID}
    with open(path + ".tmp", "wb") as f:
        pickle.dump(out, f)
    os.replace(path + ".tmp", path)


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("cache")
    ap.add_argument("--shared", default=os.path.join(HERE, "..", "..", "..", "shared", "bench"))
    ap.add_argument("--jobs", type=int, default=2)
    a = ap.parse_args()
    pairs = [p for p in cb.load_set(a.shared, "context") if p["related"] and p["identity"] < 30][::4]
    d = os.path.join(a.cache, "proto", "variants")
    os.makedirs(d, exist_ok=True)
    with multiprocessing.Pool(a.jobs) as pool:
        pool.map(work, [(p, d) for p in sorted(pairs, key=lambda p: -len(p["s"]) * len(p["t"]))], chunksize=1)
    recs = [pickle.load(open(os.path.join(d, p["pair_id"] + ".pkl"), "rb")) for p in pairs]
    for p, r in zip(pairs, recs):
        with open(os.path.join(a.cache, "proto", "context", p["pair_id"] + ".pkl"), "rb") as f:
            base = pickle.load(f)["results"]["local"]
        r["base"] = {w: base[f"mea w={w:g}"][0] for w in W_GRID}
    print(f"{len(pairs)} related context pairs below 30% identity (every fourth); dev / flank% by unpaired weight\n")
    print("| variant | " + " | ".join(f"w={w:g}" for w in W_GRID) + " |")
    print("|---|" + "---:|" * len(W_GRID))
    for v in ["base"] + VARIANTS:
        cells = []
        for w in W_GRID:
            d_ = [r[v][w][0] for r in recs if r[v][w][0] is not None]
            al = sum(r[v][w][1] for r in recs)
            fl = sum(r[v][w][2] for r in recs)
            cells.append(f"{np.mean(d_):.3f} / {100 * fl / max(al, 1):.1f}")
        print(f"| {v} | " + " | ".join(cells) + " |")


if __name__ == "__main__":
    main()
