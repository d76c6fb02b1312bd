// The calibration of the gap priors and the accuracy measure: transition
// counting, the distance of the match columns, the logistic fits and the
// priors table they give, the comparison of alignments, the tabulation per
// identity bin, the folds, the worker processes, and the tool end to end on
// the small sample of reference pairs in tests/data.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <iostream>
#include <random>
#include <sstream>

#include "DirichletClass.h"
#include "SubmatClass.h"
#include "calibration.h"
#include "misc.h"
#include "nullModelClass.h"
#include "testUtil.h"

using namespace calibration;

namespace {

std::string samplePath() { return testutil::sourceDir() + "/tests/data/calibration_sample.tsv"; }

const std::vector<ReferencePair>& samplePairs() {
  static const std::vector<ReferencePair> pairs = readReferencePairs(samplePath());
  return pairs;
}

const nullModelClass_t& nullModel() {
  static const nullModelClass_t m("0");
  return m;
}

const MatchCostTables& costTables() {
  static const MatchCostTables t(nullModel());
  return t;
}

// Runs the calibration tool; returns what it printed (both streams).
std::string runTool(const std::string& args, int* status) {
  testutil::TempDir dir;
  const std::string cmd = std::string(SEQCORVANE_CALIBRATE_BINARY) + " " + args + " > " + dir.file("out") + " 2>&1";
  const int rc = std::system(cmd.c_str());
  *status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  return testutil::readFile(dir.file("out"));
}

}  // namespace

// ---- reference alignments and transitions ----

TEST(CalibrationInput, StatesOfGappedRows) {
  EXPECT_EQ(rowsToStates("AC-DE", "A-GDE"), "mdimm");
  EXPECT_EQ(ungap("-A--C-"), "AC");
  EXPECT_THROW(rowsToStates("A-", "A"), CalibrationError);
  EXPECT_THROW(rowsToStates("A-C", "A-C"), CalibrationError);  // a column of two gaps
}

TEST(CalibrationInput, ReadsTheSample) {
  const auto& pairs = samplePairs();
  ASSERT_EQ(pairs.size(), 20u);
  std::vector<int> perBin(N_BINS, 0);
  for (const ReferencePair& p : pairs) {
    EXPECT_EQ(p.rowS.size(), p.rowT.size()) << p.id;
    EXPECT_FALSE(p.family.empty());
    ++perBin[identityBin(p.percentIdentity)];
  }
  for (int b = 0; b < N_BINS; ++b) EXPECT_EQ(perBin[b], 4) << binLabel(b);
  EXPECT_EQ(pairs[0].id, "homstrad__rnh__1ril__1hrha_a3437b");
  EXPECT_EQ(pairs[0].dataset, "homstrad");
  EXPECT_EQ(pairs[0].family, "rnh");
  EXPECT_DOUBLE_EQ(pairs[0].percentIdentity, 19.2);
}

TEST(CalibrationInput, BrokenFilesNameTheLine) {
  testutil::TempDir dir;
  const std::string header = "pair_id\tdataset\tfamily\tpercent_identity\trow_s\trow_t\n";
  auto message = [&](const std::string& text) {
    testutil::writeFile(dir.file("p.tsv"), text);
    try {
      readReferencePairs(dir.file("p.tsv"));
    } catch (const CalibrationError& e) {
      return std::string(e.what());
    }
    return std::string("no error");
  };
  EXPECT_NE(message(header + "a\tox\tf\t50\tAC-\tA-C\nb\tox\tf\t50\tA--\tA-C\n").find("p.tsv:3: column 2 holds two gaps"),
            std::string::npos);
  EXPECT_NE(message(header + "a\tox\tf\tfifty\tAC\tAC\n").find("p.tsv:2: percent_identity 'fifty'"), std::string::npos);
  EXPECT_NE(message(header + "a\tox\tf\t50\tAXC\tACC\n").find("p.tsv:2: row holds 'X'"), std::string::npos);
  EXPECT_NE(message(header + "a\tox\tf\t50\tAC\n").find("p.tsv:2: expected 6 tab-separated fields"),
            std::string::npos);
  EXPECT_NE(message("pair_id\tfamily\n").find("lacks the column 'dataset'"), std::string::npos);
  EXPECT_NE(message(header + "a\tox\tf\t50\tAC\tACG\n").find("unequal length"), std::string::npos);
}

