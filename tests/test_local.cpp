// The local hypothesis against the enumeration of every local path of tiny
// pairs: a region that begins with a match at any cell, runs through the
// machine's states and ends after a match, the residues outside it under the
// null model. Its prior over regions and paths sums to at most 1; the summed
// passes (log and probability space), the best path and the posteriors agree
// with the enumeration, cell by cell.
#include <gtest/gtest.h>

#include <functional>
#include <random>

#include "dpKernels.h"
#include "dpPosteriors.h"
#include "fastSums.h"
#include "naiveReference.h"

using namespace naive;

namespace {

constexpr double END_PROBABILITY = 0.01;

struct LocalPath {
  size_t i0, j0;     // the residues before the region
  std::string path;  // the region's columns, first and last 'm'
  double cost;       // log-odds against the null: transitions, matches, the end (the begin is free)
  double prior;      // the probability of the region's first cell's choice excluded
};

// Every local path of S and T: a first match at (i0 + 1, j0 + 1), then
// columns within the grid, ending after a match. Costs straight from the
// reference's definitions, in log-odds against the null model.
std::vector<LocalPath> allLocalPaths(const Reference& ref, const std::string& S, const std::string& T) {
  std::vector<LocalPath> out;
  const double stay = -std::log1p(-END_PROBABILITY), end = -std::log(END_PROBABILITY);
  std::function<void(LocalPath, size_t, size_t)> extend = [&](LocalPath p, size_t i, size_t j) {
    const char last = p.path.back();
    if (last == 'm') {
      LocalPath ended = p;
      ended.cost += end;
      ended.prior *= END_PROBABILITY;
      out.push_back(ended);
    }
    for (char next : std::string("mdi")) {
      const size_t ni = i + (next != 'i'), nj = j + (next != 'd');
      if (ni > S.size() || nj > T.size()) continue;
      LocalPath q = p;
      double step = ref.t(last, next);
      if (last == 'm') step += stay;
      q.cost += step;
      q.prior *= std::exp(-step);
      if (next == 'm') q.cost += ref.match(S[ni - 1], T[nj - 1]) - ref.gap(S[ni - 1]) - ref.gap(T[nj - 1]);
      q.path += next;
      extend(q, ni, nj);
    }
  };
  for (size_t i0 = 0; i0 < S.size(); ++i0)
    for (size_t j0 = 0; j0 < T.size(); ++j0) {
      LocalPath p{i0, j0, "m", ref.match(S[i0], T[j0]) - ref.gap(S[i0]) - ref.gap(T[j0]), 1.0};
      extend(p, i0 + 1, j0 + 1);
    }
  return out;
}

CostTable localTable(const TinyCase& tiny) {
  CostTable c = tiny.costs;
  makeLocal(c, END_PROBABILITY);
  return c;
}

}  // namespace

// The region's first cell uniform over the grid, then the machine's path
// with an end after each match at END_PROBABILITY: the prior of every local
// path of given lengths sums to at most 1.
TEST(Local, PriorOverRegionsAndPathsSumsToAtMostOne) {
  for (int K : {5, 250, 900}) {
    const Reference ref(K);
    for (size_t n = 1; n <= 5; ++n)
      for (size_t m = 1; m <= 5; ++m) {
        const std::string S(n, 'A'), T(m, 'C');
        double total = 0;
        for (const LocalPath& p : allLocalPaths(ref, S, T)) total += p.prior / static_cast<double>(n * m);
        EXPECT_LE(total, 1.0 + 1e-12) << n << " x " << m << " K=" << K;
        EXPECT_GT(total, 0.0);
      }
  }
}

// Both summed passes, the best path and its trace, and the posteriors of
// every pair, against the enumeration of every local path of tiny pairs.
TEST(Local, PassesAndPosteriorsMatchTheEnumerationOfEveryLocalPath) {
  const unsigned seed = 20261208;
  std::mt19937 rng(seed);
  for (int trial = 0; trial < 30; ++trial) {
    const TinyCase tiny = tinyCase(rng);
    const Reference ref(tiny.K);
    const std::string &S = tiny.S, &T = tiny.T;
    SCOPED_TRACE("seed " + std::to_string(seed) + " trial " + std::to_string(trial) + ": " + S + " / " + T +
                 " K=" + std::to_string(tiny.K));
    const CostTable c = localTable(tiny);
    const std::vector<LocalPath> paths = allLocalPaths(ref, S, T);
    std::vector<double> costs;
    double best = INF;
    for (const LocalPath& p : paths) costs.push_back(p.cost), best = std::min(best, p.cost);
    const double all = neglogSumOf(costs);

    // Summed in log space and in probability space; towards the sink too.
    expectClose(all, sumAllPaths(c)[0], "log-space sum");
    EXPECT_NEAR(sumAllPathsFast(c), all, 1e-9 * std::max(1.0, std::fabs(all)));
    expectClose(all, sumAllPaths(reversedForSink(c))[0], "sum to the sink");

    // The best path: its end, and the walk back to its begin re-scored.
    TraceCodes codes;
    LocalEnd end;
    fillBestPath(c, codes, nullptr, {}, &end);
    expectClose(best, end.cost.total + c.endCost, "best local path");
    const TraceWalk w = walkLocalTrace(codes, static_cast<long>(end.i), static_cast<long>(end.j));
    ASSERT_TRUE(w.complete);
    const std::string region(w.letters.rbegin(), w.letters.rend());
    bool found = false;
    for (const LocalPath& p : paths)
      if (p.i0 == static_cast<size_t>(w.i) && p.j0 == static_cast<size_t>(w.j) && p.path == region) {
        expectClose(best, p.cost, "the traced path's cost");
        found = true;
      }
    EXPECT_TRUE(found) << region;

    // The posterior of every pair, and of every residue being unpaired.
    std::vector<std::vector<double>> pair(S.size() + 1, std::vector<double>(T.size() + 1, 0.0));
    for (const LocalPath& p : paths) {
      size_t i = p.i0, j = p.j0;
      for (char x : p.path) {
        i += x != 'i';
        j += x != 'd';
        if (x == 'm') pair[i][j] += std::exp(all - p.cost);
      }
    }
    for (const Posteriors& post : {computePosteriors(c, true), computePosteriorsFast(c, true)}) {
      for (size_t i = 1; i <= S.size(); ++i) {
        double paired = 0;
        for (size_t j = 1; j <= T.size(); ++j) {
          EXPECT_NEAR(post.pairOf(i, j), pair[i][j], 1e-6) << i << "," << j;
          paired += pair[i][j];
        }
        EXPECT_NEAR(post.unpairedS[i - 1], 1 - paired, 1e-6) << i;
      }
    }
  }
}

