// The interactive mode of the marginal-interactive criterion: the user picks
// cells of the landscape on standard input and sees, and may save, the best
// alignment through each.
#pragma once

#include <iostream>
#include <string>
#include <vector>

#include "seqcorvane/seqcorvane.h"

// landscape: the marginal landscape of the pair, row-major ((|S|+1) x (|T|+1), nits).
void interactiveMode(std::ostream& out, std::istream& in, const seqcorvane::AlignResult& r,
                     const seqcorvane::Models& models, const std::vector<double>& landscape,
                     const std::string& outPrefix, const seqcorvane::AlignConfig& config = {});
