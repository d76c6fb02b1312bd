// The substitution model: matrix powers, look-ups, the priors table, the
// loaders' checks and the once-per-process reading of the data files.
//
// The test model, written into a temporary ./data, has S = S^-1 = I, so that
// M^K is D with its diagonal raised to K and its off-diagonal entries as read;
// one of them is negative and must be clipped. Its priors file has comment
// lines and lacks the final newline. The shipped model is checked at the end.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <sstream>

#include "SubmatClass.h"
#include "dataFiles.h"
#include "testUtil.h"

namespace {

constexpr unsigned N = 20;
const std::string ALPHABET = "ARNDCQEGHILKMFPSTWYV";

std::string num(double v) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.17g", v);
  return buf;
}

double dEntry(unsigned i, unsigned j) {
  if (i == 1 && j == 0) return -0.05;
  return i == j ? 0.9 + i / 100.0 : (i + 2.0 * j) / 1000.0;
}
std::vector<double> matchAlphas(int K) { return {100.0 + K, 1 + 0.5 * K}; }
std::vector<double> insertAlphas(int K) { return {2.0 + K, 3 + 0.25 * K, 4 + 0.125 * K}; }
std::string priorLine(int K) {
  auto m = matchAlphas(K), g = insertAlphas(K);
  return std::to_string(K) + " " + num(m[0]) + " " + num(m[1]) + "\t" + num(g[0]) + " " + num(g[1]) + " " + num(g[2]);
}

struct Files {
  std::vector<std::string> S, D, Sinv, priors;  // lines
  std::string& priorsLineOf(int K) { return priors[K <= 500 ? K : K + 1]; }
};

Files testFiles() {
  Files f;
  for (unsigned i = 0; i < N; ++i) {
    std::string id, d;
    for (unsigned j = 0; j < N; ++j) id += (i == j ? "1 " : "0 "), d += num(dEntry(i, j)) + " ";
    f.S.push_back(id), f.Sinv.push_back(id), f.D.push_back(d);
  }
  f.priors.push_back("# K, match-state alphas (2), insert-state alphas (3)");
  for (int K = 1; K <= 1000; ++K) {
    if (K == 501) f.priors.push_back("# second half");
    f.priors.push_back(priorLine(K));
  }
  return f;
}

std::string join(const std::vector<std::string>& lines, bool finalNewline = true) {
  std::string text;
  for (const auto& l : lines) text += l + "\n";
  if (!finalNewline && !text.empty()) text.pop_back();
  return text;
}

// A temporary directory with the model files in data/, the working directory
// for the object's lifetime so that ./data wins the look-up.
class ModelDir {
 public:
  explicit ModelDir(const Files& f) {
    char buf[4096];
    oldCwd = ::getcwd(buf, sizeof buf) ? buf : "/";
    ::mkdir(tmp.file("data").c_str(), 0755);
    write("S_double_precision.txt", join(f.S));
    write("D_double_precision.txt", join(f.D));
    write("S_inv_double_precision.txt", join(f.Sinv));
    write("DirichletPriorsGivenN.txt", join(f.priors, false));
    EXPECT_EQ(::chdir(tmp.path().c_str()), 0);
  }
  ~ModelDir() { EXPECT_EQ(::chdir(oldCwd.c_str()), 0); }
  void write(const std::string& name, const std::string& text) const {
    testutil::writeFile(tmp.file("data/" + name), text);
  }

 private:
  testutil::TempDir tmp;
  std::string oldCwd;
};

void expectColumnStochastic(const SubmatClass_t& m) {
  for (unsigned j = 0; j < N; ++j) {
    double sum = 0;
    for (unsigned i = 0; i < N; ++i) {
      EXPECT_GE(m.pr(i, j), 0.0) << "K=" << m.getK() << " (" << i << "," << j << ")";
      sum += m.pr(i, j);
    }
    EXPECT_NEAR(sum, 1.0, 1e-12) << "K=" << m.getK() << " column " << j;
  }
}

