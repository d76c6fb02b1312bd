#!/usr/bin/python3
"""The weight of a residue left unpaired under the local hypothesis
(PosteriorOptions.regionUnpairedWeight) against dev and flank%: the
posterior criterion's local and automatic alignments of both sets at every
weight (seqcorvane-posteriorsweep: each pair's posteriors computed once),
the whole curve in-sample, and the weight chosen by cross-validation over
families (5 folds grouped by family; on the four training folds of the
context pairs the weight of the highest dev with flank% at most the cap,
measured on the held-out fold; the domains' pairs take the weight chosen for
their fold). Writes a Markdown report.

    bench/context/weight_sweep.py CACHE [--shared DIR] [--sweep build/bench/seqcorvane-posteriorsweep]
        [--weights 0,0.05,...] [--caps 2,5,10,20] [--jobs 2] [--out REPORT.md]

The program's output is cached as CACHE/sweep/<set>.tsv (delete it to
recompute, e.g. for other weights).
"""
import argparse
import os
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import context_bench as cb  # noqa: E402

WEIGHTS = "0,0.05,0.1,0.25,0.5,0.6,0.7,0.8,0.9,1,1.25,1.5,2,3,4"
FOLDS = 5


def run_sweep(binary, pairs, weights, jobs, path):
    """The program over the pairs in `jobs` processes; its lines in path."""
    if os.path.exists(path):
        return
    os.makedirs(os.path.dirname(path), exist_ok=True)
    chunks = [pairs[k::jobs] for k in range(jobs)]
    procs = []
    for k, chunk in enumerate(chunks):
        out = open(f"{path}.{k}.tmp", "w")
        p = subprocess.Popen([binary, "--weights", weights], stdin=subprocess.PIPE, stdout=out, text=True,
                             env=dict(os.environ, SEQCORVANE_THREADS="1"))
        procs.append((p, out, chunk))
    for p, out, chunk in procs:
        p.stdin.write("".join(f"{q['pair_id']}\t{q['s']}\t{q['t']}\n" for q in chunk))
        p.stdin.close()
    for p, out, _ in procs:
        if p.wait() != 0:
            sys.exit(f"weight_sweep.py: {binary} failed")
        out.close()
    with open(path + ".tmp", "w") as f:
        for k in range(jobs):
            with open(f"{path}.{k}.tmp") as g:
                f.write(g.read())
            os.remove(f"{path}.{k}.tmp")
    os.replace(path + ".tmp", path)


def read_sweep(path):
    """{(mode, weight): {pair_id: result}}."""
    out = {}
    with open(path) as f:
        for line in f:
            pid, mode, w, bits, share, rs, rt = line.rstrip("\n").split("\t")
            out.setdefault((mode, float(w)), {})[pid] = {"row_s": rs, "row_t": rt, "number": float(bits),
                                                         "called": float(bits) > 0, "share": float(share)}
    return out


def folds_by_family(pairs):
    """Fold of each family: the families by size, largest first, each to the
    fold with the fewest related pairs so far (ties: the lowest fold)."""
    size = {}
    for p in pairs:
        if p["related"]:
            size[p["family"]] = size.get(p["family"], 0) + 1
    load, fold = [0] * FOLDS, {}
    for fam in sorted(size, key=lambda f: (-size[f], f)):
        k = min(range(FOLDS), key=lambda x: (load[x], x))
        fold[fam] = k
        load[k] += size[fam]
    return fold, load


def dev_flank(pairs, res):
    """Sums over the related pairs: (sum of dev, pairs with a dev, aligned pairs, of them in flanks)."""
    sd = nd = tot = fl = 0
    for p in pairs:
        if not p["related"]:
            continue
        r = res[p["pair_id"]]
        d = cb.dev_of(p, r["row_s"], r["row_t"])
        if d is not None:
            sd, nd = sd + d, nd + 1
        a, b = cb.flank_of(p, r["row_s"], r["row_t"])
        tot, fl = tot + a, fl + b
    return sd, nd, tot, fl


def dev_bins(pairs, res):
    """Mean dev of the related pairs held in res, and by identity bin."""
    bins = {b: [] for b in cb.BINS}
    every = []
    for p in pairs:
        if p["related"] and p["pair_id"] in res:
            d = cb.dev_of(p, res[p["pair_id"]]["row_s"], res[p["pair_id"]]["row_t"])
            if d is None:
                continue
            every.append(d)
            for lo, hi in cb.BINS:
                if lo <= p["identity"] < hi:
                    bins[(lo, hi)].append(d)
    return sum(every) / len(every), {b: sum(v) / len(v) for b, v in bins.items() if v}


def summary(s):
    sd, nd, tot, fl = s
    return sd / nd, 100.0 * fl / tot if tot else 0.0


