"""The explorer's web server: the page and the answers it asks for, over HTTP
on the loopback address only.

Requests name cells, regions and formats, never files: the page's three
files are read once when the server starts, and every other answer is
computed from the exploration in memory. A request that is malformed, names
a cell outside the grid or a format that does not exist gets a status of
400 and one sentence in JSON ({"error": ..., "status": ...}); the server goes
on serving.

  GET /                                   the page (also /landscape.js, /explore.js, /explore.css)
  GET /api/pair                           names, sequences, grid, distance, the criteria's paths
  GET /api/landscape?i0=&i1=&j0=&j1=&rows=&cols=
                                          float32 (little-endian) bits above the best cell, the
                                          least of each block; X-Rows and X-Cols give the blocks
  GET /api/cell?i=&j=                     the cell's residue pair and bits
  GET /api/through?i=&j=                  the best alignment through the cell, its message
                                          length beside the best at K, its column confidences
  GET /api/alignment?of=optimal|posterior the criterion's alignment, described as through describes one
  GET /api/alignment?of=cell&i=&j=&format=F, ?of=optimal|posterior&format=F
                                          the alignment as a file in the format, to download
"""
import array
import http.server
import json
import math
import os
import re
import sys
import traceback
from urllib.parse import parse_qsl, urlsplit

from .exploration import FORMATS

PAGE_DIR = os.path.join(os.path.dirname(os.path.abspath(__file__)), "page")
PAGE_FILES = {
    "/": ("index.html", "text/html; charset=utf-8"),
    "/index.html": ("index.html", "text/html; charset=utf-8"),
    "/landscape.js": ("landscape.js", "text/javascript; charset=utf-8"),
    "/explore.js": ("explore.js", "text/javascript; charset=utf-8"),
    "/explore.css": ("explore.css", "text/css; charset=utf-8"),
}
# The largest picture the page may ask for, in blocks each way.
MAX_BLOCKS = 4096
POLICY = ("default-src 'self'; script-src 'self'; style-src 'self'; img-src 'self' data:; connect-src 'self'; "
          "frame-ancestors 'none'; base-uri 'none'; form-action 'none'")


class RequestError(Exception):
    """A request the server refuses: its status and one sentence."""

    def __init__(self, status, message):
        super().__init__(message)
        self.status = status


def whole_number(name, text):
    if not re.fullmatch(r"[0-9]{1,9}", text):
        shown = text if len(text) <= 20 else text[:20] + "..."
        raise RequestError(400, f"parameter '{name}' is a whole number of 0 or more, not '{shown}'")
    return int(text)


def parameters(query, required, optional=()):
    """The query's parameters as a dict: each named once, none unknown."""
    try:
        fields = parse_qsl(query, keep_blank_values=True, strict_parsing=bool(query), max_num_fields=20)
    except ValueError as e:
        raise RequestError(400, f"malformed query: {e}") from None
    out = {}
    allowed = tuple(required) + tuple(optional)
    for name, value in fields:
        if name not in allowed:
            takes = ", ".join(allowed) if allowed else "no parameters"
            raise RequestError(400, f"unknown parameter '{name[:20]}' (this request takes {takes})")
        if name in out:
            raise RequestError(400, f"parameter '{name}' is given twice")
        out[name] = value
    for name in required:
        if name not in out:
            raise RequestError(400, f"missing parameter '{name}'")
    return out


