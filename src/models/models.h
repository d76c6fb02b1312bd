// The loaded models behind seqcorvane::Models: the null model, the
// substitution model at its starting distance, the null probability of every
// residue and the fitted match tables, read from one directory and never
// changed afterwards.
#pragma once

#include <string>

#include "SubmatClass.h"
#include "matchJoints.h"
#include "nullModelClass.h"
#include "seqcorvane/seqcorvane.h"

namespace seqcorvane::detail {

struct ModelData {
  std::string directory;
  std::string digest;
  nullModelClass_t nullMdl;
  SubmatClass_t pam;  // at the starting distance, 250
  NullProbs pnull;
  MatchJoints matchJoints;  // the posterior criterion's fitted match emissions; empty when the directory has none
};

// The loaded models of a Models value.
struct ModelsAccess {
  static const ModelData& of(const Models& models) { return *models.data_; }
};
inline const ModelData& modelData(const Models& models) { return ModelsAccess::of(models); }

}  // namespace seqcorvane::detail
