// The alignment machine checked against deliberately naive references: a
// full three-state DP and a forward sum written the obvious way, an
// independent re-scoring of every traced path, and the identities that tie the
// passes together (forward = to-sink, landscape ends = marginal, marginal <=
// optimal).
#include <gtest/gtest.h>

#include <cmath>
#include <iostream>
#include <random>
#include <sstream>

#include "misc.h"
#include "nullModelClass.h"
#include "SubmatClass.h"
#include "testUtil.h"
#include "threeStateDPAClass.h"

namespace {

constexpr double LN3 = 1.0986122886681098;
constexpr double LN1000 = 6.907755278982137;
const double INF = std::numeric_limits<double>::infinity();
const std::string RESIDUES = "ACDEFGHIKLMNPQRSTVWY";

struct Models {
  nullModelClass_t nullMdl{"0"};
  SubmatClass_t pam{250};
};

Models& models() {
  static Models m;
  return m;
}

std::string randomSeq(std::mt19937& rng, int len) {
  std::uniform_int_distribution<int> pick(0, 19);
  std::string s;
  for (int k = 0; k < len; ++k) s.push_back(RESIDUES[pick(rng)]);
  return s;
}

// A related pair: T is S with point substitutions and a few indels.
std::pair<std::string, std::string> relatedPair(std::mt19937& rng, int len) {
  std::string S = randomSeq(rng, len), T;
  std::uniform_real_distribution<double> u(0, 1);
  for (char c : S) {
    double r = u(rng);
    if (r < 0.05) continue;                               // deletion
    if (r < 0.10) T += randomSeq(rng, 1 + (rng() % 3));  // insertion
    T.push_back(u(rng) < 0.3 ? RESIDUES[rng() % 20] : c);
  }
  if (T.empty()) T = "A";
  return {S, T};
}

// A machine that runs nothing in its constructor (unknown criterion).
threeStateDPAClass_t quietMachine(std::string& S, std::string& T, const std::string& criterion = "none") {
  std::string crit = criterion;
  threeStateDPAClass_t* m = nullptr;
  testutil::captureStdout([&] { m = new threeStateDPAClass_t(S, T, models().nullMdl, models().pam, crit, "unused"); });
  threeStateDPAClass_t copy = *m;
  delete m;
  return copy;
}

// Costs computed straight from the models, independent of the machine.
struct Costs {
  const std::map<std::string, double>& fsaPr;
  const SubmatClass_t& pam;
  double pn(char c) const { return models().nullMdl.pr(std::string(1, c)); }
  double gap(char c) const { return -std::log(pn(c)); }
  double match(char a, char b) const { return -std::log(0.5 * (pn(a) * pam.pr(b, a) + pn(b) * pam.pr(a, b))); }
  double trans(char x, char y) const { return -std::log(fsaPr.at(std::string{x, y})); }
};

// Message length of a path: ln 3 for its first state, transitions for the
// others, emissions of every column, plus the length and parameter costs.
double scorePath(const std::string& fsastr, const std::string& S, const std::string& T, const Costs& c,
                 double paramMsgLen) {
  double total = paramMsgLen + wtCodeLen_nits(static_cast<int>(fsastr.size()));
  size_t i = 0, j = 0;
  for (size_t l = 0; l < fsastr.size(); ++l) {
    char st = fsastr[l];
    if (st == 'm') total += c.match(S[i++], T[j++]);
    if (st == 'd') total += c.gap(S[i++]);
    if (st == 'i') total += c.gap(T[j++]);
    total += (l == 0) ? LN3 : c.trans(static_cast<char>(std::toupper(fsastr[l - 1])), static_cast<char>(std::toupper(st)));
  }
  EXPECT_EQ(i, S.size());
  EXPECT_EQ(j, T.size());
  return total;
}

// Naive three-state DP over (i, j, state, path length): the least cost of
// any path from the start to the end, without the length term.
double naiveOptimal(const std::string& S, const std::string& T, const Costs& c) {
  const size_t n = S.size(), m = T.size();
  // cost[L][s][i][j] would be exact but large; the length term depends only on
  // L, and L ranges over max(n,m)..n+m, so minimise per L.
  const size_t maxL = n + m;
  std::vector<double> best(maxL + 1, INF);
  // dp over (i, j, s, L)
  auto idx = [&](size_t i, size_t j, int s, size_t L) { return ((i * (m + 1) + j) * 3 + s) * (maxL + 1) + L; };
  std::vector<double> dp((n + 1) * (m + 1) * 3 * (maxL + 1), INF);
  const char L3[3] = {'M', 'D', 'I'};
  for (size_t i = 0; i <= n; ++i) {
    for (size_t j = 0; j <= m; ++j) {
      for (int s = 0; s < 3; ++s) {
        size_t pi = i, pj = j;
        double emit;
        if (s == 0) {
          if (i == 0 || j == 0) continue;
          pi--, pj--;
          emit = c.match(S[i - 1], T[j - 1]);
        } else if (s == 1) {
          if (i == 0) continue;
          pi--;
          emit = c.gap(S[i - 1]);
        } else {
          if (j == 0) continue;
          pj--;
          emit = c.gap(T[j - 1]);
        }
        for (size_t L = 1; L <= maxL; ++L) {
          double v = INF;
          if (pi == 0 && pj == 0) {
            if (L == 1) v = LN3 + emit;
          } else {
            for (int x = 0; x < 3; ++x) {
              double p = dp[idx(pi, pj, x, L - 1)];
              if (p < INF) v = std::min(v, p + c.trans(L3[x], L3[s]) + emit);
            }
          }
          dp[idx(i, j, s, L)] = v;
        }
      }
    }
  }
  double result = INF;
  for (size_t L = 1; L <= maxL; ++L)
    for (int s = 0; s < 3; ++s) {
      double v = dp[idx(n, m, s, L)];
      if (v < INF) result = std::min(result, v);
    }
  return result;
}

// Naive forward sum over all paths (probabilities in plain doubles: only for
// short sequences).
double naiveMarginal(const std::string& S, const std::string& T, const Costs& c) {
  const size_t n = S.size(), m = T.size();
  const char L3[3] = {'M', 'D', 'I'};
  std::vector<std::vector<std::array<double, 3>>> f(n + 1, std::vector<std::array<double, 3>>(m + 1, {0, 0, 0}));
  for (size_t i = 0; i <= n; ++i)
    for (size_t j = 0; j <= m; ++j)
      for (int s = 0; s < 3; ++s) {
        if ((s == 0 && (i == 0 || j == 0)) || (s == 1 && i == 0) || (s == 2 && j == 0)) continue;
        size_t pi = i - (s != 2), pj = j - (s != 1);
        double emit = std::exp(-(s == 0 ? c.match(S[i - 1], T[j - 1]) : s == 1 ? c.gap(S[i - 1]) : c.gap(T[j - 1])));
        double v = 0;
        if (pi == 0 && pj == 0)
          v = std::exp(-LN3) * emit;
        else
          for (int x = 0; x < 3; ++x) v += f[pi][pj][x] * std::exp(-c.trans(L3[x], L3[s])) * emit;
        f[i][j][s] = v;
      }
  double total = f[n][m][0] + f[n][m][1] + f[n][m][2];
  return -std::log(total) + LN1000 + wtCodeLen_nits(static_cast<int>(std::max(n, m)));
}

}  // namespace

