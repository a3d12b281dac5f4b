// Compiles the stand-ins once (they are Qt objects) for every test that links them.
#include "PrivateBus.h"
