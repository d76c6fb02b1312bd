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
    "gap_openings\tseconds\tstatus\tpair_digest";

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
  return std::string(PROGRAM_LINE) + " " + seqcorvane::version() + "\n# criterion: " + p.criterion +
         "\n# models: " + p.modelsDigest + " " + p.modelsDirectory + "\n" +
         (p.decoding.empty() ? "" : "# decoding: " + p.decoding + "\n");
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

void readEarlier(const std::string& text, const std::string& name, const Provenance& now, EarlierRows& rows) {
  if (text.empty()) return;  // created and left empty
  // The provenance lines and the header, by position: '#' lines up to the
  // header; a row may begin with '#' too.
  std::string criterion, models, decoding;
  bool ours = false, header = false;
  size_t start = 0;
  while (start < text.size()) {
    const size_t nl = text.find('\n', start);
    if (nl == std::string::npos) break;
    const std::string line = text.substr(start, nl - start);
    start = nl + 1;
    if (line == HEADER) {
      header = true;
      break;
    }
    if (line.compare(0, std::strlen(PROGRAM_LINE), PROGRAM_LINE) == 0) ours = true;
    field(line, "criterion", criterion);
    field(line, "models", models);
    field(line, "decoding", decoding);
    if (line.empty() || line[0] != '#') break;
  }
  if (!ours || !header)
    fail(name + " is not a table of seqcorvane-batch " + seqcorvane::version() +
         ": it is left as it is; name another table with -o");
  if (criterion != now.criterion)
    fail("the table " + name + " holds pairs of the " + criterion + " criterion, not " + now.criterion +
         ": remove it or name another table with -o");
  const std::string nowModels = now.modelsDigest + " " + now.modelsDirectory;
  if (models.substr(0, 16) != now.modelsDigest)
    fail("the table " + name + " was made with other models (" + models + "; now " + nowModels +
         "): remove it or name another table with -o");
  // A posterior table of an earlier decoding would mix two decodings.
  if (decoding != now.decoding)
    fail("the table " + name + " was decoded otherwise (" + (decoding.empty() ? "no decoding stated" : decoding) +
         "; now " + (now.decoding.empty() ? "none stated" : now.decoding) +
         "): remove it or name another table with -o");
  // Rows after the header; a last line without its newline is an unfinished row.
  while (start < text.size()) {
    const size_t nl = text.find('\n', start);
    if (nl == std::string::npos) break;
    const std::string row = text.substr(start, nl - start);
    start = nl + 1;
    const std::vector<std::string> f = splitRow(row);
    if (f.size() != static_cast<size_t>(COLUMNS)) {
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
         '\t' + formatFixed(seqcorvane::nits2bits(alignmentMsgLen), 3) + '\t' + formatFixed(r.compressionBits, 3) +
         '\t' + (aligned ? formatFixed(seqcorvane::percentIdentity({r.rowS, r.rowT}), 3) : "NA") + '\t' +
         (aligned ? std::to_string(seqcorvane::gapOpenings(r.path)) : "NA") + '\t';
}

bool holdsResult(const std::vector<std::string>& f, const Pair& pair, const std::string& criterion,
                 const std::string& nullBits) {
  if (f.size() != static_cast<size_t>(COLUMNS) || f[0] != pair.s->id || f[1] != pair.t->id ||
      f[2] != std::to_string(pair.s->sequence.size()) || f[3] != std::to_string(pair.t->sequence.size()) ||
      f[4] != criterion || f[6] != nullBits || f[STATUS_COLUMN] != "ok" || f[DIGEST_COLUMN] != pair.digest)
    return false;
  long K = 0, gaps = 0;
  double null = 0, alignment = 0, compression = 0, identity = 0, seconds = 0;
  if (!count(f[5], K) || K < 1 || K > 1000 || !fixed3(f[6], null) || !fixed3(f[7], alignment) || !(alignment > 0) ||
      !fixed3(f[8], compression) || !fixed3(f[11], seconds) || seconds < 0)
    return false;
  // Each of the three numbers is rounded to thousandths on its own.
  if (criterion != "posterior" && std::fabs(compression - (null - alignment)) > 0.0021) return false;
  if (criterion == "marginal") return f[9] == "NA" && f[10] == "NA";
  const size_t columnsAtMost = pair.s->sequence.size() + pair.t->sequence.size();
  return fixed3(f[9], identity) && identity >= 0 && identity <= 100 && count(f[10], gaps) &&
         static_cast<size_t>(gaps) <= columnsAtMost;
}

Reuse chooseEarlier(const std::vector<Pair>& pairs, const EarlierRows& partial, const EarlierRows& table,
                    const std::string& criterion, const seqcorvane::Models& models) {
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
            !holdsResult(splitRow(it->second), pair, criterion, nullBitsText(nullOf(pair.s), nullOf(pair.t)))) {
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

std::string jsonRow(const std::string& row) {
  static const std::vector<std::string> names = splitRow(HEADER);
  // The columns that hold numbers (or NA).
  static const bool numeric[COLUMNS] = {false, false, true, true, false, true,  true,
                                        true,  true,  true, true, true,  false, false};
  const std::vector<std::string> f = splitRow(row);
  std::string out = "{";
  for (size_t k = 0; k < names.size(); ++k) {
    const std::string value = k < f.size() ? f[k] : "NA";
    out += (k ? ", \"" : "\"") + names[k] + "\": ";
    double x = 0;
    if (!numeric[k])
      out += jsonString(value);
    else if (jsonNumber(value) && seqcorvane::shell::parseNumber(value, x) && std::isfinite(x))
      out += value;
    else
      out += "null";
  }
  return out + "}";
}

}  // namespace batch
