#!/usr/bin/python3
"""Domains in context: how well each aligner finds and aligns a domain that
two proteins share, and how well its number tells related from unrelated
pairs. Writes a Markdown report (the tables for bench/ACCURACY.md).

    bench/context/context_bench.py CACHE [--shared DIR]
        [--sets context,domains] [--tools seqcorvane,ssearch36,phmmer,probcons,needle]
        [--modes global] [--criteria optimal,marginal,posterior] [--via program|python]
        [--binary build/seqcorvane] [--extra NAME=FILE ...] [--jobs 2]
        [--cpu [--cpu-criteria posterior] [--cpu-lengths 150,...,10000] [--cpu-rounds 3]]
        [--out REPORT.md]

Sets (from ../shared/bench): `context`, the 400 reference pairs of
context_pairs.tsv (domains inside unrelated flanks) against the 108 of
context_unrelated.tsv; `domains`, the same pairs' domains alone (the flanks
cut off: twilight pairs) against the 108 unrelated pairs' domains (those of
unrelated_pairs.tsv).

For each aligner and set:
  dev      mean over the related pairs of the share of the reference's core
           residue pairs (core_mask 1) the alignment reproduces;
  flank%   the aligned residue pairs that reach outside domain_s or domain_t,
           per hundred aligned pairs, pooled over the related pairs (all wrong);
  AUC      ROC AUC of the related against the unrelated pairs by the tool's
           relatedness number: compression in bits (seqcorvane), -log10 E
           (ssearch36, phmmer), the score (needle);
  called   pairs called related: compression > 0 bits, or E <= 0.01.

Peers (Debian packages): ssearch36 (fasta3; Smith-Waterman, BLOSUM50, -10/-2,
its shuffle statistics; the best alignment), phmmer (hmmer; default filters,
reporting thresholds opened; the best-scoring domain, the sequence E-value),
probcons (default), needle (emboss; EBLOSUM62, 10/0.5, end gaps free:
-endweight with end penalties 0; the score). seqcorvane: each --modes value
for each criterion, through the single program (`--criterion C --mode M
--quiet --stdout --format json`, each pair a run, --jobs at once; the
reported region is checked against the rows) or, with --via python, the
Python module's align_many (PYTHONPATH=build/python; the mode handed to it
only when it is not `global`). Every result is cached as
CACHE/<set>/<tool>/<pair_id>.txt (rows, number, called, CPU seconds), so a
rerun only computes what is missing. --extra adds a table of results made
elsewhere (a TSV with columns pair_id, row_s, row_t, number, called: the
prototype's). --cpu also times the single program in each mode against
global (one thread; the modes alternated in each round, the least of the
rounds) for each --cpu-criteria value (optimal, marginal, posterior;
marginal-nolandscape: the marginal criterion without its landscape files) on the bench pairs
(bench/pairs/sN.fa, tN.fa); `--sets ""` for the CPU times alone.
"""
import argparse
import concurrent.futures
import csv
import json
import math
import os
import re
import resource
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "accuracy"))
import peers  # noqa: E402

BINS = [(0, 20), (20, 30), (30, 40), (40, 60), (60, 101)]


# ---------------------------------------------------------------- the sets

def span(text):
    a, b = text.split("-")
    return int(a), int(b)


def cut_to_domains(row_s, row_t, mask, ds, dt):
    """The columns of the rows that hold a residue of the domains."""
    out_s, out_t, out_m, i, j = [], [], [], 0, 0
    for a, b, k in zip(row_s, row_t, mask):
        keep = (a != "-" and ds[0] <= i < ds[1]) or (b != "-" and dt[0] <= j < dt[1])
        if keep:
            out_s.append(a if a == "-" or ds[0] <= i < ds[1] else "-")
            out_t.append(b if b == "-" or dt[0] <= j < dt[1] else "-")
            out_m.append(k)
        i += a != "-"
        j += b != "-"
    cols = [(a, b, k) for a, b, k in zip(out_s, out_t, out_m) if not (a == "-" and b == "-")]
    return "".join(c[0] for c in cols), "".join(c[1] for c in cols), "".join(c[2] for c in cols)


