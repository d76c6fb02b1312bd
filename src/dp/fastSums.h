// The sums over all paths in probability space: each row of the pass holds
// e^-cost in blocks of columns, each block times a power of two of its own
// (its exponent), so that a row spans far more than a double's range; many
// times faster than the log-space pass and within about 1e-10 nits of it,
// but not bit for bit the same. The distance searches compare with it; the
// posterior probabilities are computed from it (their rows met in pairs:
// the forward rows and the rows of the pass over the reversed pair).
#pragma once

#include <cstddef>
#include <limits>
#include <vector>

#include "dpCosts.h"
#include "dpKernels.h"
#include "simdRows.h"

namespace seqcorvane::detail {

class FastSumPass {
 public:
  static constexpr long EMPTY = std::numeric_limits<long>::min();  // the exponent of a block of zeros

  explicit FastSumPass(const CostTable& c);
  // False when the costs are too steep for blocks of 8 columns (the caller
  // takes the log-space pass instead).
  bool usable() const { return BLOCK > 0; }

  // Row 0, then the next row, up to |S|.
  void start();
  void next();
  std::size_t row() const { return i; }

  // The current row: per state the values of its columns, each block of
  // blockWidth() columns times 2^exponent(block).
  const double* values(int state) const { return cur[state].data(); }
  long exponent(std::size_t block) const { return (*curExp)[block]; }
  std::size_t blockWidth() const { return BLOCK; }
  // -ln of the value of column j in state (infinity for 0).
  double cost(int state, std::size_t j) const;

  // The current row, to come back to.
  struct Snapshot {
    std::size_t i = 0;
    std::vector<double> values[3];
    std::vector<long> exps;
    double ends = std::numeric_limits<double>::infinity();
  };
  Snapshot save() const;
  // The same into a snapshot kept for reuse: its storage is written over,
  // not allocated again.
  void saveInto(Snapshot& s) const;
  void restore(const Snapshot& s);

  // -ln of the three end states' summed probabilities, each less its end
  // gap discount, on row |S|; under the local hypothesis, -ln of the sum of
  // M's ends over every cell of the rows passed (with the end's cost).
  double endCost() const;

 private:
  double factor(long e, long frame) const;
  const CostTable& c;
  std::size_t nS, nT, width, BLOCK = 0, nBlocks = 0, i = 0;
  std::vector<double> profile, gapT, stayGapT, stayGapT4, scratch, scratch4;
  ProbBlockArgs args;
  std::vector<double> rows[2][3];
  std::vector<long> exps[2];
  std::vector<double>*prev, *cur;
  std::vector<long>*prevExp, *curExp;
  double ends = std::numeric_limits<double>::infinity();  // local: -ln of the ends so far, without the end's cost
};

}  // namespace seqcorvane::detail