TEST(LogSpace, NeglogSumExamples) {
  const double x = 3.25;
  EXPECT_EQ(findNeglogSum({x}), x);
  EXPECT_NEAR(findNeglogSum({x, x}), x - std::log(2.0), 1e-15);
  EXPECT_NEAR(findNeglogSum({0, 0, 0}), -std::log(3.0), 1e-15);
  EXPECT_EQ(findNeglogSum({5, INF, INF}), 5.0);
  EXPECT_EQ(findNeglogSum({1000, 1010}), 1000 - std::log1p(std::exp(-10.0)));
  EXPECT_EQ(findNeglogSum({1010, 1000}), findNeglogSum({1000, 1010}));
  EXPECT_EQ(findNeglogSum({INF, INF}), INF);
  // The fixed-size variant does exactly the same operations.
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> u(0, 50);
  for (int k = 0; k < 200; ++k) {
    std::array<double, 9> a;
    for (double& v : a) v = u(rng);
    std::vector<double> v(a.begin(), a.end());
    const std::vector<double> before = v;
    EXPECT_EQ(findNeglogSum(a), findNeglogSum(v));
    EXPECT_EQ(v, before);  // the caller's vector is untouched
  }
}

TEST(LogSpace, MinimumFindersBreakTiesToTheLowerIndex) {
  int pos = -1;
  EXPECT_EQ(findMinIvalue(2, 2, 1, pos), 1);
  EXPECT_EQ(pos, 2);
  EXPECT_EQ(findMinIvalue(2, 2, 2, pos), 2);
  EXPECT_EQ(pos, 0);
  EXPECT_EQ(findMinAndArgMinInArray({3, 1, 1, 2}, pos), 1);
  EXPECT_EQ(pos, 1);
  EXPECT_EQ(findMinInArray({4}), 4);

  std::vector<dpcell_t> cells(3);
  for (int k = 0; k < 3; ++k) {
    cells[k].totalMsgLen = 5;
    cells[k].nColumns = k;
  }
  EXPECT_EQ(findMin(cells).nColumns, 0);
  cells[1].totalMsgLen = cells[2].totalMsgLen = 4;
  EXPECT_EQ(findMin(cells).nColumns, 1);
  EXPECT_EXIT(findMinInArray({}), ::testing::ExitedWithCode(2), "array.size\\(\\) > 0");
}