def load_set(shared, name):
    """The related and unrelated pairs of a set, each a dict with pair_id,
    family, s, t, rows and mask (related), ds, dt (domain spans), related."""
    out = []
    with open(os.path.join(shared, "context_pairs.tsv")) as f:
        for r in csv.DictReader(f, delimiter="\t"):
            p = {"pair_id": r["pair_id"], "family": r["family"], "related": True, "mode": r["mode"],
                 "identity": float(r["percent_identity"]), "dataset": r["dataset"]}
            ds, dt = span(r["domain_s"]), span(r["domain_t"])
            row_s, row_t, mask = r["row_s"], r["row_t"], r["core_mask"]
            if name == "domains":
                row_s, row_t, mask = cut_to_domains(row_s, row_t, mask, ds, dt)
                ds, dt = (0, ds[1] - ds[0]), (0, dt[1] - dt[0])
                p["pair_id"] = p["pair_id"].replace("ctx__", "dom__", 1)
            p.update(row_s=row_s, row_t=row_t, mask=mask, ds=ds, dt=dt,
                     s=row_s.replace("-", ""), t=row_t.replace("-", ""))
            assert p["ds"][1] <= len(p["s"]) and p["dt"][1] <= len(p["t"])
            out.append(p)
    with open(os.path.join(shared, "context_unrelated.tsv")) as f:
        for r in csv.DictReader(f, delimiter="\t"):
            ds, dt = span(r["domain_s"]), span(r["domain_t"])
            s, t = r["seq_s"], r["seq_t"]
            pid = r["pair_id"]
            if name == "domains":
                s, t = s[ds[0]:ds[1]], t[dt[0]:dt[1]]
                ds, dt = (0, len(s)), (0, len(t))
                pid = pid.replace("ctx__", "dom__", 1)
            out.append({"pair_id": pid, "family": r["family_s"] + "|" + r["family_t"], "related": False,
                        "mode": r["mode"], "s": s, "t": t, "ds": ds, "dt": dt})
    return out


# ---------------------------------------------------------------- measures

def matched(row_s, row_t, mask=None):
    out, i, j = set(), 0, 0
    for k, (a, b) in enumerate(zip(row_s, row_t)):
        if a != "-" and b != "-" and (mask is None or mask[k] == "1"):
            out.add((i, j))
        i += a != "-"
        j += b != "-"
    return out


def dev_of(p, row_s, row_t):
    ref = matched(p["row_s"], p["row_t"], p["mask"])
    return len(ref & matched(row_s, row_t)) / len(ref) if ref else None


def flank_of(p, row_s, row_t):
    """(aligned pairs, of them reaching outside a domain)."""
    got = matched(row_s, row_t)
    (a, b), (c, d) = p["ds"], p["dt"]
    return len(got), sum(1 for i, j in got if not (a <= i < b and c <= j < d))


def auc(pos, neg):
    wins = sum(1.0 if x > y else 0.5 if x == y else 0.0 for x in pos for y in neg)
    return wins / (len(pos) * len(neg))


# ---------------------------------------------------------------- peers

def local_rows(s, t, qs, ss, aln_s, aln_t):
    """Full-length rows of a local alignment starting at residue qs of S and ss
    of T (from 0): the residues outside it as unaligned columns."""
    ls, lt = len(aln_s.replace("-", "")), len(aln_t.replace("-", ""))
    qe, se = qs + ls, ss + lt
    rs = s[:qs] + "-" * ss + aln_s + s[qe:] + "-" * (len(t) - se)
    rt = "-" * qs + t[:ss] + aln_t + "-" * (len(s) - qe) + t[se:]
    return rs, rt


def unaligned_rows(s, t):
    return s + "-" * len(t), "-" * len(s) + t


