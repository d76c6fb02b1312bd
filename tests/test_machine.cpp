// The alignment machine against deliberately naive references: every path
// of tiny pairs enumerated (best paths, sums and the landscape, cell by cell,
// in both directions), the distance searches against their rules applied to a
// table of every distance, and re-scoring of every traced path.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <random>
#include <sstream>

#include "cellPaths.h"
#include "check.h"
#include "dpPosteriors.h"
#include "estimation.h"
#include "logSpace.h"
#include "machine.h"
#include "marginal.h"
#include "naiveReference.h"
#include "optimal.h"
#include "paths.h"
#include "testUtil.h"

using namespace naive;

// -ln of the sum over the entries, one pass without sorting.
double unordered(std::initializer_list<double> v) { return neglogSumUnordered(v.begin(), v.size()); }

TEST(LogSpace, SumsAndMinimumFinders) {
  const double x = 3.25;
  EXPECT_EQ(unordered({x}), x);
  EXPECT_NEAR(unordered({x, x}), x - std::log(2.0), 1e-15);
  EXPECT_EQ(unordered({INF, 5, INF}), 5.0);
  EXPECT_EQ(unordered({1010, 1000}), 1000 - std::log1p(std::exp(-10.0)));
  EXPECT_EQ(unordered({INF, INF}), INF);
  EXPECT_EQ(unordered({}), INF);
  std::mt19937 rng(7);
  for (int k = 0; k < 200; ++k) {
    const std::array<double, 3> v{rng() % 50 / 3.0, rng() % 50 / 7.0, rng() % 2 ? INF : rng() % 50 / 11.0};
    // the sorted sums of the fixed sizes alike; the unordered one to rounding
    EXPECT_EQ(neglogSum3(v[0], v[1], v[2]), findNeglogSum(v));
    EXPECT_EQ(findNeglogSum(std::array<double, 4>{v[2], INF, v[0], v[1]}), findNeglogSum(v));
    EXPECT_NEAR(neglogSumUnordered(v.data(), 3), findNeglogSum(v), 1e-14);
  }
  int pos = -1;
  EXPECT_EQ(findMinIvalue(2, 2, 1, pos), 1);
  EXPECT_EQ(pos, 2);
  EXPECT_EQ(findMinIvalue(2, 2, 2, pos), 2);
  EXPECT_EQ(pos, 0);
  EXPECT_EQ(findMinAndArgMinInArray({3, 1, 1, 2}, pos), 1);
  EXPECT_EQ(pos, 1);
}

// Both passes in both directions, every cell and state of tiny pairs, against
// the enumeration of every path; each trace code leads along a best path,
// whose transition and emission parts are those the fill kept.
TEST(Kernels, EveryCellMatchesTheEnumerationOfAllPaths) {
  const unsigned seed = 20261207;
  std::mt19937 rng(seed);
  for (int trial = 0; trial < 40; ++trial) {
    const TinyCase c = tinyCase(rng);
    const Reference ref(c.K);
    const size_t nS = c.S.size(), nT = c.T.size();
    SCOPED_TRACE("seed " + std::to_string(seed) + " trial " + std::to_string(trial) + ": " + c.S + " / " + c.T +
                 " K=" + std::to_string(c.K));
    for (bool towardsSink : {false, true}) {
      const CostTable table = towardsSink ? reversedForSink(c.costs) : c.costs;
      // Cell (i, j) of the pass is cell (i, j) of the pair towards the start,
      // (|S| - i, |T| - j) towards the sink.
      auto cellOf = [&](size_t i, size_t j) {
        return towardsSink ? std::make_pair(nS - i, nT - j) : std::make_pair(i, j);
      };
      TraceCodes codes;
      size_t rowsSeen = 0;
      fillBestPath(table, codes, nullptr, [&](const BestPathRow& row) {
        ++rowsSeen;
        for (size_t j = 0; j <= nT; ++j) {
          const auto cell = cellOf(row.i, j);
          if (row.i == 0 && j == 0) continue;  // the origin: 0 in every state
          for (int s = 0; s < 3; ++s) {
            const std::string where = std::string(towardsSink ? "sink " : "start ") + std::to_string(cell.first) + "," +
                                      std::to_string(cell.second) + " state " + std::to_string(s);
            const Enumerated e = enumerate(ref, c.S, c.T, cell.first, cell.second, s, towardsSink);
            expectClose(e.best, row.trans[s][j] + row.emit[s][j], where);
          }
        }
      });
      EXPECT_EQ(rowsSeen, nS + 1);
      for (size_t i = 0; i <= nS; ++i)
        for (size_t j = 0; j <= nT; ++j)
          for (int s = 0; s < 3; ++s) {
            const auto cell = cellOf(i, j);
            const Enumerated e = enumerate(ref, c.S, c.T, cell.first, cell.second, s, towardsSink);
            if (std::isinf(e.best) || (i == 0 && j == 0)) continue;
            const TraceWalk w = walkTrace(codes, static_cast<long>(i), static_cast<long>(j), s);
            ASSERT_TRUE(w.complete);
            // The walk runs from the cell back to the pass's origin.
            const std::string path = towardsSink ? w.letters : std::string(w.letters.rbegin(), w.letters.rend());
            const auto pt =
                towardsSink ? ref.parts(path, c.S, c.T, cell.first, cell.second) : ref.parts(path, c.S, c.T, 0, 0);
            expectClose(e.best, pt.first + pt.second, "trace from " + std::to_string(i) + "," + std::to_string(j));
          }
      sumAllPaths(table, nullptr, [&](const SumRow& row) {
        for (size_t j = 0; j <= nT; ++j) {
          const auto cell = cellOf(row.i, j);
          for (int s = 0; s < 3; ++s) {
            const Enumerated e = enumerate(ref, c.S, c.T, cell.first, cell.second, s, towardsSink);
            const bool origin = row.i == 0 && j == 0;
            if (origin) continue;  // the start cell: 0 in M, nothing else arrives
            expectClose(e.sum, row.sum[s][j],
                        std::string("sum ") + (towardsSink ? "sink " : "start ") + std::to_string(cell.first) + "," +
                            std::to_string(cell.second));
          }
        }
      });
    }
  }
}

