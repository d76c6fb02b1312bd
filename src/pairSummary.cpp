#include "pairSummary.h"

#include <ostream>
#include <streambuf>

#include "check.h"
#include "main.h"
#include "misc.h"
#include "threeStateDPAClass.h"

double sequenceNullMsgLen(const std::string& seq, nullModelClass_t& nullMdl) {
  return wtCodeLen_nits(static_cast<int>(seq.size())) + getNullEncodingLength(seq, nullMdl);
}

PairSummary summarizePair(std::string S, std::string T, nullModelClass_t& nullMdl, SubmatClass_t& pam,
                          const std::string& criterion) {
  NullStream quiet;
  PairSummary r;
  const double IS = sequenceNullMsgLen(S, nullMdl), IT = sequenceNullMsgLen(T, nullMdl);
  r.nullBits = nits2bits(IS) + nits2bits(IT);
  double IAlgn = 0, IVerdict = 0;
  if (criterion == "optimal" || criterion == "posterior") {
    threeStateDPAClass_t m(S, T, nullMdl, pam, criterion, "unused", quiet);
    IAlgn = m.getOptAlignMsgLen();
    // the posterior criterion's verdict is the marginal one, as the program reports it
    IVerdict = criterion == "optimal" ? IAlgn : m.getMarginalProbMsgLen();
    r.K = criterion == "optimal" ? m.getSubmatK() : m.getSearchedDistance();
    r.fsastr = m.getOptAlignFSAstr();
    const std::vector<std::string> rows = fsastr2Algn(r.fsastr, S, T);
    long same = 0;
    for (size_t l = 0; l < r.fsastr.size(); ++l) {
      same += rows[0][l] == rows[1][l];
      if (r.fsastr[l] != 'm' && (l == 0 || r.fsastr[l - 1] != r.fsastr[l])) ++r.gapOpenings;
    }
    r.identity = r.fsastr.empty() ? 0.0 : static_cast<double>(100 * same) / static_cast<double>(r.fsastr.size());
  } else {
    SC_CHECK(criterion == "marginal");
    threeStateDPAClass_t m(S, T, nullMdl, pam, "none", "unused", quiet);
    r.K = m.searchMarginalDistance(false);
    IAlgn = IVerdict = m.getMarginalProbMsgLen();
  }
  r.alignmentBits = nits2bits(IAlgn);
  r.compressionBits = nits2bits(IS + IT - IVerdict);
  return r;
}