TEST(CalibrationTransitions, CountsAHandMadePath) {
  // m m d d m i i d m m: MM, MD, DD, DM, MI, II, ID, DM, MM.
  const TransitionCounts c = countTransitions("mmddmiidmm");
  EXPECT_EQ(c.matchToMatch, 2);
  EXPECT_EQ(c.matchToGap, 2);
  EXPECT_EQ(c.gapStay, 2);
  EXPECT_EQ(c.gapToMatch, 2);
  EXPECT_EQ(c.gapSwitch, 1);
  EXPECT_EQ(c.fromMatch() + c.fromGap(), 9);  // one per column after the first
}

TEST(CalibrationTransitions, FirstColumnAndPoolingOfGapStates) {
  const TransitionCounts none = countTransitions("d");
  EXPECT_EQ(none.fromMatch() + none.fromGap(), 0);
  // Insert and delete are pooled: "iid" and "ddi" count the same.
  const TransitionCounts a = countTransitions("iidm"), b = countTransitions("ddim");
  EXPECT_EQ(a.gapStay, 1);
  EXPECT_EQ(a.gapSwitch, 1);
  EXPECT_EQ(a.gapToMatch, 1);
  EXPECT_EQ(b.gapStay, a.gapStay);
  EXPECT_EQ(b.gapSwitch, a.gapSwitch);
  EXPECT_EQ(b.gapToMatch, a.gapToMatch);
  TransitionCounts sum = a;
  sum += b;
  EXPECT_EQ(sum.fromGap(), 6);
}

// ---- distance of the match columns ----

TEST(CalibrationDistance, MatchCountsUseTheModelAlphabet) {
  const std::string alphabet = costTables().alphabet();
  const PairCounts c = countMatchedPairs("AR-N", "AQCN", alphabet);
  auto at = [&](char a, char b) { return c[alphabet.find(a)][alphabet.find(b)]; };
  EXPECT_EQ(at('A', 'A'), 1);
  EXPECT_EQ(at('R', 'Q'), 1);
  EXPECT_EQ(at('Q', 'R'), 0);  // ordered: residue of S first
  EXPECT_EQ(at('N', 'N'), 1);
  double total = 0;
  for (const auto& row : c)
    for (double v : row) total += v;
  EXPECT_EQ(total, 3);  // the gap column is not a match
}

TEST(CalibrationDistance, CostsAreTheMachinesSymmetricMatchProbability) {
  const MatchCostTables& t = costTables();
  const std::string alphabet = t.alphabet();
  for (int K : {1, 37, 250, 1000}) {
    SubmatClass_t pam(K);
    for (char a : std::string("AWC"))
      for (char b : std::string("ALY")) {
        const double pa = nullModel().pr(std::string(1, a)), pb = nullModel().pr(std::string(1, b));
        const double expected = -std::log(0.5 * (pa * pam.pr(b, a) + pb * pam.pr(a, b)));
        EXPECT_NEAR(t.cost(K, int(alphabet.find(a)), int(alphabet.find(b))), expected, 1e-12) << K << a << b;
      }
  }
}

TEST(CalibrationDistance, IdenticalSequencesAreCloseShuffledOnesFar) {
  std::mt19937 rng(20240607);
  const std::string alphabet = costTables().alphabet();
  for (const ReferencePair& p : samplePairs()) {
    const std::string S = ungap(p.rowS);
    std::string T = S;
    const int Kself = costTables().bestK(countMatchedPairs(S, S, alphabet));
    EXPECT_LE(Kself, 5) << p.id;
    std::shuffle(T.begin(), T.end(), rng);
    const int Kshuffled = costTables().bestK(countMatchedPairs(S, T, alphabet));
    EXPECT_GE(Kshuffled, 400) << p.id;
  }
}

TEST(CalibrationDistance, BestKMinimisesAndPrefersTheSmallestOnTies) {
  // A hand-made table whose costs fall to K = 3 and then stay flat.
  std::vector<PairCounts> costs(6);
  const double level[6] = {5, 4, 1, 1, 2, 3};
  for (int K = 0; K < 6; ++K)
    for (auto& row : costs[K]) row.fill(level[K]);
  const MatchCostTables t("ARNDCQEGHILKMFPSTWYV", costs);
  PairCounts c{};
  c[0][1] = 2;
  EXPECT_EQ(t.bestK(c), 3);
  EXPECT_DOUBLE_EQ(t.matchMsgLen(1, c), 10);
  // The reference pairs' own distances rise as identity falls.
  const std::vector<Observation> obs = observePairs(samplePairs(), costTables());
  std::vector<double> meanK(N_BINS, 0.0);
  for (size_t k = 0; k < obs.size(); ++k) meanK[identityBin(samplePairs()[k].percentIdentity)] += obs[k].K / 4.0;
  EXPECT_GT(meanK[0], 4 * meanK[4]);
  EXPECT_GT(meanK[1], meanK[3]);
}

