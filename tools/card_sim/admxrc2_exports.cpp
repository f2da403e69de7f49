// The twenty entry points of the ADMXRC2 interface (libadmxrc.so, admxrc.dll), over the one
// emulated card. The ones the program only binds answer "not supported".
#include <cstring>
#include <string>
#include <type_traits>

#if defined(_WIN32)
#include <windows.h>
#endif

#include "link/admxrc_api.h"
#include "tools/card_sim/card_exports.h"
#include "tools/card_sim/card_instance.h"
#include "tools/card_sim/card_registers.h"
#include "tools/card_sim/card_status.h"

namespace {

card_instance& card() { return card_instance::get(); }

admxrc_status check(const char* entry, admxrc2_handle handle) {
    const admxrc_status status = card().precheck(entry);
    if (status != admxrc_success) {
        return status;
    }
    return card().is_open(handle) ? admxrc_success : admxrc_status{status_bad_handle};
}

admxrc_status unsupported(const char* entry, admxrc2_handle handle) {
    const admxrc_status status = check(entry, handle);
    return status != admxrc_success ? status : admxrc_status{status_not_supported};
}

}  // namespace

CARD_API admxrc_status ADMXRC2_CloseCard(admxrc2_handle handle) {
    if (const admxrc_status status = card().precheck("ADMXRC2_CloseCard")) {
        return status;
    }
    return card().close(handle);
}

CARD_API admxrc_status ADMXRC2_GetSpaceInfo(admxrc2_handle handle, std::uint32_t space,
                                            admxrc2_space_info* info) {
    if (const admxrc_status status = check("ADMXRC2_GetSpaceInfo", handle)) {
        return status;
    }
    if (space != 0 || info == nullptr) {
        return status_bad_argument;
    }
    void* base = nullptr;
    if (const admxrc_status status = card().map_window(handle, &base)) {
        return status;
    }
    *info = admxrc2_space_info{};
    info->virtual_address = base;
    info->size = card_window_size;
    return admxrc_success;
}

CARD_API admxrc_status ADMXRC2_DoDMA(admxrc2_handle handle, void*, std::uint64_t, std::uint64_t,
                                     std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t,
                                     std::uint32_t, std::uint32_t*, admxrc_event) {
    return unsupported("ADMXRC2_DoDMA", handle);
}

CARD_API admxrc_status ADMXRC2_OpenCardByIndex(std::uint32_t index, admxrc2_handle* handle) {
    if (const admxrc_status status = card().precheck("ADMXRC2_OpenCardByIndex")) {
        return status;
    }
    return card().open(card_interface::admxrc2, index, handle);
}

CARD_API admxrc_status ADMXRC2_SetupDMA(admxrc2_handle handle, const void*, std::uint64_t,
                                        std::uint32_t, void**) {
    return unsupported("ADMXRC2_SetupDMA", handle);
}

CARD_API admxrc_status ADMXRC2_GetCardInfo(admxrc2_handle handle, admxrc2_card_info* info) {
    if (const admxrc_status status = check("ADMXRC2_GetCardInfo", handle)) {
        return status;
    }
    if (info == nullptr) {
        return status_bad_argument;
    }
    *info = admxrc2_card_info{};
    info->board_type = card().settings().reported_board_code();
    info->serial_number = card().settings().serial_number;
    info->card_id = 0;
    info->num_spaces = 1;
    return admxrc_success;
}

CARD_API admxrc_status ADMXRC2_SetClockRate(admxrc2_handle handle, std::uint32_t clock,
                                            double frequency, double* actual_frequency) {
    if (const admxrc_status status = check("ADMXRC2_SetClockRate", handle)) {
        return status;
    }
    if (!(frequency > 0.0)) {
        return status_bad_argument;
    }
    card().note("clock " + std::to_string(clock) + " " +
                std::to_string(static_cast<unsigned long long>(frequency)) + " Hz");
    if (actual_frequency != nullptr) {
        *actual_frequency = frequency;
    }
    return admxrc_success;
}

