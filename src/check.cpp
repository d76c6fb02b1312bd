#include "check.h"

#include <cstdio>
#include <cstdlib>
#include <iostream>

void fatalError(const std::string& message) {
  std::cout.flush();
  std::cerr << "seqcorvane: error: " << message << std::endl;
  std::exit(1);
}

void checkFailed(const char* condition, const char* file, int line) {
  std::cout.flush();
  std::cerr << "seqcorvane: internal check failed: " << condition << " (" << file << ":" << line << ")"
            << std::endl;
  std::exit(2);
}
