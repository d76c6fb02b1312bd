// What the faster paths must not change: every instruction set's row
// routines give the same cells, and the marginal search over the fast summed
// passes picks the distance the exact log-space search picks.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <sstream>

#include "distanceSearch.h"
#include "dpPosteriors.h"
#include "machine.h"
#include "marginal.h"
#include "seqcorvane/io.h"
#include "simdRows.h"
#include "siteRates.h"
#include "testUtil.h"

namespace {

std::string randomSeq(std::mt19937& rng, size_t len) {
  std::string s;
  for (size_t k = 0; k < len; ++k) s.push_back("ACDEFGHIKLMNPQRSTVWY"[rng() % 20]);
  return s;
}

// T from S: substitutions at the given rate, and indels.
std::string evolve(std::mt19937& rng, const std::string& S, double substitution) {
  std::string T;
  std::uniform_real_distribution<double> u(0, 1);
  for (char c : S) {
    const double r = u(rng);
    if (r < 0.04) continue;
    if (r < 0.08) T += randomSeq(rng, 1 + rng() % 4);
    T.push_back(u(rng) < substitution ? "ACDEFGHIKLMNPQRSTVWY"[rng() % 20] : c);
  }
  return T.empty() ? std::string("W") : T;
}

std::pair<std::string, std::string> seededPair(std::mt19937& rng, size_t maxLen) {
  const std::string S = randomSeq(rng, 1 + rng() % maxLen);
  switch (rng() % 3) {
    case 0:
      return {S, randomSeq(rng, 1 + rng() % maxLen)};
    case 1:
      return {S, evolve(rng, S, 0.2)};
    default:
      return {S, evolve(rng, S, 0.7)};
  }
}

}  // namespace

TEST(Speed, EveryInstructionSetGivesTheSameCells) {
  std::mt19937 rng(17);
  std::vector<SimdLevel> levels;
  for (SimdLevel l : {SimdLevel::scalar, SimdLevel::sse2, SimdLevel::avx2, SimdLevel::avx512})
    if (simdLevelSupported(l)) levels.push_back(l);
  for (int trial = 0; trial < 40; ++trial) {
    auto st = seededPair(rng, 130);
    // Every other trial under the local hypothesis: its begin and end terms.
    MachineModel model;
    model.local = trial % 2 == 1;
    CostTable c = makeMachine(st.first, st.second, modelData(testutil::models()), 1 + static_cast<int>(rng() % 1000),
                              model, RunSettings{})
                      .costs();
    TraceCodes reference;
    std::array<PathCost, 3> referenceEnd{};
    LocalEnd referenceLocal;
    double referenceFast = 0;
    Posteriors referencePost;
    for (SimdLevel l : levels) {
      SCOPED_TRACE(std::string(simdLevelName(l)) + " trial " + std::to_string(trial));
      c.simd = l;
      TraceCodes codes;
      LocalEnd local;
      const auto end = fillBestPath(c, codes, nullptr, {}, c.local ? &local : nullptr);
      const double fast = sumAllPathsFast(c);
      Posteriors post = computePosteriorsFast(c, true);
      if (l == levels.front()) {
        reference = codes, referenceEnd = end, referenceFast = fast, referenceLocal = local;
        referencePost = std::move(post);
        continue;
      }
      for (size_t i = 0; i <= c.nS; ++i)
        ASSERT_EQ(0, std::memcmp(codes.row(i), reference.row(i), c.nT + 1)) << "row " << i;
      for (int s = 0; s < 3; ++s) {
        EXPECT_EQ(end[s].trans, referenceEnd[s].trans);
        EXPECT_EQ(end[s].emit, referenceEnd[s].emit);
      }
      EXPECT_EQ(local.i, referenceLocal.i);
      EXPECT_EQ(local.j, referenceLocal.j);
      EXPECT_EQ(local.cost.total, referenceLocal.cost.total);
      EXPECT_EQ(fast, referenceFast);
      EXPECT_EQ(post.pair, referencePost.pair);
      EXPECT_EQ(post.unpairedS, referencePost.unpairedS);
    }
  }
}

