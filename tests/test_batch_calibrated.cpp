// seqcorvane-batch's calibrated_bits column through its binary: the single
// program's calibrated compression for the pair, under every criterion;
// a table an earlier version wrote without the column is refused, left as it
// is; a reused row whose calibrated_bits is not what the program writes is
// aligned again.
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <regex>
#include <sstream>

#include "batchUtil.h"
#include "testUtil.h"

using batchtest::batch;
using batchtest::EARLIER_HEADER;
using batchtest::HEADER;
using batchtest::readTable;
using batchtest::split;
using batchtest::Table;

namespace {

std::string joined(const std::vector<std::string>& fields) {
  std::string out;
  for (size_t k = 0; k < fields.size(); ++k) out += (k ? "\t" : "") + fields[k];
  return out;
}

// The table with one field of one row replaced.
std::string withField(const Table& t, size_t row, size_t field, const std::string& value) {
  std::string out = t.head;
  for (size_t k = 0; k < t.rows.size(); ++k) {
    std::vector<std::string> f = t.rows[k];
    if (k == row) f.at(field) = value;
    out += joined(f) + "\n";
  }
  return out;
}

// The table as an earlier version wrote it: without calibrated_bits.
std::string earlierTable(const std::string& table) {
  std::string out;
  for (const std::string& line : split(table, '\n')) {
    if (line[0] == '#') {
      out += line + "\n";
      continue;
    }
    std::vector<std::string> f = split(line, '\t');
    f.erase(f.begin() + 14);
    out += joined(f) + "\n";
  }
  return out;
}

std::string fixed3(double x) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.3f", x);
  return buf;
}

// The calibrated compression of the single program's JSON of a pair, as the table writes it.
std::string singleCalibrated(const std::string& dir, const std::string& s, const std::string& t,
                             const std::string& criterion) {
  const auto single =
      testutil::runBinary({s, t, "--criterion", criterion, "--format", "json", "-o", "single", "--quiet"}, "", dir);
  EXPECT_EQ(single.status, 0) << single.err;
  std::smatch m;
  const std::string json = testutil::readFile(dir + "/single.json");
  EXPECT_TRUE(std::regex_search(json, m, std::regex(R"("calibrated": \{[^}]*"compression_bits": ([-0-9.e+]+))")))
      << json;
  return m.empty() ? "" : fixed3(std::stod(m[1]));
}

// The examples, one file each and four in all.fa; and two random
// glutamine-rich sequences (about a third Q), which the marginal criterion's own
// verdict calls related and the calibrated one does not.
void writeInputs(const testutil::TempDir& dir) {
  batchtest::writeExamples(dir);
  const std::string letters = "ACDEFGHIKLMNPQRSTVWY";
  std::mt19937 rng(2024);
  std::discrete_distribution<int> qrich({1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 11.4, 1, 1, 1, 1, 1, 1});
  for (const char* name : {"QRICH1", "QRICH2"}) {
    std::string s;
    for (int k = 0; k < 500; ++k) s += letters[qrich(rng)];
    testutil::writeFile(dir.file(std::string(name) + ".fa"), ">" + std::string(name) + "\n" + s + "\n");
  }
}

}  // namespace

// The column follows pair_digest and holds the single program's calibrated
// compression of the pair to the table's three decimals, under every
// criterion (the posterior criterion's compression itself); as JSON lines a
// number under its name.
TEST(BatchCalibrated, ColumnIsTheSingleProgramsCalibratedCompression) {
  testutil::TempDir dir;
  writeInputs(dir);
  for (const std::string criterion : {"optimal", "marginal", "posterior"}) {
    const std::string table = criterion + ".tsv";
    ASSERT_EQ(batch({"all.fa", "--criterion", criterion, "-o", table}, dir.path()).status, 0);
    const Table t = readTable(dir.file(table));
    EXPECT_EQ(t.head.substr(t.head.size() - HEADER.size() - 1), HEADER + "\n");
    ASSERT_EQ(t.rows.size(), 6u);
    const std::map<std::string, std::string> files = {{"HBB_HUMAN", "hbb_human.fa"},
                                                      {"HBA_MACFA", "hba_macfa.fa"},
                                                      {"MYG_HORSE", "myg_horse.fa"},
                                                      {"HBB_COLLI", "hbb_colli.fa"}};
    for (const auto& r : t.rows) {
      ASSERT_EQ(r.size(), 15u);
      EXPECT_EQ(r[14], singleCalibrated(dir.path(), files.at(r[0]), files.at(r[1]), criterion))
          << r[0] << " " << r[1] << " " << criterion;
      if (criterion == "posterior") {
        EXPECT_EQ(r[14], r[8]);
      }
    }
    // As JSON lines: the same number, keyed by the column's name.
    ASSERT_EQ(batch({"all.fa", "--criterion", criterion, "-o", criterion + ".jsonl"}, dir.path()).status, 0);
    const std::vector<std::string> lines = split(testutil::readFile(dir.file(criterion + ".jsonl")), '\n');
    ASSERT_EQ(lines.size(), 6u);
    for (size_t k = 0; k < 6; ++k)
      EXPECT_NE(
          lines[k].find("\"pair_digest\": \"" + t.rows[k][13] + "\", \"calibrated_bits\": " + t.rows[k][14] + "}"),
          std::string::npos)
          << lines[k];
  }
  // Composition alone: related by the marginal criterion's own verdict, not by the calibrated one.
  ASSERT_EQ(batch({"QRICH1.fa", "QRICH2.fa", "--criterion", "marginal", "-o", "q.tsv"}, dir.path()).status, 0);
  const Table q = readTable(dir.file("q.tsv"));
  ASSERT_EQ(q.rows.size(), 1u);
  EXPECT_GT(std::stod(q.rows[0][8]), 0);
  EXPECT_LT(std::stod(q.rows[0][14]), 0);
  EXPECT_EQ(q.rows[0][14], singleCalibrated(dir.path(), "QRICH1.fa", "QRICH2.fa", "marginal"));
}

