#include <zlib.h>

#include <cerrno>
#include <cstring>

#include "check.h"
#include "seqcorvane/io.h"

namespace seqcorvane {

using namespace detail;

namespace {

[[noreturn]] void readFailed(const std::string& path, const std::string& what, const std::string& reason) {
  inputError("cannot " + what + " file '" + path + "': " + reason);
}

}  // namespace

std::vector<std::string> readTextLines(const std::string& path) {
  errno = 0;
  gzFile in = gzopen(path.c_str(), "rb");
  if (in == nullptr) readFailed(path, "open", std::strerror(errno ? errno : ENOMEM));
  gzbuffer(in, 1 << 17);
  std::string text;
  char buf[1 << 16];
  while (true) {
    errno = 0;
    const int n = gzread(in, buf, sizeof buf);
    if (n < 0) {
      int zerr = 0;
      const char* message = gzerror(in, &zerr);
      const std::string reason = zerr == Z_ERRNO ? std::strerror(errno) : std::string("compressed data: ") + message;
      gzclose(in);
      readFailed(path, "read", reason);
    }
    if (n == 0) break;
    text.append(buf, static_cast<size_t>(n));
  }
  // A compressed stream that ends before its end marker reads as a shorter
  // text without an error from gzread: gzclose tells.
  const int closed = gzclose(in);
  if (closed == Z_BUF_ERROR) readFailed(path, "read", "the compressed data ends before its end (a truncated file)");
  if (closed != Z_OK) readFailed(path, "read", closed == Z_ERRNO ? std::strerror(errno) : "compressed data: corrupt");

  size_t start = 0;
  if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) start = 3;  // UTF-8 byte-order mark
  std::vector<std::string> lines;
  while (start < text.size()) {
    const size_t nl = text.find('\n', start);
    if (nl == std::string::npos) {
      lines.push_back(text.substr(start));
      break;
    }
    lines.push_back(text.substr(start, nl - start));
    start = nl + 1;
  }
  return lines;
}

}  // namespace seqcorvane
