#!/usr/bin/python3
"""Another code for the local region, measured against the uniform
boundaries: the region's first cell uniform over the n m cells, then the
path until an end state that follows a match column with probability eps
(every transition out of M times 1 - eps); the path fixes the region's
end, so only paths running past a sequence's end waste code space. With
several eps, each at an equal share of the prior, the summed message adds
their probabilities. At the local distance proto_eval.py chose.

    bench/context/alt_code.py CACHE [--shared DIR] [--sets context,domains]

Writes CACHE/proto/<set>_<local|auto>-altcode.tsv (the mixture's numbers) for
context_bench.py --extra.
"""
import argparse
import math
import os
import pickle
import sys

import numpy as np

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import context_bench as cb  # noqa: E402
import lochyp as lh  # noqa: E402

EPS = [0.003, 0.01, 0.03]


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("cache")
    ap.add_argument("--shared", default=os.path.join(HERE, "..", "..", "..", "shared", "bench"))
    ap.add_argument("--sets", default="context,domains")
    a = ap.parse_args()
    model = lh.Model(os.path.join(a.cache, "costs_posterior.txt"))
    for set_name in a.sets.split(","):
        pairs = cb.load_set(a.shared, set_name)
        path = os.path.join(a.cache, "proto", f"{set_name}_altcode.pkl")
        done = pickle.load(open(path, "rb")) if os.path.exists(path) else {}
        for p in pairs:
            if p["pair_id"] in done:
                continue
            r = pickle.load(open(os.path.join(a.cache, "proto", set_name, p["pair_id"] + ".pkl"), "rb"))
            n, m = len(p["s"]), len(p["t"])
            lens = {}
            for eps in EPS:
                q = lh.Pair(model, p["s"], p["t"], r["Kl"])
                q.trans[lh.M, :] += -math.log(1 - eps)
                _, z = lh.forward(q, local=True, keep=False)
                lens[eps] = r["null"] + lh.LN1000 + math.log(n * m) - z - math.log(eps)
            mix = -np.logaddexp.reduce([-(x + math.log(len(EPS))) for x in lens.values()])
            done[p["pair_id"]] = {"uniform": r["Ll"], "mix": float(mix), **lens, "null": r["null"], "Lg": r["Lg"]}
        with open(path + ".tmp", "wb") as f:
            pickle.dump(done, f)
        os.replace(path + ".tmp", path)
        rel = [p for p in pairs if p["related"]]
        neg = [p for p in pairs if not p["related"]]
        for key in ["uniform"] + EPS + ["mix"]:
            for hyp in ("local", "auto"):
                def bits(p):
                    d = done[p["pair_id"]]
                    L = d[key] if hyp == "local" else -np.logaddexp(-(d[key] + lh.LN2), -(d["Lg"] + lh.LN2))
                    return (d["null"] - L) / lh.LN2
                pos, ng = [bits(p) for p in rel], [bits(p) for p in neg]
                if key == "mix":
                    with open(os.path.join(a.cache, "proto", f"{set_name}_{hyp}-altcode.tsv"), "w") as f:
                        f.write("pair_id\trow_s\trow_t\tnumber\tcalled\n")
                        for p in pairs:
                            f.write(f"{p['pair_id']}\t\t\t{bits(p)!r}\t{int(bits(p) > 0)}\n")
                print(f"{set_name} {hyp} code {key}: AUC {cb.auc(pos, ng):.3f}, related called related "
                      f"{sum(x > 0 for x in pos)} / {len(pos)}, unrelated {sum(x > 0 for x in ng)} / {len(ng)}")


if __name__ == "__main__":
    main()
