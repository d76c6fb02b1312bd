// The row routines compiled for one instruction set; see simdRows.inc.
#define SC_ISA 0
#define SC_SUFFIX scalar
#include "simdRows.inc"
