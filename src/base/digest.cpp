#include "digest.h"

#include <cstdio>

namespace seqcorvane::detail {

std::string Fnv1a::hex() const {
  char text[17];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(h));
  return text;
}

std::string digestOf(const std::string& text) {
  Fnv1a f;
  f.add(text.data(), text.size());
  return f.hex();
}

}  // namespace seqcorvane::detail