def add(a, b):
    return tuple(x + y for x, y in zip(a, b))


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("cache")
    ap.add_argument("--shared", default=os.path.join(HERE, "..", "..", "..", "shared", "bench"))
    ap.add_argument("--sweep", default=os.path.join(HERE, "..", "..", "build", "bench", "seqcorvane-posteriorsweep"))
    ap.add_argument("--weights", default=WEIGHTS)
    ap.add_argument("--caps", default="2,3,4,5,7.5,10,15,20,50")
    ap.add_argument("--jobs", type=int, default=2)
    ap.add_argument("--out")
    a = ap.parse_args()
    started = time.time()
    weights = [float(x) for x in a.weights.split(",")]
    caps = [float(x) for x in a.caps.split(",")]
    sets, sweeps = {}, {}
    for name in ("context", "domains"):
        sets[name] = cb.load_set(a.shared, name)
        path = os.path.join(a.cache, "sweep", name + ".tsv")
        print(f"{name}: sweep", file=sys.stderr, flush=True)
        run_sweep(a.sweep, sets[name], a.weights, a.jobs, path)
        sweeps[name] = read_sweep(path)
    ctx, dom = sets["context"], sets["domains"]
    fold, load = folds_by_family(ctx)
    rep = [f"## The weight of a residue left unpaired under the local hypothesis ({time.strftime('%Y-%m-%d')})\n",
           f"Folds: {FOLDS} by family (related context pairs per fold: {', '.join(map(str, load))}).\n"]
    for mode in ("local", "auto"):
        # the whole curve, in-sample
        rep.append(f"### {mode}: dev and flank% at each weight (in-sample)\n")
        rep.append("| weight | context dev | context flank% | domains dev | " +
                   " | ".join(f"domains {lo}-{min(hi, 100)}%" for lo, hi in cb.BINS) + " |")
        rep.append("|---:|---:|---:|---:|" + "---:|" * len(cb.BINS))
        per_fold = {}
        for w in weights:
            res_c, res_d = sweeps["context"][(mode, w)], sweeps["domains"][(mode, w)]
            d, f = summary(dev_flank(ctx, res_c))
            dd, db = dev_bins(dom, res_d)
            rep.append(f"| {w:g} | {d:.3f} | {f:.1f} | {dd:.3f} | " + " | ".join(f"{db[b]:.4f}" for b in cb.BINS) + " |")
            for k in range(FOLDS):
                per_fold[(w, k)] = dev_flank([p for p in ctx if p["related"] and fold[p["family"]] == k], res_c)
        first = sweeps["context"][(mode, weights[0])]
        m = cb.measures(ctx, first)
        md = cb.measures(dom, sweeps["domains"][(mode, weights[0])])
        rep.append(f"\nVerdicts (the same at every weight): context AUC {m['auc']:.3f}, related called "
                   f"{m['called_rel']} / {m['n_rel']}, unrelated called {m['called_neg']} / {m['n_neg']}; domains "
                   f"AUC {md['auc']:.3f}, related called {md['called_rel']} / {md['n_rel']}, unrelated called "
                   f"{md['called_neg']} / {md['n_neg']}.\n")
        # cross-validation over families
        rep.append(f"### {mode}: the weight chosen on four folds, measured on the fifth\n")
        rep.append("| cap on flank% | held-out context dev | held-out flank% | domains dev (held out) | " +
                   " | ".join(f"domains {lo}-{min(hi, 100)}%" for lo, hi in cb.BINS) + " | weights chosen |")
        rep.append("|---:|---:|---:|---:|" + "---:|" * len(cb.BINS) + "---|")
        for cap in caps:
            held, chosen, dom_res, unmet = (0, 0, 0, 0), [], {}, 0
            for k in range(FOLDS):
                scored = []  # (meets the cap, dev or -flank%, weight) on the training folds
                for w in weights:
                    train = (0, 0, 0, 0)
                    for j in range(FOLDS):
                        if j != k:
                            train = add(train, per_fold[(w, j)])
                    d, f = summary(train)
                    # the highest dev within the cap; if no weight meets it, the least flank%
                    scored.append((f <= cap, d if f <= cap else -f, w))
                best = max(scored, key=lambda x: (x[0], x[1], -x[2]))
                w = best[2]
                unmet += not best[0]
                chosen.append(w)
                held = add(held, per_fold[(w, k)])
                for p in dom:
                    if p["related"] and fold[p["family"]] == k:
                        dom_res[p["pair_id"]] = sweeps["domains"][(mode, w)][p["pair_id"]]
            d, f = summary(held)
            dd, db = dev_bins(dom, dom_res)
            counts = {w: chosen.count(w) for w in sorted(set(chosen))}
            note = f"; on {unmet} folds no weight meets the cap: the least flank%" if unmet else ""
            rep.append(f"| {cap:g} | {d:.3f} | {f:.2f} | {dd:.3f} | " + " | ".join(f"{db[b]:.4f}" for b in cb.BINS) + " | " +
                       ", ".join(f"{w:g} ({n})" for w, n in counts.items()) + note + " |")
        rep.append("")
    rep.append(f"Run time {time.time() - started:.0f} s.\n")
    text = "\n".join(rep) + "\n"
    if a.out:
        with open(a.out, "w") as f:
            f.write(text)
    print(text)


if __name__ == "__main__":
    main()
