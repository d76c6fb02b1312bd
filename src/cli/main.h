// The single program: the whole run from the arguments; returns the exit status.
#pragma once

int seqcorvaneMain(int argc, char* argv[]);
