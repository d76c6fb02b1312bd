// The program as a user meets it, through the binary: the command line and
// its usage text, help and version, colour, the report and verdicts, the
// scoring mode and the interactive dialogue.
#include <dirent.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <zlib.h>

#include <algorithm>
#include <random>
#include <regex>
#include <thread>

#include "cmdLineParser.h"
#include "dataFiles.h"
#include "fasta.h"
#include "nullModelClass.h"
#include "report.h"
#include "testUtil.h"

using testutil::count;
using testutil::filesMatching;
using testutil::randomProtein;
using testutil::runBinary;

namespace {

const std::string USAGE =
    "\n"
    "To find/compute alignment(s) between protein sequences in the MML information framework\n"
    "    Usage: seqcorvane <seq1 fasta> <seq2 fasta>\n"
    "                      (--criterion <optimal/marginal/marginal-interactive>)\n"
    "                      ( -o  <output_prefix_string>) \n"
    "To score/evaluate any pre-computed alignments in the  MML information framework\n"
    "    Usage: seqcorvane --ivalue <alignment fasta>)\n";
const std::string E = "::CmdLineError:: ";
const std::string ERR = "seqcorvane: error: ";
const std::string RULE = "----------------------------+=o0o=+-------------------------------\n";
const std::string TWO_SEQS =
    E +
    "Expecting two sequences (in fasta format) as arguments to align, or one alignment (in fasta format) to "
    "score. See usage below\n";

std::string banner() {
  return testutil::captureStdout([] { coutHeader(std::cout); });
}

// Runs in a directory holding a.fa and b.fa; expects the error lines, the
// usage text, status 1 and the banner alone on standard output.
void expectRejected(const std::vector<std::string>& args, const std::string& errLines) {
  testutil::TempDir dir;
  testutil::writeFile(dir.file("a.fa"), ">a\nHEAGW\n");
  testutil::writeFile(dir.file("b.fa"), ">b\nPAWH\n");
  auto r = runBinary(args, "", dir.path());
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, errLines + USAGE);
  EXPECT_EQ(r.out, banner());
}

}  // namespace

TEST(CommandLine, RejectedFormsPrintTheirErrorsAndTheUsage) {
  expectRejected({}, TWO_SEQS);
  expectRejected({"a.fa"}, TWO_SEQS);
  // a value after an option's value is a second value of that option
  expectRejected({"a.fa", "-o", "p", "b.fa"},
                 TWO_SEQS + E + "Option '-o' takes one output_afasta_string as an argument\n");
  expectRejected({"a.fa", "b.fa", "--criterion", "optimal", "marginal"},
                 E + "Option '--criterion' takes exactly one argument\n");
  expectRejected({"a.fa", "b.fa", "--criterion", "best"}, E + "Invalid option for --criterion: best\n");
  expectRejected({"a.fa", "b.fa", "-", "--criterion=marginal", "x"},
                 E + "Unsupported option: -\n" + E + "Unsupported option: --criterion=marginal\n" + E +
                     "The following arguments cannot be processed:\n" + std::string(18, ' ') + "x\n");
  expectRejected({"--ivalue", "a.fa", "b.fa"}, E + "Option '--ivalue' takes an alignment fasta file as an argument\n");
  expectRejected({"y.fa", "x.fa", "--criterion", "fast"}, E + "File 'y.fa' does not exist\n" + E +
                                                              "File 'x.fa' does not exist\n" + E +
                                                              "Invalid option for --criterion: fast\n");
  expectRejected({"a.fa", "b.fa", "--data"}, E + "Option '--data' takes one model directory as an argument\n");
  expectRejected({"a.fa", "b.fa", "--confidence", "x"}, E + "Option '--confidence' takes no argument\n");
}