// On 200 seeded random and related pairs and the golden pair: the fast
// passes lie within a relative 1e-12 of the exact ones, and the machine's
// search (fast passes, exact ones near ties) picks the exact search's
// distance. A pair where the exact search met two costs within 1e-9 nits of
// each other is reported as a near tie.
TEST(Speed, FastSearchPicksTheExactDistance) {
  std::mt19937 rng(20261207);
  std::vector<std::pair<std::string, std::string>> pairs;
  for (int k = 0; k < 200; ++k) pairs.push_back(seededPair(rng, 90));
  auto golden = [](const std::string& f) {
    return seqcorvane::standardResidues(seqcorvane::readFasta(testutil::sourceDir() + "/tests/golden/" + f)[0].text);
  };
  pairs.emplace_back(golden("hbb_human_1-70.fa"), golden("hba_macfa_1-70.fa"));
  double worst = 0;
  int nearTies = 0;
  for (size_t p = 0; p < pairs.size(); ++p) {
    std::string S = pairs[p].first, T = pairs[p].second;
    SCOPED_TRACE("pair " + std::to_string(p) + ": " + S + " / " + T);
    const threeStateDPAClass_t probe = makeMachine(S, T, modelData(testutil::models()));
    std::map<int, double> exact;
    const DistanceSearchResult e = searchDistance(
        [&](const std::vector<int>& ks) {
          std::vector<double> c;
          for (int k : ks) {
            c.push_back(exact[k] = computeTotalProbOfST(atDistance(probe, k)));
            const double f = marginalMsgLenFast(atDistance(probe, k));
            worst = std::max(worst, std::fabs(f - c.back()) / c.back());
          }
          return c;
        },
        false);
    for (auto a = exact.begin(); a != exact.end(); ++a)
      for (auto b = std::next(a); b != exact.end(); ++b) nearTies += std::fabs(a->second - b->second) < 1e-9;
    // The criterion as the program runs it, its landscape handed over.
    seqcorvane::AlignConfig config;
    config.criterion = seqcorvane::Criterion::marginal;
    size_t rows = 0;
    const seqcorvane::AlignResult r = seqcorvane::align({"s", S}, {"t", T}, testutil::models(), config,
                                                        [&](const seqcorvane::LandscapeRow&) { ++rows; });
    EXPECT_EQ(rows, S.size() + 1);
    EXPECT_EQ(r.search.K, e.bestK != 0 ? e.bestK : 1);
    EXPECT_EQ(r.search.msgLen, exact[r.search.K]);
  }
  EXPECT_LT(worst, 1e-12);
  std::cout << "largest relative difference fast/exact: " << worst << "; pairs of probes within 1e-9 nits: " << nearTies
            << "\n";
}

// The posteriors from the probability-space sums decode the alignment the
// log-space ones decode, on 200 seeded random and related pairs and the
// bench pairs of 150, 500 and 1,100 residues; their column posteriors agree to the
// four decimals of the confidence file. A pair whose two alignments score
// within 1e-9 of each other under the exact posteriors is reported as a tie.
TEST(Speed, FastPosteriorsDecodeTheExactAlignment) {
  std::mt19937 rng(20261208);
  std::vector<std::pair<std::string, std::string>> pairs;
  for (int k = 0; k < 200; ++k) pairs.push_back(seededPair(rng, 120));
  auto bench = [](const std::string& f) {
    return seqcorvane::standardResidues(seqcorvane::readFasta(testutil::sourceDir() + "/bench/pairs/" + f)[0].text);
  };
  pairs.emplace_back(bench("s150.fa"), bench("t150.fa"));
  pairs.emplace_back(bench("s500.fa"), bench("t500.fa"));
  pairs.emplace_back(bench("s1100.fa"), bench("t1100.fa"));
  int ties = 0;
  double worst = 0;
  for (size_t p = 0; p < pairs.size(); ++p) {
    SCOPED_TRACE("pair " + std::to_string(p));
    MachineModel rated;
    rated.siteRates = gammaRateCategories(1, 4);
    rated.gapOpenScale = 0.35;
    const CostTable c = makeMachine(pairs[p].first, pairs[p].second, modelData(testutil::models()),
                                    1 + static_cast<int>(rng() % 400), rated)
                            .costs();
    const Posteriors exact = computePosteriors(c, true), fast = computePosteriorsFast(c, true);
    for (size_t k = 0; k < exact.unpairedS.size(); ++k)
      worst = std::max(worst, std::fabs(exact.unpairedS[k] - fast.unpairedS[k]));
    const std::string a = meaAlignment(exact, 0), b = meaAlignment(fast, 0);
    if (a != b) {
      auto score = [&](const std::string& path) {
        double s = 0;
        for (double x : columnPosteriors(exact, path, nullptr)) s += x;
        return s;
      };
      const bool tie = std::fabs(score(a) - score(b)) < 1e-6;  // float pair posteriors: ties to their precision
      EXPECT_TRUE(tie) << a << "\n" << b;
      ties += tie;
      continue;
    }
    const std::vector<double> ce = columnPosteriors(exact, a), cf = columnPosteriors(fast, a);
    for (size_t l = 0; l < ce.size(); ++l) EXPECT_NEAR(ce[l], cf[l], 5e-7) << l;
  }
  EXPECT_LT(worst, 1e-9);
  std::cout << "fast posteriors: largest difference of an unpaired posterior " << worst
            << "; alignments that tie: " << ties << "\n";
}
