// What the exported entry points of both stand-in libraries share: the export annotation, the
// check of an open card, and the leaving out of the entry named by KESTREL_CARD_MISSING.
#pragma once

#include <cstdlib>
#include <cstring>
#include <utility>

#include "tools/card_sim/module_pin.h"

#if defined(_WIN32)
#define CARD_API extern "C" __declspec(dllexport)
#else
#define CARD_API extern "C" __attribute__((visibility("default")))
#endif

struct export_entry {
    const char* name;
    const void* function;
};

// Hides the entry named by KESTREL_CARD_MISSING if it is one of `entries`.
template <std::size_t N>
void hide_missing_entry(const export_entry (&entries)[N]) {
    const char* missing = std::getenv("KESTREL_CARD_MISSING");
    if (missing == nullptr) {
        return;
    }
    for (const export_entry& entry : entries) {
        if (std::strcmp(entry.name, missing) == 0) {
            hide_export(entry.name, entry.function);
        }
    }
}
