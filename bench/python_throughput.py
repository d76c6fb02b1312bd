#!/usr/bin/python3
"""Pairs per CPU-second of the Python module beside seqcorvane-batch on the
4,950 pairs of bench/pairs/globins100.fa: the batch program, align_many (the
list) and iter_align (the stream, consumed as it comes), each on every core,
alternated; medians of the repetitions. CPU seconds are the process's own
(user and system, every thread) for the module and the child's for the batch
program; wall seconds are shown beside them.

  PYTHONPATH=build/python bench/python_throughput.py build/batch/seqcorvane-batch [--criterion C] [--reps N]

or with the module pip installed, run by that interpreter.
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


def cpu(who):
    r = resource.getrusage(who)
    return r.ru_utime + r.ru_stime


def measured(run, who):
    """(CPU seconds, wall seconds) of run()."""
    c0, w0 = cpu(who), time.monotonic()
    run()
    return cpu(who) - c0, time.monotonic() - w0


def main():
    p = argparse.ArgumentParser()
    p.add_argument("batch")
    p.add_argument("--criterion", default="posterior")
    p.add_argument("--reps", type=int, default=3)
    a = p.parse_args()
    fasta = os.path.join(here, "pairs", "globins100.fa")
    recs = records(fasta)
    pairs = [(recs[i][1], recs[j][1]) for i in range(len(recs)) for j in range(i + 1, len(recs))]
    models = seqcorvane.default_models()

    def batch():
        subprocess.run([a.batch, fasta, "--criterion", a.criterion, "-o", "/dev/null"], check=True,
                       stderr=subprocess.DEVNULL)

    def many():
        seqcorvane.align_many(pairs, criterion=a.criterion, models=models)

    def stream():
        for _ in seqcorvane.iter_align(pairs, criterion=a.criterion, models=models):
            pass

    runs = {"seqcorvane-batch": (batch, resource.RUSAGE_CHILDREN), "align_many": (many, resource.RUSAGE_SELF),
            "iter_align": (stream, resource.RUSAGE_SELF)}
    figures = {name: [] for name in runs}
    for _ in range(a.reps):
        for name, (run, who) in runs.items():
            figures[name].append(measured(run, who))
    print(f"{len(pairs)} pairs, {a.criterion} criterion, {os.cpu_count()} cores, medians of {a.reps} runs")
    base = statistics.median(len(pairs) / c for c, _ in figures["seqcorvane-batch"])
    for name, xs in figures.items():
        rate = statistics.median(len(pairs) / c for c, _ in xs)
        wall = statistics.median(w for _, w in xs)
        print(f"  {name:17} {rate:6.1f} pairs per CPU-second ({rate / base:.2f} of the batch program's), "
              f"{wall:.1f} s wall")


if __name__ == "__main__":
    main()
