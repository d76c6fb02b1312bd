// Numbers in reports, tables and data files: written in fixed notation,
// and read back whole.
#pragma once

#include <string>

#include "seqcorvane/io.h"

using seqcorvane::formatFixed;
using seqcorvane::parseInteger;
using seqcorvane::parseNumber;

// x as a stream writes it by default: six significant digits, fixed or
// scientific notation whichever is shorter, no trailing zeros.
std::string formatGeneral(double x);

// Writes x in fixed notation with two decimals, exactly as printf's "%.2f"
// does (correctly rounded, exact halves to even), at out; returns the end.
// out must have room for 330 characters.
char* writeFixed2(char* out, double x);
