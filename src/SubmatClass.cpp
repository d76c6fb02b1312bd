#include "SubmatClass.h"
