// Files as users write them and as readers read them back: an alignment is
// scored as written whatever its line ends and blanks, every format the
// program writes reads back with the same rows and names made safe for it,
// and what a file holds is quoted short in a message.
#include <gtest/gtest.h>

#include <regex>

#include "seqcorvane/io.h"
#include "testUtil.h"

using testutil::runBinary;

namespace {

const std::string ROW_S = "MVLSPADKTNVKAAWGKVGAHAGEYGAEALERMFLSFPTTKTYFPHF-DLSHGSAQVKGHGKKVADALTNAVAHV";
const std::string ROW_T = "MVHLTPEEKSAVTALWGKVNVD--EVGGEALGRLLVVYPWTQRFFESFGDLSTPDAVMGNPKVKAHGKKVLGAFS";

// The bits of the compression line of --ivalue's report of the file.
std::string scored(const testutil::TempDir& dir, const std::string& name, const std::string& text) {
  testutil::writeFile(dir.file(name), text);
  const testutil::RunResult r = runBinary({"--ivalue", name}, "", dir.path());
  EXPECT_EQ(r.status, 0) << name << ": " << r.err;
  const size_t at = r.out.find("COMPRESSION wrt null =");
  return at == std::string::npos ? "none" : r.out.substr(at, r.out.find('\n', at) - at);
}

// The row in lines of the given widths, each ended by end.
std::string wrap(const std::string& row, size_t width, const std::string& end) {
  std::string text;
  for (size_t k = 0; k < row.size(); k += width) text += row.substr(k, width) + end;
  return text;
}

}  // namespace

// Carriage returns, blanks and tabs are not part of a row: two records
// wrapped differently with CRLF line ends, trailing blanks on some lines, or
// blanks inside a row score what the plain file scores.
TEST(ScoringMode, RowsAreScoredAsWrittenWhateverTheLineEndsAndBlanks) {
  testutil::TempDir dir;
  const std::string plain = scored(dir, "plain.fa", ">s\n" + ROW_S + "\n>t\n" + ROW_T + "\n");
  ASSERT_NE(plain, "none");
  EXPECT_EQ(scored(dir, "crlf.fa", ">s\r\n" + wrap(ROW_S, 50, "\r\n") + ">t\r\n" + wrap(ROW_T, 60, "\r\n")), plain);
  EXPECT_EQ(scored(dir, "blanks.fa", ">s\n" + wrap(ROW_S, 30, " \n") + ">t\n" + wrap(ROW_T, 40, "\t\n")), plain);
  EXPECT_EQ(scored(dir, "inside.fa", ">s\n" + ROW_S.substr(0, 10) + " " + ROW_S.substr(10) + "\n>t\n" + ROW_T + "\n"),
            plain);
  const testutil::RunResult noNotice = runBinary({"--ivalue", "crlf.fa"}, "", dir.path());
  EXPECT_EQ(noNotice.err, "");  // nothing was dropped
}

// Each writer's file reads back, through --ivalue and its reader, with the
// same rows, whatever the names: names made one word, Stockholm names that
// would read as markup or the end given a leading '_', name columns padded
// in characters, JSON valid whatever the bytes.
TEST(OutputFiles, EveryFormatReadsBackWithTheSameRowsAndSafeNames) {
  testutil::TempDir dir;
  seqcorvane::AlignConfig config;
  config.criterion = seqcorvane::Criterion::posterior;
  const seqcorvane::Sequence s{"x", "MVLSPADKTNVKAAWGKVGAHAGEYGAEALERMF"}, t{"y", "MVHLTPEEKSAVTALWGKVNVDEVGGEALGRL"};
  seqcorvane::AlignResult r = seqcorvane::align(s, t, testutil::models(), config);
  using F = seqcorvane::AlignmentFormat;
  const std::vector<std::pair<std::string, std::string>> names = {
      {"\xc3\x85sa", "Bo"}, {"//", "#=GS"}, {"a b\tc", "line\nbreak"}, {"caf\xe9", "\x01"}, {"", "same"}};
  for (const auto& n : names) {
    r.s.name = n.first, r.t.name = n.second;
    for (F f : {F::fasta, F::clustal, F::stockholm}) {
      SCOPED_TRACE(std::string(seqcorvane::alignmentFormatName(f)) + " " + n.first + " / " + n.second);
      const std::string file = dir.file("a") + seqcorvane::alignmentFormatExtension(f);
      seqcorvane::writeAlignmentFile(file, r, f);
      const seqcorvane::AlignmentFile back = seqcorvane::readAlignmentFile(file);
      EXPECT_EQ(back.rows, (std::vector<std::string>{r.rowS, r.rowT}));
      ASSERT_EQ(back.names.size(), 2u);
      for (const std::string& name : back.names) EXPECT_EQ(name.find_first_of(" \t\n\r\x01"), std::string::npos);
      if (f == F::stockholm) {
        for (const std::string& name : back.names) EXPECT_TRUE(name[0] != '#' && name[0] != '/') << name;
      }
      const testutil::RunResult scoredBack = runBinary({"--ivalue", file}, "", dir.path());
      EXPECT_EQ(scoredBack.status, 0) << scoredBack.err;
    }
    const std::string json = seqcorvane::formatAlignment(r, F::json);
    EXPECT_EQ(json.find('\n', json.find("\"sequences\"")) - json.find("\"sequences\""),
              json.substr(json.find("\"sequences\"")).find('\n'));  // no raw newline inside a name
    EXPECT_EQ(json.find("\xe9\""), std::string::npos);              // no byte that is not UTF-8
  }
  // A name of two-byte characters takes as many columns as it has characters.
  r.s.name = "\xc3\x85sa", r.t.name = "Bob";
  const std::string aln = seqcorvane::formatAlignment(r, F::clustal);
  const size_t lineS = aln.find("\xc3\x85sa"), lineT = aln.find("Bob");
  EXPECT_EQ(aln.find_first_not_of(' ', lineS + 4) - lineS - 1, aln.find_first_not_of(' ', lineT + 3) - lineT);
  // The JSON gives the identity the report gives.
  const std::string json = seqcorvane::formatAlignment(r, F::json);
  EXPECT_TRUE(std::regex_search(json, std::regex("\"equivalences\": [0-9]+,\n  \"identity\": \\{\"alignment\": ")))
      << json;
}

