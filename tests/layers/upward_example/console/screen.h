// A console header that a lower layer wrongly includes (see protocol/state.h).
#pragma once
