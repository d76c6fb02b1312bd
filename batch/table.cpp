#include "table.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

#include "job.h"
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

}  // namespace

std::string provenanceLines(const Provenance& p) {
  return std::string(PROGRAM_LINE) + " " + seqcorvane::version() + "\n# criterion: " + p.criterion +
         "\n# models: " + p.modelsDigest + " " + p.modelsDirectory + "\n" +
         (p.decoding.empty() ? "" : "# decoding: " + p.decoding + "\n");
}

void readEarlier(const std::string& path, const Provenance& now, EarlierRows& rows) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return;  // nothing earlier
  const std::string name = "'" + printable(path) + "'";
  if (S_ISDIR(st.st_mode)) fail("cannot use the table " + name + ": " + std::strerror(EISDIR));
  if (!S_ISREG(st.st_mode)) return;  // a device or a pipe: written into, never read
  std::ifstream in(path, std::ios::binary);
  if (!in) fail("cannot read the earlier table " + name + ": " + std::strerror(errno));
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) fail("cannot read the earlier table " + name + ": " + std::strerror(errno));
  if (text.empty()) return;  // created and left empty
  std::istringstream lines(text);
  std::string line, criterion, models, decoding;
  bool ours = false, header = false;
  while (std::getline(lines, line)) {
    if (line.compare(0, std::strlen(PROGRAM_LINE), PROGRAM_LINE) == 0) ours = true;
    field(line, "criterion", criterion);
    field(line, "models", models);
    field(line, "decoding", decoding);
    if (line == HEADER) {
      header = true;
      break;
    }
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
  size_t start = static_cast<size_t>(lines.tellg());
  while (start < text.size()) {
    const size_t nl = text.find('\n', start);
    if (nl == std::string::npos) break;
    const std::string row = text.substr(start, nl - start);
    start = nl + 1;
    std::vector<std::string> f;
    std::istringstream fields(row);
    for (std::string x; std::getline(fields, x, '\t');) f.push_back(x);
    if (f.size() != static_cast<size_t>(COLUMNS) || f[4] != now.criterion) continue;
    rows.digestOf[f[0] + '\t' + f[1]] = f[DIGEST_COLUMN];
    if (f[STATUS_COLUMN] == "ok") rows.ok[f[0] + '\t' + f[1] + '\t' + f[DIGEST_COLUMN]] = row;
  }
}

}  // namespace batch