def run_ssearch36(d, s, t):
    out = peers.run(["ssearch36", "-q", "-m", "8CB", "-E", "1e6", "s.fa", "t.fa"], d)
    for line in out.splitlines():
        if line.startswith("#") or not line.strip():
            continue
        f = line.split("\t")
        qs, ss, evalue, btop = int(f[6]) - 1, int(f[8]) - 1, float(f[10]), f[12]
        aln_s, aln_t, i, j = [], [], qs, ss
        for tok in re.findall(r"\d+|[A-Z*-]{2}", btop):
            if tok.isdigit():
                n = int(tok)
                aln_s.append(s[i:i + n])
                aln_t.append(t[j:j + n])
                i, j = i + n, j + n
            else:
                aln_s.append(tok[0])
                aln_t.append(tok[1])
                i += tok[0] != "-"
                j += tok[1] != "-"
        rs, rt = local_rows(s, t, qs, ss, "".join(aln_s), "".join(aln_t))
        return rs, rt, -math.log10(evalue) if evalue > 0 else 400.0, evalue <= 0.01
    rs, rt = unaligned_rows(s, t)
    return rs, rt, -math.inf, False


def run_phmmer(d, s, t):
    with open(os.path.join(d, "q.fa"), "w") as f:
        f.write(f">qry\n{s}\n")
    with open(os.path.join(d, "db.fa"), "w") as f:
        f.write(f">tgt\n{t}\n")
    out = peers.run(["phmmer", "--cpu", "0", "--notextw", "-E", "1e6", "--domE", "1e6", "q.fa", "db.fa"], d)
    lines = out.splitlines()
    evalue, best, blocks, cur = None, None, {}, None
    for k, line in enumerate(lines):
        if evalue is None and re.match(r"^\s+[-\d.e+]+\s+[-\d.]+\s+[-\d.]+\s+[-\d.e+]+\s+[-\d.]+\s+[-\d.]+\s+[\d.]+\s+\d+\s+tgt", line):
            evalue = float(line.split()[0])
        m = re.match(r"^\s+(\d+)\s+[!?]\s+(-?[\d.]+)\s", line)
        if m and cur is None and (best is None or float(m.group(2)) > best[1]):
            best = (int(m.group(1)), float(m.group(2)))
        m = re.match(r"^\s+== domain (\d+)", line)
        if m:
            cur = int(m.group(1))
            blocks[cur] = {"q": "", "t": "", "qs": None, "ts": None}
        elif cur is not None:
            mq = re.match(r"^\s+qry\s+(\d+)\s+(\S+)\s+\d+\s*$", line)
            mt = re.match(r"^\s+tgt\s+(\d+)\s+(\S+)\s+\d+\s*$", line)
            if mq:
                blocks[cur]["q"] += mq.group(2)
                blocks[cur]["qs"] = blocks[cur]["qs"] or int(mq.group(1)) - 1
            elif mt:
                blocks[cur]["t"] += mt.group(2)
                blocks[cur]["ts"] = blocks[cur]["ts"] or int(mt.group(1)) - 1
    if evalue is None or best is None:
        rs, rt = unaligned_rows(s, t)
        return rs, rt, -math.inf, False
    b = blocks[best[0]]
    aln_s, aln_t, i, j = [], [], b["qs"], b["ts"]
    for qc, tc in zip(b["q"], b["t"]):
        if qc == ".":  # a target residue the model does not match
            aln_s.append("-")
            aln_t.append(t[j])
            j += 1
        elif tc == "-":
            aln_s.append(s[i])
            aln_t.append("-")
            i += 1
        else:
            aln_s.append(s[i])
            aln_t.append(t[j])
            i, j = i + 1, j + 1
    rs, rt = local_rows(s, t, b["qs"], b["ts"], "".join(aln_s), "".join(aln_t))
    return rs, rt, -math.log10(evalue) if evalue > 0 else 400.0, evalue <= 0.01


def run_probcons(d, s, t):
    rs, rt = peers.probcons(d)
    return rs, rt, None, None


def run_needle(d, s, t):
    peers.run(["needle", "-asequence", "s.fa", "-bsequence", "t.fa", "-gapopen", "10", "-gapextend", "0.5",
               "-endweight", "-endopen", "0", "-endextend", "0", "-aformat", "srspair", "-outfile", "out.txt",
               "-auto"], d)
    rows, score = {"s": "", "t": ""}, None
    for line in open(os.path.join(d, "out.txt")):
        m = re.match(r"^# Score:\s+(\S+)", line)
        if m:
            score = float(m.group(1))
        m = re.match(r"^([st])\s+\d+\s+(\S+)\s+\d+\s*$", line)
        if m:
            rows[m.group(1)] += m.group(2)
    return rows["s"], rows["t"], score, None


