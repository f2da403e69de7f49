// Status codes of the stand-in driver libraries and their texts. 0 is success, as in the
// program's declarations; every failure has a code and a text of the stand-in's own.
#pragma once

#include "link/admxrc_api.h"

enum card_status : admxrc_status {
    status_injected = 0x2001,     // the entry point named by KESTREL_CARD_FAIL
    status_no_card = 0x2002,
    status_bad_handle = 0x2003,
    status_bad_argument = 0x2004,
    status_file_error = 0x2005,
    status_not_supported = 0x2006,
    status_bad_settings = 0x2007,
    status_no_resources = 0x2008,
};

// The text of a status; stays valid for the life of the library.
const char* card_status_text(admxrc_status status);
