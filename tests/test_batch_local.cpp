// seqcorvane-batch under the local and automatic hypotheses, through its
// binary: the hypothesis sent and the regions are those the single-pair
// program gives for the pair, the alignment files the same bytes; JSON
// lines carry them as strings, arrays and nulls; a resume keeps to one mode;
// the default mode's table has no more columns than --mode global's.
#include <gtest/gtest.h>

#include <regex>
#include <sstream>

#include "batchUtil.h"
#include "testUtil.h"

using batchtest::batch;
using batchtest::HEADER;
using batchtest::readTable;
using batchtest::split;
using batchtest::Table;

namespace {

const std::string LOCAL_HEADER = HEADER + "\thypothesis\tregion_s\tregion_t";

std::string residuesOf(const std::string& example) {
  std::string r;
  for (const std::string& line : split(testutil::readFile(testutil::examplePath(example)), '\n'))
    if (!line.empty() && line[0] != '>') r += line;
  return r;
}

// Two domains amid unrelated residues (of the fly's sevenless protein) and
// one alone; each in its own file and the three in all.fa.
void writeDomainsInFlanks(const testutil::TempDir& dir) {
  const std::string flank = residuesOf("7less_drome.fa");
  const std::vector<std::pair<std::string, std::string>> records = {
      {"HBB_IN_FLANKS", flank.substr(100, 60) + residuesOf("hbb_human.fa") + flank.substr(400, 40)},
      {"MYG_IN_FLANKS", flank.substr(700, 30) + residuesOf("myg_horse.fa") + flank.substr(900, 50)},
      {"HBA_MACFA", residuesOf("hba_macfa.fa")}};
  std::string all;
  for (const auto& r : records) {
    testutil::writeFile(dir.file(r.first + ".fa"), ">" + r.first + "\n" + r.second + "\n");
    all += ">" + r.first + "\n" + r.second + "\n";
  }
  testutil::writeFile(dir.file("all.fa"), all);
}

std::string fixed3(double x) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.3f", x);
  return buf;
}

// A number of the single program's JSON after "key": , to three decimals;
// NA for null.
std::string jsonNumberOf(const std::string& json, const std::string& key) {
  std::smatch m;
  EXPECT_TRUE(std::regex_search(json, m, std::regex("\"" + key + "\": (null|[-0-9.e+]+)"))) << key;
  return m[1] == "null" ? "NA" : fixed3(std::stod(m[1]));
}

// The region of the single program's JSON as the table writes it.
std::pair<std::string, std::string> jsonRegion(const std::string& json) {
  std::smatch m;
  if (std::regex_search(json, m, std::regex("\"region\": null"))) return {"NA", "NA"};
  EXPECT_TRUE(std::regex_search(json, m, std::regex(R"("region": \{"s": \[(\d+), (\d+)\], "t": \[(\d+), (\d+)\]\})")))
      << json;
  return {m[1].str() + "-" + m[2].str(), m[3].str() + "-" + m[4].str()};
}

// One row against the single program's JSON of its pair.
void expectRowIsTheSingleProgramsPair(const std::vector<std::string>& r, const std::string& json,
                                      const std::string& criterion) {
  std::smatch m;
  ASSERT_TRUE(std::regex_search(json, m, std::regex("\"sent\": \"(\\w+)\"")));
  EXPECT_EQ(r[15], m[1].str()) << r[0] << " " << r[1];
  const auto region = jsonRegion(json);
  EXPECT_EQ(r[16], region.first) << r[0] << " " << r[1] << " " << criterion;
  EXPECT_EQ(r[17], region.second);
  const bool marginal = criterion == "marginal";
  if (marginal) {
    EXPECT_EQ(region.first, "NA");
  }
  const std::string K = criterion == "optimal" ? R"("parameters": \{"K": (\d+))" : R"("marginal_K": (\d+))";
  ASSERT_TRUE(std::regex_search(json, m, std::regex(K)));
  EXPECT_EQ(r[5], m[1].str());
  EXPECT_EQ(r[7], jsonNumberOf(json, marginal ? "marginal_bits" : "alignment_bits"));
  EXPECT_EQ(r[8], jsonNumberOf(json, "compression_bits"));
  ASSERT_TRUE(std::regex_search(json, m, std::regex(R"("calibrated": \{[^}]*"compression_bits": ([-0-9.e+]+))")));
  EXPECT_EQ(r[14], fixed3(std::stod(m[1])));                           // the verdict calibrated for composition
  EXPECT_EQ(r[9], marginal ? "NA" : jsonNumberOf(json, "alignment"));  // the identity by the alignment's columns
}

}  // namespace

