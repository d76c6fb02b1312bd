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

#include "check.h"
#include "dpPosteriors.h"
#include "logSpace.h"
#include "paths.h"
#include "testUtil.h"
#include "threeStateDPAClass.h"

namespace {

constexpr double LN3_ = 1.0986122886681098;
constexpr double LN1000_ = 6.907755278982137;
const double INF = std::numeric_limits<double>::infinity();
const std::string RESIDUES = "ACDEFGHIKLMNPQRSTVWY";

const seqcorvane::Models::Data& models() { return testutil::models().data(); }

std::string randomSeq(std::mt19937& rng, int len) {
  std::string s;
  for (int k = 0; k < len; ++k) s.push_back(RESIDUES[rng() % 20]);
  return s;
}

// A related pair: T is S with point substitutions and a few indels.
std::pair<std::string, std::string> relatedPair(std::mt19937& rng, int len) {
  std::string S = randomSeq(rng, len), T;
  std::uniform_real_distribution<double> u(0, 1);
  for (char c : S) {
    const double r = u(rng);
    if (r < 0.05) continue;
    if (r < 0.10) T += randomSeq(rng, 1 + static_cast<int>(rng() % 3));
    T.push_back(u(rng) < 0.3 ? RESIDUES[rng() % 20] : c);
  }
  if (T.empty()) T = "A";
  return {S, T};
}

threeStateDPAClass_t machine(const std::string& S, const std::string& T) {
  return threeStateDPAClass_t(S, T, models());
}

// The landscape of a marginal run, row-major, and its result.
std::vector<double> landscapeOf(const std::string& S, const std::string& T, seqcorvane::AlignResult& r) {
  std::vector<double> values;
  seqcorvane::AlignConfig config;
  config.criterion = seqcorvane::Criterion::marginal;
  r = seqcorvane::align({"s", S}, {"t", T}, testutil::models(), config, [&](const seqcorvane::LandscapeRow& row) {
    EXPECT_EQ(row.i * (T.size() + 1), values.size());
    values.insert(values.end(), row.values, row.values + row.size);
  });
  return values;
}

// Costs straight from the models at distance K, written from the model's
// definition and independent of the machine's tables.
struct Reference {
  SubmatClass_t pam;
  std::map<char, double> trans[3];  // [from state][to letter M/D/I]
  explicit Reference(int K) : pam(K, testutil::dataDir()) {
    const std::vector<double> m = pam.getDirichlet("match").getMode(), g = pam.getDirichlet("insert").getMode();
    const double p[3][3] = {{m[0], (1 - m[0]) / 2, (1 - m[0]) / 2},   // from M to M, D, I
                            {g[1], g[0], 1 - g[0] - g[1]},           // from D
                            {g[1], 1 - g[0] - g[1], g[0]}};          // from I
    for (int x = 0; x < 3; ++x)
      for (int y = 0; y < 3; ++y) trans[x]["MDI"[y]] = -std::log(p[x][y]);
  }
  static double pn(char c) { return models().nullMdl.pr(std::string(1, c)); }
  double gap(char c) const { return -std::log(pn(c)); }
  double match(char a, char b) const { return -std::log(0.5 * (pn(a) * pam.pr(b, a) + pn(b) * pam.pr(a, b))); }
  double t(char from, char to) const { return trans[std::string("mdi").find(from)].at(static_cast<char>(std::toupper(to))); }