// A table, or the partial file of an interrupted run, that an earlier
// version wrote without calibrated_bits (of either hypothesis) is refused
// with one line naming it; it is left as it is, and no partial file made.
TEST(BatchCalibrated, EarlierTableWithoutTheColumnIsRefused) {
  testutil::TempDir dir;
  writeInputs(dir);
  ASSERT_EQ(batch({"all.fa", "-o", "g.tsv"}, dir.path()).status, 0);
  ASSERT_EQ(batch({"all.fa", "--mode", "local", "-o", "l.tsv"}, dir.path()).status, 0);
  const std::string global = earlierTable(testutil::readFile(dir.file("g.tsv")));
  const std::string local = earlierTable(testutil::readFile(dir.file("l.tsv")));
  ASSERT_NE(global.find("\n" + EARLIER_HEADER + "\n"), std::string::npos);
  ASSERT_NE(local.find("\n" + EARLIER_HEADER + "\thypothesis\tregion_s\tregion_t\n"), std::string::npos);
  const std::string refusal =
      " was written by an earlier seqcorvane-batch, without the column calibrated_bits: it "
      "is left as it is; remove it or name another table with -o\n";
  struct Case {
    std::string file, text, mode, out, named;
  };
  for (const Case& c :
       {Case{"g.tsv", global, "global", "g.tsv", "g.tsv"}, Case{"l.tsv", local, "local", "l.tsv", "l.tsv"},
        Case{"p.tsv.partial", global, "global", "p.tsv", "p.tsv.partial"},
        Case{"j.jsonl.partial", local, "local", "j.jsonl", "j.jsonl.partial"}}) {
    testutil::writeFile(dir.file(c.file), c.text);
    const auto b = batch({"all.fa", "--mode", c.mode, "-o", c.out}, dir.path());
    EXPECT_EQ(b.status, 1) << c.file;
    EXPECT_EQ(b.err, "seqcorvane-batch: error: the table '" + c.named + "'" + refusal);
    EXPECT_EQ(testutil::readFile(dir.file(c.file)), c.text);
    if (c.file == c.out) {
      EXPECT_FALSE(testutil::fileExists(dir.file(c.out + ".partial")));
    } else {
      EXPECT_FALSE(testutil::fileExists(dir.file(c.out)));
    }
  }
}

// A reused row's calibrated_bits must be what the program writes: a finite
// number with three decimals, and for the posterior criterion its
// compression; else its pair is aligned again, counted in the notice.
TEST(BatchCalibrated, DamagedCalibratedValueIsAlignedAgain) {
  testutil::TempDir dir;
  writeInputs(dir);
  ASSERT_EQ(batch({"all.fa", "-o", "o.tsv"}, dir.path()).status, 0);
  const Table clean = readTable(dir.file("o.tsv"));
  const std::vector<std::string> damages = {"nan", "NA", "inf", "1e2", "12.34", ""};
  for (size_t k = 0; k < damages.size(); ++k) {
    Table t = clean;
    t.rows[(k + 1) % 6][11] = "99.000";  // a row kept, by its marked time
    testutil::writeFile(dir.file("o.tsv"), withField(t, k, 14, damages[k]));
    const auto again = batch({"all.fa", "-o", "o.tsv"}, dir.path());
    ASSERT_EQ(again.status, 0) << again.err;
    EXPECT_EQ(again.err,
              "seqcorvane-batch: notice: 'o.tsv': 1 row does not hold a result of its pair in every field (a value "
              "that does not parse or is out of range, lengths other than the sequences'): its pair is aligned "
              "again\nseqcorvane-batch: resuming 'o.tsv': 5 of 6 pairs done, 1 to align\n")
        << damages[k];
    const Table after = readTable(dir.file("o.tsv"));
    ASSERT_EQ(after.rows.size(), 6u);
    EXPECT_EQ(after.rows[k][14], clean.rows[k][14]) << damages[k];
    EXPECT_EQ(after.rows[(k + 1) % 6][11], "99.000");
  }
  // The posterior criterion's calibrated compression is its compression: a thousandth off is set aside.
  ASSERT_EQ(batch({"all.fa", "--criterion", "posterior", "-o", "p.tsv"}, dir.path()).status, 0);
  const Table p = readTable(dir.file("p.tsv"));
  const double off = std::stod(p.rows[2][14]) + 0.001;
  testutil::writeFile(dir.file("p.tsv"), withField(p, 2, 14, fixed3(off)));
  const auto again = batch({"all.fa", "--criterion", "posterior", "-o", "p.tsv"}, dir.path());
  EXPECT_NE(again.err.find("'p.tsv': 1 row does not hold a result of its pair"), std::string::npos) << again.err;
  EXPECT_NE(again.err.find("resuming 'p.tsv': 5 of 6 pairs done, 1 to align\n"), std::string::npos);
  EXPECT_EQ(readTable(dir.file("p.tsv")).rows[2][14], p.rows[2][14]);
}
