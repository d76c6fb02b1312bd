// Input text files, read in one pass from one open: plain or gzip-compressed
// (zlib tells them apart), from regular files, named pipes or /dev/stdin
// alike. A UTF-8 byte-order mark at the start is skipped.
#pragma once

#include <string>
#include <vector>

// The lines of the file (without their newline characters; a carriage return
// before a newline stays in the line); the last line is kept whether or not a
// newline ends it. A file that cannot be opened or read ends the run with one
// line naming it and the system's reason.
std::vector<std::string> readTextLines(const std::string& path);
