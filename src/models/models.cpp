#include "models.h"

#include <unistd.h>

#include <fstream>

#include "check.h"
#include "config.h"
#include "dataFiles.h"
#include "digest.h"

namespace seqcorvane {

namespace {

using namespace detail;

// The digest of the model files' contents, in the order of their names, the
// fitted match tables' file last where the directory has one.
std::string digestOfFiles(const std::string& dir, bool withJoints) {
  Fnv1a digest;
  std::vector<std::string> names = modelFileNames();
  if (withJoints) names.push_back(matchJointsFileName());
  for (const std::string& name : names) {
    std::ifstream in(dir + "/" + name, std::ios::binary);
    if (!in) modelError(dir + "/" + name + ": cannot open for reading");
    char buf[65536];
    while (in.read(buf, sizeof buf) || in.gcount() > 0) digest.add(buf, static_cast<std::size_t>(in.gcount()));
  }
  return digest.hex();
}

}  // namespace

const char* version() { return SEQCORVANE_VERSION; }

Models::Models(const std::string& dataDir, const std::string& installedData) {
  const std::string dir = modelDirectory(dataDir, installedData);
  SubmatClass_t pam(250, dir);
  nullModelClass_t nullMdl("0", dir);
  if (!nullMdl.isCompatible(pam.getAlphabet()))
    modelError(dir + "/protSeqNullMMLEstimatesOrder0.txt: the null model's alphabet '" + nullMdl.getAlphabet() +
               "' does not hold every letter of the substitution model's alphabet '" + pam.getAlphabet() + "'");
  // The alignment machine costs residues and pairs with single-residue
  // contexts; a table of longer contexts cannot be used.
  if (nullMdl.getOrder() != 0)
    modelError(dir + "/protSeqNullMMLEstimatesOrder0.txt: the null model table holds contexts of " +
               std::to_string(nullMdl.getOrder() + 1) + " residues (order " + std::to_string(nullMdl.getOrder()) +
               "); only order 0 is supported");
  const NullProbs pnull = nullProbsOf(nullMdl, pam.getAlphabet());
  // The fitted match emissions are optional: without them the posterior
  // criterion's matches come from the substitution model averaged over rates.
  const std::string jointsPath = dir + "/" + matchJointsFileName();
  MatchJoints joints;
  if (::access(jointsPath.c_str(), F_OK) == 0) joints = readMatchJoints(jointsPath, pam.getAlphabet());
  data_ = std::make_shared<const ModelData>(ModelData{dir, digestOfFiles(dir, !joints.empty()), std::move(nullMdl),
                                                      std::move(pam), pnull, std::move(joints)});
}

const std::string& Models::directory() const { return data_->directory; }

const std::string& Models::digest() const { return data_->digest; }

const std::vector<std::string>& Models::fileNames() { return modelFileNames(); }

}  // namespace seqcorvane
