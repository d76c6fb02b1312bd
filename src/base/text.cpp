#include "text.h"

namespace seqcorvane::detail {

namespace {

void appendEscaped(std::string& out, unsigned char c) {
  static const char* hex = "0123456789abcdef";
  switch (c) {
    case '\0':
      out += "\\0";
      return;
    case '\t':
      out += "\\t";
      return;
    case '\n':
      out += "\\n";
      return;
    case '\r':
      out += "\\r";
      return;
    default:
      out += "\\x";
      out += hex[c >> 4];
      out += hex[c & 15];
  }
}

// Appends the character at pos to out, escaped where it must be; returns its length in bytes.
std::size_t appendCharacter(std::string& out, const std::string& text, std::size_t pos) {
  const unsigned char c = static_cast<unsigned char>(text[pos]);
  const std::size_t n = utf8Length(text, pos);
  if (n == 0 || c < 0x20 || c == 0x7f) {
    appendEscaped(out, c);
    return 1;
  }
  out.append(text, pos, n);
  return n;
}

}  // namespace

std::size_t utf8Length(const std::string& text, std::size_t pos) {
  const unsigned char c = static_cast<unsigned char>(text[pos]);
  if (c < 0x80) return 1;
  std::size_t n;
  unsigned cp;
  if (c >= 0xc2 && c <= 0xdf) {
    n = 2, cp = c & 0x1f;
  } else if (c >= 0xe0 && c <= 0xef) {
    n = 3, cp = c & 0x0f;
  } else if (c >= 0xf0 && c <= 0xf4) {
    n = 4, cp = c & 0x07;
  } else {
    return 0;
  }
  if (pos + n > text.size()) return 0;
  for (std::size_t k = 1; k < n; ++k) {
    const unsigned char d = static_cast<unsigned char>(text[pos + k]);
    if ((d & 0xc0) != 0x80) return 0;
    cp = (cp << 6) | (d & 0x3f);
  }
  // Overlong forms, surrogates and code points beyond U+10FFFF are not UTF-8.
  if ((n == 3 && cp < 0x800) || (n == 4 && (cp < 0x10000 || cp > 0x10ffff)) || (cp >= 0xd800 && cp <= 0xdfff)) return 0;
  return n;
}

std::string excerpt(const std::string& text, std::size_t maxCharacters) {
  std::string out;
  std::size_t pos = 0, shown = 0;
  while (pos < text.size() && shown < maxCharacters) {
    pos += appendCharacter(out, text, pos);
    ++shown;
  }
  if (pos < text.size()) out += "... (" + std::to_string(text.size() - pos) + " more bytes)";
  return out;
}

std::string characterAt(const std::string& text, std::size_t pos) {
  std::string out;
  if (pos < text.size()) appendCharacter(out, text, pos);
  return out;
}

}  // namespace seqcorvane::detail
