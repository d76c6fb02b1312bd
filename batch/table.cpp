#include "table.h"

#include <cmath>
#include <cstring>
#include <set>

#include "numbers.h"
#include "seqcorvane/io.h"
#include "seqcorvane/seqcorvane.h"

namespace batch {

const char* const HEADER =
    "id_s\tid_t\tlength_s\tlength_t\tcriterion\tK\tnull_bits\talignment_bits\tcompression_bits\tidentity\t"
    "gap_openings\tseconds\tstatus\tpair_digest\tcalibrated_bits";
const char* const EARLIER_HEADER =
    "id_s\tid_t\tlength_s\tlength_t\tcriterion\tK\tnull_bits\talignment_bits\tcompression_bits\tidentity\t"
    "gap_openings\tseconds\tstatus\tpair_digest";
const char* const HYPOTHESIS_COLUMNS = "hypothesis\tregion_s\tregion_t";
const char* const FAILED_HYPOTHESIS_FIELDS = "\tNA\tNA\tNA";
const char* const FAILED_CALIBRATED_FIELD = "\tNA";

std::string headerOf(const std::string& mode) {
  return mode == "global" ? std::string(HEADER) : std::string(HEADER) + '\t' + HYPOTHESIS_COLUMNS;
}

size_t columnsOf(const std::string& mode) { return mode == "global" ? COLUMNS : COLUMNS + 3; }

namespace {

const char* const PROGRAM_LINE = "# seqcorvane-batch table";

[[noreturn]] void fail(const std::string& message) { throw seqcorvane::Error(seqcorvane::Error::Kind::input, message); }

// "key: value" of a provenance line.
bool field(const std::string& line, const std::string& key, std::string& value) {
  const std::string prefix = "# " + key + ": ";
  if (line.compare(0, prefix.size(), prefix) != 0) return false;
  value = line.substr(prefix.size());
  return true;
}

bool digits(const std::string& s, size_t from, size_t to) {
  if (from >= to) return false;
  for (size_t k = from; k < to; ++k)
    if (s[k] < '0' || s[k] > '9') return false;
  return true;
}

// A whole number as the program writes it: decimal digits, no sign, no
// leading zero.
bool count(const std::string& s, long& value) {
  return digits(s, 0, s.size()) && (s.size() == 1 || s[0] != '0') && s.size() < 10 &&
         seqcorvane::shell::parseInteger(s, value);
}

// A finite number with three decimals, as the program writes it.
bool fixed3(const std::string& s, double& value) {
  const size_t start = !s.empty() && s[0] == '-' ? 1 : 0;
  const size_t point = s.find('.');
  return point != std::string::npos && point + 4 == s.size() && digits(s, start, point) &&
         digits(s, point + 1, s.size()) && seqcorvane::shell::parseNumber(s, value) && std::isfinite(value);
}

}  // namespace

std::string provenanceLines(const Provenance& p) {
  return std::string(PROGRAM_LINE) + " " + seqcorvane::version() + "\n# criterion: " + p.criterion + "\n" +
         (p.mode == "global" ? "" : "# mode: " + p.mode + "\n") + "# models: " + p.modelsDigest + " " +
         p.modelsDirectory + "\n" + (p.decoding.empty() ? "" : "# decoding: " + p.decoding + "\n");
}

std::vector<std::string> splitRow(const std::string& row) {
  std::vector<std::string> f;
  size_t start = 0;
  while (true) {
    const size_t tab = row.find('\t', start);
    f.push_back(row.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
    if (tab == std::string::npos) return f;
    start = tab + 1;
  }
}

namespace {

// What the lines before the rows say: the provenance and the header.
struct Head {
  bool ours = false, earlier = false;  // earlier: the header of a version without calibrated_bits
  std::string criterion, models, decoding, mode = "global", header;
};

// The earlier versions' header of the hypothesis named.
std::string earlierHeaderOf(const std::string& mode) {
  return mode == "global" ? std::string(EARLIER_HEADER) : std::string(EARLIER_HEADER) + '\t' + HYPOTHESIS_COLUMNS;
}

// Reads the provenance lines and the header, by position: '#' lines up to
// the header (a row may begin with '#' too). Returns where the rows begin.
size_t readHead(const std::string& text, Head& head) {
  size_t start = 0;
  while (start < text.size()) {
    const size_t nl = text.find('\n', start);
    if (nl == std::string::npos) break;
    const std::string line = text.substr(start, nl - start);
    start = nl + 1;
    if (line == HEADER || line == headerOf("local")) {
      head.header = line;
      break;
    }
    if (line == EARLIER_HEADER || line == earlierHeaderOf("local")) {
      head.header = line;
      head.earlier = true;
      break;
    }
    if (line.compare(0, std::strlen(PROGRAM_LINE), PROGRAM_LINE) == 0) head.ours = true;
    field(line, "criterion", head.criterion);
    field(line, "mode", head.mode);
    field(line, "models", head.models);
    field(line, "decoding", head.decoding);
    if (line.empty() || line[0] != '#') break;
  }
  return start;
}

// Refuses an earlier table that is not this program's or was made otherwise.
void requireSameMaking(const Head& head, const std::string& name, const Provenance& now) {
  auto notOurs = [&] {
    fail(name + " is not a table of seqcorvane-batch " + seqcorvane::version() +
         ": it is left as it is; name another table with -o");
  };
  if (!head.ours || head.header.empty()) notOurs();
  if (head.criterion != now.criterion)
    fail("the table " + name + " holds pairs of the " + head.criterion + " criterion, not " + now.criterion +
         ": remove it or name another table with -o");
  if (head.mode != now.mode)
    fail("the table " + name + " holds pairs aligned under --mode " + head.mode + ", not --mode " + now.mode +
         ": remove it or name another table with -o");
  const std::string nowModels = now.modelsDigest + " " + now.modelsDirectory;
  if (head.models.substr(0, 16) != now.modelsDigest)
    fail("the table " + name + " was made with other models (" + head.models + "; now " + nowModels +
         "): remove it or name another table with -o");
  // A posterior table of an earlier decoding would mix two decodings.
  if (head.decoding != now.decoding)
    fail("the table " + name + " was decoded otherwise (" +
         (head.decoding.empty() ? "no decoding stated" : head.decoding) + "; now " +
         (now.decoding.empty() ? "none stated" : now.decoding) + "): remove it or name another table with -o");
  // A header that is not the one of the hypothesis its lines state.
  if (head.header != (head.earlier ? earlierHeaderOf(head.mode) : headerOf(head.mode))) notOurs();
  // Its rows lack the calibrated verdict: every pair would be aligned again,
  // and the file is left for its owner rather than rewritten.
  if (head.earlier)
    fail("the table " + name +
         " was written by an earlier seqcorvane-batch, without the column calibrated_bits: it is left as it is; "
         "remove it or name another table with -o");
}

}  // namespace

void readEarlier(const std::string& text, const std::string& name, const Provenance& now, EarlierRows& rows) {
  if (text.empty()) return;  // created and left empty
  Head head;
  size_t start = readHead(text, head);
  requireSameMaking(head, name, now);
  // Rows after the header; a last line without its newline is an unfinished row.
  while (start < text.size()) {
    const size_t nl = text.find('\n', start);
    if (nl == std::string::npos) break;
    const std::string row = text.substr(start, nl - start);
    start = nl + 1;
    const std::vector<std::string> f = splitRow(row);
    if (f.size() != columnsOf(now.mode)) {
      rows.misshapen.push_back(f.size() >= 2 ? f[0] + '\t' + f[1] : std::string());
      continue;
    }
    const std::string& digest = f[DIGEST_COLUMN];
    if (digest.size() != 16 || digest.find_first_not_of("0123456789abcdef") != std::string::npos) {
      rows.misshapen.push_back(f[0] + '\t' + f[1]);
      continue;
    }
    rows.digestOf[f[0] + '\t' + f[1]] = digest;
    if (f[STATUS_COLUMN] != "error") rows.ok.emplace(f[0] + '\t' + f[1] + '\t' + f[DIGEST_COLUMN], row);
  }
}

std::string nullBitsText(double nullNitsS, double nullNitsT) {
  return seqcorvane::shell::formatFixed(seqcorvane::nits2bits(nullNitsS) + seqcorvane::nits2bits(nullNitsT), 3);
}

std::string resultFields(const seqcorvane::AlignResult& r, const seqcorvane::Models& models) {
  using seqcorvane::shell::formatFixed;
  const bool aligned = !r.path.empty();  // a criterion with an alignment
  const int K = r.criterion == seqcorvane::Criterion::optimal ? r.parameters.K : r.search.K;
  const double alignmentMsgLen = aligned ? r.alignmentMsgLen : r.search.msgLen;
  return std::to_string(K) + '\t' +
         nullBitsText(seqcorvane::nullMsgLen(r.s.residues, models), seqcorvane::nullMsgLen(r.t.residues, models)) +
         '\t' + (std::isfinite(alignmentMsgLen) ? formatFixed(seqcorvane::nits2bits(alignmentMsgLen), 3) : "NA") +
         '\t' + formatFixed(r.compressionBits, 3) + '\t' +
         (aligned ? formatFixed(seqcorvane::percentIdentity({r.rowS, r.rowT}), 3) : "NA") + '\t' +
         (aligned ? std::to_string(seqcorvane::gapOpenings(r.path)) : "NA") + '\t';
}

std::string calibratedField(const seqcorvane::AlignResult& r) {
  const double bits = r.calibrated.compressionBits;
  return std::string("\t") + (std::isfinite(bits) ? seqcorvane::shell::formatFixed(bits, 3) : "NA");
}

namespace {

// A region's field: NA (first and last 0), or first-last within 1..length.
bool regionField(const std::string& s, size_t length, long& first, long& last) {
  first = last = 0;
  if (s == "NA") return true;
  const size_t dash = s.find('-');
  return dash != std::string::npos && count(s.substr(0, dash), first) && count(s.substr(dash + 1), last) &&
         first >= 1 && first <= last && static_cast<size_t>(last) <= length;
}

// The hypothesis sent and the regions: the local one under --mode local,
// either under auto; no region without an alignment; a global alignment's
// the whole of both sequences; a local one's within both, or none at all
// when it pairs no residues (noMessage: its alignment_bits NA).
bool holdsHypothesis(const std::vector<std::string>& f, const Pair& pair, const Provenance& now, bool noMessage) {
  const std::string& sent = f[HYPOTHESIS_COLUMN];
  if (sent != "local" && !(sent == "global" && now.mode == "auto")) return false;
  const long nS = static_cast<long>(pair.s->sequence.size()), nT = static_cast<long>(pair.t->sequence.size());
  long s0, s1, t0, t1;
  if (!regionField(f[REGION_S_COLUMN], nS, s0, s1) || !regionField(f[REGION_T_COLUMN], nT, t0, t1)) return false;
  const bool none = s1 == 0 && t1 == 0, both = s1 != 0 && t1 != 0;
  if (now.criterion == "marginal") return none;
  if (sent == "global") return s0 == 1 && s1 == nS && t0 == 1 && t1 == nT;
  if (noMessage) return none;
  return both || (none && now.criterion == "posterior");
}

}  // namespace

bool holdsResult(const std::vector<std::string>& f, const Pair& pair, const Provenance& now,
                 const std::string& nullBits) {
  const std::string& criterion = now.criterion;
  if (f.size() != columnsOf(now.mode) || f[0] != pair.s->id || f[1] != pair.t->id ||
      f[2] != std::to_string(pair.s->sequence.size()) || f[3] != std::to_string(pair.t->sequence.size()) ||
      f[4] != criterion || f[6] != nullBits || f[STATUS_COLUMN] != "ok" || f[DIGEST_COLUMN] != pair.digest)
    return false;
  // A local posterior alignment that pairs no residues has no message.
  const bool noMessage = f[7] == "NA" && now.mode == "local" && criterion == "posterior";
  long K = 0, gaps = 0;
  double null = 0, alignment = 0, compression = 0, identity = 0, seconds = 0, calibrated = 0;
  if (!count(f[5], K) || K < 1 || K > 1000 || !fixed3(f[6], null) ||
      (!noMessage && (!fixed3(f[7], alignment) || !(alignment > 0))) || !fixed3(f[8], compression) ||
      !fixed3(f[11], seconds) || seconds < 0 || !fixed3(f[CALIBRATED_COLUMN], calibrated))
    return false;
  // The posterior criterion's verdict is the calibrated one: the same number.
  if (criterion == "posterior" && f[CALIBRATED_COLUMN] != f[8]) return false;
  // Each of the three numbers is rounded to thousandths on its own.
  if (criterion != "posterior" && std::fabs(compression - (null - alignment)) > 0.0021) return false;
  const size_t columnsAtMost = pair.s->sequence.size() + pair.t->sequence.size();
  if (criterion == "marginal" ? !(f[9] == "NA" && f[10] == "NA")
                              : !(fixed3(f[9], identity) && identity >= 0 && identity <= 100 && count(f[10], gaps) &&
                                  static_cast<size_t>(gaps) <= columnsAtMost))
    return false;
  return now.mode == "global" || holdsHypothesis(f, pair, now, noMessage);
}

std::string hypothesisFields(const seqcorvane::AlignResult& r) {
  const seqcorvane::Region& g = r.hypothesis.region;
  auto range = [&](size_t begin, size_t end) {
    return r.path.empty() || end == begin ? std::string("NA") : std::to_string(begin + 1) + "-" + std::to_string(end);
  };
  return std::string("\t") + seqcorvane::hypothesisName(r.hypothesis.sent) + '\t' + range(g.beginS, g.endS) + '\t' +
         range(g.beginT, g.endT);
}

Reuse chooseEarlier(const std::vector<Pair>& pairs, const EarlierRows& partial, const EarlierRows& table,
                    const Provenance& now, const seqcorvane::Models& models) {
  Reuse reuse;
  reuse.rows.resize(pairs.size());
  reuse.fromPartial.resize(pairs.size());
  reuse.any =
      !partial.digestOf.empty() || !table.digestOf.empty() || !partial.misshapen.empty() || !table.misshapen.empty();
  if (!reuse.any) return reuse;
  std::map<const Record*, double> nullNits;
  auto nullOf = [&](const Record* r) {
    auto it = nullNits.find(r);
    if (it == nullNits.end()) it = nullNits.emplace(r, seqcorvane::nullMsgLen(r->sequence, models)).first;
    return it->second;
  };
  std::set<std::string> ids;
  for (size_t p = 0; p < pairs.size(); ++p) {
    const Pair& pair = pairs[p];
    ids.insert(pair.s->id + '\t' + pair.t->id);
    const std::string key = pair.key();
    for (const EarlierRows* rows : {&partial, &table}) {
      const auto range = rows->ok.equal_range(key);
      for (auto it = range.first; it != range.second; ++it) {
        if (!reuse.rows[p].empty()) break;
        if (pair.s->sequence.empty() || pair.t->sequence.empty() ||
            !holdsResult(splitRow(it->second), pair, now, nullBitsText(nullOf(pair.s), nullOf(pair.t)))) {
          ++reuse.setAside;
          continue;
        }
        reuse.rows[p] = it->second;
        reuse.fromPartial[p] = rows == &partial;
      }
    }
    if (!reuse.rows[p].empty()) continue;
    for (const EarlierRows* rows : {&partial, &table}) {
      const auto d = rows->digestOf.find(pair.s->id + '\t' + pair.t->id);
      if (d != rows->digestOf.end()) {
        reuse.changed += d->second != pair.digest;
        break;
      }
    }
  }
  for (const EarlierRows* rows : {&partial, &table})
    for (const std::string& m : rows->misshapen) reuse.setAside += m.empty() || ids.count(m);
  return reuse;
}

// ---- JSON lines ----

namespace {

void appendEscape(std::string& out, unsigned code) {
  static const char* hex = "0123456789abcdef";
  out += "\\u";
  for (int shift = 12; shift >= 0; shift -= 4) out += hex[(code >> shift) & 15];
}

void appendCodePoint(std::string& out, unsigned cp) {
  switch (cp) {
    case '"':
      out += "\\\"";
      return;
    case '\\':
      out += "\\\\";
      return;
    case '\n':
      out += "\\n";
      return;
    case '\r':
      out += "\\r";
      return;
    case '\t':
      out += "\\t";
      return;
    case '\b':
      out += "\\b";
      return;
    case '\f':
      out += "\\f";
      return;
  }
  if (cp >= 0x20 && cp < 0x7f) {
    out += static_cast<char>(cp);
  } else if (cp > 0xffff) {
    appendEscape(out, 0xd800 + ((cp - 0x10000) >> 10));
    appendEscape(out, 0xdc00 + ((cp - 0x10000) & 0x3ff));
  } else {
    appendEscape(out, cp);
  }
}

// A number in JSON's form: -?(0|[1-9][0-9]*)(.[0-9]+)?
bool jsonNumber(const std::string& s) {
  const size_t start = !s.empty() && s[0] == '-' ? 1 : 0;
  const size_t point = s.find('.');
  const size_t end = point == std::string::npos ? s.size() : point;
  if (!digits(s, start, end) || (s[start] == '0' && end - start > 1)) return false;
  return point == std::string::npos || digits(s, point + 1, s.size());
}

}  // namespace

std::string jsonString(const std::string& text) {
  std::string out = "\"";
  for (size_t i = 0; i < text.size();) {
    const Utf8Char u = utf8At(text, i);
    appendCodePoint(out, u.codePoint);
    i += u.bytes;
  }
  return out + "\"";
}

namespace {

// A region's field as JSON: first-last as [first, last], NA as null.
std::string jsonRange(const std::string& value) {
  const size_t dash = value.find('-');
  if (dash == std::string::npos || !digits(value, 0, dash) || !digits(value, dash + 1, value.size())) return "null";
  return "[" + value.substr(0, dash) + ", " + value.substr(dash + 1) + "]";
}

}  // namespace

std::string jsonRow(const std::string& row, const std::string& mode) {
  static const std::vector<std::string> plain = splitRow(HEADER), extended = splitRow(headerOf("local"));
  const std::vector<std::string>& names = mode == "global" ? plain : extended;
  // What each column holds: a string, a number (or NA), the hypothesis (or NA), a region (or NA).
  enum Kind { text, number, sent, range };
  static const Kind kinds[COLUMNS + 3] = {text,   text,   number, number, text, number, number, number, number,
                                          number, number, number, text,   text, number, sent,   range,  range};
  const std::vector<std::string> f = splitRow(row);
  std::string out = "{";
  for (size_t k = 0; k < names.size(); ++k) {
    const std::string value = k < f.size() ? f[k] : "NA";
    out += (k ? ", \"" : "\"") + names[k] + "\": ";
    double x = 0;
    if (kinds[k] == text || (kinds[k] == sent && value != "NA"))
      out += jsonString(value);
    else if (kinds[k] == range)
      out += jsonRange(value);
    else if (kinds[k] == number && jsonNumber(value) && seqcorvane::shell::parseNumber(value, x) && std::isfinite(x))
      out += value;
    else
      out += "null";
  }
  return out + "}";
}

}  // namespace batch
