// The driver: banner and stream state, the null-model block, scoring mode,
// alignment mode with its verdicts and afasta file, and the run's failures.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <iomanip>
#include <regex>

#include "main.h"
#include "misc.h"
#include "nullModelClass.h"
#include "testUtil.h"

using testutil::runBinary;

namespace {

const std::string RULE = "----------------------------+=o0o=+-------------------------------\n";
const std::string RULE_RE = "----------------------------\\+=o0o=\\+-------------------------------\n";
const std::string ERR = "seqcorvane: error: ";

// Loads a null model from a table written into ./data of a scratch directory.
nullModelClass_t loadNullModel(const std::string& table) {
  testutil::TempDir dir;
  ::mkdir(dir.file("data").c_str(), 0755);
  testutil::writeFile(dir.file("data/protSeqNullMMLEstimatesOrderTest.txt"), table);
  char old[4096];
  EXPECT_NE(::getcwd(old, sizeof old), nullptr);
  EXPECT_EQ(::chdir(dir.path().c_str()), 0);
  nullModelClass_t m("Test");
  EXPECT_EQ(::chdir(old), 0);
  return m;
}

std::string afterBanner(const std::string& out) {
  const std::string banner = testutil::captureStdout(coutHeader);
  EXPECT_EQ(out.rfind(banner, 0), 0u);
  return out.substr(std::min(banner.size(), out.size()));
}

}  // namespace

TEST(Driver, BannerLeavesLeftAdjustmentAndWidth82Pending) {
  std::streamsize width = 0;
  bool left = false;
  std::string out = testutil::captureStdout([&] {
    coutHeader();
    width = std::cout.width();
    left = (std::cout.flags() & std::ios::left) != 0;
  });
  EXPECT_EQ(out, testutil::bannerText() +
                     "\033[0;1;37;1;45m    Authors:\033[0;1;37;1;45m the SeqCorvane developers\033[0m\n"
                     "\033[1;37;1;45m    Reference:\033[0;1;37;1;45m see README.md of the SeqCorvane "
                     "distribution\033[0m\n\n");
  EXPECT_EQ(width, 82);
  EXPECT_TRUE(left);
}

TEST(Driver, NullBlockOfAKnownPair) {
  // Probabilities that are powers of two make every length a whole number of
  // bits: |S| = 2 costs 5 bits, |T| = 3 costs 5 bits.
  nullModelClass_t m = loadNullModel("A 0.5\nC 0.25\nD 0.25\n");
  std::string S = "AC", T = "DAA";
  double nits = 0;
  bool fixed = false;
  std::string out = testutil::captureStdout([&] {
    std::cout << std::left;
    nits = computeINullST(S, T, m);
    fixed = (std::cout.flags() & std::ios::fixed) && std::cout.precision() == 3;
  });
  EXPECT_EQ(out,
            "------------------- \033[45;4mNULL MODEL STATS (SEQUENCE)\033[0m --------------------\n"
            "NULL(S)          = 8.000      bits (4.000 bits-per-aa over 2 a.a.)\n"
            "NULL(T)          = 9.000      bits (3.000 bits-per-aa over 3 a.a.)\n"
            "NULL(<S,T>)      = \033[43;4m17.000\033[0m bits (3.400 bits-per-aa over 5 a.a.)\n\n" +
                std::string(68, '-') + "\n\n");
  EXPECT_NEAR(nits, 17 * LN2, 1e-12);
  EXPECT_TRUE(fixed);
}

TEST(Driver, ResiduesWithoutFullContextCostOneOverA) {
  nullModelClass_t m1 = loadNullModel("AA 0.5\nAC 0.5\nCA 0.25\nCC 0.75\n");
  EXPECT_NEAR(getNullEncodingLength("C", m1), std::log(2.0), 1e-12);
  EXPECT_NEAR(getNullEncodingLength("CAC", m1), std::log(2.0) - std::log(0.25) - std::log(0.5), 1e-12);
  std::string order2;
  for (std::string ctx : {"AAA", "AAC", "ACA", "ACC", "CAA", "CAC", "CCA", "CCC"}) order2 += ctx + " 0.5\n";
  nullModelClass_t m2 = loadNullModel(order2);
  EXPECT_NEAR(getNullEncodingLength("A", m2), 2 * std::log(2.0), 1e-12);
}

