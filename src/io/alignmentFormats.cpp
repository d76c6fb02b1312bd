// Alignment files: afasta, and the formats other tools read: FASTA with
// names, Clustal, Stockholm with posterior probabilities, and JSON of the
// whole result.
#include <charconv>
#include <cmath>
#include <cstddef>

#include "check.h"
#include "codeLengths.h"
#include "seqcorvane/io.h"
#include "text.h"

namespace seqcorvane {

using namespace detail;

namespace {

constexpr std::size_t LINE_WIDTH = 60;

struct NamedPair {
  std::string s, t;
};

// A name as one word: blanks, control characters and bytes that are not
// UTF-8 become '_'.
std::string oneWord(const std::string& name) {
  std::string out;
  for (std::size_t k = 0; k < name.size();) {
    const unsigned char c = static_cast<unsigned char>(name[k]);
    const std::size_t n = utf8Length(name, k);
    if (n == 0 || c <= ' ' || c == 0x7f) {
      out += '_';
      ++k;
    } else {
      out.append(name, k, n);
      k += n;
    }
  }
  return out;
}

// The records' names made safe for the format (see io.h) and unique: a
// missing one is S or T; equal ones get /1 and /2.
NamedPair namesOf(const AlignResult& r, AlignmentFormat format) {
  NamedPair n{r.s.name.empty() ? "S" : oneWord(r.s.name), r.t.name.empty() ? "T" : oneWord(r.t.name)};
  if (format == AlignmentFormat::stockholm)
    for (std::string* x : {&n.s, &n.t})
      if ((*x)[0] == '#' || (*x)[0] == '/') *x = "_" + *x;
  if (n.s == n.t) n.s += "/1", n.t += "/2";
  return n;
}

// The number of characters of a UTF-8 text (a byte that is not UTF-8 counts as one).
std::size_t characters(const std::string& text) {
  std::size_t count = 0;
  for (std::size_t k = 0; k < text.size(); ++count) k += std::max<std::size_t>(1, utf8Length(text, k));
  return count;
}

// The text followed by blanks up to a width of characters.
std::string padded(const std::string& text, std::size_t width) {
  const std::size_t n = characters(text);
  return text + std::string(n < width ? width - n : 1, ' ');
}

// The row in lines of LINE_WIDTH; an empty row gives no lines.
std::string wrapped(const std::string& row) {
  std::string text;
  for (std::size_t start = 0; start < row.size(); start += LINE_WIDTH) text += row.substr(start, LINE_WIDTH) + "\n";
  return text;
}

// afasta: an empty row writes no lines, so its header is followed directly
// by what comes next (the empty separator line, or the end of the file).
std::string afasta(const std::string& rowS, const std::string& rowT) {
  return ">aligned seq 1\n" + wrapped(rowS) + "\n>aligned seq 2\n" + wrapped(rowT);
}

std::string fasta(const AlignResult& r) {
  const NamedPair n = namesOf(r, AlignmentFormat::fasta);
  return ">" + n.s + "\n" + wrapped(r.rowS) + ">" + n.t + "\n" + wrapped(r.rowT);
}

std::string clustal(const AlignResult& r) {
  const NamedPair n = namesOf(r, AlignmentFormat::clustal);
  const std::size_t width = std::max<std::size_t>(std::max(characters(n.s), characters(n.t)) + 6, 16);
  auto field = [&](const std::string& name) { return padded(name, width); };
  std::string text = "CLUSTAL W (seqcorvane " + std::string(version()) + ") multiple sequence alignment\n\n";
  for (std::size_t start = 0; start < r.rowS.size(); start += LINE_WIDTH) {
    const std::string a = r.rowS.substr(start, LINE_WIDTH), b = r.rowT.substr(start, LINE_WIDTH);
    std::string same(a.size(), ' ');
    for (std::size_t k = 0; k < a.size(); ++k)
      if (a[k] == b[k] && a[k] != '-') same[k] = '*';
    text += "\n" + field(n.s) + a + "\n" + field(n.t) + b + "\n" + std::string(width, ' ') + same + "\n";
  }
  return text;
}

// The posterior-probability character of HMMER's Stockholm files: 0-9 for
// the probability rounded to tenths, * for 0.95 and above.
char ppChar(double p) {
  if (p >= 0.95) return '*';
  const long tenths = std::lround(p * 10);
  return static_cast<char>('0' + (tenths < 0 ? 0 : tenths > 9 ? 9 : tenths));
}

std::string stockholm(const AlignResult& r) {
  const NamedPair n = namesOf(r, AlignmentFormat::stockholm);
  const std::size_t width = std::max(characters(n.s), characters(n.t)) + 12;
  auto field = [&](const std::string& label) { return padded(label, width); };
  std::string text = "# STOCKHOLM 1.0\n#=GF AU seqcorvane " + std::string(version()) + " (" +
                     criterionName(r.criterion) + " criterion)\n\n";
  // Under the local or automatic hypothesis, the one sent and the region
  // aligned in each sequence (1-based, inclusive), as per-file and
  // per-sequence features.
  const HypothesisDetails& h = r.hypothesis;
  if (h.mode != Hypothesis::global && !r.path.empty()) {
    text += "#=GF HY " + std::string(hypothesisName(h.mode)) + ", " + hypothesisName(h.sent) + " sent\n";
    if (h.region.endS > h.region.beginS)
      text += "#=GS " + n.s + " RG " + std::to_string(h.region.beginS + 1) + "-" + std::to_string(h.region.endS) + "\n";
    if (h.region.endT > h.region.beginT)
      text += "#=GS " + n.t + " RG " + std::to_string(h.region.beginT + 1) + "-" + std::to_string(h.region.endT) + "\n";
    text += "\n";
  }
  text += field(n.s) + r.rowS + "\n" + field(n.t) + r.rowT + "\n";
  if (!r.columnConfidence.empty()) {
    std::string pS(r.rowS.size(), '.'), pT(r.rowT.size(), '.');
    for (std::size_t k = 0; k < r.rowS.size(); ++k) {
      if (r.rowS[k] != '-') pS[k] = ppChar(r.columnConfidence[k]);
      if (r.rowT[k] != '-') pT[k] = ppChar(r.columnConfidence[k]);
    }
    text += field("#=GR " + n.s + " PP") + pS + "\n" + field("#=GR " + n.t + " PP") + pT + "\n";
  }
  return text + "//\n";
}

// ---- JSON ----

// A JSON string: '"', '\\' and control characters escaped, UTF-8 as it is, a
// byte that is not UTF-8 as U+FFFD.
std::string jsonString(const std::string& s) {
  std::string out = "\"";
  for (std::size_t k = 0; k < s.size();) {
    const unsigned char c = static_cast<unsigned char>(s[k]);
    const std::size_t n = utf8Length(s, k);
    if (n == 0) {
      out += "\\ufffd";
      ++k;
      continue;
    }
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c == 0x7f) {
      static const char* hex = "0123456789abcdef";
      out += "\\u00";
      out += hex[c >> 4];
      out += hex[c & 15];
    } else {
      out.append(s, k, n);
    }
    k += n;
  }
  return out + "\"";
}

// The shortest text that reads back as the same double; null where JSON has no number.
std::string jsonNumber(double x) {
  if (!std::isfinite(x)) return "null";
  char buf[64];
  const auto end = std::to_chars(buf, buf + sizeof buf, x).ptr;
  return std::string(buf, end);
}

std::string jsonBits(double nits) { return jsonNumber(std::isfinite(nits) ? nits2bits(nits) : nits); }

std::string jsonParameters(const Parameters& p) {
  static const char letter[3] = {'M', 'D', 'I'};
  std::string text = "{\"K\": " + std::to_string(p.K) + ", \"transitions\": {";
  for (int x = 0; x < 3; ++x)
    for (int y = 0; y < 3; ++y)
      text += std::string(x || y ? ", " : "") + "\"" + letter[x] + letter[y] + "\": " + jsonNumber(p.transitions[x][y]);
  return text + "}}";
}

// The identical pairs of an alignment, and the identity as a percentage of
// its columns and of each sequence's length, as the report prints them.
std::string jsonIdentity(const AlignResult& r) {
  if (r.path.empty()) return "  \"equivalences\": null,\n  \"identity\": null,\n";
  long same = 0;
  for (std::size_t k = 0; k < r.rowS.size(); ++k) same += r.rowS[k] == r.rowT[k];
  auto percent = [&](std::size_t n) {
    return jsonNumber(n == 0 ? 0.0 : static_cast<double>(100 * same) / static_cast<double>(n));
  };
  return "  \"equivalences\": " + std::to_string(same) +
         ",\n  \"identity\": {\"alignment\": " + percent(r.rowS.size()) + ", \"s\": " + percent(r.s.residues.size()) +
         ", \"t\": " + percent(r.t.residues.size()) + "},\n";
}

// A region's range in one sequence, 1-based and inclusive; null when empty.
std::string jsonRange(std::size_t begin, std::size_t end) {
  return end == begin ? "null" : "[" + std::to_string(begin + 1) + ", " + std::to_string(end) + "]";
}

std::string jsonHypothesis(const AlignResult& r) {
  const HypothesisDetails& h = r.hypothesis;
  std::string text = "  \"hypothesis\": {\"mode\": \"" + std::string(hypothesisName(h.mode)) + "\", \"sent\": \"" +
                     hypothesisName(h.sent) + "\", \"global_bits\": " + jsonBits(h.globalMsgLen) +
                     ", \"local_bits\": " + jsonBits(h.localMsgLen) +
                     ", \"local_weight\": " + jsonNumber(h.localWeight);
  text += ", \"region\": ";
  if (r.path.empty())
    text += "null";
  else
    text += "{\"s\": " + jsonRange(h.region.beginS, h.region.endS) +
            ", \"t\": " + jsonRange(h.region.beginT, h.region.endT) + "}";
  return text + "},\n";
}

std::string json(const AlignResult& r) {
  const NamedPair n = namesOf(r, AlignmentFormat::json);
  std::string text = "{\n  \"program\": \"seqcorvane " + std::string(version()) + "\",\n";
  text += "  \"criterion\": \"" + std::string(criterionName(r.criterion)) + "\",\n";
  text += "  \"sequences\": [{\"name\": " + jsonString(n.s) + ", \"length\": " + std::to_string(r.s.residues.size()) +
          "}, {\"name\": " + jsonString(n.t) + ", \"length\": " + std::to_string(r.t.residues.size()) + "}],\n";
  text += "  \"rows\": [" + (r.path.empty() ? std::string() : jsonString(r.rowS) + ", " + jsonString(r.rowT)) + "],\n";
  text += "  \"path\": " + jsonString(r.path) + ",\n";
  text += "  \"parameters\": " + jsonParameters(r.parameters) + ",\n";
  text += "  \"null_bits\": " + jsonBits(r.nullMsgLen) + ",\n";
  text += "  \"alignment_bits\": " + jsonBits(r.alignmentMsgLen) + ",\n";
  text += "  \"marginal_bits\": " + jsonBits(r.search.msgLen) + ",\n";
  text += "  \"compression_bits\": " + jsonNumber(r.compressionBits) + ",\n";
  text += "  \"verdict\": \"" + std::string(r.related() ? "related" : "not related") + "\",\n";
  text += jsonIdentity(r);
  text += jsonHypothesis(r);
  const CalibratedVerdict& v = r.calibrated;
  text += "  \"calibrated\": {\"K\": " + std::to_string(v.K) + ", \"null_bits\": " + jsonBits(v.nullMsgLen) +
          ", \"bits\": " + jsonBits(v.msgLen) + ", \"compression_bits\": " + jsonNumber(v.compressionBits) +
          ", \"verdict\": \"" + (v.related() ? "related" : "not related") + "\"},\n";
  if (r.criterion != Criterion::optimal) {
    text += "  \"marginal_K\": " + std::to_string(r.search.K) + ",\n";
    text += "  \"marginal_parameters\": " + jsonParameters(r.search.parameters) + ",\n";
  }
  if (r.criterion == Criterion::posterior) {
    const PosteriorDetails& p = r.posterior;
    text += "  \"decoded_at_optimal_K\": " + std::string(p.decodedAtOptimalK ? "true" : "false") + ",\n";
    text += "  \"site_rates\": [";
    for (std::size_t k = 0; k < p.siteRates.size(); ++k) text += (k ? ", " : "") + jsonNumber(p.siteRates[k]);
    text += "],\n  \"fitted_matches\": " + std::string(p.fittedMatches ? "true" : "false") + ",\n";
    text += "  \"end_gaps_alike\": " + std::string(p.endGapsAlike ? "true" : "false") + ",\n";
    text += "  \"gap_open_scale\": " + jsonNumber(p.gapOpenScale) + ",\n";
    text += "  \"score\": {\"parameters\": " + jsonParameters(p.score.parameters) +
            ", \"path_bits\": " + jsonBits(p.score.pathMsgLen) +
            ", \"residues_bits\": " + jsonBits(p.score.residuesMsgLen) + ", \"bits\": " + jsonBits(p.score.msgLen) +
            "},\n";
  }
  text += "  \"column_confidence\": ";
  if (r.columnConfidence.empty()) {
    text += "null";
  } else {
    text += "[";
    for (std::size_t k = 0; k < r.columnConfidence.size(); ++k)
      text += (k ? ", " : "") + jsonNumber(r.columnConfidence[k]);
    text += "]";
  }
  return text + "\n}\n";
}

}  // namespace

