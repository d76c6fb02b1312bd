#!/usr/bin/python3
"""A numpy model of the posterior criterion's passes, global and local.

The costs are the machine's own: seqcorvane-dumpcosts --all prints, for
every distance K of 1..1000, the posterior criterion's transition costs
(gap opening scaled by 0.35), its match costs (the fitted joint tables) and
the end gap discounts, and the null cost of every residue; a pair's tables
are built from them by residue index. Everything is in nits.

Global hypothesis (today's machine): a path from (0, 0) to (|S|, |T|), its
first column charged ln 3, then the transitions; matches cost match(a, b),
gap columns their residue's null cost. Its marginal message length is
-ln(sum over paths) + ln 1000 + wt(max(|S|, |T|)).

Local hypothesis: the null's length statements, ln 1000 for K, the region's
boundaries in S and T (uniform over the n(n+1)/2 and m(m+1)/2 non-empty
ranges), the residues outside it under the null model, and the region as a
three-state path that starts and ends with a match column (its first state
given). Against the null message this is, in log-odds, a pass in which a
match column may begin at any cell with weight 1 and the path may end after
any match column; gap columns cost their transition only, a match column
match(a, b) - null(a) - null(b).

Rows are vectorised in log space; the insert state's row recurrence
I_j = lse(I_{j-1} + d_j, b_j) is solved by logaddexp.accumulate after
subtracting the running sum of d.
"""
import math
import os
import subprocess

import numpy as np

ALPHABET = "ARNDCQEGHILKMFPSTWYV"
LN3 = math.log(3.0)
LN2 = math.log(2.0)
LN1000 = math.log(1000.0)
NEG = -np.inf
M, D, I = 0, 1, 2


def catalan(k):
    return math.comb(2 * k, k) // (k + 1)


def wt_nits(value):
    """The tree code's length of value >= 0, as the library states lengths."""
    n = value + 1
    if n == 1:
        return LN2
    cum, j = 0, 0
    while True:
        cum += catalan(j)
        if cum >= n:
            break
        j += 1
    return (2 * j + 1) * LN2


class Model:
    """The cost tables of one criterion's model at every distance."""

    def __init__(self, path):
        trans, disc, match = {}, {}, {}
        k = None
        with open(path) as f:
            for line in f:
                key, _, rest = line.partition(" ")
                if key == "alphabet":
                    assert rest.strip() == ALPHABET
                elif key == "gap_s":
                    self.gap = np.array([float(x) for x in rest.split()])
                elif key == "K":
                    k = int(rest)
                elif key == "trans":
                    trans[k] = np.array([float(x) for x in rest.split()]).reshape(3, 3)
                elif key == "end_discount":
                    disc[k] = np.array([float(x) for x in rest.split()])
                elif key == "match":
                    match[k] = np.array([float(x) for x in rest.split()]).reshape(20, 20)
        self.trans = np.zeros((1001, 3, 3))
        self.disc = np.zeros((1001, 3))
        self.match = np.full((1001, 20, 20), np.inf)
        for k in trans:
            self.trans[k], self.disc[k], self.match[k] = trans[k], disc[k], match[k]
        self.index = {a: n for n, a in enumerate(ALPHABET)}

    @staticmethod
    def load(dumper, data, model, cache):
        """The tables from the dumper, kept as text in cache."""
        path = os.path.join(cache, f"costs_{model}.txt")
        if not os.path.exists(path):
            os.makedirs(cache, exist_ok=True)
            cmd = [dumper, "--model", model, "--all"] + (["--data", data] if data else [])
            out = subprocess.run(cmd, check=True, capture_output=True, text=True).stdout
            with open(path + ".tmp", "w") as f:
                f.write(out)
            os.replace(path + ".tmp", path)
        return Model(path)

    def idx(self, seq):
        return np.array([self.index[c] for c in seq], dtype=np.int64)

    def null_len(self, seq):
        """The null message length of a sequence: its length, then its residues."""
        return wt_nits(len(seq)) + float(self.gap[self.idx(seq)].sum())


def lae3(a, b, c):
    return np.logaddexp(np.logaddexp(a, b), c)


