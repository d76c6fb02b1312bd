#!/usr/bin/env python3
"""Turns the raw measurements of bench/run.sh into the Markdown report.

Usage: bench/report.py RAWDIR SIZE...   (the report goes to standard output)

RAWDIR holds, per pair size n and command c (needle, optimal, probcons,
marginal): n.c.json (hyperfine), n.c.time (GNU time, one line "%e %U %S %M"
per run), n.dpcells (seqcorvane-dpcells), and machine, callgrind.*.
"""
import json
import os
import re
import sys

MIB = 1024.0 * 1024.0


def read_keyvalues(path):
    kv = {}
    if os.path.exists(path):
        with open(path) as f:
            for line in f:
                parts = line.rstrip("\n").split(" ", 1)
                if len(parts) == 2:
                    kv[parts[0]] = parts[1]
    return kv


def median(values):
    v = sorted(values)
    n = len(v)
    if n == 0:
        return None
    return v[n // 2] if n % 2 else 0.5 * (v[n // 2 - 1] + v[n // 2])


def read_measurement(raw, name):
    """Wall (hyperfine: median, min, max; s), CPU (user + system; s), system time
    (GNU time, median; s), peak RSS (GNU time, max over the runs; bytes)."""
    jpath = os.path.join(raw, name + ".json")
    tpath = os.path.join(raw, name + ".time")
    if not (os.path.exists(jpath) and os.path.exists(tpath)):
        return None
    with open(jpath) as f:
        res = json.load(f)["results"][0]
    rss, gcpu, gsys = [], [], []
    with open(tpath) as f:
        for line in f:
            fields = line.split()
            if len(fields) == 4:
                gcpu.append(float(fields[1]) + float(fields[2]))
                gsys.append(float(fields[2]))
                rss.append(int(fields[3]) * 1024)
    # GNU time prints CPU seconds with two decimals: precise enough from a
    # fifth of a second up, and its median resists a slow first run; below
    # that, hyperfine's mean (microseconds) is used.
    cpu = median(gcpu)
    if cpu is None or cpu < 0.2:
        cpu = res["user"] + res["system"]
    return {
        "wall": res["median"],
        "wall_min": res["min"],
        "wall_max": res["max"],
        "runs": len(res["times"]),
        "cpu": cpu,
        "sys": median(gsys),
        "rss": max(rss) if rss else None,
        "exit": res.get("exit_codes", []),
    }


def fmt_s(x):
    if x is None:
        return "-"
    return "%.3f" % x if x < 10 else "%.2f" % x


def fmt_mib(b):
    return "-" if b is None else "%.1f" % (b / MIB)


def fmt_ratio(x):
    return "-" if x is None else "%.2f" % x


def matrix_bytes(ns, nt, nmat=3):
    return nmat * (ns + 1) * (nt + 1) * 64


# ---- callgrind_annotate output

LINE_RE = re.compile(r"^\s*([\d,]+)\s+\(\s*([\d.]+)%\)\s+(.*)$")


def short_name(text):
    text = re.sub(r"\s+\[[^\]]*\]\s*$", "", text)  # the object file
    m = re.match(r"^(.*?):(.*)$", text)
    if m and "/" in m.group(1) or (m and m.group(1) == "???"):
        where, fn = m.group(1), m.group(2)
        where = os.path.basename(where)
        text = (where + ":" if where != "???" else "") + fn
    text = text.replace("std::__cxx11::", "std::").replace("std::basic_string<char, std::char_traits<char>, std::allocator<char> >", "std::string")
    prev = None
    while prev != text:  # drop allocator arguments, innermost first
        prev = text
        text = re.sub(r", std::allocator<[^<>]*(<[^<>]*>)?[^<>]*>\s*", "", text)
    if len(text) > 110:
        text = text[:107] + "..."
    return text


def read_callgrind(path):
    """(total Ir, [(Ir, percent, name)]) from callgrind_annotate's output."""
    total, rows = None, []
    if not os.path.exists(path):
        return None, []
    with open(path) as f:
        for line in f:
            m = LINE_RE.match(line)
            if not m:
                continue
            ir = int(m.group(1).replace(",", ""))
            name = m.group(3).strip()
            if name.startswith("PROGRAM TOTALS"):
                total = ir
                continue
            rows.append((ir, float(m.group(2)), name))
    if total is None:
        # older annotate prints the total on its own line without a percentage
        with open(path) as f:
            for line in f:
                m = re.match(r"^\s*([\d,]+)\s+PROGRAM TOTALS", line)
                if m:
                    total = int(m.group(1).replace(",", ""))
    return total, rows


def share(rows, total, pattern):
    rx = re.compile(pattern)
    s = sum(ir for ir, _, name in rows if rx.search(name))
    return 100.0 * s / total if total else 0.0


def incl_share(rows, total, pattern):
    """The largest inclusive share among the functions that match."""
    rx = re.compile(pattern)
    best = 0
    for ir, _, name in rows:
        if rx.search(name):
            best = max(best, ir)
    return 100.0 * best / total if total else 0.0


def main():
    raw = sys.argv[1]
    sizes = sys.argv[2:]
    machine = read_keyvalues(os.path.join(raw, "machine"))
    data = {}
    for n in sizes:
        d = {"dp": read_keyvalues(os.path.join(raw, "%s.dpcells" % n))}
        for c in ("needle", "optimal", "probcons", "marginal"):
            d[c] = read_measurement(raw, "%s.%s" % (n, c))
        data[n] = d

    out = []
    w = out.append
    w("# SeqCorvane benchmark against EMBOSS needle and probcons")
    w("")
    w("Produced by `bench/run.sh`%s on %s. Pairs: `bench/pairs/` (see `bench/README.md`)."
      % (" --quick" if machine.get("quick") == "1" else "", machine.get("date", "?")))
    w("")
    w("## Machine")
    w("")
    mem = machine.get("memory_kib")
    w("| | |")
    w("|---|---|")
    w("| CPU | %s |" % machine.get("cpu", "?"))
    w("| cores | %s |" % machine.get("cores", "?"))
    w("| memory | %s |" % ("%.1f GiB" % (int(mem) / MIB) if mem else "?"))
    w("| compiler | %s |" % machine.get("compiler", "?"))
    w("| flags | `%s` (CMake Release) |" % machine.get("flags", "?").strip())
    w("| kernel | %s |" % machine.get("kernel", "?"))
    w("| peers | needle %s, probcons %s |" % (machine.get("needle", "?"), machine.get("probcons", "?")))
    w("| timing | %s: wall (median of the runs); GNU time: CPU = user + system (median; hyperfine's mean below 0.2 s), system time (median), peak RSS (max) |"
      % machine.get("hyperfine", "hyperfine"))
    w("| seqcorvane | commit %s |" % machine.get("commit", "?"))
    w("| load average (1, 5, 15 min) | %s at the start of the measurements, %s at their end |"
      % (machine.get("load_start", "?"), machine.get("load_end", "?")))
    w("")

    # ---- times and memory
    w("## Times and memory")
    w("")
    w("Commands: `seqcorvane S.fa T.fa --criterion optimal|marginal`; "
      "`needle -asequence S.fa -bsequence T.fa -gapopen 10 -gapextend 0.5 -outfile /dev/null`; "
      "`probcons ST.fa` (both sequences in one file). "
      "\"DP matrices\" is 3 x (|S|+1) x (|T|+1) cells of 64 bytes, the machine's matrices.")
    w("")
    w("| pair | \\|S\\| x \\|T\\| | DP matrices (MiB) | program | runs | wall (s) | CPU (s) | of which system (s) | peak RSS (MiB) | peak / DP matrices |")
    w("|---|---|---|---|---|---|---|---|---|---|")
    for n in sizes:
        d = data[n]
        ns, nt = int(d["dp"].get("nS", 0)), int(d["dp"].get("nT", 0))
        mb = matrix_bytes(ns, nt)
        first = True
        for c, label in (("optimal", "seqcorvane optimal"), ("needle", "needle"),
                         ("marginal", "seqcorvane marginal"), ("probcons", "probcons")):
            m = d[c]
            if m is None:
                cells = ["not run"] + ["-"] * 5
            else:
                rel = "%.2f" % (m["rss"] / mb) if c in ("optimal", "marginal") and m["rss"] else ""
                cells = [str(m["runs"]), fmt_s(m["wall"]), fmt_s(m["cpu"]),
                         "%.2f" % m["sys"] if m["sys"] is not None else "-", fmt_mib(m["rss"]), rel]
            w("| %s | %s | %s | %s | %s |" % (n if first else "", "%d x %d" % (ns, nt) if first else "",
                                             "%.1f" % (mb / MIB) if first else "", label, " | ".join(cells)))
            first = False
    w("")

    # ---- ratios
    w("## Ratios")
    w("")
    w("Wall-time and peak-memory ratios of seqcorvane to the peer on the same pair (below 1: seqcorvane is faster or smaller).")
    w("")
    w("| pair | optimal / needle (wall) | optimal / needle (CPU) | optimal / needle (memory) | marginal / probcons (wall) | marginal / probcons (CPU) | marginal / probcons (memory) |")
    w("|---|---|---|---|---|---|---|")

    def ratio(a, b, key):
        if a is None or b is None or not a.get(key) or not b.get(key):
            return None
        return a[key] / b[key]

    for n in sizes:
        d = data[n]
        w("| %s | %s | %s | %s | %s | %s | %s |" % (
            n,
            fmt_ratio(ratio(d["optimal"], d["needle"], "wall")),
            fmt_ratio(ratio(d["optimal"], d["needle"], "cpu")),
            fmt_ratio(ratio(d["optimal"], d["needle"], "rss")),
            fmt_ratio(ratio(d["marginal"], d["probcons"], "wall")),
            fmt_ratio(ratio(d["marginal"], d["probcons"], "cpu")),
            fmt_ratio(ratio(d["marginal"], d["probcons"], "rss"))))
    w("")

    # ---- per cell, and model work
    w("## DP speed per cell, and model work of a full run")
    w("")
    w("`seqcorvane-dpcells` (bench/dpcells.cpp): one optimal fill (`threeStateDPAClass_t::fillDPMatrices`, at K = 250) "
      "and one forward pass (`computeTotalProbOfST(250)`), in nanoseconds per grid cell (i, j), each of which computes "
      "the three states M, D and I; least and median of the repetitions. Then one full run of the program per criterion, "
      "in-process in a fresh child process: substitution models constructed (`SubmatClass_t::modelsBuilt()`) and data "
      "files read (`dataFilesRead()`).")
    w("")
    w("| pair | grid cells | reps | fill ns/cell (min / median) | forward ns/cell (min / median) | optimal run: models built | optimal run: data files read | marginal run: models built | marginal run: data files read |")
    w("|---|---|---|---|---|---|---|---|---|")
    for n in sizes:
        dp = data[n]["dp"]

        def g(k):
            return dp.get(k, "-")

        def f1(k):
            return "%.1f" % float(dp[k]) if k in dp else "-"

        w("| %s | %s | %s | %s / %s | %s / %s | %s | %s | %s | %s |" % (
            n, g("cells"), g("reps"), f1("fill_ns_per_cell"), f1("fill_ns_per_cell_median"),
            f1("fwd_ns_per_cell"), f1("fwd_ns_per_cell_median"),
            g("optimal_models"), g("optimal_files"),
            g("marginal_models") if "marginal_models" in dp else "not run",
            g("marginal_files") if "marginal_files" in dp else "not run"))
    w("")

    # ---- targets
    w("## Targets")
    w("")
    tn = "1100" if "1100" in data else sizes[-1]
    d = data[tn]
    r1 = ratio(d["optimal"], d["needle"], "wall")
    r2 = ratio(d["marginal"], d["probcons"], "wall")

    def verdict(ok):
        return "**met**" if ok else "**not met**"

    if r1 is not None:
        w("1. Optimal criterion on the %s pair no slower than needle: %.3f s against %.3f s, ratio %.2f: %s."
          % (tn, d["optimal"]["wall"], d["needle"]["wall"], r1, verdict(r1 <= 1.0)))
    else:
        w("1. Optimal criterion on the %s pair no slower than needle: not measured." % tn)
    if r2 is not None:
        w("2. Marginal criterion no slower than twice probcons (%s pair): %.3f s against 2 x %.3f s, ratio %.2f "
          "(the target is at most 2): %s." % (tn, d["marginal"]["wall"], d["probcons"]["wall"], r2, verdict(r2 <= 2.0)))
        others = []
        for n in sizes:
            rr = ratio(data[n]["marginal"], data[n]["probcons"], "wall")
            if rr is not None and n != tn:
                others.append("%s pair %.2f" % (n, rr))
        if others:
            w("   Other pairs: %s." % ", ".join(others))
    else:
        w("2. Marginal criterion no slower than twice probcons: not measured.")
    memlines = []
    memok = True
    judged = [n for n in sizes if int(n) >= 1100] or [sizes[-1]]
    for n in sizes:
        dd = data[n]
        ns, nt = int(dd["dp"].get("nS", 0)), int(dd["dp"].get("nT", 0))
        mb = matrix_bytes(ns, nt)
        for c in ("optimal", "marginal"):
            m = dd[c]
            if m is None or not m["rss"] or not mb:
                continue
            q = m["rss"] / mb
            if n in judged:
                memok = memok and q <= 1.10
            memlines.append("%s %s %.2f" % (n, c, q))
    w("3. Peak memory at most 10%% above the DP matrices (peak RSS / matrices at most 1.10), judged on the %s pair%s, "
      "where the matrices dominate (on the small pairs the process's fixed few MiB dominate): %s. All runs: %s."
      % (" and ".join(judged), "s" if len(judged) > 1 else "", verdict(memok), "; ".join(memlines)))
    if machine.get("marg3000") == "0":
        w("")
        w("The marginal criterion and probcons were not run on the 3,000 pair (`--no-3000-marginal`).")
    w("")

    # ---- profile
    prof = {}
    for c in ("optimal", "marginal"):
        prof[c] = (read_callgrind(os.path.join(raw, "callgrind.%s.self" % c)),
                   read_callgrind(os.path.join(raw, "callgrind.%s.incl" % c)))
    if any(prof[c][0][0] for c in prof):
        w("## Profile (callgrind, 500 pair)")
        w("")
        w("`valgrind --tool=callgrind` on one run of the 500 pair per criterion (the same Release build, with debug "
          "information). Instructions executed (Ir); self cost of the top functions, then the inclusive cost of the "
          "machine's main operations. Callgrind counts instructions, not time: memory stalls and page faults (the "
          "system time of the big pairs) do not show here.")
        w("")
        for c in ("optimal", "marginal"):
            (total, rows), (itotal, irows) = prof[c]
            if not total:
                continue
            w("### %s: %s instructions" % (c, "{:,}".format(total)))
            w("")
            w("Top functions by self cost:")
            w("")
            w("| Ir | % | function |")
            w("|---|---|---|")
            for ir, pct, name in rows[:12]:
                w("| %s | %.1f | `%s` |" % ("{:,}".format(ir), pct, short_name(name)))
            w("")
            keys = [
                ("fillDPMatrices (optimal fills)", r"threeStateDPAClass_t::fillDPMatrices\(\)"),
                ("resetDPMatrices", r"threeStateDPAClass_t::resetDPMatrices"),
                ("estimateSubmatParam (K search on an alignment)", r"threeStateDPAClass_t::estimateSubmatParam"),
                ("SubmatClass_t constructor (models built)", r"SubmatClass_t::SubmatClass_t\(int\)"),
                ("computeTotalProbOfST (forward passes)", r"threeStateDPAClass_t::computeTotalProbOfST\(int"),
                ("computeTotalProbOfST_2sink (to-sink pass)", r"threeStateDPAClass_t::computeTotalProbOfST_2sink"),
                ("printTotalFwdPlusBwd (landscape and its files)", r"threeStateDPAClass_t::printTotalFwdPlusBwd"),
                ("init (allocating the matrices)", r"threeStateDPAClass_t::init\(\)"),
            ]
            w("Inclusive cost of the main operations:")
            w("")
            w("| operation | % of instructions |")
            w("|---|---|")
            for label, rx in keys:
                p = incl_share(irows, itotal, rx)
                if p >= 0.05:
                    w("| %s | %.1f |" % (label, p))
            w("")
            mathp = share(rows, total, r"(^|[^A-Za-z_])(__)?(ieee754_)?(exp|log|log1p|__exp1|exp1|__log1p|pow)[A-Za-z0-9_]*\b|libm")
            iop = share(rows, total, r"(printf|_IO_|__mpn|hack_digit|num_put|ostream|__printf_fp|vfprintf|ostringstream|strtod|__strtod|istream|num_get)")
            allocp = share(rows, total, r"(malloc|free|memset|memcpy|memmove|operator new|operator delete|_int_)")
            w("By kind (self cost): libm `exp`/`log`/`log1p`/`pow` %.1f%%; formatted text input/output %.1f%%; "
              "allocation and memory copies %.1f%%." % (mathp, iop, allocp))
            w("")

    # ---- what the numbers say
    w("## What remains, and why")
    w("")
    dd = data[tn]
    dp = dd["dp"]
    cells = float(dp.get("cells", 0))
    fill_ns = float(dp.get("fill_ns_per_cell", 0))
    fwd_ns = float(dp.get("fwd_ns_per_cell", 0))
    one_fill = fill_ns * cells * 1e-9
    one_fwd = fwd_ns * cells * 1e-9
    mbytes = matrix_bytes(int(dp.get("nS", 0)), int(dp.get("nT", 0)))
    if dd["optimal"] and dd["needle"]:
        o, nd = dd["optimal"], dd["needle"]
        w("- **Optimal** (%s pair): %.3f s wall, %.3f s CPU of which %.2f s system; needle %.3f s. One fill costs "
          "%.1f ns per grid cell, %.3f s for the pair, and the alternating estimation fills the matrices at least "
          "twice (until an alignment repeats; the first traced one can never repeat the empty start), two or three times on these pairs, "
          "so the fills alone take some %.2f-%.2f s, about needle's whole run. Around them: the system time is the kernel handing out the "
          "zeroed pages of %.0f MiB of 64-byte cells (needle keeps %.0f MiB in all); every iteration resets all the "
          "cells; the search for K on each alignment builds a substitution model per probe (%s in the run, each a "
          "matrix power); and the priors table is parsed from text once. The fill itself is some 150 instructions per "
          "grid cell: nine candidates of three fields each, kept in full (transmission, emission, counts, "
          "predecessor) because the machine's cell carries them. Meeting needle would take all of: two fills of "
          "no more than half the cost each, no per-iteration reset of the whole matrices, and a cell small enough "
          "that the first touch of the pages stops mattering; the defined alternation itself (at least two full "
          "fills and a model search between them) is already needle's budget."
          % (tn, o["wall"], o["cpu"], o["sys"] or 0, nd["wall"], fill_ns, one_fill, 2 * one_fill, 3 * one_fill,
             mbytes / MIB, (nd["rss"] or 0) / MIB, dp.get("optimal_models", "?")))
    if dd["marginal"] and dd["probcons"]:
        m, pc = dd["marginal"], dd["probcons"]
        nfwd = m["cpu"] / one_fwd if one_fwd else 0
        w("- **Marginal** (%s pair): %.3f s wall against probcons %.3f s. One forward pass costs %.1f ns per grid "
          "cell, %.3f s for the pair: each of the three states of a cell is a log-space sum of three terms, done "
          "exactly (sort, two `exp`, one `log1p`), so nine libm calls per cell, and the profile puts more than half "
          "of all instructions in libm. The search over the distance K evaluates two forward passes per bracketing "
          "step and needs 21 or 22 steps to shrink 1..1000 to adjacent probes, so 42 to 44 passes, then one more to "
          "report, the to-sink pass and the landscape (its two text files are most of the rest: `printf_fp`, "
          "`hack_digit`): the run costs about %.0f forward passes' worth of CPU. probcons makes one forward and one "
          "backward pass over the pair. So twice "
          "probcons (%.2f s) would leave %.1f ns per cell per pass for ~47 passes: out of reach of any exact "
          "per-cell log-sum; the target needs fewer passes (a search over K that evaluates fewer distances, or the "
          "two probes of a step computed together) as well as a cheaper sum."
          % (tn, m["wall"], pc["wall"], fwd_ns, one_fwd, nfwd, 2 * pc["wall"],
             (2 * pc["wall"]) / (47 * cells) * 1e9 if cells else 0))
    w("- **Memory**: the matrices themselves are the floor (a cell holds eight 8-byte fields whatever the criterion "
      "reads), and on the large pairs the peak is within a few per cent of them; the marginal criterion adds the "
      "landscape (one double per grid cell, 1/24 of the matrices) at the peak. The small pairs are dominated by the "
      "process's fixed few MiB (libraries, model tables). The peers are far smaller in absolute terms: needle keeps "
      "a score matrix of a few bytes per cell, probcons single-precision posteriors.")
    w("")
    print("\n".join(out))


if __name__ == "__main__":
    main()
