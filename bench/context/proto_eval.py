#!/usr/bin/python3
"""The local hypothesis and the automatic choice, measured with the numpy
prototype (lochyp.py) on the context sets, their decoding chosen by
cross-validation over families.

    PYTHONPATH=build/python bench/context/proto_eval.py CACHE [--shared DIR]
        [--sets context,domains] [--jobs 2] [--folds 10] [--max-flank 5] [--out REPORT.md]

Per pair (cached in CACHE/proto/<set>/<pair_id>.pkl): the product's
posterior criterion (its distances, marginal message length, alignment);
the global posteriors at the product's decoding distance (end gaps priced
alike, as the product decodes); the local distance of least local marginal
message length and the local message length there; the local posteriors at
that distance (at the product's decoding distance where it reaches the top
of the range) and at the product's; the automatic choice's posteriors (the
two hypotheses' posteriors weighted by their marginal probabilities, each
hypothesis stated with ln 2); and every candidate decoding of them.

Writes CACHE/proto/<set>_<name>.tsv (held-out rows and numbers, for
context_bench.py --extra) and the report.
"""
import argparse
import csv
import math
import multiprocessing
import os
import pickle
import sys
import time
import zlib

import numpy as np

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import context_bench as cb  # noqa: E402
import lochyp as lh  # noqa: E402

W_GRID = [0.0, 0.05, 0.1, 0.25, 0.5, 1.0]
GAMMA_GRID = [0.2, 0.35, 0.5, 0.65, 0.8, 0.9]
BOX_W = [0.0, 0.05, 0.1, 0.25]


def region(inside, gamma):
    """The contiguous range maximising the sum of (inside - gamma); (0, 0) if none gains."""
    best, start, bestlo, besthi, run = 0.0, 0, 0, 0, 0.0
    for k, x in enumerate(inside - gamma):
        if run <= 0:
            run, start = 0.0, k
        run += x
        if run > best:
            best, bestlo, besthi = run, start, k + 1
    return bestlo, besthi


def decode_all(post, boxes=True):
    """Every candidate decoding: name -> path over the whole pair."""
    pair, _, _, inS, inT = post
    n, m = pair.shape
    # the posterior of each residue being unpaired: outside the region or in a gap column
    unS, unT = np.clip(1 - pair.sum(1), 0, 1), np.clip(1 - pair.sum(0), 0, 1)
    out = {}
    for w in W_GRID:
        out[f"mea w={w:g}"] = lh.mea(pair, unS, unT, w)
    for g in GAMMA_GRID if boxes else []:
        a, b = region(inS, g)
        c, d = region(inT, g)
        for w in BOX_W:
            if b <= a or d <= c:
                out[f"box g={g:g} w={w:g}"] = "d" * n + "i" * m
                continue
            inner = lh.mea(pair[a:b, c:d], unS[a:b], unT[c:d], w)
            out[f"box g={g:g} w={w:g}"] = "d" * a + "i" * c + inner + "d" * (n - b) + "i" * (m - d)
    return out


def score_path(p, path):
    got = set(lh.pairs_of_path(path))
    ref = cb.matched(p["row_s"], p["row_t"], p["mask"])
    (a, b), (c, d) = p["ds"], p["dt"]
    fl = sum(1 for i, j in got if not (a <= i < b and c <= j < d))
    return (len(ref & got) / len(ref) if ref else None), len(got), fl


_MODEL = None


