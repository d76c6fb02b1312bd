// What must never happen to a user's results, through the programs: stale
// rows reused, a table cut short, an input or a device replaced, a row of
// the wrong shape, a file left behind, a failure reported as success.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <zlib.h>

#include <fstream>

#include "batchUtil.h"
#include "testUtil.h"

using batchtest::batch;
using testutil::count;
using testutil::filesMatching;

namespace {

// A command line run by the shell in cwd (for redirections).
testutil::RunResult shell(const std::string& command, const std::string& cwd) {
  testutil::RunOptions o;
  o.program = "/bin/bash";
  return testutil::runBinary({"-c", command}, "", cwd, o);
}

void writeExamples(const testutil::TempDir& dir) {
  std::string all;
  for (const char* f : {"hbb_human.fa", "hba_macfa.fa", "myg_horse.fa"})
    all += testutil::readFile(testutil::examplePath(f));
  testutil::writeFile(dir.file("all.fa"), all);
}

// The rows (not '#' lines, not the header) of a table, split into fields.
std::vector<std::vector<std::string>> rowsOf(const std::string& table) {
  std::vector<std::vector<std::string>> rows;
  std::istringstream lines(table);
  bool header = false;
  for (std::string line; std::getline(lines, line);) {
    if (line.empty() || line[0] == '#') continue;
    if (!header) {
      header = true;
      continue;
    }
    std::vector<std::string> f;
    std::istringstream fields(line);
    for (std::string x; std::getline(fields, x, '\t');) f.push_back(x);
    rows.push_back(f);
  }
  return rows;
}

void gzipTo(const std::string& path, const std::string& text, size_t keepBytes) {
  const std::string whole = path + ".whole";
  gzFile gz = gzopen(whole.c_str(), "wb");
  gzwrite(gz, text.data(), static_cast<unsigned>(text.size()));
  gzclose(gz);
  const std::string bytes = testutil::readFile(whole);
  testutil::writeFile(path, bytes.substr(0, std::min(keepBytes, bytes.size())));
}

}  // namespace

TEST(Reliability, TruncatedCompressedFilesAreErrors) {
  testutil::TempDir dir;
  writeExamples(dir);
  gzipTo(dir.file("cut.fa.gz"), testutil::readFile(testutil::examplePath("hbb_human.fa")), 100);
  auto single = testutil::runBinary({"cut.fa.gz", "all.fa"}, "", dir.path());
  EXPECT_EQ(single.status, 1);
  EXPECT_NE(single.err.find("seqcorvane: error: cannot read file 'cut.fa.gz': the compressed data ends before its end"),
            std::string::npos)
      << single.err;
  gzipTo(dir.file("all.fa.gz"), testutil::readFile(dir.file("all.fa")), 400);
  auto b = batch({"all.fa.gz"}, dir.path());
  EXPECT_EQ(b.status, 1);
  EXPECT_EQ(count(b.err, "\n"), 1u) << b.err;
  EXPECT_NE(b.err.find("'all.fa.gz': the compressed data ends before its end"), std::string::npos) << b.err;
}

