#include "cellPaths.h"

#include <cmath>
#include <limits>

#include "check.h"
#include "codeLengths.h"
#include "throughCell.h"

namespace seqcorvane::detail {

CellFills fillBothDirections(const threeStateDPAClass_t& m) {
  return {fillDPMatrices(m, true), fillDPMatrices_cell2sink(m, true)};
}

TracedPath printAlignmentThroughCell(const threeStateDPAClass_t& m, const CellFills& fills, long i, long j) {
  const long nS = static_cast<long>(m.S().length()), nT = static_cast<long>(m.T().length());
  SC_CHECK(i >= 0 && i <= nS && j >= 0 && j <= nT);
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
