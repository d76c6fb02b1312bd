// Dense matrices: a vector of rows of doubles, row-major.
#pragma once

#include <vector>

namespace seqcorvane::detail {

using Matrix = std::vector<std::vector<double>>;

Matrix matrixMultiply(Matrix A, Matrix B);

}  // namespace seqcorvane::detail
