// The row routines compiled for one instruction set; see simdRows.inc.
#define SC_ISA 1
#define SC_SUFFIX sse2
#include "simdRows.inc"
