// Texts quoted in messages: whatever a file or a caller gave, shown short
// and safe for a terminal, a log and a Python exception alike.
#pragma once

#include <cstddef>
#include <string>

namespace seqcorvane::detail {

// The length of the UTF-8 sequence that starts at text[pos] (1 for ASCII),
// or 0 when the bytes there are not one.
std::size_t utf8Length(const std::string& text, std::size_t pos);

// The text for a message: valid UTF-8 kept as it is; control characters
// and bytes that are not UTF-8 escaped (\0, \t, \n, \r, \xNN); after
// maxCharacters characters it is cut, with "..." and the number of bytes
// left out.
std::string excerpt(const std::string& text, std::size_t maxCharacters = 40);

// The character that starts at text[pos] (its whole UTF-8 sequence when it
// is one), escaped as excerpt escapes it.
std::string characterAt(const std::string& text, std::size_t pos);

}  // namespace seqcorvane::detail
