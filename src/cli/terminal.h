// Terminal presentation of the report: colour highlights, sequences and
// alignments wrapped at 60 columns.
#pragma once

#include <cstdint>
#include <iostream>
#include <string>
#include <vector>

// Whether colour codes are written: not when the NO_COLOR environment
// variable holds anything (no-color.org); setColour overrides it.
bool colourEnabled();
void setColour(bool enabled);
// The ANSI sequence, or nothing when colour is off.
std::string ansi(const std::string& sequence);
// The text framed by one space on each side and, with colour, the highlight.
std::string getTerminalColorString(std::string text, uint64_t code);
// The title on a line, then the sequence in lines of 60.
void printSeq2Term(std::string seq, std::string title, std::ostream& out);
// The alignment in blocks of 60 columns and its identity. With confidence, a
// line under each block gives each column's posterior probability in tenths
// (0 to 9), * for 0.95 and above.
void printFSAstr2Algn(const std::string& fsastr, const std::string& S, const std::string& T, std::ostream& out,
                      const std::vector<double>* confidence = nullptr);
// The confidence digit of a posterior probability.
char confidenceDigit(double p);
