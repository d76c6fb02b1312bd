// The models and their files: the null model, the substitution model and its
// priors, the Dirichlet distribution, the model directory, and the shipped
// data. Every defect of a file ends in one line naming the file (and line).
//
// The test substitution model has S = S^-1 = I, so that M^K is D with its
// diagonal raised to K and its off-diagonal entries as read (one of them is
// negative and must be clipped), normalised by columns.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <functional>

#include "SubmatClass.h"
#include "check.h"
#include "dataFiles.h"
#include "dpCosts.h"
#include "matchJoints.h"
#include "models.h"
#include "nullModelClass.h"
#include "siteRates.h"
#include "testUtil.h"

namespace {

constexpr unsigned N = 20;
const std::string ALPHABET = "ARNDCQEGHILKMFPSTWYV";
const std::string LETTERS = "ACDEFGHIKLMNPQRSTVWY";

// A broken invariant, thrown so that a test can see it.
struct CheckFailure {
  std::string message;
};
[[noreturn]] void throwCheck(const std::string& message) { throw CheckFailure{message}; }

// Runs fn and returns the message it failed with, an error or a broken
// invariant ("" when it did not fail).
std::string failureOf(const std::function<void()>& fn) {
  const seqcorvane::CheckHandler old = seqcorvane::setCheckHandler(throwCheck);
  std::string message;
  try {
    fn();
  } catch (const seqcorvane::Error& e) {
    message = e.what();
  } catch (const CheckFailure& f) {
    message = f.message;
  }
  seqcorvane::setCheckHandler(old);
  return message;
}

std::string num(double v) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.17g", v);
  return buf;
}

double dEntry(unsigned i, unsigned j) {
  if (i == 1 && j == 0) return -0.05;
  return i == j ? 0.9 + i / 100.0 : (i + 2.0 * j) / 1000.0;
}

// The test model's files, as lines.
struct Files {
  std::vector<std::string> S, D, Sinv, priors, null;
  std::string& priorsLineOf(int K) { return priors[K]; }  // after one comment line
};

std::string priorLine(int K) {
  return std::to_string(K) + " " + num(100.0 + K) + " " + num(2 + 0.5 * K) + "\t" + num(2.0 + K) + " " +
         num(3 + 0.25 * K) + " " + num(4 + 0.125 * K);
}

Files testFiles() {
  Files f;
  for (unsigned i = 0; i < N; ++i) {
    std::string id, d;
    for (unsigned j = 0; j < N; ++j) id += (i == j ? "1 " : "0 "), d += num(dEntry(i, j)) + " ";
    f.S.push_back(id), f.Sinv.push_back(id), f.D.push_back(d);
  }
  f.priors.push_back("# K, match-state alphas (2), insert-state alphas (3)");
  for (int K = 1; K <= 1000; ++K) f.priors.push_back(priorLine(K));
  for (char c : LETTERS) f.null.push_back(std::string(1, c) + " 0.05");
  return f;
}

std::string join(const std::vector<std::string>& lines) {
  std::string text;
  for (const auto& l : lines) text += l + "\n";
  return text;
}

// A model directory of its own holding the files.
class ModelDir {
 public:
  explicit ModelDir(const Files& f) {
    testutil::makeModelDir(dir.path(), {{"S_double_precision.txt", join(f.S)},
                                        {"D_double_precision.txt", join(f.D)},
                                        {"S_inv_double_precision.txt", join(f.Sinv)},
                                        {"DirichletPriorsGivenN.txt", join(f.priors)},
                                        {"protSeqNullMMLEstimatesOrder0.txt", join(f.null)}});
  }
  std::string path() const { return dir.path() + "/data"; }

 private:
  testutil::TempDir dir;
};

}  // namespace

