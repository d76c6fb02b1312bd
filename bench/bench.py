#!/usr/bin/env python3
"""The benchmark's measurements and its report; bench/run.sh builds the
programs and calls this.

    bench/bench.py --build DIR [--pair N ...] [--runs R] [--no-profile] [--out FILE]

For each pair of bench/pairs/ (150, 500, 1,100, 3,000, 10,000 residues;
30,000 for the optimal criterion alone) the commands of a group run in turn,
round after round (so that a change of load hits all of them alike):
seqcorvane's optimal criterion beside needle and parasail; its marginal and
posterior criteria beside probcons in one group up to 3,000, and above that
the posterior beside probcons (up to 10,000) and the marginal alone. Each run's CPU time (user + system) and peak resident memory
come from the kernel (wait4); the tables give medians. The posterior and
marginal-interactive criteria run once per pair for their memory. Then the
CPU nanoseconds per cell of each kind of pass and the model work of full runs
(seqcorvane-dpcells, in one process), the batch program's throughput on 4,950
globin pairs (optimal, and posterior beside probcons run pair by pair on the
first 300 pairs), and a profile of the 3,000 pair (perf, when it is
installed).
"""
import argparse
import os
import platform
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
PAIRS = os.path.join(HERE, "pairs")


def run(cmd, cwd, stdin_text=None, stdout=subprocess.DEVNULL):
    """One run: (CPU seconds, wall seconds, peak RSS in bytes, exit status)."""
    t0 = time.monotonic()
    stdin = subprocess.PIPE if stdin_text is not None else subprocess.DEVNULL
    p = subprocess.Popen(cmd, cwd=cwd, stdin=stdin, stdout=stdout, stderr=subprocess.PIPE)
    if stdin_text is not None:
        p.stdin.write(stdin_text.encode())
        p.stdin.close()
    err = p.stderr.read()
    _, status, ru = os.wait4(p.pid, 0)
    p.returncode = os.waitstatus_to_exitcode(status)
    wall = time.monotonic() - t0
    if p.returncode != 0:
        sys.exit("bench: %s failed (%d): %s" % (" ".join(cmd), p.returncode, err.decode()[-400:]))
    return ru.ru_utime + ru.ru_stime, wall, ru.ru_maxrss * 1024


def alternate(commands, rounds, cwd):
    """Runs every command once a round; returns name -> list of (cpu, wall, rss)."""
    out = {name: [] for name, _ in commands}
    for r in range(rounds):
        for name, (cmd, stdin_text) in commands:
            out[name].append(run(cmd, cwd, stdin_text))
            for f in os.listdir(cwd):
                os.remove(os.path.join(cwd, f))
        print("   round %d of %d done" % (r + 1, rounds), file=sys.stderr)
    return out


def med(samples, k):
    return statistics.median(s[k] for s in samples)


