// The calibration tool: reading reference pairs, agreement with a reference,
// transitions along a path, the logistic fit, and both commands end to end
// on a small sample (tools/tests/data/calibration_sample.tsv, 20 pairs).
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <random>
#include <sstream>

#include "SubmatClass.h"
#include "calibration.h"
#include "check.h"

using namespace seqcorvane::detail;

using namespace calibration;

namespace {

const std::string SAMPLE = std::string(SEQCORVANE_TOOLS_DIR) + "/tests/data/calibration_sample.tsv";

std::string readAll(const std::string& path) {
  std::ifstream in(path);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

int run(const std::string& args) {
  return std::system((std::string(SEQCORVANE_CALIBRATE_BINARY) + " " + args + " >/dev/null 2>&1").c_str());
}

}  // namespace

TEST(Calibration, AgreementTransitionsAndFolds) {
  // Reference m m d m i m against m i m d m m: of the reference's four
  // matched pairs (0,0) (1,1) (3,2) (4,4), the test matches (0,0) and (4,4).
  const Agreement a = compareAlignments("mmdmim", "mimdmm");
  EXPECT_EQ(a.referencePairs, 4);
  EXPECT_EQ(a.reproduced, 2);
  EXPECT_EQ(a.testPairs, 4);
  EXPECT_EQ(a.gapOpenings, 2);
  EXPECT_EQ(compareAlignments("mdm", "mdm").reproduced, 2);
  const TransitionCounts t = countTransitions("mmddimm");
  EXPECT_EQ(t.matchToMatch, 2);
  EXPECT_EQ(t.matchToGap, 1);
  EXPECT_EQ(t.gapStay, 1);
  EXPECT_EQ(t.gapSwitch, 1);
  EXPECT_EQ(t.gapToMatch, 1);
  EXPECT_EQ(identityBin(19.99), 0);
  EXPECT_EQ(identityBin(40), 3);
  EXPECT_EQ(foldOfFamily("globin", 5), foldOfFamily("globin", 5));
  const std::vector<ReferencePair> pairs = readReferencePairs(SAMPLE);
  EXPECT_EQ(pairs.size(), 20u);
}

TEST(Calibration, LogisticFitRecoversAKnownCurve) {
  // Counts drawn at their expectation from logit p = -6 + 0.7 ln K.
  std::vector<CountsAtDistance> data;
  for (int K = 1; K <= 1000; K += 9) {
    const double p = 1 / (1 + std::exp(-(-6 + 0.7 * std::log(K))));
    data.push_back({double(K), {1e5 * (1 - p), 1e5 * p}});
  }
  const LogisticFit f = fitLogisticInLogK(data, 2, 1);
  EXPECT_NEAR(f.coef[0][0], -6, 1e-3);
  EXPECT_NEAR(f.coef[0][1], 0.7, 1e-3);
  EXPECT_NEAR(f.probabilities(100)[1], 1 / (1 + std::exp(-(-6 + 0.7 * std::log(100.0)))), 1e-5);
}

// Both commands on the sample; the fitted table loads with the program's
// reader (every parameter above 1, every mode inside (0, 1)); the accuracy
// lines hold one pair each.
TEST(Calibration, FitAndAccuracyOnTheSample) {
  char tmpl[] = "/tmp/seqcorvane_calib_XXXXXX";
  const std::string dir = ::mkdtemp(tmpl);
  ASSERT_EQ(run("fit --pairs " + SAMPLE + " --out " + dir + "/priors.txt --threads 2"), 0);
  const SubmatClass_t model(1, std::string(SEQCORVANE_TOOLS_DIR) + "/../data");
  const SubmatClass_t::PriorsTable t = model.readDirichletPriors(dir + "/priors.txt");
  EXPECT_EQ(t[0].size(), 1000u);
  for (const char* criterion : {"optimal", "posterior"}) {
    ASSERT_EQ(run("accuracy --pairs " + SAMPLE + " --criterion " + criterion + " --out " + dir + "/acc.tsv"), 0);
    std::istringstream lines(readAll(dir + "/acc.tsv"));
    int n = 0;
    for (std::string line; std::getline(lines, line);) ++n;
    EXPECT_EQ(n, 21) << criterion;
  }
  EXPECT_NE(run("accuracy --pairs " + SAMPLE), 0);  // no --out
  EXPECT_NE(run("fit --pairs " + dir + "/missing.tsv --out x"), 0);
  std::system(("rm -rf '" + dir + "'").c_str());
}
