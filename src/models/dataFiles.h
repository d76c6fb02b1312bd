// The model data: five files that come from one directory.
//
// The model directory is the one the caller names (the programs' --data);
// otherwise the first of ./data (of the working directory),
// <program>/../share/seqcorvane/data (an installed program, wherever it was
// installed), the data of the install the program was built against (its
// CMake package says where), the data directory of the install this library
// was configured for, and the source tree's data/ (a program run from its
// build tree) that holds any of the five files.
// That directory must hold all five; one that holds some but not all is an
// error naming it and the missing files, so that models of two sets are
// never mixed.
#pragma once

#include <string>
#include <vector>

namespace seqcorvane::detail {

// The five model files, the null model (order 0) first.
const std::vector<std::string>& modelFileNames();

// The places searched, in order, when no directory is named.
std::vector<std::string> modelDirectoryCandidates(const std::string& installedData = "");

// The model directory: named when not empty, else searched (see above).
// Throws Error (model) when there is none, naming the places searched.
std::string modelDirectory(const std::string& named, const std::string& installedData = "");

// Counts of data files opened and parsed in this process (for the benchmark).
void noteDataFileRead();
int dataFilesRead();

}  // namespace seqcorvane::detail
