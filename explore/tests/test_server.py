"""seqcorvane-explore end to end: the program started on a pair, its answers
against the library's calls through the Python module, every refusal with
its exact status and sentence (the server serving on after each), downloads
in every format read back by the single program's --ivalue, the program's
own errors, and its stop on Ctrl-C."""
import http.client
import json
import os
import re
import resource
import signal
import socket
import struct
import subprocess
import sys

import pytest

import seqcorvane
from seqcorvane.explore import Exploration, read_sequence

SOURCE = os.environ.get("SEQCORVANE_SOURCE_DIR", os.path.join(os.path.dirname(__file__), "..", ".."))
EXPLORE = os.environ.get("SEQCORVANE_EXPLORE", "seqcorvane-explore")
BINARY = os.environ.get("SEQCORVANE_BINARY", "seqcorvane")
DATA = os.path.join(SOURCE, "data")
S_FA = os.path.join(SOURCE, "examples", "hbb_human.fa")
T_FA = os.path.join(SOURCE, "examples", "hba_macfa.fa")


class Explorer:
    """The program running on a pair; its address and a way to ask it."""

    def __init__(self, *args, files=(S_FA, T_FA)):
        self.process = subprocess.Popen([EXPLORE, *files, "--data", DATA, *args], stdout=subprocess.PIPE,
                                        stderr=subprocess.PIPE, text=True)
        line = self.process.stdout.readline()
        m = re.fullmatch(r"http://127\.0\.0\.1:(\d+)/\n", line)
        assert m, (line, self.process.stderr.read() if self.process.poll() is not None else "")
        self.port = int(m.group(1))

    def request(self, path, method="GET", host=None):
        c = http.client.HTTPConnection("127.0.0.1", self.port, timeout=30)
        c.putrequest(method, path, skip_host=True)
        c.putheader("Host", host or f"127.0.0.1:{self.port}")
        c.endheaders()
        r = c.getresponse()
        body = r.read()
        c.close()
        return r.status, dict(r.getheaders()), body

    def json(self, path):
        status, headers, body = self.request(path)
        assert status == 200, body
        assert headers["Content-Type"] == "application/json"
        return json.loads(body)

    def raw(self, data):
        """The answer to bytes sent as they are."""
        with socket.create_connection(("127.0.0.1", self.port), timeout=30) as s:
            s.sendall(data)
            chunks = []
            while True:
                chunk = s.recv(65536)
                if not chunk:
                    break
                chunks.append(chunk)
        return b"".join(chunks)

    def stop(self, sig=signal.SIGINT):
        self.process.send_signal(sig)
        code = self.process.wait(timeout=30)
        err = self.process.stderr.read()
        self.process.stdout.close()
        self.process.stderr.close()
        return code, err


@pytest.fixture(scope="module")
def explorer():
    x = Explorer()
    yield x
    code, err = x.stop()
    assert code == 0 and err.endswith("seqcorvane-explore: stopped\n"), (code, err)


@pytest.fixture(scope="module")
def library():
    """The pair and the library's own answers, through the module alone."""
    models = seqcorvane.Models(DATA)
    s, t = read_sequence(S_FA, []), read_sequence(T_FA, [])
    K = seqcorvane.align(s[1], t[1], criterion="marginal", models=models).K
    return {"s": s, "t": t, "models": models, "K": K,
            "paths": seqcorvane.CellPaths(s[1], t[1], K, models),
            "confidence": seqcorvane.ColumnConfidence(s[1], t[1], K, models),
            "landscape": seqcorvane.Landscape(s[1], t[1], K, models)}


def rows_along(path, s, t):
    a, b, i, j = [], [], 0, 0
    for c in path:
        a.append(s[i] if c != "i" else "-")
        b.append(t[j] if c != "d" else "-")
        i += c != "i"
        j += c != "d"
    return ["".join(a), "".join(b)]


def test_listens_on_the_loopback_address_only(explorer):
    with open("/proc/net/tcp") as f:
        listening = [line.split()[1] for line in f.read().splitlines()[1:] if line.split()[3] == "0A"]
    ours = [a for a in listening if int(a.split(":")[1], 16) == explorer.port]
    assert ours == ["0100007F:%04X" % explorer.port]


