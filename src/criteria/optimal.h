// The optimal alignment: the best-path fills from the start and from every
// cell to the sink, the traces along their codes, and the alternation of
// estimation and the optimal fill (EM) of the optimal criterion.
#pragma once

#include <array>
#include <string>

#include "dpKernels.h"
#include "machine.h"

namespace seqcorvane::detail {

// One best-path fill of a machine: its trace codes, its three end cells and,
// when kept, the best total of every cell and state. The fill to the sink
// runs over the reversed pair (reversedForSink): its cell (i, j) is the
// pair's (|S| - i, |T| - j).
struct BestPathFill {
  bool towardsSink = false;
  bool local = false;  // the local hypothesis's
  TraceCodes codes;
  std::array<PathCost, 3> end{};
  LocalEnd localEnd;   // the local hypothesis's best end, in the fill's frame
  StatePlanes totals;  // empty unless kept
};

BestPathFill fillDPMatrices(const threeStateDPAClass_t& m, bool keepTotals = false);
BestPathFill fillDPMatrices_cell2sink(const threeStateDPAClass_t& m, bool keepTotals = false);

// A path, one letter per column in column order, and its message length.
struct TracedPath {
  std::string fsastr;
  double msgLen = 0;
};

// The best whole path of a fill (from the start, traceback; to the sink,
// traceforward), with its message length: the fill's least end cost, the
// cost of K and the code length of the path's length. Under the local
// hypothesis the path covers the pair too: the leading flanks as deletes
// then inserts, the region, the trailing flanks likewise; its message length
// is summedMsgLen's of the region's cost.
TracedPath traceback(const threeStateDPAClass_t& m, const BestPathFill& fill);
TracedPath traceforward(const threeStateDPAClass_t& m, const BestPathFill& fill);
// The best path from the start to cell (i, j) ending in state (traceback),
// or from (i, j) leaving in state to the end (traceforward), and the fill's
// total there; the fill must have kept its totals. Under the local
// hypothesis, from the region's begin (the leading flanks before it), or to
// its end (the trailing flanks after it).
TracedPath traceback(const BestPathFill& fill, long i, long j, int state);
TracedPath traceforward(const BestPathFill& fill, long i, long j, int state);

// The optimal criterion: from the machine's parameters, estimate the
// parameters from the current alignment, then the optimal alignment under
// them, until an alignment repeats. The machine at the parameters estimated
// for the result, the alignment and its message length.
struct OptimalAlignment {
  threeStateDPAClass_t machine;
  std::string fsastr;
  double msgLen;
};
OptimalAlignment EM(const threeStateDPAClass_t& start);

}  // namespace seqcorvane::detail