// ---- fits ----

TEST(CalibrationFit, RecoversAKnownLogisticCurve) {
  // Expected counts from logit p = -4 + 0.5 ln K at many distances.
  std::vector<CountsAtDistance> data;
  for (int K = 1; K <= 1000; K += 7) {
    const double p = 1 / (1 + std::exp(-(-4 + 0.5 * std::log(K))));
    data.push_back({double(K), {1e5 * (1 - p), 1e5 * p}});
  }
  const LogisticFit f = fitLogisticInLogK(data, 2);
  ASSERT_EQ(f.coef.size(), 1u);
  EXPECT_NEAR(f.coef[0][0], -4, 1e-3);
  EXPECT_NEAR(f.coef[0][1], 0.5, 1e-3);
  const std::vector<double> p = f.probabilities(100);
  EXPECT_NEAR(p[1], 1 / (1 + std::exp(-(-4 + 0.5 * std::log(100.0)))), 1e-5);
  EXPECT_NEAR(p[0] + p[1], 1, 1e-15);
}

TEST(CalibrationFit, RecoversAKnownThreeOutcomeCurveOfDegreeTwo) {
  std::vector<CountsAtDistance> data;
  for (int K = 1; K <= 1000; K += 3) {
    const double x = std::log(K);
    const double e1 = std::exp(1.0 - 0.2 * x + 0.03 * x * x), e2 = std::exp(-5 + 0.4 * x);
    const double z = 1 + e1 + e2;
    data.push_back({double(K), {1e5 / z, 1e5 * e1 / z, 1e5 * e2 / z}});
  }
  const LogisticFit f = fitLogisticInLogK(data, 3, 2);
  ASSERT_EQ(f.coef.size(), 2u);
  EXPECT_NEAR(f.coef[0][0], 1.0, 1e-3);
  EXPECT_NEAR(f.coef[0][1], -0.2, 1e-3);
  EXPECT_NEAR(f.coef[0][2], 0.03, 1e-3);
  EXPECT_NEAR(f.coef[1][0], -5, 1e-3);
  EXPECT_NEAR(f.coef[1][1], 0.4, 1e-3);
  EXPECT_NEAR(f.coef[1][2], 0.0, 1e-3);
}

TEST(CalibrationFit, ThinOrOneSidedDataStaysStrictlyInside) {
  // No switch ever observed, and all data at one distance: the estimate must
  // still be finite and every probability strictly between 0 and 1.
  const std::vector<CountsAtDistance> data{{50, {30, 70, 0}}};
  const LogisticFit f = fitLogisticInLogK(data, 3);
  for (int K : {1, 50, 1000}) {
    const std::vector<double> p = f.probabilities(K);
    for (double v : p) {
      EXPECT_GT(v, 0) << K;
      EXPECT_LT(v, 1) << K;
    }
  }
  EXPECT_NEAR(f.probabilities(50)[1], 70.5 / 101.5, 1e-6);  // the half pseudo-counts
}

