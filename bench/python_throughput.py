#!/usr/bin/python3
"""Pairs per CPU-second of seqcorvane.align_many beside seqcorvane-batch on
the 4,950 pairs of bench/pairs/globins100.fa, alternated, medians.

  PYTHONPATH=build/python bench/python_throughput.py build/batch/seqcorvane-batch [--criterion C] [--reps N]
"""
import argparse
import os
import resource
import statistics
import subprocess
import time

import seqcorvane

here = os.path.dirname(os.path.abspath(__file__))


def records(path):
    out, name, seq = [], None, []
    for line in open(path):
        line = line.strip()
        if line.startswith(">"):
            if name is not None:
                out.append((name, "".join(seq)))
            name, seq = line[1:].split()[0], []
        else:
            seq.append(line)
    out.append((name, "".join(seq)))
    return out


def cpu_self():
    r = resource.getrusage(resource.RUSAGE_SELF)
    return r.ru_utime + r.ru_stime


def cpu_children():
    r = resource.getrusage(resource.RUSAGE_CHILDREN)
    return r.ru_utime + r.ru_stime


def main():
    p = argparse.ArgumentParser()
    p.add_argument("batch")
    p.add_argument("--criterion", default="optimal")
    p.add_argument("--reps", type=int, default=3)
    a = p.parse_args()
    fasta = os.path.join(here, "pairs", "globins100.fa")
    recs = records(fasta)
    pairs = [(recs[i][1], recs[j][1]) for i in range(len(recs)) for j in range(i + 1, len(recs))]
    models = seqcorvane.default_models()
    py, batch = [], []
    for _ in range(a.reps):
        t0 = cpu_children()
        subprocess.run([a.batch, fasta, "--criterion", a.criterion, "-o", "/dev/null"], check=True,
                       stderr=subprocess.DEVNULL)
        batch.append(len(pairs) / (cpu_children() - t0))
        t0 = cpu_self()
        seqcorvane.align_many(pairs, criterion=a.criterion, models=models)
        py.append(len(pairs) / (cpu_self() - t0))
    b, m = statistics.median(batch), statistics.median(py)
    print(f"{a.criterion}: seqcorvane-batch {b:.0f} pairs per CPU-second, align_many {m:.0f}, ratio {m / b:.2f}")


if __name__ == "__main__":
    main()