// Every criterion under the local and automatic hypotheses: the '#' lines
// state the mode, the header gains three columns, each row's values are the
// single program's for the pair, and the alignment files are its files.
TEST(BatchLocal, HypothesisAndRegionsAreTheSinglePairProgramsOnes) {
  testutil::TempDir dir;
  writeDomainsInFlanks(dir);
  for (const std::string mode : {"local", "auto"}) {
    for (const std::string criterion : {"optimal", "marginal", "posterior"}) {
      const std::string table = criterion + "-" + mode + ".tsv";
      std::vector<std::string> args = {"all.fa", "--mode", mode, "--criterion", criterion, "-o", table};
      if (criterion != "marginal") args.insert(args.end(), {"--alignments", "aln", "--format", "json"});
      const auto b = batch(args, dir.path());
      ASSERT_EQ(b.status, 0) << b.err;
      const Table t = readTable(dir.file(table));
      const std::string decoding = criterion == "posterior" && mode == "auto" ? "# decoding: end gaps alike\n" : "";
      EXPECT_EQ(t.head.substr(0, t.head.find("# models: ")),
                "# seqcorvane-batch table 1.1\n# criterion: " + criterion + "\n# mode: " + mode + "\n");
      EXPECT_EQ(t.head.substr(t.head.find('\n', t.head.find("# models: ")) + 1), decoding + LOCAL_HEADER + "\n");
      ASSERT_EQ(t.rows.size(), 3u);
      for (const auto& r : t.rows) {
        ASSERT_EQ(r.size(), 18u);
        const auto single = testutil::runBinary(
            {r[0] + ".fa", r[1] + ".fa", "--criterion", criterion, "--mode", mode, "--format", "json", "-o", "single"},
            "", dir.path());
        ASSERT_EQ(single.status, 0) << single.err;
        const std::string json = testutil::readFile(dir.file("single.json"));
        expectRowIsTheSingleProgramsPair(r, json, criterion);
        if (criterion != "marginal") {
          EXPECT_EQ(testutil::readFile(dir.file("aln/" + r[0] + "__" + r[1] + ".json")), json);
        }
      }
      // The domains are found amid their flanks.
      if (mode == "local" && criterion == "optimal") {
        EXPECT_EQ(t.rows[1][16], "63-206");  // HBB_HUMAN is residues 61-206 of HBB_IN_FLANKS
        EXPECT_EQ(t.rows[1][17], "2-141");
      }
    }
  }
}

// The default mode's table: --mode global gives the same bytes (bar the
// seconds) as no option, without a mode line or the hypothesis's columns.
TEST(BatchLocal, DefaultModeKeepsTodaysTable) {
  testutil::TempDir dir;
  writeDomainsInFlanks(dir);
  ASSERT_EQ(batch({"all.fa", "-o", "plain.tsv"}, dir.path()).status, 0);
  ASSERT_EQ(batch({"all.fa", "--mode", "global", "-o", "global.tsv"}, dir.path()).status, 0);
  Table plain = readTable(dir.file("plain.tsv")), global = readTable(dir.file("global.tsv"));
  EXPECT_EQ(plain.head.find("# mode:"), std::string::npos);
  EXPECT_EQ(plain.head.substr(plain.head.size() - HEADER.size() - 1), HEADER + "\n");
  EXPECT_EQ(plain.head, global.head);
  ASSERT_EQ(plain.rows.size(), 3u);
  for (size_t k = 0; k < 3; ++k) {
    EXPECT_EQ(plain.rows[k].size(), 15u);
    plain.rows[k][11] = global.rows[k][11] = "";
    EXPECT_EQ(plain.rows[k], global.rows[k]);
  }
  // A global table resumed under --mode global: every pair done.
  const auto again = batch({"all.fa", "--mode", "global", "-o", "plain.tsv"}, dir.path());
  EXPECT_EQ(again.err, "seqcorvane-batch: resuming 'plain.tsv': 3 of 3 pairs done, 0 to align\n");
}

