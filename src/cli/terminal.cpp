#include "terminal.h"

#include <cmath>
#include <cstddef>
#include <cstdlib>

#include "invariants.h"
#include "seqcorvane/seqcorvane.h"

namespace {

// Sequences and printed alignments are wrapped at this width.
constexpr std::size_t LINE_WIDTH = 60;

}  // namespace

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
  const std::vector<std::string> algn = seqcorvane::pathRows(fsastr, S, T);
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
    out << "\n"
        << ruler << "\n"
        << algn[0].substr(start, width) << "\n"
        << algn[1].substr(start, width) << "\n"
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
