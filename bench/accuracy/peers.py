#!/usr/bin/env python3
"""Runs the peer aligners on every pair of a reference-pairs table and writes
each pair's alignment as <out>/<peer>/<pair_id>.afasta (two gapped records,
S first), the form seqcorvane-calibrate accuracy --alignments reads.

    bench/accuracy/peers.py PAIRS OUT [--peers probcons,probalign,parasail,needle] [--jobs N]

Peers (Debian packages): probcons and probalign (default settings); parasail_aligner
(global, BLOSUM62, gap open 10, extend 1); needle from emboss (EBLOSUM62,
gap open 10, extend 0.5, its defaults). Alignments already written are kept,
so an interrupted run resumes. Per peer, the CPU seconds its runs used are
written to <out>/<peer>/cpu_seconds.
"""
import argparse
import concurrent.futures
import csv
import os
import re
import resource
import subprocess
import sys
import tempfile


def ungapped(row):
    return row.replace("-", "")


def read_fasta(text):
    records, name = [], None
    for line in text.splitlines():
        if line.startswith(">"):
            records.append([line[1:].split()[0] if line[1:].split() else "", ""])
        elif records:
            records[-1][1] += line.strip()
    return records


def run(cmd, cwd, stdin=None):
    with open(stdin) if stdin else open(os.devnull) as inp:
        p = subprocess.run(cmd, cwd=cwd, stdin=inp, capture_output=True, text=True)
    if p.returncode != 0:
        raise RuntimeError(f"{cmd[0]} failed ({p.returncode}): {p.stderr.strip()[:300]}")
    return p.stdout


def probcons(d):
    recs = dict(read_fasta(run(["probcons", "both.fa"], d)))
    return recs["s"], recs["t"]


def probalign(d):
    recs = dict(read_fasta(run(["probalign", "both.fa"], d)))
    return recs["s"], recs["t"]


def parasail(d):
    # the query comes on standard input: the aligner refuses a query file and a pipe together
    run(["parasail_aligner", "-a", "nw_trace_striped_sat", "-x", "-m", "blosum62", "-o", "10", "-e", "1",
         "-t", "1", "-f", "t.fa", "-O", "EMBOSS", "-g", "out.txt"], d, stdin=os.path.join(d, "s.fa"))
    rows = {"s": "", "t": ""}
    for line in open(os.path.join(d, "out.txt")):
        m = re.match(r"^([st])\s+\d+\s+(\S+)\s+\d+\s*$", line)
        if m:
            rows[m.group(1)] += m.group(2)
    return rows["s"], rows["t"]


def needle(d):
    run(["needle", "-asequence", "s.fa", "-bsequence", "t.fa", "-gapopen", "10", "-gapextend", "0.5",
         "-aformat", "fasta", "-outfile", "out.fa", "-auto"], d)
    recs = read_fasta(open(os.path.join(d, "out.fa")).read())
    return recs[0][1], recs[1][1]


PEERS = {"probcons": probcons, "probalign": probalign, "parasail": parasail, "needle": needle}


def align(peer, pair_id, s, t, out):
    path = os.path.join(out, peer, pair_id + ".afasta")
    if os.path.exists(path):
        return 0.0
    with tempfile.TemporaryDirectory() as d:
        for name, seq in (("s", s), ("t", t)):
            with open(os.path.join(d, name + ".fa"), "w") as f:
                f.write(f">{name}\n{seq}\n")
        with open(os.path.join(d, "both.fa"), "w") as f:
            f.write(f">s\n{s}\n>t\n{t}\n")
        before = resource.getrusage(resource.RUSAGE_CHILDREN)
        rs, rt = PEERS[peer](d)
        after = resource.getrusage(resource.RUSAGE_CHILDREN)
    rs, rt = rs.upper().replace(".", "-"), rt.upper().replace(".", "-")
    if ungapped(rs) != s or ungapped(rt) != t or len(rs) != len(rt):
        raise RuntimeError(f"{peer} on {pair_id}: the alignment does not hold the two sequences")
    tmp = path + ".tmp"
    with open(tmp, "w") as f:
        f.write(f">aligned seq 1\n{rs}\n\n>aligned seq 2\n{rt}\n")
    os.replace(tmp, path)
    return (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("pairs")
    ap.add_argument("out")
    ap.add_argument("--peers", default="probcons,parasail,needle")
    ap.add_argument("--jobs", type=int, default=os.cpu_count() or 1)
    a = ap.parse_args()
    with open(a.pairs) as f:
        pairs = [(r["pair_id"], ungapped(r["row_s"]), ungapped(r["row_t"])) for r in csv.DictReader(f, delimiter="\t")]
    for peer in a.peers.split(","):
        if peer not in PEERS:
            sys.exit(f"peers.py: unknown peer '{peer}'")
        os.makedirs(os.path.join(a.out, peer), exist_ok=True)
        # threads, not processes: each job waits on its aligner's process
        with concurrent.futures.ThreadPoolExecutor(a.jobs) as pool:
            cpu = sum(pool.map(lambda p: align(peer, p[0], p[1], p[2], a.out), pairs))
        with open(os.path.join(a.out, peer, "cpu_seconds"), "a") as f:
            f.write(f"{cpu:.1f}\n")
        print(f"{peer}: {len(pairs)} pairs, {cpu:.1f} CPU seconds this run", flush=True)


if __name__ == "__main__":
    main()
