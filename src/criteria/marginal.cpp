#include "marginal.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "check.h"
#include "codeLengths.h"
#include "distanceSearch.h"
#include "fastSums.h"
#include "logSpace.h"
#include "parallel.h"
#include "throughCell.h"

namespace seqcorvane::detail {

namespace {

// How far a cost of the fast summed pass may lie from the exact pass's: a
// relative 2e-12 and an absolute 1e-9 nits. The differences measured on
// thousands of pairs of up to 3,000 residues stay below a relative 1e-13.
constexpr double FAST_SUM_RELATIVE_MARGIN = 2e-12;
constexpr double FAST_SUM_ABSOLUTE_MARGIN = 1e-9;

// Pairs smaller than this many cells search with one thread: a thread costs
// more to start than it saves.
constexpr double PARALLEL_SEARCH_CELLS = 250000.0;

}  // namespace

double fastSumMargin(double cost) { return FAST_SUM_RELATIVE_MARGIN * std::fabs(cost) + FAST_SUM_ABSOLUTE_MARGIN; }

double computeTotalProbOfST(const threeStateDPAClass_t& m, const SumRowVisitor& visit) {
  const std::array<double, 3> end = sumAllPaths(m.costs(), nullptr, visit);
  return summedMsgLen(m, findNeglogSum(end));
}

double computeTotalProbOfST_2sink(const threeStateDPAClass_t& m, StatePlanes& sinkSums) {
  // The sums from every cell to the sink are the forward sums of the reversed pair.
  const std::array<double, 3> end = sumAllPaths(reversedForSink(m.costs()), &sinkSums);
  return summedMsgLen(m, findNeglogSum(end));
}

double marginalMsgLenFast(const threeStateDPAClass_t& m) { return summedMsgLen(m, sumAllPathsFast(m.costs())); }

double printTotalFwdPlusBwd(const threeStateDPAClass_t& m, StatePlanes& sinkSums, const LandscapeVisitor& visit) {
  SC_CHECK(!sinkSums.empty());
  const size_t nS = m.S().size(), nT = m.T().size();
  const double lengthCost = lengthMsgLen(m);
  const TransitionTable& trans = m.costs().trans;
  std::vector<double> values(nT + 1);
  // Every path passes through (0, 0) and (|S|, |T|): there the landscape is
  // the marginal message length of the pair; elsewhere the paths through the
  // cell (throughCell.h). G_Y(i,j) is kept at (|S| - i, |T| - j) of the
  // reversed frame.
  const CostTable& c = m.costs();
  const double msgLen = computeTotalProbOfST(m, [&](const SumRow& f) {
    const size_t i = f.i;
    const double* g[3];
    for (int y = 0; y < 3; ++y) g[y] = sinkSums.row(y, nS - i);
    for (size_t j = 0; j <= nT; ++j) {
      const size_t gj = nT - j;
      const double gCell[3] = {g[0][gj], g[1][gj], g[2][gj]};
      const double fCell[3] = {f.sum[0][j], f.sum[1][j], f.sum[2][j]};
      if (m.local()) {
        // Local: the regions that pass the cell: a column through it, a
        // region ending after its match, a region beginning with the match
        // after it.
        const std::array<double, 9> joins = throughCellTerms(fCell, trans, gCell);
        std::array<double, 11> terms;
        std::copy(joins.begin(), joins.end(), terms.begin());
        terms[9] = fCell[stateMatch] + c.endCost;
        terms[10] = c.beginCost + gCell[stateMatch];
        values[j] = summedMsgLen(m, neglogSumUnordered(terms.data(), terms.size()));
      } else if (i == 0 && j == 0)
        values[j] = findNeglogSum(std::array<double, 3>{gCell[0], gCell[1], gCell[2]}) + LN1000 + lengthCost;
      else if (i == nS && j == nT)
        values[j] = findNeglogSum(std::array<double, 3>{fCell[0], fCell[1], fCell[2]}) + LN1000 + lengthCost;
      else
        values[j] = allPathsThroughCell(fCell, trans, gCell, LN1000, lengthCost);
    }
    visit(LandscapeRow{i, values.data(), values.size()});
  });
  sinkSums.release();
  return msgLen;
}

MarginalSearchOutcome searchMarginalDistance(const threeStateDPAClass_t& m, double nullMsgLen,
                                             const LandscapeVisitor* landscape) {
  // The two probes of a step run at once, on pairs large enough to gain
  // more than a thread costs to start.
  const double cells = static_cast<double>(m.S().size()) * static_cast<double>(m.T().size());
  const int stepThreads = cells < PARALLEL_SEARCH_CELLS ? 1 : m.settings().threads;
  const DistanceCosts exact = [&](const std::vector<int>& ks) {
    return mapInParallel(stepThreads, ks, [&](int k) { return computeTotalProbOfST(atDistance(m, k)); });
  };
  const DistanceSearchResult r = searchDistance(
      [&](const std::vector<int>& ks) {
        return mapInParallel(stepThreads, ks, [&](int k) { return marginalMsgLenFast(atDistance(m, k)); });
      },
      exact, fastSumMargin);
  int bestK = r.bestK != 0 ? r.bestK : 1;  // no finite cost at all: K stays 1
  MarginalSearchOutcome s{atDistance(m, bestK), r.bestCost, r.evaluated, r.evaluatedExactly};
  // Without the landscape, the search's cost at the chosen distance stands,
  // unless the compression it gives lies within its margin of 0, where only
  // the exact cost tells the verdict.
  if (landscape == nullptr && r.bestK != 0 && std::isfinite(r.bestCost) &&
      !(std::fabs(nullMsgLen - r.bestCost) <= fastSumMargin(r.bestCost)))
    return s;

  // The exact marginal message length of the chosen distance; with the
  // landscape, the sums to the sink first (their total is the marginal
  // message length too), and once the distance is settled the forward sums,
  // whose rows complete the landscape one by one.
  StatePlanes sinkSums;
  auto settle = [&](int K) {
    s.machine = atDistance(m, K);
    s.msgLen = landscape != nullptr ? computeTotalProbOfST_2sink(s.machine, sinkSums) : computeTotalProbOfST(s.machine);
    ++s.exactPasses;
  };
  settle(bestK);
  // The exact pass at the chosen distance checks the fast ones: should they
  // disagree there, the search runs again on exact passes alone.
  if (r.bestK != 0 && std::isfinite(s.msgLen) && !(std::fabs(r.bestCost - s.msgLen) <= fastSumMargin(s.msgLen))) {
    const DistanceSearchResult e = searchDistance(exact, false);
    s.exactPasses += e.evaluated;
    const int k = e.bestK != 0 ? e.bestK : 1;
    if (k != bestK) settle(bestK = k);
  }
  if (landscape != nullptr) s.msgLen = printTotalFwdPlusBwd(s.machine, sinkSums, *landscape);
  return s;
}

}  // namespace seqcorvane::detail
