// seqcorvane-batch through its binary: the same numbers as the single-pair
// program, the three ways to name pairs, shards, resuming, failed pairs.
#include <gtest/gtest.h>

#include <regex>
#include <sstream>

#include "testUtil.h"

namespace {

const std::string HEADER =
    "id_s\tid_t\tlength_s\tlength_t\tcriterion\tK\tnull_bits\talignment_bits\tcompression_bits\tidentity\t"
    "gap_openings\tseconds\tstatus\tpair_digest";

testutil::RunResult batch(const std::vector<std::string>& args, const std::string& cwd) {
  testutil::RunOptions o;
  o.program = SEQCORVANE_BATCH_BINARY;
  return testutil::runBinary(args, "", cwd, o);
}

// The header and the rows of a table (its '#' lines left out).
std::vector<std::vector<std::string>> rowsOf(const std::string& table) {
  std::vector<std::vector<std::string>> rows;
  std::istringstream lines(table);
  for (std::string line; std::getline(lines, line);) {
    if (!line.empty() && line[0] == '#') continue;
    std::vector<std::string> f;
    std::istringstream fields(line);
    for (std::string x; std::getline(fields, x, '\t');) f.push_back(x);
    rows.push_back(f);
  }
  return rows;
}

// The table without its seconds column, which differs from run to run.
std::string withoutSeconds(const std::string& table) {
  std::string out;
  for (auto& row : rowsOf(table)) {
    row.erase(row.begin() + 11);
    for (size_t k = 0; k < row.size(); ++k) out += (k ? "\t" : "") + row[k];
    out += "\n";
  }
  return out;
}

std::string after(const std::string& text, const std::string& label) {
  const size_t p = text.find(label);
  EXPECT_NE(p, std::string::npos) << label;
  std::istringstream in(text.substr(p + label.size()));
  std::string word;
  in >> word;
  return word;
}

// The examples as one file of five records, and one file each.
void writeExamples(const testutil::TempDir& dir) {
  std::string all;
  for (const char* f : {"hbb_human.fa", "hba_macfa.fa", "myg_horse.fa", "hbb_colli.fa"}) {
    const std::string text = testutil::readFile(testutil::examplePath(f));
    testutil::writeFile(dir.file(f), text);
    all += text;
  }
  testutil::writeFile(dir.file("all.fa"), all);
}

}  // namespace

TEST(Batch, NumbersAreTheSinglePairProgramsNumbers) {
  testutil::TempDir dir;
  writeExamples(dir);
  testutil::RunOptions plain;
  plain.env = {{"NO_COLOR", "1"}};
  for (const std::string criterion : {"optimal", "marginal", "posterior"}) {
    const std::string table = criterion + ".tsv";
    auto b =
        batch({"hbb_human.fa", "hba_macfa.fa", "--criterion", criterion, "-o", table, "--alignments", "."}, dir.path());
    if (criterion == "marginal") {  // alignments need the optimal criterion
      EXPECT_EQ(b.status, 1);
      b = batch({"hbb_human.fa", "hba_macfa.fa", "--criterion", criterion, "-o", table}, dir.path());
    }
    ASSERT_EQ(b.status, 0) << b.err;
    const auto rows = rowsOf(testutil::readFile(dir.file(table)));
    ASSERT_EQ(rows.size(), 2u);
    const auto& r = rows[1];
    auto single = testutil::runBinary({"hbb_human.fa", "hba_macfa.fa", "--criterion", criterion, "-o", "single"}, "",
                                      dir.path(), plain);
    ASSERT_EQ(single.status, 0);
    EXPECT_EQ(r[0], "HBB_HUMAN");
    EXPECT_EQ(r[2], "146");
    EXPECT_EQ(r[4], criterion);
    EXPECT_EQ(r[5], after(single.out, "SeqDist n = "));
    EXPECT_EQ(r[6], after(single.out, "NULL(<S,T>)      = "));
    EXPECT_EQ(r[7], after(single.out, criterion == "optimal"    ? "I( best-A ,<S,T>)  = "
                                      : criterion == "marginal" ? "I_marginal(<S,T>) = "
                                                                : "I(A,<S,T>)   = "));
    std::ostringstream sixDigits;
    sixDigits << std::stod(r[8]);
    EXPECT_EQ(sixDigits.str(), after(single.out, "COMPRESSION wrt null = "));
    EXPECT_EQ(r[12], "ok");
    if (criterion != "marginal") {
      EXPECT_EQ(r[9], after(single.out, "%-Identity (as a function of |A|)  = "));
      EXPECT_EQ(testutil::readFile(dir.file("HBB_HUMAN__HBA_MACFA.afasta")),
                testutil::readFile(dir.file("single.afasta")));
    } else {
      EXPECT_EQ(r[9], "NA");
    }
  }
}

