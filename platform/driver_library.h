// Names of the card's driver libraries as the system knows them: the newer interface is looked
// for first, the older second.
#pragma once

const char* admxrc3_library_name();
const char* admxrc2_library_name();
