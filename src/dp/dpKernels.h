// The two recurrence families of the three-state machine over a grid of
// (|S|+1) x (|T|+1) cells, each written once and run start-to-cell; the
// cell-to-sink direction is the same pass over reversedForSink's costs.
//
//  - fillBestPath: the least message length of a path to each cell and state,
//    kept in rolling rows, with one byte per cell that records the
//    predecessor state of M, D and I for the trace back.
//  - sumAllPaths: the message length of all paths to each cell and state
//    summed in log space, in rolling rows.
//
// Either pass can hand every finished row to a visitor (the landscape is
// written that way; the tests compare rows cell by cell with a naive
// reference), and can keep per-cell values in StatePlanes where a later step
// needs them (the dialogue's paths through a cell, the sums to the sink).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "dpCosts.h"
#include "largeAllocator.h"

namespace seqcorvane::detail {

// Trace codes: per cell one byte, the predecessor state of M (bits 0-1), D
// (bits 2-3) and I (bits 4-5); TRACE_NONE where no path arrives that way.
constexpr int TRACE_NONE = 3;

class TraceCodes {
 public:
  void resize(std::size_t rows, std::size_t cols) {
    nCols = cols;
    codes.resize(rows * cols);
  }
  bool empty() const { return codes.empty(); }
  std::size_t rows() const { return nCols == 0 ? 0 : codes.size() / nCols; }
  std::size_t cols() const { return nCols; }
  std::uint8_t* row(std::size_t i) { return codes.data() + i * nCols; }
  const std::uint8_t* row(std::size_t i) const { return codes.data() + i * nCols; }
  int prev(std::size_t i, std::size_t j, int state) const { return (row(i)[j] >> (2 * state)) & 3; }
  void release() { decltype(codes)().swap(codes); }

 private:
  std::size_t nCols = 0;
  std::vector<std::uint8_t, LargeAllocator<std::uint8_t>> codes;
};

// One double per state and cell, in three planes.
class StatePlanes {
 public:
  void resize(std::size_t rows, std::size_t cols) {
    nRows = rows;
    nCols = cols;
    values.resize(3 * rows * cols);
  }
  bool empty() const { return values.empty(); }
  double* row(int state, std::size_t i) { return values.data() + (state * nRows + i) * nCols; }
  const double* row(int state, std::size_t i) const { return values.data() + (state * nRows + i) * nCols; }
  double at(int state, std::size_t i, std::size_t j) const { return row(state, i)[j]; }
  void release() { decltype(values)().swap(values); }

 private:
  std::size_t nRows = 0, nCols = 0;
  std::vector<double, LargeAllocator<double>> values;
};

// The best path into one cell and state: its transition and emission parts
// and their sum.
struct PathCost {
  double trans, emit, total;
};

// A finished row i of the best-path fill: the three states' parts along j.
struct BestPathRow {
  std::size_t i;
  const double* trans[3];
  const double* emit[3];
  const std::uint8_t* codes;
};
using BestPathRowVisitor = std::function<void(const BestPathRow&)>;

// The end of the best local path: the cell of least total in M (the first
// in row order of equal ones) and its parts, without the end's cost.
struct LocalEnd {
  std::size_t i = 0, j = 0;
  PathCost cost{std::numeric_limits<double>::infinity(), std::numeric_limits<double>::infinity(),
                std::numeric_limits<double>::infinity()};
};

// Fills codes (resized to the grid) and, when totals is given, the total of
// every cell and state. Returns the three end cells (|S|, |T|). Under the
// local hypothesis (c.local) M may begin at every cell (its code TRACE_NONE),
// row 0 and column 0 are unreachable, and localEnd, when given, gets the
// best end.
std::array<PathCost, 3> fillBestPath(const CostTable& c, TraceCodes& codes, StatePlanes* totals = nullptr,
                                     const BestPathRowVisitor& visit = {}, LocalEnd* localEnd = nullptr);

// A finished row i of the summed pass.
struct SumRow {
  std::size_t i;
  const double* sum[3];
};
using SumRowVisitor = std::function<void(const SumRow&)>;

// Row 0 of the summed pass in state I, the path's first columns all inserts
// (index j, 0..|T|; infinity at 0):
//   F_I(0,1) = ln 3 - startGapDiscount(I) + gap(T[0]);  F_I(0,j) = F_I(0,j-1) + trans(I->I) + gap(T[j-1])
std::vector<double> firstRowInserts(const CostTable& c);

// The summed message lengths; kept per cell in store when given. Returns the
// three end cells, each less its end gap discount; under the local
// hypothesis, {the sum over every cell of M's end (with the end's cost),
// infinity, infinity}.
std::array<double, 3> sumAllPaths(const CostTable& c, StatePlanes* store = nullptr, const SumRowVisitor& visit = {});

// The same pass resumed: from the row `first`, given, the rows first+1 to
// last. Returns the three cells of column |T| of row last (no end discount);
// under the local hypothesis, {the sum of M's ends over the rows first+1 to
// last, infinity, infinity}.
std::array<double, 3> sumRowsFrom(const CostTable& c, std::size_t first, const std::array<const double*, 3>& start,
                                  std::size_t last, const SumRowVisitor& visit);

// The same sum over all paths to the end, -ln of the three end states'
// probabilities summed, computed in probability space with every row scaled
// by a power of two: many times faster than the log-space pass and within
// about 1e-10 nits of it, but not bit for bit the same. For comparing
// distances in the marginal search, never for a printed value.
double sumAllPathsFast(const CostTable& c, const SumRowVisitor& visit = {});

// The walk along trace codes from (i, j) in `state` to (0, 0), one state
// letter per column in walking order. It stops early, incomplete, where a
// code says that no path arrives (the position and the code are kept for the
// report).
struct TraceWalk {
  std::string letters;
  bool complete = true;
  long i = 0, j = 0;
  int state = 0;
};
TraceWalk walkTrace(const TraceCodes& codes, long i, long j, int state);
// The walk of a local path from (i, j) in state back to its begin: the
// region's columns in walking order; i and j are then the cell before the
// begin (the residues of the leading flanks). Incomplete where a code says
// that no path arrives other than at a begin in M.
TraceWalk walkLocalTrace(const TraceCodes& codes, long i, long j, int state = stateMatch);

}  // namespace seqcorvane::detail