// Equal totals keep the earlier predecessor: M before D before I.
TEST(Kernels, TiesGoToTheEarlierState) {
  TraceCodes codes;
  fillBestPath(machine("W", "W").costs(), codes);
  EXPECT_EQ(codes.prev(1, 1, stateMatch), stateMatch);    // three equal candidates from (0, 0)
  EXPECT_EQ(codes.prev(1, 1, stateDelete), stateInsert);  // D at (1,1) only from I at (0,1)
  EXPECT_EQ(codes.prev(1, 1, stateInsert), stateDelete);
  EXPECT_EQ(codes.prev(0, 1, stateMatch), TRACE_NONE);
}

// The landscape of every cell of tiny pairs against all complete paths
// through the cell.
TEST(Machine, LandscapeOfEveryCellMatchesTheEnumeration) {
  std::mt19937 rng(4242);
  for (int trial = 0; trial < 12; ++trial) {
    std::string S = randomSeq(rng, 1 + static_cast<int>(rng() % 4)),
                T = randomSeq(rng, 1 + static_cast<int>(rng() % 4));
    SCOPED_TRACE(S + " / " + T);
    seqcorvane::AlignResult r;
    const std::vector<double> landscape = landscapeOf(S, T, r);
    ASSERT_EQ(landscape.size(), (S.size() + 1) * (T.size() + 1));
    const Reference ref(r.parameters.K);
    const double lengthCost = LN1000_ + wtCodeLen_nits(static_cast<int>(std::max(S.size(), T.size())));
    std::vector<double> all;
    for (const std::string& p : allPaths(S.size(), T.size())) {
      const auto pt = ref.parts(p, S, T, 0, 0);
      all.push_back(pt.first + pt.second);
    }
    expectClose(neglogSumOf(all) + lengthCost, r.search.msgLen, "marginal");
    for (size_t i = 0; i <= S.size(); ++i)
      for (size_t j = 0; j <= T.size(); ++j) {
        std::vector<double> through;
        for (const std::string& p : allPaths(S.size(), T.size())) {
          size_t a = 0, b = 0;
          bool passes = (i == 0 && j == 0);
          for (char c : p) {
            a += c != 'i';
            b += c != 'd';
            passes |= (a == i && b == j);
          }
          if (!passes) continue;
          const auto pt = ref.parts(p, S, T, 0, 0);
          through.push_back(pt.first + pt.second);
        }
        expectClose(neglogSumOf(through) + lengthCost, landscape[i * (T.size() + 1) + j],
                    std::to_string(i) + "," + std::to_string(j));
      }
  }
}