def test_page_files_and_their_headers(explorer):
    for path, kind, marker in (("/", "text/html", b"landscape.js"), ("/landscape.js", "text/javascript", b"VIRIDIS"),
                               ("/explore.js", "text/javascript", b"/api/through"),
                               ("/explore.css", "text/css", b"#landscape")):
        status, headers, body = explorer.request(path)
        assert status == 200 and headers["Content-Type"].startswith(kind) and marker in body, path
        assert headers["Content-Security-Policy"].startswith("default-src 'self'")
        assert headers["X-Content-Type-Options"] == "nosniff"
    # Nothing on the page is fetched from elsewhere: it works offline.
    for path in ("/", "/landscape.js", "/explore.js", "/explore.css"):
        assert not re.search(rb"(?:https?:)?//[a-z0-9.-]+\.[a-z]{2,}", explorer.request(path)[2]), path


def test_pair_is_the_librarys(explorer, library):
    pair = explorer.json("/api/pair")
    s, t, m = library["s"], library["t"], library["models"]
    assert (pair["s"]["name"], pair["s"]["residues"], pair["t"]["name"], pair["t"]["residues"]) == (*s, *t)
    assert pair["K"] == library["K"] and pair["criterion"] == "marginal" and pair["mode"] == "global"
    assert pair["grid"] == {"rows": len(s[1]) + 1, "cols": len(t[1]) + 1}
    assert pair["paths"]["optimal"]["path"] == seqcorvane.align(s[1], t[1], criterion="optimal", models=m).path
    assert pair["paths"]["posterior"]["path"] == seqcorvane.align(s[1], t[1], criterion="posterior", models=m).path
    best = library["paths"].best(0, 0)
    assert pair["best_at_K"] == {"path": best.path, "bits": best.bits}
    assert pair["best_cell_bits"] == library["landscape"].best_bits and pair["range"] == 200


def test_landscape_pictures_are_the_librarys_regions(explorer, library):
    rows, cols = library["landscape"].shape
    for q in ((0, rows, 0, cols, rows, cols), (0, rows, 0, cols, 40, 30), (10, 60, 70, 71, 8, 8)):
        status, headers, body = explorer.request("/api/landscape?i0=%d&i1=%d&j0=%d&j1=%d&rows=%d&cols=%d" % q)
        assert status == 200 and headers["Content-Type"] == "application/octet-stream"
        n, m, data = library["landscape"].blocks(*q)
        assert (int(headers["X-Rows"]), int(headers["X-Cols"])) == (n, m)
        values = struct.unpack("<%df" % (n * m), body)
        assert values == struct.unpack("=%df" % (n * m), data)
    whole = struct.unpack("<%df" % (rows * cols), explorer.request(
        f"/api/landscape?i0=0&i1={rows}&j0=0&j1={cols}&rows={rows}&cols={cols}")[2])
    assert min(whole) == 0 and whole[0] < 1e-6


def test_cells_and_alignments_through_them_are_the_librarys(explorer, library):
    s, t = library["s"][1], library["t"][1]
    assert explorer.json("/api/cell?i=0&j=0") == {"i": 0, "j": 0, "s": None, "t": None,
                                                  "bits": library["landscape"].bits_above(0, 0)}
    cell = explorer.json("/api/cell?i=40&j=12")
    assert cell["s"] == {"position": 40, "residue": s[39]} and cell["t"] == {"position": 12, "residue": t[11]}
    assert cell["bits"] == pytest.approx(library["landscape"].bits_above(40, 12), abs=0)
    best = library["paths"].best(0, 0).bits
    for i, j in ((0, 0), (40, 12), (146, 0), (0, 141), (146, 141), (73, 70)):
        a = explorer.json(f"/api/through?i={i}&j={j}")
        want = library["paths"].best(i, j)
        assert a["path"] == want.path and a["bits"] == want.bits
        assert a["rows"] == rows_along(want.path, s, t)
        assert a["best_bits"] == best and a["difference_bits"] == pytest.approx(want.bits - best, abs=1e-9)
        assert a["confidence"] == library["confidence"].of(want.path)
        assert (a["i"], a["j"], a["K"], a["kind"]) == (i, j, library["K"], "cell")
    for which in ("optimal", "posterior"):
        a = explorer.json(f"/api/alignment?of={which}")
        assert a["path"] == explorer.json("/api/pair")["paths"][which]["path"] and a["kind"] == which