class Pair:
    """A pair's costs at one distance: match costs [i][j], gap costs of S and T, transitions."""

    def __init__(self, model, s, t, K, end_alike=False):
        self.s, self.t, self.K = s, t, K
        si, ti = model.idx(s), model.idx(t)
        self.si, self.ti = si, ti
        self.match = model.match[K][si][:, ti]
        self.gs, self.gt = model.gap[si], model.gap[ti]
        self.trans = model.trans[K].copy()
        self.start_disc = np.zeros(3)
        self.end_disc = model.disc[K].copy() if end_alike else np.zeros(3)

    def reversed(self):
        r = object.__new__(Pair)
        r.s, r.t, r.K = self.s[::-1], self.t[::-1], self.K
        r.si, r.ti = self.si[::-1], self.ti[::-1]
        r.match = self.match[::-1, ::-1]
        r.gs, r.gt = self.gs[::-1], self.gt[::-1]
        r.trans = self.trans.T.copy()
        r.start_disc, r.end_disc = self.end_disc.copy(), self.start_disc.copy()
        return r


def forward(p, local, keep=True, best=False):
    """Log-probabilities (ell = -cost) of the paths ending in each cell and state.

    Global: F[X][i][j], all paths from the start whose last column is X at
    (i, j); local: the same in log-odds, paths that began with a match column
    anywhere. With best, the maximum instead of the sum (best path).
    Returns (F or None, total): total is ln of all complete paths (global:
    with the end gap discounts; local: every path ending after a match).
    """
    add = np.maximum if best else np.logaddexp
    acc = np.maximum.accumulate if best else np.logaddexp.accumulate
    n, m = p.match.shape
    tp = -p.trans
    if local:
        emit = -(p.match - p.gs[:, None] - p.gt[None, :])
        gsv, gtv = np.zeros(n), np.zeros(m)
    else:
        emit = -p.match
        gsv, gtv = -p.gs, -p.gt
    F = np.full((3, n + 1, m + 1), NEG) if keep else None
    prev = np.full((3, m + 1), NEG)
    cur = np.full((3, m + 1), NEG)
    # d_j: the cost of staying in I from column j-1 to j (its emission included)
    d = np.concatenate(([0.0], tp[I, I] + gtv))
    C = np.cumsum(d)
    # row 0: only the global machine's leading inserts
    if not local:
        b = np.full(m + 1, NEG)
        b[1] = -LN3 + p.start_disc[I] + gtv[0]
        cur[I] = C + acc(b - C)
    if keep:
        F[:, 0] = cur
    total_local = NEG
    b = np.full(m + 1, NEG)
    for i in range(1, n + 1):
        prev, cur = cur, prev
        mm = add(add(prev[M, :-1] + tp[M, M], prev[D, :-1] + tp[D, M]), prev[I, :-1] + tp[I, M])
        if local:
            mm = add(mm, 0.0)  # a region may begin here
        elif i == 1:
            mm[0] = -LN3
        cur[M, 0] = NEG
        cur[M, 1:] = mm + emit[i - 1]
        dd = add(add(prev[M] + tp[M, D], prev[D] + tp[D, D]), prev[I] + tp[I, D]) + gsv[i - 1]
        if not local and i == 1:
            dd[0] = -LN3 + p.start_disc[D] + gsv[0]
        cur[D] = dd
        b[1:] = add(cur[M, :-1] + tp[M, I], cur[D, :-1] + tp[D, I]) + gtv
        cur[I] = C + acc(b - C)
        if keep:
            F[:, i] = cur
        if local:
            row = cur[M, 1:]
            total_local = max(total_local, float(row.max())) if best else float(np.logaddexp(total_local, np.logaddexp.reduce(row)))
    if local:
        return F, float(total_local)
    end = cur[:, m] + p.end_disc
    return F, float(np.max(end) if best else np.logaddexp.reduce(end))


def boundary_nits(n, m):
    """The region's boundaries: uniform over the non-empty ranges of S and of T."""
    return math.log(n * (n + 1) / 2) + math.log(m * (m + 1) / 2)


def global_marginal(model, s, t, K):
    """Today's marginal message length at K (the machine's end gaps)."""
    _, z = forward(Pair(model, s, t, K), local=False, keep=False)
    return -z + LN1000 + wt_nits(max(len(s), len(t)))


def local_marginal(model, s, t, K, choice=0.0):
    """The local hypothesis's message length summed over all regions and paths at K;
    choice: the nits that state the hypothesis (ln 2 in the automatic choice)."""
    _, z = forward(Pair(model, s, t, K), local=True, keep=False)
    return (model.null_len(s) + model.null_len(t) + choice + LN1000 + boundary_nits(len(s), len(t)) - z)