PEERS = {"ssearch36": run_ssearch36, "phmmer": run_phmmer, "probcons": run_probcons, "needle": run_needle}


def cache_path(cache, set_name, tool, pid):
    return os.path.join(cache, set_name, tool, pid + ".txt")


def write_result(path, rs, rt, number, called, cpu=0.0):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path + ".tmp", "w") as f:
        f.write(f"{rs}\n{rt}\n{'' if number is None else repr(number)}\n{'' if called is None else int(called)}\n"
                f"{cpu:.4f}\n")
    os.replace(path + ".tmp", path)


def read_result(path):
    with open(path) as f:
        rs, rt, number, called, cpu = (f.read().split("\n") + [""] * 5)[:5]
    return {"row_s": rs, "row_t": rt, "number": float(number) if number else None,
            "called": bool(int(called)) if called else None, "cpu": float(cpu or 0)}


def run_peer(tool, p, path):
    with tempfile.TemporaryDirectory() as d:
        for name, seq in (("s", p["s"]), ("t", p["t"])):
            with open(os.path.join(d, name + ".fa"), "w") as f:
                f.write(f">{name}\n{seq}\n")
        with open(os.path.join(d, "both.fa"), "w") as f:
            f.write(f">s\n{p['s']}\n>t\n{p['t']}\n")
        before = resource.getrusage(resource.RUSAGE_CHILDREN)
        rs, rt, number, called = PEERS[tool](d, p["s"], p["t"])
        after = resource.getrusage(resource.RUSAGE_CHILDREN)
    rs, rt = rs.upper().replace(".", "-"), rt.upper().replace(".", "-")
    if rs.replace("-", "") != p["s"] or rt.replace("-", "") != p["t"] or len(rs) != len(rt):
        raise RuntimeError(f"{tool} on {p['pair_id']}: the alignment does not hold the two sequences")
    write_result(path, rs, rt, number, called,
                 (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime))


def run_program(binary, p, mode, criterion, verdict="plain"):
    """One pair through the single program: (row_s, row_t, compression bits, CPU seconds); the
    compression of the verdict calibrated for composition with verdict "calibrated"."""
    with tempfile.TemporaryDirectory() as d:
        paths = []
        for name, seq in (("s", p["s"]), ("t", p["t"])):
            paths.append(os.path.join(d, name + ".fa"))
            with open(paths[-1], "w") as f:
                f.write(f">{name}\n{seq}\n")
        binary = os.path.abspath(binary)
        cmd = [binary, *paths, "--criterion", criterion, "--mode", mode, "--quiet", "--stdout", "--format", "json"]
        if criterion == "marginal":
            cmd.append("--no-landscape")
        before = resource.getrusage(resource.RUSAGE_CHILDREN)
        # in the scratch directory: the files the program writes beside the report stay there
        out = subprocess.run(cmd, capture_output=True, text=True, cwd=d,
                             env=dict(os.environ, NO_COLOR="1", SEQCORVANE_THREADS="1"))
        after = resource.getrusage(resource.RUSAGE_CHILDREN)
    if out.returncode != 0:
        raise RuntimeError(f"{' '.join(cmd)} on {p['pair_id']}: {out.stderr.strip()}")
    j = json.loads(out.stdout)
    rows = j.get("rows") or []
    rs, rt = rows if rows else unaligned_rows(p["s"], p["t"])
    region = j["hypothesis"]["region"] or {"s": None, "t": None}
    got = matched(rs, rt)
    if j["hypothesis"]["sent"] == "local" and rows:
        # the region the program reports is that of the rows' matched columns (none without one)
        want_s = [min(i for i, _ in got) + 1, max(i for i, _ in got) + 1] if got else None
        want_t = [min(k for _, k in got) + 1, max(k for _, k in got) + 1] if got else None
        if region["s"] != want_s or region["t"] != want_t:
            raise RuntimeError(f"{p['pair_id']}: region {region} is not that of the rows' matches")
    cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    bits = j["calibrated"]["compression_bits"] if verdict == "calibrated" else j["compression_bits"]
    return rs, rt, bits, cpu


