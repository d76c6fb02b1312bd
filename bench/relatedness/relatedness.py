#!/usr/bin/python3
"""The relatedness benchmark: how often each criterion's verdict calls
unrelated pairs related, and how well it separates related from unrelated
pairs, for the verdict with the null model's frequencies (plain) and the
verdict calibrated for composition.

  /usr/bin/python3 bench/relatedness/relatedness.py --build build --bench /work/shared/bench

(with the default counts, 400, 100, 16 and 3 pairs of each set at 100, 1,000,
3,000 and 10,000 residues, some half an hour on 2 cores).

Generated pairs (generators.py; the two sequences of a pair drawn
independently, both of the same length): uniform, null, shuffled, repeats,
tm, qrich, wchmy. Real pairs (from --bench): the released unrelated pairs, the
twilight and calibration related pairs. Per criterion (optimal, marginal,
posterior), set and length: the share of pairs called related (compression
> 0) and the largest compression, plain and calibrated; the posterior
criterion's verdict is the calibrated one (its plain compression is not in
the result), so only that one is printed for it. For the real sets: the share
called related and the ROC AUC of the compression, the related set against
the unrelated pairs. Then the verdicts against the targets. --jsonl keeps
every pair's figures.
"""
import argparse
import json
import os
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
TREE = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, HERE)
import generators  # noqa: E402

CRITERIA = ["optimal", "marginal", "posterior"]
# The criteria whose result gives the plain verdict beside the calibrated one.
PLAIN = ("optimal", "marginal")
DEFAULT_COUNTS = "100:400,1000:100,3000:16,10000:3"
REAL = ["unrelated", "twilight", "calibration"]

# Targets of the calibrated verdict.
MAX_SHARE = 0.01  # of unrelated pairs (generated or released) called related
MAX_BITS = 10.0  # largest compression of a generated pair
MIN_AUC = 0.885  # posterior criterion, twilight against unrelated pairs
MAX_DROP = 0.02  # loss of related pairs called related, against the verdict before calibration
# Share of the twilight and calibration pairs called related by each
# criterion's verdict before calibration (the null model's frequencies; the
# posterior criterion with its fitted tables), and the posterior criterion's
# ROC AUC of the twilight pairs then (bench/ACCURACY.md, "Relatedness").
BEFORE = {"optimal": (0.450, 0.906), "marginal": (0.655, 0.956), "posterior": (0.681, 0.962)}
BEFORE_AUC = 0.8828


def load_real(bench_dir, name):
    """(s, t) of a file of the reference sets."""
    pairs = []
    with open(os.path.join(bench_dir, name + "_pairs.tsv")) as fh:
        header = fh.readline().rstrip("\n").split("\t")
        for line in fh:
            f = dict(zip(header, line.rstrip("\n").split("\t")))
            if "seq_s" in f:
                pairs.append((f["seq_s"], f["seq_t"]))
            else:
                pairs.append((f["row_s"].replace("-", ""), f["row_t"].replace("-", "")))
    return pairs


def roc_auc(pos, neg):
    """P(a related pair's figure exceeds an unrelated one's), ties counted half."""
    ranked = sorted([(x, 1) for x in pos] + [(x, 0) for x in neg])
    rank_sum, k = 0.0, 0
    while k < len(ranked):
        m = k
        while m < len(ranked) and ranked[m][0] == ranked[k][0]:
            m += 1
        mid = (k + m + 1) / 2  # mean rank of the tie group, 1-based
        rank_sum += mid * sum(1 for x in ranked[k:m] if x[1] == 1)
        k = m
    return (rank_sum - len(pos) * (len(pos) + 1) / 2) / (len(pos) * len(neg))


def share(xs):
    return sum(1 for x in xs if x > 0) / len(xs)


def pct(x):
    return f"{100 * x:.1f}%"


def verdicts(criterion):
    """(label, key) of the verdicts printed for a criterion."""
    if criterion in PLAIN:
        return [("plain", "plain"), ("calibrated", "calibrated")]
    return [("verdict (calibrated)", "calibrated")]


def run_group(sc, models, pairs, criterion, threads):
    """Every pair's plain and calibrated compression, in bits, and distances."""
    rows = []
    for r in sc.align_many(pairs, criterion=criterion, threads=threads, models=models):
        c = r.calibrated
        rows.append({"plain": r.compression_bits if criterion in PLAIN else None, "K": r.K,
                     "calibrated": c.compression_bits, "calibrated_K": c.K})
    return rows