CARD_API admxrc_status ADMXRC2_ConfigureFromFile(admxrc2_handle handle, const char*) {
    return unsupported("ADMXRC2_ConfigureFromFile", handle);
}

CARD_API admxrc_status ADMXRC2_LoadBitstream(admxrc2_handle handle, const char*, void**,
                                             std::uint64_t*) {
    return unsupported("ADMXRC2_LoadBitstream", handle);
}

CARD_API admxrc_status ADMXRC2_UnloadBitstream(void*) {
    if (const admxrc_status status = card().precheck("ADMXRC2_UnloadBitstream")) {
        return status;
    }
    return status_not_supported;
}

CARD_API admxrc_status ADMXRC2_ConfigureFromBuffer(admxrc2_handle handle, const void* data,
                                                   std::uint64_t length) {
    if (const admxrc_status status = check("ADMXRC2_ConfigureFromBuffer", handle)) {
        return status;
    }
    return card().configure(handle, data, length, "ADMXRC2_ConfigureFromBuffer");
}

CARD_API admxrc_status ADMXRC2_ConfigureFromBufferDMA(admxrc2_handle handle, const void* data,
                                                      std::uint64_t length, std::uint32_t,
                                                      admxrc_event event) {
    if (const admxrc_status status = check("ADMXRC2_ConfigureFromBufferDMA", handle)) {
        return status;
    }
    const admxrc_status status =
        card().configure(handle, data, length, "ADMXRC2_ConfigureFromBufferDMA");
#if defined(_WIN32)
    // Configuration is over when the call returns: the event says so too.
    if (status == admxrc_success && event != nullptr) {
        SetEvent(static_cast<HANDLE>(event));
    }
#else
    static_cast<void>(event);
#endif
    return status;
}

CARD_API std::uint32_t ADMXRC2_BuildDMAModeWord(std::uint32_t, std::uint32_t, std::uint32_t,
                                                std::uint32_t) {
    return 0;
}

CARD_API admxrc_status ADMXRC2_UnsetupDMA(admxrc2_handle handle, void*) {
    return unsupported("ADMXRC2_UnsetupDMA", handle);
}

CARD_API void ADMXRC_StatusToString(admxrc_status status, char* buffer, std::uint32_t size) {
    if (buffer == nullptr || size == 0) {
        return;
    }
    const char* text = card_status_text(status);
    const std::size_t n = std::min<std::size_t>(std::strlen(text), size - 1);
    std::memcpy(buffer, text, n);
    buffer[n] = '\0';
}

CARD_API const char* ADMXRC_GetStatusString(admxrc_status status) {
    return card_status_text(status);
}

CARD_API admxrc_status ADMXRC2_RegisterInterruptEvent(admxrc2_handle handle, admxrc_event) {
    return unsupported("ADMXRC2_RegisterInterruptEvent", handle);
}

CARD_API admxrc_status ADMXRC2_UnregisterInterruptEvent(admxrc2_handle handle, admxrc_event) {
    return unsupported("ADMXRC2_UnregisterInterruptEvent", handle);
}

CARD_API admxrc_status ADMXRC2_Read(admxrc2_handle handle, std::uint32_t, std::uint32_t,
                                    std::uint64_t, void*, std::uint64_t) {
    return unsupported("ADMXRC2_Read", handle);
}

CARD_API admxrc_status ADMXRC2_Write(admxrc2_handle handle, std::uint32_t, std::uint32_t,
                                     std::uint64_t, const void*, std::uint64_t) {
    return unsupported("ADMXRC2_Write", handle);
}

