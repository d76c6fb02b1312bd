// FASTA reading and residue filtering, in process; the failures that end the
// run, through the binary.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include "main.h"
#include "testUtil.h"

using testutil::runBinary;

namespace {

std::vector<std::string> readText(const std::string& text) {
  testutil::TempDir dir;
  testutil::writeFile(dir.file("f.fa"), text);
  return readFastaFile(dir.file("f.fa").c_str());
}

using Records = std::vector<std::string>;

}  // namespace

TEST(Fasta, RecordsAreTheirLinesJoined) {
  EXPECT_EQ(readText("junk\n>one\nHEAG\nWK\n\nLM\n>two\n>three\nPQ\n"), (Records{"HEAGWKLM", "", "PQ"}));
  EXPECT_EQ(readText("HEAG\nWK\n"), (Records{"HEAGWK"}));  // no header: one record
  EXPECT_EQ(readText(""), (Records{""}));
  EXPECT_EQ(readText(">only a header\n"), (Records{""}));
  // the last line counts without its newline
  EXPECT_EQ(readText(">s\nHEAG\nWK"), (Records{"HEAGWK"}));
  // carriage returns stay in the raw record; the filter drops them
  Records crlf = readText(">s\r\nHEAG\r\nWK\r\n");
  EXPECT_EQ(crlf, (Records{"HEAG\rWK\r"}));
  EXPECT_EQ(removeNonStandardAA(crlf[0]), "HEAGWK");
}

TEST(Fasta, LinesLongerThanTheUsualLimitAreReadWhole) {
  const std::string longLine(25000, 'W');
  EXPECT_EQ(readText(">s\n" + longLine + "\nAC\n>t\nK\n"), (Records{longLine + "AC", "K"}));
}

TEST(Fasta, FilterKeepsOnlyTheTwentyUpperCaseResidues) {
  EXPECT_EQ(removeNonStandardAA("AXC*DB 9EZFghi\tKLMNPQRSTVWYJOU-"), "ACDEFKLMNPQRSTVWY");
  EXPECT_EQ(removeNonStandardAA("heagwk"), "");
}

TEST(Fasta, AlignmentColumnsOutsideResiduesAndGapsArePrintedAndDropped) {
  std::vector<std::string> rows;
  std::string out = testutil::captureStdout(
      [&] { rows = removeNonStandardAAColumnsInAlgn({"AAx--C", "X-?-WC"}); });
  EXPECT_EQ(out, "AX\nx?\nx?\n");  // A over X once, x over ? twice, the column of two gaps silently
  EXPECT_EQ(rows, (std::vector<std::string>{"A-C", "-WC"}));
}

TEST(Fasta, SequenceFileFailuresNameTheFile) {
  testutil::TempDir dir;
  testutil::writeFile(dir.file("ok.fa"), ">a\nHEAGW\n");
  testutil::writeFile(dir.file("three.fa"), ">a\nHE\n>b\nAG\n>c\nW\n");
  testutil::writeFile(dir.file("lower.fa"), ">a\nheagw\nxx\n");
  ::mkdir(dir.file("adir.fa").c_str(), 0755);  // opens, but cannot be read
  const std::string banner = testutil::captureStdout(coutHeader);
  struct Case {
    std::vector<std::string> args;
    std::string err;
  } cases[] = {
      {{"ok.fa", "three.fa"}, "sequence file 'three.fa' holds 3 records; expected exactly one"},
      {{"lower.fa", "ok.fa"},
       "sequence file 'lower.fa' holds no standard residues (upper-case ACDEFGHIKLMNPQRSTVWY) to align"},
      {{"ok.fa", "adir.fa"}, "cannot read file 'adir.fa': Is a directory"},
  };
  for (const Case& c : cases) {
    auto r = runBinary(c.args, "", dir.path());
    EXPECT_EQ(r.status, 1) << c.err;
    EXPECT_EQ(r.err, "seqcorvane: error: " + c.err + "\n");
    EXPECT_EQ(r.out, banner);  // stopped before the mode line
  }
}