REFUSALS = [
    ("/api/through?i=147&j=0", 400, "cell (147,0) is outside the grid of 0..146 by 0..141"),
    ("/api/cell?i=0&j=142", 400, "cell (0,142) is outside the grid of 0..146 by 0..141"),
    ("/api/alignment?of=cell&i=999999999&j=0&format=fasta", 400,
     "cell (999999999,0) is outside the grid of 0..146 by 0..141"),
    ("/api/through?i=-1&j=0", 400, "parameter 'i' is a whole number of 0 or more, not '-1'"),
    ("/api/through?i=1e3&j=0", 400, "parameter 'i' is a whole number of 0 or more, not '1e3'"),
    ("/api/through?i=1&j=", 400, "parameter 'j' is a whole number of 0 or more, not ''"),
    ("/api/through?i=1", 400, "missing parameter 'j'"),
    ("/api/through?i=1&j=2&k=3", 400, "unknown parameter 'k' (this request takes i, j)"),
    ("/api/through?i=1&i=2&j=3", 400, "parameter 'i' is given twice"),
    ("/api/through?i", 400, "malformed query: bad query field: 'i'"),
    ("/api/alignment?of=cell&i=1&j=2&format=xml", 400,
     "format is afasta, fasta, clustal, stockholm or json, not 'xml'"),
    ("/api/alignment?of=optimal&format=", 400, "format is afasta, fasta, clustal, stockholm or json, not ''"),
    ("/api/alignment?of=best&format=fasta", 400, "parameter 'of' is cell, optimal or posterior, not 'best'"),
    ("/api/alignment?of=optimal&i=1&j=1&format=fasta", 400, "of=optimal names no cell: drop 'i' and 'j'"),
    ("/api/alignment?of=cell&format=fasta", 400, "missing parameter 'i' (of=cell names a cell)"),
    ("/api/alignment?format=fasta", 400, "missing parameter 'of'"),
    ("/api/alignment?of=cell&i=1&j=1&path=/etc/passwd", 400,
     "unknown parameter 'path' (this request takes of, i, j, format)"),
    ("/api/landscape?i0=0&i1=0&j0=0&j1=5&rows=3&cols=3", 400,
     "the region of rows 0..0 and columns 0..5 is not a part of the grid of 147 by 142 cells"),
    ("/api/landscape?i0=0&i1=148&j0=0&j1=5&rows=3&cols=3", 400,
     "the region of rows 0..148 and columns 0..5 is not a part of the grid of 147 by 142 cells"),
    ("/api/landscape?i0=0&i1=5&j0=0&j1=5&rows=0&cols=3", 400, "parameter 'rows' is 1 to 4096 blocks, not 0"),
    ("/api/landscape?i0=0&i1=5&j0=0&j1=5&rows=3&cols=5000", 400, "parameter 'cols' is 1 to 4096 blocks, not 5000"),
    ("/api/landscape?i0=0&i1=5&j0=0&j1=5&rows=3", 400, "missing parameter 'cols'"),
    ("/api/pair?x=1", 400, "unknown parameter 'x' (this request takes no parameters)"),
    ("/?file=/etc/passwd", 400, "unknown parameter 'file' (this request takes no parameters)"),
    ("/etc/passwd", 404, "no such page: '/etc/passwd'"),
    ("/../data/S_double_precision.txt", 404, "no such page: '/../data/S_double_precision.txt'"),
    ("/page/index.html", 404, "no such page: '/page/index.html'"),
    ("/server.py", 404, "no such page: '/server.py'"),
    ("http://example.com/api/pair", 400, "a request names a page of this server, not another address"),
]


