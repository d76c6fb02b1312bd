// The verdict calibrated for composition and its pieces: the composition
// codes are distributions (every sequence of a tiny alphabet enumerated), the
// adjusted joint is a distribution with the asked marginals and P's odds
// ratios, the calibrated message lengths equal sums over enumerated paths,
// and random pairs of skewed compositions are not called related by it.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <random>

#include "codeLengths.h"
#include "composition.h"
#include "naiveReference.h"
#include "numbers.h"
#include "testUtil.h"

using namespace naive;

namespace {

// Every sequence of length n over A letters, as its counts, passed to visit.
void everySequence(int A, int n, const std::function<void(const ResidueCounts&)>& visit) {
  std::vector<int> seq(static_cast<std::size_t>(n), 0);
  while (true) {
    ResidueCounts c(static_cast<std::size_t>(A), 0);
    for (const int x : seq) ++c[static_cast<std::size_t>(x)];
    visit(c);
    int k = 0;
    while (k < n && ++seq[static_cast<std::size_t>(k)] == A) seq[static_cast<std::size_t>(k++)] = 0;
    if (k == n) return;
  }
}

// Draws of a composition from a seeded generator, the same on every platform.
std::string drawn(std::mt19937& rng, std::size_t n, const std::string& letters, const std::vector<double>& weights) {
  double total = 0;
  for (const double w : weights) total += w;
  std::string s;
  for (std::size_t k = 0; k < n; ++k) {
    double u = static_cast<double>(rng()) / 4294967296.0 * total;
    std::size_t a = 0;
    while (a + 1 < weights.size() && u >= weights[a]) u -= weights[a++];
    s.push_back(letters[a]);
  }
  return s;
}

double treeCode(std::size_t n) { return wtCodeLen_nits(static_cast<int>(n)); }

}  // namespace

TEST(Calibration, CompositionCodesAreDistributions) {
  for (int A : {1, 2, 3}) {
    for (int n = 0; n <= 6; ++n) {
      double stated = 0, iid = 0;
      const std::vector<double> q = A == 3 ? std::vector<double>{0.5, 0.3, 0.2} : std::vector<double>(A, 1.0 / A);
      everySequence(A, n, [&](const ResidueCounts& c) {
        stated += std::exp(-statedCompositionMsgLen(c));
        iid += std::exp(-iidMsgLen(c, q));
      });
      EXPECT_NEAR(iid, 1.0, 1e-12) << A << " letters, length " << n;
      EXPECT_LE(stated, 1.0 + 1e-12) << A << " letters, length " << n;
      // The statement alone: every way of splitting n into A counts.
      double statements = 0;
      std::function<void(int, int)> split = [&](int letters, int left) {
        if (letters == 1) {
          statements += std::exp(-compositionStatementMsgLen(n, A));
          return;
        }
        for (int x = 0; x <= left; ++x) split(letters - 1, left - x);
      };
      split(A, n);
      EXPECT_NEAR(statements, 1.0, 1e-12) << A << " letters, length " << n;
    }
  }
  EXPECT_EQ(residueCounts("ACCAXa-C", "AC"), (ResidueCounts{2, 3}));
  EXPECT_EQ(countFrequencies({1, 3}), (std::vector<double>{0.25, 0.75}));
  EXPECT_TRUE(std::isinf(iidMsgLen({1, 1}, {1.0, 0.0})));
  EXPECT_EQ(iidMsgLen({2, 0}, {1.0, 0.0}), 0.0);
}