def pair_lengths(n):
    lengths = []
    for f in ("s%d.fa" % n, "t%d.fa" % n):
        with open(os.path.join(PAIRS, f)) as fh:
            lengths.append(sum(len(l.strip()) for l in fh if not l.startswith(">")))
    return lengths


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--build", required=True)
    ap.add_argument("--pair", type=int, action="append", choices=[150, 500, 1100, 3000, 10000, 30000])
    ap.add_argument("--runs", type=int)
    ap.add_argument("--no-profile", action="store_true")
    ap.add_argument("--out", default=os.path.join(HERE, "RESULTS.md"))
    a = ap.parse_args()
    sizes = a.pair or [150, 500, 1100, 3000, 10000, 30000]
    a.build = os.path.abspath(a.build)
    bin_ = os.path.join(a.build, "seqcorvane")
    batch = os.path.join(a.build, "batch", "seqcorvane-batch")
    dpcells = os.path.join(a.build, "bench", "seqcorvane-dpcells")
    scratch = tempfile.mkdtemp(prefix="seqcorvane_bench_")
    lines = []
    w = lines.append
    try:
        speed, memory, passes, baseline, commands = [], [], [], {}, {}
        for n in sizes:
            s, t, st = (os.path.join(PAIRS, "%s%d.fa" % (x, n)) for x in ("s", "t", "st"))
            nS, nT = pair_lengths(n)
            cells = nS * nT
            rounds = a.runs or {150: 7, 500: 7, 1100: 5, 3000: 3}.get(n, 1)
            print("== pair %d (%d x %d), %d rounds" % (n, nS, nT, rounds), file=sys.stderr)
            sc = lambda c: ([bin_, s, t, "--criterion", c, "-o", "bench"], None)
            opt = [("seqcorvane optimal", sc("optimal"))]
            if n <= 10000:
                opt += [("needle", (["needle", "-auto", "-asequence", s, "-bsequence", t, "-gapopen", "10",
                                     "-gapextend", "0.5", "-outfile", "/dev/null"], None)),
                        ("parasail", (["sh", "-c", "exec parasail_aligner -a nw_trace_striped_sat -x -t 1 -m blosum62"
                                       " -o 10 -e 1 -f %s -O EMBOSS -g out.txt < %s" % (t, s)], None))]
            commands.update(dict(opt))
            results = alternate(opt, rounds, scratch)
            if n <= 10000:
                # Both criteria side by side with probcons in one alternation
                # up to 3,000 residues; above, the marginal criterion alone.
                marg = [("seqcorvane marginal", sc("marginal"))]
                post = [("seqcorvane posterior", sc("posterior")), ("probcons", (["probcons", st], None))]
                groups = [marg + post] if n <= 3000 else [marg, post]
                for group in groups:
                    commands.update(dict(group))
                    results.update(alternate(group, rounds, scratch))
                for c, stdin_text in (("marginal-interactive", "0 0\n4\n"),):
                    commands["seqcorvane " + c] = ([bin_, s, t, "--criterion", c, "-o", "bench"], stdin_text)
                    cmd, stdin_text = commands["seqcorvane " + c]
                    results["seqcorvane " + c] = [run(cmd, scratch, stdin_text)]
                    for f in os.listdir(scratch):
                        os.remove(os.path.join(scratch, f))
            for name, samples in results.items():
                if name not in baseline:  # the program's resident memory on the 150-residue pair
                    cmd, stdin_text = commands[name]
                    small = [x.replace("%d.fa" % n, "150.fa") for x in cmd]
                    baseline[name] = run(small, scratch, stdin_text)[2]
                    for f in os.listdir(scratch):
                        os.remove(os.path.join(scratch, f))
                rss = med(samples, 2)
                memory.append((n, nS, nT, name, rss, rss / cells, (rss - baseline[name]) / cells))
            row = {"n": n, "nS": nS, "nT": nT}
            for name, samples in results.items():
                row[name] = (med(samples, 0), med(samples, 1), len(samples))
            speed.append(row)
            if n <= 10000:
                print("   passes", file=sys.stderr)
                out = subprocess.run([dpcells, "--reps", "3" if n <= 3000 else "1", "--criteria",
                                      "optimal,marginal,posterior", s, t], capture_output=True, text=True, check=True)
                passes.append((n, dict(l.split() for l in out.stdout.splitlines())))

        # ---- the batch program
        print("== batch throughput", file=sys.stderr)
        globins = os.path.join(PAIRS, "globins100.fa")
        batch_rows = []
        for criterion, threads in (("optimal", 1), ("optimal", 2), ("posterior", 1), ("posterior", 2)):
            cpu, wall, rss = run([batch, globins, "--criterion", criterion, "--threads", str(threads), "-o",
                                  "table.tsv"], scratch)
            with open(os.path.join(scratch, "table.tsv")) as f:
                n_pairs = sum(1 for l in f if not l.startswith("#")) - 1
            os.remove(os.path.join(scratch, "table.tsv"))
            batch_rows.append((criterion, threads, n_pairs, cpu, wall, rss))
        # probcons pair by pair on the first 300 pairs of the same set.
        records = []
        with open(globins) as f:
            for l in f:
                if l.startswith(">"):
                    records.append([l, ""])
                else:
                    records[-1][1] += l
        pc_pairs, pc_cpu = 0, 0.0
        for i in range(len(records)):
            for j in range(i + 1, len(records)):
                if pc_pairs == 300:
                    break
                path = os.path.join(scratch, "pair.fa")
                with open(path, "w") as f:
                    f.write("".join(records[i]) + "".join(records[j]))
                pc_cpu += run(["probcons", path], scratch)[0]
                pc_pairs += 1

        # ---- the profile
        profile = {}
        if not a.no_profile and shutil.which("perf") and 3000 in sizes:
            print("== profile of the 3,000 pair", file=sys.stderr)
            s, t = (os.path.join(PAIRS, "%s3000.fa" % x) for x in ("s", "t"))
            for c in ("optimal", "marginal"):
                data = os.path.join(scratch, "perf.data")
                rec = subprocess.run(["perf", "record", "-e", "cpu-clock", "-F", "2000", "-o", data, "--", bin_, s, t,
                                      "--criterion", c, "-o", "bench"], cwd=scratch, capture_output=True, text=True)
                rep = subprocess.run(["perf", "report", "-i", data, "--stdio", "--no-children", "--percent-limit", "2",
                                      "--sort", "symbol"], capture_output=True, text=True)
                if rec.returncode == 0 and rep.returncode == 0:
                    profile[c] = [re.sub(r"\s+-\s+-\s*$", "", l).rstrip() for l in rep.stdout.splitlines()
                                  if re.match(r"^\s+\d+\.\d+%", l)]
                for f in os.listdir(scratch):
                    os.remove(os.path.join(scratch, f))
    finally:
        shutil.rmtree(scratch, ignore_errors=True)

    # ---- the report
    w("# Benchmark results\n")
    cpu = "unknown"
    with open("/proc/cpuinfo") as f:
        for l in f:
            if l.startswith("model name"):
                cpu = l.split(":", 1)[1].strip()
                break
    with open("/proc/meminfo") as f:
        mem_gib = int(f.readline().split()[1]) / 2 ** 20
    w("Machine: %s, %d cores, %.1f GiB; %s; %s. Made by `bench/run.sh`%s.\n"
      % (cpu, os.cpu_count(), mem_gib, platform.platform(), time.strftime("%Y-%m-%d %H:%M UTC", time.gmtime()),
         "" if not a.pair else " --pair " + " --pair ".join(map(str, a.pair))))
    w("## CPU time (user + system), medians of alternated runs\n")
    w("| pair | seqcorvane optimal | needle | ratio | seqcorvane marginal | seqcorvane posterior | probcons | "
      "marginal ratio | posterior ratio | rounds |")
    w("|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|")
    f = lambda row, k: "%.3f s" % row[k][0] if k in row else "-"
    ratio = lambda row, x, y: "%.2f" % (row[x][0] / row[y][0]) if x in row and y in row and row[y][0] > 0 else "-"
    for row in speed:
        w("| %d x %d | %s | %s | %s | %s | %s | %s | %s | %s | %d |" % (
            row["nS"], row["nT"], f(row, "seqcorvane optimal"), f(row, "needle"),
            ratio(row, "seqcorvane optimal", "needle"), f(row, "seqcorvane marginal"), f(row, "seqcorvane posterior"),
            f(row, "probcons"), ratio(row, "seqcorvane marginal", "probcons"),
            ratio(row, "seqcorvane posterior", "probcons"), row["seqcorvane optimal"][2]))
    w("\nWall time, medians (seqcorvane uses 2 threads in the marginal search; the peers one):\n")
    w("| pair | seqcorvane optimal | needle | parasail | seqcorvane marginal | probcons |")
    w("|---|---:|---:|---:|---:|---:|")
    g = lambda row, k: "%.3f s" % row[k][1] if k in row else "-"
    for row in speed:
        w("| %d x %d | %s | %s | %s | %s | %s |" % (row["nS"], row["nT"], g(row, "seqcorvane optimal"),
                                                  g(row, "needle"), g(row, "parasail"),
                                                  g(row, "seqcorvane marginal"), g(row, "probcons")))
    w("\n## Peak resident memory\n")
    w("Bytes per cell: peak RSS over |S| x |T|; above baseline: less the same program's peak RSS on the"
      " 150-residue pair (code, libraries and models).\n")
    w("| pair | program | peak RSS | bytes per cell | above baseline |")
    w("|---|---|---:|---:|---:|")
    for n, nS, nT, name, rss, per_cell, above in memory:
        w("| %d x %d | %s | %.1f MiB | %.2f | %.2f |" % (nS, nT, name, rss / 2 ** 20, per_cell, above))
    w("\n## CPU nanoseconds per cell of each kind of pass (K = 250), and model work of full runs\n")
    keys = ["optimal_fill", "forward_exact", "forward_fast", "posteriors_exact", "posteriors_fast"]
    w("| pair | " + " | ".join(keys) + " | optimal run | marginal run | posterior run | powers formed (opt/marg/post) |"
      " search passes, fast/exact (marg, post) | data files read |")
    w("|---|" + "---:|" * (len(keys) + 6))
    for n, d in passes:
        w("| %s x %s | %s | %s s | %s s | %s s | %s / %s / %s | %s, %s | %s |" % (
            d["nS"], d["nT"], " | ".join("%.2f" % float(d[k + "_ns_per_cell"]) for k in keys),
            "%.3f" % float(d["optimal_seconds"]), "%.3f" % float(d["marginal_seconds"]),
            "%.3f" % float(d["posterior_seconds"]), d["optimal_powers"], d["marginal_powers"], d["posterior_powers"],
            d["marginal_search_passes"], d["posterior_search_passes"], d["data_files_read"]))
    w("\n(The process keeps each matrix power once formed: the marginal run after the optimal one forms only"
      " the powers the optimal search did not; no run builds a model of its own.)\n")
    w("## seqcorvane-batch: all 4,950 pairs of 100 globins of about 150 residues\n")
    w("| criterion | threads | pairs | CPU | wall | pairs per CPU-second | peak RSS |")
    w("|---|---:|---:|---:|---:|---:|---:|")
    for criterion, threads, n_pairs, cpu_s, wall, rss in batch_rows:
        w("| %s | %d | %d | %.2f s | %.2f s | %.0f | %.1f MiB |" % (criterion, threads, n_pairs, cpu_s, wall,
                                                                 n_pairs / cpu_s, rss / 2 ** 20))
    post_rate = [n / c for crit, t, n, c, _, _ in batch_rows if crit == "posterior" and t == 1][0]
    w("\nprobcons, one process a pair, on the first %d pairs: %.2f s CPU, %.0f pairs per CPU-second; the batch "
      "program's posterior criterion on one thread: %.1f times as many.\n" % (pc_pairs, pc_cpu, pc_pairs / pc_cpu,
                                                                              post_rate / (pc_pairs / pc_cpu)))
    if profile:
        w("\n## Profile of the 3,000 pair (perf, cpu-clock; symbols above 2%)\n")
        for c, rows in profile.items():
            w("%s:\n" % c)
            w("```")
            lines.extend(rows)
            w("```\n")
    text = "\n".join(lines) + "\n"
    tmp = a.out + ".tmp"
    with open(tmp, "w") as fh:
        fh.write(text)
    os.replace(tmp, a.out)
    print(text)


if __name__ == "__main__":
    main()