TEST(Models, SubstitutionPowersLookupsAndPriors) {
  ModelDir dir(testFiles());
  SubmatClass_t m(1, dir.path());
  for (int K : {1, 2, 250, 1000}) {
    m.exp(K);
    for (unsigned j = 0; j < N; ++j) {
      // M^K(i, j): D's diagonal to the power K, the off-diagonal as read,
      // negatives clipped, each column divided by its sum.
      double sum = 0;
      for (unsigned i = 0; i < N; ++i) sum += i == j ? std::pow(dEntry(i, i), K) : std::max(0.0, dEntry(i, j));
      for (unsigned i = 0; i < N; ++i) {
        const double raw = i == j ? std::pow(dEntry(i, i), K) : std::max(0.0, dEntry(i, j));
        EXPECT_NEAR(m.pr(i, j), raw / sum, 1e-15) << K << " " << i << "," << j;
        EXPECT_EQ(m.pr(ALPHABET[i], ALPHABET[j]), m.pr(i, j));
      }
    }
    // The modes of the priors of the line for K: (alpha_i - 1) / (kappa - d).
    const double km = 100.0 + K + 2 + 0.5 * K, ki = 2.0 + K + 3 + 0.25 * K + 4 + 0.125 * K;
    const std::vector<double> mm = m.getDirichlet("match").getMode(), mi = m.getDirichlet("insert").getMode();
    EXPECT_DOUBLE_EQ(mm[0], (99.0 + K) / (km - 2));
    EXPECT_DOUBLE_EQ(mm[1], (1 + 0.5 * K) / (km - 2));
    EXPECT_DOUBLE_EQ(mi[0], (1.0 + K) / (ki - 3));
    EXPECT_DOUBLE_EQ(mi[2], (3 + 0.125 * K) / (ki - 3));
  }
  EXPECT_EQ(m.pr('R', 'A'), 0.0);  // the negative entry
  // Each file is read once per process; powers are formed once per distance.
  const int reads = dataFilesRead();
  const long powers = SubmatClass_t::powersFormed();
  SubmatClass_t again(250, dir.path());
  again.exp(2);
  EXPECT_EQ(dataFilesRead(), reads);
  EXPECT_EQ(SubmatClass_t::powersFormed(), powers);
  EXPECT_NE(failureOf([&] { m.exp(0); }).find("K>0"), std::string::npos);
  EXPECT_NE(failureOf([&] { m.getDirichlet("Match"); }).find("getDirichlet state string invalid"), std::string::npos);
}

TEST(Models, DefectiveSubstitutionFilesAreNamed) {
  using Spoil = std::function<void(Files&)>;
  const std::vector<std::pair<Spoil, std::string>> cases = {
      {[](Files& f) { f.S.back() = "0 0 0"; }, "S_double_precision.txt: expected 400 numbers, found 383"},
      {[](Files& f) { f.D[4] = "abc " + f.D[4]; }, "D_double_precision.txt:5: 'abc' is not a number"},
      {[](Files& f) { f.Sinv[0] = "1.0.0 " + f.Sinv[0]; }, "S_inv_double_precision.txt:1: '1.0.0' is not a number"},
      {[](Files& f) { f.D[7] = "inf " + f.D[7]; }, "D_double_precision.txt:8: 'inf' is not finite"},
      {[](Files& f) { f.priorsLineOf(3) = priorLine(4); }, "DirichletPriorsGivenN.txt:4: expected K = 3, found 4"},
      {[](Files& f) { f.priors.pop_back(); },
       "DirichletPriorsGivenN.txt: expected 1000 data lines (K = 1 to 1000), found 999"},
      {[](Files& f) { f.priors.push_back(priorLine(1001)); },
       "DirichletPriorsGivenN.txt:1002: more than 1000 data lines (K runs from 1 to 1000)"},
      {[](Files& f) { f.priors.insert(f.priors.begin() + 11, ""); },
       "DirichletPriorsGivenN.txt:12: blank line (expected K and five concentration parameters)"},
      {[](Files& f) { f.priorsLineOf(20) = "20 1 1 1 1 1"; },
       "DirichletPriorsGivenN.txt:21: concentration parameter 1 is not a finite number above 1"},
      {[](Files& f) { f.priorsLineOf(21) = "21 2 -2 2 2 2"; },
       "DirichletPriorsGivenN.txt:22: concentration parameter -2 is not a finite number above 1"},
      {[](Files& f) { f.priorsLineOf(22) = "22 1e308 1e308 2 2 2"; },
       "DirichletPriorsGivenN.txt:23: the parameters give a mode outside (0, 1)"},
      {[](Files& f) { f.priorsLineOf(30) = "30 2 2 3 4"; },
       "DirichletPriorsGivenN.txt:31: expected 6 fields (K and five concentration parameters), found 5"},
      {[](Files& f) { f.priorsLineOf(60) = "60.0 2 2 3 4 5"; },
       "DirichletPriorsGivenN.txt:61: K '60.0' is not an integer"},
      {[](Files& f) { f.priorsLineOf(70) += std::string(1000, ' '); },
       "DirichletPriorsGivenN.txt:71: line longer than 999 characters"},
  };
  for (const auto& c : cases) {
    Files f = testFiles();
    c.first(f);
    ModelDir dir(f);
    EXPECT_EQ(failureOf([&] { SubmatClass_t m(250, dir.path()); }), dir.path() + "/" + c.second);
  }
  // Text after the 400th number of a matrix file is ignored.
  Files f = testFiles();
  f.S.push_back("these words are not read");
  ModelDir ok(f);
  EXPECT_EQ(failureOf([&] { SubmatClass_t m(250, ok.path()); }), "");
}

