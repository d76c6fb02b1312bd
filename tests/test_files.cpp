// Input and output files through the binary: FASTA records, filters and
// notices, pipes, standard input, gzip and byte-order marks and their
// failures, output files that are whole or absent, and the memory check.
#include <gtest/gtest.h>
#include <signal.h>
#include <zlib.h>

#include <thread>

#include "report.h"
#include "seqcorvane/io.h"
#include "testUtil.h"

using testutil::count;
using testutil::filesMatching;
using testutil::randomProtein;
using testutil::runBinary;

namespace {

const std::string ERR = "seqcorvane: error: ";

std::string banner() {
  return testutil::captureStdout([] { coutHeader(std::cout); });
}

}  // namespace

TEST(InputFiles, RecordsFiltersAndNotices) {
  testutil::TempDir dir;
  auto textsOf = [&](const std::string& path) {
    std::vector<std::string> texts;
    for (const seqcorvane::Record& r : seqcorvane::readFasta(path)) texts.push_back(r.text);
    return texts;
  };
  auto records = [&](const std::string& text) {
    testutil::writeFile(dir.file("f.fa"), text);
    return textsOf(dir.file("f.fa"));
  };
  using Records = std::vector<std::string>;
  EXPECT_EQ(records("junk\n>one\nHEAG\nWK\n\nLM\n>two\n>three\nPQ\n"), (Records{"HEAGWKLM", "", "PQ"}));
  EXPECT_EQ(records("HEAG\nWK"), (Records{"HEAGWK"}));  // no header, no final newline
  EXPECT_EQ(records(""), Records{});                    // an empty file holds no record
  EXPECT_EQ(records(" \n\r\n\t\n"), Records{});
  EXPECT_EQ(records(">s\r\nHEAG\r\nWK\r\n"), (Records{"HEAG\rWK\r"}));
  EXPECT_EQ(records("\xEF\xBB\xBF>s\nHEAG\n"), (Records{"HEAG"}));  // byte-order mark skipped
  const std::string longLine(25000, 'W');
  EXPECT_EQ(records(">s\n" + longLine + "\nAC\n"), (Records{longLine + "AC"}));
  EXPECT_EQ(seqcorvane::standardResidues("AXC*DB 9EZFghi\tKLMNPQRSTVWYJOU-\r"), "ACDEFKLMNPQRSTVWY");
  // gzip-compressed input is read as the text it holds
  gzFile gz = gzopen(dir.file("z.fa.gz").c_str(), "wb");
  ASSERT_NE(gz, nullptr);
  gzputs(gz, ">z\nHEAGWKLM\nPQ\n");
  gzclose(gz);
  EXPECT_EQ(textsOf(dir.file("z.fa.gz")), (Records{"HEAGWKLMPQ"}));

  // Through the binary: a soft-masked sequence gets a notice on standard
  // error; blanks and digits are dropped without one; the report is the
  // same as for the filtered sequence.
  testutil::writeFile(dir.file("masked.fa"), ">m\n1 HEAGwkLM 10\n");
  testutil::writeFile(dir.file("clean.fa"), ">c\nHEAGLM\n");
  auto masked = runBinary({"masked.fa", "clean.fa"}, "", dir.path());
  auto clean = runBinary({"clean.fa", "clean.fa"}, "", dir.path());
  EXPECT_EQ(masked.err,
            "seqcorvane: notice: 'masked.fa': dropped 2 characters that are not upper-case residue "
            "letters (ACDEFGHIKLMNPQRSTVWY)\n");
  EXPECT_EQ(masked.out, clean.out);
}

TEST(InputFiles, PipesStandardInputAndFailures) {
  testutil::TempDir dir;
  testutil::writeFile(dir.file("ok.fa"), ">a\nHEAGWKLMPQ\n");
  const auto reference = runBinary({"ok.fa", "ok.fa"}, "", dir.path());
  ASSERT_EQ(reference.status, 0);
  // A named pipe is opened once and read once.
  ASSERT_EQ(::mkfifo(dir.file("pipe.fa").c_str(), 0600), 0);
  std::thread writer([&] { testutil::writeFile(dir.file("pipe.fa"), ">a\nHEAGWKLMPQ\n"); });
  const auto piped = runBinary({"pipe.fa", "ok.fa"}, "", dir.path());
  writer.join();
  EXPECT_EQ(piped.status, 0) << piped.err;
  EXPECT_EQ(piped.out, reference.out);
  const auto fromStdin = runBinary({"/dev/stdin", "ok.fa"}, ">a\nHEAGWKLMPQ\n", dir.path());
  EXPECT_EQ(fromStdin.status, 0) << fromStdin.err;
  EXPECT_EQ(fromStdin.out, reference.out);

  testutil::writeFile(dir.file("three.fa"), ">a\nHE\n>b\nAG\n>c\nW\n");
  testutil::writeFile(dir.file("lower.fa"), ">a\nheagw\nxx\n");
  testutil::writeFile(dir.file("bad.fa.gz"), std::string("\x1f\x8b\x08\x00\x00\x00\x00\x00\x00\x03garbage", 18));
  struct Case {
    std::vector<std::string> args;
    std::string err;
  } cases[] = {
      {{"ok.fa", "three.fa"}, "sequence file 'three.fa' holds 3 records; expected exactly one"},
      {{"lower.fa", "ok.fa"},
       "sequence file 'lower.fa' holds no standard residues (upper-case ACDEFGHIKLMNPQRSTVWY) to align"},
      {{"ok.fa", "bad.fa.gz"}, "cannot read file 'bad.fa.gz': compressed data: "},
  };
  for (const Case& c : cases) {
    auto r = runBinary(c.args, "", dir.path());
    EXPECT_EQ(r.status, 1) << c.err;
    EXPECT_EQ(r.err.rfind(ERR + c.err, 0), 0u) << r.err;
    EXPECT_EQ(count(r.err, "\n"), 1u) << r.err;
    EXPECT_EQ(r.out, banner());  // stopped before the mode line
  }
}