TEST(CommandLine, AcceptedSettings) {
  testutil::TempDir dir;
  const std::string a = dir.file("a.fa"), b = dir.file("b.fa");
  testutil::writeFile(a, ">a\nA\n");
  testutil::writeFile(b, ">b\nC\n");
  auto parse = [](std::vector<std::string> args, std::vector<std::string>& seqfn, bool& ivalue, std::string& algnfn,
                  std::string& prefix, std::string& criterion, CmdLineExtras& extras) {
    args.insert(args.begin(), "seqcorvane");
    std::vector<char*> argv;
    for (auto& s : args) argv.push_back(&s[0]);
    argv.push_back(nullptr);
    extras = CmdLineExtras{};
    parseCmdLine(static_cast<int32_t>(args.size()), argv.data(), seqfn, ivalue, algnfn, prefix, criterion, &extras);
  };
  std::vector<std::string> seqfn;
  bool ivalue = false;
  std::string algnfn, prefix, criterion = "optimal";
  CmdLineExtras extras;
  parse({a, b, "-o", "run1", "--criterion", "posterior", "--confidence", "--data", "models"}, seqfn, ivalue, algnfn,
        prefix, criterion, extras);
  EXPECT_EQ(seqfn, (std::vector<std::string>{a, b}));
  EXPECT_EQ(prefix, "run1");
  EXPECT_EQ(criterion, "posterior");
  EXPECT_EQ(extras.dataDir, "models");
  EXPECT_TRUE(extras.confidence);
  // options without a value keep the defaults; positional names in scoring mode are ignored
  seqfn.clear();
  criterion = "optimal";
  parse({"nope1.fa", "nope2.fa", "--ivalue", a, "--criterion", "-o"}, seqfn, ivalue, algnfn, prefix, criterion, extras);
  EXPECT_TRUE(ivalue);
  EXPECT_TRUE(seqfn.empty());
  EXPECT_EQ(algnfn, a);
  EXPECT_EQ(prefix, "output");
  EXPECT_EQ(criterion, "optimal");
  EXPECT_EQ(extras.dataDir, "");
  EXPECT_FALSE(extras.confidence);
}

