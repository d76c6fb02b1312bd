// Where the single program's results go: the alignment in any format to
// standard output with the report on standard error (--stdout) or silenced
// (--quiet), the marginal criteria's result as JSON, no landscape files
// (--no-landscape); the default outputs stay as they are.
#include <gtest/gtest.h>

#include "testUtil.h"

using testutil::runBinary;

namespace {

const std::string S_FA = "hbb_human.fa", T_FA = "hba_macfa.fa";

void copyExamples(const testutil::TempDir& dir) {
  for (const std::string& f : {S_FA, T_FA})
    testutil::writeFile(dir.file(f), testutil::readFile(testutil::examplePath(f)));
}

testutil::RunResult run(const testutil::TempDir& dir, std::vector<std::string> args) {
  args.insert(args.begin(), {S_FA, T_FA});
  return runBinary(args, "", dir.path());
}

}  // namespace

TEST(Outputs, AlignmentToStandardOutputReportToStandardErrorOrNowhere) {
  testutil::TempDir dir;
  copyExamples(dir);
  for (const std::string format : {"afasta", "fasta", "clustal", "stockholm", "json"}) {
    SCOPED_TRACE(format);
    const auto file = run(dir, {"--criterion", "posterior", "--format", format, "-o", "f"});
    ASSERT_EQ(file.status, 0) << file.err;
    const std::string ext = format == "clustal" ? ".aln" : format == "stockholm" ? ".sto" : "." + format;
    const std::string written = testutil::readFile(dir.file("f" + ext));
    const auto piped = run(dir, {"--criterion", "posterior", "--format", format, "-o", "p", "--stdout"});
    ASSERT_EQ(piped.status, 0) << piped.err;
    EXPECT_EQ(piped.out, written);
    EXPECT_FALSE(testutil::fileExists(dir.file("p" + ext)));
    // The report, on standard error, is the file run's but for where the alignment went.
    EXPECT_NE(piped.err.find("standard output"), std::string::npos);
    EXPECT_EQ(piped.err.substr(0, piped.err.find("EVALUATING")), file.out.substr(0, file.out.find("EVALUATING")));
    const auto quiet = run(dir, {"--criterion", "posterior", "--format", format, "-o", "q", "--stdout", "--quiet"});
    EXPECT_EQ(quiet.status, 0);
    EXPECT_EQ(quiet.out, written);
    EXPECT_EQ(quiet.err, "");
  }
  const auto silent = run(dir, {"--quiet", "-o", "s"});
  EXPECT_EQ(silent.status, 0);
  EXPECT_EQ(silent.out, "");
  EXPECT_TRUE(testutil::fileExists(dir.file("s.afasta")));
}

TEST(Outputs, MarginalResultAsJsonAndWithoutTheLandscape) {
  testutil::TempDir dir;
  copyExamples(dir);
  const auto json = run(dir, {"--criterion", "marginal", "--format", "json", "-o", "m"});
  ASSERT_EQ(json.status, 0) << json.err;
  const std::string text = testutil::readFile(dir.file("m.json"));
  EXPECT_NE(text.find("\"criterion\": \"marginal\""), std::string::npos);
  EXPECT_NE(text.find("\"rows\": []"), std::string::npos);
  EXPECT_NE(json.out.find("Result (json) file written to:"), std::string::npos);
  EXPECT_TRUE(testutil::fileExists(dir.file("m_MarginalProbabilityLandscape.csv")));

  const auto bare = run(dir, {"--criterion", "marginal", "-o", "n", "--no-landscape"});
  ASSERT_EQ(bare.status, 0) << bare.err;
  EXPECT_FALSE(testutil::fileExists(dir.file("n_MarginalProbabilityLandscape.csv")));
  EXPECT_FALSE(testutil::fileExists(dir.file("n_MarginalProbabilityLandscape.m")));
  EXPECT_NE(bare.out.find("Landscape files not written (--no-landscape)\n"), std::string::npos);
  // The message length and the verdict are those of the run with the landscape.
  const auto full = run(dir, {"--criterion", "marginal", "-o", "o"});
  auto compression = [](const std::string& out) { return out.substr(out.find("COMPRESSION")); };
  EXPECT_EQ(compression(bare.out), compression(full.out));

  const auto clustal = run(dir, {"--criterion", "marginal", "--format", "clustal", "--no-landscape"});
  EXPECT_EQ(clustal.status, 0);
  EXPECT_EQ(clustal.err,
            "seqcorvane: notice: --format clustal has no effect with the marginal criterion, which gives no alignment: "
            "no alignment file is written (json states the result)\n");
  const auto piped = run(dir, {"--criterion", "marginal", "--stdout", "--no-landscape"});
  EXPECT_EQ(piped.status, 0);
  EXPECT_EQ(piped.out, "");
  EXPECT_NE(piped.err.find("seqcorvane: notice: --stdout with the marginal criterion, which gives no alignment, "
                           "writes nothing to standard output without --format json\n"),
            std::string::npos)
      << piped.err;
  const auto optimal = run(dir, {"--no-landscape", "-o", "x"});
  EXPECT_EQ(optimal.err,
            "seqcorvane: notice: --no-landscape has no effect with the optimal criterion, which writes no landscape\n");
}

TEST(Outputs, FlagsTakeNoValue) {
  testutil::TempDir dir;
  copyExamples(dir);
  for (const std::string flag : {"--stdout", "--quiet", "--no-landscape"}) {
    const auto r = run(dir, {flag, "x"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("::CmdLineError:: Option '" + flag + "' takes no argument\n"), std::string::npos) << r.err;
  }
}
