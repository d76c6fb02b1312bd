// The null model's table loader and look-ups, on tables written into a
// temporary ./data directory.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "nullModelClass.h"
#include "testUtil.h"

namespace {

const std::string AMINO = "ACDEFGHIKLMNPQRSTVWY";

// A temporary directory with an empty data/ inside, made the working
// directory for the object's lifetime so that ./data wins the look-up.
class InDataDir {
 public:
  InDataDir() {
    char buf[4096];
    oldCwd = ::getcwd(buf, sizeof buf) ? buf : "/";
    ::mkdir(tmp.file("data").c_str(), 0755);
    EXPECT_EQ(::chdir(tmp.path().c_str()), 0);
  }
  ~InDataDir() { EXPECT_EQ(::chdir(oldCwd.c_str()), 0); }
  void table(const std::string& order, const std::string& text) const {
    testutil::writeFile(tmp.file("data/protSeqNullMMLEstimatesOrder" + order + ".txt"), text);
  }

 private:
  testutil::TempDir tmp;
  std::string oldCwd;
};

std::string num(double v) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.17g", v);
  return buf;
}

double order0Pr(int i) { return (i + 1) / 210.0; }  // sums to 1 over the 20 letters

std::string order0Table() {
  std::string text;
  for (int i = 0; i < 20; ++i) text += std::string(1, AMINO[i]) + " " + num(order0Pr(i)) + "\n";
  return text;
}

double order1Pr(int i, int j) { return (1 + ((i * 7 + j * 3) % 20)) / 210.0; }

// All 400 two-letter contexts, leaving out `skip`.
std::string order1Table(const std::string& skip = "") {
  std::string text;
  for (int i = 0; i < 20; ++i)
    for (int j = 0; j < 20; ++j) {
      const std::string ctx{AMINO[i], AMINO[j]};
      if (ctx != skip) text += ctx + "\t" + num(order1Pr(i, j)) + "\n";
    }
  return text;
}

}  // namespace

// A repeated context (the first line counts) and a last line without newline
// (read).
TEST(NullModel, Order0TableLoads) {
  InDataDir dir;
  std::string text = order0Table();
  text.insert(text.find("C "), "A 0.9\n");
  text.pop_back();
  dir.table("0", text);
  nullModelClass_t m("0");
  EXPECT_EQ(m.getOrder(), 0u);
  EXPECT_EQ(m.getAlphabetSize(), 20u);
  EXPECT_EQ(m.getAlphabet(), AMINO);
  EXPECT_EQ(m.pr("A"), order0Pr(0));
  EXPECT_EQ(m.pr("Y"), order0Pr(19));
  EXPECT_TRUE(m.isCompatible("ARNDCQEGHILKMFPSTWYV"));
  EXPECT_TRUE(m.isCompatible(""));
  EXPECT_FALSE(m.isCompatible("ACB"));
}

TEST(NullModel, Order1TableGivesOrder1) {
  InDataDir dir;
  dir.table("1", order1Table());
  nullModelClass_t m("1");
  EXPECT_EQ(m.getOrder(), 1u);
  EXPECT_EQ(m.getAlphabet(), AMINO);
  EXPECT_EQ(m.pr("AR"), order1Pr(0, 14));
  EXPECT_EQ(m.pr("RA"), order1Pr(14, 0));
  EXPECT_NE(m.pr("AR"), m.pr("RA"));
}

TEST(NullModelDeathTest, IncompleteTableIsNamed) {
  InDataDir dir;
  // "AR" missing, "AC" repeated: 399 distinct contexts over 20 letters.
  dir.table("1", order1Table("AR") + "AC 0.5\n");
  EXPECT_EXIT(nullModelClass_t("1"), ::testing::ExitedWithCode(1),
              "^seqcorvane: error: \\./data/protSeqNullMMLEstimatesOrder1\\.txt: incomplete table: "
              "alphabet size 20, order 1: expected 400 contexts, found 399\n$");
}

TEST(NullModelDeathTest, DeviatingContextLengthStops) {
  InDataDir dir;
  dir.table("0", "A 0.5\nDD 0.1\nC 0.3\nCC 0.1\n");
  EXPECT_EXIT(nullModelClass_t("0"), ::testing::ExitedWithCode(1),
              "^Found a context CC of deviating length\\.\n"
              "All contexts should be of the same length\\. Terminating!\n$");
}

TEST(NullModelDeathTest, MalformedLinesAreNamed) {
  struct Case {
    std::string text, message;
  };
  const std::vector<Case> cases = {
      {"A 0.5\n\nC 0.5\n", ":2: blank line"},
      {"A 0.5\nC\n", ":2: context 'C' has no probability"},
      {"A 0.5\nC 0.5x\n", ":2: '0\\.5x' is not a number"},
      {"A 0.5\nC -0.1\n", ":2: probability -0\\.1 of context 'C' is outside \\[0, 1\\]"},
      {"A 0.5\nC " + std::string(9998, '1') + "\n", ":2: line longer than 9999 characters"},
      {"", ": no contexts found"},
  };
  for (const Case& c : cases) {
    InDataDir dir;
    dir.table("0", c.text);
    EXPECT_EXIT(nullModelClass_t("0"), ::testing::ExitedWithCode(1),
                "^seqcorvane: error: \\./data/protSeqNullMMLEstimatesOrder0\\.txt" + c.message)
        << c.text.substr(0, 40);
  }
}

TEST(NullModelDeathTest, LookupOutsideTableStops) {
  InDataDir dir;
  dir.table("0", order0Table());
  nullModelClass_t m("0");
  EXPECT_EXIT(m.pr("AC"), ::testing::ExitedWithCode(2), "ctx\\.length\\(\\)-1 == order");
  EXPECT_EXIT(m.pr(""), ::testing::ExitedWithCode(2), "ctx\\.length\\(\\)-1 == order");
  EXPECT_EXIT(m.pr("B"), ::testing::ExitedWithCode(2), "it != ctx2pr\\.end\\(\\)");
}

// The table shipped in data/ loads and covers the substitution model's letters.
TEST(NullModel, ShippedOrder0Table) {
  if (!testutil::fileExists(testutil::sourceDir() + "/data/protSeqNullMMLEstimatesOrder0.txt")) GTEST_SKIP();
  char buf[4096];
  const std::string oldCwd = ::getcwd(buf, sizeof buf) ? buf : "/";
  ASSERT_EQ(::chdir(testutil::sourceDir().c_str()), 0);
  nullModelClass_t m("0");
  ASSERT_EQ(::chdir(oldCwd.c_str()), 0);
  EXPECT_EQ(m.getOrder(), 0u);
  EXPECT_EQ(m.getAlphabet(), AMINO);
  EXPECT_TRUE(m.isCompatible("ARNDCQEGHILKMFPSTWYV"));
}