  // The parts of a path of states from (i, j): its emissions, the transitions
  // between its columns, and ln 3 for the one end column it is charged
  // (the first towards the start, the last towards the sink).
  std::pair<double, double> parts(const std::string& path, const std::string& S, const std::string& T, size_t i,
                                  size_t j) const {
    double tr = path.empty() ? 0 : LN3_, em = 0;
    for (size_t l = 0; l < path.size(); ++l) {
      const char c = path[l];
      em += c == 'm' ? match(S[i], T[j]) : c == 'd' ? gap(S[i]) : gap(T[j]);
      i += c != 'i';
      j += c != 'd';
      if (l > 0) tr += t(path[l - 1], c);
    }
    return {tr, em};
  }
};

// Every path of states over i residues of S and j of T.
const std::vector<std::string>& allPaths(size_t i, size_t j) {
  static std::map<std::pair<size_t, size_t>, std::vector<std::string>> memo;
  auto key = std::make_pair(i, j);
  auto it = memo.find(key);
  if (it != memo.end()) return it->second;
  std::vector<std::string> v;
  if (i == 0 && j == 0) v.push_back("");
  if (i > 0 && j > 0)
    for (const std::string& p : allPaths(i - 1, j - 1)) v.push_back(p + 'm');
  if (i > 0)
    for (const std::string& p : allPaths(i - 1, j)) v.push_back(p + 'd');
  if (j > 0)
    for (const std::string& p : allPaths(i, j - 1)) v.push_back(p + 'i');
  return memo[key] = v;
}

// -ln of a sum of e^-x, in long double.
double neglogSumOf(const std::vector<double>& x) {
  if (x.empty()) return INF;
  const double m = *std::min_element(x.begin(), x.end());
  long double s = 0;
  for (double v : x) s += std::exp(static_cast<long double>(m - v));
  return static_cast<double>(m - std::log(s));
}

// The best path and the sum over paths of one cell and state, by enumeration.
struct Enumerated {
  double best = INF, sum = INF;
};

// Towards the start: the paths from (0, 0) to (i, j) whose last column is in
// `state`. Towards the sink: those from (i, j) to the end whose first column is.
Enumerated enumerate(const Reference& ref, const std::string& S, const std::string& T, size_t i, size_t j, int state,
                     bool towardsSink) {
  const char letter = "mdi"[state];
  std::vector<double> totals;
  const auto& paths = towardsSink ? allPaths(S.size() - i, T.size() - j) : allPaths(i, j);
  for (const std::string& p : paths) {
    if (p.empty() || (towardsSink ? p.front() : p.back()) != letter) continue;
    const auto pt = towardsSink ? ref.parts(p, S, T, i, j) : ref.parts(p, S, T, 0, 0);
    totals.push_back(pt.first + pt.second);
  }
  Enumerated e;
  if (!totals.empty()) e.best = *std::min_element(totals.begin(), totals.end());
  e.sum = neglogSumOf(totals);
  return e;
}

void expectClose(double expected, double actual, const std::string& where) {
  if (std::isinf(expected)) {
    EXPECT_TRUE(std::isinf(actual) && actual > 0) << where << ": " << actual;
  } else {
    EXPECT_NEAR(actual, expected, 1e-12 * std::max(1.0, std::fabs(expected))) << where;
  }
}

// A tiny pair and its machine parameters at a random distance.
struct TinyCase {
  std::string S, T;
  int K;
  CostTable costs;
};
TinyCase tinyCase(std::mt19937& rng) {
  TinyCase c;
  c.S = randomSeq(rng, 1 + static_cast<int>(rng() % 4));
  c.T = randomSeq(rng, 1 + static_cast<int>(rng() % 4));
  c.K = 1 + static_cast<int>(rng() % 1000);
  threeStateDPAClass_t m = machine(c.S, c.T);
  m.computeTotalProbOfST(c.K);  // sets the parameters for K
  c.costs = m.costs();
  return c;
}

}  // namespace

