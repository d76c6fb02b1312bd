#include "calibration.h"

#include <cmath>

#include "estimation.h"
#include "marginal.h"

namespace seqcorvane::detail {

namespace {

threeStateDPAClass_t withOwnCompositions(const threeStateDPAClass_t& m) {
  MachineModel model = m.model();
  model.ownComposition = true;
  return withModel(m, model);
}

}  // namespace

CalibratedMessage calibratedAlignment(const threeStateDPAClass_t& m, const std::string& fsastr) {
  const threeStateDPAClass_t at = estimateParams(withOwnCompositions(m), fsastr);
  return {at.K(), at.nullMsgLen(), alignmentMsgLen(at, fsastr)};
}

CalibratedMessage calibratedSum(const threeStateDPAClass_t& m) {
  const threeStateDPAClass_t own = withOwnCompositions(m);
  double msgLen = marginalMsgLenFast(own);
  // Where the fast pass cannot tell the verdict, the exact one does.
  if (std::fabs(own.nullMsgLen() - msgLen) <= fastSumMargin(msgLen)) msgLen = computeTotalProbOfST(own);
  return {own.K(), own.nullMsgLen(), msgLen};
}

}  // namespace seqcorvane::detail
