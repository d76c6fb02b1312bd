#!/usr/bin/env python3
"""Build the substitution-model data files from a PAML amino-acid model file.

Reads the exchangeabilities s_ij (lower triangle, PAML order ARNDCQEGHILKMFPSTWYV)
and the frequencies pi_j of a PAML .dat file, forms the reversible rate matrix
Q_ij = s_ij * pi_j (i != j, rows summing to 0) scaled to one expected
substitution per site per unit time, and writes, for one unit of distance
(K = 1, t = 0.01), the eigen-decomposition M = S * D * S^-1 of
M = exp(Q t)^T, whose element (a, b) is Pr(a | b):

    B = Pi^(1/2) Q Pi^(-1/2) = U Lambda U^T      (symmetric, numpy.linalg.eigh)
    exp(Q t)^T = Pi^(1/2) U exp(Lambda t) U^T Pi^(-1/2)
    S = Pi^(1/2) U,  D = diag(exp(lambda_k t)),  S^-1 = U^T Pi^(-1/2)

Output files (in the output directory):
    S_double_precision.txt, D_double_precision.txt, S_inv_double_precision.txt
        20 lines of 20 numbers, rows and columns in the order ARNDCQEGHILKMFPSTWYV
    protSeqNullMMLEstimatesOrder0.txt
        the order-0 null model: the same frequencies, normalised, one line
        "X p" per residue in alphabetical letter order

Every check runs on the numbers as they are written (17 significant digits),
before any file is touched.

Usage: tools/make_substitution_data.py [model.dat] [output_dir]
       (defaults: /usr/lib/paml/data/dat/lg.dat and data/)
"""

import os
import sys

import numpy as np

PAML_ORDER = "ARNDCQEGHILKMFPSTWYV"
N = 20
T_UNIT = 0.01  # time for one unit of distance K
DEFAULT_DAT = "/usr/lib/paml/data/dat/lg.dat"
DEFAULT_OUT = "data"

# Expected sum_a pi_a M^K(a, a) and the range accepted for it.
IDENTITY_CHECKS = [(100, 0.38, 0.48), (250, 0.15, 0.23)]
TOL = 1e-12


def die(msg):
    sys.stderr.write("make_substitution_data: " + msg + "\n")
    sys.exit(1)


def is_number(tok):
    try:
        float(tok)
        return True
    except ValueError:
        return False


def read_paml_dat(path):
    """Return (s, pi): the symmetric 20x20 exchangeabilities and the 20 frequencies.

    Reads exactly 190 + 20 numbers from the head of the file. The 19 rows of
    the lower triangle must stand on their own lines with 1, 2, ..., 19
    numbers; the frequencies may span lines. Whatever follows the 210th
    number (residue names, notes) is ignored, but a number on the same line
    right after it, or a word before it, is an error.
    """
    with open(path) as f:
        lines = f.read().splitlines()
    values = []
    row_counts = []
    for lineno, line in enumerate(lines, 1):
        toks = line.split()
        if not toks:
            continue
        if not all(is_number(t) for t in toks):
            die("%s:%d: non-numeric text before the 210th number: %r"
                % (path, lineno, line.strip()))
        if len(row_counts) < N - 1:
            row_counts.append(len(toks))
            if len(toks) != len(row_counts):
                die("%s:%d: row %d of the lower triangle has %d numbers, expected %d"
                    % (path, lineno, len(row_counts), len(toks), len(row_counts)))
        values.extend(float(t) for t in toks)
        if len(values) > 190 + N:
            die("%s:%d: more than 210 numbers before the trailing text" % (path, lineno))
        if len(values) == 190 + N:
            break
    if len(values) != 190 + N:
        die("%s: found only %d of the 210 numbers" % (path, len(values)))

    s = np.zeros((N, N))
    k = 0
    for i in range(1, N):
        for j in range(i):
            s[i, j] = s[j, i] = values[k]
            k += 1
    pi = np.array(values[190:])
    if np.any(s < 0):
        die("negative exchangeability in " + path)
    if np.any(pi <= 0):
        die("non-positive frequency in " + path)
    return s, pi


def rate_matrix(s, pi):
    """Q_ij = s_ij pi_j (i != j), rows summing to 0, scaled to sum_i pi_i (-Q_ii) = 1."""
    q = s * pi[np.newaxis, :]
    np.fill_diagonal(q, 0.0)
    np.fill_diagonal(q, -q.sum(axis=1))
    rate = -np.dot(pi, np.diag(q))
    return q / rate


def expm_taylor(a, terms=40):
    """exp(a) by its Taylor series; a independent reference for small ||a||."""
    result = np.eye(a.shape[0])
    term = np.eye(a.shape[0])
    for k in range(1, terms):
        term = term @ a / k
        result = result + term
    return result


def fmt(x):
    return "%.17g" % x


def matrix_text(m):
    return "".join(" ".join(fmt(x) for x in row) + "\n" for row in m)