TEST(Calibration, AdjustedJointHasTheMarginalsAndPsOddsRatios) {
  std::mt19937 rng(11);
  std::uniform_real_distribution<double> u(0.01, 1.0);
  for (int trial = 0; trial < 20; ++trial) {
    const std::size_t A = 2 + trial % 5;
    std::vector<double> P(A * A), r(A), c(A);
    double sP = 0, sr = 0, sc = 0;
    for (double& x : P) sP += (x = u(rng));
    for (double& x : P) x /= sP;
    for (std::size_t a = 0; a < A; ++a) {
      // A letter absent from one side now and then.
      sr += (r[a] = (trial % 3 == 0 && a == 0) ? 0.0 : u(rng));
      sc += (c[a] = (trial % 4 == 1 && a == A - 1) ? 0.0 : u(rng));
    }
    for (std::size_t a = 0; a < A; ++a) r[a] /= sr, c[a] /= sc;
    double error = 1;
    const std::vector<double> Q = adjustJoint(P, r, c, 1e-13, &error);
    EXPECT_LE(error, 1e-13);
    double total = 0;
    for (std::size_t a = 0; a < A; ++a) {
      double row = 0, col = 0;
      for (std::size_t b = 0; b < A; ++b) {
        EXPECT_GE(Q[a * A + b], 0.0);
        row += Q[a * A + b];
        col += Q[b * A + a];
      }
      EXPECT_NEAR(row, r[a], 1e-12);
      EXPECT_NEAR(col, c[a], 1e-12);
      total += row;
    }
    EXPECT_NEAR(total, 1.0, 1e-12);
    // Q = x_a y_b P(a, b): every odds ratio over the nonempty rows and
    // columns is P's.
    for (std::size_t a = 1; a < A; ++a)
      for (std::size_t b = 1; b < A; ++b) {
        if (r[0] == 0 || r[a] == 0 || c[0] == 0 || c[b] == 0) continue;
        const double oddsQ = Q[0] * Q[a * A + b] / (Q[b] * Q[a * A]);
        const double oddsP = P[0] * P[a * A + b] / (P[b] * P[a * A]);
        EXPECT_NEAR(std::log(oddsQ), std::log(oddsP), 1e-9);
      }
  }
  // A product of marginals goes to the product of the new ones.
  const std::vector<double> p = {0.2, 0.3, 0.5}, r = {0.6, 0.3, 0.1}, c = {0.1, 0.1, 0.8};
  std::vector<double> P;
  for (const double x : p)
    for (const double y : p) P.push_back(x * y);
  const std::vector<double> Q = adjustJoint(P, r, c);
  for (std::size_t a = 0; a < 3; ++a)
    for (std::size_t b = 0; b < 3; ++b) EXPECT_NEAR(Q[a * 3 + b], r[a] * c[b], 1e-14);
}

// The calibrated verdicts of the optimal and marginal criteria on tiny
// pairs: the null of own compositions, and the alignment hypothesis's
// message over its enumerated paths (the sum of all, or the optimal one's),
// at the distance each states.
TEST(Calibration, MessageLengthsEqualTheEnumerationOfEveryPath) {
  std::mt19937 rng(23);
  const std::string alphabet = models().pam.getAlphabet();
  auto index = [&](char c) { return alphabet.find(c); };
  for (int trial = 0; trial < 12; ++trial) {
    const std::string S = randomSeq(rng, 1 + static_cast<int>(rng() % 4)),
                      T = randomSeq(rng, 1 + static_cast<int>(rng() % 4));
    const std::string where = S + " / " + T;
    const ResidueCounts cS = residueCounts(S, alphabet), cT = residueCounts(T, alphabet);
    const std::vector<double> fS = countFrequencies(cS), fT = countFrequencies(cT);
    const double statements = compositionStatementMsgLen(static_cast<long>(S.size()), 20) +
                              compositionStatementMsgLen(static_cast<long>(T.size()), 20);
    const double nullLen = treeCode(S.size()) + treeCode(T.size()) + statements + iidMsgLen(cS, fS) + iidMsgLen(cT, fT);
    // Each path's cost at K: the reference's transitions, the adjusted joint's matches.
    auto costs = [&](int K) {
      const Reference ref(K);
      PairTable joint{};
      for (std::size_t x = 0; x < 20; ++x)
        for (std::size_t y = 0; y < 20; ++y) joint[x][y] = std::exp(-ref.match(alphabet[x], alphabet[y]));
      const PairTable Q = adjustJoint(joint, fS, fT);
      std::map<std::string, double> out;
      for (const std::string& p : allPaths(S.size(), T.size())) {
        double len = ref.parts(p, S, T, 0, 0).first;
        std::size_t i = 0, j = 0;
        for (const char c : p) {
          len += c == 'm'   ? -std::log(Q[index(S[i])][index(T[j])])
                 : c == 'd' ? -std::log(fS[index(S[i])])
                            : -std::log(fT[index(T[j])]);
          i += c != 'i';
          j += c != 'd';
        }
        out[p] = len;
      }
      return out;
    };
    for (const seqcorvane::Criterion c : {seqcorvane::Criterion::marginal, seqcorvane::Criterion::optimal}) {
      seqcorvane::AlignConfig config;
      config.criterion = c;
      const seqcorvane::AlignResult r = seqcorvane::align({"s", S}, {"t", T}, testutil::models(), config);
      const seqcorvane::CalibratedVerdict& v = r.calibrated;
      expectClose(nullLen, v.nullMsgLen, where + " null");
      const std::map<std::string, double> at = costs(v.K);
      double expected;
      if (c == seqcorvane::Criterion::marginal) {
        EXPECT_EQ(v.K, r.search.K) << where;
        std::vector<double> all;
        for (const auto& p : at) all.push_back(p.second);
        expected = LN1000_ + treeCode(std::max(S.size(), T.size())) + statements + neglogSumOf(all);
      } else {
        expected = LN1000_ + treeCode(r.path.size()) + statements + at.at(r.path);
      }
      expectClose(expected, v.msgLen, where + " " + seqcorvane::criterionName(c));
      EXPECT_NEAR(v.compressionBits, (v.nullMsgLen - v.msgLen) / std::log(2.0), 1e-12);
    }
  }
}