// A resume reuses a row only for the same sequences, criterion and models,
// says how many pairs were done, and writes alignment files it lacks.
TEST(Reliability, ResumesNeverKeepStaleRows) {
  testutil::TempDir dir;
  writeExamples(dir);
  ASSERT_EQ(batch({"all.fa", "-o", "t.tsv"}, dir.path()).status, 0);
  const std::string first = testutil::readFile(dir.file("t.tsv"));
  // One sequence longer: its two pairs are aligned again.
  std::string text = testutil::readFile(dir.file("all.fa"));
  text.insert(text.find("\n", text.find(">HBA_MACFA")) + 1, "WWWWWWWWWWWWW\n");
  testutil::writeFile(dir.file("all.fa"), text);
  auto again = batch({"all.fa", "-o", "t.tsv"}, dir.path());
  ASSERT_EQ(again.status, 0) << again.err;
  EXPECT_EQ(again.err,
            "seqcorvane-batch: resuming 't.tsv': 1 of 3 pairs done, 2 to align (2 whose sequences changed "
            "since)\n");
  const auto rows = rowsOf(testutil::readFile(dir.file("t.tsv")));
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0][3], "154");  // HBB_HUMAN / HBA_MACFA: 141 + 13 residues
  EXPECT_EQ(rows[1], rowsOf(first)[1]);
  // Another criterion, other models: refused, the table untouched.
  const std::string before = testutil::readFile(dir.file("t.tsv"));
  auto other = batch({"all.fa", "-o", "t.tsv", "--criterion", "marginal"}, dir.path());
  EXPECT_EQ(other.status, 1);
  EXPECT_EQ(other.err,
            "seqcorvane-batch: error: the table 't.tsv' holds pairs of the optimal criterion, not "
            "marginal: remove it or name another table with -o\n");
  testutil::TempDir models;
  testutil::makeModelDir(models.path(), {{"DirichletPriorsGivenN.txt",
                                          "# a comment line changes the digest\n" +
                                              testutil::readFile(testutil::dataDir() + "/DirichletPriorsGivenN.txt")}});
  auto changedModels = batch({"all.fa", "-o", "t.tsv", "--data", models.file("data")}, dir.path());
  EXPECT_EQ(changedModels.status, 1);
  EXPECT_NE(changedModels.err.find("was made with other models"), std::string::npos) << changedModels.err;
  EXPECT_EQ(testutil::readFile(dir.file("t.tsv")), before);
  // A posterior table states its decoding; one that does not (made before
  // the end gaps were priced alike) is refused, not mixed with new rows.
  ASSERT_EQ(batch({"all.fa", "-o", "p.tsv", "--criterion", "posterior"}, dir.path()).status, 0);
  std::string posterior = testutil::readFile(dir.file("p.tsv"));
  ASSERT_NE(posterior.find("\n# decoding: end gaps alike\n"), std::string::npos) << posterior;
  posterior.erase(posterior.find("# decoding: "), std::string("# decoding: end gaps alike\n").size());
  testutil::writeFile(dir.file("p.tsv"), posterior);
  auto older = batch({"all.fa", "-o", "p.tsv", "--criterion", "posterior"}, dir.path());
  EXPECT_EQ(older.status, 1);
  EXPECT_EQ(older.err,
            "seqcorvane-batch: error: the table 'p.tsv' was decoded otherwise (no decoding stated; now end gaps "
            "alike): remove it or name another table with -o\n");
  EXPECT_EQ(testutil::readFile(dir.file("p.tsv")), posterior);
  // A rerun that adds --alignments writes every pair's file.
  auto withFiles = batch({"all.fa", "-o", "t.tsv", "--alignments", "out/aln"}, dir.path());
  ASSERT_EQ(withFiles.status, 0) << withFiles.err;
  EXPECT_NE(withFiles.err.find("0 of 3 pairs done, 3 to align (3 without their alignment file)"), std::string::npos)
      << withFiles.err;
  EXPECT_EQ(filesMatching(dir.file("out/aln"), ".*\\.afasta").size(), 3u);
  // A file that is no table of this program is left alone.
  testutil::writeFile(dir.file("notes.tsv"), "my notes\n");
  auto notes = batch({"all.fa", "-o", "notes.tsv"}, dir.path());
  EXPECT_EQ(notes.status, 1);
  EXPECT_EQ(testutil::readFile(dir.file("notes.tsv")), "my notes\n");
}

TEST(Reliability, TablesAreWrittenWholeOrTheRunFails) {
  testutil::TempDir dir;
  writeExamples(dir);
  auto full = shell(std::string(SEQCORVANE_BATCH_BINARY) + " all.fa > /dev/full", dir.path());
  EXPECT_EQ(full.status, 1);
  EXPECT_EQ(full.err, "seqcorvane-batch: error: cannot write the table to standard output: No space left on device\n");
  auto closed = shell(std::string(SEQCORVANE_BATCH_BINARY) + " all.fa >&-", dir.path());
  EXPECT_EQ(closed.status, 1);
  auto device = batch({"all.fa", "-o", "/dev/full"}, dir.path());
  EXPECT_EQ(device.status, 1);
  EXPECT_EQ(device.err, "seqcorvane-batch: error: cannot write '/dev/full': No space left on device\n");
  auto toStdout = shell(std::string(SEQCORVANE_BATCH_BINARY) + " all.fa -o /dev/stdout | cat", dir.path());
  EXPECT_EQ(toStdout.status, 0) << toStdout.err;
  EXPECT_EQ(rowsOf(toStdout.out).size(), 3u);
  EXPECT_TRUE(filesMatching(dir.path(), ".*partial.*").empty());
  auto single = shell(std::string(SEQCORVANE_BINARY) + " all.fa all.fa > /dev/full", dir.path());
  EXPECT_EQ(single.status, 1);  // (two records: an input error; the report fails first)
  testutil::writeFile(dir.file("one.fa"), testutil::readFile(testutil::examplePath("hbb_human.fa")));
  auto report = shell(std::string(SEQCORVANE_BINARY) + " one.fa one.fa > /dev/full", dir.path());
  EXPECT_EQ(report.status, 1);
  EXPECT_NE(report.err.find("seqcorvane: error: cannot write the report to standard output"), std::string::npos);
  // A directory named as the table.
  ::mkdir(dir.file("t.tsv").c_str(), 0755);
  auto isDir = batch({"all.fa", "-o", "t.tsv"}, dir.path());
  EXPECT_EQ(isDir.err, "seqcorvane-batch: error: cannot write the table 't.tsv': Is a directory\n");
}