TEST(Models, PowersThatAreNotProbabilitiesAreNamed) {
  Files f = testFiles();
  f.D[3].clear();  // a diagonal entry so large that its 250th power overflows
  for (unsigned j = 0; j < N; ++j) f.D[3] += (j == 3 ? std::string("1e300") : num(dEntry(3, j))) + " ";
  ModelDir dir(f);
  const std::string m = failureOf([&] { SubmatClass_t model(250, dir.path()); });
  EXPECT_NE(m.find("the substitution matrix files " + dir.path() + "/S_double_precision.txt, " + dir.path() +
                   "/D_double_precision.txt and " + dir.path() + "/S_inv_double_precision.txt give M^250"),
            std::string::npos)
      << m;
}

TEST(Models, NullModelTablesAndTheirDefects) {
  Files f = testFiles();
  f.null[0] = "A 0.5";
  f.null[1] = "C 0.25";
  for (size_t k = 2; k < 20; ++k) f.null[k] = std::string(1, LETTERS[k]) + " " + num(0.25 / 18);
  ModelDir dir(f);
  const nullModelClass_t m("0", dir.path());
  EXPECT_EQ(m.getOrder(), 0u);
  EXPECT_EQ(m.getAlphabet(), LETTERS);
  EXPECT_EQ(m.pr("A"), 0.5);
  EXPECT_TRUE(m.isCompatible(ALPHABET));
  EXPECT_FALSE(m.isCompatible("AB"));
  EXPECT_NE(failureOf([&] { m.pr("B"); }).find("it != ctx2pr.end()"), std::string::npos);

  // An order-1 table under a name of its own, next to the model set.
  std::string order1;
  for (char a : LETTERS)
    for (char b : LETTERS) order1 += std::string{a, b} + " 0.05\n";
  testutil::writeFile(dir.path() + "/protSeqNullMMLEstimatesOrder1.txt", order1);
  const nullModelClass_t m1("1", dir.path());
  EXPECT_EQ(m1.getOrder(), 1u);
  EXPECT_EQ(m1.pr("AR"), 0.05);

  const std::vector<std::pair<std::string, std::string>> cases = {
      {"A 0.05\n\nC 0.05\n", ":2: blank line (expected a context and its probability)"},
      {"A\n", ":1: context 'A' has no probability"},
      {"A 0.x5\n", ":1: '0.x5' is not a number"},
      {"A 0\n", ":1: probability 0 of context 'A' is outside (0, 1]"},
      {"A 1.5\n", ":1: probability 1.5 of context 'A' is outside (0, 1]"},
  };
  for (const auto& c : cases) {
    testutil::writeFile(dir.path() + "/protSeqNullMMLEstimatesOrderT.txt", c.first);
    EXPECT_EQ(failureOf([&] { nullModelClass_t t("T", dir.path()); }),
              dir.path() + "/protSeqNullMMLEstimatesOrderT.txt" + c.second);
  }
  auto table = [](double p) {
    std::string t;
    for (char c : LETTERS) t += std::string(1, c) + " " + num(p) + "\n";
    return t;
  };
  for (double p : {1.0, 1e-300}) {
    testutil::writeFile(dir.path() + "/protSeqNullMMLEstimatesOrderT.txt", table(p));
    EXPECT_NE(failureOf([&] {
                nullModelClass_t t("T", dir.path());
              }).find("protSeqNullMMLEstimatesOrderT.txt: the probabilities sum to"),
              std::string::npos);
  }
  testutil::writeFile(dir.path() + "/protSeqNullMMLEstimatesOrderT.txt", "A 0.5\nC 0.5\nAC 0.5\n");
  try {
    nullModelClass_t t("T", dir.path());
    ADD_FAILURE();
  } catch (const seqcorvane::Error& e) {
    EXPECT_EQ(e.kind(), seqcorvane::Error::Kind::model);
    EXPECT_EQ(std::string(e.what()),
              "Found a context AC of deviating length.\nAll contexts should be of the same length. Terminating!\n");
  }
}

