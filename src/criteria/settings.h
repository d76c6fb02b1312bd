// What every call that takes an AlignConfig shares: the checks of its
// settings, how its passes run, and the machine of the one hypothesis a call
// over a single machine (the paths through cells, the landscape, the column
// confidences) is of.
#pragma once

#include <string>

#include "machine.h"

namespace seqcorvane::detail {

// Throws Error (input) naming a setting outside its range.
void requireConfig(const AlignConfig& config);

// The config's threads (0: 2, at most the cores) and instruction set (at
// most this CPU's widest).
RunSettings runSettings(const AlignConfig& config);

// The machine model of the config's hypothesis, global or local; the
// automatic choice is refused (Error, input) naming what: a single machine
// is of one hypothesis, the one an automatic result sent.
MachineModel singleHypothesis(const AlignConfig& config, const std::string& what);

}  // namespace seqcorvane::detail
