// The row routines of the DP kernels, compiled once per instruction set
// (scalar, SSE2, AVX2, AVX-512) and chosen at run time by the CPU. Every
// variant does the same IEEE operations in the same order per cell, so all
// give identical results.
#pragma once

#include <cstddef>
#include <cstdint>

namespace seqcorvane::detail {

enum class SimdLevel { scalar = 0, sse2 = 1, avx2 = 2, avx512 = 3 };

// One row i >= 1 of the best-path fill. Column 0 of the current row is set by
// the caller; the routine fills j = 1..n.
struct BestRowArgs {
  std::size_t n = 0;           // |T|
  const double* prevTrans[3];  // row i-1, per state, index 0..n
  const double* prevEmit[3];
  double* curTrans[3];  // row i
  double* curEmit[3];
  const double* match;  // match cost of (S[i-1], T[j-1]) at index j
  const double* gapT;   // gap cost of T[j-1] at index j
  double gapS;          // gap cost of S[i-1]
  double trans[3][3];   // transition costs [from][to]
  bool firstRow;        // i = 1: M(1,1) starts from (0,0) with ln 3
  // The local hypothesis: M may also begin at the cell, at beginCost (its
  // trace code then TRACE_NONE, 3; equal costs begin). firstRow is false.
  bool local = false;
  double beginCost = 0;
  // Local: set to M's least total over the row's columns 1..n and the first
  // column that has it (where a best local path may end); the total is
  // infinite where no column of M is reached.
  double* endTotal = nullptr;
  std::size_t* endColumn = nullptr;
  std::uint8_t* codes;  // trace codes of row i, index 0..n
  // scratch, index 0..n: the better of I's candidates from M and D at (i, j-1)
  double* candTrans;
  double* candEmit;
  double* candTotal;
  std::uint8_t* candCode;
};

// One block of columns [j0, j1) of a row i >= 1 of the forward sum in
// probability space. Each block of a row holds its values times a power of
// two of its own; the factors bring the values that the block reads into its
// frame: fromPrev for the previous row's same columns, fromPrevLeft and
// fromCurLeft for the column j0 - 1 of the previous and of this row when
// that column lies in another block (j0 > 1).
struct ProbBlockArgs {
  const double* prev[3];    // row i-1, per state, by column
  double* cur[3];           // row i
  const double* match;      // e^-match(S[i-1], T[j-1]) at index j
  const double* gapT;       // e^-gap(T[j-1]) at index j
  const double* stayGapT;   // c_j = p(I->I) e^-gap(T[j-1]) at index j
  const double* stayGapT4;  // c_j c_j-1 c_j-2 c_j-3 at index j
  double gapS;              // e^-gap(S[i-1])
  double trans[3][3];       // transition probabilities [from][to]
  double* scratch;          // index j0..j1 (one past the block)
  double* scratch4;         // index j0..j1-1
  std::size_t j0, j1;
  double fromPrev, fromPrevLeft, fromCurLeft;
  bool firstRow;  // i = 1: M(1,1) = M(0,0) / 3 . match
  // The local hypothesis: M may also begin at the cell, with the weight
  // begin in the block's frame: M(i,j) = (sum_X X(i-1,j-1) p(X->M) + begin) e^-match.
  bool local = false;
  double begin = 0;
};

// The widest level this CPU and build support.
SimdLevel bestSimdLevel();
bool simdLevelSupported(SimdLevel level);
const char* simdLevelName(SimdLevel level);

// The row routines at a level (one the CPU supports; a wider one falls back
// to the best supported).
void bestPathRow(const BestRowArgs& a, SimdLevel level);
// Returns the largest value of the block (over the three states).
double probBlock(const ProbBlockArgs& a, SimdLevel level);

}  // namespace seqcorvane::detail
