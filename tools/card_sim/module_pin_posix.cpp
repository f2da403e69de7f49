#include <cstdint>
#include <cstring>
#include <dlfcn.h>
#include <sys/mman.h>
#include <unistd.h>

#include "tools/card_sim/module_pin.h"

void pin_this_module() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<const void*>(&pin_this_module), &info) != 0 &&
        info.dli_fname != nullptr) {
        // A second reference that is never dropped, and no unloading even when it would be.
        dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
    }
}

void hide_export(const char* name, const void* function) {
    Dl_info info{};
    if (dladdr(function, &info) == 0 || info.dli_sname == nullptr ||
        std::strcmp(info.dli_sname, name) != 0) {
        return;
    }
    // dli_sname points into the library's dynamic string table.
    char* text = const_cast<char*>(info.dli_sname);
    const std::size_t length = std::strlen(text);
    const auto page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
    const std::uintptr_t first = reinterpret_cast<std::uintptr_t>(text) & ~(page - 1);
    const std::uintptr_t last = (reinterpret_cast<std::uintptr_t>(text) + length) & ~(page - 1);
    const std::size_t span = last - first + page;
    if (mprotect(reinterpret_cast<void*>(first), span, PROT_READ | PROT_WRITE) != 0) {
        return;
    }
    text[length - 1] = '\0';
    mprotect(reinterpret_cast<void*>(first), span, PROT_READ);
}
