// Alignment state strings, terminal presentation, code lengths and dense
// matrix operations.
#pragma once

#include <cstdint>
#include <iostream>
#include <string>
#include <vector>

// A stream that drops everything written to it: where only the machine's
// results are wanted, not its report.
class DiscardBuffer : public std::streambuf {
 protected:
  int overflow(int c) override { return traits_type::not_eof(c); }
  std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};
class NullStream : private DiscardBuffer, public std::ostream {
 public:
  NullStream() : std::ostream(static_cast<DiscardBuffer*>(this)) {}
};

// A dense matrix: a vector of rows, row-major.
using Matrix = std::vector<std::vector<double>>;

// ln 2, the nit/bit conversion constant.
constexpr double LN2 = 0.6931471805599453;

// ---- code lengths ----
int catalan_C(int k);
double wtCodeLen_bits(int n);
double wtCodeLen_nits(int n);
double logStar_bits(uint64_t n);
double logStar_nits(uint64_t n);
double nits2bits(double x);
double bits2nits(double x);

// ---- alignment state strings ('m', 'd', 'i' per column) ----
std::string algn2Fsastr(const std::vector<std::string>& algn);
std::vector<std::string> fsastr2Algn(const std::string& fsastr, const std::string& S, const std::string& T);
// With confidence, a line under each block gives each column's posterior
// probability in tenths (0 to 9), * for 0.95 and above.
void printFSAstr2Algn(const std::string& fsastr, const std::string& S, const std::string& T,
                      std::ostream& out = std::cout, const std::vector<double>* confidence = nullptr);
// The confidence digit of a posterior probability.
char confidenceDigit(double p);

// Writes the two rows of an alignment as an afasta file (">aligned seq 1",
// row 0 in lines of 60, an empty line, ">aligned seq 2", row 1 in lines of 60).
// The file is whole or absent (see outputFiles.h).
void writeAfastaFile(const std::string& fileName, const std::vector<std::string>& rows);

// ---- terminal presentation ----
// Whether colour codes are written: not when the NO_COLOR environment
// variable holds anything (no-color.org); setColour overrides it.
bool colourEnabled();
void setColour(bool enabled);
// The ANSI sequence, or nothing when colour is off.
std::string ansi(const std::string& sequence);
// The text framed by one space on each side and, with colour, the highlight.
std::string getTerminalColorString(std::string text, uint64_t code);
void printSeq2Term(std::string seq, std::string title, std::ostream& out = std::cout);
void printToTerminalMsgStatus(std::string message);
void printToTerminalMsgStatus_wo_newline(std::string message);
void printMatrixToTerm(Matrix matrix, int precision, int width, std::string title, int nRows, int nCols);
std::string reverse(std::string text);
// x in fixed notation with the given number of decimals (a fresh stream's
// other settings).
std::string formatFixed(double x, int decimals);
// Writes x in fixed notation with two decimals, exactly as printf's "%.2f"
// does (correctly rounded, exact halves to even), at out; returns the end.
// out must have room for 330 characters.
char* writeFixed2(char* out, double x);

// ---- numbers in text ----
// The whole token as a floating-point number (an optional sign, digits, a
// point, an exponent, or inf/nan); false when anything else is in it.
bool parseNumber(const std::string& token, double& value);
// The whole token as a decimal integer with an optional sign.
bool parseInteger(const std::string& token, long& value);

// ---- dense matrices ----
Matrix matrixAdd(Matrix A, Matrix B);
Matrix matrixMultiply(Matrix A, int s);
Matrix matrixMultiply(Matrix A, Matrix B);
