// The marginal criteria end to end through the binary: the landscape files,
// and the interactive dialogue driven by a script of answers on standard input.
#include <gtest/gtest.h>

#include <dirent.h>

#include <algorithm>
#include <regex>
#include <sstream>

#include "testUtil.h"

using testutil::runBinary;

namespace {

// Two short sequences written into the directory; lengths 5 and 4.
void writePair(const testutil::TempDir& dir) {
  testutil::writeFile(dir.file("s.fa"), ">s\nHEAGW\n");
  testutil::writeFile(dir.file("t.fa"), ">t\nPAWH\n");
}

std::vector<std::string> filesMatching(const std::string& dir, const std::string& pattern) {
  std::vector<std::string> names;
  std::regex re(pattern);
  if (DIR* d = ::opendir(dir.c_str())) {
    while (dirent* e = ::readdir(d))
      if (std::regex_match(e->d_name, re)) names.push_back(e->d_name);
    ::closedir(d);
  }
  std::sort(names.begin(), names.end());
  return names;
}

size_t count(const std::string& text, const std::string& piece) {
  size_t n = 0;
  for (size_t p = text.find(piece); p != std::string::npos; p = text.find(piece, p + 1)) ++n;
  return n;
}

}  // namespace

TEST(MarginalEndToEnd, WritesLandscapeFilesAndVerdict) {
  testutil::TempDir dir;
  writePair(dir);
  auto r = runBinary({"s.fa", "t.fa", "--criterion", "marginal", "-o", "pair"}, "", dir.path());
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_NE(r.out.find("Searching for -log(marginal prob.) of sequences\n"), std::string::npos);
  EXPECT_NE(r.out.find("......................................    [OK]\n"), std::string::npos);
  EXPECT_NE(r.out.find("Computing marginal probability landscape: [OK]\n"), std::string::npos);
  EXPECT_NE(r.out.find("Landscape csv file written to:             "), std::string::npos);
  EXPECT_NE(r.out.find("According to MML, the hypothesis that <S,T> are related is"), std::string::npos);
  EXPECT_EQ(r.out.find("Entering interactive mode"), std::string::npos);
  EXPECT_FALSE(testutil::fileExists(dir.file("pair.afasta")));

  const std::string csv = testutil::readFile(dir.file("pair_MarginalProbabilityLandscape.csv"));
  const std::string script = testutil::readFile(dir.file("pair_MarginalProbabilityLandscape.m"));
  EXPECT_TRUE(std::regex_match(csv, std::regex("(([0-9]+\\.[0-9]{2},){4}[0-9]+\\.[0-9]{2}\n){6}"))) << csv;
  EXPECT_EQ(script.rfind("M  = [", 0), 0u);
  EXPECT_EQ(count(script, ";\n"), 7u);  // five row ends, then "];" and "imagesc(M);"
  EXPECT_NE(script.find("];\nimagesc(M);\n"), std::string::npos);
  // The corners of the landscape both hold the marginal message length.
  const std::string first = csv.substr(0, csv.find(','));
  const std::string lastLine = csv.substr(csv.rfind('\n', csv.size() - 2) + 1);
  const std::string last = lastLine.substr(lastLine.rfind(',') + 1, lastLine.size() - lastLine.rfind(',') - 2);
  EXPECT_EQ(first, last);
  EXPECT_NE(r.out.find("I_marginal(<S,T>) = "), std::string::npos);
}

TEST(MarginalEndToEnd, UnwritableLandscapeIsOneClearLine) {
  testutil::TempDir dir;
  writePair(dir);
  auto r = runBinary({"s.fa", "t.fa", "--criterion", "marginal", "-o", "missing/dir/x"}, "", dir.path());
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "seqcorvane: error: cannot write output files to 'missing/dir': No such file or directory\n");
  // Found before the computation: nothing of the report beyond the input.
  EXPECT_EQ(r.out.find("EVALUATING"), std::string::npos);
}

