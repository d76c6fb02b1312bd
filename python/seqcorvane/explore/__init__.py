"""The landscape of a pair in the browser.

    from seqcorvane.explore import Exploration, ExploreServer, read_sequence
    x = Exploration(("HBB", "MVHLTPEEK..."), ("HBA", "MVLSPADKT..."), criterion="marginal")
    x.through(40, 38)                       # the best alignment through cell (40, 38)
    server = ExploreServer(x, port=0)       # on 127.0.0.1 only
    print(server.url); server.serve_forever()

or from the command line, `seqcorvane-explore s.fa t.fa` or
`python3 -m seqcorvane.explore s.fa t.fa`.
"""
from .exploration import FORMATS, Exploration, InputError, read_sequence
from .program import main
from .server import ExploreServer

__all__ = ["Exploration", "ExploreServer", "FORMATS", "InputError", "main", "read_sequence"]