TEST(Machine, InitialParametersComeFromThePriorModes) {
  std::string S = "ACDE", T = "ACE";
  threeStateDPAClass_t m = quietMachine(S, T);
  const auto& p = m.getFsaPr();
  ASSERT_EQ(p.size(), 9u);
  EXPECT_EQ(p.at("MI"), p.at("MD"));
  EXPECT_EQ(p.at("IM"), p.at("DM"));
  EXPECT_EQ(p.at("II"), p.at("DD"));
  EXPECT_EQ(p.at("ID"), p.at("DI"));
  EXPECT_EQ(p.at("MM"), models().pam.getDirichlet("match").getMode()[0]);
  EXPECT_EQ(m.getDPMatrices().size(), 3u);
  EXPECT_EQ(m.getDPMatrices()[0].size(), 5u);
  EXPECT_EQ(m.getDPMatrices()[0].nColumns(), 4u);
  EXPECT_TRUE(m.getDPMatricesCell2sink().empty());

  std::string out = testutil::captureStdout([&] { m.printParams(); });
  EXPECT_EQ(out.rfind("Inferred params (unbaised estimates over all alignments):\nSeqDist n = 250\nPr(DD) = ", 0), 0u)
      << out;
  // Keys in map order, values fixed with three decimals in a left-adjusted field of 6.
  std::vector<std::string> keys;
  std::istringstream in(out);
  std::string line;
  while (std::getline(in, line))
    if (line.rfind("Pr(", 0) == 0) keys.push_back(line.substr(3, 2));
  EXPECT_EQ(keys, (std::vector<std::string>{"DD", "DI", "DM", "ID", "II", "IM", "MD", "MI", "MM"}));
}

