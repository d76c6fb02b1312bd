"""python3 -m seqcorvane.explore S.fa T.fa [options]: as seqcorvane-explore."""
import sys

from .program import main

sys.exit(main())