def parse_counts(text):
    counts = {}
    for item in text.split(","):
        length, _, count = item.partition(":")
        try:
            counts[int(length)] = int(count)
        except ValueError:
            sys.exit(f"relatedness.py: --counts takes LENGTH:PAIRS,..., not {item!r}")
    return counts


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--build", default=os.path.join(TREE, "build"), help="the build tree (its python/ is imported)")
    ap.add_argument("--data", default=os.path.join(TREE, "data"), help="the model directory")
    ap.add_argument("--bench", default=os.path.join(TREE, "..", "shared", "bench"), help="the reference sets")
    ap.add_argument("--counts", default=DEFAULT_COUNTS, help="pairs of each set per length, LENGTH:PAIRS,...")
    ap.add_argument("--criteria", default=",".join(CRITERIA))
    ap.add_argument("--sets", default=",".join(generators.SETS), help="generated sets ('' for none)")
    ap.add_argument("--real", default=",".join(REAL), help="reference sets ('' for none)")
    ap.add_argument("--threads", type=int, default=2)
    ap.add_argument("--jsonl", help="write every pair's figures here")
    args = ap.parse_args()

    if not os.path.isfile(os.path.join(args.bench, "twilight_pairs.tsv")):
        sys.exit(f"relatedness.py: no reference sets (twilight_pairs.tsv) in {args.bench}; give --bench")
    sys.path.insert(0, os.path.join(os.path.abspath(args.build), "python"))
    import seqcorvane as sc

    models = sc.Models(args.data)
    counts = parse_counts(args.counts)
    sets = [x for x in args.sets.split(",") if x]
    real = [x for x in args.real.split(",") if x]
    criteria = [x for x in args.criteria.split(",") if x]
    gen = generators.Generator(args.data, args.bench)
    out = open(args.jsonl, "w") if args.jsonl else None
    start = time.time()
    print(f"seqcorvane {sc.__version__}; models {models.directory}; {args.threads} threads")
    print("pairs of each set per length: " + ", ".join(f"{n}: {c}" for n, c in counts.items()))
    summary = {}
    for criterion in criteria:
        table = []
        for n, count in counts.items():
            for name in sets:
                t0 = time.time()
                rows = run_group(sc, models, gen.pairs(name, n, count), criterion, args.threads)
                table.append((name, n, rows, time.time() - t0))
                if out:
                    for k, r in enumerate(rows):
                        out.write(json.dumps(dict(criterion=criterion, set=name, length=n, pair=k, **r)) + "\n")
        realrows = {}
        for name in real:
            t0 = time.time()
            rows = run_group(sc, models, load_real(args.bench, name), criterion, args.threads)
            realrows[name] = (rows, time.time() - t0)
            if out:
                for k, r in enumerate(rows):
                    out.write(json.dumps(dict(criterion=criterion, set=name, pair=k, **r)) + "\n")
        summary[criterion] = (table, realrows)
        print_criterion(criterion, table, realrows)
        sys.stdout.flush()
    if out:
        out.close()
    print_repeats(summary)
    print_targets(summary)
    print(f"\ntotal {time.time() - start:.0f} s")


def print_criterion(criterion, table, realrows):
    vs = verdicts(criterion)
    print(f"\n## {criterion}\n")
    if table:
        print("| set | length | pairs |" + "".join(f" {v} related | {v} largest |" for v, _ in vs) + " s |")
        print("|---|---:|---:|" + "---:|" * (2 * len(vs) + 1))
        for name, n, rows, secs in table:
            cells = [name, str(n), str(len(rows))]
            for _, key in vs:
                xs = [r[key] for r in rows]
                cells += [pct(share(xs)), f"{max(xs):+.1f}"]
            print("| " + " | ".join(cells) + f" | {secs:.0f} |")
    if not realrows:
        return
    unrelated = realrows.get("unrelated", ([], 0))[0]
    print("\n| real set | pairs |" + "".join(f" {v} related | {v} AUC |" for v, _ in vs) + " s |")
    print("|---|---:|" + "---:|" * (2 * len(vs) + 1))
    for name, (rows, secs) in realrows.items():
        cells = [name, str(len(rows))]
        for _, key in vs:
            xs = [r[key] for r in rows]
            auc = (f"{roc_auc(xs, [u[key] for u in unrelated]):.4f}" if unrelated and name != "unrelated" else "-")
            cells += [pct(share(xs)), auc]
        print("| " + " | ".join(cells) + f" | {secs:.0f} |")