TEST(Machine, OneResidueEachTiesGoToMatch) {
  std::string S = "W", T = "W";
  threeStateDPAClass_t m = quietMachine(S, T);
  m.fillDPMatrices();
  const auto& M = m.getDPMatrices()[0];
  EXPECT_EQ(M[1][1].prevState, 0);
  EXPECT_EQ(m.getDPMatrices()[1][1][1].prevState, 2);  // D at (1,1) only from I at (0,1)
  EXPECT_EQ(m.getDPMatrices()[2][1][1].prevState, 1);  // I at (1,1) only from D at (1,0)
  std::string fsa;
  double L = m.traceback(fsa, -1, -1, -1);
  EXPECT_EQ(fsa, "m");
  EXPECT_EQ(L, m.getOptAlignMsgLen());
}

TEST(Machine, OptimalFillMatchesNaiveDPAndRescoring) {
  const unsigned seed = 20261207;
  std::mt19937 rng(seed);
  for (int trial = 0; trial < 40; ++trial) {
    SCOPED_TRACE("seed " + std::to_string(seed) + " trial " + std::to_string(trial));
    std::pair<std::string, std::string> st =
        trial % 2 ? relatedPair(rng, 1 + rng() % 12) : std::make_pair(randomSeq(rng, 1 + rng() % 9), randomSeq(rng, 1 + rng() % 9));
    std::string S = st.first, T = st.second;
    threeStateDPAClass_t m = quietMachine(S, T);
    m.fillDPMatrices();
    std::string fsa;
    const double L = m.traceback(fsa, -1, -1, -1);
    Costs c{m.getFsaPr(), models().pam};
    EXPECT_NEAR(L, m.getOptAlignMsgLen(), 1e-12);
    EXPECT_NEAR(L, scorePath(fsa, S, T, c, 0.0), 1e-9);
    EXPECT_EQ(static_cast<size_t>(std::count(fsa.begin(), fsa.end(), 'm') + std::count(fsa.begin(), fsa.end(), 'd')),
              S.size());
    // The fill minimises the path cost and then adds the length term of the
    // path it chose.
    EXPECT_NEAR(naiveOptimal(S, T, c), L - wtCodeLen_nits(static_cast<int>(fsa.size())), 1e-9);
  }
}

TEST(Machine, TraceFromACellNoPathReachesIsReportedAndFails) {
  std::string S = "ACD", T = "ACD";
  threeStateDPAClass_t m = quietMachine(S, T);
  m.fillDPMatrices();
  EXPECT_EXIT(
      {
        std::string f;
        m.traceback(f, 0, 2, 0);
      },
      ::testing::ExitedWithCode(1), "without predecessor");
}

TEST(Machine, EMEndsOnAFixedPointAlignment) {
  std::mt19937 rng(99);
  auto st = relatedPair(rng, 60);
  std::string S = st.first, T = st.second;
  threeStateDPAClass_t* m = nullptr;
  std::string out = testutil::captureStdout(
      [&] { m = new threeStateDPAClass_t(S, T, models().nullMdl, models().pam, "optimal", "unused"); });
  EXPECT_NE(out.find("EVALUATING OPTIMAL ALIGNMENT"), std::string::npos);
  EXPECT_NE(out.find("Inferred params (biased estimates for a single best alignment):"), std::string::npos);
  EXPECT_NE(out.find("nEquivalences = "), std::string::npos);
  const std::string fsa = m->getOptAlignFSAstr();
  const double L = m->getOptAlignMsgLen();
  // The reported length is the alignment's own length at its parameters.
  SubmatClass_t atK(m->getSubmatK());
  Costs ck{m->getFsaPr(), atK};
  EXPECT_NEAR(L, scorePath(fsa, S, T, ck, LN1000), 1e-9);
  // Estimating from the final alignment and aligning again reproduces it.
  testutil::captureStdout([&] {
    m->estimateParams(fsa);
    m->fillDPMatrices();
  });
  std::string again;
  m->traceback(again, -1, -1, -1);
  EXPECT_EQ(again, fsa);
  delete m;
}

