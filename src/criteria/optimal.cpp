#include "optimal.h"

#include <algorithm>
#include <limits>
#include <vector>

#include "check.h"
#include "codeLengths.h"
#include "estimation.h"
#include "logSpace.h"
#include "paths.h"

namespace seqcorvane::detail {

namespace {

BestPathFill fill(const threeStateDPAClass_t& m, bool towardsSink, bool keepTotals) {
  BestPathFill f;
  f.towardsSink = towardsSink;
  f.local = m.local();
  f.end = fillBestPath(towardsSink ? reversedForSink(m.costs()) : m.costs(), f.codes, keepTotals ? &f.totals : nullptr,
                       {}, &f.localEnd);
  return f;
}

// The local path from the fill's cell (fi, fj) in state back to the
// region's begin, with the flanks on its side: before it (the fill from the
// start), or after it (the fill to the sink, whose walk runs forward).
std::string localWalk(const BestPathFill& f, long fi, long fj, int state) {
  const TraceWalk w = walkLocalTrace(f.codes, fi, fj, state);
  SC_CHECK(w.complete);
  const std::string outside = flanks(static_cast<std::size_t>(w.i), static_cast<std::size_t>(w.j));
  return f.towardsSink ? w.letters + outside : outside + std::string(w.letters.rbegin(), w.letters.rend());
}

TracedPath wholeLocalPath(const threeStateDPAClass_t& m, const BestPathFill& f) {
  const LocalEnd& e = f.localEnd;
  SC_CHECK(e.i > 0 && e.j > 0);
  const std::size_t restS = m.S().size() - e.i, restT = m.T().size() - e.j;  // beyond the end, in the fill's frame
  TracedPath p;
  const std::string part = localWalk(f, static_cast<long>(e.i), static_cast<long>(e.j), stateMatch);
  p.fsastr = f.towardsSink ? flanks(restS, restT) + part : part + flanks(restS, restT);
  p.msgLen = summedMsgLen(m, e.cost.total + (f.towardsSink ? m.costs().beginCost : m.costs().endCost));
  return p;
}

// The walk along a fill's codes from its cell (i, j) back to the fill's
// origin, as a path in column order. The fill to the sink keeps its codes in
// the reversed frame: there (i, j) sits at (|S| - i, |T| - j), and its walk
// back to that frame's origin runs forward to the end here, one column per
// step in column order.
std::string walk(const BestPathFill& f, long fi, long fj, int state) {
  const TraceWalk w = walkTrace(f.codes, fi, fj, state);
  // A code that says no path arrives, met on a best path: the fill is corrupt.
  SC_CHECK(w.complete);
  return f.towardsSink ? w.letters : std::string(w.letters.rbegin(), w.letters.rend());
}

TracedPath wholePath(const threeStateDPAClass_t& m, const BestPathFill& f) {
  if (m.local()) return wholeLocalPath(m, f);
  int k = 0;
  const double cost = findMinIvalue(f.end[0].total, f.end[1].total, f.end[2].total, k);
  TracedPath p;
  p.fsastr = walk(f, static_cast<long>(m.S().size()), static_cast<long>(m.T().size()), k);
  p.msgLen = cost + LN1000 + wtCodeLen_nits(static_cast<int>(p.fsastr.length()));
  return p;
}

TracedPath partPath(const BestPathFill& f, long i, long j, int state) {
  SC_CHECK(!f.totals.empty());
  const long nS = static_cast<long>(f.codes.rows()) - 1, nT = static_cast<long>(f.codes.cols()) - 1;
  SC_CHECK(i >= 0 && i <= nS);
  SC_CHECK(j >= 0 && j <= nT);
  SC_CHECK(state >= 0 && state <= 2);
  const long fi = f.towardsSink ? nS - i : i, fj = f.towardsSink ? nT - j : j;
  TracedPath p;
  p.msgLen = f.totals.at(state, static_cast<size_t>(fi), static_cast<size_t>(fj));
  p.fsastr = f.local ? localWalk(f, fi, fj, state) : walk(f, fi, fj, state);
  return p;
}

}  // namespace

BestPathFill fillDPMatrices(const threeStateDPAClass_t& m, bool keepTotals) { return fill(m, false, keepTotals); }

BestPathFill fillDPMatrices_cell2sink(const threeStateDPAClass_t& m, bool keepTotals) {
  return fill(m, true, keepTotals);
}

TracedPath traceback(const threeStateDPAClass_t& m, const BestPathFill& f) {
  SC_CHECK(!f.towardsSink);
  return wholePath(m, f);
}

TracedPath traceforward(const threeStateDPAClass_t& m, const BestPathFill& f) {
  SC_CHECK(f.towardsSink);
  return wholePath(m, f);
}

TracedPath traceback(const BestPathFill& f, long i, long j, int state) {
  SC_CHECK(!f.towardsSink);
  return partPath(f, i, j, state);
}

TracedPath traceforward(const BestPathFill& f, long i, long j, int state) {
  SC_CHECK(f.towardsSink);
  return partPath(f, i, j, state);
}

OptimalAlignment EM(const threeStateDPAClass_t& start) {
  // Alternate: estimate the parameters from the current alignment, then find
  // the optimal alignment under them, until an alignment reproduces itself.
  // Every alignment traced is kept; should one recur after a longer cycle,
  // the cycle's alignment of least message length (at the parameters
  // estimated for it) is the result.
  threeStateDPAClass_t m = start;
  std::vector<std::string> traced;
  std::string current;
  while (true) {
    if (!current.empty()) m = estimateParams(m, current);
    const TracedPath best = traceback(m, fillDPMatrices(m));
    if (best.fsastr == current) return {m, current, best.msgLen};
    current = best.fsastr;
    const auto seen = std::find(traced.begin(), traced.end(), current);
    if (seen != traced.end()) {
      std::string bestA;
      double bestL = std::numeric_limits<double>::infinity();
      int bestK = m.K();
      for (auto it = seen; it != traced.end(); ++it) {
        m = estimateParams(m, *it);
        const double len = alignmentMsgLen(m, *it);
        if (len < bestL) {
          bestL = len;
          bestA = *it;
          bestK = m.K();
        }
      }
      return {atDistance(m, bestK), bestA, bestL};
    }
    traced.push_back(current);
  }
}

}  // namespace seqcorvane::detail