class Post:
    """Posteriors of one hypothesis: pair[i][j] (residues from 0), unpaired and
    inside-the-region probabilities of each residue, and ln of all paths."""

    def __init__(self, pair, unS, unT, total):
        self.pair, self.unS, self.unT, self.total = pair, unS, unT, total
        self.inS = pair.sum(1) + unS
        self.inT = pair.sum(0) + unT


def posteriors(p, local):
    n, m = p.match.shape
    F, z = forward(p, local)
    R, zr = forward(p.reversed(), local)
    assert abs(z - zr) <= 1e-8 * max(1.0, abs(z)), (z, zr)
    Rf = R[:, ::-1, ::-1]  # Rf[X][i][j] = R[X][n-i][m-j]
    if local:
        eM = -(p.match - p.gs[:, None] - p.gt[None, :])
        eD, eI, back = np.zeros(n), np.zeros(m), 0.0
    else:
        eM, eD, eI, back = -p.match, -p.gs, -p.gt, LN3
    with np.errstate(invalid="ignore"):
        pm = np.exp(F[M, 1:, 1:] + Rf[M, :-1, :-1] - eM + back - z)
        pd = np.exp(F[D, 1:, :] + Rf[D, :-1, :] - eD[:, None] + back - z)
        pi = np.exp(F[I, :, 1:] + Rf[I, :, :-1] - eI[None, :] + back - z)
    pm, pd, pi = (np.nan_to_num(x, nan=0.0) for x in (pm, pd, pi))
    return Post(pm, pd.sum(1), pi.sum(0), z)


def mea(pair, unS, unT, w):
    """The alignment of most expected accuracy as the library decodes it:
    A(i,j) = max(A(i-1,j-1) + P(i~j), A(i-1,j) + w unS(i), A(i,j-1) + w unT(j)),
    equal values preferring a match, then a delete. Returns the path letters."""
    n, m = pair.shape
    A = np.zeros((n + 1, m + 1))
    how = np.zeros((n + 1, m + 1), dtype=np.int8)
    gT = np.concatenate(([0.0], w * unT))
    C = np.cumsum(gT)
    A[0] = C
    how[0, 1:] = 2
    for i in range(1, n + 1):
        gs = w * unS[i - 1]
        diag = A[i - 1, :-1] + pair[i - 1]
        up = A[i - 1] + gs
        cand = up.copy()
        cand[1:] = np.where(up[1:] > diag, up[1:], diag)
        h = np.zeros(m + 1, dtype=np.int8)
        h[1:] = np.where(up[1:] > diag, 1, 0)
        h[0] = 1
        if w == 0:
            row = np.maximum.accumulate(cand)
            prev_row = np.concatenate(([-np.inf], row[:-1]))
        else:
            row = C + np.maximum.accumulate(cand - C)
            prev_row = np.concatenate(([-np.inf], row[:-1] + gT[1:]))
        ins = prev_row > cand
        h[ins] = 2
        A[i] = np.where(ins, prev_row, cand)
        how[i] = h
    path = []
    i, j = n, m
    while i > 0 or j > 0:
        h = how[i, j]
        path.append("mdi"[h])
        if h != 2:
            i -= 1
        if h != 1:
            j -= 1
    return "".join(reversed(path))


def pairs_of_path(path, i0=0, j0=0):
    """The matched residue pairs (from 0) of a path."""
    out, i, j = [], i0, j0
    for c in path:
        if c == "m":
            out.append((i, j))
        i += c != "i"
        j += c != "d"
    return out


def search_distance(cost):
    """The library's bracketing search over K in 1..1000 (exact costs, no scan)."""
    known = {}

    def f(k):
        if k not in known:
            known[k] = cost(k)
        return known[k]
    best, bestK = math.inf, 0
    lo, hi, k1, k2 = 1, 1000, 251, 750
    while True:
        f1, f2 = f(k1), f(k2)
        if f2 > f1:
            if best > f1:
                best, bestK = f1, k1
            hi = k2
        else:
            if best > f2:
                best, bestK = f2, k2
            lo = k1
        if abs(k2 - k1) <= 1 or lo >= hi:
            break
        step = (hi - lo) * 0.25
        k1 = int(math.floor(lo + step + 0.5))
        k2 = int(math.floor(hi - step + 0.5))
    return (bestK or 1), best, len(known)


