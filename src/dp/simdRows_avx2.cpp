// The row routines compiled for one instruction set; see simdRows.inc.
#define SC_ISA 2
#define SC_SUFFIX avx2
#include "simdRows.inc"