def run_seqcorvane(pairs, set_name, cache, mode, criterion, jobs, via, binary, verdict="plain"):
    """The product on every pair not in the cache: through the single program
    (via "program", each pair a run, `jobs` at once) or the Python module's
    align_many (via "python"); its number the plain or the calibrated verdict's
    compression (the tool's name then ends in -calibrated)."""
    tool = f"seqcorvane-{mode}-{criterion}" + ("-calibrated" if verdict == "calibrated" else "")
    todo = [p for p in pairs if not os.path.exists(cache_path(cache, set_name, tool, p["pair_id"]))]
    if not todo:
        return tool
    if via == "python":
        import seqcorvane
        kw = {} if mode == "global" else {"mode": mode}
        started = time.process_time()
        res = seqcorvane.align_many([(p["s"], p["t"]) for p in todo], criterion=criterion, threads=jobs, **kw)
        cpu = (time.process_time() - started) / len(todo)
        for p, r in zip(todo, res):
            rs, rt = (r.row_s, r.row_t) if r.row_s else unaligned_rows(p["s"], p["t"])
            bits = r.calibrated.compression_bits if verdict == "calibrated" else r.compression_bits
            write_result(cache_path(cache, set_name, tool, p["pair_id"]), rs, rt, bits, bits > 0, cpu)
        return tool

    def one(p):
        rs, rt, bits, cpu = run_program(binary, p, mode, criterion, verdict)
        write_result(cache_path(cache, set_name, tool, p["pair_id"]), rs, rt, bits, bits > 0, cpu)

    with concurrent.futures.ThreadPoolExecutor(jobs) as pool:
        list(pool.map(one, todo))
    return tool


# ---------------------------------------------------------------- the report

def measures(pairs, results, aligns=True):
    rel = [p for p in pairs if p["related"]]
    neg = [p for p in pairs if not p["related"]]
    out = {"n_rel": len(rel), "n_neg": len(neg)}
    if aligns:
        devs = [dev_of(p, results[p["pair_id"]]["row_s"], results[p["pair_id"]]["row_t"]) for p in rel]
        devs = [x for x in devs if x is not None]
        out["dev"] = sum(devs) / len(devs)
        tot = fl = 0
        for p in rel:
            a, b = flank_of(p, results[p["pair_id"]]["row_s"], results[p["pair_id"]]["row_t"])
            tot, fl = tot + a, fl + b
        out["flank"] = 100.0 * fl / tot if tot else 0.0
        out["bins"] = {}
        for lo, hi in BINS:
            v = [dev_of(p, results[p["pair_id"]]["row_s"], results[p["pair_id"]]["row_t"]) for p in rel
                 if lo <= p["identity"] < hi]
            v = [x for x in v if x is not None]
            out["bins"][(lo, hi)] = (sum(v) / len(v), len(v)) if v else (None, 0)
    nums = [results[p["pair_id"]]["number"] for p in pairs]
    if all(x is not None for x in nums):
        out["auc"] = auc([results[p["pair_id"]]["number"] for p in rel],
                         [results[p["pair_id"]]["number"] for p in neg])
    if all(results[p["pair_id"]]["called"] is not None for p in pairs):
        out["called_rel"] = sum(results[p["pair_id"]]["called"] for p in rel)
        out["called_neg"] = sum(results[p["pair_id"]]["called"] for p in neg)
    return out


def fmt_row(name, m):
    dev = f"{m['dev']:.3f}" if "dev" in m else "-"
    flank = f"{m['flank']:.1f}" if "flank" in m else "-"
    a = f"{m['auc']:.3f}" if "auc" in m else "-"
    cr = f"{m['called_rel']} / {m['n_rel']}" if "called_rel" in m else "-"
    cn = f"{m['called_neg']} / {m['n_neg']}" if "called_neg" in m else "-"
    return f"| {name} | {dev} | {flank} | {a} | {cr} | {cn} |"


