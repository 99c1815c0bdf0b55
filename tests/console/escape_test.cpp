#include "escape.h"
