#include "link/driver_loader.h"

namespace {
class system_loader final : public driver_loader {
public:
    library_handle load(const char* name) override {
        os_error error;
        return library_load(name, error);
    }
    library_entry lookup(library_handle library, const char* name) override {
        return library_lookup(library, name);
    }
    bool release(library_handle library) override {
        os_error error;
        return library_free(library, error);
    }
};
}  // namespace

driver_loader& system_driver_loader() {
    // Trivially destructible, so that it outlives every wrapper, static ones included.
    static system_loader* const loader = new system_loader;
    return *loader;
}