def bench_cpu(binary, pairs_dir, modes, criteria, lengths, rounds):
    """CPU seconds (user + system) of the single program in each mode, for
    each criterion and bench pair length: the modes alternated within each
    round, the least time of the rounds (the machine is shared)."""
    rows = []
    for crit in criteria:
        for n in lengths:
            s, t = os.path.join(pairs_dir, f"s{n}.fa"), os.path.join(pairs_dir, f"t{n}.fa")
            if not (os.path.exists(s) and os.path.exists(t)):
                continue
            times = {m: math.inf for m in modes}
            for _ in range(rounds if n <= 3000 else max(1, rounds // 2)):
                for mode in modes:
                    with tempfile.TemporaryDirectory() as d:
                        # "marginal-nolandscape": the marginal criterion without its landscape files
                        cmd = [binary, s, t, "--criterion", crit.split("-")[0], "--mode", mode,
                               "-o", os.path.join(d, "o")] + (["--no-landscape"] if crit.endswith("-nolandscape") else [])
                        before = resource.getrusage(resource.RUSAGE_CHILDREN)
                        subprocess.run(cmd, check=True, capture_output=True, cwd=d,
                                       env=dict(os.environ, NO_COLOR="1", SEQCORVANE_THREADS="1"))
                        after = resource.getrusage(resource.RUSAGE_CHILDREN)
                    cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
                    times[mode] = min(times[mode], cpu)
            print(f"cpu {crit} {n}: " + ", ".join(f"{m} {times[m]:.3f}" for m in modes), file=sys.stderr, flush=True)
            rows.append((crit, n, times))
    return rows


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("cache")
    ap.add_argument("--shared", default=os.path.join(HERE, "..", "..", "..", "shared", "bench"))
    ap.add_argument("--sets", default="context,domains")
    ap.add_argument("--tools", default="seqcorvane,ssearch36,phmmer,probcons,needle")
    ap.add_argument("--modes", default="global")
    ap.add_argument("--criteria", default="optimal,marginal,posterior")
    ap.add_argument("--extra", action="append", default=[], help="NAME=FILE: results made elsewhere (per set: "
                    "FILE may hold {set})")
    ap.add_argument("--jobs", type=int, default=2)
    ap.add_argument("--via", choices=("program", "python"), default="program",
                    help="run the product through the single program (each pair a run) or the Python module")
    ap.add_argument("--verdict", choices=("plain", "calibrated"), default="plain",
                    help="the product's number: the criterion's printed compression or the verdict calibrated for "
                    "composition")
    ap.add_argument("--cpu", action="store_true")
    ap.add_argument("--cpu-criteria", default="posterior")
    ap.add_argument("--cpu-lengths", default="150,500,1100,3000,10000")
    ap.add_argument("--cpu-rounds", type=int, default=3, help="rounds per length (half of them above 3000)")
    ap.add_argument("--binary", default=os.path.join(HERE, "..", "..", "build", "seqcorvane"))
    ap.add_argument("--out")
    a = ap.parse_args()
    a.binary = os.path.abspath(a.binary)
    started = time.time()
    log = lambda m: print(m, file=sys.stderr, flush=True)  # noqa: E731
    report = ["## Domains in context\n",
              f"Made by `bench/context/context_bench.py` ({time.strftime('%Y-%m-%d', time.gmtime())}). dev: mean "
              "share of the reference's core pairs reproduced; flank%: aligned pairs reaching outside a domain, per "
              "hundred aligned pairs (pooled); AUC: related against unrelated pairs by the tool's number; called: "
              "compression > 0 bits, or E <= 0.01.\n"]
    for set_name in filter(None, a.sets.split(",")):
        pairs = load_set(a.shared, set_name)
        tools = []
        for tool in a.tools.split(","):
            if tool == "seqcorvane":
                for mode in a.modes.split(","):
                    for crit in a.criteria.split(","):
                        log(f"{set_name}: seqcorvane {mode} {crit}")
                        tools.append((run_seqcorvane(pairs, set_name, a.cache, mode, crit, a.jobs, a.via, a.binary,
                                                     a.verdict),
                                      crit != "marginal"))
                continue
            if tool not in PEERS:
                sys.exit(f"context_bench.py: unknown tool '{tool}'")
            todo = [p for p in pairs if not os.path.exists(cache_path(a.cache, set_name, tool, p["pair_id"]))]
            log(f"{set_name}: {tool}, {len(todo)} of {len(pairs)} pairs to run")
            with concurrent.futures.ThreadPoolExecutor(a.jobs) as pool:
                list(pool.map(lambda p: run_peer(tool, p, cache_path(a.cache, set_name, tool, p["pair_id"])), todo))
            tools.append((tool, True))
        table = {}
        for tool, aligns in tools:
            res = {p["pair_id"]: read_result(cache_path(a.cache, set_name, tool, p["pair_id"])) for p in pairs}
            table[tool] = (measures(pairs, res, aligns), sum(r["cpu"] for r in res.values()))
        for extra in a.extra:
            name, path = extra.rsplit("=", 1)
            path = path.replace("{set}", set_name)
            if not os.path.exists(path):
                continue
            with open(path) as f:
                rows = {r["pair_id"]: r for r in csv.DictReader(f, delimiter="\t")}
            res = {}
            for p in pairs:
                r = rows[p["pair_id"]]
                res[p["pair_id"]] = {"row_s": r["row_s"] or unaligned_rows(p["s"], p["t"])[0],
                                     "row_t": r["row_t"] or unaligned_rows(p["s"], p["t"])[1],
                                     "number": float(r["number"]), "called": r["called"] == "1"}
            aligns = any(rows[p["pair_id"]]["row_s"] for p in pairs if p["related"])
            table[name] = (measures(pairs, res, aligns), 0.0)
        rel = sum(p["related"] for p in pairs)
        report.append(f"### {set_name}: {rel} related pairs, {len(pairs) - rel} unrelated\n")
        report.append("| tool | dev | flank% | AUC | related called related | unrelated called related |")
        report.append("|---|---:|---:|---:|---:|---:|")
        for name, (m, _) in table.items():
            report.append(fmt_row(name, m))
        report.append("")
        report.append("dev by percent identity of the reference (pairs per bin in parentheses):\n")
        first = next(m for m, _ in table.values() if "bins" in m)
        report.append("| tool | " + " | ".join(f"{lo}-{min(hi, 100)}% ({first['bins'][(lo, hi)][1]})"
                                               for lo, hi in BINS) + " |")
        report.append("|---|" + "---:|" * len(BINS))
        for name, (m, _) in table.items():
            if "bins" in m:
                report.append(f"| {name} | " + " | ".join(
                    "-" if m["bins"][b][0] is None else f"{m['bins'][b][0]:.4f}" for b in m["bins"]) + " |")
        report.append("")
        report.append("CPU seconds for the set: " + ", ".join(f"{n} {c:.0f}" for n, (_, c) in table.items() if c)
                      + ".\n")
    if a.cpu:
        modes = a.modes.split(",")
        if "global" not in modes:
            sys.exit("context_bench.py: --cpu compares each mode with global: --modes must hold global")
        rows = bench_cpu(a.binary, os.path.join(HERE, "..", "pairs"), modes, a.cpu_criteria.split(","),
                         [int(x) for x in a.cpu_lengths.split(",")], a.cpu_rounds)
        report.append("### CPU time by mode (single program, one thread; least of the rounds)\n")
        report.append("| criterion | pair | " + " | ".join(f"{m} (s)" for m in modes) + " | " +
                      " | ".join(f"{m} / global" for m in modes if m != "global") + " |")
        report.append("|---|---:|" + "---:|" * (2 * len(modes) - 1))
        for crit, n, times in rows:
            report.append(f"| {crit} | {n} | " + " | ".join(f"{times[m]:.3f}" for m in modes) + " | " +
                          " | ".join(f"{times[m] / times['global']:.2f}" for m in modes if m != "global") + " |")
        report.append("")
    report.append(f"Run time {time.time() - started:.0f} s; results cached in {os.path.abspath(a.cache)}.\n")
    text = "\n".join(report) + "\n"
    if a.out:
        with open(a.out + ".tmp", "w") as f:
            f.write(text)
        os.replace(a.out + ".tmp", a.out)
    print(text)


if __name__ == "__main__":
    main()
