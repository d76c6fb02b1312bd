// Posterior probabilities against the enumeration of every path of tiny pairs.
#include <gtest/gtest.h>

#include "codeLengths.h"
#include "dpKernels.h"
#include "dpPosteriors.h"
#include "logSpace.h"
#include "marginal.h"
#include "naiveReference.h"

using namespace naive;

// Pair and unpaired posteriors of tiny pairs against every complete path;
// each residue's probabilities sum to 1; the maximum expected accuracy
// alignment scores at least every other path.
TEST(Posteriors, MatchTheEnumerationAndDecodeTheBestPath) {
  std::mt19937 rng(515);
  for (int trial = 0; trial < 25; ++trial) {
    const TinyCase c = tinyCase(rng);
    const Reference ref(c.K);
    const size_t nS = c.S.size(), nT = c.T.size();
    SCOPED_TRACE(c.S + " / " + c.T + " K=" + std::to_string(c.K));
    std::vector<std::vector<double>> pair(nS + 1, std::vector<double>(nT + 1, 0.0));
    std::vector<double> qS(nS, 0.0), qT(nT, 0.0);
    double total = 0;
    const auto& paths = allPaths(nS, nT);
    for (const std::string& p : paths) {
      const auto pt = ref.parts(p, c.S, c.T, 0, 0);
      const double mass = std::exp(-(pt.first + pt.second));
      total += mass;
      size_t i = 0, j = 0;
      for (char x : p) {
        i += x != 'i';
        j += x != 'd';
        if (x == 'm') pair[i][j] += mass;
        if (x == 'd') qS[i - 1] += mass;
        if (x == 'i') qT[j - 1] += mass;
      }
    }
    const std::string first = paths.front();
    std::vector<double> pathPairs, fastPathPairs;
    const Posteriors p = computePosteriors(c.costs, true, &first, &pathPairs);
    // The probability-space posteriors: the same within float precision.
    const Posteriors fast = computePosteriorsFast(c.costs, true, &first, &fastPathPairs);
    for (size_t k = 0; k < p.pair.size(); ++k) EXPECT_NEAR(fast.pair[k], p.pair[k], 1e-6);
    for (size_t k = 0; k < nS; ++k) EXPECT_NEAR(fast.unpairedS[k], p.unpairedS[k], 1e-9);
    for (size_t k = 0; k < nT; ++k) EXPECT_NEAR(fast.unpairedT[k], p.unpairedT[k], 1e-9);
    for (size_t k = 0; k < first.size(); ++k) {
      if (first[k] == 'm') {
        EXPECT_NEAR(fastPathPairs[k], pathPairs[k], 1e-9);
      }
    }
    for (size_t i = 1; i <= nS; ++i) {
      double sum = p.unpairedS[i - 1];
      EXPECT_NEAR(p.unpairedS[i - 1], qS[i - 1] / total, 1e-12);
      for (size_t j = 1; j <= nT; ++j) {
        EXPECT_NEAR(p.pairOf(i, j), pair[i][j] / total, 1e-6);  // kept as float
        sum += pair[i][j] / total;
      }
      EXPECT_NEAR(sum, 1.0, 1e-12);
    }
    for (size_t j = 1; j <= nT; ++j) EXPECT_NEAR(p.unpairedT[j - 1], qT[j - 1] / total, 1e-12);
    for (double w : {0.0, 0.5, 1.0}) {
      auto score = [&](const std::string& path, const std::vector<double>& column) {
        double s = 0;
        for (size_t l = 0; l < path.size(); ++l) s += path[l] == 'm' ? column[l] : w * column[l];
        return s;
      };
      const std::string mea = meaAlignment(p, w);
      const double best = score(mea, columnPosteriors(p, mea));
      for (const std::string& other : paths) EXPECT_GE(best + 1e-6, score(other, columnPosteriors(p, other))) << other;
    }
    const std::vector<double> firstColumns = columnPosteriors(p, first, &pathPairs);
    for (size_t l = 0; l < first.size(); ++l) {
      if (first[l] == 'm') {
        EXPECT_NEAR(firstColumns[l], columnPosteriors(p, first)[l], 1e-6);
      }
    }
  }
}

