// Alignment state strings, terminal presentation, code lengths and dense
// matrix operations.
#include "misc.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iomanip>
#include <iostream>
#include <sstream>

#include "check.h"
#include "outputFiles.h"

namespace {

// log2(2.865), the normalising constant of the log* code, in bits.
constexpr double LOG_STAR_CONSTANT_BITS = 1.5185351389821802;

// The largest integer the tree code can state: C_0 + ... + C_18 - 1. One more
// would need C_19 in the running sum, which overflows 32 bits.
constexpr int MAX_TREE_CODE_VALUE = 656043856;

// Sequences, afasta rows and printed alignments are wrapped at this width.
constexpr std::size_t LINE_WIDTH = 60;

std::size_t rowCount(const Matrix& M) { return M.size(); }

// The length of row 0 (0 for a matrix without rows); every row must have it.
std::size_t columnCount(const Matrix& M) {
  if (M.empty()) return 0;
  const std::size_t nCols = M[0].size();
  for (const auto& row : M) SC_CHECK(row.size() == nCols);
  return nCols;
}

}  // namespace

// ---- code lengths ----

int catalan_C(int K) {
  SC_CHECK(K >= 0);
  SC_CHECK(K <= 19);  // C_20 does not fit a signed 32-bit integer
  if (K <= 1) return 1;
  double product = 1.0;
  for (int d = 2; d <= K; ++d) product *= static_cast<double>(K + d) / d;
  return static_cast<int>(std::round(product));
}

// Tree code: value + 1 is stated as a binary tree with j internal nodes, one
// bit per node, j being the smallest with C_0 + ... + C_j >= value + 1.
double wtCodeLen_bits(int value) {
  SC_CHECK(value <= MAX_TREE_CODE_VALUE);
  const int n = value + 1;
  SC_CHECK(n>0);
  if (n == 1) return 1;
  int32_t cumulative = 0;
  int j = 0;
  while (true) {
    cumulative += catalan_C(j);
    if (cumulative >= n) break;
    ++j;
  }
  return 2 * j + 1;
}

double wtCodeLen_nits(int n) { return wtCodeLen_bits(n) * LN2; }

double logStar_bits(uint64_t n) {
  if (n == 0) return 0;
  if (n == 1) return LOG_STAR_CONSTANT_BITS;
  double t = std::log(static_cast<double>(n)) / LN2;
  double s = t;
  while (true) {
    t = std::log(t) / LN2;
    if (t <= 0) break;
    s += t;
  }
  return s + LOG_STAR_CONSTANT_BITS;
}

double logStar_nits(uint64_t n) { return logStar_bits(n) * LN2; }

double nits2bits(double x) { return x / LN2; }

double bits2nits(double x) { return x * LN2; }

// ---- alignment state strings ----

std::string algn2Fsastr(const std::vector<std::string>& algn) {
  SC_CHECK(algn.size() >= 2);
  SC_CHECK(algn[0].length() == algn[1].length());
  std::string fsastr(algn[0].length(), 'm');
  for (std::size_t col = 0; col < fsastr.length(); ++col) {
    if (algn[0][col] == '-') {
      fsastr[col] = 'i';
    } else if (algn[1][col] == '-') {
      fsastr[col] = 'd';
    }
  }
  return fsastr;
}

std::vector<std::string> fsastr2Algn(const std::string& fsastr, const std::string& S, const std::string& T) {
  std::vector<std::string> algn(2);
  algn[0].reserve(fsastr.length());
  algn[1].reserve(fsastr.length());
  std::size_t i = 0, j = 0;
  for (const char state : fsastr) {
    SC_CHECK(state == 'm' || state == 'd' || state == 'i');
    // A state that consumes a residue must find one left in its sequence.
    if (state != 'i') SC_CHECK(i < S.length());
    if (state != 'd') SC_CHECK(j < T.length());
    algn[0].push_back(state == 'i' ? '-' : S[i++]);
    algn[1].push_back(state == 'd' ? '-' : T[j++]);
  }
  SC_CHECK(S.length()==i);
  SC_CHECK(T.length()==j);
  SC_CHECK(algn[0].length() == fsastr.length());
  SC_CHECK(algn[1].length() == fsastr.length());
  return algn;
}