def work(args):
    p, cache, dumper = args
    path = os.path.join(cache, p["pair_id"] + ".pkl")
    if os.path.exists(path):
        return
    import seqcorvane
    global _MODEL
    if _MODEL is None:
        _MODEL = lh.Model(os.path.join(os.path.dirname(os.path.dirname(cache)), "costs_posterior.txt"))
    model = _MODEL
    started = time.process_time()
    s, t = p["s"], p["t"]
    r = seqcorvane.align(s, t, criterion="posterior", threads=1)
    null = model.null_len(s) + model.null_len(t)
    Lg = r.marginal_bits * lh.LN2
    cache_l = {}

    def lcost(k):
        if k not in cache_l:
            cache_l[k] = lh.local_marginal(model, s, t, k)
        return cache_l[k]
    kl, Ll, passes = lh.search_distance(lcost)
    out = {"pair_id": p["pair_id"], "K_global": r.K, "K_global_marginal": r.marginal_K, "Lg": Lg, "null": null,
           "Kl": kl, "Ll": Ll, "passes": passes, "product_path": r.path, "product_bits": r.compression_bits}
    # the automatic choice, each hypothesis stated with ln 2
    la, lb = -(Lg + lh.LN2), -(Ll + lh.LN2)
    Lauto = -np.logaddexp(la, lb)
    wl = math.exp(lb + Lauto)
    out.update(Lauto=Lauto, wl=wl)
    results = {}
    if p["related"]:
        g = lh.posteriors(lh.Pair(model, s, t, r.K, end_alike=True), local=False)
        k_dec = kl if kl < 999 else r.K
        out["K_local_decode"] = k_dec
        loc = lh.posteriors(lh.Pair(model, s, t, k_dec), local=True)
        loc_g = loc if k_dec == r.K else lh.posteriors(lh.Pair(model, s, t, r.K), local=True)
        mix = (wl * loc.pair + (1 - wl) * g.pair, wl * loc.unS + (1 - wl) * g.unS, wl * loc.unT + (1 - wl) * g.unT,
               wl * loc.inS + (1 - wl), wl * loc.inT + (1 - wl))
        for hyp, post in (("local", (loc.pair, loc.unS, loc.unT, loc.inS, loc.inT)),
                          ("local at the global distance", (loc_g.pair, loc_g.unS, loc_g.unT, loc_g.inS, loc_g.inT)),
                          ("auto", mix),
                          ("global", (g.pair, g.unS, g.unT, g.inS, g.inT))):
            paths = decode_all(post, boxes=hyp != "global")
            results[hyp] = {name: (score_path(p, path), path) for name, path in paths.items()}
        results["product"] = {"product": (score_path(p, r.path), r.path)}
    out["results"] = results
    out["cpu"] = time.process_time() - started
    with open(path + ".tmp", "wb") as f:
        pickle.dump(out, f)
    os.replace(path + ".tmp", path)


def fold_of(p, folds):
    return zlib.crc32(f"twilight/{p['family']}".encode()) % folds


def summarise(recs, hyp, name):
    devs = [x["results"][hyp][name][0][0] for x in recs]
    devs = [d for d in devs if d is not None]
    al = sum(x["results"][hyp][name][0][1] for x in recs)
    fl = sum(x["results"][hyp][name][0][2] for x in recs)
    return sum(devs) / len(devs), 100.0 * fl / al if al else 0.0


