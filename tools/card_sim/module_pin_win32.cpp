#include <windows.h>

#include <cstring>

#include "tools/card_sim/module_pin.h"

void pin_this_module() {
    HMODULE self = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                       reinterpret_cast<LPCSTR>(&pin_this_module), &self);
}

void hide_export(const char* name, const void* function) {
    HMODULE self = nullptr;
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            static_cast<LPCSTR>(function), &self)) {
        return;
    }
    auto* base = reinterpret_cast<unsigned char*>(self);
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& dir =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    if (dir.VirtualAddress == 0) {
        return;
    }
    const auto* exports = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + dir.VirtualAddress);
    const auto* names = reinterpret_cast<const DWORD*>(base + exports->AddressOfNames);
    for (DWORD k = 0; k < exports->NumberOfNames; ++k) {
        char* text = reinterpret_cast<char*>(base + names[k]);
        if (std::strcmp(text, name) != 0) {
            continue;
        }
        // Shortening keeps the names in the sorted order the look-up relies on.
        const std::size_t length = std::strlen(text);
        DWORD old = 0;
        if (VirtualProtect(text, length, PAGE_READWRITE, &old)) {
            text[length - 1] = '\0';
            VirtualProtect(text, length, old, &old);
        }
        return;
    }
}
