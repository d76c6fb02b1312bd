// FASTA records from the lines of a file (the public reader, readFasta, is
// in seqcorvane/io.h; the alignment reader takes its FASTA records here).
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "seqcorvane/io.h"

namespace seqcorvane::detail {

// The records of the lines of a FASTA file (see readFasta).
std::vector<Record> fastaRecords(const std::vector<std::string>& lines, std::size_t* leadingCharacters = nullptr);

}  // namespace seqcorvane::detail
