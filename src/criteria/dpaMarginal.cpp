// The marginal probability over all alignments: the forward and to-sink
// sums, the search for the distance of least marginal message length, and
// the landscape of marginal probabilities through every cell.
#include <algorithm>
#include <cmath>
#include <string>

#include "check.h"
#include "distanceSearch.h"
#include "logSpace.h"
#include "numberText.h"
#include "parallel.h"
#include "threeStateDPAClass.h"
#include "throughCell.h"

namespace {

// How far a cost of the fast summed pass may lie from the exact pass's: a
// relative 2e-12 and an absolute 1e-9 nits. The differences measured on
// thousands of pairs of up to 3,000 residues stay below a relative 1e-13.
constexpr double FAST_SUM_RELATIVE_MARGIN = 2e-12;
constexpr double FAST_SUM_ABSOLUTE_MARGIN = 1e-9;
double fastSumMargin(double cost) { return FAST_SUM_RELATIVE_MARGIN * std::fabs(cost) + FAST_SUM_ABSOLUTE_MARGIN; }

// The texts of a marginal message length and of its compression against the
// null one as the reports and tables write them (and the verdict's
// thresholds at 0 and 6 bits).
std::string printed(double msgLen, double nullMsgLen) {
  const double bits = nits2bits(msgLen), compression = nits2bits(nullMsgLen - msgLen);
  return formatFixed(bits, 3) + " " + formatFixed(compression, 3) + " " + formatGeneral(compression) + " " +
         (compression > 0 ? "+" : "-") + (compression > 6.0 ? "+" : "-");
}

bool printedAlike(double a, double b, double nullMsgLen) { return printed(a, nullMsgLen) == printed(b, nullMsgLen); }

// The code length of the longer sequence's length, which every sum over
// whole paths adds after the cost of K.
double lengthMsgLen(size_t nS, size_t nT) { return wtCodeLen_nits(static_cast<int>(std::max(nS, nT))); }

}  // namespace

double threeStateDPAClass_t::forwardSum(const SumRowVisitor& visit) {
  const std::array<double, 3> end = sumAllPaths(costs(), nullptr, visit);
  marginalProbMsgLen = findNeglogSum(end) + LN1000 + lengthMsgLen(S.size(), T.size());
  return marginalProbMsgLen;
}

double threeStateDPAClass_t::computeTotalProbOfST(int K) {
  setDistance(K);
  return forwardSum({});
}

void threeStateDPAClass_t::computeTotalProbOfST_2sink() {
  // The sums from every cell to the sink are the forward sums of the
  // reversed pair; they are kept for the landscape.
  const std::array<double, 3> end = sumAllPaths(reversedForSink(costs()), &sinkSums);
  marginalProbMsgLen_2sink = findNeglogSum(end) + LN1000 + lengthMsgLen(S.size(), T.size());
}

double threeStateDPAClass_t::marginalMsgLenAt(int K, bool exact) const {
  const CostTable c = costsAt(K);
  const double sum = exact ? findNeglogSum(sumAllPaths(c)) : sumAllPathsFast(c);
  return sum + LN1000 + lengthMsgLen(S.size(), T.size());
}

