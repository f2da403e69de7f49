// A protocol header that reaches up into the console: the layer check must refuse it.
#pragma once

#include "console/screen.h"