// An empty sequence file is one error naming it; what a broken alignment file
// holds is quoted short and escaped, however long its line.
TEST(InputFiles, EmptyFilesAndLongLinesGiveOneShortLine) {
  testutil::TempDir dir;
  testutil::writeFile(dir.file("empty.fa"), "");
  testutil::writeFile(dir.file("a.fa"), ">a\nMVLSPADK\n");
  const testutil::RunResult r = runBinary({"a.fa", "empty.fa"}, "", dir.path());
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "seqcorvane: error: sequence file 'empty.fa' is empty: it holds no FASTA record\n");
  testutil::writeFile(dir.file("long.aln"), "CLUSTAL W\n\n" + std::string(1 << 20, 'W') + "\n");
  const testutil::RunResult l = runBinary({"--ivalue", "long.aln"}, "", dir.path());
  EXPECT_EQ(l.status, 1);
  EXPECT_EQ(l.err, "seqcorvane: error: alignment file 'long.aln': line 3: '" + std::string(40, 'W') +
                       "... (1048536 more bytes)' without a row of the alignment\n");
  // Vertical tabs and form feeds are blanks wherever a line is read: a line
  // of them alone is a blank line in every format.
  testutil::writeFile(dir.file("vt.aln"), "\v\nCLUSTAL W\n\v\f\ns MV\nt MW\n\v\n");
  const testutil::RunResult v = runBinary({"--ivalue", "vt.aln"}, "", dir.path());
  EXPECT_EQ(v.status, 0) << v.err;
  testutil::writeFile(dir.file("vt.sto"), "# STOCKHOLM 1.0\n\f\ns MV\nt MW\n//\n");
  EXPECT_EQ(runBinary({"--ivalue", "vt.sto"}, "", dir.path()).status, 0);
}

// A local alignment's region reads back from every format: from the rows,
// whose flanks are gap columns before and after it, and from the JSON and
// Stockholm annotations; the scored rows give the aligner's message.
TEST(OutputFiles, TheRegionOfALocalAlignmentReadsBackFromEveryFormat) {
  testutil::TempDir dir;
  seqcorvane::AlignConfig config;
  config.mode = seqcorvane::Hypothesis::local;
  const std::string domain = "MVLSPADKTNVKAAWGKVGAHAGEYGAEALERMFLSFPTTKTYFPHF";
  const seqcorvane::Sequence s{"x", "GQDGHGGISTILIINLLL" + domain + "CCDVCRSHNYTVHQSPEPVS"},
      t{"y", "MVHLTPEEKSAVTALWGKVNVDEVGGEALGRLLVVYPWTQRFFESF"};
  const seqcorvane::AlignResult r = seqcorvane::align(s, t, testutil::models(), config);
  const seqcorvane::Region& g = r.hypothesis.region;
  ASSERT_EQ(r.hypothesis.sent, seqcorvane::Hypothesis::local);
  ASSERT_GT(g.beginS, 0u);  // the flank before the domain is left out
  using F = seqcorvane::AlignmentFormat;
  for (F f : {F::afasta, F::fasta, F::clustal, F::stockholm}) {
    SCOPED_TRACE(seqcorvane::alignmentFormatName(f));
    const std::string file = dir.file("local") + seqcorvane::alignmentFormatExtension(f);
    seqcorvane::writeAlignmentFile(file, r, f);
    const seqcorvane::AlignmentFile back = seqcorvane::readAlignmentFile(file);
    const seqcorvane::ScoreResult sc =
        seqcorvane::scoreAlignment(back.rows[0], back.rows[1], testutil::models(), seqcorvane::Hypothesis::local);
    EXPECT_EQ(sc.region.beginS, g.beginS);
    EXPECT_EQ(sc.region.endS, g.endS);
    EXPECT_EQ(sc.region.beginT, g.beginT);
    EXPECT_EQ(sc.region.endT, g.endT);
    EXPECT_DOUBLE_EQ(sc.msgLen, r.alignmentMsgLen);
  }
  auto range = [](size_t begin, size_t end) { return std::to_string(begin + 1) + "-" + std::to_string(end); };
  const std::string sto = seqcorvane::formatAlignment(r, F::stockholm);
  EXPECT_NE(sto.find("#=GF HY local, local sent\n#=GS x RG " + range(g.beginS, g.endS) + "\n#=GS y RG " +
                     range(g.beginT, g.endT) + "\n"),
            std::string::npos)
      << sto;
  const std::string json = seqcorvane::formatAlignment(r, F::json);
  const std::string region = "\"region\": {\"s\": [" + std::to_string(g.beginS + 1) + ", " + std::to_string(g.endS) +
                             "], \"t\": [" + std::to_string(g.beginT + 1) + ", " + std::to_string(g.endT) + "]}";
  EXPECT_NE(json.find("\"mode\": \"local\", \"sent\": \"local\""), std::string::npos) << json;
  EXPECT_NE(json.find(region), std::string::npos) << json;
}