// Prints the alignment in blocks of 60 columns (ruler, the two rows, a line
// with '*' under identical columns), then the number of identical columns and
// the identity as a percentage of |A|, |S| and |T|. The values are written in
// the stream's current floating-point format. An identity whose denominator
// is 0 (empty alignment or empty sequence) is printed as the double 0, so it
// reads like every other identity value ("0.000" in the usual fixed format).
char confidenceDigit(double p) {
  if (p >= 0.95) return '*';
  const int tenths = static_cast<int>(std::floor(p * 10));
  return static_cast<char>('0' + (tenths < 0 ? 0 : tenths > 9 ? 9 : tenths));
}

void printFSAstr2Algn(const std::string& fsastr, const std::string& S, const std::string& T, std::ostream& out,
                      const std::vector<double>* confidence) {
  const std::vector<std::string> algn = fsastr2Algn(fsastr, S, T);
  const std::size_t nColumns = fsastr.length();
  SC_CHECK(confidence == nullptr || confidence->size() == nColumns);
  const std::size_t nFullBlocks = nColumns / LINE_WIDTH;
  int32_t nEquivalences = 0;
  for (std::size_t b = 0; b <= nFullBlocks; ++b) {
    const std::size_t start = b * LINE_WIDTH;
    const std::size_t width = b < nFullBlocks ? LINE_WIDTH : nColumns % LINE_WIDTH;
    std::string ruler(width, ' '), matches(width, ' ');
    for (std::size_t k = 1; k <= width; ++k) {
      if (k % 10 == 0) ruler[k - 1] = '.';
    }
    for (std::size_t k = 0; k < width; ++k) {
      if (algn[0][start + k] == algn[1][start + k]) {
        matches[k] = '*';
        ++nEquivalences;
      }
    }
    out << "\n" << ruler << "\n" << algn[0].substr(start, width) << "\n" << algn[1].substr(start, width) << "\n"
        << matches;
    if (confidence != nullptr && width > 0) {
      std::string digits(width, ' ');
      for (std::size_t k = 0; k < width; ++k) digits[k] = confidenceDigit((*confidence)[start + k]);
      out << "\n" << digits;
    }
  }
  out << "\n";

  const int64_t percentTimesCount = 100 * static_cast<int64_t>(nEquivalences);
  auto identity = [percentTimesCount](std::size_t denominator) {
    if (denominator == 0) return 0.0;
    return static_cast<double>(percentTimesCount) / static_cast<double>(denominator);
  };
  out << "nEquivalences = " << nEquivalences << "\n";
  out << "%-Identity (as a function of |A|)  = " << identity(nColumns) << "\n";
  out << "%-Identity (as a function of |S|)  = " << identity(S.length()) << "\n";
  out << "%-Identity (as a function of |T|)  = " << identity(T.length()) << "\n";
  out << "\n";
}

// An empty row writes no lines: its header is followed directly by what comes
// next (the empty separator line, or the end of the file).
void writeAfastaFile(const std::string& fileName, const std::vector<std::string>& rows) {
  SC_CHECK(rows.size() == 2);
  std::string text = ">aligned seq 1\n";
  for (std::size_t r = 0; r < 2; ++r) {
    if (r == 1) text += "\n>aligned seq 2\n";
    for (std::size_t start = 0; start < rows[r].length(); start += LINE_WIDTH) {
      text += rows[r].substr(start, LINE_WIDTH);
      text += '\n';
    }
  }
  writeWholeFile(fileName, text);
}

// ---- terminal presentation ----

namespace {
int colourSetting = -1;  // -1: from the environment
}