TEST(Reliability, OutputsNeverReplaceInputs) {
  testutil::TempDir dir;
  writeExamples(dir);
  const std::string victim = testutil::readFile(dir.file("all.fa"));
  auto b = batch({"all.fa", "-o", "all.fa"}, dir.path());
  EXPECT_EQ(b.status, 1);
  EXPECT_EQ(b.err,
            "seqcorvane-batch: error: the table 'all.fa' is one of the input files: name another table with "
            "-o\n");
  EXPECT_EQ(testutil::readFile(dir.file("all.fa")), victim);
  testutil::writeFile(dir.file("h.fa"), testutil::readFile(testutil::examplePath("hbb_human.fa")));
  testutil::writeFile(dir.file("a.fa"), testutil::readFile(testutil::examplePath("hba_macfa.fa")));
  testutil::writeFile(dir.file("list.tsv"), "h.fa\ta.fa\n");
  EXPECT_EQ(batch({"--pairs", "list.tsv", "-o", "list.tsv"}, dir.path()).status, 1);
  EXPECT_EQ(testutil::readFile(dir.file("list.tsv")), "h.fa\ta.fa\n");
  testutil::writeFile(dir.file("q1.afasta"), testutil::readFile(dir.file("h.fa")));
  auto single = testutil::runBinary({"q1.afasta", "a.fa", "-o", "q1"}, "", dir.path());
  EXPECT_EQ(single.status, 1);
  EXPECT_NE(single.err.find("the output file 'q1.afasta' is the input file 'q1.afasta'"), std::string::npos);
  EXPECT_EQ(testutil::readFile(dir.file("q1.afasta")), testutil::readFile(dir.file("h.fa")));
}

// A pair whose alignment file cannot be written is an error row of the
// table's shape; file names stay unique; records that share a header in
// different files are different pairs; CRLF lists work.
TEST(Reliability, RowsKeepTheirShapeAndFilesTheirNames) {
  testutil::TempDir dir;
  writeExamples(dir);
  ::mkdir(dir.file("aln").c_str(), 0755);
  ::mkdir(dir.file("aln/HBB_HUMAN__HBA_MACFA.afasta").c_str(), 0755);  // in the way of the file
  auto b = batch({"all.fa", "-o", "t.tsv", "--alignments", "aln"}, dir.path());
  EXPECT_EQ(b.status, 3);
  const auto rows = rowsOf(testutil::readFile(dir.file("t.tsv")));
  ASSERT_EQ(rows.size(), 3u);
  for (const auto& r : rows) EXPECT_EQ(r.size(), 15u);
  EXPECT_EQ(rows[0][12], "error");
  EXPECT_EQ(rows[1][12], "ok");

  testutil::writeFile(dir.file("ids.fa"), ">x:1\nHEAGAWGHEE\n>x_1\nHEAGAWGHEK\n>y\nHEAGAWGHER\n");
  auto names = batch({"ids.fa", "--alignments", "ids"}, dir.path());
  ASSERT_EQ(names.status, 0) << names.err;
  EXPECT_EQ(filesMatching(dir.file("ids"), ".*\\.afasta").size(), 3u);

  testutil::writeFile(dir.file("p1.fa"), ">same\nHEAGAWGHEE\n");
  testutil::writeFile(dir.file("p2.fa"), ">same\nHEAGAWGHEK\n");
  testutil::writeFile(dir.file("p3.fa"), ">same\nPAWHEAE\n");
  testutil::writeFile(dir.file("crlf.tsv"), "p1.fa\tp3.fa\r\np2.fa\tp3.fa\r\n");
  auto listed = batch({"--pairs", "crlf.tsv"}, dir.path());
  ASSERT_EQ(listed.status, 0) << listed.err;
  EXPECT_EQ(rowsOf(listed.out).size(), 2u);
  testutil::writeFile(dir.file("bad.tsv"), "p1.fa\n");
  auto bad = batch({"--pairs", "bad.tsv"}, dir.path());
  EXPECT_EQ(bad.err, "seqcorvane-batch: error: 'bad.tsv':1: expected two file names separated by a tab\n");
}