def choose(recs, hyp, max_flank):
    """The decoding of the highest dev among those with flank% <= max_flank (else the least flank%)."""
    names = list(recs[0]["results"][hyp])
    scored = [(summarise(recs, hyp, n), n) for n in names]
    ok = [x for x in scored if x[0][1] <= max_flank]
    if ok:
        return max(ok, key=lambda x: x[0][0])[1]
    return min(scored, key=lambda x: x[0][1])[1]


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("cache")
    ap.add_argument("--shared", default=os.path.join(HERE, "..", "..", "..", "shared", "bench"))
    ap.add_argument("--dumper", default=os.path.join(HERE, "..", "..", "build", "bench", "seqcorvane-dumpcosts"))
    ap.add_argument("--sets", default="context,domains")
    ap.add_argument("--jobs", type=int, default=2)
    ap.add_argument("--folds", type=int, default=10)
    ap.add_argument("--max-flank", type=float, default=5.0)
    ap.add_argument("--out")
    a = ap.parse_args()
    log = lambda m: print(m, file=sys.stderr, flush=True)  # noqa: E731
    lh.Model.load(a.dumper, None, "posterior", a.cache)
    report, chosen_on = [], None
    for set_name in a.sets.split(","):
        pairs = cb.load_set(a.shared, set_name)
        d = os.path.join(a.cache, "proto", set_name)
        os.makedirs(d, exist_ok=True)
        started = time.time()
        order = sorted(pairs, key=lambda p: -len(p["s"]) * len(p["t"]))  # the longest first
        with multiprocessing.Pool(a.jobs) as pool:
            for k, _ in enumerate(pool.imap_unordered(work, [(p, d, a.dumper) for p in order])):
                if (k + 1) % 50 == 0:
                    log(f"{set_name}: {k + 1} of {len(pairs)} pairs, {time.time() - started:.0f} s")
        recs = {}
        for p in pairs:
            with open(os.path.join(d, p["pair_id"] + ".pkl"), "rb") as f:
                recs[p["pair_id"]] = pickle.load(f)
        lines, chosen_on = evaluate(set_name, pairs, recs, a, chosen_on if set_name != "context" else None)
        report += lines
    text = "\n".join(report) + "\n"
    if a.out:
        with open(a.out + ".tmp", "w") as f:
            f.write(text)
        os.replace(a.out + ".tmp", a.out)
    print(text)