bool colourEnabled() {
  if (colourSetting >= 0) return colourSetting == 1;
  static const bool fromEnvironment = [] {
    const char* v = std::getenv("NO_COLOR");
    return v == nullptr || *v == '\0';
  }();
  return fromEnvironment;
}

void setColour(bool enabled) { colourSetting = enabled ? 1 : 0; }

std::string ansi(const std::string& sequence) { return colourEnabled() ? sequence : std::string(); }

std::string getTerminalColorString(std::string text, uint64_t code) {
  if (!colourEnabled()) return " " + text + " ";
  return " \x1b[" + std::to_string(code) + ";4m" + text + "\x1b[0m ";
}

void printSeq2Term(std::string seq, std::string title, std::ostream& out) {
  if (!title.empty()) out << title << std::endl;
  std::string text;
  text.reserve(seq.length() + seq.length() / LINE_WIDTH + 1);
  for (std::size_t k = 0; k < seq.length(); ++k) {
    text += seq[k];
    if ((k + 1) % LINE_WIDTH == 0) text += '\n';
  }
  out << text;
  if (seq.length() % LINE_WIDTH != 0) out << std::endl;
}

void printToTerminalMsgStatus(std::string message) {
  printToTerminalMsgStatus_wo_newline(message);
  std::cout << std::endl;
}

void printToTerminalMsgStatus_wo_newline(std::string message) {
  std::cout << "[ " << ansi("\x1b[32;4m") << message << ansi("\x1b[0m") << " ]" << std::flush;
}

// Prints nothing at all (not even the title) when nRows is below 1. The
// stream's floating-point notation and precision are restored afterwards.
void printMatrixToTerm(Matrix matrix, int precision, int width, std::string title, int nRows, int nCols) {
  if (nRows < 1) return;
  SC_CHECK(static_cast<std::size_t>(nRows) <= matrix.size());
  if (!title.empty()) std::cout << title << "\n";
  const std::ios_base::fmtflags savedFlags = std::cout.flags();
  const std::streamsize savedPrecision = std::cout.precision();
  std::cout << std::fixed << std::setprecision(precision);
  for (int i = 0; i < nRows; ++i) {
    SC_CHECK(nCols <= 0 || static_cast<std::size_t>(nCols) <= matrix[i].size());
    for (int j = 0; j < nCols; ++j) std::cout << std::setw(width) << matrix[i][j];
    std::cout << "\n";
  }
  std::cout.flags(savedFlags);
  std::cout.precision(savedPrecision);
}

std::string reverse(std::string text) { return std::string(text.rbegin(), text.rend()); }

char* writeFixed2(char* out, double x) {
  // Between 1 and 2^40 the digits come from the integer nearest to 100 x,
  // found exactly: x splits into two halves of 26 bits whose products with
  // 100 are exact, their sum is taken with its rounding error, and the error
  // decides the rounding of the fraction. Elsewhere the library writes it.
  if (!(x >= 1.0 && x < 1099511627776.0)) return std::to_chars(out, out + 330, x, std::chars_format::fixed, 2).ptr;
  const double split = 134217729.0 * x;  // (2^27 + 1) x
  const double xh = split - (split - x), xl = x - xh;
  const double a = xh * 100.0, b = xl * 100.0;
  const double s = a + b;
  const double bv = s - a;
  const double e = (a - (s - bv)) + (b - bv);  // a + b = s + e exactly
  const double whole = std::floor(s);
  const double f = s - whole;                  // exact
  std::uint64_t n = static_cast<std::uint64_t>(whole);
  if (!(f == 0 && e <= 0)) {
    // the sign of (f - 1/2) + e, exactly: above a half rounds up, a half to even
    const double d = f - 0.5;
    const double hi = d + e;
    const double bd = hi - d;
    const double lo = (d - (hi - bd)) + (e - bd);
    const int sign = hi > 0 ? 1 : hi < 0 ? -1 : (lo > 0 ? 1 : lo < 0 ? -1 : 0);
    if (sign > 0 || (sign == 0 && (n & 1))) ++n;
  }
  char digits[24];
  char* p = digits + sizeof digits;
  const unsigned cents = static_cast<unsigned>(n % 100);
  n /= 100;
  *--p = static_cast<char>('0' + cents % 10);
  *--p = static_cast<char>('0' + cents / 10);
  *--p = '.';
  do {
    *--p = static_cast<char>('0' + n % 10);
    n /= 10;
  } while (n != 0);
  const std::size_t len = static_cast<std::size_t>(digits + sizeof digits - p);
  std::memcpy(out, p, len);
  return out + len;
}