namespace {

using seqcorvane::AlignConfig;
using seqcorvane::AlignResult;
using seqcorvane::Criterion;
using seqcorvane::Hypothesis;

// A local path's whole message: the null one's (the lengths and every
// residue), K, the region's first cell, then its log-odds cost.
double localMessage(const std::string& S, const std::string& T, double cost) {
  const seqcorvane::Models& m = testutil::models();
  return seqcorvane::nullMsgLen(S, m) + seqcorvane::nullMsgLen(T, m) + LN1000_ +
         std::log(static_cast<double>(S.size() * T.size())) + cost;
}

// The path of a local alignment with its flanks: S's then T's before the
// region, the same after it.
std::string withFlanks(const LocalPath& p, size_t nS, size_t nT) {
  size_t i = p.i0, j = p.j0;
  for (char x : p.path) i += x != 'i', j += x != 'd';
  return std::string(p.i0, 'd') + std::string(p.j0, 'i') + p.path + std::string(nS - i, 'd') + std::string(nT - j, 'i');
}

AlignResult run(const std::string& S, const std::string& T, Criterion c, Hypothesis h) {
  AlignConfig config;
  config.criterion = c;
  config.mode = h;
  return seqcorvane::align({"s", S}, {"t", T}, testutil::models(), config);
}

}  // namespace

// Each criterion and the scoring under the local hypothesis, through the
// public calls, against every local path enumerated at the distance each
// settles on; the automatic choice against the two hypotheses run alone.
TEST(Local, CriteriaAndScoringAgreeWithTheEnumeration) {
  const unsigned seed = 7;
  std::mt19937 rng(seed);
  for (int trial = 0; trial < 12; ++trial) {
    const std::string S = randomSeq(rng, 2 + static_cast<int>(rng() % 3));
    const std::string T = randomSeq(rng, 2 + static_cast<int>(rng() % 3));
    SCOPED_TRACE("seed " + std::to_string(seed) + " trial " + std::to_string(trial) + ": " + S + " / " + T);

    // The optimal criterion: the best local path at its distance, flanks and all.
    const AlignResult o = run(S, T, Criterion::optimal, Hypothesis::local);
    double best = INF;
    std::string bestPath;
    for (const LocalPath& p : allLocalPaths(Reference(o.parameters.K), S, T))
      if (p.cost < best) best = p.cost, bestPath = withFlanks(p, S.size(), T.size());
    expectClose(localMessage(S, T, best), o.alignmentMsgLen, "optimal local message");
    EXPECT_EQ(o.path, bestPath);
    EXPECT_EQ(o.hypothesis.sent, Hypothesis::local);

    // Scoring the same rows gives the message of their path at the distance estimated for it.
    const seqcorvane::ScoreResult s = seqcorvane::scoreAlignment(o.rowS, o.rowT, testutil::models(), Hypothesis::local);
    double scored = INF;
    for (const LocalPath& p : allLocalPaths(Reference(s.parameters.K), S, T))
      if (withFlanks(p, S.size(), T.size()) == o.path) scored = p.cost;
    expectClose(localMessage(S, T, scored), s.msgLen, "the scored local alignment");
    EXPECT_EQ(s.region.beginS, o.hypothesis.region.beginS);
    EXPECT_EQ(s.region.endT, o.hypothesis.region.endT);

    // The marginal criterion: every local path summed at its distance.
    const AlignResult g = run(S, T, Criterion::marginal, Hypothesis::local);
    std::vector<double> costs;
    for (const LocalPath& p : allLocalPaths(Reference(g.search.K), S, T)) costs.push_back(p.cost);
    expectClose(localMessage(S, T, neglogSumOf(costs)), g.search.msgLen, "summed local message");

    // The automatic choice: the shorter with ln 2, or both at half the prior each.
    const AlignResult og = run(S, T, Criterion::optimal, Hypothesis::global);
    const AlignResult oa = run(S, T, Criterion::optimal, Hypothesis::automatic);
    expectClose(std::min(og.alignmentMsgLen, o.alignmentMsgLen) + std::log(2.0), oa.alignmentMsgLen, "auto optimal");
    EXPECT_EQ(oa.path, o.alignmentMsgLen < og.alignmentMsgLen ? o.path : og.path);
    const AlignResult gg = run(S, T, Criterion::marginal, Hypothesis::global);
    const AlignResult ga = run(S, T, Criterion::marginal, Hypothesis::automatic);
    expectClose(std::log(2.0) + neglogSumOf({gg.search.msgLen, g.search.msgLen}), ga.search.msgLen, "auto marginal");
    EXPECT_NEAR(ga.hypothesis.localWeight, 1 / (1 + std::exp(g.search.msgLen - gg.search.msgLen)), 1e-12);
  }
}