// With the fitted match emissions (the shipped tables, interpolated here in
// ln K between the two that enclose K): the marginal message length of the
// machine and of the distance search, and the pair posteriors, against the
// enumeration of every path.
TEST(Posteriors, FittedMatchEmissionsMatchTheEnumeration) {
  const MatchJoints& joints = models().matchJoints;
  ASSERT_FALSE(joints.empty());
  std::mt19937 rng(2207);
  for (int trial = 0; trial < 20; ++trial) {
    const std::string S = randomSeq(rng, 1 + static_cast<int>(rng() % 4)),
                      T = randomSeq(rng, 1 + static_cast<int>(rng() % 4));
    const int K = trial == 0 ? 1 : trial == 1 ? 1000 : 1 + static_cast<int>(rng() % 1000);
    SCOPED_TRACE(S + " / " + T + " K=" + std::to_string(K));
    PairTable atK = joints.joints.front();
    for (size_t b = 1; b < joints.K.size(); ++b) {
      if (K >= joints.K[b]) atK = joints.joints[b];
      if (K > joints.K[b - 1] && K < joints.K[b]) {
        const double w = std::log(K / joints.K[b - 1]) / std::log(joints.K[b] / joints.K[b - 1]);
        for (int x = 0; x < 20; ++x)
          for (int y = 0; y < 20; ++y) atK[x][y] = (1 - w) * joints.joints[b - 1][x][y] + w * joints.joints[b][x][y];
      }
    }
    Reference ref(K);
    ref.joint = &atK;
    std::vector<std::vector<double>> pair(S.size() + 1, std::vector<double>(T.size() + 1, 0.0));
    std::vector<double> totals;
    for (const std::string& p : allPaths(S.size(), T.size())) {
      const auto pt = ref.parts(p, S, T, 0, 0);
      totals.push_back(pt.first + pt.second);
      size_t i = 0, j = 0;
      for (char x : p) {
        i += x != 'i';
        j += x != 'd';
        if (x == 'm') pair[i][j] += std::exp(-totals.back());
      }
    }
    const double total = neglogSumOf(totals);
    MachineModel fitted;
    fitted.matchJoints = &joints;
    const threeStateDPAClass_t m = makeMachine(S, T, models(), K, fitted);
    // The marginal message length adds the distance's and the lengths' codes.
    const double codes = LN1000_ + wtCodeLen_nits(static_cast<int>(std::max(S.size(), T.size())));
    EXPECT_NEAR(computeTotalProbOfST(m), total + codes, 1e-9);
    EXPECT_NEAR(marginalMsgLenFast(m), total + codes, 1e-9);
    const Posteriors p = computePosteriorsFast(m.costs(), true);
    for (size_t i = 1; i <= S.size(); ++i)
      for (size_t j = 1; j <= T.size(); ++j) EXPECT_NEAR(p.pairOf(i, j), pair[i][j] / std::exp(-total), 1e-6);
  }
}

// Gap discounts at the two ends (the posterior decoding's end gap runs priced
// alike, and arbitrary ones at the start and the end): the summed message
// length of both passes and the posteriors against every complete path, each
// less the discount of its first and of its last column's state.
TEST(Posteriors, EndGapDiscountsMatchTheEnumeration) {
  std::mt19937 rng(3151);
  std::uniform_real_distribution<double> discount(-2.0, 6.0);
  for (int trial = 0; trial < 30; ++trial) {
    TinyCase c = tinyCase(rng);
    if (trial % 2 == 0) {
      priceEndGapsAlike(c.costs);
    } else {
      for (int x : {stateDelete, stateInsert}) {
        c.costs.startGapDiscount[x] = discount(rng);
        c.costs.endGapDiscount[x] = discount(rng);
      }
    }
    const Reference ref(c.K);
    const size_t nS = c.S.size(), nT = c.T.size();
    SCOPED_TRACE(c.S + " / " + c.T + " K=" + std::to_string(c.K));
    std::vector<double> totals;
    std::vector<std::vector<double>> pair(nS + 1, std::vector<double>(nT + 1, 0.0));
    std::vector<double> qS(nS, 0.0), qT(nT, 0.0);
    const std::string states = "mdi";
    for (const std::string& p : allPaths(nS, nT)) {
      const auto pt = ref.parts(p, c.S, c.T, 0, 0);
      totals.push_back(pt.first + pt.second - c.costs.startGapDiscount[states.find(p.front())] -
                       c.costs.endGapDiscount[states.find(p.back())]);
    }
    const double total = neglogSumOf(totals);
    size_t n = 0;
    for (const std::string& p : allPaths(nS, nT)) {
      const double mass = std::exp(total - totals[n++]);
      size_t i = 0, j = 0;
      for (char x : p) {
        i += x != 'i';
        j += x != 'd';
        if (x == 'm') pair[i][j] += mass;
        if (x == 'd') qS[i - 1] += mass;
        if (x == 'i') qT[j - 1] += mass;
      }
    }
    EXPECT_NEAR(findNeglogSum3(sumAllPaths(c.costs)), total, 1e-9);
    EXPECT_NEAR(findNeglogSum3(sumAllPaths(reversedForSink(c.costs))), total, 1e-9);
    EXPECT_NEAR(sumAllPathsFast(c.costs), total, 1e-9);
    EXPECT_NEAR(sumAllPathsFast(reversedForSink(c.costs)), total, 1e-9);
    for (const Posteriors& p : {computePosteriors(c.costs, true), computePosteriorsFast(c.costs, true)}) {
      for (size_t i = 1; i <= nS; ++i) {
        EXPECT_NEAR(p.unpairedS[i - 1], qS[i - 1], 1e-9);
        for (size_t j = 1; j <= nT; ++j) EXPECT_NEAR(p.pairOf(i, j), pair[i][j], 1e-6);
      }
      for (size_t j = 1; j <= nT; ++j) EXPECT_NEAR(p.unpairedT[j - 1], qT[j - 1], 1e-9);
    }
  }
  // Priced alike: a residue left over at the end costs what it costs at the start.
  TinyCase c = tinyCase(rng);
  priceEndGapsAlike(c.costs);
  const Reference ref(c.K);
  const std::string core = "MKVL";
  const auto lead = ref.parts("dmmmm", "W" + core, core, 0, 0), trail = ref.parts("mmmmd", core + "W", core, 0, 0);
  EXPECT_NEAR(lead.first + lead.second, trail.first + trail.second - c.costs.endGapDiscount[stateDelete], 1e-12);
  const auto leadT = ref.parts("immmm", core, "W" + core, 0, 0), trailT = ref.parts("mmmmi", core, core + "W", 0, 0);
  EXPECT_NEAR(leadT.first + leadT.second, trailT.first + trailT.second - c.costs.endGapDiscount[stateInsert], 1e-12);
}