std::string formatFixed(double x, int decimals) {
  std::ostringstream ss;
  ss << std::fixed << std::setprecision(decimals) << x;
  return ss.str();
}

// ---- numbers in text ----

namespace {
// A leading '+' (which from_chars does not take) is skipped when a digit or
// point follows.
const char* afterPlus(const std::string& token) {
  const char* p = token.data();
  if (token.size() > 1 && p[0] == '+' && p[1] != '-' && p[1] != '+') ++p;
  return p;
}
}  // namespace

bool parseNumber(const std::string& token, double& value) {
  const char* first = afterPlus(token);
  const char* last = token.data() + token.size();
  if (first == last) return false;
  const auto r = std::from_chars(first, last, value, std::chars_format::general);
  return r.ec == std::errc() && r.ptr == last;
}

bool parseInteger(const std::string& token, long& value) {
  const char* first = afterPlus(token);
  const char* last = token.data() + token.size();
  if (first == last) return false;
  const auto r = std::from_chars(first, last, value, 10);
  return r.ec == std::errc() && r.ptr == last;
}

// ---- dense matrices ----

Matrix matrixAdd(Matrix A, Matrix B) {
  const std::size_t nRows_A = rowCount(A), nCols_A = columnCount(A);
  const std::size_t nRows_B = rowCount(B), nCols_B = columnCount(B);
  SC_CHECK(nRows_A == nRows_B);
  SC_CHECK(nCols_A == nCols_B);
  Matrix result(nRows_A, std::vector<double>(nCols_A, 0.0));
  for (std::size_t i = 0; i < nRows_A; ++i) {
    for (std::size_t j = 0; j < nCols_A; ++j) result[i][j] = A[i][j] + B[i][j];
  }
  return result;
}

Matrix matrixMultiply(Matrix A, int s) {
  const std::size_t nRows_A = rowCount(A), nCols_A = columnCount(A);
  const double factor = static_cast<double>(s);
  Matrix result(nRows_A, std::vector<double>(nCols_A));
  for (std::size_t i = 0; i < nRows_A; ++i) {
    for (std::size_t j = 0; j < nCols_A; ++j) result[i][j] = A[i][j] * factor;
  }
  return result;
}

// Each element is summed from 0 over k in increasing order, one rounded
// multiplication and one rounded addition per term, so that the product is
// reproducible to the last bit (the build uses ISO C++ mode, in which the
// compiler does not contract a*b+c into a fused multiply-add).
Matrix matrixMultiply(Matrix A, Matrix B) {
  const std::size_t nRows_A = rowCount(A), nCols_A = columnCount(A);
  const std::size_t nRows_B = rowCount(B), nCols_B = columnCount(B);
  SC_CHECK(nCols_A == nRows_B);
  Matrix result(nRows_A, std::vector<double>(nCols_B, 0.0));
  for (std::size_t i = 0; i < nRows_A; ++i) {
    for (std::size_t j = 0; j < nCols_B; ++j) {
      double sum = 0.0;
      for (std::size_t k = 0; k < nCols_A; ++k) sum += A[i][k] * B[k][j];
      result[i][j] = sum;
    }
  }
  return result;
}
