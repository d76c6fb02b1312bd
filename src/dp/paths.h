// Alignment state strings (fsastr): one letter per column, 'm' a residue of
// S over a residue of T, 'd' a residue of S over a gap, 'i' a gap over a
// residue of T; and what is counted along them.
#pragma once

#include <string>
#include <vector>

namespace seqcorvane::detail {

// The state string of two gapped rows of equal length.
std::string algn2Fsastr(const std::vector<std::string>& algn);
// The two gapped rows of S and T along a state string that uses all of both.
std::vector<std::string> fsastr2Algn(const std::string& fsastr, const std::string& S, const std::string& T);
// The residues outside a local region, as a path's columns: a block of
// deletes (S's residues), then a block of inserts (T's).
std::string flanks(std::size_t nS, std::size_t nT);
// The machine's state code of a letter (stateMatch, stateDelete, stateInsert), -1 for others.
int stateOfLetter(char c);

}  // namespace seqcorvane::detail