void expectSameMatrix(const SubmatClass_t& a, const SubmatClass_t& b) {
  for (unsigned i = 0; i < N; ++i)
    for (unsigned j = 0; j < N; ++j) ASSERT_EQ(a.pr(i, j), b.pr(i, j)) << "(" << i << "," << j << ")";
}

}  // namespace

// exp(1) after other distances restores exactly the matrix of a model built
// with K0 = 1.
TEST(Submat, PowersAreColumnStochastic) {
  ModelDir dir(testFiles());
  const SubmatClass_t one(1);
  SubmatClass_t m(250);
  EXPECT_EQ(m.getAlphabet(), ALPHABET);
  for (int K : {250, 2, 1000, 1}) {
    m.exp(K);
    EXPECT_EQ(m.getK(), K);
    expectColumnStochastic(m);
  }
  expectSameMatrix(m, one);
}

TEST(Submat, PowerRaisesTheDiagonalOnlyAndClipsNegatives) {
  ModelDir dir(testFiles());
  const SubmatClass_t m(3);
  for (unsigned j = 0; j < N; ++j) {
    double sum = 0;
    for (unsigned i = 0; i < N; ++i) sum += i == j ? std::pow(dEntry(i, i), 3.0) : std::max(0.0, dEntry(i, j));
    for (unsigned i = 0; i < N; ++i)
      EXPECT_DOUBLE_EQ(m.pr(i, j), (i == j ? std::pow(dEntry(i, i), 3.0) : std::max(0.0, dEntry(i, j))) / sum);
  }
  EXPECT_EQ(m.pr(1u, 0u), 0.0);
  EXPECT_EQ(m.getD(1, 0), -0.05);
}

TEST(Submat, LookupByLetterAndIndexAgree) {
  ModelDir dir(testFiles());
  const SubmatClass_t m(250);
  EXPECT_EQ(m.pr(0u, 1u), m.pr('A', 'R'));
  EXPECT_NE(m.pr('A', 'R'), m.pr('R', 'A'));
  EXPECT_EQ(m.getIndx('V'), 19);
  for (char a : ALPHABET)
    for (char b : ALPHABET) ASSERT_EQ(m.pr(a, b), m.pr(unsigned(m.getIndx(a)), unsigned(m.getIndx(b))));
}

TEST(SubmatDeathTest, OutOfRangeArgumentsStop) {
  ModelDir dir(testFiles());
  SubmatClass_t m(250);
  EXPECT_EXIT(m.pr('B', 'A'), ::testing::ExitedWithCode(2), "it != aa2idx\\.end\\(\\)");
  EXPECT_EXIT(m.pr('A', 'a'), ::testing::ExitedWithCode(2), "it != aa2idx\\.end\\(\\)");
  EXPECT_EXIT(m.pr(0u, 20u), ::testing::ExitedWithCode(2), "y < n");
  EXPECT_EXIT(m.getIndx('X'), ::testing::ExitedWithCode(2), "alphabet\\.find\\(x\\)!=string::npos");
  EXPECT_EXIT(m.getS(-1, 0), ::testing::ExitedWithCode(2), "x < n && x >= 0");
  EXPECT_EXIT(m.exp(0), ::testing::ExitedWithCode(2), "K>0");
  EXPECT_EXIT(m.exp(1001), ::testing::ExitedWithCode(2), "K<=1000");
  EXPECT_EXIT(m.getDirichlet("delete"), ::testing::ExitedWithCode(2), "getDirichlet state string invalid");
  EXPECT_EXIT(m.getDirichlet("Match"), ::testing::ExitedWithCode(2), "getDirichlet state string invalid");
}

TEST(Submat, PriorsFollowTheDistance) {
  ModelDir dir(testFiles());
  SubmatClass_t m(250);
  for (int K : {250, 1, 501, 1000}) {  // 1000: the last line, without newline
    m.exp(K);
    EXPECT_EQ(m.getDirichlet("match").getAlphas(), matchAlphas(K)) << K;
    EXPECT_EQ(m.getDirichlet("insert").getAlphas(), insertAlphas(K)) << K;
  }
}

