// Dense matrices: a vector of rows of doubles, row-major.
#pragma once

#include <vector>

using Matrix = std::vector<std::vector<double>>;

Matrix matrixAdd(Matrix A, Matrix B);
// Each entry times the integer s.
Matrix matrixMultiply(Matrix A, int s);
Matrix matrixMultiply(Matrix A, Matrix B);