TEST(Models, OneModelSetFromOneDirectory) {
  testutil::TempDir dir;
  // ./data holding one of the five: an error naming the place and the others.
  ::mkdir(dir.file("data").c_str(), 0755);
  testutil::writeFile(dir.file("data/protSeqNullMMLEstimatesOrder0.txt"), "A 1\n");
  testutil::writeFile(dir.file("a.fa"), ">a\nHEAG\n");
  auto r = testutil::runBinary({"a.fa", "a.fa"}, "", dir.path());
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err,
            "seqcorvane: error: model directory './data' lacks S_double_precision.txt, D_double_precision.txt, "
            "S_inv_double_precision.txt, DirichletPriorsGivenN.txt (all five model files must come from one "
            "directory)\n");
  // Broken links count as held: the run names the file that cannot be read.
  for (const std::string& f : modelFileNames()) {
    ::unlink(dir.file("data/" + f).c_str());
    ASSERT_EQ(::symlink("/nonexistent/x", dir.file("data/" + f).c_str()), 0);
  }
  r = testutil::runBinary({"a.fa", "a.fa"}, "", dir.path());
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("./data/"), std::string::npos) << r.err;
  // --data names the directory outright.
  testutil::TempDir models;
  testutil::makeModelDir(models.path());
  r = testutil::runBinary({"a.fa", "a.fa", "--data", models.file("data")}, "", dir.path());
  EXPECT_EQ(r.status, 0) << r.err;
  r = testutil::runBinary({"a.fa", "a.fa", "--data", dir.file("nowhere")}, "", dir.path());
  EXPECT_EQ(r.err, "seqcorvane: error: model directory '" + dir.file("nowhere") + "' is not a directory\n");
}

TEST(Models, DirichletMode) {
  const DirichletClass_t d(2, {2, 3});
  EXPECT_NEAR(d.getMode()[0], 1.0 / 3, 1e-15);
  EXPECT_NEAR(d.getMode()[1], 2.0 / 3, 1e-15);
  EXPECT_TRUE(std::isnan(DirichletClass_t(3, {1, 1, 1}).getMode()[0]));
  EXPECT_NE(failureOf([] { DirichletClass_t(2, {1, -1}); }).find("isValidConcparams"), std::string::npos);
  EXPECT_NE(failureOf([] { DirichletClass_t(3, {2, 2}); }).find("concparams.size() == order"), std::string::npos);
}

