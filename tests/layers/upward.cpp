// A simulation source that reaches up into the driver: the include check must refuse it.
#include "driver/loop.h"
#include "race/world.h"
