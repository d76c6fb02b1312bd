"""The verdict calibrated for composition from Python: the same numbers as the
single program's JSON, the posterior criterion's own verdict, a biased random
pair that the null model's frequencies call related and the calibrated
verdict does not, and pickling."""
import json
import os
import pickle
import random
import subprocess

import pytest

import seqcorvane

SOURCE = os.environ.get("SEQCORVANE_SOURCE_DIR", os.path.join(os.path.dirname(__file__), "..", ".."))
BINARY = os.environ.get("SEQCORVANE_BINARY", "seqcorvane")
EXAMPLES = os.path.join(SOURCE, "examples")


def residues(name):
    with open(os.path.join(EXAMPLES, name)) as f:
        return "".join(line.strip() for line in f.read().splitlines()[1:])


HBB, HBA = residues("hbb_human.fa"), residues("hba_macfa.fa")


@pytest.mark.parametrize("criterion", ["optimal", "marginal", "posterior"])
def test_calibrated_verdict_as_the_program_writes_it(criterion, tmp_path):
    r = seqcorvane.align(HBB, HBA, criterion=criterion)
    c = r.calibrated
    assert isinstance(c, seqcorvane.Calibrated) and c.related and c.compression_bits > 20
    assert c.compression_bits == pytest.approx(c.null_bits - c.bits, abs=1e-9)
    if criterion == "posterior":
        assert r.compression_bits == c.compression_bits and r.related == c.related
    for name, text in (("s.fa", HBB), ("t.fa", HBA)):
        (tmp_path / name).write_text(f">{name[0]}\n{text}\n")
    p = subprocess.run([BINARY, "s.fa", "t.fa", "--criterion", criterion, "--format", "json", "--stdout",
                        "--no-landscape"], cwd=tmp_path, capture_output=True, text=True,
                       env=dict(os.environ, NO_COLOR="1"))
    assert p.returncode == 0, p.stderr
    program = json.loads(p.stdout)["calibrated"]
    assert program["K"] == c.K and program["verdict"] == "related"
    for key, value in (("null_bits", c.null_bits), ("bits", c.bits), ("compression_bits", c.compression_bits)):
        assert program[key] == pytest.approx(value, abs=1e-9)
    back = pickle.loads(pickle.dumps(r))
    assert back == r and back.calibrated == c


def test_composition_alone_earns_no_calibrated_compression():
    # Two random sequences, each residue 1/20: far from the null model's
    # frequencies, so its verdict finds them related; the calibrated one not.
    rng = random.Random(7)
    s = "".join(rng.choice(seqcorvane.RESIDUES) for _ in range(1000))
    t = "".join(rng.choice(seqcorvane.RESIDUES) for _ in range(1000))
    r = seqcorvane.align(s, t, criterion="marginal")
    assert r.related and not r.calibrated.related
    assert r.calibrated.compression_bits < 0
    assert not seqcorvane.align(s, t, criterion="posterior").related