// Glutamine-rich (30% Q) and richer fourfold in W, C, H, M and Y: the
// marginal criterion's own verdict calls such random pairs related, the
// calibrated verdict of no criterion does, with a margin; the posterior
// criterion's verdict is the calibrated one.
TEST(Calibration, RandomPairsOfSkewedCompositionsAreNotCalledRelated) {
  const std::string letters = "ACDEFGHIKLMNPQRSTVWY";
  std::vector<double> null, qrich, wchmy;
  for (const char a : letters) null.push_back(Reference::pn(a));
  for (std::size_t a = 0; a < 20; ++a) {
    qrich.push_back(letters[a] == 'Q' ? 0.3 : 0.7 * null[a] / (1 - Reference::pn('Q')));
    wchmy.push_back(null[a] * (std::string("WCHMY").find(letters[a]) != std::string::npos ? 4 : 1));
  }
  std::mt19937 rng(2024);
  for (const auto* weights : {&qrich, &wchmy}) {
    const seqcorvane::Sequence s{"s", drawn(rng, 700, letters, *weights)}, t{"t", drawn(rng, 700, letters, *weights)};
    for (const seqcorvane::Criterion c :
         {seqcorvane::Criterion::optimal, seqcorvane::Criterion::marginal, seqcorvane::Criterion::posterior}) {
      seqcorvane::AlignConfig config;
      config.criterion = c;
      const seqcorvane::AlignResult r = seqcorvane::align(s, t, testutil::models(), config);
      const std::string name = seqcorvane::criterionName(c);
      if (c == seqcorvane::Criterion::marginal) {
        EXPECT_GT(r.compressionBits, 0) << name;
      }
      if (c == seqcorvane::Criterion::posterior) {
        EXPECT_EQ(r.compressionBits, r.calibrated.compressionBits);
      }
      EXPECT_LT(r.calibrated.compressionBits, -3) << name;
    }
  }
}

// The program: a uniform random pair, which the marginal criterion's own
// verdict calls related, gets a notice with the calibrated figure (the one
// the JSON file carries); --calibrated prints its block; with the posterior
// criterion, whose verdict is the calibrated one, the option is a notice.
TEST(Calibration, TheProgramSaysWhenTheCalibratedVerdictDisagrees) {
  testutil::TempDir dir;
  std::mt19937 rng(11);
  const std::vector<double> uniform(20, 1.0);
  testutil::writeFile(dir.file("s.fa"), ">s\n" + drawn(rng, 1000, "ACDEFGHIKLMNPQRSTVWY", uniform) + "\n");
  testutil::writeFile(dir.file("t.fa"), ">t\n" + drawn(rng, 1000, "ACDEFGHIKLMNPQRSTVWY", uniform) + "\n");
  const testutil::RunResult r = testutil::runBinary(
      {"s.fa", "t.fa", "--criterion", "marginal", "--no-landscape", "--format", "json"}, "", dir.path());
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("MORE LIKELY"), std::string::npos);
  const std::string json = testutil::readFile(dir.file("output.json"));
  const std::size_t at = json.find("\"compression_bits\": ", json.find("\"calibrated\""));
  ASSERT_NE(at, std::string::npos) << json;
  const double calibrated = std::stod(json.substr(at + 20));
  EXPECT_LT(calibrated, 0);
  EXPECT_NE(json.find("\"verdict\": \"not related\"}"), std::string::npos) << json;
  const std::string notice = "seqcorvane: notice: calibrated for composition, the verdict is not related: " +
                             seqcorvane::shell::formatFixed(calibrated, 3) + " bits against ";
  EXPECT_EQ(r.err.substr(0, notice.size()), notice) << r.err;
  EXPECT_NE(r.err.find(" bits with the null model's frequencies (see --calibrated)\n"), std::string::npos);

  const testutil::RunResult asked = testutil::runBinary(
      {"s.fa", "t.fa", "--criterion", "marginal", "--no-landscape", "--calibrated"}, "", dir.path());
  ASSERT_EQ(asked.status, 0) << asked.err;
  EXPECT_NE(asked.out.find("Verdict calibrated for composition at SeqDist n = "), std::string::npos);
  EXPECT_NE(asked.out.find("compression = " + seqcorvane::shell::formatFixed(calibrated, 3) + " bits\n"),
            std::string::npos)
      << asked.out;

  const testutil::RunResult posterior =
      testutil::runBinary({"s.fa", "t.fa", "--criterion", "posterior", "--calibrated"}, "", dir.path());
  ASSERT_EQ(posterior.status, 0) << posterior.err;
  EXPECT_EQ(posterior.err,
            "seqcorvane: notice: --calibrated has no effect with the posterior criterion, whose verdict is the "
            "calibrated one\n");
  EXPECT_NE(posterior.out.find("NOT related"), std::string::npos) << posterior.out;
}
