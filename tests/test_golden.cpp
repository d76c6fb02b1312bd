// Golden output: the binary's whole standard output, and every file it writes,
// compared byte for byte with the expected output stored under tests/golden/,
// for each criterion (optimal, marginal, posterior, marginal-interactive with a fixed
// script of answers) and for the scoring mode (--ivalue) on the optimal run's
// alignment file.
//
// The pair is a fixed short one, tests/golden/hbb_human_1-70.fa against
// tests/golden/hba_macfa_1-70.fa; the local and automatic hypotheses' cases
// align the first against the second placed between unrelated flanks,
// tests/golden/hba_macfa_1-70_in_flanks.fa. Each case runs in a scratch directory that
// holds the two files and its own ./data: a copy of tests/golden/data/. The
// program always prefers ./data, so a later change of the model data shipped
// in data/ leaves these cases alone.
//
// To regenerate the expected files run tests/golden/regenerate.sh, which runs
// these tests with SEQCORVANE_GOLDEN_REGENERATE=1 set, so that they write the
// expected files instead of comparing with them. Regenerating is only right
// when a change of the output is intended, and the new output has been
// checked: these tests exist to catch the changes that are not.
#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "testUtil.h"

using testutil::runBinary;

namespace {

const std::string S_FILE = "hbb_human_1-70.fa";
const std::string T_FILE = "hba_macfa_1-70.fa";
const std::string FLANKED_FILE = "hba_macfa_1-70_in_flanks.fa";
const std::string CSV = "output_MarginalProbabilityLandscape.csv";
const std::string SCRIPT = "output_MarginalProbabilityLandscape.m";
// Answers for the interactive mode: cell (3, 3), continue with another cell,
// cell (0, 0), leave. Nothing is saved, so no file with a time stamp in its
// name is written.
const std::string INTERACTIVE_ANSWERS = "3 3\n1\n0 0\n4\n";

std::string goldenDir() { return testutil::sourceDir() + "/tests/golden"; }

bool regenerating() {
  const char* v = std::getenv("SEQCORVANE_GOLDEN_REGENERATE");
  return v != nullptr && *v != '\0' && std::string(v) != "0";
}

// The names in a directory, sorted, without "." and "..".
std::vector<std::string> listDir(const std::string& dir) {
  std::vector<std::string> names;
  if (DIR* d = ::opendir(dir.c_str())) {
    while (dirent* e = ::readdir(d)) {
      const std::string n = e->d_name;
      if (n != "." && n != "..") names.push_back(n);
    }
    ::closedir(d);
  }
  std::sort(names.begin(), names.end());
  return names;
}

// A scratch directory with the two sequence files and ./data.
void prepare(const testutil::TempDir& dir) {
  for (const std::string& f : {S_FILE, T_FILE, FLANKED_FILE})
    testutil::writeFile(dir.file(f), testutil::readFile(goldenDir() + "/" + f));
  ASSERT_EQ(::mkdir(dir.file("data").c_str(), 0755), 0);
  const std::vector<std::string> dataFiles = listDir(goldenDir() + "/data");
  ASSERT_FALSE(dataFiles.empty()) << "no data files in " << goldenDir() << "/data";
  for (const std::string& f : dataFiles)
    testutil::writeFile(dir.file("data/" + f), testutil::readFile(goldenDir() + "/data/" + f));
}

// Where two texts first differ: line number and the two lines.
std::string firstDifference(const std::string& expected, const std::string& actual) {
  std::istringstream e(expected), a(actual);
  std::string le, la;
  for (int line = 1;; ++line) {
    const bool he = static_cast<bool>(std::getline(e, le));
    const bool ha = static_cast<bool>(std::getline(a, la));
    if (!he && !ha) break;
    if (!he || !ha || le != la) {
      std::ostringstream msg;
      msg << "first difference at line " << line
          << "\n  expected: " << (he ? "\"" + le + "\"" : std::string("(end of text)"))
          << "\n  actual:   " << (ha ? "\"" + la + "\"" : std::string("(end of text)"));
      return msg.str();
    }
  }
  return "the texts differ only in their final newline";
}

// Compares a text with the stored expected file tests/golden/<caseName>/<name>,
// or writes it there when regenerating.
void expectGolden(const std::string& caseName, const std::string& name, const std::string& actual) {
  const std::string dir = goldenDir() + "/" + caseName;
  const std::string path = dir + "/" + name;
  if (regenerating()) {
    ::mkdir(dir.c_str(), 0755);
    testutil::writeFile(path, actual);
    return;
  }
  ASSERT_TRUE(testutil::fileExists(path))
      << "missing expected file " << path << " (tests/golden/regenerate.sh writes it)";
  const std::string expected = testutil::readFile(path);
  EXPECT_TRUE(expected == actual) << caseName << "/" << name
                                  << " differs from the expected output: " << firstDifference(expected, actual)
                                  << "\n  (" << expected.size() << " bytes expected, " << actual.size() << " written)";
}

// Runs the binary in the directory, checks its exit status, standard error and
// that exactly the given output files appeared, and compares standard output and
// those files with the expected ones.
void runCase(const testutil::TempDir& dir, const std::string& caseName, const std::vector<std::string>& args,
             const std::string& stdinText, std::vector<std::string> outputs,
             const std::vector<std::string>& alreadyThere = {}) {
  const testutil::RunResult r = runBinary(args, stdinText, dir.path());
  ASSERT_EQ(r.status, 0) << caseName << ": exit status " << r.status << "\n" << r.err;
  EXPECT_EQ(r.err, "") << caseName;

  std::vector<std::string> expectedNames{"data", S_FILE, T_FILE, FLANKED_FILE};
  expectedNames.insert(expectedNames.end(), outputs.begin(), outputs.end());
  expectedNames.insert(expectedNames.end(), alreadyThere.begin(), alreadyThere.end());
  std::sort(expectedNames.begin(), expectedNames.end());
  expectedNames.erase(std::unique(expectedNames.begin(), expectedNames.end()), expectedNames.end());
  EXPECT_EQ(listDir(dir.path()), expectedNames) << caseName << ": the files in the working directory";

  expectGolden(caseName, "stdout", r.out);
  for (const std::string& f : outputs) {
    ASSERT_TRUE(testutil::fileExists(dir.file(f))) << caseName << ": " << f << " was not written";
    expectGolden(caseName, f, testutil::readFile(dir.file(f)));
  }
}

}  // namespace

