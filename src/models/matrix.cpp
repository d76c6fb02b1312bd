#include "matrix.h"

#include <cstddef>

#include "check.h"

namespace seqcorvane::detail {

namespace {

std::size_t rowCount(const Matrix& M) { return M.size(); }

// The length of row 0 (0 for a matrix without rows); every row must have it.
std::size_t columnCount(const Matrix& M) {
  if (M.empty()) return 0;
  const std::size_t nCols = M[0].size();
  for (const auto& row : M) SC_CHECK(row.size() == nCols);
  return nCols;
}

}  // namespace

// ---- dense matrices ----

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

}  // namespace seqcorvane::detail