// The shipped model is one whole: S S^-1 = I, M = S D S^-1 is column
// stochastic with a dominant diagonal, and the null model's residue
// frequencies are M's stationary distribution.
TEST(Models, ShippedDataIsOneConsistentModel) {
  const SubmatClass_t pam(1, testutil::dataDir());
  const nullModelClass_t nullMdl("0", testutil::dataDir());
  const Matrix S = SubmatClass_t::readMatrix(testutil::dataDir() + "/S_double_precision.txt");
  const Matrix Sinv = SubmatClass_t::readMatrix(testutil::dataDir() + "/S_inv_double_precision.txt");
  for (int i = 0; i < 20; ++i) {
    for (int j = 0; j < 20; ++j) {
      double id = 0;
      for (int k = 0; k < 20; ++k) id += S[i][k] * Sinv[k][j];
      EXPECT_NEAR(id, i == j ? 1.0 : 0.0, 1e-10);
    }
    EXPECT_GT(pam.pr(ALPHABET[i], ALPHABET[i]), 0.9);
    double mpi = 0;
    for (int j = 0; j < 20; ++j) mpi += pam.pr(ALPHABET[i], ALPHABET[j]) * nullMdl.pr(std::string(1, ALPHABET[j]));
    EXPECT_NEAR(mpi, nullMdl.pr(std::string(1, ALPHABET[i])), 1e-10) << ALPHABET[i];
  }
}

// Site rates: the incomplete gamma function against closed forms, the
// category means of the exponential (shape 1) against their formula, and the
// match costs averaged over rates against the mean of the two powers.
TEST(Models, GammaRateCategoriesAndMatchCostsOverRates) {
  for (double x : {0.01, 0.5, 1.0, 2.5, 10.0, 40.0}) {
    EXPECT_NEAR(regularizedGammaP(1, x), 1 - std::exp(-x), 1e-14);
    EXPECT_NEAR(regularizedGammaP(0.5, x), std::erf(std::sqrt(x)), 1e-13);
  }
  // Exponential: the category between quantiles a and b has mean
  // n (a e^-a - b e^-b + e^-a - e^-b), the bounds at -ln(1 - k/n).
  const std::vector<double> r1 = gammaRateCategories(1, 4);
  ASSERT_EQ(r1.size(), 4u);
  double a = 0;
  for (int k = 0; k < 4; ++k) {
    const double b = k == 3 ? INFINITY : -std::log(1 - (k + 1) / 4.0);
    const double tail = std::isinf(b) ? 0 : b * std::exp(-b) + std::exp(-b);
    EXPECT_NEAR(r1[k], 4 * (a * std::exp(-a) + std::exp(-a) - tail), 1e-12) << k;
    a = b;
  }
  for (double shape : {0.3, 2.0, 50.0}) {
    const std::vector<double> r = gammaRateCategories(shape, 4);
    EXPECT_NEAR(r[0] + r[1] + r[2] + r[3], 4, 1e-10);
    EXPECT_TRUE(r[0] < r[1] && r[1] < r[2] && r[2] < r[3]);
    if (shape == 50.0) {
      EXPECT_NEAR(r[0], 1, 0.2);
    }
  }

  SubmatClass_t pam(200, testutil::dataDir());
  const nullModelClass_t nullMdl("0", testutil::dataDir());
  const NullProbs pnull = nullProbsOf(nullMdl, pam.getAlphabet());
  // [from][to] in the order M, D, I
  const TransitionTable fsaPr{{{0.9, 0.05, 0.05}, {0.3, 0.69, 0.01}, {0.3, 0.01, 0.69}}};
  CostTable one = makeCostTable("ACDW", "CDY", pnull, pam, fsaPr), averaged = one;
  averageMatchOverRates(one, pam, pnull, {1.0});
  averageMatchOverRates(averaged, pam, pnull, {0.5, 1.5});
  SubmatClass_t low = pam, high = pam;
  low.exp(100);
  high.exp(300);
  const std::string alphabet = pam.getAlphabet();
  for (int x = 0; x < 20; ++x)
    for (int y = 0; y < 20; ++y) {
      EXPECT_NEAR(one.match[x][y], matchMsgLen(pam, pnull, alphabet[x], alphabet[y]), 1e-12);
      const double expected = 0.5 * (std::exp(-matchMsgLen(low, pnull, alphabet[x], alphabet[y])) +
                                     std::exp(-matchMsgLen(high, pnull, alphabet[x], alphabet[y])));
      EXPECT_NEAR(averaged.match[x][y], -std::log(expected), 1e-12);
    }
}

