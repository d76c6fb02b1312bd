#!/usr/bin/env python3
"""Writes the benchmark's sequence pairs into bench/pairs/ (or the directory given).

Each pair is two different but related proteins of about the same length:

  size  S                                          T
  150   HBB_HUMAN                                  HBB_COLLI
  500   HBB_HUMAN HBA_MACFA MYG_HORSE 7LESS[1-60]    HBB_COLLI HBB_HUMAN HBA_MACFA 7LESS'[1-60]
  1100  HBB_HUMAN HBA_MACFA MYG_HORSE 7LESS[1-660]   HBB_COLLI HBB_HUMAN HBA_MACFA 7LESS'[1-660]
  3000  HBB_HUMAN HBA_MACFA MYG_HORSE 7LESS (all)    HBB_COLLI HBB_HUMAN HBA_MACFA 7LESS' (all)
  10000, 30000  S3000, then evolved copies of it     S evolved as a whole
                up to the size

and globins100.fa: 100 globins of about 150 residues, each an evolved copy
of one of the four globins of the examples (for the batch program and the
workflow).

Block by block, T holds a homologue of the block of S at the same place: the
globins are all homologous (beta/beta of human and pigeon, alpha/beta,
myoglobin/alpha). The examples hold no homologue of sevenless, so its block in
T (7LESS') is the same stretch of sevenless "evolved" deterministically: each
residue is substituted with probability 0.30 (by a residue drawn from the
composition of sevenless itself), deleted with probability 0.02, and followed by
an inserted residue with probability 0.02. The generator is a fixed linear
congruential one, so the output is the same on every machine and Python version.

Usage: bench/make_pairs.py [OUTDIR]     (default: the pairs/ directory beside this script)
"""
import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
EXAMPLES = os.path.join(HERE, "..", "examples")

SUB_RATE = 0.30
DEL_RATE = 0.02
INS_RATE = 0.02
SEED = 20240607


def read_fasta(name):
    seq = []
    with open(os.path.join(EXAMPLES, name)) as f:
        for line in f:
            if not line.startswith(">"):
                seq.append(line.strip())
    return "".join(seq)


class Lcg:
    """64-bit linear congruential generator (Knuth's MMIX constants)."""

    def __init__(self, seed):
        self.state = seed & 0xFFFFFFFFFFFFFFFF

    def uniform(self):
        self.state = (self.state * 6364136223846793005 + 1442695040888963407) & 0xFFFFFFFFFFFFFFFF
        return (self.state >> 11) / float(1 << 53)

    def pick(self, letters):
        return letters[min(int(self.uniform() * len(letters)), len(letters) - 1)]


def evolve(seq, rng, composition):
    """The evolved sequence, and for each n the length of the part of it that
    descends from the first n residues of seq."""
    out = []
    ends = [0]
    for c in seq:
        u = rng.uniform()
        if u >= DEL_RATE:
            if u < DEL_RATE + SUB_RATE:
                c = rng.pick(composition)
            out.append(c)
            if rng.uniform() < INS_RATE:
                out.append(rng.pick(composition))
        ends.append(len(out))
    return "".join(out), ends


def wrap(seq, width=60):
    return "\n".join(seq[k:k + width] for k in range(0, len(seq), width)) + "\n"


def main():
    outdir = sys.argv[1] if len(sys.argv) > 1 else os.path.join(HERE, "pairs")
    os.makedirs(outdir, exist_ok=True)
    hbb_human = read_fasta("hbb_human.fa")
    hbb_colli = read_fasta("hbb_colli.fa")
    hba_macfa = read_fasta("hba_macfa.fa")
    myg_horse = read_fasta("myg_horse.fa")
    sevenless = read_fasta("7less_drome.fa")
    composition = "".join(c for c in sevenless if c in "ACDEFGHIKLMNPQRSTVWY")

    # One evolved copy of the whole of sevenless; a shorter pair takes the
    # part of it that descends from the same prefix of the original.
    evolved, ends = evolve(sevenless, Lcg(SEED), composition)
    evolved_prefix = {n: evolved[:ends[n]] for n in (60, 660, len(sevenless))}

    globins_s = hbb_human + hba_macfa + myg_horse
    globins_t = hbb_colli + hbb_human + hba_macfa
    pairs = {
        "150": (hbb_human, hbb_colli, "HBB_HUMAN", "HBB_COLLI"),
        "500": (globins_s + sevenless[:60], globins_t + evolved_prefix[60],
                "HBB_HUMAN+HBA_MACFA+MYG_HORSE+7LESS_DROME[1-60]",
                "HBB_COLLI+HBB_HUMAN+HBA_MACFA+evolved 7LESS_DROME[1-60]"),
        "1100": (globins_s + sevenless[:660], globins_t + evolved_prefix[660],
                 "HBB_HUMAN+HBA_MACFA+MYG_HORSE+7LESS_DROME[1-660]",
                 "HBB_COLLI+HBB_HUMAN+HBA_MACFA+evolved 7LESS_DROME[1-660]"),
        "3000": (globins_s + sevenless, globins_t + evolved_prefix[len(sevenless)],
                 "HBB_HUMAN+HBA_MACFA+MYG_HORSE+7LESS_DROME",
                 "HBB_COLLI+HBB_HUMAN+HBA_MACFA+evolved 7LESS_DROME"),
    }
    # Longer pairs: S3000 then copies of it evolved with their own seeds; T is
    # S evolved as a whole.
    for size in (10000, 30000):
        s, block = pairs["3000"][0], 0
        while len(s) < size:
            block += 1
            s += evolve(pairs["3000"][0], Lcg(SEED + block), composition)[0]
        s = s[:size]
        t = evolve(s, Lcg(SEED + size), composition)[0]
        pairs[str(size)] = (s, t, "S3000 and evolved copies of it", "S%d evolved" % size)
    for size, (s, t, sname, tname) in pairs.items():
        with open(os.path.join(outdir, "s%s.fa" % size), "w") as f:
            f.write(">S%s %s (%d aa)\n" % (size, sname, len(s)) + wrap(s))
        with open(os.path.join(outdir, "t%s.fa" % size), "w") as f:
            f.write(">T%s %s (%d aa)\n" % (size, tname, len(t)) + wrap(t))
        # Both in one multi-FASTA file, as probcons wants them.
        with open(os.path.join(outdir, "st%s.fa" % size), "w") as f:
            f.write(">S%s\n" % size + wrap(s) + ">T%s\n" % size + wrap(t))
        print("pair %-5s |S| = %4d  |T| = %4d" % (size, len(s), len(t)))
    globins = [hbb_human, hbb_colli, hba_macfa, myg_horse]
    with open(os.path.join(outdir, "globins100.fa"), "w") as f:
        for k in range(100):
            f.write(">G%03d evolved copy of globin %d\n" % (k + 1, k % 4 + 1)
                    + wrap(evolve(globins[k % 4], Lcg(SEED + 100 + k), composition)[0]))
    print("globins100.fa: 100 sequences")


if __name__ == "__main__":
    main()
