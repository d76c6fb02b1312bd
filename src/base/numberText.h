// Numbers in reports, tables and data files: written in fixed notation,
// and read back whole.
#pragma once

#include <string>

namespace seqcorvane::detail {

// x in fixed notation with the given number of decimals.
std::string formatFixed(double x, int decimals);
// x as a stream writes it by default: six significant digits, fixed or
// scientific notation whichever is shorter, no trailing zeros.
std::string formatGeneral(double x);
// Writes x in fixed notation with two decimals, exactly as printf's "%.2f"
// does (correctly rounded, exact halves to even), at out; returns the end.
// out must have room for 330 characters.
char* writeFixed2(char* out, double x);

// The whole token as a number / a decimal integer (a leading '+' allowed);
// false when anything else is in it.
bool parseNumber(const std::string& token, double& value);
bool parseInteger(const std::string& token, long& value);

}  // namespace seqcorvane::detail