int threeStateDPAClass_t::searchMarginalDistance(const seqcorvane::LandscapeVisitor* landscape) {
  // The passes of the search sum in probability space, many times faster;
  // wherever two of their costs lie too close to tell apart, the exact
  // log-space costs decide, so the chosen distance is the exact search's.
  // The two probes of a step run at once, on pairs large enough to gain
  // more than a thread costs to start.
  const int stepThreads = static_cast<double>(S.size()) * static_cast<double>(T.size()) < 250000.0 ? 1 : threads;
  const DistanceCosts exact = [&](const std::vector<int>& ks) {
    return mapInParallel(stepThreads, ks, [&](int k) { return marginalMsgLenAt(k, true); });
  };
  const DistanceSearchResult r = searchDistance(
      [&](const std::vector<int>& ks) {
        return mapInParallel(stepThreads, ks, [&](int k) { return marginalMsgLenAt(k, false); });
      },
      exact, fastSumMargin);
  int bestK = r.bestK != 0 ? r.bestK : 1;  // no finite cost at all: K stays 1
  fastPasses = r.evaluated;
  exactPasses = r.evaluatedExactly;
  // Without the landscape, the search's cost at the chosen distance serves
  // wherever every number printed from it (the marginal message length and
  // the compression, in bits, to three decimals and to six significant
  // digits) is the same at both ends of its margin: the exact pass would
  // print the same bytes.
  if (landscape == nullptr && r.bestK != 0 && std::isfinite(r.bestCost)) {
    const double margin = fastSumMargin(r.bestCost);
    const double nullMsgLen = sequenceNullMsgLen(S, models->nullMdl) + sequenceNullMsgLen(T, models->nullMdl);
    if (printedAlike(r.bestCost - margin, r.bestCost + margin, nullMsgLen)) {
      setDistance(bestK);
      marginalProbMsgLen = r.bestCost;
      return bestK;  // no exact pass
    }
  }

  // The parameters of the chosen distance and its exact marginal message
  // length; with the landscape, the sums to the sink first (their total is
  // the marginal message length too), and once the distance is settled the
  // forward sums, whose rows complete the landscape one by one.
  auto settle = [&](int K) {
    setDistance(K);
    if (landscape != nullptr) {
      computeTotalProbOfST_2sink();
      return marginalProbMsgLen_2sink;
    }
    return forwardSum({});
  };
  const double exactAtBest = settle(bestK);
  ++exactPasses;
  // The exact pass at the chosen distance checks the fast ones: should they
  // disagree there, the search runs again on exact passes alone.
  if (r.bestK != 0 && std::isfinite(exactAtBest) &&
      !(std::fabs(r.bestCost - exactAtBest) <= fastSumMargin(exactAtBest))) {
    const DistanceSearchResult e = searchDistance(exact, false);
    exactPasses += e.evaluated;
    const int k = e.bestK != 0 ? e.bestK : 1;
    if (k != bestK) settle(bestK = k);
  }
  if (landscape != nullptr) printTotalFwdPlusBwd(*landscape);
  return bestK;
}

void threeStateDPAClass_t::printTotalFwdPlusBwd(const seqcorvane::LandscapeVisitor& visit) {
  SC_CHECK(!sinkSums.empty());
  const size_t nS = S.size(), nT = T.size();
  const double lengthCost = lengthMsgLen(nS, nT);
  const TransitionTable trans = transitionCosts(fsaPr);
  std::vector<double> values(nT + 1);
  // Every path passes through (0, 0) and (|S|, |T|): there the landscape is
  // the marginal message length of the pair; elsewhere the paths through the
  // cell (throughCell.h). G_Y(i,j) is kept at (|S| - i, |T| - j) of the
  // reversed frame.
  auto row = [&](const SumRow& f) {
    const size_t i = f.i;
    const double* g[3];
    for (int y = 0; y < 3; ++y) g[y] = sinkSums.row(y, nS - i);
    for (size_t j = 0; j <= nT; ++j) {
      const size_t gj = nT - j;
      const double gCell[3] = {g[0][gj], g[1][gj], g[2][gj]};
      const double fCell[3] = {f.sum[0][j], f.sum[1][j], f.sum[2][j]};
      if (i == 0 && j == 0)
        values[j] = findNeglogSum(std::array<double, 3>{gCell[0], gCell[1], gCell[2]}) + LN1000 + lengthCost;
      else if (i == nS && j == nT)
        values[j] = findNeglogSum(std::array<double, 3>{fCell[0], fCell[1], fCell[2]}) + LN1000 + lengthCost;
      else
        values[j] = allPathsThroughCell(fCell, trans, gCell, LN1000, lengthCost);
    }
    visit(seqcorvane::LandscapeRow{i, values.data(), values.size()});
  };
  forwardSum(row);
  sinkSums.release();
}
