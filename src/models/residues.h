// The residue alphabet of the models: the twenty upper-case letters
// ACDEFGHIKLMNPQRSTVWY.
#pragma once

namespace seqcorvane::detail {

constexpr const char* RESIDUE_LETTERS = "ACDEFGHIKLMNPQRSTVWY";

// Whether c is one of the twenty residue letters.
bool isResidue(char c);

}  // namespace seqcorvane::detail