TEST(CalibrationFit, PriorsTableModesAreTheCurves) {
  const std::vector<Observation> obs = observePairs(samplePairs(), costTables());
  const PriorsTable t = buildPriorsTable(obs);
  ASSERT_EQ(t.rows.size(), 1000u);
  for (int K = 1; K <= 1000; ++K) {
    const PriorRow& r = t.rows[K - 1];
    ASSERT_EQ(r.K, K);
    for (double a : {r.aM1, r.aM2, r.aI1, r.aI2, r.aI3}) EXPECT_GT(a, 1) << K;
    const double pOpen = t.curves.pOpen(K), pStay = t.curves.pStay(K), pSwitch = t.curves.pSwitch(K);
    for (double p : {pOpen, pStay, pSwitch}) {
      EXPECT_GT(p, 0) << K;
      EXPECT_LT(p, 1) << K;
    }
    EXPECT_LT(pStay + pSwitch, 1) << K;
    const std::vector<double> m = DirichletClass_t(2, {r.aM1, r.aM2}).getMode();
    const std::vector<double> g = DirichletClass_t(3, {r.aI1, r.aI2, r.aI3}).getMode();
    EXPECT_NEAR(m[0], 1 - pOpen, 1e-12) << K;
    EXPECT_NEAR(g[0], pStay, 1e-12) << K;
    EXPECT_NEAR(1 - g[0] - g[1], pSwitch, 1e-12) << K;
  }
  // The concentration counts the transitions of the pairs near K.
  const ConcentrationRule& rule = t.options.concentration;
  for (int K : {1, 40, 1000}) {
    double cm = rule.floorCount, cg = rule.floorCount;
    for (const Observation& o : obs) {
      const double d = std::log(double(K) / o.K), w = std::exp(-d * d / (2 * rule.bandwidth * rule.bandwidth));
      cm += w * o.counts.fromMatch();
      cg += w * o.counts.fromGap();
    }
    EXPECT_NEAR(t.cMatch[K - 1], cm, 1e-9 * cm) << K;
    EXPECT_NEAR(t.cGap[K - 1], cg, 1e-9 * cg) << K;
  }
  const double most = *std::max_element(t.cMatch.begin(), t.cMatch.end());
  EXPECT_GT(most, 300);
  EXPECT_LT(t.cMatch[999], 0.05 * most) << "few sample pairs lie near K = 1000";
}

TEST(CalibrationFit, WrittenTableLoadsWithTheProgramsReader) {
  testutil::TempDir dir;
  const std::vector<Observation> obs = observePairs(samplePairs(), costTables());
  const PriorsTable t = buildPriorsTable(obs);
  const std::string path = dir.file("priors.txt");
  writePriorsTable(path, t, describePriorsTable(t, obs));
  const std::string text = testutil::readFile(path);
  std::istringstream lines(text);
  std::string line;
  int comments = 0, data = 0;
  while (std::getline(lines, line)) {
    if (line[0] == '#') {
      ++comments;
      EXPECT_EQ(data, 0) << "header lines come first";
      continue;
    }
    ++data;
    std::istringstream f(line);
    int K;
    double a[5];
    f >> K >> a[0] >> a[1] >> a[2] >> a[3] >> a[4];
    ASSERT_EQ(K, data);
    // 17 significant digits: the numbers read back exactly.
    const PriorRow& r = t.rows[K - 1];
    EXPECT_EQ(a[0], r.aM1);
    EXPECT_EQ(a[2], r.aI1);
    EXPECT_EQ(a[4], r.aI3);
  }
  EXPECT_EQ(data, 1000);
  EXPECT_GE(comments, 5);
  EXPECT_NE(text.find("p_open(K) = 1 / (1 + exp(-("), std::string::npos);
  const SubmatClass_t::PriorsTable loaded = SubmatClass_t(250).readDirichletPriors(path);
  ASSERT_EQ(loaded.size(), 2u);
  ASSERT_EQ(loaded[0].size(), 1000u);
  for (int K : {1, 250, 1000}) {
    EXPECT_NEAR(loaded[0][K - 1].getMode()[1], t.curves.pOpen(K), 1e-12);
    EXPECT_NEAR(loaded[1][K - 1].getMode()[0], t.curves.pStay(K), 1e-12);
  }
}

// ---- accuracy ----

TEST(CalibrationAccuracy, AgreementOfHandMadeAlignments) {
  // S = ABCD, T = ABD: reference A-A B-B D-D with C deleted.
  EXPECT_EQ(compareAlignments("mmdm", "mmdm").fraction(), 1.0);
  const AlignmentAgreement shifted = compareAlignments("mmdm", "mmmd");  // C-D instead of D-D
  EXPECT_EQ(shifted.referencePairs, 3);
  EXPECT_EQ(shifted.reproduced, 2);
  const AlignmentAgreement none = compareAlignments("mmdm", "dddiii" "d");
  EXPECT_EQ(none.reproduced, 0);
  EXPECT_THROW(compareAlignments("mmdm", "mmm"), CalibrationError);
  const auto pairs = matchedResiduePairs("mdim");
  ASSERT_EQ(pairs.size(), 2u);
  EXPECT_EQ(pairs[1], std::make_pair(2, 2));
}

