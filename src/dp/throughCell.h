// The paths through a cell (i, j), from the forward sums F of the paths that
// end there and the sums G of the paths that leave it to the sink. At any
// cell but the two corners, a path through it is a column X ending there
// joined by the transition X->Y to a column Y leaving it; each half carries
// one end-column charge of ln 3, so one is taken back:
//   all paths:            lse_{X,Y}[ F_X(i,j) + trans(X->Y) + G_Y(i,j) ] - ln 3
//   those ending in X:    lse_Y[ F_X(i,j) + trans(X->Y) + G_Y(i,j) ] - ln 3
// (nits, without the costs of K and of the length). At (0, 0) all paths are
// lse_Y G_Y, at (|S|, |T|) lse_X F_X.
#pragma once

#include <array>

#include "codeLengths.h"
#include "dpCosts.h"
#include "logSpace.h"

// All paths through the cell with the costs of K and of the length added (in
// this order, before ln 3 is taken back); the nine terms in the order MM, DM,
// IM, MD, DD, ID, MI, DI, II.
inline double allPathsThroughCell(const double f[3], const TransitionTable& trans, const double g[3], double kCost,
                                  double lengthCost) {
  std::array<double, 9> terms;
  int t = 0;
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 3; ++x) terms[t++] = f[x] + trans[x][y] + g[y];
  return findNeglogSum(terms) + kCost + lengthCost - LN3;
}

// The paths whose column in state x ends at the cell.
inline double pathsThroughCellIn(int x, double f, const TransitionTable& trans, const double g[3]) {
  return neglogSum3(f + trans[x][0] + g[0], f + trans[x][1] + g[1], f + trans[x][2] + g[2]) - LN3;
}
