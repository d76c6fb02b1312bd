// The best alignment through a chosen cell: the best path from the start to
// the cell joined to the best path from it to the end (dp/throughCell.h), at
// a machine whose fills in both directions kept the totals of every cell
// (about 50 bytes a cell).
#pragma once

#include "machine.h"
#include "optimal.h"

namespace seqcorvane::detail {

struct CellFills {
  BestPathFill fwd, sink;
};
CellFills fillBothDirections(const threeStateDPAClass_t& m);

// The best alignment through (i, j), 0 <= i <= |S|, 0 <= j <= |T|, with its
// message length (the costs of K and of its length included). Under the
// local hypothesis no region passes (0, |T|) or (|S|, 0): there the path is
// empty and the message length infinite.
TracedPath printAlignmentThroughCell(const threeStateDPAClass_t& m, const CellFills& fills, long i, long j);

}  // namespace seqcorvane::detail