// A failed write leaves the previous file as it was and no partial file; a
// missing output directory is found before the computation.
TEST(OutputFiles, WholeOrAbsent) {
  testutil::TempDir dir;
  std::mt19937 rng(3);
  testutil::writeFile(dir.file("s.fa"), ">s\n" + randomProtein(rng, 3000) + "\n");
  testutil::writeFile(dir.file("output.afasta"), "previous\n");
  // A file size limit (2 KiB) smaller than the alignment (6 KiB): the write fails.
  testutil::writeFile(dir.file("limited.sh"), "(ulimit -f 2; exec '" + testutil::binaryPath() +
                                                  "' s.fa s.fa) >/dev/null 2>err.txt\necho $? > status.txt\n");
  ASSERT_EQ(std::system(("cd '" + dir.path() + "' && bash limited.sh").c_str()), 0);
  EXPECT_EQ(testutil::readFile(dir.file("status.txt")), "1\n");
  EXPECT_EQ(testutil::readFile(dir.file("err.txt")), ERR + "cannot write 'output.afasta': File too large\n");
  EXPECT_EQ(testutil::readFile(dir.file("output.afasta")), "previous\n");
  EXPECT_TRUE(filesMatching(dir.path(), "\\..*tmp.*").empty());

  auto missing = runBinary({"s.fa", "s.fa", "--criterion", "marginal", "-o", "missing/dir/x"}, "", dir.path());
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.err, ERR + "cannot write output files to 'missing/dir': No such file or directory\n");
  EXPECT_EQ(missing.out.find("EVALUATING"), std::string::npos);

  // Ctrl-C while the landscape is written (its temporary files exist): the
  // previous files stay, no temporary file is left behind.
  testutil::writeFile(dir.file("long.fa"), ">l\n" + randomProtein(rng, 1500) + "\n");
  testutil::writeFile(dir.file("x_MarginalProbabilityLandscape.csv"), "previous\n");
  testutil::writeFile(dir.file("interrupt.sh"),
                      "set -m\n'" + testutil::binaryPath() +
                          "' long.fa long.fa --criterion marginal -o x >/dev/null 2>&1 &\npid=$!\n"
                          "while ! ls .x_MarginalProbabilityLandscape.csv.tmp.* >/dev/null 2>&1; do sleep 0.01; done\n"
                          "kill -INT $pid\nwait $pid\necho $? > status.txt\n");
  ASSERT_EQ(std::system(("cd '" + dir.path() + "' && bash interrupt.sh 2>/dev/null").c_str()), 0);
  EXPECT_EQ(testutil::readFile(dir.file("status.txt")), "130\n");
  EXPECT_EQ(testutil::readFile(dir.file("x_MarginalProbabilityLandscape.csv")), "previous\n");
  EXPECT_TRUE(filesMatching(dir.path(), "\\..*tmp.*").empty());
}

TEST(MemoryCheck, ARunThatCannotFitIsRefusedBeforeItStarts) {
#ifdef SEQCORVANE_SANITIZED
  GTEST_SKIP() << "the sanitizers reserve more address space than the limit allows";
#endif
  testutil::TempDir dir;
  std::mt19937 rng(5);
  testutil::writeFile(dir.file("big.fa"), ">b\n" + randomProtein(rng, 6000) + "\n");
  testutil::RunOptions limited;
  limited.addressSpace = 400L << 20;
  auto r = runBinary({"big.fa", "big.fa", "--criterion", "marginal"}, "", dir.path(), limited);
  EXPECT_EQ(r.status, 1);
  EXPECT_FALSE(r.signaled);
  EXPECT_TRUE(std::regex_match(r.err, std::regex("seqcorvane: error: aligning sequences of 6000 and 6000 residues "
                                                 "with the marginal criterion needs [0-9]+\\.[0-9] [MG]iB of memory; "
                                                 "[0-9]+\\.[0-9] [MG]iB available\n")))
      << r.err;
  EXPECT_EQ(r.out.find("Running in"), std::string::npos);
}
