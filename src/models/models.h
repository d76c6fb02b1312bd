// The loaded models behind seqcorvane::Models: the null model, the
// substitution model at its starting distance and the null probability of
// every residue, read from one directory and never changed afterwards.
#pragma once

#include <string>

#include "SubmatClass.h"
#include "matchJoints.h"
#include "nullModelClass.h"
#include "seqcorvane/seqcorvane.h"

struct seqcorvane::Models::Data {
  std::string directory;
  std::string digest;
  nullModelClass_t nullMdl;
  SubmatClass_t pam;  // at the starting distance, 250
  NullProbs pnull;
  MatchJoints matchJoints;  // the posterior criterion's fitted match emissions; empty when the directory has none
};