namespace {

// The search rules applied to a table of the cost of every distance.
int bracketOverTable(const std::vector<double>& cost, bool scanWhenFlat, int noneK) {
  int lo = 1, hi = 1000, k1 = 251, k2 = 750, bestK = noneK;
  double best = INF;
  while (true) {
    const double f1 = cost[k1], f2 = cost[k2];
    if (scanWhenFlat && std::fabs(f2 - f1) < 0.3) {
      for (int k = lo; k <= hi; ++k)
        if (cost[k] < best) best = cost[k], bestK = k;
      return bestK;
    }
    if (f2 > f1) {
      if (best > f1) best = f1, bestK = k1;
      hi = k2;
    } else {
      if (best > f2) best = f2, bestK = k2;
      lo = k1;
    }
    if (std::abs(k2 - k1) <= 1 || lo >= hi) return bestK;
    k1 = static_cast<int>(std::lround(lo + (hi - lo) * 0.25));
    k2 = static_cast<int>(std::lround(hi - (hi - lo) * 0.25));
  }
}

}  // namespace

TEST(Machine, DistanceSearchesAgreeWithTheirRulesOverEveryDistance) {
  std::mt19937 rng(99);
  for (int trial = 0; trial < 3; ++trial) {
    auto st = relatedPair(rng, 6 + static_cast<int>(rng() % 10));
    std::string S = st.first, T = st.second;
    SCOPED_TRACE(S + " / " + T);
    // The distance of an alignment (with the scan once the curve is flat).
    const threeStateDPAClass_t m = machine(S, T);
    const std::string fsa = traceback(m, fillDPMatrices(m)).fsastr;
    std::vector<double> alignmentCost(1001), marginalCost(1001);
    for (int k = 1; k <= 1000; ++k) {
      alignmentCost[k] = evalNegLogMatches_fullAlignment(m, fsa, k);
      marginalCost[k] = computeTotalProbOfST(atDistance(m, k));
    }
    EXPECT_EQ(estimateSubmatParam(m, fsa), bracketOverTable(alignmentCost, true, -1));
    // The marginal search (no scan), with the landscape and without.
    seqcorvane::AlignResult r;
    landscapeOf(S, T, r);
    EXPECT_EQ(r.search.K, bracketOverTable(marginalCost, false, 1));
    EXPECT_EQ(r.search.msgLen, marginalCost[r.search.K]);
    // Without the landscape the search's fast cost stands where it prints the
    // same bytes: within the fast pass's margin of the exact one.
    const MarginalSearchOutcome plain = searchMarginalDistance(machine(S, T), r.nullMsgLen);
    EXPECT_EQ(plain.machine.K(), r.search.K);
    EXPECT_NEAR(plain.msgLen, r.search.msgLen, 2e-12 * r.search.msgLen + 1e-9);
    StatePlanes sinkSums;
    EXPECT_NEAR(computeTotalProbOfST_2sink(plain.machine, sinkSums), r.search.msgLen, 1e-9);
  }
}

TEST(Machine, EMEndsOnAFixedPointItsLengthRescores) {
  std::mt19937 rng(99);
  for (int trial = 0; trial < 4; ++trial) {
    auto st = relatedPair(rng, 20 + 30 * trial);
    std::string S = st.first, T = st.second;
    const OptimalAlignment o = EM(machine(S, T));
    const std::string& fsa = o.fsastr;
    EXPECT_EQ(std::count(fsa.begin(), fsa.end(), 'm') + std::count(fsa.begin(), fsa.end(), 'd'),
              static_cast<long>(S.size()));
    const Reference ref(o.machine.K());
    const auto pt = ref.parts(fsa, S, T, 0, 0);
    EXPECT_NEAR(o.msgLen, LN1000_ + wtCodeLen_nits(static_cast<int>(fsa.size())) + pt.first + pt.second, 1e-9);
    // Estimating from the final alignment and aligning again reproduces it.
    const threeStateDPAClass_t at = estimateParams(o.machine, fsa);
    EXPECT_EQ(at.K(), o.machine.K());
    const TracedPath again = traceback(at, fillDPMatrices(at));
    EXPECT_EQ(again.msgLen, o.msgLen);
    EXPECT_EQ(again.fsastr, fsa);
  }
}

