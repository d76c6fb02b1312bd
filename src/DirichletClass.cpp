#include "DirichletClass.h"
