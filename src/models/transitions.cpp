#include "transitions.h"

#include <cmath>
#include <vector>

#include "check.h"

namespace seqcorvane::detail {

TransitionTable estimate3StateMachineParams_dirichlet(const SubmatClass_t& pam, double gapOpenScale) {
  SC_CHECK(gapOpenScale > 0 && gapOpenScale <= 1);
  const std::vector<double> m = pam.getDirichlet("match").getMode();
  const std::vector<double> g = pam.getDirichlet("insert").getMode();
  TransitionTable p{};
  p[stateMatch][stateMatch] = m[0];
  p[stateMatch][stateInsert] = (1 - m[0]) * 0.5;
  p[stateMatch][stateDelete] = (1 - m[0]) * 0.5;
  p[stateInsert][stateMatch] = g[1];
  p[stateInsert][stateInsert] = g[0];
  p[stateInsert][stateDelete] = 1 - g[0] - g[1];
  p[stateDelete][stateMatch] = g[1];
  p[stateDelete][stateInsert] = 1 - g[0] - g[1];
  p[stateDelete][stateDelete] = g[0];
  if (gapOpenScale != 1) {
    const double open = (1 - p[stateMatch][stateMatch]) * gapOpenScale;
    p[stateMatch][stateMatch] = 1 - open;
    p[stateMatch][stateInsert] = p[stateMatch][stateDelete] = open * 0.5;
  }
  for (int x = 0; x < 3; ++x) SC_CHECK(p[x][stateMatch] + p[x][stateInsert] + p[x][stateDelete] > 0.999999999999999);
  return p;
}

TransitionTable transitionCosts(const TransitionTable& fsaPr) {
  TransitionTable t{};
  for (int x = 0; x < 3; ++x)
    for (int y = 0; y < 3; ++y) t[x][y] = -std::log(fsaPr[x][y]);
  return t;
}

}  // namespace seqcorvane::detail
