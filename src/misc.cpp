#include "misc.h"
