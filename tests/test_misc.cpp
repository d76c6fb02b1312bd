// Code lengths, state strings, the printed alignment at block edges, colour,
// dense matrices, numbers in text and unwritable afasta paths.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <iomanip>
#include <random>

#include "codeLengths.h"
#include "matrix.h"
#include "numberText.h"
#include "paths.h"
#include "seqcorvane/io.h"
#include "terminal.h"
#include "testUtil.h"
#include "text.h"

namespace {

const std::string TEN = "ACDEFGHIKL";
std::string repeat(const std::string& s, int n) {
  std::string r;
  while (n-- > 0) r += s;
  return r;
}
const std::string RULER60 = repeat("         .", 6);
const std::string IDENT = "%-Identity (as a function of |";

std::string printed(const std::string& fsastr, const std::string& S, const std::string& T) {
  return testutil::captureStdout([&] {
    std::cout << std::fixed << std::setprecision(3);
    printFSAstr2Algn(fsastr, S, T, std::cout);
  });
}

TEST(CodeLengths, TreeCodeAtEveryRangeBoundary) {
  const std::vector<std::pair<int, double>> table = {{0, 1},    {1, 3},    {3, 5},    {4, 7},    {8, 7},
                                                     {9, 9},    {22, 9},   {23, 11},  {64, 11},  {65, 13},
                                                     {196, 13}, {197, 15}, {625, 15}, {626, 17}, {656043856, 37}};
  for (auto [n, bits] : table) EXPECT_EQ(wtCodeLen_bits(n), bits) << n;
  // Every later range ends at a cumulative Catalan sum minus 1.
  int64_t c = 1, cumulative = 1;
  for (int j = 1; j <= 18; ++j) {
    c = c * 2 * (2 * j - 1) / (j + 1);
    cumulative += c;
    EXPECT_EQ(catalan_C(j), c);
    EXPECT_EQ(wtCodeLen_bits(static_cast<int>(cumulative - 1)), 2 * j + 1) << j;
    if (j < 18) {
      EXPECT_EQ(wtCodeLen_bits(static_cast<int>(cumulative)), 2 * j + 3) << j;
    }
  }
  EXPECT_EQ(wtCodeLen_nits(0), LN2);
  for (int n : {1, 7, 100, 5000, 1000000}) EXPECT_EQ(wtCodeLen_nits(n), wtCodeLen_bits(n) * LN2);
}

TEST(CodeLengths, CatalanAndUnits) {
  EXPECT_EQ(catalan_C(0), 1);
  EXPECT_EQ(catalan_C(5), 42);
  EXPECT_EQ(catalan_C(7), 429);
  EXPECT_EQ(catalan_C(18), 477638700);
  EXPECT_EQ(catalan_C(19), 1767263190);
  EXPECT_EQ(nits2bits(LN2), 1.0);
  EXPECT_DOUBLE_EQ(nits2bits(123.456 * LN2), 123.456);
}

TEST(CodeLengthsDeathTest, NegativeArgumentsStop) {
  EXPECT_EXIT(catalan_C(-1), ::testing::ExitedWithCode(2), "K >= 0");
  EXPECT_EXIT(wtCodeLen_bits(-1), ::testing::ExitedWithCode(2), "n>0");
  EXPECT_EXIT(wtCodeLen_nits(-5), ::testing::ExitedWithCode(2), "n>0");
}

// Texts quoted in messages: short, UTF-8 kept, everything else escaped.
TEST(Messages, ExcerptsAreShortAndSafe) {
  EXPECT_EQ(excerpt(std::string(100, 'W')), std::string(40, 'W') + "... (60 more bytes)");
  EXPECT_EQ(excerpt("a\tb\xff\xc3\x85\r\n"), "a\\tb\\xff\xc3\x85\\r\\n");
  EXPECT_EQ(excerpt(std::string("\0\x7f\xed\xa0\x80", 5)), "\\0\\x7f\\xed\\xa0\\x80");  // a surrogate is no UTF-8
  EXPECT_EQ(characterAt("x\xf0\x9f\x98\x80y", 1), "\xf0\x9f\x98\x80");
  EXPECT_EQ(characterAt("x\xf0\x9f", 1), "\\xf0");
  EXPECT_EQ(utf8Length("\xc0\x80", 0), 0u);  // an overlong form
}

TEST(StateStrings, RowsAndStatesConvertBothWays) {
  EXPECT_EQ(algn2Fsastr({"A-C", "AG-"}), "mid");
  EXPECT_EQ(fsastr2Algn("mid", "AC", "AG"), (std::vector<std::string>{"A-C", "AG-"}));
  EXPECT_EQ(fsastr2Algn("", "", ""), (std::vector<std::string>{"", ""}));
  const auto rows = fsastr2Algn("dmmiimd", "KLMNP", "QLMRS");
  EXPECT_EQ(rows, (std::vector<std::string>{"KLM--NP", "-QLMRS-"}));
  EXPECT_EQ(algn2Fsastr(rows), "dmmiimd");
}

TEST(StateStringsDeathTest, InvalidStringsStopBeforeReadingPastTheEnd) {
  const auto internal = ::testing::ExitedWithCode(2);
  EXPECT_EXIT(fsastr2Algn("mm", "A", "AG"), internal, "internal check failed: i < S.length");
  EXPECT_EXIT(fsastr2Algn("md", "A", "A"), internal, "internal check failed: i < S.length");
  EXPECT_EXIT(fsastr2Algn("mi", "AC", "A"), internal, "internal check failed: j < T.length");
  EXPECT_EXIT(fsastr2Algn("mx", "AC", "AC"), internal, "internal check failed: state == 'm'");
  EXPECT_EXIT(fsastr2Algn("m", "AC", "A"), internal, "internal check failed: S.length\\(\\)==i");
  EXPECT_EXIT(fsastr2Algn("d", "A", "A"), internal, "internal check failed: T.length\\(\\)==j");
  EXPECT_THROW(printFSAstr2Algn("mmm", "AC", "ACD", std::cout), seqcorvane::Error);  // the caller's path
  EXPECT_EXIT(algn2Fsastr({"AC", "A"}), internal, "internal check failed: algn\\[0\\].length\\(\\) == algn\\[1\\]");
}

TEST(PrintedAlignment, BlocksOfSixtyColumns) {
  const std::string S = repeat(TEN, 6), T = "W" + S.substr(1);
  // Exactly 60 columns: one full block, then an empty block of four newlines.
  EXPECT_EQ(printed(std::string(60, 'm'), S, T), "\n" + RULER60 + "\n" + S + "\n" + T + "\n " + std::string(59, '*') +
                                                     "\n\n\n\n" + "\n" + "nEquivalences = 59\n" + IDENT +
                                                     "A|)  = 98.333\n" + IDENT + "S|)  = 98.333\n" + IDENT +
                                                     "T|)  = 98.333\n\n");
  // 61 columns: the second block is one column, its ruler a single space.
  EXPECT_EQ(printed(std::string(60, 'm') + "d", S + "Y", S),
            "\n" + RULER60 + "\n" + S + "\n" + S + "\n" + std::string(60, '*') + "\n \nY\n-\n \n" +
                "nEquivalences = 60\n" + IDENT + "A|)  = 98.361\n" + IDENT + "S|)  = 98.361\n" + IDENT +
                "T|)  = 100.000\n\n");
  const std::string S120 = repeat(TEN, 12), stars = std::string(60, '*');
  EXPECT_EQ(printed(std::string(120, 'm'), S120, S120),
            "\n" + RULER60 + "\n" + S + "\n" + S + "\n" + stars + "\n" + RULER60 + "\n" + S + "\n" + S + "\n" + stars +
                "\n\n\n\n\nnEquivalences = 120\n" + IDENT + "A|)  = 100.000\n" + IDENT + "S|)  = 100.000\n" + IDENT +
                "T|)  = 100.000\n\n");
}

TEST(PrintedAlignment, ZeroDenominatorPrintsZero) {
  EXPECT_EQ(printed("", "", ""), "\n\n\n\n\nnEquivalences = 0\n" + IDENT + "A|)  = 0.000\n" + IDENT + "S|)  = 0.000\n" +
                                     IDENT + "T|)  = 0.000\n\n");
  EXPECT_NE(printed("ii", "", "AC").find("|S|)  = 0.000\n"), std::string::npos);
}

TEST(Terminal, HighlightsWithAndWithoutColour) {
  EXPECT_EQ(getTerminalColorString("optimal", 42), " \x1b[42;4moptimal\x1b[0m ");
  EXPECT_EQ(getTerminalColorString("", 41), " \x1b[41;4m\x1b[0m ");
  setColour(false);
  EXPECT_EQ(getTerminalColorString("optimal", 42), " optimal ");
  EXPECT_EQ(ansi("\x1b[0m"), "");
  setColour(true);
}

TEST(Matrices, ShapesIdentityAndSummationOrder) {
  const Matrix A = {{1, 2, 3}, {4, 5, 6}}, B = {{7, 8}, {9, 10}, {11, 12}};
  EXPECT_EQ(matrixMultiply(A, B), (Matrix{{58, 64}, {139, 154}}));
  EXPECT_EQ(matrixMultiply(Matrix{{1}, {2}, {3}}, Matrix{{4, 5, 6}}), (Matrix{{4, 5, 6}, {8, 10, 12}, {12, 15, 18}}));
  // Summed from 0 in increasing k: 1 + 1e16 rounds to 1e16, minus 1e16 is 0.
  EXPECT_EQ(matrixMultiply(Matrix{{1, 1e16, -1e16}}, Matrix{{1}, {1}, {1}}), (Matrix{{0}}));
  EXPECT_TRUE(matrixMultiply(Matrix{}, Matrix{}).empty());
}

TEST(MatricesDeathTest, ShapeMismatchStops) {
  const auto internal = ::testing::ExitedWithCode(2);
  EXPECT_EXIT(matrixMultiply(Matrix{{1, 2}}, Matrix{{1, 2}}), internal, "nCols_A == nRows_B");
}

// Two decimals exactly as printf writes them, exact halves (x.125, x.375,
// ...) to even included, and numbers read back whole.
TEST(NumbersInText, FixedTwoDecimalsAndParsing) {
  std::mt19937_64 rng(11);
  std::uniform_real_distribution<double> u(0, 1);
  char mine[340], theirs[340];
  auto check = [&](double x) {
    *writeFixed2(mine, x) = '\0';
    std::snprintf(theirs, sizeof theirs, "%.2f", x);
    ASSERT_STREQ(mine, theirs) << x;
  };
  for (int k = 0; k < 200000; ++k) check(std::exp(u(rng) * 25));
  for (int k = 0; k < 50000; ++k) {
    const double half = static_cast<double>(rng() % 100000000) / 8.0,
                 cent = static_cast<double>(rng() % 10000000) / 200.0;
    for (double x : {half, cent}) {
      check(x);
      check(std::nextafter(x, 0));
      check(std::nextafter(x, 1e300));
    }
  }
  for (double x : {0.0, 0.005, 0.125, 1e300, -3.5, 1e15}) check(x);
  double v = 0;
  long n = 0;
  EXPECT_TRUE(parseNumber("+1.5e3", v));
  EXPECT_EQ(v, 1500);
  EXPECT_TRUE(parseNumber(".5", v));
  EXPECT_FALSE(parseNumber("1.0.0", v));
  EXPECT_FALSE(parseNumber("0x10", v));
  EXPECT_FALSE(parseNumber("", v));
  EXPECT_TRUE(parseInteger("-42", n));
  EXPECT_EQ(n, -42);
  EXPECT_FALSE(parseInteger("60.0", n));
}

TEST(AfastaFile, UnwritablePathNamesTheFile) {
  testutil::TempDir dir;
  auto messageOf = [](const std::string& path) {
    try {
      seqcorvane::writeAfastaFile(path, {"A", "A"});
    } catch (const seqcorvane::Error& e) {
      EXPECT_EQ(e.kind(), seqcorvane::Error::Kind::output);
      return std::string(e.what());
    }
    return std::string("no error");
  };
  EXPECT_EQ(messageOf(dir.file("missing/x.afasta")),
            "cannot write '" + dir.path() + "/missing/x.afasta': No such file or directory");
  if (testutil::fileExists("/dev/full")) {
    EXPECT_EQ(messageOf("/dev/full"), "cannot write '/dev/full': No space left on device");
  }
}

}  // namespace
