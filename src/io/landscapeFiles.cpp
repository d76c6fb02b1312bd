#include <cstring>

#include "check.h"
#include "codeLengths.h"
#include "numberText.h"
#include "seqcorvane/io.h"

namespace seqcorvane {

using namespace detail;

LandscapeFiles::LandscapeFiles(const std::string& prefix, std::size_t nS_, std::size_t nT_)
    : nS(nS_),
      nT(nT_),
      csv(prefix + "_MarginalProbabilityLandscape.csv"),
      script(prefix + "_MarginalProbabilityLandscape.m"),
      // One row of each file, written in place: at most 330 characters a value.
      csvLine((nT_ + 1) * 332 + 32),
      scriptLine((nT_ + 1) * 332 + 32) {
  script.write("M  = [");
}

void LandscapeFiles::row(const LandscapeRow& r) {
  if (r.i != nextRow || r.i > nS || r.size != nT + 1)
    inputError("landscape row " + std::to_string(r.i) + " of " + std::to_string(r.size) + " values where row " +
               std::to_string(nextRow) + " of " + std::to_string(nT + 1) + " belongs (of " + std::to_string(nS + 1) +
               " rows)");
  ++nextRow;
  char* c = csvLine.data();
  char* m = scriptLine.data();
  for (std::size_t j = 0; j <= nT; ++j) {
    // The table: the values separated by commas; the script: each value
    // after a blank, right-aligned in 8 characters (a value of 10,000 bits
    // or more fills the field, and the blank still parts it from the last).
    char* const start = c;
    c = writeFixed2(c, nits2bits(r.values[j]));
    const std::size_t width = static_cast<std::size_t>(c - start);
    *m++ = ' ';
    for (std::size_t pad = width; pad < 8; ++pad) *m++ = ' ';
    std::memcpy(m, start, width);
    m += width;
    if (j != nT) *c++ = ',';
  }
  *c++ = '\n';
  const char* rowEnd = r.i == nS ? "];\nimagesc(M);\n" : ";\n";
  const std::size_t endLen = std::strlen(rowEnd);
  std::memcpy(m, rowEnd, endLen);
  m += endLen;
  csv.write(csvLine.data(), static_cast<std::size_t>(c - csvLine.data()));
  script.write(scriptLine.data(), static_cast<std::size_t>(m - scriptLine.data()));
}

void LandscapeFiles::commit() {
  if (nextRow != nS + 1)
    inputError("the landscape files hold " + std::to_string(nextRow) + " of their " + std::to_string(nS + 1) + " rows");
  csv.commit();
  script.commit();
}

}  // namespace seqcorvane
