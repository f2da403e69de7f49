// The contents a simulated unit leaves the factory with: believable, deterministic images in
// banks 0 to 2, an empty bank 3, ten filled EEPROMs and a log of eleven entries.
#pragma once

#include "tools/unit_sim/sim_memory.h"

unit_memory factory_memory();