// The fitted match emissions: the shipped tables pass the checks and their
// interpolation is a distribution, exact at the tables' distances; every
// defect of a file is named with the file (and line).
TEST(Models, FittedMatchJointsAndTheirDefects) {
  const std::string shipped = testutil::dataDir() + "/" + matchJointsFileName();
  const MatchJoints m = readMatchJoints(shipped, ALPHABET);
  ASSERT_GE(m.K.size(), 2u);
  EXPECT_EQ(modelData(testutil::models()).matchJoints.K, m.K);
  for (const double k : {1.0, m.K[0], 0.5 * (m.K[0] + m.K[1]), 1000.0}) {
    const PairTable t = m.at(k);
    double sum = 0;
    for (unsigned a = 0; a < N; ++a)
      for (unsigned b = 0; b < N; ++b) sum += t[a][b];
    EXPECT_NEAR(sum, 1, 1e-12) << k;
  }
  EXPECT_EQ(m.at(m.K[1])[3][5], m.joints[1][3][5]);
  const double w = std::log(1.5) / std::log(2.0);  // K = 15 between tables at 10 and 20
  MatchJoints two;
  two.K = {10, 20};
  two.joints = {m.joints[0], m.joints[1]};
  EXPECT_NEAR(two.at(15)[7][7], (1 - w) * m.joints[0][7][7] + w * m.joints[1][7][7], 1e-15);

  // A valid file of two uniform tables, with the alphabet in the null model's order.
  auto table = [](const std::string& k, const std::string& entry) {
    std::string t = "K " + k + "\n";
    for (unsigned a = 0; a < N; ++a) {
      for (unsigned b = 0; b < N; ++b) t += (b ? " " : "") + entry;
      t += "\n";
    }
    return t;
  };
  const std::string head = "# test tables\nalphabet " + LETTERS + "\n";
  testutil::TempDir dir;
  const std::string path = dir.file(matchJointsFileName());
  auto failure = [&](const std::string& text) {
    testutil::writeFile(path, text);
    return failureOf([&] { readMatchJoints(path, ALPHABET); });
  };
  EXPECT_EQ(failure(head + table("5", "0.0025") + table("50.5", "0.0025")), "");
  std::string asymmetric = table("5", "0.0025");
  asymmetric.replace(11, 6, "0.0024");  // [A][R], then [A][N]: the sum stays 1
  asymmetric.replace(18, 6, "0.0026");
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"", ": no tables"},
      {table("5", "0.0025"), ":1: a table before the alphabet line"},
      {"alphabet ACDEF\n", ":1: the alphabet must have 20 letters"},
      {"alphabet AADEFGHIKLMNPQRSTVWY\n",
       ":1: the alphabet 'AADEFGHIKLMNPQRSTVWY' is not the substitution model's '" + ALPHABET + "'"},
      {head + table("0.5", "0.0025"), ":3: the distance must be a number in 1..1000"},
      {head + table("9", "0.0025") + table("9", "0.0025"), ":24: the distances must increase"},
      {head + table("5", "0.0025").substr(0, 424), ":6: the last table is cut short"},
      {head + table("5", "0.0030"), ": the table at K 5 sums to 1.2, not 1"},
      {head + table("5", "-0.0025"), ":4: a probability that is not positive: -0.0025"},
      {head + asymmetric, ": the table at K 5 is not symmetric"},
      {head + "K 5\n0.1 0.2\n", ":4: expected 20 probabilities in row 1"},
      {head + "beta 3\n", ":3: unexpected line: beta 3"},
  };
  for (const auto& c : cases) EXPECT_EQ(failure(c.first), path + c.second) << c.first.substr(0, 60);
  // A model directory with a defective table file does not load.
  testutil::TempDir models;
  for (const std::string& name : modelFileNames())
    testutil::writeFile(models.file(name), testutil::readFile(testutil::dataDir() + "/" + name));
  testutil::writeFile(models.file(matchJointsFileName()), head + table("5", "0.0030"));
  EXPECT_EQ(failureOf([&] { seqcorvane::Models x(models.path()); }),
            models.file(matchJointsFileName()) + ": the table at K 5 sums to 1.2, not 1");
}
