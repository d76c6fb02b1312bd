// The driver: start-up banner, sequence input, null encoding of a pair and the
// two modes of the program.
#pragma once

#include <string>
#include <vector>

#include "nullModelClass.h"

// ---- FASTA input and residue filtering ----
std::vector<std::string> readFastaFile(const char* fileName);
std::vector<std::string> getAASeqs(std::vector<std::string> fileNames);
std::string removeNonStandardAA(std::string seq);
std::vector<std::string> removeNonStandardAAColumnsInAlgn(std::vector<std::string> algn);
// The rows of an alignment file for scoring: two records of equal length,
// the columns the models cannot use dropped (and printed), each row with
// residues left. A file that is not is one line and the end of the run.
std::vector<std::string> readAlignmentFile(const std::string& algnfn);

// ---- null encoding ----
double getNullEncodingLength(std::string seq, nullModelClass_t& nullMdl);
double computeINullST(std::string& S, std::string& T, nullModelClass_t& nullMdl);

// ---- driver ----
void coutHeader();
// The whole program; returns the exit status.
int seqcorvaneMain(int argc, char* argv[]);