def evaluate(set_name, pairs, recs, a, given=None):
    """The report's lines for a set, and the decodings chosen per (hypothesis, cap, fold); with given
    (the choices made on the context pairs), those are applied instead of choosing on this set."""
    rel = [p for p in pairs if p["related"]]
    rrecs = [recs[p["pair_id"]] for p in rel]
    out = [f"### Prototype on {set_name}\n"]
    # numbers of each hypothesis
    nums = {
        "global (product)": {p["pair_id"]: (recs[p["pair_id"]]["null"] - recs[p["pair_id"]]["Lg"]) / lh.LN2 for p in pairs},
        "local": {p["pair_id"]: (recs[p["pair_id"]]["null"] - recs[p["pair_id"]]["Ll"]) / lh.LN2 for p in pairs},
        "auto": {p["pair_id"]: (recs[p["pair_id"]]["null"] - recs[p["pair_id"]]["Lauto"]) / lh.LN2 for p in pairs},
    }
    out.append("| hypothesis (marginal) | AUC | related called related | unrelated called related |")
    out.append("|---|---:|---:|---:|")
    neg = [p for p in pairs if not p["related"]]
    for name, v in nums.items():
        pos_v, neg_v = [v[p["pair_id"]] for p in rel], [v[p["pair_id"]] for p in neg]
        out.append(f"| {name} | {cb.auc(pos_v, neg_v):.3f} | {sum(x > 0 for x in pos_v)} / {len(pos_v)} | "
                   f"{sum(x > 0 for x in neg_v)} / {len(neg_v)} |")
    out.append("")
    kl = [recs[p["pair_id"]]["Kl"] for p in pairs]
    out.append(f"Local distance at the top of the range (>= 999): {sum(k >= 999 for k in kl)} of {len(pairs)} "
               f"pairs ({sum(recs[p['pair_id']]['Kl'] >= 999 for p in rel)} related). Passes per local search: "
               f"mean {sum(recs[p['pair_id']]['passes'] for p in pairs) / len(pairs):.1f}. Weight of the local "
               f"hypothesis in the automatic choice above 0.5: {sum(recs[p['pair_id']]['wl'] > 0.5 for p in rel)} "
               f"of {len(rel)} related pairs.\n")
    # every decoding on all pairs (in-sample): the trade-off
    out.append("Every decoding on all related pairs (in-sample; dev / flank%):\n")
    hyps = [h for h in rrecs[0]["results"] if h != "product"]
    names = list(rrecs[0]["results"]["local"])
    out.append("| decoding | " + " | ".join(hyps) + " |")
    out.append("|---|" + "---:|" * len(hyps))
    for n in names:
        out.append(f"| {n} | " + " | ".join("{:.3f} / {:.1f}".format(*summarise(rrecs, h, n))
                                            if n in rrecs[0]["results"][h] else "-" for h in hyps) + " |")
    d0, f0 = summarise(rrecs, "product", "product")
    out.append(f"| product's posterior alignment | {d0:.3f} / {f0:.1f} | | | |")
    out.append("")
    # cross-validation over families, at several caps on flank%
    folds = {p["pair_id"]: fold_of(p, a.folds) for p in rel}
    out.append("Decoding chosen on the training folds (the highest dev with flank% at most the cap there), "
               "measured on the held-out fold; the held-out folds pooled:\n")
    out.append("| hypothesis | cap | held-out dev | held-out flank% | dev per fold | chosen per fold |")
    out.append("|---|---:|---:|---:|---|---|")
    held_at, choices = {}, {}
    if given:
        out[-3] = "Decodings chosen on the training folds of the context pairs, applied to the same folds here:\n"
    for hyp in [h for h in ("local", "auto", "auto with null") if h in rrecs[0]["results"]]:
        for cap in (2.0, a.max_flank, 10.0, 20.0, 100.0):
            chosen, held = [], {}
            for f in range(a.folds):
                train = [recs[p["pair_id"]] for p in rel if folds[p["pair_id"]] != f]
                name = given[(hyp, cap, f)] if given else choose(train, hyp, cap)
                choices[(hyp, cap, f)] = name
                chosen.append(name)
                for p in rel:
                    if folds[p["pair_id"]] == f:
                        held[p["pair_id"]] = recs[p["pair_id"]]["results"][hyp][name]
            devs = [held[p["pair_id"]][0][0] for p in rel if held[p["pair_id"]][0][0] is not None]
            al = sum(held[p["pair_id"]][0][1] for p in rel)
            fl = sum(held[p["pair_id"]][0][2] for p in rel)
            per_fold = []
            for f in range(a.folds):
                v = [held[p["pair_id"]][0][0] for p in rel
                     if folds[p["pair_id"]] == f and held[p["pair_id"]][0][0] is not None]
                per_fold.append(sum(v) / len(v) if v else float("nan"))
            names = sorted(set(chosen), key=chosen.index)
            out.append(f"| {hyp} | {cap:g} | {sum(devs) / len(devs):.3f} | {100.0 * fl / max(al, 1):.1f} | " +
                       ", ".join(f"{x:.3f}" for x in per_fold) + " | " +
                       "; ".join(f"{n} ({chosen.count(n)})" for n in names) + " |")
            held_at[(hyp, cap)] = held
    out.append("")
    # the rows and numbers for the benchmark table: held out at the cap, and the fixed decodings
    policies = {"local": ("local", held_at[("local", a.max_flank)]),
                "auto": ("auto", held_at[("auto", a.max_flank)]),
                "auto-mea0": ("auto", {p["pair_id"]: recs[p["pair_id"]]["results"]["auto"]["mea w=0"] for p in rel}),
                "local-mea0": ("local", {p["pair_id"]: recs[p["pair_id"]]["results"]["local"]["mea w=0"] for p in rel})}
    for label, (hyp, held) in policies.items():
        path = os.path.join(a.cache, "proto", f"{set_name}_{label}.tsv")
        with open(path, "w") as fh:
            fh.write("pair_id\trow_s\trow_t\tnumber\tcalled\n")
            for p in pairs:
                num = nums[hyp][p["pair_id"]]
                rs = rt = ""
                if p["related"]:
                    rs, rt = rows_of(p["s"], p["t"], held[p["pair_id"]][1])
                fh.write(f"{p['pair_id']}\t{rs}\t{rt}\t{num!r}\t{int(num > 0)}\n")
    return out, choices


def rows_of(s, t, path):
    rs, rt, i, j = [], [], 0, 0
    for c in path:
        rs.append(s[i] if c != "i" else "-")
        rt.append(t[j] if c != "d" else "-")
        i += c != "i"
        j += c != "d"
    return "".join(rs), "".join(rt)


if __name__ == "__main__":
    main()
