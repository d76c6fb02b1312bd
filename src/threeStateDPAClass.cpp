#include "threeStateDPAClass.h"
