// The contents a simulated unit leaves the factory with: believable, deterministic images in
// banks 0 to 2, an empty bank 3, ten filled EEPROMs and a log of eleven entries.
#pragma once

#include "tools/unit_sim/sim_memory.h"

// `image_variant` 0 gives the usual images; any other value gives images with the same names,
// kinds and sizes but other contents (and so other CRC-32s), a different set for each value.
// Everything else is the same for every variant.
unit_memory factory_memory(unsigned image_variant = 0);