TEST(CalibrationAccuracy, IdentityBins) {
  EXPECT_EQ(identityBin(0), 0);
  EXPECT_EQ(identityBin(19.99), 0);
  EXPECT_EQ(identityBin(20), 1);
  EXPECT_EQ(identityBin(30), 2);
  EXPECT_EQ(identityBin(39.9), 2);
  EXPECT_EQ(identityBin(40), 3);
  EXPECT_EQ(identityBin(60), 4);
  EXPECT_EQ(identityBin(100), 4);
  EXPECT_EQ(binLabel(3), "40-60%");
}

TEST(CalibrationAccuracy, TabulationPoolsResiduePairs) {
  std::vector<PairResult> r(3);
  r[0].bin = 0, r[0].referencePairs = 100, r[0].reproduced = 50, r[0].referenceCompressionBits = 10;
  r[1].bin = 0, r[1].referencePairs = 10, r[1].reproduced = 10, r[1].referenceCompressionBits = 20;
  r[2].bin = 4, r[2].referencePairs = 90, r[2].reproduced = 90, r[2].referenceCompressionBits = 30;
  const AccuracyTable t = tabulate(r);
  EXPECT_DOUBLE_EQ(t.bins[0].accuracy(), 60.0 / 110.0);
  EXPECT_DOUBLE_EQ(t.bins[0].meanPairAccuracy(), 0.75);
  EXPECT_DOUBLE_EQ(t.bins[0].meanReferenceCompression(), 15);
  EXPECT_EQ(t.bins[2].pairs, 0);
  EXPECT_DOUBLE_EQ(t.overall.accuracy(), 150.0 / 200.0);
  const std::string md = formatAccuracyTable(t);
  EXPECT_NE(md.find("| 0-20% | 2 | 110 | 0.5455 | 0.7500 | 15.0 |"), std::string::npos) << md;
  EXPECT_NE(md.find("| all | 3 | 200 | 0.7500 |"), std::string::npos) << md;
}

TEST(CalibrationAccuracy, ShippingRuleLooksAtOverallAndTheBinsBelowForty) {
  AccuracyTable base, cand;
  for (int b = 0; b < N_BINS; ++b) {
    base.bins[b].referencePairs = cand.bins[b].referencePairs = 100;
    base.bins[b].reproduced = cand.bins[b].reproduced = 80;
  }
  base.overall.referencePairs = cand.overall.referencePairs = 500;
  base.overall.reproduced = cand.overall.reproduced = 400;
  EXPECT_TRUE(atLeastAsAccurate(cand, base));  // equal is enough
  cand.bins[3].reproduced = 70;                // worse at 40-60% only
  EXPECT_TRUE(atLeastAsAccurate(cand, base));
  cand.bins[2].reproduced = 79;  // worse at 30-40%
  EXPECT_FALSE(atLeastAsAccurate(cand, base));
  cand.bins[2].reproduced = 90;
  cand.overall.reproduced = 399;  // worse overall
  EXPECT_FALSE(atLeastAsAccurate(cand, base));
}

TEST(CalibrationAccuracy, AnAlignmentEqualToItsReferenceScoresOne) {
  // Two identical sequences: the optimal alignment is the diagonal, and so is
  // the reference.
  const std::string S = ungap(samplePairs()[0].rowS);
  ReferencePair p{"self", "test", "self", 100.0, S, S};
  nullModelClass_t nullMdl("0");
  SubmatClass_t pam(250);
  const PairResult r = evaluatePair(p, nullMdl, pam);
  EXPECT_EQ(r.bin, 4);
  EXPECT_EQ(r.referencePairs, long(S.size()));
  EXPECT_EQ(r.reproduced, r.referencePairs);
  EXPECT_GT(r.referenceCompressionBits, 0);
  EXPECT_NEAR(r.optimalCompressionBits, r.referenceCompressionBits, 1e-6);  // the same alignment
}

