// The row routines compiled for one instruction set; see simdRows.inc.
#define SC_ISA 3
#define SC_SUFFIX avx512
#include "simdRows.inc"