TEST(LogSpace, SumsAndMinimumFinders) {
  const double x = 3.25;
  EXPECT_EQ(findNeglogSum({x}), x);
  EXPECT_NEAR(findNeglogSum({x, x}), x - std::log(2.0), 1e-15);
  EXPECT_EQ(findNeglogSum({5, INF, INF}), 5.0);
  EXPECT_EQ(findNeglogSum({1000, 1010}), 1000 - std::log1p(std::exp(-10.0)));
  EXPECT_EQ(findNeglogSum({INF, INF}), INF);
  std::mt19937 rng(7);
  for (int k = 0; k < 200; ++k) {
    std::vector<double> v{rng() % 50 / 3.0, rng() % 50 / 7.0, rng() % 2 ? INF : rng() % 50 / 11.0};
    const std::vector<double> before = v;
    EXPECT_EQ(neglogSum3(v[0], v[1], v[2]), findNeglogSum(v));
    EXPECT_EQ(findNeglogSum(std::array<double, 3>{v[0], v[1], v[2]}), findNeglogSum(v));
    EXPECT_EQ(v, before);
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
            const std::string where = std::string(towardsSink ? "sink " : "start ") + std::to_string(cell.first) +
                                      "," + std::to_string(cell.second) + " state " + std::to_string(s);
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
            const auto pt = towardsSink ? ref.parts(path, c.S, c.T, cell.first, cell.second) : ref.parts(path, c.S, c.T, 0, 0);
            expectClose(e.best, pt.first + pt.second, "trace from " + std::to_string(i) + "," + std::to_string(j));
          }
      sumAllPaths(table, nullptr, [&](const SumRow& row) {
        for (size_t j = 0; j <= nT; ++j) {
          const auto cell = cellOf(row.i, j);
          for (int s = 0; s < 3; ++s) {
            const Enumerated e = enumerate(ref, c.S, c.T, cell.first, cell.second, s, towardsSink);
            const bool origin = row.i == 0 && j == 0;
            if (origin) continue;  // the start cell: 0 in M, nothing else arrives
            expectClose(e.sum, row.sum[s][j], std::string("sum ") + (towardsSink ? "sink " : "start ") +
                                                  std::to_string(cell.first) + "," + std::to_string(cell.second));
          }
        }
      });
    }
  }
}

// Equal totals keep the earlier predecessor: M before D before I.
TEST(Kernels, TiesGoToTheEarlierState) {
  threeStateDPAClass_t m = machine("W", "W");
  TraceCodes codes;
  fillBestPath(m.costs(), codes);
  EXPECT_EQ(codes.prev(1, 1, STATE_M), STATE_M);  // three equal candidates from (0, 0)
  EXPECT_EQ(codes.prev(1, 1, STATE_D), STATE_I);  // D at (1,1) only from I at (0,1)
  EXPECT_EQ(codes.prev(1, 1, STATE_I), STATE_D);
  EXPECT_EQ(codes.prev(0, 1, STATE_M), TRACE_NONE);
}

// The landscape of every cell of tiny pairs against all complete paths
// through the cell.
TEST(Machine, LandscapeOfEveryCellMatchesTheEnumeration) {
  std::mt19937 rng(4242);
  for (int trial = 0; trial < 12; ++trial) {
    std::string S = randomSeq(rng, 1 + static_cast<int>(rng() % 4)), T = randomSeq(rng, 1 + static_cast<int>(rng() % 4));
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
    expectClose(neglogSumOf(all) + lengthCost, r.marginalMsgLen, "marginal");
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
    threeStateDPAClass_t m = machine(S, T);
    m.fillDPMatrices();
    std::string fsa;
    m.traceback(fsa, -1, -1, -1);
    std::vector<double> alignmentCost(1001), marginalCost(1001);
    for (int k = 1; k <= 1000; ++k) {
      alignmentCost[k] = m.evalNegLogMatches_fullAlignment(fsa, k);
      marginalCost[k] = m.computeTotalProbOfST(k);
    }
    m.estimateSubmatParam(fsa);
    EXPECT_EQ(m.getSubmatK(), bracketOverTable(alignmentCost, true, -1));
    // The marginal search (no scan), with the landscape and without.
    seqcorvane::AlignResult r;
    landscapeOf(S, T, r);
    EXPECT_EQ(r.marginalK, bracketOverTable(marginalCost, false, 1));
    EXPECT_EQ(r.marginalMsgLen, marginalCost[r.marginalK]);
    threeStateDPAClass_t plain = machine(S, T);
    EXPECT_EQ(plain.searchMarginalDistance(nullptr), r.marginalK);
    EXPECT_EQ(plain.getMarginalProbMsgLen(), r.marginalMsgLen);
    plain.computeTotalProbOfST_2sink();
    EXPECT_NEAR(plain.getMarginalProbMsgLen_2sink(), r.marginalMsgLen, 1e-9);
  }
}