TEST(CalibrationAccuracy, ReferenceCompressionIsWhatTheScoringModeReports) {
  const ReferencePair& p = samplePairs()[10];
  nullModelClass_t nullMdl("0");
  SubmatClass_t pam(250);
  const PairResult r = evaluatePair(p, nullMdl, pam);
  EXPECT_GT(r.referencePairs, 0);
  EXPECT_LE(r.reproduced, r.referencePairs);
  testutil::TempDir dir;
  writeAfastaFile(dir.file("ref.afasta"), {p.rowS, p.rowT});
  const std::string cmd = testutil::binaryPath() + " --ivalue " + dir.file("ref.afasta") + " > " + dir.file("out.txt");
  ASSERT_EQ(std::system(cmd.c_str()), 0);
  const std::string out = testutil::readFile(dir.file("out.txt"));
  const size_t at = out.find("wrt null =");
  ASSERT_NE(at, std::string::npos) << out;
  // The value follows, possibly inside a colour sequence: drop the escapes.
  std::string rest = out.substr(at + 10, 80);
  for (size_t e; (e = rest.find('\x1b')) != std::string::npos;) rest.erase(e, rest.find('m', e) - e + 1);
  const double reported = std::stod(rest);
  EXPECT_NEAR(r.referenceCompressionBits, reported, 1e-3 * std::max(1.0, std::fabs(reported)));
}

// ---- folds and workers ----

TEST(CalibrationFolds, FamiliesGoToFixedFolds) {
  EXPECT_EQ(foldOfFamily("globin", 5), foldOfFamily("globin", 5));
  std::vector<int> used(5, 0);
  for (const ReferencePair& p : samplePairs()) {
    const int f = foldOfFamily(p.family, 5);
    ASSERT_GE(f, 0);
    ASSERT_LT(f, 5);
    ++used[f];
  }
  EXPECT_GE(std::count_if(used.begin(), used.end(), [](int n) { return n > 0; }), 4);
  EXPECT_EQ(foldOfFamily("", 5), int(1469598103934665603ULL % 5));  // FNV-1a offset basis
}

TEST(CalibrationWorkers, ResultsComeBackInJobOrder) {
  std::vector<size_t> order{4, 3, 2, 1, 0, 5, 6};
  const std::vector<std::string> out = runInWorkers(order, 2, [](size_t k) {
    std::cout << "this goes nowhere\n";
    return "job" + std::to_string(k) + "\tpid" + std::to_string(::getpid());
  });
  ASSERT_EQ(out.size(), 7u);
  for (size_t k = 0; k < out.size(); ++k) EXPECT_EQ(out[k].substr(0, out[k].find('\t')), "job" + std::to_string(k));
  const std::string self = "pid" + std::to_string(::getpid());
  for (const std::string& line : out) EXPECT_EQ(line.find(self), std::string::npos) << "ran in a worker";
}

TEST(CalibrationWorkers, AFailingJobFailsTheRun) {
  EXPECT_THROW(runInWorkers({0, 1, 2}, 2,
                            [](size_t k) -> std::string {
                              if (k == 1) throw CalibrationError("bad job");
                              return "ok";
                            }),
               CalibrationError);
}

// ---- the tool ----

TEST(CalibrationTool, FitsTheSampleAndWritesALoadableTable) {
  testutil::TempDir dir;
  int status = -1;
  const std::string out = runTool("fit --pairs " + samplePath() + " --out " + dir.file("t.txt") + " --scratch " +
                                      dir.file("scratch"),
                                  &status);
  ASSERT_EQ(status, 0) << out;
  EXPECT_NE(out.find("Fitted 20 pairs"), std::string::npos) << out;
  const SubmatClass_t::PriorsTable t = SubmatClass_t(250).readDirichletPriors(dir.file("t.txt"));
  EXPECT_EQ(t[1].size(), 1000u);
  EXPECT_NE(testutil::readFile(dir.file("t.txt")).find("# Generated by: "), std::string::npos);
}

TEST(CalibrationTool, MeasuresAccuracyOfTheSample) {
  testutil::TempDir dir;
  int status = -1;
  const std::string out = runTool("accuracy --pairs " + samplePath() + " --workers 2 --report " +
                                      dir.file("acc.md") + " --scratch " + dir.file("scratch"),
                                  &status);
  ASSERT_EQ(status, 0) << out;
  const std::string md = testutil::readFile(dir.file("acc.md"));
  EXPECT_NE(md.find("| all | 20 |"), std::string::npos) << md;
  for (int b = 0; b < N_BINS; ++b) EXPECT_NE(md.find("| " + binLabel(b) + " | 4 |"), std::string::npos) << md;
}

TEST(CalibrationTool, RejectsBadArguments) {
  int status = -1;
  const std::string out = runTool("fit", &status);
  EXPECT_EQ(status, 1);
  EXPECT_NE(out.find("--pairs is required"), std::string::npos) << out;
  runTool("frobnicate --pairs " + samplePath(), &status);
  EXPECT_EQ(status, 1);
}
