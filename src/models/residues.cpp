#include "residues.h"

#include <cstring>

namespace seqcorvane::detail {

bool isResidue(char c) { return c != '\0' && std::strchr(RESIDUE_LETTERS, c) != nullptr; }

}  // namespace seqcorvane::detail