TEST(Golden, Optimal) {
  testutil::TempDir dir;
  ASSERT_NO_FATAL_FAILURE(prepare(dir));
  runCase(dir, "optimal", {S_FILE, T_FILE}, "", {"output.afasta"});
}

TEST(Golden, IvalueOfTheOptimalAlignment) {
  testutil::TempDir dir;
  ASSERT_NO_FATAL_FAILURE(prepare(dir));
  const testutil::RunResult opt = runBinary({S_FILE, T_FILE, "--criterion", "optimal"}, "", dir.path());
  ASSERT_EQ(opt.status, 0) << opt.err;
  ASSERT_TRUE(testutil::fileExists(dir.file("output.afasta")));
  runCase(dir, "ivalue", {"--ivalue", "output.afasta"}, "", {}, {"output.afasta"});
}

TEST(Golden, Marginal) {
  testutil::TempDir dir;
  ASSERT_NO_FATAL_FAILURE(prepare(dir));
  runCase(dir, "marginal", {S_FILE, T_FILE, "--criterion", "marginal"}, "", {CSV, SCRIPT});
}

TEST(Golden, MarginalInteractive) {
  testutil::TempDir dir;
  ASSERT_NO_FATAL_FAILURE(prepare(dir));
  runCase(dir, "marginal-interactive", {S_FILE, T_FILE, "--criterion", "marginal-interactive"}, INTERACTIVE_ANSWERS,
          {CSV, SCRIPT});
}

TEST(Golden, Posterior) {
  testutil::TempDir dir;
  ASSERT_NO_FATAL_FAILURE(prepare(dir));
  runCase(dir, "posterior", {S_FILE, T_FILE, "--criterion", "posterior"}, "",
          {"output.afasta", "output.confidence.tsv"});
}

// The verdict calibrated for composition in the report, asked for.
TEST(Golden, OptimalWithTheCalibratedVerdict) {
  testutil::TempDir dir;
  ASSERT_NO_FATAL_FAILURE(prepare(dir));
  runCase(dir, "optimal-calibrated", {S_FILE, T_FILE, "--calibrated"}, "", {"output.afasta"});
}

// The hypotheses beside the global one: their report lines, the region in
// the JSON and Stockholm files, and the scoring of a local alignment.
TEST(Golden, LocalOptimalAndItsScore) {
  testutil::TempDir dir;
  ASSERT_NO_FATAL_FAILURE(prepare(dir));
  runCase(dir, "optimal-local", {S_FILE, FLANKED_FILE, "--mode", "local"}, "", {"output.afasta"});
  runCase(dir, "ivalue-local", {"--ivalue", "output.afasta", "--mode", "local"}, "", {}, {"output.afasta"});
}

TEST(Golden, AutomaticOptimal) {
  testutil::TempDir dir;
  ASSERT_NO_FATAL_FAILURE(prepare(dir));
  runCase(dir, "optimal-auto", {S_FILE, FLANKED_FILE, "--mode", "auto", "--format", "json"}, "", {"output.json"});
}

TEST(Golden, LocalMarginal) {
  testutil::TempDir dir;
  ASSERT_NO_FATAL_FAILURE(prepare(dir));
  runCase(dir, "marginal-local", {S_FILE, FLANKED_FILE, "--criterion", "marginal", "--mode", "local"}, "",
          {CSV, SCRIPT});
}

TEST(Golden, AutomaticPosterior) {
  testutil::TempDir dir;
  ASSERT_NO_FATAL_FAILURE(prepare(dir));
  runCase(dir, "posterior-auto",
          {S_FILE, FLANKED_FILE, "--criterion", "posterior", "--mode", "auto", "--format", "stockholm"}, "",
          {"output.sto", "output.confidence.tsv"});
}