TEST(Driver, ScoringModeDropsUnusableColumnsAndReportsCompression) {
  testutil::TempDir dir;
  testutil::writeFile(dir.file("a.afasta"), ">aligned seq 1\nHEAG-aW-KL\n\n>aligned seq 2\nH-AGWW?-KM\n");
  auto r = runBinary({"--ivalue", "a.afasta"}, "", dir.path());
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string out = afterBanner(r.out);
  // the title takes the banner's pending width: 14 blanks follow it
  EXPECT_EQ(out.rfind("\n-------------IVALUE STATISTICS OF A GIVEN ALIGNMENT---------------\n" + std::string(14, ' ') +
                          "aW\nW?\nAlignment String of S\nHEAG-KL\nAlignment String of T\nH-AGWKM\n-------------------",
                      0),
            0u)
      << out;
  EXPECT_TRUE(std::regex_search(out, std::regex("I\\(A,<S,T>\\)   = [0-9.]+ +bits\n")));
  EXPECT_TRUE(std::regex_search(out, std::regex("\n" + RULE_RE + "COMPRESSION wrt null =   -?[0-9]+\\.[0-9]{3} bits\n" +
                                                    RULE_RE + "$")))
      << out;
}

TEST(Driver, ScoringModeFileErrorsNameTheFile) {
  testutil::TempDir dir;
  struct Case {
    std::string text, err;
  } cases[] = {
      {">a\nAC\n>b\nAC\n>c\nAC\n", "alignment file 'x.afasta' holds 3 records; expected two"},
      {"AC-G\n", "alignment file 'x.afasta' holds 1 record; expected two"},
      {">a\nAC-G\n>b\nACG\n", "alignment file 'x.afasta': its two records differ in length (4 and 3 characters)"},
      {">a\n--ac\n>b\nWWKK\n", "alignment file 'x.afasta': no standard residues left in its first row"},
  };
  for (const Case& c : cases) {
    testutil::writeFile(dir.file("x.afasta"), c.text);
    auto r = runBinary({"--ivalue", "x.afasta"}, "", dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, ERR + c.err + "\n");
    EXPECT_EQ(r.out.find("Alignment String of S"), std::string::npos);
  }
}

TEST(Driver, NullModelMissingALetterIsRejected) {
  testutil::TempDir dir;
  ::mkdir(dir.file("data").c_str(), 0755);
  std::string table;
  for (char c : std::string("ACDEFGHIKLMNPQRSTVW")) table += std::string(1, c) + " 0.05\n";  // no Y
  testutil::writeFile(dir.file("data/protSeqNullMMLEstimatesOrder0.txt"), table);
  testutil::writeFile(dir.file("a.fa"), ">a\nHEAG\n");
  auto r = runBinary({"a.fa", "a.fa"}, "", dir.path());
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, ERR + "the null model's alphabet 'ACDEFGHIKLMNPQRSTVW' does not hold every letter of the "
                         "substitution model's alphabet 'ARNDCQEGHILKMFPSTWYV'\n");
  EXPECT_EQ(afterBanner(r.out), "");
}

TEST(Driver, NullModelOfHigherOrderIsRejected) {
  testutil::TempDir dir;
  ::mkdir(dir.file("data").c_str(), 0755);
  const std::string letters = "ACDEFGHIKLMNPQRSTVWY";
  std::string table;
  for (char a : letters)
    for (char b : letters) table += std::string{a, b} + " 0.05\n";
  testutil::writeFile(dir.file("data/protSeqNullMMLEstimatesOrder0.txt"), table);
  testutil::writeFile(dir.file("a.fa"), ">a\nHEAG\n");
  auto r = runBinary({"a.fa", "a.fa"}, "", dir.path());
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, ERR + "the null model table holds contexts of 2 residues (order 1); only order 0 is supported\n");
  EXPECT_EQ(afterBanner(r.out), "");
}