TEST(Machine, DistanceSearchFollowsDivergence) {
  // Identical sequences aligned residue by residue are best explained at a
  // short distance; an unrelated pair at a long one.
  std::mt19937 rng(5);
  std::string S = randomSeq(rng, 150), T = S, fsa(150, 'm');
  threeStateDPAClass_t same = quietMachine(S, T);
  same.estimateParams(fsa);
  EXPECT_LT(same.getSubmatK(), 40);
  EXPECT_EQ(same.getParamMsgLen(), LN1000);
  std::string U = randomSeq(rng, 150);
  threeStateDPAClass_t apart = quietMachine(S, U);
  apart.estimateParams(fsa);
  EXPECT_GT(apart.getSubmatK(), 400);
  // The chosen distance is no worse than any probe it could have taken.
  std::vector<std::string> A;
  for (size_t k = 0; k < S.size(); ++k) A.push_back(std::string{S[k], U[k]});
  const double chosen = apart.evalNegLogMatches_fullAlignment(fsa, A, apart.getSubmatK());
  for (int k : {1, 251, 500, 750, 1000}) EXPECT_LE(chosen, apart.evalNegLogMatches_fullAlignment(fsa, A, k) + 1e-9);
  // An empty string changes nothing but the cost of stating K.
  const int K = apart.getSubmatK();
  apart.estimateParams("");
  EXPECT_EQ(apart.getSubmatK(), K);
}

TEST(Machine, GivenAlignmentSplitsIntoPathAndSequences) {
  std::string S = "HEAGAWGHEE", T = "PAWHEAE";
  std::vector<std::string> rows = {"HEAGAWGHE-E", "--P-AW-HEAE"};
  std::string fsa = algn2Fsastr(rows);
  threeStateDPAClass_t* m = nullptr;
  std::string out = testutil::captureStdout(
      [&] { m = new threeStateDPAClass_t(S, T, fsa, models().nullMdl, models().pam); });
  const size_t a = out.find("I(A)         = "), b = out.find("I(<S,T>|A)   = "), c = out.find("I(A,<S,T>)   = ");
  ASSERT_NE(a, std::string::npos);
  EXPECT_LT(a, b);
  EXPECT_LT(b, c);
  EXPECT_NE(out.find("Inferred params (unbaised estimates over all alignments):"), std::string::npos);
  std::vector<std::string> cols;
  for (size_t l = 0; l < fsa.size(); ++l) cols.push_back(std::string{rows[0][l], rows[1][l]});
  EXPECT_NEAR(m->getOptAlignMsgLen(), m->evalNegLogMatches_fullAlignment(fsa, cols, m->getSubmatK()), 1e-9);
  delete m;

  // One matched column: I(A) = ln 1000 + wtCodeLen(1) + ln 3.
  std::string s1 = "K", t1 = "R", f1 = "m";
  threeStateDPAClass_t* one = nullptr;
  testutil::captureStdout([&] { one = new threeStateDPAClass_t(s1, t1, f1, models().nullMdl, models().pam); });
  double IA = 0;
  testutil::captureStdout([&] { IA = one->fsa2IA(f1); });
  EXPECT_NEAR(IA, LN1000 + wtCodeLen_nits(1) + LN3, 1e-12);
  delete one;
}

