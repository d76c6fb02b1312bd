// The command line: every rejected form through the binary (exact messages,
// usage text, status 1, nothing but the banner on standard output), and the
// settings an accepted command line yields.
#include <gtest/gtest.h>

#include "cmdLineParser.h"
#include "main.h"
#include "testUtil.h"

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
const std::string TWO_SEQS =
    E + "Expecting two sequences (in fasta format) as arguments to align, or one alignment (in fasta format) to "
        "score. See usage below\n";

// Runs in a directory holding a.fa and b.fa; expects the error lines, the
// usage text and status 1, and the banner alone on standard output.
void expectRejected(const std::vector<std::string>& args, const std::string& errLines) {
  testutil::TempDir dir;
  testutil::writeFile(dir.file("a.fa"), ">a\nHEAGW\n");
  testutil::writeFile(dir.file("b.fa"), ">b\nPAWH\n");
  auto r = runBinary(args, "", dir.path());
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, errLines + USAGE);
  EXPECT_EQ(r.out, testutil::captureStdout(coutHeader));
  EXPECT_EQ(r.out.rfind(testutil::bannerText(), 0), 0u);
}

}  // namespace

TEST(CmdLine, WrongNumberOfSequenceFiles) {
  expectRejected({}, TWO_SEQS);
  expectRejected({"a.fa"}, TWO_SEQS);
  expectRejected({"a.fa", "b.fa", "a.fa"}, TWO_SEQS);
  // a value after an option's value is a second value of that option
  expectRejected({"a.fa", "-o", "p", "b.fa"}, TWO_SEQS + E + "Option '-o' takes one output_afasta_string as an argument\n");
}

TEST(CmdLine, OptionsWithTooManyOrWrongValues) {
  expectRejected({"a.fa", "b.fa", "--criterion", "optimal", "marginal", "-o", "p", "q"},
                 E + "Option '-o' takes one output_afasta_string as an argument\n" + E +
                     "Option '--criterion' takes exactly one argument\n");
  expectRejected({"a.fa", "b.fa", "--criterion", "best"}, E + "Invalid option for --criterion: best\n");
  expectRejected({"a.fa", "b.fa", "--Criterion", "marginal"},
                 E + "Unsupported option: --Criterion\n" + E + "The following arguments cannot be processed:\n" +
                     std::string(18, ' ') + "marginal\n");
  expectRejected({"a.fa", "b.fa", "-", "--criterion=marginal", "x", "y"},
                 E + "Unsupported option: -\n" + E + "Unsupported option: --criterion=marginal\n" + E +
                     "The following arguments cannot be processed:\n" + std::string(18, ' ') + "x\n" +
                     std::string(18, ' ') + "y\n");
}

TEST(CmdLine, ScoringModeNeedsExactlyOneAlignmentFile) {
  const std::string err = E + "Option '--ivalue' takes an alignment fasta file as an argument\n";
  expectRejected({"--ivalue"}, err);
  expectRejected({"--ivalue", "a.fa", "b.fa"}, err);
  expectRejected({"a.fa", "b.fa", "--ivalue", "missing.afasta"}, E + "File 'missing.afasta' does not exist\n");
}

TEST(CmdLine, MissingFilesAreNamedInOrder) {
  expectRejected({"x.fa", "b.fa"}, E + "File 'x.fa' does not exist\n");
  expectRejected({"y.fa", "x.fa", "--criterion", "fast"}, E + "File 'y.fa' does not exist\n" + E +
                                                               "File 'x.fa' does not exist\n" + E +
                                                               "Invalid option for --criterion: fast\n");
}

namespace {

// The settings parseCmdLine fills for an accepted command line.
struct Parsed {
  std::vector<std::string> seqfn;
  bool ivalue = false;
  std::string algnfn, prefix, criterion = "optimal";
};

Parsed parse(std::vector<std::string> args) {
  args.insert(args.begin(), "seqcorvane");
  std::vector<char*> argv;
  for (auto& s : args) argv.push_back(&s[0]);
  argv.push_back(nullptr);
  Parsed p;
  parseCmdLine(static_cast<int32_t>(args.size()), argv.data(), p.seqfn, p.ivalue, p.algnfn, p.prefix, p.criterion);
  return p;
}

}  // namespace

TEST(CmdLine, AcceptedSettings) {
  testutil::TempDir dir;
  const std::string a = dir.file("a.fa"), b = dir.file("b.fa");
  testutil::writeFile(a, ">a\nA\n");
  testutil::writeFile(b, ">b\nC\n");
  Parsed p = parse({a, b, "-o", "run1", "--criterion", "marginal-interactive"});
  EXPECT_EQ(p.seqfn, (std::vector<std::string>{a, b}));
  EXPECT_FALSE(p.ivalue);
  EXPECT_EQ(p.prefix, "run1");
  EXPECT_EQ(p.criterion, "marginal-interactive");
  // options without a value keep the defaults
  p = parse({a, b, "--criterion", "-o"});
  EXPECT_EQ(p.seqfn.size(), 2u);
  EXPECT_EQ(p.prefix, "output");
  EXPECT_EQ(p.criterion, "optimal");
  // positional names in scoring mode are ignored, missing or not
  p = parse({"nope1.fa", "nope2.fa", "--ivalue", a});
  EXPECT_TRUE(p.ivalue);
  EXPECT_TRUE(p.seqfn.empty());
  EXPECT_EQ(p.algnfn, a);
  EXPECT_EQ(p.prefix, "output");
}
