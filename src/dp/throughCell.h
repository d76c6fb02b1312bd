// The paths through a cell (i, j), from the values F of the paths that end
// there (from the start) and G of the paths that leave it (to the sink): best
// totals for the best paths, sums for all paths. At any cell but the two
// corners a path through it is a column X ending there joined by the
// transition X->Y to a column Y leaving it:
//   F_X(i,j) + trans(X->Y) + G_Y(i,j)
// each half carrying one end-column charge of ln 3, so one is taken back.
// The best path through the cell is the least of the nine, all paths their
// log-space sum:
//   all paths:            lse_{X,Y}[ F_X(i,j) + trans(X->Y) + G_Y(i,j) ] - ln 3
//   those ending in X:    lse_Y[ F_X(i,j) + trans(X->Y) + G_Y(i,j) ] - ln 3
// (nits, without the costs of K and of the length). At (0, 0) all paths are
// lse_Y G_Y, at (|S|, |T|) lse_X F_X.
#pragma once

#include <array>

#include "codeLengths.h"
#include "logSpace.h"
#include "transitions.h"

namespace seqcorvane::detail {

// The nine joins in the order MM, DM, IM, MD, DD, ID, MI, DI, II (X varies
// fastest): term 3 Y + X is F_X + trans(X->Y) + G_Y.
inline std::array<double, 9> throughCellTerms(const double f[3], const TransitionTable& trans, const double g[3]) {
  std::array<double, 9> terms;
  int t = 0;
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 3; ++x) terms[t++] = f[x] + trans[x][y] + g[y];
  return terms;
}

// All paths through the cell with the costs of K and of the length added (in
// this order, before ln 3 is taken back).
inline double allPathsThroughCell(const double f[3], const TransitionTable& trans, const double g[3], double kCost,
                                  double lengthCost) {
  return findNeglogSum(throughCellTerms(f, trans, g)) + kCost + lengthCost - LN3;
}

// The paths whose column in state x ends at the cell.
inline double pathsThroughCellIn(int x, double f, const TransitionTable& trans, const double g[3]) {
  return neglogSum3(f + trans[x][0] + g[0], f + trans[x][1] + g[1], f + trans[x][2] + g[2]) - LN3;
}

}  // namespace seqcorvane::detail