def print_repeats(summary):
    """The calibrated verdict on the tandem repeats by their unit lengths."""
    lines = []
    for criterion, (table, _) in summary.items():
        for name, n, rows, _ in table:
            if name != "repeats":
                continue
            units = [generators.Generator.repeat_units(n, k) for k in range(len(rows))]
            inphase = [u[0] == u[1] and u[0] > 1 for u in units]
            a = [r["calibrated"] for r, c in zip(rows, inphase) if c]
            b = [r["calibrated"] for r, c in zip(rows, inphase) if not c]
            lines.append(f"| {criterion} | {n} | {len(a)} | {pct(share(a)) if a else '-'} | {len(b)} | "
                         f"{pct(share(b)) if b else '-'} |")
    if not lines:
        return
    print("\n## Tandem repeats by their unit lengths, calibrated verdict\n")
    print("Units of equal length (above one residue) can be aligned in phase all along.\n")
    print("| criterion | length | pairs, units of equal length | related | other pairs | related |")
    print("|---|---:|---:|---:|---:|---:|")
    print("\n".join(lines))


def extremes(worst, largest):
    """The group with the largest share called related and the one with the largest compression."""
    return (f"worst {pct(share(worst[2]))} ({worst[0]} {worst[1]}), largest {max(largest[2]):+.1f} "
            f"({largest[0]} {largest[1]})")


def print_targets(summary):
    """The calibrated verdict against the targets, met or not with the figures."""
    def verdict(ok):
        return "met" if ok else "NOT met"

    print("\n## Targets (calibrated verdict)\n")
    print(f"(a) generated pairs: at most {pct(MAX_SHARE)} called related at every length, none above "
          f"+{MAX_BITS:.0f} bits")
    for criterion, (table, _) in summary.items():
        if not table:
            continue
        groups = [(name, n, [r["calibrated"] for r in rows]) for name, n, rows, _ in table]
        worst = max(groups, key=lambda g: share(g[2]))
        largest = max(groups, key=lambda g: max(g[2]))
        failing = [f"{name} {n} {pct(share(xs))} ({max(xs):+.1f})" for name, n, xs in groups
                   if share(xs) > MAX_SHARE or max(xs) > MAX_BITS]
        aside = [(name, n, xs) for name, n, xs in groups if name != "repeats"]
        line = f"  {criterion}: {verdict(not failing)}: {extremes(worst, largest)}"
        if aside:
            line += "; repeats aside: " + extremes(max(aside, key=lambda g: share(g[2])),
                                                   max(aside, key=lambda g: max(g[2])))
        print(line)
        if failing:
            print("    above the target: " + ", ".join(failing))

    rows = {c: realrows for c, (_, realrows) in summary.items()}
    if any("unrelated" in r for r in rows.values()):
        print(f"(b) released unrelated pairs: at most {pct(MAX_SHARE)} called related by any criterion")
        for criterion, realrows in rows.items():
            if "unrelated" in realrows:
                un = realrows["unrelated"][0]
                s = share([r["calibrated"] for r in un])
                plain = (f" (plain {pct(share([r['plain'] for r in un]))})" if criterion in PLAIN else "")
                print(f"  {criterion}: {verdict(s <= MAX_SHARE)}: {pct(s)} of {len(un)}{plain}")
    post = rows.get("posterior", {})
    if "twilight" in post and "unrelated" in post:
        auc = roc_auc([r["calibrated"] for r in post["twilight"][0]], [r["calibrated"] for r in post["unrelated"][0]])
        print(f"(c) posterior ROC AUC, twilight against unrelated pairs, at least {MIN_AUC}: "
              f"{verdict(auc >= MIN_AUC)}: {auc:.4f} (before calibration {BEFORE_AUC:.4f})")
    if any(name in r for r in rows.values() for name in ("twilight", "calibration")):
        print(f"(c) related pairs called related, at most {100 * MAX_DROP:.0f} points below the verdict before "
              "calibration")
        for criterion, realrows in rows.items():
            for k, name in enumerate(("twilight", "calibration")):
                if name not in realrows:
                    continue
                s = share([r["calibrated"] for r in realrows[name][0]])
                before = BEFORE[criterion][k]
                plain = (f"; plain now {pct(share([r['plain'] for r in realrows[name][0]]))}"
                         if criterion in PLAIN else "")
                ok = s >= before - MAX_DROP - 1e-9
                print(f"  {criterion} {name}: {verdict(ok)}: {pct(s)}, before {pct(before)}, "
                      f"{100 * (s - before):+.1f} points{plain}")


if __name__ == "__main__":
    main()