TEST(Driver, RelatedPairAlignsAndItsAfastaScoresBack) {
  testutil::TempDir dir;
  auto r = runBinary({testutil::examplePath("hbb_human.fa"), testutil::examplePath("hba_macfa.fa")}, "", dir.path());
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  const std::string out = afterBanner(r.out);
  EXPECT_EQ(out.rfind(".................................................Running in \033[42;4moptimal\033[0m mode\nSeq S\n", 0),
            0u);
  EXPECT_NE(out.find("Alignment fasta (afasta) file written to:   \033[43;4moutput.afasta\033[0m \n"), std::string::npos);
  std::smatch m;
  ASSERT_TRUE(std::regex_search(
      out, m,
      std::regex(RULE_RE + " \033\\[46;4mCOMPRESSION\033\\[0m wrt null =    \033\\[42;4m([0-9.e+]+)\033\\[0m  bits\n"
                        " According to MML, this alignment hypothesis is 2\\^\\{([0-9]+\\.[0-9]{3})\\} times "
                        "\033\\[42;4mMORE LIKELY\033\\[0m  than null.\n" +
                        RULE_RE + "$")))
      << out;
  EXPECT_NEAR(std::stod(m[1]), std::stod(m[2]), 1e-5 * std::stod(m[2]));

  const std::string afasta = testutil::readFile(dir.file("output.afasta"));
  EXPECT_TRUE(std::regex_match(afasta, std::regex(">aligned seq 1\n([A-Y-]{60}\n)*[A-Y-]{1,60}\n\n"
                                                  ">aligned seq 2\n([A-Y-]{60}\n)*[A-Y-]{1,60}\n")))
      << afasta;
  auto scored = runBinary({"--ivalue", "output.afasta"}, "", dir.path());
  EXPECT_EQ(scored.status, 0) << scored.err;
  EXPECT_NE(scored.out.find("\nCOMPRESSION wrt null =   "), std::string::npos);
}

TEST(Driver, UnrelatedShortPairIsRejectedUnderBothCriteria) {
  testutil::TempDir dir;
  testutil::writeFile(dir.file("s.fa"), ">s\nWC\n");
  testutil::writeFile(dir.file("t.fa"), ">t\nPG\n");
  auto opt = runBinary({"s.fa", "t.fa"}, "", dir.path());
  ASSERT_EQ(opt.status, 0) << opt.err;
  EXPECT_NE(opt.out.find(" wrt null =    \033[41;4m-"), std::string::npos);
  EXPECT_NE(opt.out.find("According to MML, this alignment hypothesis is worse than null, so should be "
                         "\033[41;4mREJECTED\033[0m \nSuggestion: check the marginal probability of <S,T> by "
                         "running in ' \033[45;4m--criterion marginal\033[0m ' mode.\n" + RULE),
            std::string::npos);
  EXPECT_TRUE(testutil::fileExists(dir.file("output.afasta")));

  auto marg = runBinary({"s.fa", "t.fa", "--criterion", "marginal", "-o", "m"}, "", dir.path());
  ASSERT_EQ(marg.status, 0) << marg.err;
  EXPECT_NE(marg.out.find("Running in \033[42;4mmarginal\033[0m mode\n"), std::string::npos);
  EXPECT_NE(marg.out.find("According to MML, the hypothesis that <S,T> are related is worse than null, so NOT "
                          "related.\n" + RULE),
            std::string::npos);
  EXPECT_FALSE(testutil::fileExists(dir.file("m.afasta")));

  auto bad = runBinary({"s.fa", "t.fa", "-o", "no/such/dir/x"}, "", dir.path());
  EXPECT_EQ(bad.status, 1);
  EXPECT_NE(bad.err.find("'no/such/dir'"), std::string::npos);
  EXPECT_EQ(std::count(bad.err.begin(), bad.err.end(), '\n'), 1);
}