// Each export has exactly the type the program calls it through.
static_assert(std::is_same_v<decltype(&ADMXRC2_CloseCard), admxrc2_close_card_fn>);
static_assert(std::is_same_v<decltype(&ADMXRC2_GetSpaceInfo), admxrc2_get_space_info_fn>);
static_assert(std::is_same_v<decltype(&ADMXRC2_DoDMA), admxrc2_do_dma_fn>);
static_assert(std::is_same_v<decltype(&ADMXRC2_OpenCardByIndex), admxrc2_open_card_by_index_fn>);
static_assert(std::is_same_v<decltype(&ADMXRC2_SetupDMA), admxrc2_setup_dma_fn>);
static_assert(std::is_same_v<decltype(&ADMXRC2_GetCardInfo), admxrc2_get_card_info_fn>);
static_assert(std::is_same_v<decltype(&ADMXRC2_SetClockRate), admxrc2_set_clock_rate_fn>);
static_assert(std::is_same_v<decltype(&ADMXRC2_ConfigureFromFile), admxrc2_configure_from_file_fn>);
static_assert(std::is_same_v<decltype(&ADMXRC2_LoadBitstream), admxrc2_load_bitstream_fn>);
static_assert(std::is_same_v<decltype(&ADMXRC2_UnloadBitstream), admxrc2_unload_bitstream_fn>);
static_assert(
    std::is_same_v<decltype(&ADMXRC2_ConfigureFromBuffer), admxrc2_configure_from_buffer_fn>);
static_assert(std::is_same_v<decltype(&ADMXRC2_ConfigureFromBufferDMA),
                             admxrc2_configure_from_buffer_dma_fn>);
static_assert(std::is_same_v<decltype(&ADMXRC2_BuildDMAModeWord), admxrc2_build_dma_mode_word_fn>);
static_assert(std::is_same_v<decltype(&ADMXRC2_UnsetupDMA), admxrc2_unsetup_dma_fn>);
static_assert(std::is_same_v<decltype(&ADMXRC_StatusToString), admxrc2_status_to_string_fn>);
static_assert(std::is_same_v<decltype(&ADMXRC_GetStatusString), admxrc2_get_status_string_fn>);
static_assert(std::is_same_v<decltype(&ADMXRC2_RegisterInterruptEvent),
                             admxrc2_register_interrupt_event_fn>);
static_assert(std::is_same_v<decltype(&ADMXRC2_UnregisterInterruptEvent),
                             admxrc2_unregister_interrupt_event_fn>);
static_assert(std::is_same_v<decltype(&ADMXRC2_Read), admxrc2_read_fn>);
static_assert(std::is_same_v<decltype(&ADMXRC2_Write), admxrc2_write_fn>);

namespace {

#define CARD_ENTRY(name) {#name, reinterpret_cast<const void*>(&name)}
const export_entry entries[] = {
    CARD_ENTRY(ADMXRC2_CloseCard),         CARD_ENTRY(ADMXRC2_GetSpaceInfo),
    CARD_ENTRY(ADMXRC2_DoDMA),             CARD_ENTRY(ADMXRC2_OpenCardByIndex),
    CARD_ENTRY(ADMXRC2_SetupDMA),          CARD_ENTRY(ADMXRC2_GetCardInfo),
    CARD_ENTRY(ADMXRC2_SetClockRate),      CARD_ENTRY(ADMXRC2_ConfigureFromFile),
    CARD_ENTRY(ADMXRC2_LoadBitstream),     CARD_ENTRY(ADMXRC2_UnloadBitstream),
    CARD_ENTRY(ADMXRC2_ConfigureFromBuffer), CARD_ENTRY(ADMXRC2_ConfigureFromBufferDMA),
    CARD_ENTRY(ADMXRC2_BuildDMAModeWord),  CARD_ENTRY(ADMXRC2_UnsetupDMA),
    CARD_ENTRY(ADMXRC_StatusToString),     CARD_ENTRY(ADMXRC_GetStatusString),
    CARD_ENTRY(ADMXRC2_RegisterInterruptEvent), CARD_ENTRY(ADMXRC2_UnregisterInterruptEvent),
    CARD_ENTRY(ADMXRC2_Read),              CARD_ENTRY(ADMXRC2_Write),
};
#undef CARD_ENTRY
static_assert(std::size(entries) == admxrc_entry_count);

const bool hidden = (hide_missing_entry(entries), true);

}  // namespace
