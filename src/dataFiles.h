// Locating the model data files.
//
// A data file named "data/<name>" is looked up first in ./data relative to the
// working directory (a local copy always wins), then in the data directory
// that belongs to this build: the install prefix's share directory for an
// installed program, the source tree's data/ otherwise.
#pragma once

#include <string>
#include <vector>

// The directories searched, in order.
std::vector<std::string> dataSearchDirs();

// The path of the first existing "<dir>/<name>" among dataSearchDirs().
// When none exists: one line on standard error naming the file and the places
// looked in, exit status 1.
std::string findDataFile(const std::string& name);

// Counts of data files opened and parsed in this process (for the benchmark).
void noteDataFileRead();
int dataFilesRead();