TEST(InteractiveEndToEnd, WrongIndexesNonNumbersMenuAndSaves) {
  testutil::TempDir dir;
  writePair(dir);
  const std::string answers =
      "3 7\n"        // j out of range for |T| = 4
      "hello\n"      // not two integers
      "2\n"          // only one integer
      "5 4\n"        // the end cell: the optimal alignment
      "9\n"          // not an option: the menu again
      "x\n"          // not a number: the menu again
      "1\n"          // pick another cell
      "0 0\n"        // the origin
      "3\n"          // save and continue
      "2 2\n"
      "3\n"          // save again within the same second
      "0 4\n"
      "2\n";         // save and exit
  auto r = runBinary({"s.fa", "t.fa", "--criterion", "marginal-interactive", "-o", "run"}, answers, dir.path());
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  const std::string wrong =
      "Wrong index(es): index-i should be between 0 and 5 (inclusive)\n"
      "Wrong index(es): index-j should be between 0 and 4 (inclusive)\n"
      "Try again\n";
  EXPECT_EQ(count(r.out, wrong), 3u);
  EXPECT_NE(r.out.find("\n.....Entering interactive mode........     \n"), std::string::npos);
  EXPECT_NE(r.out.find("        Cell (5,4) has been selected\n\n"), std::string::npos);
  EXPECT_NE(r.out.find("        Cell (0,0) has been selected\n\n"), std::string::npos);
  EXPECT_NE(r.out.find("Over all alignments passing through the the cell (2,2):\n"), std::string::npos);
  EXPECT_NE(r.out.find("Enter option [ ]\b\b"), std::string::npos);
  // Six menus: the first cell's shown three times (two bad options), then one per later cell.
  EXPECT_EQ(count(r.out, "  [4] exit interactive mode\n"), 6u);
  EXPECT_EQ(count(r.out, "Alignment fasta (afasta) file written to:  "), 3u);

  // Three distinct time-stamped files; none overwrote another.
  auto saved = filesMatching(dir.path(), "run_[0-9]{4}-[0-9]{2}-[0-9]{2}_[0-9]{6}(_[0-9]+)?\\.afasta");
  ASSERT_EQ(saved.size(), 3u);
  // The last save was the cell (0, 4): four inserts, then five deletes.
  bool found = false;
  for (const auto& name : saved) {
    const std::string text = testutil::readFile(dir.file(name));
    if (text == ">aligned seq 1\n----HEAGW\n\n>aligned seq 2\nPAWH-----\n") found = true;
    EXPECT_EQ(text.rfind(">aligned seq 1\n", 0), 0u);
  }
  EXPECT_TRUE(found);
  // The dialogue ends by option 2; the run closes with its rule.
  EXPECT_NE(r.out.find("----------------------------+=o0o=+-------------------------------\n"), std::string::npos);
}

TEST(InteractiveEndToEnd, EndOfInputLeavesTheModeAtAnyPrompt) {
  testutil::TempDir dir;
  writePair(dir);
  for (const std::string& answers : {std::string(""), std::string("1 1\n"), std::string("1 1\n4\n"),
                                     std::string("9 9\n")}) {
    SCOPED_TRACE(answers);
    auto r = runBinary({"s.fa", "t.fa", "--criterion", "marginal-interactive"}, answers, dir.path());
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_FALSE(r.signaled);
    EXPECT_NE(r.out.find("----------------------------+=o0o=+-------------------------------\n"),
              std::string::npos);
    EXPECT_TRUE(filesMatching(dir.path(), "output_.*\\.afasta").empty());
  }
}

TEST(MarginalEndToEnd, ScriptRunsInOctaveWhenInstalled) {
  if (std::system("command -v octave-cli >/dev/null 2>&1") != 0) GTEST_SKIP() << "octave-cli is not installed";
  testutil::TempDir dir;
  writePair(dir);
  auto r = runBinary({"s.fa", "t.fa", "--criterion", "marginal", "-o", "oct"}, "", dir.path());
  ASSERT_EQ(r.status, 0);
  const std::string cmd = "cd '" + dir.path() +
                          "' && octave-cli --no-gui --eval \"graphics_toolkit('gnuplot'); set(0,'defaultfigurevisible','off'); "
                          "source('oct_MarginalProbabilityLandscape.m'); assert(isequal(size(M), [6 5]))\" >/dev/null 2>&1";
  EXPECT_EQ(std::system(cmd.c_str()), 0);
}
