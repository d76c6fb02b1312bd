#include "nullModelClass.h"
