"""Pairs of unrelated sequences for the relatedness benchmark: every
generator is deterministic given its seed, and draws the two sequences of a
pair independently of each other, so that any compression they get is
earned by chance (or by what the sequences share without descent: their
composition, their low complexity).

Sets:
  uniform      every residue 1/20
  null         the null model's own frequencies (protSeqNullMMLEstimatesOrder0.txt)
  shuffled     real sequences of the reference sets, shuffled (composition kept);
               for a length beyond one sequence, several of them joined first
  repeats      low complexity: a tandem repeat of a unit of 1 to 10 residues
               (drawn from the null model's frequencies), 20% of its residues
               then replaced and 2% of its positions given an indel
  tm           a transmembrane-like composition, rich in L, I, V, A, F, G
  qrich        30% glutamine, the rest in the null model's proportions
  wchmy        the null model's frequencies with W, C, H, M and Y four times as common
"""
import os
import random
import zlib

ALPHABET = "ACDEFGHIKLMNPQRSTVWY"
SETS = ["uniform", "null", "shuffled", "repeats", "tm", "qrich", "wchmy"]

# A transmembrane-like composition (hydrophobic segments of membrane proteins).
TM = {"L": 0.20, "I": 0.11, "V": 0.11, "A": 0.10, "F": 0.09, "G": 0.07, "M": 0.04, "W": 0.03, "Y": 0.03, "C": 0.02,
      "S": 0.05, "T": 0.05, "P": 0.02, "N": 0.02, "Q": 0.01, "D": 0.01, "E": 0.01, "K": 0.01, "R": 0.01, "H": 0.01}


def null_frequencies(data_dir):
    """The null model's residue frequencies, in ALPHABET's order."""
    f = {}
    with open(os.path.join(data_dir, "protSeqNullMMLEstimatesOrder0.txt")) as fh:
        for line in fh:
            parts = line.split()
            if len(parts) >= 2:
                f[parts[0]] = float(parts[1])
    return [f[a] for a in ALPHABET]


def compositions(data_dir):
    """The compositions of the sets drawn residue by residue."""
    null = null_frequencies(data_dir)
    rest = 0.7 / (1 - null[ALPHABET.index("Q")])
    qrich = [0.3 if a == "Q" else p * rest for a, p in zip(ALPHABET, null)]
    w = [p * (4 if a in "WCHMY" else 1) for a, p in zip(ALPHABET, null)]
    return {
        "uniform": [1 / 20] * 20,
        "null": null,
        "tm": [TM[a] for a in ALPHABET],
        "qrich": qrich,
        "wchmy": [x / sum(w) for x in w],
    }


def real_sequences(bench_dir):
    """The distinct ungapped sequences of the reference sets (twilight and
    calibration pairs), in file order."""
    seen, out = set(), []
    for name in ("twilight_pairs.tsv", "calibration_pairs.tsv"):
        with open(os.path.join(bench_dir, name)) as fh:
            header = fh.readline().rstrip("\n").split("\t")
            cs, ct = header.index("row_s"), header.index("row_t")
            for line in fh:
                f = line.rstrip("\n").split("\t")
                for row in (f[cs], f[ct]):
                    s = row.replace("-", "")
                    if s not in seen and len(s) >= 30:
                        seen.add(s)
                        out.append(s)
    return out


def seed_of(*parts):
    """A seed from the names and numbers of a pair (stable across runs and platforms)."""
    return zlib.crc32("/".join(str(p) for p in parts).encode())


def drawn(rng, n, freqs):
    return "".join(rng.choices(ALPHABET, weights=freqs, k=n))


def tandem_repeat(rng, n, null):
    unit = drawn(rng, rng.randint(1, 10), null)
    seq = list((unit * (n // len(unit) + 2))[: n + n // 10])
    out = []
    for c in seq:
        u = rng.random()
        if u < 0.01:
            continue  # deletion
        if u < 0.02:
            out.append(drawn(rng, 1, null))  # insertion
        out.append(drawn(rng, 1, null) if rng.random() < 0.2 else c)
    return "".join(out[:n])


def shuffled(rng, n, pool):
    parts, total = [], 0
    while total < n:
        s = pool[rng.randrange(len(pool))]
        parts.append(s)
        total += len(s)
    seq = list("".join(parts)[:n])
    rng.shuffle(seq)
    return "".join(seq)


class Generator:
    def __init__(self, data_dir, bench_dir):
        self.comp = compositions(data_dir)
        self.null = self.comp["null"]
        self.pool = real_sequences(bench_dir)

    def sequence(self, name, n, seed):
        rng = random.Random(seed)
        if name in self.comp:
            return drawn(rng, n, self.comp[name])
        if name == "shuffled":
            return shuffled(rng, n, self.pool)
        if name == "repeats":
            return tandem_repeat(rng, n, self.null)
        raise ValueError(f"no set {name}")

    @staticmethod
    def repeat_units(n, k):
        """The unit lengths of S and T of pair k of the repeats set at length n."""
        return tuple(random.Random(seed_of("repeats", n, k, x)).randint(1, 10) for x in ("s", "t"))

    def pairs(self, name, n, count, length_t=None):
        """count pairs of the set, S of n residues and T of length_t (default n)."""
        return [(self.sequence(name, n, seed_of(name, n, k, "s")),
                 self.sequence(name, length_t or n, seed_of(name, n, k, "t"))) for k in range(count)]
