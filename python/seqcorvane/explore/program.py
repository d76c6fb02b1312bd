"""seqcorvane-explore: the landscape of a pair in the browser.

Computes the pair once, then serves a page on 127.0.0.1 (the loopback
address only) and prints its address. Ctrl-C stops it.
"""
import argparse
import math
import signal
import sys

from .. import ModelError, Models, __version__, default_models
from .exploration import CRITERIA, MODES, Exploration, InputError, read_sequence
from .server import ExploreServer

PROGRAM = "seqcorvane-explore"
DESCRIPTION = """\
The landscape of a pair of protein sequences in the browser: computes the
pair once, serves a page on 127.0.0.1 (the loopback address only) and prints
its address, http://127.0.0.1:PORT/. The page shows the landscape (the bits
of all alignments through each cell above the best cell), the optimal and
posterior alignments over it, and the best alignment through any cell
clicked, with its message length beside the best one's and the posterior
confidence of each column; the alignment shown downloads in each format.
Ctrl-C stops the server."""
EPILOG = """\
--criterion marginal: the landscape at the marginal criterion's distance (the
distance of least marginal message length); posterior: at the distance the
posterior criterion decodes at. The alignments through cells and the
confidences are the three-state machine's at that distance.

--mode local: the hypothesis that aligns a region of each sequence, the
residues outside it (the flanks) sent under the null model: the landscape
is of the alignments whose region passes each cell, and the page draws the
region of the best alignment and of the alignment through the chosen cell.
--mode auto: the criteria choose between the two; the landscape and the
paths are of the hypothesis the criterion's result sent."""


class Parser(argparse.ArgumentParser):
    """Usage errors as the other programs give them: the usage, one line, status 1."""

    def error(self, message):
        self.print_usage(sys.stderr)
        print(f"{PROGRAM}: error: {message}", file=sys.stderr)
        sys.exit(1)


def port_number(text):
    if not text.isdigit() or int(text) > 65535:
        raise argparse.ArgumentTypeError(f"takes a port number 0 to 65535 (0: a free one), not '{text}'")
    return int(text)


def bits(text):
    try:
        x = float(text)
    except ValueError:
        x = math.nan
    if not (math.isfinite(x) and x > 0):
        raise argparse.ArgumentTypeError(f"takes a number of bits above 0, not '{text}'")
    return x


def parser():
    p = Parser(prog=PROGRAM, description=DESCRIPTION, epilog=EPILOG,
               formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("s", metavar="S.fa", help="the first sequence: one FASTA record, plain or gzip-compressed")
    p.add_argument("t", metavar="T.fa", help="the second sequence")
    p.add_argument("--criterion", choices=CRITERIA, default="marginal",
                   help="the distance the landscape is shown at (default marginal)")
    p.add_argument("--mode", choices=MODES, default="global",
                   help="the hypothesis: global (default; end to end), local (a region of each) or auto")
    p.add_argument("--data", metavar="DIR", help="the model directory (as seqcorvane --data)")
    p.add_argument("--port", type=port_number, default=0, metavar="N",
                   help="the port on 127.0.0.1 (default 0: a free one)")
    p.add_argument("--range", type=bits, default=200.0, metavar="BITS",
                   help="the colours' range, bits above the best cell (default 200; the page can change it)")
    p.add_argument("--version", action="version", version=f"{PROGRAM} {__version__}")
    return p


def fail(message):
    print(f"{PROGRAM}: error: {message}", file=sys.stderr)
    return 1


def stop_on_terminate(_signum, _frame):
    raise KeyboardInterrupt


def main(argv=None):
    args = parser().parse_args(argv)
    # Ctrl-C stops the program even where it was started with SIGINT ignored
    # (in the background of a script); SIGTERM stops it alike.
    signal.signal(signal.SIGINT, signal.default_int_handler)
    signal.signal(signal.SIGTERM, stop_on_terminate)
    try:
        try:
            models = Models(args.data) if args.data else default_models()
            notices = []
            s = read_sequence(args.s, notices)
            t = read_sequence(args.t, notices)
            for note in notices:
                print(f"{PROGRAM}: notice: {note}", file=sys.stderr)
            exploration = Exploration(s, t, args.criterion, models, args.mode)
        except (InputError, ValueError, ModelError) as e:
            return fail(str(e))
        except MemoryError as e:
            return fail(str(e) or "out of memory: a memory allocation failed")
        try:
            server = ExploreServer(exploration, args.port, args.range)
        except OSError as e:
            return fail(f"cannot listen on 127.0.0.1:{args.port}: {e.strerror or e}")
    except KeyboardInterrupt:
        print(f"{PROGRAM}: interrupted", file=sys.stderr)
        return 130
    rows, cols = exploration.shape
    hypothesis = ""
    if args.mode != "global":
        hypothesis = f", {args.mode} hypothesis" + (f", {exploration.sent} sent" if args.mode == "auto" else "")
    print(f"{PROGRAM}: {exploration.name_s or 'S'} ({rows - 1} residues) and {exploration.name_t or 'T'} "
          f"({cols - 1}) at distance K={exploration.K} ({args.criterion} criterion{hypothesis}); Ctrl-C stops",
          file=sys.stderr, flush=True)
    try:
        print(server.url, flush=True)
        server.serve_forever(poll_interval=0.25)
    except KeyboardInterrupt:
        pass
    finally:
        server.server_close()
    print(f"{PROGRAM}: stopped", file=sys.stderr)
    return 0