TEST(Machine, ForwardSumMatchesNaiveAndToSinkPass) {
  std::mt19937 rng(321);
  for (int trial = 0; trial < 12; ++trial) {
    SCOPED_TRACE("trial " + std::to_string(trial));
    std::string S = randomSeq(rng, 1 + rng() % 8), T = randomSeq(rng, 1 + rng() % 8);
    threeStateDPAClass_t m = quietMachine(S, T);
    const int K = 1 + static_cast<int>(rng() % 1000);
    const double fwd = m.computeTotalProbOfST(K, false);
    SubmatClass_t atK(K);
    Costs ck{m.getFsaPr(), atK};
    EXPECT_NEAR(fwd, naiveMarginal(S, T, ck), 1e-9);
    m.computeTotalProbOfST_2sink(false);
    EXPECT_NEAR(m.getMarginalProbMsgLen_2sink(), fwd, 1e-9);
  }
  // |S| = |T| = 1: the forward values at (1, 1).
  std::string S = "A", T = "W";
  threeStateDPAClass_t m = quietMachine(S, T);
  m.computeTotalProbOfST(250, false);
  const auto& d = m.getDPMatrices();
  Costs c{m.getFsaPr(), models().pam};
  EXPECT_NEAR(d[0][1][1].fwdMsgLen, LN3 + c.match('A', 'W'), 1e-12);
  EXPECT_NEAR(d[1][1][1].fwdMsgLen, LN3 + c.gap('W') + c.trans('I', 'D') + c.gap('A'), 1e-12);
  EXPECT_NEAR(d[2][1][1].fwdMsgLen, LN3 + c.gap('A') + c.trans('D', 'I') + c.gap('W'), 1e-12);
}

TEST(Machine, MarginalNeverExceedsTheBestPath) {
  std::mt19937 rng(11);
  for (int trial = 0; trial < 10; ++trial) {
    auto st = relatedPair(rng, 5 + rng() % 30);
    std::string S = st.first, T = st.second;
    threeStateDPAClass_t m = quietMachine(S, T);
    m.computeTotalProbOfST(200, false);
    const auto& d = m.getDPMatrices();
    const size_t n = S.size(), t = T.size();
    const double marginalEnd = findNeglogSum({d[0][n][t].fwdMsgLen, d[1][n][t].fwdMsgLen, d[2][n][t].fwdMsgLen});
    m.fillDPMatrices();
    const double bestEnd = std::min({d[0][n][t].totalMsgLen, d[1][n][t].totalMsgLen, d[2][n][t].totalMsgLen});
    EXPECT_LE(marginalEnd, bestEnd + 1e-9);
  }
}

namespace {

// Runs the interactive criterion with the given answers on standard input.
threeStateDPAClass_t* interactiveMachine(std::string& S, std::string& T, const std::string& prefix,
                                         const std::string& answers, std::string* out = nullptr) {
  std::istringstream in(answers);
  std::streambuf* old = std::cin.rdbuf(in.rdbuf());
  threeStateDPAClass_t* m = nullptr;
  std::string printed = testutil::captureStdout(
      [&] { m = new threeStateDPAClass_t(S, T, models().nullMdl, models().pam, "marginal-interactive", prefix); });
  std::cin.rdbuf(old);
  std::cin.clear();
  if (out) *out = printed;
  return m;
}

double bitsAfter(const std::string& text, const std::string& label) {
  size_t p = text.find(label);
  EXPECT_NE(p, std::string::npos) << label;
  return std::stod(text.substr(p + label.size()));
}

}  // namespace

