// FNV-1a (64 bits): a digest of bytes, fed in pieces, as 16 hexadecimal
// digits. Tables and models record what made them with it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace seqcorvane::detail {

class Fnv1a {
 public:
  void add(const char* data, std::size_t n) {
    for (std::size_t k = 0; k < n; ++k) {
      h ^= static_cast<unsigned char>(data[k]);
      h *= 1099511628211ULL;
    }
  }
  std::string hex() const;

 private:
  std::uint64_t h = 14695981039346656037ULL;
};

// The digest of a text.
std::string digestOf(const std::string& text);

}  // namespace seqcorvane::detail