bool parseAlignmentFormat(const std::string& name, AlignmentFormat& format) {
  for (AlignmentFormat f : {AlignmentFormat::afasta, AlignmentFormat::fasta, AlignmentFormat::clustal,
                            AlignmentFormat::stockholm, AlignmentFormat::json})
    if (name == alignmentFormatName(f)) {
      format = f;
      return true;
    }
  return false;
}

const char* alignmentFormatName(AlignmentFormat format) {
  switch (format) {
    case AlignmentFormat::fasta:
      return "fasta";
    case AlignmentFormat::clustal:
      return "clustal";
    case AlignmentFormat::stockholm:
      return "stockholm";
    case AlignmentFormat::json:
      return "json";
    default:
      return "afasta";
  }
}

const char* alignmentFormatExtension(AlignmentFormat format) {
  switch (format) {
    case AlignmentFormat::fasta:
      return ".fasta";
    case AlignmentFormat::clustal:
      return ".aln";
    case AlignmentFormat::stockholm:
      return ".sto";
    case AlignmentFormat::json:
      return ".json";
    default:
      return ".afasta";
  }
}

std::string formatAlignment(const AlignResult& r, AlignmentFormat format) {
  const int f = static_cast<int>(format);
  if (f < 0 || f > static_cast<int>(AlignmentFormat::json))
    inputError("alignment format " + std::to_string(f) + " is none of afasta, fasta, clustal, stockholm and json");
  if (r.rowS.size() != r.path.size() || r.rowT.size() != r.path.size())
    inputError("the result's rows (" + std::to_string(r.rowS.size()) + " and " + std::to_string(r.rowT.size()) +
               " columns) are not those of its path (" + std::to_string(r.path.size()) + " columns)");
  if (!r.columnConfidence.empty() && r.columnConfidence.size() != r.path.size())
    inputError("the result has " + std::to_string(r.columnConfidence.size()) + " column confidences for " +
               std::to_string(r.path.size()) + " columns");
  if (format == AlignmentFormat::json) return json(r);
  if (r.path.empty() && !(r.s.residues.empty() && r.t.residues.empty()))
    inputError(std::string("the result of the ") + criterionName(r.criterion) +
               " criterion holds no alignment to write in " + alignmentFormatName(format) + " format");
  switch (format) {
    case AlignmentFormat::fasta:
      return fasta(r);
    case AlignmentFormat::clustal:
      return clustal(r);
    case AlignmentFormat::stockholm:
      return stockholm(r);
    default:
      return afasta(r.rowS, r.rowT);
  }
}

void writeAfastaFile(const std::string& path, const std::vector<std::string>& rows) {
  if (rows.size() != 2) inputError("an alignment has two rows, not " + std::to_string(rows.size()));
  writeWholeFile(path, afasta(rows[0], rows[1]));
}

void writeAlignmentFile(const std::string& path, const AlignResult& r, AlignmentFormat format) {
  writeWholeFile(path, formatAlignment(r, format));
}

}  // namespace seqcorvane
