#include "cmdLineParser.h"
