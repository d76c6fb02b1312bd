#!/usr/bin/python3
"""The optimal criterion under the local hypothesis and the automatic choice
between it and today's, with the prototype (lochyp.py): the best local path
and its distance by the same alternation of estimation and best path as the
optimal criterion, with that criterion's model (substitution-model matches,
the priors' transitions).

    bench/context/opt_eval.py CACHE [--shared DIR] [--sets context,domains] [--jobs 2]

Reads the product's global optimal results from CACHE/bench/<set>/
seqcorvane-global-optimal (context_bench.py writes them) and writes
CACHE/proto/<set>_local-optimal.tsv and <set>_auto-optimal.tsv for
context_bench.py --extra: the automatic choice sends the shorter of the two
messages, each with ln 2 for stating which.
"""
import argparse
import multiprocessing
import os
import pickle
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import context_bench as cb  # noqa: E402
import lochyp as lh  # noqa: E402
from proto_eval import rows_of  # noqa: E402

_MODEL = None


def work(args):
    p, path, costs = args
    global _MODEL
    if os.path.exists(path):
        return
    if _MODEL is None:
        _MODEL = lh.Model(costs)
    msg, route, a, c, K = lh.local_optimal(_MODEL, p["s"], p["t"])
    n, m = len(p["s"]), len(p["t"])
    ls = sum(x != "i" for x in route)
    lt = sum(x != "d" for x in route)
    full = "d" * a + "i" * c + route + "d" * (n - a - ls) + "i" * (m - c - lt)
    out = {"msg": msg, "path": full, "K": K, "null": _MODEL.null_len(p["s"]) + _MODEL.null_len(p["t"])}
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
    lh.Model.load(a.dumper, None, "optimal", a.cache)
    costs = os.path.join(a.cache, "costs_optimal.txt")
    for set_name in a.sets.split(","):
        pairs = cb.load_set(a.shared, set_name)
        d = os.path.join(a.cache, "proto", set_name + "-optimal")
        os.makedirs(d, exist_ok=True)
        with multiprocessing.Pool(a.jobs) as pool:
            pool.map(work, [(p, os.path.join(d, p["pair_id"] + ".pkl"), costs) for p in pairs], chunksize=4)
        with open(os.path.join(a.cache, "proto", f"{set_name}_local-optimal.tsv"), "w") as fl, \
                open(os.path.join(a.cache, "proto", f"{set_name}_auto-optimal.tsv"), "w") as fa:
            for f in (fl, fa):
                f.write("pair_id\trow_s\trow_t\tnumber\tcalled\n")
            for p in pairs:
                with open(os.path.join(d, p["pair_id"] + ".pkl"), "rb") as f:
                    r = pickle.load(f)
                g = cb.read_result(cb.cache_path(os.path.join(a.cache, "bench"), set_name, "seqcorvane-global-optimal",
                                                 p["pair_id"]))
                loc_bits = (r["null"] - r["msg"]) / lh.LN2
                rs, rt = rows_of(p["s"], p["t"], r["path"])
                fl.write(f"{p['pair_id']}\t{rs}\t{rt}\t{loc_bits!r}\t{int(loc_bits > 0)}\n")
                # the shorter message, each stating its hypothesis with one bit
                auto_bits = max(loc_bits, g["number"]) - 1.0
                if loc_bits > g["number"]:
                    ar_s, ar_t = rs, rt
                else:
                    ar_s, ar_t = g["row_s"], g["row_t"]
                fa.write(f"{p['pair_id']}\t{ar_s}\t{ar_t}\t{auto_bits!r}\t{int(auto_bits > 0)}\n")
        print(f"{set_name}: done", file=sys.stderr)


if __name__ == "__main__":
    main()
