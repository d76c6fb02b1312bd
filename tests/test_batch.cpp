// seqcorvane-batch through its binary: the same numbers as the single-pair
// program, the three ways to name pairs, shards, resuming, failed pairs.
#include <gtest/gtest.h>
#include <sys/file.h>
#include <zlib.h>

#include <regex>
#include <sstream>

#include "batchUtil.h"
#include "testUtil.h"

using batchtest::batch;
using batchtest::HEADER;
using batchtest::writeExamples;

namespace {

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

namespace {

// A command line run by the shell in dir, the batch program as $B.
testutil::RunResult shell(const std::string& command, const std::string& dir) {
  testutil::RunOptions o;
  o.program = "/bin/bash";
  o.env = {{"B", SEQCORVANE_BATCH_BINARY}};
  return testutil::runBinary({"-c", command}, "", dir, o);
}

// n random sequences of 20 residues: n (n - 1) / 2 quick pairs.
void writeShortSequences(const testutil::TempDir& dir, const std::string& name, int n) {
  std::mt19937 rng(11);
  std::string text;
  for (int k = 0; k < n; ++k) text += ">s" + std::to_string(k) + "\n" + testutil::randomProtein(rng, 20) + "\n";
  testutil::writeFile(dir.file(name), text);
}

std::string withField(const std::string& row, size_t field, const std::string& value) {
  std::vector<std::string> f;
  std::istringstream in(row);
  for (std::string x; std::getline(in, x, '\t');) f.push_back(x);
  f.at(field) = value;
  std::string out;
  for (size_t k = 0; k < f.size(); ++k) out += (k ? "\t" : "") + f[k];
  return out;
}

// The lines of a table: '#' lines and header first (head), then the rows.
void splitTable(const std::string& table, std::string& head, std::vector<std::string>& rows) {
  const size_t start = table.find(HEADER + "\n") + HEADER.size() + 1;
  head = table.substr(0, start);
  rows.clear();
  std::istringstream in(table.substr(start));
  for (std::string line; std::getline(in, line);) rows.push_back(line);
}

ino_t inodeOf(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

}  // namespace

// A resume reuses a row only when every field holds what the program writes
// for its pair; hand-damaged rows are aligned again, with one notice.
TEST(Batch, ResumeSetsAsideRowsThatHoldNoResult) {
  testutil::TempDir dir;
  writeExamples(dir);
  ASSERT_EQ(batch({"all.fa", "-o", "t.tsv", "--criterion", "posterior"}, dir.path()).status, 0);
  const std::string clean = testutil::readFile(dir.file("t.tsv"));
  std::string head;
  std::vector<std::string> rows;
  splitTable(clean, head, rows);
  ASSERT_EQ(rows.size(), 6u);
  // Compression XYZ, K nan, a length of 999, identity above 100, K 0, a
  // status of neither ok nor error, null bits not the sequences', a field
  // missing; one row kept, with a marked time.
  std::string damaged = head + withField(rows[0], 8, "XYZ") + "\n" + withField(rows[1], 5, "nan") + "\n" +
                        withField(rows[2], 2, "999") + "\n" + withField(rows[3], 9, "100.001") + "\n" +
                        withField(withField(rows[4], 5, "0"), 12, "done") + "\n" + withField(rows[5], 11, "99.000") +
                        "\n" + withField(rows[1], 6, "1.000") + "\n" + rows[2].substr(0, rows[2].rfind('\t')) + "\n";
  testutil::writeFile(dir.file("t.tsv"), damaged);
  auto again = batch({"all.fa", "-o", "t.tsv", "--criterion", "posterior"}, dir.path());
  ASSERT_EQ(again.status, 0) << again.err;
  EXPECT_EQ(again.err,
            "seqcorvane-batch: notice: 't.tsv': 7 rows do not hold a result of their pair in every field (a value "
            "that does not parse or is out of range, lengths other than the sequences'): their pairs are aligned "
            "again\nseqcorvane-batch: resuming 't.tsv': 1 of 6 pairs done, 5 to align\n");
  const std::string table = testutil::readFile(dir.file("t.tsv"));
  EXPECT_EQ(withoutSeconds(table), withoutSeconds(clean));
  EXPECT_EQ(rowsOf(table)[6][11], "99.000");
  // The marginal criterion's identity and gap openings are NA, nothing else.
  ASSERT_EQ(batch({"all.fa", "-o", "m.tsv", "--criterion", "marginal"}, dir.path()).status, 0);
  splitTable(testutil::readFile(dir.file("m.tsv")), head, rows);
  testutil::writeFile(dir.file("m.tsv"), head + withField(rows[0], 9, "50.000") + "\n" + rows[1] + "\n");
  auto marginal = batch({"all.fa", "-o", "m.tsv", "--criterion", "marginal"}, dir.path());
  EXPECT_NE(marginal.err.find("'m.tsv': 1 row does not hold a result of its pair in every field"), std::string::npos)
      << marginal.err;
  EXPECT_NE(marginal.err.find("resuming 'm.tsv': 1 of 6 pairs done, 5 to align\n"), std::string::npos);
}

// Finishing never needs the table's room twice: the rows gathered in the
// partial file become the table, in the pairs' order; a rerun over a
// finished table takes that very file; the first failed write stops the run.
TEST(Batch, FinishingNeedsTheTableOnceAndStopsAtAFailedWrite) {
  testutil::TempDir dir;
  writeShortSequences(dir, "s.fa", 30);
  ASSERT_EQ(batch({"s.fa", "-o", "clean.tsv"}, dir.path()).status, 0);
  const std::string clean = testutil::readFile(dir.file("clean.tsv"));
  std::string head;
  std::vector<std::string> rows;
  splitTable(clean, head, rows);
  ASSERT_EQ(rows.size(), 435u);
  // Every row in the partial file, in the order threads finish them, and no
  // table: the rerun aligns nothing and writes the clean table.
  std::vector<std::string> shuffled = rows;
  std::shuffle(shuffled.begin(), shuffled.end(), std::mt19937(5));
  std::string partial = head;
  for (const std::string& r : shuffled) partial += r + "\n";
  testutil::writeFile(dir.file("t.tsv.partial"), partial);
  const ino_t partialFile = inodeOf(dir.file("t.tsv.partial"));
  auto done = batch({"s.fa", "-o", "t.tsv"}, dir.path());
  EXPECT_EQ(done.err, "seqcorvane-batch: resuming 't.tsv': 435 of 435 pairs done, 0 to align\n");
  EXPECT_EQ(testutil::readFile(dir.file("t.tsv")), clean);
  EXPECT_EQ(inodeOf(dir.file("t.tsv")), partialFile);  // the same file, not a copy
  EXPECT_FALSE(testutil::fileExists(dir.file("t.tsv.partial")));
  // A finish cut short: the ordered rows written over part of the file.
  const size_t cut = partial.size() / 2 + 7;
  testutil::writeFile(dir.file("t.tsv.partial"), clean.substr(0, cut) + partial.substr(cut));
  ::unlink(dir.file("t.tsv").c_str());
  ASSERT_EQ(batch({"s.fa", "-o", "t.tsv"}, dir.path()).status, 0);
  EXPECT_EQ(withoutSeconds(testutil::readFile(dir.file("t.tsv"))), withoutSeconds(clean));
  // A finished table that holds the job is left as it is; with one sequence
  // changed, the table itself becomes the partial file and then the table.
  const ino_t table = inodeOf(dir.file("t.tsv"));
  ASSERT_EQ(batch({"s.fa", "-o", "t.tsv"}, dir.path()).status, 0);
  EXPECT_EQ(inodeOf(dir.file("t.tsv")), table);
  std::string seqs = testutil::readFile(dir.file("s.fa"));
  seqs[seqs.size() - 2] = seqs[seqs.size() - 2] == 'W' ? 'A' : 'W';
  testutil::writeFile(dir.file("s.fa"), seqs);
  auto changed = batch({"s.fa", "-o", "t.tsv"}, dir.path());
  EXPECT_EQ(changed.err,
            "seqcorvane-batch: resuming 't.tsv': 406 of 435 pairs done, 29 to align (29 whose sequences changed "
            "since)\n");
  EXPECT_EQ(inodeOf(dir.file("t.tsv")), table);
  EXPECT_EQ(rowsOf(testutil::readFile(dir.file("t.tsv"))).size(), 436u);
  EXPECT_FALSE(testutil::fileExists(dir.file("t.tsv.partial")));
  // A file size limit of 12 KiB: the run stops at the row that does not fit
  // (far fewer alignments written than pairs), and a rerun finishes the job.
  ASSERT_EQ(batch({"s.fa", "-o", "clean.tsv"}, dir.path()).status, 0);
  auto limited = shell("ulimit -f 12; exec $B s.fa -o f.tsv --threads 2 --alignments aln", dir.path());
  EXPECT_EQ(limited.status, 1);
  EXPECT_EQ(limited.err,
            "seqcorvane-batch: error: cannot write 'f.tsv.partial': File too large; the rows written so far stay in it "
            "for a rerun\n");
  EXPECT_FALSE(testutil::fileExists(dir.file("f.tsv")));
  const size_t aligned = testutil::filesMatching(dir.file("aln"), ".*\\.afasta").size();
  EXPECT_LT(aligned, 160u);
  auto finish = batch({"s.fa", "-o", "f.tsv"}, dir.path());
  ASSERT_EQ(finish.status, 0) << finish.err;
  EXPECT_NE(finish.err.find(" to align\n"), std::string::npos);
  EXPECT_EQ(withoutSeconds(testutil::readFile(dir.file("f.tsv"))),
            withoutSeconds(testutil::readFile(dir.file("clean.tsv"))));
}

// One run at a time writes a table: another is refused while the first
// holds it; runs side by side, or one killed, leave the clean table.
TEST(Batch, ConcurrentAndKilledRunsLeaveTheCleanTable) {
  testutil::TempDir dir;
  writeShortSequences(dir, "s.fa", 30);
  ASSERT_EQ(batch({"s.fa", "-o", "clean.tsv", "--criterion", "posterior"}, dir.path()).status, 0);
  const std::string clean = withoutSeconds(testutil::readFile(dir.file("clean.tsv")));
  {
    testutil::writeFile(dir.file("held.tsv.partial"), "");
    const int fd = ::open(dir.file("held.tsv.partial").c_str(), O_RDWR);
    ASSERT_EQ(::flock(fd, LOCK_EX), 0);
    auto refused = batch({"s.fa", "-o", "held.tsv"}, dir.path());
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.err,
              "seqcorvane-batch: error: another run is writing the table 'held.tsv' (through 'held.tsv.partial'): "
              "wait for it to end or name another table with -o\n");
    ::close(fd);
  }
  auto both = shell(
      "$B s.fa -o t.tsv --criterion posterior --threads 1 2>one.err & "
      "$B s.fa -o t.tsv --criterion posterior --threads 1 2>two.err; b=$?; wait $!; echo $? $b",
      dir.path());
  for (const char* err : {"one.err", "two.err"}) {
    const std::string text = testutil::readFile(dir.file(err));
    EXPECT_TRUE(text.empty() || text.find("another run is writing the table 't.tsv'") != std::string::npos ||
                text.find("pairs done, 0 to align") != std::string::npos)
        << text;
  }
  EXPECT_NE(both.out.find('0'), std::string::npos) << both.out;
  EXPECT_EQ(withoutSeconds(testutil::readFile(dir.file("t.tsv"))), clean);
  EXPECT_FALSE(testutil::fileExists(dir.file("t.tsv.partial")));
  // Killed (-9, and SIGTERM) once rows gather: no table, and the rerun gives the clean one.
  for (const std::string signal : {"KILL", "TERM"}) {
    auto killed = shell(
        "$B s.fa -o k.tsv --criterion posterior --threads 2 2>/dev/null & p=$!; "
        "while kill -0 $p 2>/dev/null && [ \"$(cat k.tsv.partial 2>/dev/null | wc -l)\" -lt 40 ]; do "
        "sleep 0.01; done; kill -" +
            signal + " $p; wait $p; test -e k.tsv && echo table",
        dir.path());
    EXPECT_EQ(killed.out, "") << signal;
    auto resumed = batch({"s.fa", "-o", "k.tsv", "--criterion", "posterior"}, dir.path());
    ASSERT_EQ(resumed.status, 0) << resumed.err;
    EXPECT_EQ(withoutSeconds(testutil::readFile(dir.file("k.tsv"))), clean) << signal;
    ::unlink(dir.file("k.tsv").c_str());
  }
}

// A file without records or without residues is one error naming it, in
// every place a FASTA file is read; no row is invented for it.
TEST(Batch, FilesWithoutRecordsOrResiduesAreOneError) {
  testutil::TempDir dir;
  writeExamples(dir);
  testutil::writeFile(dir.file("empty.fa"), "");
  testutil::writeFile(dir.file("blank.fa"), "\n  \r\n\n");
  testutil::writeFile(dir.file("headers.fa"), ">a\n>b\n");
  testutil::writeFile(dir.file("lower.fa"), ">a\nheagawghee\n>b\nxxx*\n");
  gzFile gz = gzopen(dir.file("empty.fa.gz").c_str(), "wb");
  gzclose(gz);
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"empty.fa", "'empty.fa' is empty: it holds no FASTA records"},
      {"blank.fa", "'blank.fa' is empty: it holds no FASTA records"},
      {"empty.fa.gz", "'empty.fa.gz' is empty: it holds no FASTA records"},
      {"headers.fa",
       "'headers.fa' holds no standard residues (upper-case ACDEFGHIKLMNPQRSTVWY) in any of its 2 records"},
      {"lower.fa", "'lower.fa' holds no standard residues (upper-case ACDEFGHIKLMNPQRSTVWY) in any of its 2 records"}};
  for (const auto& c : cases) {
    testutil::writeFile(dir.file("list.tsv"), "hbb_human.fa\t" + c.first + "\n");
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{"hbb_human.fa", c.first, "-o", "t.tsv"},
                                               {c.first, "-o", "t.tsv"},
                                               {"--pairs", "list.tsv", "-o", "t.tsv"}}) {
      auto b = batch(args, dir.path());
      EXPECT_EQ(b.status, 1) << c.first;
      EXPECT_EQ(b.err, "seqcorvane-batch: error: " + c.second + "\n") << c.first;
      EXPECT_FALSE(testutil::fileExists(dir.file("t.tsv")));
      EXPECT_FALSE(testutil::fileExists(dir.file("t.tsv.partial")));
    }
  }
  auto in = testutil::RunOptions{};
  in.program = SEQCORVANE_BATCH_BINARY;
  auto stdinEmpty = testutil::runBinary({"-", "all.fa"}, "", dir.path(), in);
  EXPECT_EQ(stdinEmpty.err, "seqcorvane-batch: error: '-' is empty: it holds no FASTA records\n");
}