TEST(Machine, EMEndsOnAFixedPointItsLengthRescores) {
  std::mt19937 rng(99);
  for (int trial = 0; trial < 4; ++trial) {
    auto st = relatedPair(rng, 20 + 30 * trial);
    std::string S = st.first, T = st.second;
    threeStateDPAClass_t m = machine(S, T);
    m.EM();
    const std::string fsa = m.getOptAlignFSAstr();
    EXPECT_EQ(std::count(fsa.begin(), fsa.end(), 'm') + std::count(fsa.begin(), fsa.end(), 'd'),
              static_cast<long>(S.size()));
    const Reference ref(m.getSubmatK());
    const auto pt = ref.parts(fsa, S, T, 0, 0);
    EXPECT_NEAR(m.getOptAlignMsgLen(), LN1000_ + wtCodeLen_nits(static_cast<int>(fsa.size())) + pt.first + pt.second,
                1e-9);
    // Estimating from the final alignment and aligning again reproduces it.
    m.estimateParams(fsa);
    m.fillDPMatrices();
    std::string again;
    EXPECT_EQ(m.traceback(again, -1, -1, -1), m.getOptAlignMsgLen());
    EXPECT_EQ(again, fsa);
  }
}

TEST(Machine, GivenAlignmentSplitsIntoPathAndSequences) {
  std::string S = "HEAGAWGHEE", T = "PAWHEAE";
  std::vector<std::string> rows = {"HEAGAWGHE-E", "--P-AW-HEAE"};
  std::string fsa = algn2Fsastr(rows);
  threeStateDPAClass_t m = machine(S, T);
  const seqcorvane::ScoreResult score = m.scoreGiven(fsa);
  EXPECT_EQ(score.parameters.K, m.getSubmatK());
  EXPECT_NEAR(score.msgLen, m.evalNegLogMatches_fullAlignment(fsa, m.getSubmatK()), 1e-9);
  const Reference ref(m.getSubmatK());
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

TEST(Machine, TraceFromACellNoPathReachesIsReportedAsAFailure) {
  threeStateDPAClass_t m = machine("ACD", "ACD");
  m.keepCellTotals(true);
  m.fillDPMatrices();
  std::string f;
  try {
    m.traceback(f, 0, 2, STATE_M);
    ADD_FAILURE() << "no failure";
  } catch (const seqcorvane::CorruptPathError& e) {
    EXPECT_NE(std::string(e.what()).find("without predecessor"), std::string::npos) << e.what();
    EXPECT_EQ(e.letters, "m");
  }
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
  threeStateDPAClass_t m = machine(S, T);
  m.setDistance(r.parameters.K);
  m.estimateParams("");
  m.fillDPMatrices();
  m.fillDPMatrices_cell2sink();
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
  std::string end, origin;
  const double endLen = m.traceback(end, -1, -1, -1), originLen = m.traceforward(origin, -1, -1, -1);
  EXPECT_EQ(paths.best(n, t).path, end);
  EXPECT_EQ(paths.best(n, t).msgLen, endLen);
  EXPECT_NEAR(lengthOf(end), endLen, 1e-9);
  EXPECT_EQ(paths.best(0, 0).path, origin);
  EXPECT_NEAR(originLen, endLen, 1e-9);
  EXPECT_THROW(paths.best(n + 1, 0), seqcorvane::Error);
}

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
    std::vector<double> pathPairs;
    const Posteriors p = computePosteriors(c.costs, true, &first, &pathPairs);
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