// As JSON lines: the three keys last, the hypothesis a string (null for a
// failed pair), a region [first, last] or null, as the TSV table's fields;
// the calibrated compression before them, a number (null for a failed pair).
TEST(BatchLocal, JsonLinesCarryTheHypothesisAndRegions) {
  testutil::TempDir dir;
  writeDomainsInFlanks(dir);
  testutil::writeFile(dir.file("more.fa"), testutil::readFile(dir.file("all.fa")) + ">lower\nheagawghee\n");
  for (const std::string criterion : {"optimal", "marginal"}) {
    for (const std::string out : {".tsv", ".jsonl"}) {
      const auto b = batch({"more.fa", "--mode", "local", "--criterion", criterion, "-o", criterion + out}, dir.path());
      ASSERT_EQ(b.status, 3) << b.err;
    }
    const Table t = readTable(dir.file(criterion + ".tsv"));
    const std::vector<std::string> lines = split(testutil::readFile(dir.file(criterion + ".jsonl")), '\n');
    ASSERT_EQ(lines.size(), 6u);
    ASSERT_EQ(t.rows.size(), 6u);
    for (size_t k = 0; k < lines.size(); ++k) {
      const auto& r = t.rows[k];
      auto range = [](const std::string& field) {
        return field == "NA" ? std::string("null")
                             : "[" + field.substr(0, field.find('-')) + ", " + field.substr(field.find('-') + 1) + "]";
      };
      const std::string sent = r[15] == "NA" ? "null" : "\"" + r[15] + "\"";
      const std::string calibrated = r[14] == "NA" ? "null" : r[14];
      const std::string ending = ", \"status\": \"" + r[12] + "\", \"pair_digest\": \"" + r[13] +
                                 "\", \"calibrated_bits\": " + calibrated + ", \"hypothesis\": " + sent +
                                 ", \"region_s\": " + range(r[16]) + ", \"region_t\": " + range(r[17]) + "}";
      EXPECT_EQ(lines[k].substr(lines[k].size() - std::min(lines[k].size(), ending.size())), ending);
      if (r[12] == "error") {
        EXPECT_EQ(calibrated + sent + r[16] + r[17], "nullnullNANA");
      }
      if (criterion == "optimal" && r[12] == "ok") {
        EXPECT_NE(range(r[16]), "null");
      }
      if (criterion == "marginal") {
        EXPECT_EQ(r[16] + r[17], "NANA");
      }
    }
  }
}

namespace {

std::string withField(const std::vector<std::string>& fields, size_t k, const std::string& value) {
  std::vector<std::string> f = fields;
  f.at(k) = value;
  std::string out;
  for (size_t n = 0; n < f.size(); ++n) out += (n ? "\t" : "") + f[n];
  return out + "\n";
}

}  // namespace

