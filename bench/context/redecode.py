#!/usr/bin/python3
"""More decodings for the pairs proto_eval.py measured, at the distances it
chose (no search again): the unpaired weight counted only on the posterior
of a residue lying outside the region (flanks), with or without a weight on
the gaps inside it, for the local hypothesis, the automatic choice, and the
automatic choice with the null hypothesis in the mixture (a pair unlikely
to be related gets few aligned residues).

    bench/context/redecode.py CACHE [--shared DIR] [--sets context,domains] [--jobs 2]

Adds the results to CACHE/proto/<set>/<pair_id>.pkl (hypotheses "local",
"auto", "auto with null"; decodings "out w=..", "out w=.. gap v=..").
"""
import argparse
import math
import multiprocessing
import os
import pickle
import sys

import numpy as np

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import context_bench as cb  # noqa: E402
import lochyp as lh  # noqa: E402
from proto_eval import score_path  # noqa: E402

OUT_W = [0.25, 0.5, 1.0, 2.0, 4.0]
GAP_V = [0.0, 0.1]
_M = {}


def decodings(pair, inS, inT):
    out = {}
    unS, unT = np.clip(1 - pair.sum(1), 0, 1), np.clip(1 - pair.sum(0), 0, 1)
    outS, outT = np.clip(1 - inS, 0, 1), np.clip(1 - inT, 0, 1)
    for w in OUT_W:
        for v in GAP_V:
            # weight w on the residue's posterior of lying outside the region,
            # v on that of lying inside it unpaired (a gap column)
            qS = w * outS + v * np.clip(unS - outS, 0, 1)
            qT = w * outT + v * np.clip(unT - outT, 0, 1)
            out[f"out w={w:g} gap v={v:g}"] = lh.mea(pair, qS, qT, 1.0)
    return out


def work(args):
    p, path, costs = args
    if not _M:
        _M["m"] = lh.Model(costs)
    with open(path, "rb") as f:
        r = pickle.load(f)
    if "auto with null" in r["results"] or not p["related"]:
        return
    model, s, t = _M["m"], p["s"], p["t"]
    g = lh.posteriors(lh.Pair(model, s, t, r["K_global"], end_alike=True), local=False)
    loc = lh.posteriors(lh.Pair(model, s, t, r["K_local_decode"]), local=True)
    wl = r["wl"]
    # with the null hypothesis (no pair aligned, every residue outside): each
    # hypothesis at a third of the prior
    ln = -np.logaddexp.reduce([-r["null"], -r["Lg"], -r["Ll"]])
    wn3, wg3, wl3 = (math.exp(-x + ln) for x in (r["null"], r["Lg"], r["Ll"]))
    sets = {
        "local": (loc.pair, loc.inS, loc.inT),
        "auto": (wl * loc.pair + (1 - wl) * g.pair, wl * loc.inS + (1 - wl), wl * loc.inT + (1 - wl)),
        "auto with null": (wl3 * loc.pair + wg3 * g.pair, wl3 * loc.inS + wg3, wl3 * loc.inT + wg3),
    }
    for hyp, (pair, inS, inT) in sets.items():
        for name, route in decodings(pair, inS, inT).items():
            r["results"].setdefault(hyp, {})[name] = (score_path(p, route), route)
    r["results"]["auto with null"]["mea w=0"] = (score_path(p, lh.mea(sets["auto with null"][0], 0 * inS, 0 * inT, 0.0)), "")
    r["w3"] = (wn3, wg3, wl3)
    with open(path + ".tmp", "wb") as f:
        pickle.dump(r, f)
    os.replace(path + ".tmp", path)


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("cache")
    ap.add_argument("--shared", default=os.path.join(HERE, "..", "..", "..", "shared", "bench"))
    ap.add_argument("--sets", default="context,domains")
    ap.add_argument("--jobs", type=int, default=2)
    a = ap.parse_args()
    for set_name in a.sets.split(","):
        pairs = [p for p in cb.load_set(a.shared, set_name) if p["related"]]
        d = os.path.join(a.cache, "proto", set_name)
        order = sorted(pairs, key=lambda p: -len(p["s"]) * len(p["t"]))
        with multiprocessing.Pool(a.jobs) as pool:
            pool.map(work, [(p, os.path.join(d, p["pair_id"] + ".pkl"), os.path.join(a.cache, "costs_posterior.txt"))
                            for p in order], chunksize=1)
        print(f"{set_name}: done", file=sys.stderr)


if __name__ == "__main__":
    main()