TEST(SubmatDeathTest, DefectiveDataFilesAreNamed) {
  using Spoil = std::function<void(Files&)>;
  const std::vector<std::pair<Spoil, std::string>> cases = {
      {[](Files& f) { f.S.back() = "0 0 0"; }, "S_double_precision\\.txt: expected 400 numbers, found 383"},
      {[](Files& f) { f.S.push_back("0"); }, "S_double_precision\\.txt: expected 400 numbers, found 401"},
      {[](Files& f) { f.D[4] = "abc " + f.D[4]; }, "D_double_precision\\.txt:5: 'abc' is not a number"},
      {[](Files& f) { f.Sinv[0] += "1.0.0"; }, "S_inv_double_precision\\.txt:1: '1\\.0\\.0' is not a number"},
      {[](Files& f) { f.priorsLineOf(3) = priorLine(4); }, "DirichletPriorsGivenN\\.txt:4: expected K = 3, found 4"},
      {[](Files& f) { f.priors.pop_back(); },
       "DirichletPriorsGivenN\\.txt: expected 1000 data lines \\(K = 1 to 1000\\), found 999"},
      {[](Files& f) { f.priors.push_back(priorLine(1001)); },
       "DirichletPriorsGivenN\\.txt:1003: more than 1000 data lines \\(K runs from 1 to 1000\\)"},
      {[](Files& f) { f.priors.insert(f.priors.begin() + 11, ""); },
       "DirichletPriorsGivenN\\.txt:12: blank line \\(expected K and five concentration parameters\\)"},
      {[](Files& f) { f.priorsLineOf(20) = "20 1 -2 1 1 1"; },
       "DirichletPriorsGivenN\\.txt:21: negative concentration parameter -2"},
      {[](Files& f) { f.priorsLineOf(30) = "30 1 2 3 4"; },
       "DirichletPriorsGivenN\\.txt:31: expected 6 fields \\(K and five concentration parameters\\), found 5"},
      {[](Files& f) { f.priorsLineOf(40) = "40 1 2 3 4 5 6"; },
       "DirichletPriorsGivenN\\.txt:41: expected 6 fields .*found 7"},
      {[](Files& f) { f.priorsLineOf(50) = "50 1 x 3 4 5"; }, "DirichletPriorsGivenN\\.txt:51: 'x' is not a number"},
      {[](Files& f) { f.priorsLineOf(60) = "60.0 1 2 3 4 5"; },
       "DirichletPriorsGivenN\\.txt:61: K '60\\.0' is not an integer"},
      {[](Files& f) { f.priorsLineOf(70) += std::string(1000, ' '); },
       "DirichletPriorsGivenN\\.txt:71: line longer than 999 characters"},
  };
  for (const auto& c : cases) {
    Files f = testFiles();
    c.first(f);
    ModelDir dir(f);
    EXPECT_EXIT({ SubmatClass_t m(250); }, ::testing::ExitedWithCode(1),
                "^seqcorvane: error: \\./data/" + c.second + "\n$");
  }
}

TEST(SubmatCache, EachFileIsReadOncePerProcess) {
  ModelDir dir(testFiles());
  const int reads = dataFilesRead();
  const long built = SubmatClass_t::modelsBuilt();
  const SubmatClass_t first(250);
  EXPECT_EQ(dataFilesRead(), reads + 4);
  const SubmatClass_t second(250);
  SubmatClass_t third(7);
  EXPECT_EQ(dataFilesRead(), reads + 4);
  EXPECT_EQ(SubmatClass_t::modelsBuilt(), built + 3);
  expectSameMatrix(second, first);
  third.exp(250);
  expectSameMatrix(third, first);
  EXPECT_EQ(third.getDirichlet("insert").getAlphas(), insertAlphas(250));
}