TEST(Machine, LandscapeAndAlignmentsThroughCells) {
  testutil::TempDir dir;
  std::mt19937 rng(77);
  auto st = relatedPair(rng, 25);
  std::string S = st.first, T = st.second;
  const int n = static_cast<int>(S.size()), t = static_cast<int>(T.size());
  std::string out;
  threeStateDPAClass_t* m = interactiveMachine(S, T, dir.file("land"), "4 4\n4\n", &out);
  EXPECT_NE(out.find("Cell (4,4) has been selected"), std::string::npos);

  const double marginal = m->getMarginalProbMsgLen();
  const auto& land = m->getLandscape();
  ASSERT_EQ(land.size(), static_cast<size_t>(n + 1));
  EXPECT_NEAR(land[0][0], marginal, 1e-9);
  EXPECT_NEAR(land[n][t], marginal, 1e-9);
  EXPECT_NEAR(m->getMarginalProbMsgLen_2sink(), marginal, 1e-9);
  EXPECT_NEAR(m->getOptAlignMsgLen_cell2sink(), m->getOptAlignMsgLen(), 1e-9);
  for (int i = 0; i <= n; ++i)
    for (int j = 0; j <= t; ++j) EXPECT_GE(land[i][j], marginal - 1e-9) << i << "," << j;

  // The files hold the landscape in bits with two decimals.
  std::istringstream csv(testutil::readFile(dir.file("land_MarginalProbabilityLandscape.csv")));
  std::string line;
  int rows = 0;
  while (std::getline(csv, line)) {
    EXPECT_EQ(std::count(line.begin(), line.end(), ','), t);
    ++rows;
  }
  EXPECT_EQ(rows, n + 1);

  SubmatClass_t atK(m->getSubmatK());
  Costs ck{m->getFsaPr(), atK};
  for (int trial = 0; trial < 25; ++trial) {
    const int i = static_cast<int>(rng() % (n + 1)), j = static_cast<int>(rng() % (t + 1));
    std::string fsa;
    std::string printed = testutil::captureStdout([&] { fsa = m->printAlignmentThroughCell(i, j); });
    SCOPED_TRACE(std::to_string(i) + "," + std::to_string(j) + " " + fsa);
    // A complete path through (i, j), costed as reported.
    const double cost = bitsAfter(printed, "I(A,<S,T>) = ");
    EXPECT_NEAR(cost, nits2bits(scorePath(fsa, S, T, ck, LN1000)), 2e-3);
    size_t si = 0, tj = 0;
    bool through = (i == 0 && j == 0);
    for (char x : fsa) {
      si += (x != 'i');
      tj += (x != 'd');
      through |= (static_cast<int>(si) == i && static_cast<int>(tj) == j);
    }
    EXPECT_TRUE(through);
    EXPECT_LE(bitsAfter(printed, "-log(marginal) = "), cost + 1e-3);
  }
  // The corner cells have a single way through.
  std::string f;
  testutil::captureStdout([&] { f = m->printAlignmentThroughCell(0, t); });
  EXPECT_EQ(f, std::string(t, 'i') + std::string(n, 'd'));
  testutil::captureStdout([&] { f = m->printAlignmentThroughCell(n, 0); });
  EXPECT_EQ(f, std::string(n, 'd') + std::string(t, 'i'));
  // The end cell gives the optimal alignment of the same fill.
  std::string printed = testutil::captureStdout([&] { f = m->printAlignmentThroughCell(n, t); });
  EXPECT_EQ(f, m->getOptAlignFSAstr());
  EXPECT_NEAR(bitsAfter(printed, "I(A,<S,T>) = "), nits2bits(m->getOptAlignMsgLen()), 1e-3);
  EXPECT_NEAR(scorePath(f, S, T, ck, LN1000), m->getOptAlignMsgLen(), 1e-9);
  delete m;
}

TEST(Machine, LandscapeFilesForTwoByThree) {
  testutil::TempDir dir;
  std::string S = "AC", T = "ACD";
  threeStateDPAClass_t* m = interactiveMachine(S, T, dir.file("small"), "");
  const auto& land = m->getLandscape();
  std::ostringstream csv, script;
  csv << std::fixed << std::setprecision(2);
  script << std::fixed << std::setprecision(2) << "M  = [";
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 4; ++j) {
      csv << nits2bits(land[i][j]) << (j < 3 ? "," : "\n");
      script << std::setw(8) << nits2bits(land[i][j]);
    }
    script << (i < 2 ? ";\n" : "];\nimagesc(M);\n");
  }
  EXPECT_EQ(testutil::readFile(dir.file("small_MarginalProbabilityLandscape.csv")), csv.str());
  EXPECT_EQ(testutil::readFile(dir.file("small_MarginalProbabilityLandscape.m")), script.str());
  delete m;
}
