// The best alignment through a chosen cell.
#include <cmath>

#include "check.h"
#include "logSpace.h"
#include "threeStateDPAClass.h"

std::string threeStateDPAClass_t::printAlignmentThroughCell(int i, int j, double& msgLen) {
  const int nS = static_cast<int>(S.length()), nT = static_cast<int>(T.length());
  SC_CHECK(i >= 0 && i <= nS && j >= 0 && j <= nT);
  std::string chosen;
  if (i == 0 && j == 0) {
    msgLen = traceforward(chosen, -1, -1, -1);
    return chosen;
  }
  if (i == nS && j == nT) {
    msgLen = traceback(chosen, -1, -1, -1);
    return chosen;
  }
  // Nine ways through the cell: the best path from the start whose last
  // column X ends at the cell, joined by the transition X->Y to the best
  // path to the end whose first column Y leaves it, in the order MM, DM,
  // IM, MD, DD, ID, MI, DI, II; each half carries one end-column charge of
  // ln 3, one is taken back. A half that no path takes is not traced.
  const TransitionTable trans = transitionCosts(fsaPr);
  std::vector<std::string> fsas;
  std::vector<double> costs;
  for (int y = 0; y < 3; ++y) {
    for (int x = 0; x < 3; ++x) {
      const double pre = fwdTotals.at(x, static_cast<size_t>(i), static_cast<size_t>(j));
      const double suf = sinkTotals.at(y, static_cast<size_t>(nS - i), static_cast<size_t>(nT - j));
      std::string joined;
      double c = std::numeric_limits<double>::infinity();
      if (!std::isinf(pre) && !std::isinf(suf)) {
        std::string prefix, suffix;
        traceback(prefix, i, j, x);
        traceforward(suffix, i, j, y);
        joined = prefix + suffix;
        c = pre + trans[x][y] + suf - LN3 + paramMsgLen + wtCodeLen_nits(static_cast<int>(joined.length()));
      }
      fsas.push_back(joined);
      costs.push_back(c);
    }
  }
  SC_CHECK(fsas.size() == 9);
  int min_indx = -1;
  msgLen = findMinAndArgMinInArray(costs, min_indx);
  SC_CHECK(min_indx >= 0 && min_indx <= 8);
  return fsas[min_indx];
}