// A table keeps to one mode: a rerun under another is refused naming both,
// and the table is left as it is; under the same one its rows are reused
// unless the hypothesis or a region is not what the program writes.
TEST(BatchLocal, ResumingKeepsToOneMode) {
  testutil::TempDir dir;
  writeDomainsInFlanks(dir);
  ASSERT_EQ(batch({"all.fa", "--mode", "local", "-o", "l.tsv"}, dir.path()).status, 0);
  ASSERT_EQ(batch({"all.fa", "-o", "g.tsv"}, dir.path()).status, 0);
  const std::string local = testutil::readFile(dir.file("l.tsv")), global = testutil::readFile(dir.file("g.tsv"));
  const std::vector<std::vector<std::string>> refusals = {
      {"l.tsv", "global", "local"}, {"l.tsv", "auto", "local"}, {"g.tsv", "local", "global"}};
  for (const auto& c : refusals) {
    const auto b = batch({"all.fa", "--mode", c[1], "-o", c[0]}, dir.path());
    EXPECT_EQ(b.status, 1);
    EXPECT_EQ(b.err, "seqcorvane-batch: error: the table '" + c[0] + "' holds pairs aligned under --mode " + c[2] +
                         ", not --mode " + c[1] + ": remove it or name another table with -o\n");
  }
  EXPECT_EQ(testutil::readFile(dir.file("l.tsv")), local);
  EXPECT_EQ(testutil::readFile(dir.file("g.tsv")), global);
  EXPECT_FALSE(testutil::fileExists(dir.file("l.tsv.partial")));
  // Rows that hold no result of their pair under the local hypothesis: a
  // global hypothesis, a region beyond the sequence, a region missing, a
  // region written backwards; one row kept, with a marked time.
  const Table t = readTable(dir.file("l.tsv"));
  const std::string damaged =
      t.head + withField(t.rows[0], 15, "global") + withField(t.rows[1], 16, "63-999") + withField(t.rows[2], 17, "NA");
  for (const std::string& rows :
       {damaged, t.head + withField(t.rows[0], 16, "206-63") + withField(t.rows[1], 11, "9.000")}) {
    testutil::writeFile(dir.file("l.tsv"), rows);
    const auto again = batch({"all.fa", "--mode", "local", "-o", "l.tsv"}, dir.path());
    ASSERT_EQ(again.status, 0) << again.err;
    EXPECT_NE(again.err.find("hold a result of"), std::string::npos) << again.err;
    const Table after = readTable(dir.file("l.tsv"));
    ASSERT_EQ(after.rows.size(), 3u);
    for (size_t k = 0; k < 3; ++k)
      for (size_t f : {14, 15, 16, 17}) EXPECT_EQ(after.rows[k][f], t.rows[k][f]);
  }
  EXPECT_EQ(readTable(dir.file("l.tsv")).rows[1][11], "9.000");
}

// A local posterior alignment that pairs no residue (unrelated short
// sequences) has no message and no region: NA, and such rows are reused.
TEST(BatchLocal, PosteriorAlignmentWithoutARegion) {
  testutil::TempDir dir;
  std::mt19937 rng(3);
  std::string text;
  for (int k = 0; k < 5; ++k) text += ">r" + std::to_string(k) + "\n" + testutil::randomProtein(rng, 15) + "\n";
  testutil::writeFile(dir.file("r.fa"), text);
  ASSERT_EQ(batch({"r.fa", "--mode", "local", "--criterion", "posterior", "-o", "t.tsv"}, dir.path()).status, 0);
  const Table t = readTable(dir.file("t.tsv"));
  ASSERT_EQ(t.rows.size(), 10u);
  int without = 0;
  for (const auto& r : t.rows) {
    const bool none = r[7] == "NA";
    without += none;
    EXPECT_EQ(r[15], "local");
    EXPECT_EQ(r[14], r[8]);  // the posterior criterion's verdict is the calibrated one
    EXPECT_EQ(none, r[16] == "NA" && r[17] == "NA") << r[0] << " " << r[1];
  }
  EXPECT_GT(without, 0);
  const auto again = batch({"r.fa", "--mode", "local", "--criterion", "posterior", "-o", "t.tsv"}, dir.path());
  EXPECT_EQ(again.err, "seqcorvane-batch: resuming 't.tsv': 10 of 10 pairs done, 0 to align\n");
}

// A value --mode does not take: one line naming it, the usage, status 1.
TEST(BatchLocal, BadModeIsAUsageError) {
  testutil::TempDir dir;
  writeDomainsInFlanks(dir);
  const auto bad = batch({"all.fa", "--mode", "glocal", "-o", "t.tsv"}, dir.path());
  EXPECT_EQ(bad.status, 1);
  EXPECT_EQ(bad.err.substr(0, bad.err.find('\n')),
            "seqcorvane-batch: --mode takes global, local or auto, not 'glocal'");
  EXPECT_NE(bad.err.find("\nusage: seqcorvane-batch [options] <all.fa>"), std::string::npos);
  EXPECT_FALSE(testutil::fileExists(dir.file("t.tsv")));
  const auto missing = batch({"all.fa", "--mode"}, dir.path());
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.err.substr(0, missing.err.find('\n')), "seqcorvane-batch: option --mode needs a value");
  const auto help = batch({"--help"}, dir.path());
  EXPECT_NE(help.out.find("--mode M"), std::string::npos);
  EXPECT_NE(help.out.find("hypothesis (the one sent: global or local), region_s and region_t"), std::string::npos);
}