TEST(SubmatCache, FileChangedDuringTheRunDoesNotChangeLaterModels) {
  Files f = testFiles();
  ModelDir dir(f);
  const SubmatClass_t before(250);
  for (int K = 1; K <= 1000; ++K) f.priorsLineOf(K) = std::to_string(K) + " 7 8 9 10 11";
  dir.write("DirichletPriorsGivenN.txt", join(f.priors));
  const int reads = dataFilesRead();
  const SubmatClass_t after(250);
  EXPECT_EQ(dataFilesRead(), reads);
  EXPECT_EQ(after.getDirichlet("match").getAlphas(), matchAlphas(250));
  EXPECT_EQ(before.getDirichlet("match").getAlphas(), matchAlphas(250));
}

TEST(Submat, PrintMpowK) {
  ModelDir dir(testFiles());
  const SubmatClass_t m(250);
  const std::string out = testutil::captureStdout([&] {
    std::cout.flags(std::ios::dec | std::ios::skipws);
    m.printMpowK();
  });
  std::istringstream in(out);
  std::vector<std::string> v;
  for (std::string line; std::getline(in, line);) v.push_back(line);
  ASSERT_GE(v.size(), 26u);
  EXPECT_EQ(v[0], "Printing details of M^K when K=250");
  std::string header = "       ";
  for (char c : ALPHABET) header += "      " + std::string(1, c);
  EXPECT_EQ(v[1], header + " | rowsum");
  EXPECT_EQ(v[22], "------");
  std::string colsum = " colsum";
  for (unsigned j = 0; j < N; ++j) colsum += "  1.000";
  EXPECT_EQ(v[23], colsum);
  EXPECT_EQ(v[24], "Printing associated Dirichlet priors for K=250");
  EXPECT_EQ(v[25], "Params for M-state priors: ");
  EXPECT_NE(out.find("Params for I-state priors: \nPrinting DirichletClass params....\nnFreeParams = 3\n"),
            std::string::npos);
}

// The model shipped in data/, once it exists.
TEST(Submat, ShippedModel) {
  for (const char* name :
       {"S_double_precision.txt", "D_double_precision.txt", "S_inv_double_precision.txt", "DirichletPriorsGivenN.txt"})
    if (!testutil::fileExists(testutil::sourceDir() + "/data/" + name)) GTEST_SKIP();
  char buf[4096];
  const std::string oldCwd = ::getcwd(buf, sizeof buf) ? buf : "/";
  ASSERT_EQ(::chdir(testutil::sourceDir().c_str()), 0);
  SubmatClass_t m(2);
  const SubmatClass_t one(1);
  ASSERT_EQ(::chdir(oldCwd.c_str()), 0);
  // M^2 from the eigenvalues equals the product M M, both normalised.
  Matrix M(N, std::vector<double>(N, 0.0)), M2 = M;
  for (unsigned i = 0; i < N; ++i)
    for (unsigned j = 0; j < N; ++j)
      for (unsigned k = 0; k < N; ++k)
        for (unsigned l = 0; l < N; ++l) M[i][j] += one.getS(i, k) * one.getD(k, l) * one.getSinv(l, j);
  for (unsigned i = 0; i < N; ++i)
    for (unsigned j = 0; j < N; ++j)
      for (unsigned k = 0; k < N; ++k) M2[i][j] += M[i][k] * M[k][j];
  for (unsigned j = 0; j < N; ++j) {
    double sum = 0;
    for (unsigned i = 0; i < N; ++i) sum += std::max(0.0, M2[i][j]);
    for (unsigned i = 0; i < N; ++i) EXPECT_NEAR(m.pr(i, j), std::max(0.0, M2[i][j]) / sum, 1e-10);
  }
  for (int K : {250, 1000}) {
    m.exp(K);
    expectColumnStochastic(m);
  }
  m.exp(1);
  expectSameMatrix(m, one);
}
