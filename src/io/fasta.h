// FASTA input and residue filtering (the public readers are in
// seqcorvane/io.h; these are the names the single program's driver uses).
#pragma once

#include <string>
#include <vector>

#include "seqcorvane/io.h"

// The record texts of a file: the text after each header; a file without
// a header is one record of all its text.
std::vector<std::string> readFastaFile(const std::string& fileName);
// One record from each of the two files (exactly one each).
std::vector<seqcorvane::Record> getAASeqs(const std::vector<std::string>& fileNames);
std::string removeNonStandardAA(const std::string& seq);
bool isResidue(char c);

namespace seqcorvane {
// The records of the lines of a FASTA file (see readFasta).
std::vector<Record> fastaRecords(const std::vector<std::string>& lines, std::size_t* leadingCharacters = nullptr);
}  // namespace seqcorvane