TEST(Reliability, InputsThatYieldNoPairOrLoseResiduesSaySo) {
  testutil::TempDir dir;
  testutil::writeFile(dir.file("one.fa"), ">only\nHEAGAWGHEE\n");
  auto one = batch({"one.fa"}, dir.path());
  EXPECT_EQ(one.status, 1);
  EXPECT_EQ(one.err,
            "seqcorvane-batch: error: no pairs to align: 'one.fa' holds 1 record (pairs within a file need two)\n");
  testutil::writeFile(dir.file("lead.fa"), "HEAG\n>a\nHEAGAWGHEE\n>b\nPAWHEAE\n");
  auto lead = batch({"lead.fa"}, dir.path());
  EXPECT_EQ(lead.status, 0);
  EXPECT_NE(lead.err.find("'lead.fa': dropped 4 characters before the first header"), std::string::npos);
  auto single = testutil::runBinary({"lead.fa", "one.fa"}, "", dir.path());
  EXPECT_EQ(single.status, 1);  // two records: refused, after the notice
  EXPECT_NE(single.err.find("'lead.fa': dropped 4 characters before the first header"), std::string::npos);
  // A shard holds only its own pairs: 100,000 records, one pair in 10 million.
  {
    std::ofstream big(dir.file("big.fa"));
    for (int k = 0; k < 100000; ++k) big << ">s" << k << "\nHEAGW\n";
  }
  testutil::RunOptions limited;
#ifndef SEQCORVANE_SANITIZED
  limited.addressSpace = 1L << 30;
#endif
  auto shard = batch({"big.fa", "--shard", "7/10000000", "--threads", "1"}, dir.path(), limited);
  EXPECT_EQ(shard.status, 0) << shard.err;
  EXPECT_EQ(rowsOf(shard.out).size(), 500u);
}

// A marginal run whose landscape cannot be written leaves neither file nor
// temporary file; a null model with a letter the substitution model lacks
// names its file.
TEST(Reliability, FailedWritesLeaveNothingAndModelErrorsNameTheirFile) {
  testutil::TempDir dir;
  testutil::writeFile(dir.file("s.fa"), testutil::readFile(testutil::examplePath("hbb_human.fa")));
  auto limited = shell("ulimit -f 20; exec " + std::string(SEQCORVANE_BINARY) + " s.fa s.fa --criterion marginal -o x",
                       dir.path());
  EXPECT_EQ(limited.status, 1);
  EXPECT_NE(limited.err.find("File too large"), std::string::npos) << limited.err;
  EXPECT_TRUE(filesMatching(dir.path(), "(\\..*tmp.*|x_.*)").empty());
  testutil::TempDir models;
  std::string null = testutil::readFile(testutil::dataDir() + "/protSeqNullMMLEstimatesOrder0.txt");
  null[0] = 'a';
  testutil::makeModelDir(models.path(), {{"protSeqNullMMLEstimatesOrder0.txt", null}});
  auto lower = testutil::runBinary({"s.fa", "s.fa", "--data", models.file("data")}, "", dir.path());
  EXPECT_EQ(lower.status, 1);
  EXPECT_NE(lower.err.find(models.file("data") + "/protSeqNullMMLEstimatesOrder0.txt: the null model's alphabet"),
            std::string::npos)
      << lower.err;
  // A fitted-emissions table that does not sum to 1 stops the run before
  // any alignment, in one line naming the file.
  testutil::TempDir bad;
  std::string table = "# header\nalphabet ARNDCQEGHILKMFPSTWYV\nK 50\n";
  for (int a = 0; a < 20; ++a) {
    for (int b = 0; b < 20; ++b) table += b ? " 0.002" : "0.002";
    table += "\n";
  }
  testutil::makeModelDir(bad.path(), {{"posteriorMatchJoints.txt", table}});
  auto unsummed =
      testutil::runBinary({"s.fa", "s.fa", "--criterion", "posterior", "--data", bad.file("data")}, "", dir.path());
  EXPECT_EQ(unsummed.status, 1);
  EXPECT_EQ(unsummed.err, "seqcorvane: error: " + bad.file("data") +
                              "/posteriorMatchJoints.txt: the table at K 50 sums to 0.8, not 1\n");
}