TEST(Batch, WaysToNamePairsShardsAndThreads) {
  testutil::TempDir dir;
  writeExamples(dir);
  auto all = batch({"all.fa", "-o", "all.tsv", "--threads", "1"}, dir.path());
  ASSERT_EQ(all.status, 0) << all.err;
  const std::string table = testutil::readFile(dir.file("all.tsv"));
  const auto rows = rowsOf(table);
  ASSERT_EQ(rows.size(), 7u);  // the header and the 6 pairs of 4 records
  EXPECT_EQ(table.substr(0, table.find("# seqcorvane-batch table 1.1\n# criterion: optimal\n# models: ")), "");
  EXPECT_NE(table.find("\n" + HEADER + "\n"), std::string::npos);
  EXPECT_EQ(rows[1][0] + " " + rows[1][1], "HBB_HUMAN HBA_MACFA");
  // Two threads, or two shards merged: the same table.
  auto threads = batch({"all.fa", "--threads", "2"}, dir.path());
  EXPECT_EQ(withoutSeconds(threads.out), withoutSeconds(table));
  std::string merged = HEADER + "\n";
  for (const char* shard : {"1/2", "2/2"}) {
    auto s = batch({"all.fa", "--shard", shard}, dir.path());
    ASSERT_EQ(s.status, 0) << s.err;
    merged += s.out.substr(s.out.find(HEADER) + HEADER.size() + 1);
  }
  auto sorted = [](const std::string& t) {
    auto r = rowsOf(withoutSeconds(t));
    std::sort(r.begin() + 1, r.end());
    return r;
  };
  EXPECT_EQ(sorted(merged), sorted(table));
  // Queries against targets, and a list of pairs of files.
  testutil::writeFile(dir.file("q.fa"), testutil::readFile(dir.file("hbb_human.fa")));
  auto qt = batch({"q.fa", "all.fa"}, dir.path());
  EXPECT_EQ(rowsOf(qt.out).size(), 5u);
  testutil::writeFile(dir.file("pairs.tsv"), "# pairs\nhbb_human.fa\thba_macfa.fa\nmyg_horse.fa\thbb_colli.fa\n");
  auto listed = batch({"--pairs", "pairs.tsv"}, dir.path());
  ASSERT_EQ(listed.status, 0) << listed.err;
  const auto lr = rowsOf(withoutSeconds(listed.out));
  ASSERT_EQ(lr.size(), 3u);
  EXPECT_EQ(lr[1], rowsOf(withoutSeconds(table))[1]);
  // Usage errors, help and version.
  EXPECT_EQ(batch({}, dir.path()).status, 1);
  EXPECT_EQ(batch({"all.fa", "--shard", "3/2"}, dir.path()).status, 1);
  auto help = batch({"--help"}, dir.path());
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("--threads N"), std::string::npos);
  EXPECT_EQ(batch({"--version"}, dir.path()).out, "seqcorvane-batch 1.1\n");
}

TEST(Batch, ResumesAndReportsFailedPairs) {
  testutil::TempDir dir;
  writeExamples(dir);
  auto first = batch({"all.fa", "-o", "t.tsv"}, dir.path());
  ASSERT_EQ(first.status, 0);
  const std::string full = testutil::readFile(dir.file("t.tsv"));
  // An interrupted run: three rows done (one with a marked time), the last
  // line cut short; no table yet.
  auto lines = rowsOf(full);
  std::string partial = full.substr(0, full.find(HEADER)) + HEADER + "\n";
  for (int k = 1; k <= 3; ++k) {
    if (k == 2) lines[k][11] = "99.000";
    for (size_t f = 0; f < lines[k].size(); ++f) partial += (f ? "\t" : "") + lines[k][f];
    partial += "\n";
  }
  partial += "HBA_MACFA\tMYG_HO";
  ::unlink(dir.file("t.tsv").c_str());
  testutil::writeFile(dir.file("t.tsv.partial"), partial);
  auto resumed = batch({"all.fa", "-o", "t.tsv"}, dir.path());
  ASSERT_EQ(resumed.status, 0) << resumed.err;
  const std::string table = testutil::readFile(dir.file("t.tsv"));
  EXPECT_EQ(withoutSeconds(table), withoutSeconds(full));
  EXPECT_EQ(rowsOf(table)[2][11], "99.000");  // not computed again
  EXPECT_FALSE(testutil::fileExists(dir.file("t.tsv.partial")));

  // A record without standard residues: its pairs fail, the others go on.
  testutil::writeFile(dir.file("bad.fa"), testutil::readFile(dir.file("all.fa")) + ">lower\nheagawghee\n");
  auto bad = batch({"bad.fa", "-o", "bad.tsv"}, dir.path());
  EXPECT_EQ(bad.status, 3);
  const auto rows = rowsOf(testutil::readFile(dir.file("bad.tsv")));
  ASSERT_EQ(rows.size(), 11u);
  int errors = 0;
  for (size_t k = 1; k < rows.size(); ++k) errors += rows[k][12] == "error";
  EXPECT_EQ(errors, 4);
  EXPECT_NE(bad.err.find("seqcorvane-batch: pair HBB_HUMAN / lower: no standard residues"), std::string::npos)
      << bad.err;
  EXPECT_NE(bad.err.find("seqcorvane-batch: 4 of 10 pairs failed\n"), std::string::npos);
}
