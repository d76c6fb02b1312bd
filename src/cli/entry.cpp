// The process entry point: everything else lives in the library so that the
// tests can call it.
#include "main.h"

int main(int argc, char* argv[]) { return seqcorvaneMain(argc, argv); }