def finite_or_none(x):
    return x if isinstance(x, float) and math.isfinite(x) else None


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    # A request line too garbled to name its version is still answered with
    # a status line and headers.
    default_request_version = "HTTP/1.0"
    # A connection that sends nothing for a minute is closed (the page opens another).
    timeout = 60

    def version_string(self):
        return "seqcorvane-explore"

    # ---- answers ----
    def send(self, status, body, content_type, extra=()):
        self.send_response(status)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(body)))
        self.send_header("Cache-Control", "no-store")
        self.send_header("X-Content-Type-Options", "nosniff")
        self.send_header("Referrer-Policy", "no-referrer")
        self.send_header("Content-Security-Policy", POLICY)
        for name, value in extra:
            self.send_header(name, value)
        self.end_headers()
        if self.command != "HEAD":
            self.wfile.write(body)

    def send_json(self, obj, status=200):
        body = json.dumps(obj, separators=(",", ":"), allow_nan=False).encode()
        self.send(status, body, "application/json")

    def send_error_json(self, status, message):
        self.send_json({"error": message, "status": status}, status)

    def send_error(self, code, message=None, explain=None):
        """The base class's refusals (a request line it cannot read, one too
        long, a method it does not know) in JSON as the others, and the
        connection closed after them."""
        self.close_connection = True
        short = self.responses.get(code, ("error",))[0]
        body = json.dumps({"error": message or short, "status": code}).encode()
        self.send(code, body, "application/json", (("Connection", "close"),))

    def log_message(self, format, *args):  # noqa: A002 - the base class's name
        pass  # quiet: the terminal shows the address and errors only

    # ---- methods ----
    def do_GET(self):
        self.route()

    def do_HEAD(self):
        self.route()

    def refuse_method(self):
        self.send_error_json(405, f"{self.command} is not answered here: the explorer takes GET requests only")

    do_POST = do_PUT = do_DELETE = do_PATCH = do_OPTIONS = refuse_method

    def route(self):
        try:
            self.check_host()
            url = urlsplit(self.path)
            if url.scheme or url.netloc:
                raise RequestError(400, "a request names a page of this server, not another address")
            if url.path in PAGE_FILES:
                parameters(url.query, ())
                name, content_type = PAGE_FILES[url.path]
                self.send(200, self.server.page[name], content_type)
                return
            answer = {
                "/api/pair": self.api_pair,
                "/api/landscape": self.api_landscape,
                "/api/cell": self.api_cell,
                "/api/through": self.api_through,
                "/api/alignment": self.api_alignment,
            }.get(url.path)
            if answer is None:
                shown = url.path if len(url.path) <= 60 else url.path[:60] + "..."
                raise RequestError(404, f"no such page: '{shown}'")
            answer(url.query)
        except RequestError as e:
            self.send_error_json(e.status, str(e))
        except ValueError as e:  # the library's refusal of a cell, a region or a path
            self.send_error_json(400, str(e))
        except (BrokenPipeError, ConnectionResetError):
            raise
        except Exception as e:  # a defect: reported, and the server goes on
            traceback.print_exc(file=sys.stderr)
            self.send_error_json(500, f"internal error: {type(e).__name__}: {e}")

    def check_host(self):
        """Only requests addressed to this server by its loopback name: a
        page of another site cannot reach it through a name of its own."""
        host = self.headers.get("Host", "")
        port = self.server.server_address[1]
        if host not in (f"127.0.0.1:{port}", f"localhost:{port}"):
            raise RequestError(403, f"requests name the host 127.0.0.1:{port}, not '{host[:40]}'")

    # ---- the API ----
    def api_pair(self, query):
        parameters(query, ())
        self.send_json(self.server.pair)

    def api_landscape(self, query):
        p = parameters(query, ("i0", "i1", "j0", "j1", "rows", "cols"))
        v = {k: whole_number(k, x) for k, x in p.items()}
        for k in ("rows", "cols"):
            if not 1 <= v[k] <= MAX_BLOCKS:
                raise RequestError(400, f"parameter '{k}' is 1 to {MAX_BLOCKS} blocks, not {v[k]}")
        rows, cols, data = self.server.exploration.blocks(v["i0"], v["i1"], v["j0"], v["j1"], v["rows"], v["cols"])
        if sys.byteorder != "little":
            values = array.array("f", data)
            values.byteswap()
            data = values.tobytes()
        self.send(200, data, "application/octet-stream", (("X-Rows", str(rows)), ("X-Cols", str(cols))))

    def cell_of(self, p):
        return whole_number("i", p["i"]), whole_number("j", p["j"])

    def api_cell(self, query):
        i, j = self.cell_of(parameters(query, ("i", "j")))
        out = self.server.exploration.cell(i, j)
        out["bits"] = finite_or_none(out["bits"])
        self.send_json(out)

    def api_through(self, query):
        i, j = self.cell_of(parameters(query, ("i", "j")))
        self.send_json(self.server.exploration.through(i, j))

    def api_alignment(self, query):
        p = parameters(query, ("of",), ("i", "j", "format"))
        which = p["of"]
        if which not in ("cell", "optimal", "posterior"):
            raise RequestError(400, f"parameter 'of' is cell, optimal or posterior, not '{which[:20]}'")
        if which == "cell":
            for name in ("i", "j"):
                if name not in p:
                    raise RequestError(400, f"missing parameter '{name}' (of=cell names a cell)")
            i, j = self.cell_of(p)
        elif "i" in p or "j" in p:
            raise RequestError(400, f"of={which} names no cell: drop 'i' and 'j'")
        else:
            i = j = None
        x = self.server.exploration
        if "format" not in p:
            if which == "cell":
                self.send_json(x.through(i, j))
            else:
                self.send_json(x.criterion_alignment(which))
            return
        fmt = p["format"]
        if fmt not in FORMATS:
            raise RequestError(400, f"format is afasta, fasta, clustal, stockholm or json, not '{fmt[:20]}'")
        name, text = x.alignment_file(which, fmt, i, j)
        content_type = "application/json" if fmt == "json" else "text/plain; charset=utf-8"
        self.send(200, text.encode(), content_type, (("Content-Disposition", f'attachment; filename="{name}"'),))


class ExploreServer(http.server.ThreadingHTTPServer):
    """The server of one exploration, on 127.0.0.1 only."""

    daemon_threads = True
    allow_reuse_address = False

    def __init__(self, exploration, port=0, range_bits=200.0):
        self.exploration = exploration
        self.page = {}
        for name, _ in PAGE_FILES.values():
            with open(os.path.join(PAGE_DIR, name), "rb") as f:
                self.page[name] = f.read()
        self.pair = dict(exploration.pair(), range=range_bits)
        super().__init__(("127.0.0.1", port), Handler)

    @property
    def url(self):
        return f"http://127.0.0.1:{self.server_address[1]}/"

    def handle_error(self, request, client_address):
        # A page closed in the middle of an answer is no fault of the server.
        if isinstance(sys.exc_info()[1], ConnectionError):
            return
        super().handle_error(request, client_address)