@pytest.mark.parametrize("path,status,message", REFUSALS)
def test_refusals_are_one_sentence_and_the_server_serves_on(explorer, path, status, message):
    got, headers, body = explorer.request(path)
    assert (got, headers["Content-Type"], json.loads(body)) == (status, "application/json",
                                                                 {"error": message, "status": status})
    assert explorer.request("/api/pair")[0] == 200


def test_other_hosts_methods_and_unreadable_requests_are_refused(explorer):
    status, _, body = explorer.request("/api/pair", host="attacker.example:80")
    assert (status, json.loads(body)["error"]) == (403, f"requests name the host 127.0.0.1:{explorer.port}, "
                                                        "not 'attacker.example:80'")
    assert explorer.request("/api/pair", host=f"localhost:{explorer.port}")[0] == 200
    for method in ("POST", "PUT", "DELETE"):
        status, _, body = explorer.request("/api/pair", method=method)
        assert (status, json.loads(body)["error"]) == (
            405, f"{method} is not answered here: the explorer takes GET requests only")
    answer = explorer.raw(b"BLAH\r\n\r\n")
    assert answer.startswith(b"HTTP/1.1 400 ") and answer.endswith(
        b'{"error": "Bad request syntax (\'BLAH\')", "status": 400}')
    answer = explorer.raw(b"GET /" + b"a" * 70000 + b" HTTP/1.1\r\n\r\n")
    assert answer.startswith(b"HTTP/1.1 414 ")
    assert explorer.request("/api/pair")[0] == 200


EXTENSIONS = {"afasta": ".afasta", "fasta": ".fasta", "clustal": ".aln", "stockholm": ".sto", "json": ".json"}


@pytest.mark.parametrize("fmt", sorted(EXTENSIONS))
def test_downloads_read_back_through_ivalue(explorer, library, fmt, tmp_path):
    s, t = library["s"][1], library["t"][1]
    for query, rows in (("of=cell&i=40&j=12", rows_along(library["paths"].best(40, 12).path, s, t)),
                        ("of=optimal", explorer.json("/api/alignment?of=optimal")["rows"]),
                        ("of=posterior", explorer.json("/api/alignment?of=posterior")["rows"])):
        status, headers, body = explorer.request(f"/api/alignment?{query}&format={fmt}")
        assert status == 200
        name = re.fullmatch(r'attachment; filename="([A-Za-z0-9._-]+)"', headers["Content-Disposition"]).group(1)
        assert name.startswith("HBB_HUMAN_HBA_MACFA_") and name.endswith(EXTENSIONS[fmt])
        path = tmp_path / name
        path.write_bytes(body)
        if fmt == "json":
            assert json.loads(body)["rows"] == rows
            continue
        p = subprocess.run([BINARY, "--ivalue", str(path), "--data", DATA], capture_output=True, text=True,
                           env=dict(os.environ, NO_COLOR="1"))
        assert p.returncode == 0, p.stderr
        bits = re.search(r"I\(A,<S,T>\)\s*=\s*(\S+)", p.stdout).group(1)
        assert bits == f"{seqcorvane.score(*rows, models=library['models']).bits:.3f}"
    sto = explorer.request(f"/api/alignment?of=cell&i=40&j=12&format=stockholm")[2].decode()
    assert "(marginal criterion)" in sto and "#=GR HBB_HUMAN PP" in sto


def test_posterior_criterion_shows_the_posterior_distance(library):
    x = Explorer("--criterion", "posterior", "--range", "50")
    try:
        s, t, m = library["s"], library["t"], library["models"]
        K = seqcorvane.align(s[1], t[1], criterion="posterior", models=m).K
        pair = x.json("/api/pair")
        assert (pair["K"], pair["criterion"], pair["range"]) == (K, "posterior", 50)
        assert x.json("/api/through?i=30&j=50")["path"] == seqcorvane.CellPaths(s[1], t[1], K, m).best(30, 50).path
    finally:
        code, err = x.stop(signal.SIGTERM)
    assert code == 0 and err.endswith("seqcorvane-explore: stopped\n")