TEST(CommandLine, HelpVersionAndColour) {
  auto help = runBinary({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.err, "");
  for (const char* item : {"--criterion", "optimal", "marginal-interactive", "posterior", "--confidence", "-o <prefix>",
                           "--ivalue", "--data", "--version", "SEQCORVANE_THREADS", "NO_COLOR"})
    EXPECT_NE(help.out.find(item), std::string::npos) << item;
  auto version = runBinary({"a.fa", "--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, "seqcorvane 1.1\n");

  testutil::TempDir dir;
  testutil::writeFile(dir.file("a.fa"), ">a\nHEAGW\n");
  testutil::RunOptions noColour;
  noColour.env = {{"NO_COLOR", "1"}};
  auto plain = runBinary({"a.fa", "a.fa"}, "", dir.path(), noColour);
  EXPECT_EQ(plain.status, 0) << plain.err;
  EXPECT_EQ(plain.out.find('\033'), std::string::npos);
  EXPECT_EQ(
      plain.out.rfind("   SeqCorvane (v1.1) Minimum Message Length (MML) based aligner of protein SEQUENCES   \n", 0),
      0u);
  EXPECT_NE(plain.out.find("Running in optimal mode\n"), std::string::npos);
}

// The banner and the stream state it leaves; the null-model block of a pair
// whose lengths and probabilities make every length a whole number of bits;
// the verdicts of an unrelated pair.
TEST(Report, BannerNullBlockAndVerdicts) {
  testutil::TempDir dir;
  testutil::makeModelDir(dir.path(), {{"protSeqNullMMLEstimatesOrderX.txt", "A 0.5\nC 0.25\nD 0.25\n"}});
  const nullModelClass_t small("X", dir.file("data"));
  std::string S = "AC", T = "DAA";
  const double IS = sequenceNullMsgLen(S, small), IT = sequenceNullMsgLen(T, small);
  const double nits = IS + IT;
  const std::string block = testutil::captureStdout([&] {
    std::cout << std::left;
    printNullReport(std::cout, S.size(), T.size(), IS, IT);
  });
  EXPECT_EQ(block,
            "------------------- \033[45;4mNULL MODEL STATS (SEQUENCE)\033[0m --------------------\n"
            "NULL(S)          = 8.000      bits (4.000 bits-per-aa over 2 a.a.)\n"
            "NULL(T)          = 9.000      bits (3.000 bits-per-aa over 3 a.a.)\n"
            "NULL(<S,T>)      = \033[43;4m17.000\033[0m bits (3.400 bits-per-aa over 5 a.a.)\n\n" +
                std::string(68, '-') + "\n\n");
  EXPECT_NEAR(nits, 17 * 0.6931471805599453, 1e-12);

  std::streamsize width = 0;
  bool left = false;
  std::string out = testutil::captureStdout([&] {
    coutHeader(std::cout);
    width = std::cout.width();
    left = (std::cout.flags() & std::ios::left) != 0;
  });
  EXPECT_EQ(out, testutil::bannerText() +
                     "\033[0;1;37;1;45m    Authors:\033[0;1;37;1;45m the SeqCorvane developers\033[0m\n"
                     "\033[1;37;1;45m    Reference:\033[0;1;37;1;45m see README.md of the SeqCorvane "
                     "distribution\033[0m\n\n");
  EXPECT_EQ(width, 82);
  EXPECT_TRUE(left);

  // An unrelated short pair is rejected under both criteria.
  testutil::writeFile(dir.file("s.fa"), ">s\nWC\n");
  testutil::writeFile(dir.file("t.fa"), ">t\nPG\n");
  auto opt = runBinary({"s.fa", "t.fa"}, "", dir.path());
  ASSERT_EQ(opt.status, 0) << opt.err;
  EXPECT_NE(opt.out.find("According to MML, this alignment hypothesis is worse than null, so should be "
                         "\033[41;4mREJECTED\033[0m \nSuggestion: check the marginal probability of <S,T> by "
                         "running in ' \033[45;4m--criterion marginal\033[0m ' mode.\n" +
                         RULE),
            std::string::npos);
  auto marg = runBinary({"s.fa", "t.fa", "--criterion", "marginal", "-o", "m"}, "", dir.path());
  ASSERT_EQ(marg.status, 0) << marg.err;
  EXPECT_NE(marg.out.find("According to MML, the hypothesis that <S,T> are related is worse than null, so NOT "
                          "related.\n" +
                          RULE),
            std::string::npos);
  EXPECT_FALSE(testutil::fileExists(dir.file("m.afasta")));
  EXPECT_TRUE(testutil::fileExists(dir.file("m_MarginalProbabilityLandscape.csv")));
}

TEST(Report, RelatedPairAlignsAndItsAfastaScoresBack) {
  testutil::TempDir dir;
  auto r = runBinary({testutil::examplePath("hbb_human.fa"), testutil::examplePath("hba_macfa.fa")}, "", dir.path());
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  std::smatch m;
  ASSERT_TRUE(std::regex_search(
      r.out, m,
      std::regex(" \033\\[46;4mCOMPRESSION\033\\[0m wrt null =    \033\\[42;4m([0-9.e+]+)\033\\[0m  bits\n"
                 " According to MML, this alignment hypothesis is 2\\^\\{([0-9]+\\.[0-9]{3})\\} times "
                 "\033\\[42;4mMORE LIKELY\033\\[0m  than null.\n")));
  EXPECT_NEAR(std::stod(m[1]), std::stod(m[2]), 1e-5 * std::stod(m[2]));
  const std::string afasta = testutil::readFile(dir.file("output.afasta"));
  EXPECT_TRUE(std::regex_match(afasta, std::regex(">aligned seq 1\n([A-Y-]{60}\n)*[A-Y-]{1,60}\n\n"
                                                  ">aligned seq 2\n([A-Y-]{60}\n)*[A-Y-]{1,60}\n")));
  auto scored = runBinary({"--ivalue", "output.afasta"}, "", dir.path());
  EXPECT_EQ(scored.status, 0) << scored.err;
  EXPECT_NE(scored.out.find("\nCOMPRESSION wrt null =   "), std::string::npos);
}

// The posterior criterion's alignment, its column confidences (file and
// report line) and its score; --confidence adds the file to an optimal run
// and changes nothing else.
TEST(Report, PosteriorAlignmentAndColumnConfidences) {
  testutil::TempDir dir;
  testutil::RunOptions plain;
  plain.env = {{"NO_COLOR", "1"}};
  const std::string s = testutil::examplePath("hbb_human.fa"), t = testutil::examplePath("hba_macfa.fa");
  auto r = runBinary({s, t, "--criterion", "posterior", "-o", "p"}, "", dir.path(), plain);
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string afasta = testutil::readFile(dir.file("p.afasta"));
  std::smatch m;
  ASSERT_TRUE(std::regex_match(afasta, m, std::regex(">aligned seq 1\n([A-Y-\n]*)\n>aligned seq 2\n([A-Y-\n]*)")));
  std::string rowS = m[1], rowT = m[2];
  rowS.erase(std::remove(rowS.begin(), rowS.end(), '\n'), rowS.end());
  rowT.erase(std::remove(rowT.begin(), rowT.end(), '\n'), rowT.end());
  ASSERT_EQ(rowS.size(), rowT.size());
  // one row a column: positions in S and T (or -), the state, the posterior
  std::istringstream tsv(testutil::readFile(dir.file("p.confidence.tsv")));
  std::string line, digits;
  std::getline(tsv, line);
  EXPECT_EQ(line, "column\tposition_s\tposition_t\tstate\tposterior");
  long i = 0, j = 0, column = 0;
  while (std::getline(tsv, line)) {
    std::istringstream f(line);
    std::string c, ps, pt, state;
    double p = -1;
    f >> c >> ps >> pt >> state >> p;
    ASSERT_LT(column, static_cast<long>(rowS.size()));
    const bool inS = rowS[column] != '-', inT = rowT[column] != '-';
    ++column;
    EXPECT_EQ(c, std::to_string(column));
    EXPECT_EQ(ps, inS ? std::to_string(++i) : "-");
    EXPECT_EQ(pt, inT ? std::to_string(++j) : "-");
    EXPECT_EQ(state, inS && inT ? "m" : inS ? "d" : "i");
    EXPECT_TRUE(p >= 0 && p <= 1) << line;
    digits += p >= 0.95 ? '*' : static_cast<char>('0' + std::min(9, static_cast<int>(p * 10)));
  }
  EXPECT_EQ(column, static_cast<long>(rowS.size()));
  // the report's confidence line under each block of sixty columns
  std::string reported;
  const std::regex confidenceLine("\n([0-9*]{1,60})\n");
  for (std::sregex_iterator b(r.out.begin(), r.out.end(), confidenceLine), e; b != e; ++b) reported += (*b)[1];
  EXPECT_EQ(reported, digits);
  // the closing block is what --ivalue says of the written alignment
  auto scored = runBinary({"--ivalue", "p.afasta"}, "", dir.path(), plain);
  ASSERT_EQ(scored.status, 0) << scored.err;
  const std::string label = "I(A,<S,T>)   = ";
  ASSERT_NE(r.out.rfind(label), std::string::npos);
  EXPECT_EQ(r.out.substr(r.out.rfind(label), 30), scored.out.substr(scored.out.rfind(label), 30));
  EXPECT_NE(r.out.find("COMPRESSION wrt null ="), std::string::npos);

  auto plainRun = runBinary({s, t, "-o", "a"}, "", dir.path(), plain);
  auto withConf = runBinary({s, t, "-o", "b", "--confidence"}, "", dir.path(), plain);
  ASSERT_EQ(withConf.status, 0) << withConf.err;
  std::string expected = plainRun.out;
  const std::string written = "Alignment fasta (afasta) file written to:   a.afasta \n";
  ASSERT_NE(expected.find(written), std::string::npos);
  expected.replace(expected.find(written), written.size(),
                   "Alignment fasta (afasta) file written to:   b.afasta \n"
                   "Column confidences written to:              b.confidence.tsv \n");
  EXPECT_EQ(withConf.out, expected);
  EXPECT_TRUE(testutil::fileExists(dir.file("b.confidence.tsv")));
  EXPECT_FALSE(testutil::fileExists(dir.file("a.confidence.tsv")));
}

TEST(ScoringMode, UnusableColumnsAndBrokenFiles) {
  testutil::TempDir dir;
  testutil::writeFile(dir.file("a.afasta"), ">aligned seq 1\nHEAG-aW-KL\n\n>aligned seq 2\nH-AGWW?-KM\n");
  auto r = runBinary({"--ivalue", "a.afasta"}, "", dir.path());
  ASSERT_EQ(r.status, 0) << r.err;
  // the title takes the banner's pending width: 14 blanks follow it
  EXPECT_NE(r.out.find("\n-------------IVALUE STATISTICS OF A GIVEN ALIGNMENT---------------\n" + std::string(14, ' ') +
                       "aW\nW?\nAlignment String of S\nHEAG-KL\nAlignment String of T\nH-AGWKM\n"),
            std::string::npos);
  EXPECT_EQ(r.err,
            "seqcorvane: notice: 'a.afasta': dropped 2 columns holding characters that are not upper-case "
            "residue letters (ACDEFGHIKLMNPQRSTVWY) or gaps\n");
  struct Case {
    std::string text, err;
  } cases[] = {
      {">a\nAC\n>b\nAC\n>c\nAC\n", "alignment file 'x.afasta' holds 3 records; expected two"},
      {">a\nAC-G\n>b\nACG\n", "alignment file 'x.afasta': its two records differ in length (4 and 3 characters)"},
      {">a\n--ac\n>b\nWWKK\n", "alignment file 'x.afasta': no standard residues left in its first row"},
  };
  for (const Case& c : cases) {
    testutil::writeFile(dir.file("x.afasta"), c.text);
    auto bad = runBinary({"--ivalue", "x.afasta"}, "", dir.path());
    EXPECT_EQ(bad.status, 1);
    EXPECT_EQ(bad.err.substr(bad.err.find(ERR)), ERR + c.err + "\n");
  }
}

TEST(Interactive, DialogueMenuSavesAndEndOfInput) {
  testutil::TempDir dir;
  testutil::writeFile(dir.file("s.fa"), ">s\nHEAGW\n");
  testutil::writeFile(dir.file("t.fa"), ">t\nPAWH\n");
  const std::string answers =
      "3 7\nhello\n2\n"  // out of range, not numbers, one number
      "5 4\n9\nx\n1\n"   // the end cell; two bad options; another cell
      "0 0\n3\n"         // the origin; save and continue
      "2 2\n3\n"         // save again within the same second
      "0 4\n2\n";        // save and leave
  auto r = runBinary({"s.fa", "t.fa", "--criterion", "marginal-interactive", "-o", "run"}, answers, dir.path());
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(count(r.out,
                  "Wrong index(es): index-i should be between 0 and 5 (inclusive)\n"
                  "Wrong index(es): index-j should be between 0 and 4 (inclusive)\nTry again\n"),
            3u);
  EXPECT_NE(r.out.find("        Cell (5,4) has been selected\n\n"), std::string::npos);
  EXPECT_EQ(count(r.out, "  [4] exit interactive mode\n"), 6u);
  const auto saved = filesMatching(dir.path(), "run_[0-9]{4}-[0-9]{2}-[0-9]{2}_[0-9]{6}(_[0-9]+)?\\.afasta");
  ASSERT_EQ(saved.size(), 3u);
  bool found = false;  // the cell (0, 4): four inserts, then five deletes
  for (const auto& name : saved)
    found |= testutil::readFile(dir.file(name)) == ">aligned seq 1\n----HEAGW\n\n>aligned seq 2\nPAWH-----\n";
  EXPECT_TRUE(found);
  for (const std::string& early : {std::string(""), std::string("1 1\n"), std::string("9 9\n")}) {
    auto e = runBinary({"s.fa", "t.fa", "--criterion", "marginal-interactive", "-o", "eof"}, early, dir.path());
    EXPECT_EQ(e.status, 0) << e.err;
    EXPECT_NE(e.out.find(RULE), std::string::npos);
  }
  EXPECT_TRUE(filesMatching(dir.path(), "eof_2.*\\.afasta").empty());
}

TEST(Landscape, ScriptParsesInOctaveAsTheTable) {
  if (std::system("command -v octave-cli >/dev/null 2>&1") != 0 ||
      std::system("command -v gnuplot >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "octave-cli or gnuplot is not installed";
  testutil::TempDir dir;
  testutil::writeFile(dir.file("s.fa"), ">s\nHEAGW\n");
  testutil::writeFile(dir.file("t.fa"), ">t\nPAWH\n");
  auto r = runBinary({"s.fa", "t.fa", "--criterion", "marginal", "-o", "oct"}, "", dir.path());
  ASSERT_EQ(r.status, 0);
  const std::string cmd =
      "cd '" + dir.path() +
      "' && octave-cli --no-gui --eval \"graphics_toolkit('gnuplot'); set(0,'defaultfigurevisible','off'); "
      "source('oct_MarginalProbabilityLandscape.m'); C = csvread('oct_MarginalProbabilityLandscape.csv'); "
      "assert(isequal(size(M), [6 5])); assert(isequal(size(C), [6 5])); assert(max(abs(M(:) - C(:))) < 1e-9)\" "
      ">/dev/null 2>&1";
  EXPECT_EQ(std::system(cmd.c_str()), 0);
}

// Settings that do nothing say so on standard error; the run goes on with
// the same report.
TEST(CommandLine, SettingsWithoutEffectGetANotice) {
  testutil::TempDir dir;
  testutil::writeFile(dir.file("a.fa"), ">a\nHEAGAWGHEE\n");
  testutil::writeFile(dir.file("b.fa"), ">b\nPAWHEAE\n");
  testutil::RunOptions odd;
  odd.env = {{"SEQCORVANE_SIMD", "foo"}, {"SEQCORVANE_THREADS", "abc"}};
  auto r = runBinary({"a.fa", "b.fa", "--criterion", "marginal", "--confidence"}, "", dir.path(), odd);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("seqcorvane: notice: SEQCORVANE_SIMD='foo' is not one of scalar, sse2, avx2, avx512: "),
            std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("seqcorvane: notice: SEQCORVANE_THREADS='abc' is not a number of threads (1 or more): "),
            std::string::npos);
  EXPECT_NE(r.err.find("seqcorvane: notice: --confidence has no effect with the marginal criterion"),
            std::string::npos);
  EXPECT_FALSE(testutil::fileExists(dir.file("output.confidence.tsv")));
  auto plain = runBinary({"a.fa", "b.fa", "--criterion", "marginal"}, "", dir.path());
  EXPECT_EQ(plain.out, r.out);
  EXPECT_EQ(plain.err, "");
  auto badFormat = runBinary({"a.fa", "b.fa", "--format", "xml"}, "", dir.path());
  EXPECT_EQ(badFormat.status, 1);
  EXPECT_EQ(badFormat.err.substr(0, badFormat.err.find('\n') + 1), E + "Invalid option for --format: xml\n");
  // The batch program reads standard input as '-'.
  testutil::RunOptions b;
  b.program = SEQCORVANE_BATCH_BINARY;
  auto fromStdin = runBinary({"-"}, ">a\nHEAGAWGHEE\n>b\nPAWHEAE\n", dir.path(), b);
  ASSERT_EQ(fromStdin.status, 0) << fromStdin.err;
  EXPECT_NE(fromStdin.out.find("\na\tb\t10\t7\toptimal\t"), std::string::npos) << fromStdin.out;
}