TEST(Machine, GivenAlignmentSplitsIntoPathAndSequences) {
  std::string S = "HEAGAWGHEE", T = "PAWHEAE";
  std::vector<std::string> rows = {"HEAGAWGHE-E", "--P-AW-HEAE"};
  std::string fsa = algn2Fsastr(rows);
  const threeStateDPAClass_t m = machine(S, T);
  const seqcorvane::ScoreResult score = scoreGiven(m, fsa, 0);
  EXPECT_EQ(score.parameters.K, estimateSubmatParam(m, fsa));
  EXPECT_NEAR(score.msgLen, evalNegLogMatches_fullAlignment(m, fsa, score.parameters.K), 1e-9);
  const Reference ref(score.parameters.K);
  const auto pt = ref.parts(fsa, S, T, 0, 0);
  EXPECT_NEAR(score.pathMsgLen, LN1000_ + wtCodeLen_nits(static_cast<int>(fsa.size())) + pt.first, 1e-9);
  EXPECT_NEAR(score.residuesMsgLen, pt.second, 1e-9);
  // The library's call on the rows gives the same, and refuses rows that are no alignment.
  const seqcorvane::ScoreResult viaRows = seqcorvane::scoreAlignment(rows[0], rows[1], testutil::models());
  EXPECT_EQ(viaRows.msgLen, score.msgLen);
  EXPECT_THROW(seqcorvane::scoreAlignment("AC-", "A--", testutil::models()), seqcorvane::Error);
  EXPECT_THROW(seqcorvane::scoreAlignment("ACD", "AC", testutil::models()), seqcorvane::Error);
  EXPECT_THROW(seqcorvane::scoreAlignment("AXD", "ACD", testutil::models()), seqcorvane::Error);
}

namespace {
struct CheckFailure {
  std::string message;
};
[[noreturn]] void throwCheck(const std::string& message) { throw CheckFailure{message}; }
}  // namespace

// A trace that meets a code saying no path arrives is a broken invariant.
TEST(Machine, TraceFromACellNoPathReachesIsABrokenInvariant) {
  const threeStateDPAClass_t m = machine("ACD", "ACD");
  const BestPathFill fill = fillDPMatrices(m, true);
  const seqcorvane::CheckHandler before = seqcorvane::setCheckHandler(throwCheck);
  try {
    traceback(fill, 0, 2, stateMatch);
    ADD_FAILURE() << "no failure";
  } catch (const CheckFailure& e) {
    EXPECT_NE(e.message.find("w.complete"), std::string::npos) << e.message;
  }
  seqcorvane::setCheckHandler(before);
}

// The best alignment through a cell is a complete path through it, costed
// as reported, never below the landscape; the corners have one way through
// and the end cell gives the optimal alignment of the same fill.
TEST(Machine, AlignmentsThroughCells) {
  std::mt19937 rng(77);
  auto st = relatedPair(rng, 25);
  const std::string S = st.first, T = st.second;
  const int n = static_cast<int>(S.size()), t = static_cast<int>(T.size());
  seqcorvane::AlignResult r;
  const std::vector<double> landscape = landscapeOf(S, T, r);
  const seqcorvane::CellPaths paths({"s", S}, {"t", T}, testutil::models(), r.parameters.K);
  // The same fills by hand, for the paths to the corners.
  const threeStateDPAClass_t m = machine(S, T, r.parameters.K);
  const Reference ref(r.parameters.K);
  auto lengthOf = [&](const std::string& fsa) {
    const auto pt = ref.parts(fsa, S, T, 0, 0);
    return LN1000_ + wtCodeLen_nits(static_cast<int>(fsa.size())) + pt.first + pt.second;
  };
  for (int trial = 0; trial < 25; ++trial) {
    const size_t i = rng() % (n + 1), j = rng() % (t + 1);
    const seqcorvane::CellPaths::Through best = paths.best(i, j);
    SCOPED_TRACE(std::to_string(i) + "," + std::to_string(j) + " " + best.path);
    EXPECT_NEAR(best.msgLen, lengthOf(best.path), 1e-9);
    size_t a = 0, b = 0;
    bool through = (i == 0 && j == 0);
    for (char x : best.path) {
      a += x != 'i';
      b += x != 'd';
      through |= (a == i && b == j);
    }
    EXPECT_TRUE(through);
    EXPECT_LE(landscape[i * (T.size() + 1) + j], best.msgLen + 1e-9);
  }
  EXPECT_EQ(paths.best(0, t).path, std::string(t, 'i') + std::string(n, 'd'));
  EXPECT_EQ(paths.best(n, 0).path, std::string(n, 'd') + std::string(t, 'i'));
  const TracedPath endPath = traceback(m, fillDPMatrices(m)), originPath = traceforward(m, fillDPMatrices_cell2sink(m));
  const std::string &end = endPath.fsastr, &origin = originPath.fsastr;
  const double endLen = endPath.msgLen, originLen = originPath.msgLen;
  EXPECT_EQ(paths.best(n, t).path, end);
  EXPECT_EQ(paths.best(n, t).msgLen, endLen);
  EXPECT_NEAR(lengthOf(end), endLen, 1e-9);
  EXPECT_EQ(paths.best(0, 0).path, origin);
  EXPECT_NEAR(originLen, endLen, 1e-9);
  EXPECT_THROW(paths.best(n + 1, 0), seqcorvane::Error);
}