def run_program(*args, limit=None):
    def limited():
        if limit:
            resource.setrlimit(resource.RLIMIT_AS, (limit, limit))
    return subprocess.run([EXPLORE, *args], capture_output=True, text=True, timeout=60, preexec_fn=limited)


def test_program_errors_are_one_line(tmp_path):
    two = tmp_path / "two.fa"
    two.write_text(">a\nMKV\n>b\nMKV\n")
    empty = tmp_path / "empty.fa"
    empty.write_text(">x\n1234\n")
    busy = socket.socket()
    busy.bind(("127.0.0.1", 0))
    busy.listen()
    port = busy.getsockname()[1]
    cases = [
        ((str(tmp_path / "none.fa"), T_FA), f"cannot open file '{tmp_path}/none.fa': No such file or directory"),
        ((str(two), T_FA), f"sequence file '{two}' holds 2 records; expected exactly one"),
        ((str(empty), T_FA), f"sequence 'x' in '{empty}' holds no standard residues"),
        ((S_FA, T_FA, "--data", str(tmp_path)), "'" + str(tmp_path)),
        ((S_FA, T_FA, "--data", DATA, "--port", str(port)),
         f"cannot listen on 127.0.0.1:{port}: Address already in use"),
    ]
    try:
        for args, expected in cases:
            p = run_program(*args)
            assert p.returncode == 1 and p.stdout == "", (args, p.stderr)
            lines = p.stderr.splitlines()
            assert len(lines) == 1 and lines[0].startswith("seqcorvane-explore: error: ") and expected in lines[0], \
                (args, p.stderr)
    finally:
        busy.close()
    # A pair too large for the memory the process may use: refused before any work.
    pairs = os.path.join(SOURCE, "bench", "pairs")
    p = run_program(os.path.join(pairs, "s3000.fa"), os.path.join(pairs, "t3000.fa"), "--data", DATA,
                    limit=600 * 1024 * 1024)
    assert p.returncode == 1 and re.fullmatch(
        r"seqcorvane-explore: error: exploring sequences of 2994 and 3001 residues needs 833\.4 MiB of memory; "
        r"[0-9]+\.[0-9] MiB available\n", p.stderr), p.stderr
    for args, expected in (((S_FA, T_FA, "--port", "70000"), "argument --port: takes a port number 0 to 65535"),
                           ((S_FA, T_FA, "--criterion", "optimal"), "argument --criterion: invalid choice"),
                           ((S_FA, T_FA, "--range", "nan"), "argument --range: takes a number of bits above 0"),
                           ((S_FA,), "the following arguments are required: T.fa")):
        p = run_program(*args)
        assert p.returncode == 1 and p.stderr.startswith("usage: seqcorvane-explore "), p.stderr
        assert p.stderr.splitlines()[-1].startswith("seqcorvane-explore: error: " + expected), p.stderr


def test_help_version_and_the_module_entry():
    p = run_program("--help")
    assert p.returncode == 0 and "http://127.0.0.1:PORT/" in p.stdout
    for option in ("--criterion", "--data", "--port", "--range", "--version"):
        assert option in p.stdout
    assert run_program("--version").stdout == f"seqcorvane-explore {seqcorvane.__version__}\n"
    m = subprocess.run([sys.executable, "-m", "seqcorvane.explore", "--version"], capture_output=True, text=True)
    assert m.stdout == f"seqcorvane-explore {seqcorvane.__version__}\n"


def test_exploration_from_python(library):
    x = Exploration(library["s"], library["t"], models=library["models"])
    assert x.K == library["K"] and x.shape == library["landscape"].shape
    assert x.through(12, 9)["path"] == library["paths"].best(12, 9).path
    name, text = x.alignment_file("cell", "fasta", 12, 9)
    assert name == "HBB_HUMAN_HBA_MACFA_cell_12_9.fasta" and text.startswith(">HBB_HUMAN\n")
    with pytest.raises(ValueError, match=r"cell \(200,0\) is outside the grid of 0..146 by 0..141"):
        x.through(200, 0)
    with pytest.raises(ValueError, match="criterion is 'marginal' or 'posterior', not 'optimal'"):
        Exploration(library["s"], library["t"], criterion="optimal")