def bracket_scan(costs):
    """The library's bracketing search with the scan once two probes lie within
    0.3 nits (as the optimal criterion estimates K for an alignment), over
    costs[k] for k in 1..1000 (index 0 unused)."""
    best, bestK = math.inf, 0
    lo, hi, k1, k2 = 1, 1000, 251, 750
    while True:
        f1, f2 = costs[k1], costs[k2]
        if abs(f2 - f1) < 0.3:
            for k in range(lo, hi + 1):
                if best > costs[k]:
                    best, bestK = costs[k], k
            break
        if f2 > f1:
            if best > f1:
                best, bestK = f1, k1
            hi = k2
        else:
            if best > f2:
                best, bestK = f2, k2
            lo = k1
        if abs(k2 - k1) <= 1 or lo >= hi:
            break
        step = (hi - lo) * 0.25
        k1 = int(math.floor(lo + step + 0.5))
        k2 = int(math.floor(hi - step + 0.5))
    return bestK or 1, best


def traceback_local(p, F):
    """The best local path of a best-path fill (local, keep): (path, first residue of S, of T)."""
    tp = -p.trans
    emit = -(p.match - p.gs[:, None] - p.gt[None, :])
    n, m = p.match.shape
    i, j = np.unravel_index(np.argmax(F[M, 1:, 1:]), (n, m))
    del emit
    i, j, x = int(i) + 1, int(j) + 1, M
    path = []
    while True:
        path.append("mdi"[x])
        here = F[x, i, j]
        if x == M:
            cands = [F[y, i - 1, j - 1] + tp[y, M] for y in range(3)] if i > 1 and j > 1 else [NEG]
            if max(cands) <= 0:  # the region begins here (equal: the shorter region)
                return "".join(reversed(path)), i - 1, j - 1
            x = int(np.argmax(cands))
            i, j = i - 1, j - 1
        elif x == D:
            cands = [F[y, i - 1, j] + tp[y, D] for y in range(3)]
            x = int(np.argmax(cands))
            i -= 1
        else:
            cands = [F[y, i, j - 1] + tp[y, I] for y in range(3)]
            x = int(np.argmax(cands))
            j -= 1


def region_cost_all_k(model, s, t, path, a, c):
    """The region's log-odds cost (transitions and match columns less the null) at every K."""
    si, ti = model.idx(s), model.idx(t)
    i, j, prev = a, c, None
    ms, mt, tr = [], [], np.zeros((3, 3))
    for x in path:
        st = "mdi".index(x)
        if prev is not None:
            tr[prev, st] += 1
        if x == "m":
            ms.append(si[i])
            mt.append(ti[j])
        i += x != "i"
        j += x != "d"
        prev = st
    ms, mt = np.array(ms), np.array(mt)
    null = model.gap[ms].sum() + model.gap[mt].sum()
    return model.match[:, ms, mt].sum(1) - null + (model.trans * tr[None]).sum((1, 2))


def local_optimal(model, s, t, K=250, rounds=40):
    """The optimal criterion's alternation under the local hypothesis: the best
    local path at K, then K of least message length for it, until a path
    repeats (in a cycle the one of least message length). Returns
    (message length, path, a, c, K)."""
    seen = {}
    const = model.null_len(s) + model.null_len(t) + LN1000 + boundary_nits(len(s), len(t))
    for _ in range(rounds):
        p = Pair(model, s, t, K)
        F, _ = forward(p, local=True, best=True)
        path, a, c = traceback_local(p, F)
        key = (path, a, c)
        costs = region_cost_all_k(model, s, t, path, a, c)
        costs[0] = np.inf
        k_new, best = bracket_scan(costs)
        if key in seen:
            cyc = list(seen)[list(seen).index(key):]
            best_key = min(cyc, key=lambda k: seen[k][1])
            return const + seen[best_key][1], best_key[0], best_key[1], best_key[2], seen[best_key][0]
        seen[key] = (k_new, float(best))
        if k_new == K and len(seen) > 1 and list(seen)[-2] == key:
            break
        K = k_new
    key = list(seen)[-1]
    return const + seen[key][1], key[0], key[1], key[2], seen[key][0]