def parse_matrix(text):
    vals = [float(t) for t in text.split()]
    assert len(vals) == N * N
    return np.array(vals).reshape(N, N)


def main(argv):
    if len(argv) > 1 and argv[1] in ("-h", "--help"):
        sys.stdout.write(__doc__)
        return 0
    if len(argv) > 3:
        die("usage: make_substitution_data.py [model.dat] [output_dir]")
    dat = argv[1] if len(argv) > 1 else DEFAULT_DAT
    outdir = argv[2] if len(argv) > 2 else DEFAULT_OUT

    s, pi_raw = read_paml_dat(dat)
    pi = pi_raw / pi_raw.sum()
    q = rate_matrix(s, pi)

    sq = np.sqrt(pi)
    b = (sq[:, np.newaxis] * q) / sq[np.newaxis, :]
    b = 0.5 * (b + b.T)
    lam, u = np.linalg.eigh(b)

    S = sq[:, np.newaxis] * u                 # Pi^(1/2) U
    Sinv = u.T / sq[np.newaxis, :]            # U^T Pi^(-1/2)
    D = np.diag(np.exp(lam * T_UNIT))

    texts = {
        "S_double_precision.txt": matrix_text(S),
        "D_double_precision.txt": matrix_text(D),
        "S_inv_double_precision.txt": matrix_text(Sinv),
    }
    # Check what will be written, as the program will read it.
    S_r = parse_matrix(texts["S_double_precision.txt"])
    D_r = parse_matrix(texts["D_double_precision.txt"])
    Sinv_r = parse_matrix(texts["S_inv_double_precision.txt"])

    dev_id = np.abs(S_r @ Sinv_r - np.eye(N)).max()
    M = S_r @ (D_r @ Sinv_r)
    dev_col = np.abs(M.sum(axis=0) - 1.0).max()
    min_entry = M.min()
    dev_ref = np.abs(M - expm_taylor(q * T_UNIT).T).max()
    # The wrong-way factorisation would be row-stochastic instead; make sure
    # ours is the transpose of exp(Qt) and not exp(Qt) itself.
    dev_row = np.abs(M.sum(axis=1) - 1.0).max()
    stat = np.abs(M @ pi - pi).max()  # pi is stationary: M pi = pi

    print("model file           : %s" % dat)
    print("frequencies sum (raw): %.10f" % pi_raw.sum())
    print("eigenvalues of Q     : %.6g .. %.6g" % (lam.min(), lam.max()))
    print("max |S Sinv - I|     : %.3e" % dev_id)
    print("max |colsum(M) - 1|  : %.3e" % dev_col)
    print("min entry of M       : %.6e" % min_entry)
    print("max |M - exp(Qt)^T|  : %.3e  (Taylor series reference)" % dev_ref)
    print("max |M pi - pi|      : %.3e" % stat)
    print("max |rowsum(M) - 1|  : %.3e  (not expected to be 0)" % dev_row)

    if dev_id > TOL:
        die("S * Sinv is not the identity (%.3e)" % dev_id)
    if dev_col > TOL:
        die("S * D * Sinv is not column-stochastic (%.3e)" % dev_col)
    if min_entry < -TOL:
        die("S * D * Sinv has a negative entry (%.3e)" % min_entry)
    if dev_ref > TOL:
        die("S * D * Sinv differs from exp(Q t)^T (%.3e)" % dev_ref)
    if abs(lam.max()) > 1e-10:
        die("largest eigenvalue of Q is not 0 (%.3e)" % lam.max())

    for K, lo, hi in IDENTITY_CHECKS:
        Dk = np.diag(np.diag(D_r) ** float(K))
        MK = S_r @ (Dk @ Sinv_r)
        ident = float(np.dot(pi, np.diag(MK)))
        MK_direct = np.linalg.matrix_power(M, K)
        print("K = %4d: sum_a pi_a M^K(a,a) = %.6f  (expected %.2f..%.2f; "
              "max |S D^K Sinv - M^K| = %.3e)"
              % (K, ident, lo, hi, np.abs(MK - MK_direct).max()))
        if not lo <= ident <= hi:
            die("identity at K = %d is %.6f, outside %.2f..%.2f" % (K, ident, lo, hi))

    # Order-0 null model: the same frequencies, alphabetical letter order.
    null_text = "".join("%s %s\n" % (a, fmt(pi[PAML_ORDER.index(a)]))
                        for a in sorted(PAML_ORDER))
    null_sum = sum(float(line.split()[1]) for line in null_text.splitlines())
    print("null model sum       : %.3e from 1" % abs(null_sum - 1.0))
    if abs(null_sum - 1.0) > TOL:
        die("null-model probabilities do not sum to 1 (%.3e)" % (null_sum - 1.0))
    texts["protSeqNullMMLEstimatesOrder0.txt"] = null_text

    os.makedirs(outdir, exist_ok=True)
    for name, text in texts.items():
        path = os.path.join(outdir, name)
        with open(path, "w") as f:
            f.write(text)
        print("wrote %s" % path)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
