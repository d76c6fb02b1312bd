#include "cellPaths.h"

#include <cmath>
#include <limits>

#include "check.h"
#include "codeLengths.h"
#include "paths.h"
#include "throughCell.h"

namespace seqcorvane::detail {

CellFills fillBothDirections(const threeStateDPAClass_t& m) {
  return {fillDPMatrices(m, true), fillDPMatrices_cell2sink(m, true)};
}

namespace {

// Under the local hypothesis, the best alignment whose region passes the
// cell: a column through it, the region ending after its match, or the
// region beginning with the match after it.
TracedPath localThroughCell(const threeStateDPAClass_t& m, const CellFills& fills, long i, long j) {
  const long nS = static_cast<long>(m.S().length()), nT = static_cast<long>(m.T().length());
  const CostTable& c = m.costs();
  double f[3], g[3];
  for (int s = 0; s < 3; ++s) {
    f[s] = fills.fwd.totals.at(s, static_cast<size_t>(i), static_cast<size_t>(j));
    g[s] = fills.sink.totals.at(s, static_cast<size_t>(nS - i), static_cast<size_t>(nT - j));
  }
  const std::array<double, 9> terms = throughCellTerms(f, c.trans, g);
  double best = std::numeric_limits<double>::infinity();
  int how = -1;  // 0..8: a join X->Y; 9: the end after M; 10: the begin after the cell
  for (int t = 0; t < 9; ++t)
    if (terms[t] < best) best = terms[t], how = t;
  if (f[stateMatch] + c.endCost < best) best = f[stateMatch] + c.endCost, how = 9;
  if (c.beginCost + g[stateMatch] < best) best = c.beginCost + g[stateMatch], how = 10;
  TracedPath p;
  if (how < 0) {  // (0, |T|) and (|S|, 0): a region begins with a match and ends after one
    p.msgLen = best;
    return p;
  }
  if (how < 9)
    p.fsastr = traceback(fills.fwd, i, j, how % 3).fsastr + traceforward(fills.sink, i, j, how / 3).fsastr;
  else if (how == 9)
    p.fsastr = traceback(fills.fwd, i, j, stateMatch).fsastr +
               flanks(static_cast<size_t>(nS - i), static_cast<size_t>(nT - j));
  else
    p.fsastr =
        flanks(static_cast<size_t>(i), static_cast<size_t>(j)) + traceforward(fills.sink, i, j, stateMatch).fsastr;
  p.msgLen = summedMsgLen(m, best);
  return p;
}

}  // namespace

TracedPath printAlignmentThroughCell(const threeStateDPAClass_t& m, const CellFills& fills, long i, long j) {
  const long nS = static_cast<long>(m.S().length()), nT = static_cast<long>(m.T().length());
  SC_CHECK(i >= 0 && i <= nS && j >= 0 && j <= nT);
  if (m.local()) return localThroughCell(m, fills, i, j);
  if (i == 0 && j == 0) return traceforward(m, fills.sink);
  if (i == nS && j == nT) return traceback(m, fills.fwd);
  // Nine ways through the cell; a half that no path takes is not traced.
  // Equal message lengths keep the earlier way.
  double f[3], g[3];
  TracedPath prefix[3], suffix[3];
  for (int s = 0; s < 3; ++s) {
    f[s] = fills.fwd.totals.at(s, static_cast<size_t>(i), static_cast<size_t>(j));
    g[s] = fills.sink.totals.at(s, static_cast<size_t>(nS - i), static_cast<size_t>(nT - j));
    if (!std::isinf(f[s])) prefix[s] = traceback(fills.fwd, i, j, s);
    if (!std::isinf(g[s])) suffix[s] = traceforward(fills.sink, i, j, s);
  }
  const std::array<double, 9> terms = throughCellTerms(f, m.costs().trans, g);
  TracedPath best;
  best.msgLen = std::numeric_limits<double>::infinity();
  bool found = false;
  for (int t = 0; t < 9; ++t) {
    const int x = t % 3, y = t / 3;
    if (std::isinf(f[x]) || std::isinf(g[y])) continue;
    const std::string joined = prefix[x].fsastr + suffix[y].fsastr;
    const double c = terms[t] - LN3 + LN1000 + wtCodeLen_nits(static_cast<int>(joined.length()));
    if (!found || c < best.msgLen) {
      best = {joined, c};
      found = true;
    }
  }
  SC_CHECK(found);
  return best;
}

}  // namespace seqcorvane::detail
