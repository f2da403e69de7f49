// The twenty entry points of the ADMXRC3 interface (libadmxrc3.so, admxrc3.dll), over the one
// emulated card. The ones the program only binds answer "not supported".
#include <cstdio>
#include <memory>
#include <type_traits>
#include <vector>

#include "link/admxrc_api.h"
#include "tools/card_sim/card_exports.h"
#include "tools/card_sim/card_instance.h"
#include "tools/card_sim/card_registers.h"
#include "tools/card_sim/card_status.h"

namespace {

card_instance& card() { return card_instance::get(); }

admxrc_status check(const char* entry, admxrc3_handle handle) {
    const admxrc_status status = card().precheck(entry);
    if (status != admxrc_success) {
        return status;
    }
    return card().is_open(handle) ? admxrc_success : admxrc_status{status_bad_handle};
}

admxrc_status unsupported(const char* entry, admxrc3_handle handle) {
    const admxrc_status status = check(entry, handle);
    return status != admxrc_success ? status : admxrc_status{status_not_supported};
}

}  // namespace

CARD_API admxrc_status ADMXRC3_Open(std::uint32_t index, admxrc3_handle* handle) {
    if (const admxrc_status status = card().precheck("ADMXRC3_Open")) {
        return status;
    }
    return card().open(card_interface::admxrc3, index, handle);
}

CARD_API admxrc_status ADMXRC3_Close(admxrc3_handle handle) {
    if (const admxrc_status status = card().precheck("ADMXRC3_Close")) {
        return status;
    }
    return card().close(handle);
}

CARD_API admxrc_status ADMXRC3_ReadDMALocked(admxrc3_handle handle, std::uint32_t, std::uint32_t,
                                             void*, std::uint64_t, std::uint64_t,
                                             std::uint64_t) {
    return unsupported("ADMXRC3_ReadDMALocked", handle);
}

CARD_API admxrc_status ADMXRC3_Lock(admxrc3_handle handle, const void*, std::uint64_t, void**) {
    return unsupported("ADMXRC3_Lock", handle);
}

CARD_API admxrc_status ADMXRC3_Unlock(admxrc3_handle handle, void*) {
    return unsupported("ADMXRC3_Unlock", handle);
}

CARD_API const char* ADMXRC3_GetStatusStringA(admxrc_status status, std::int32_t) {
    return card_status_text(status);
}

CARD_API admxrc_status ADMXRC3_GetCardInfoEx(admxrc3_handle handle, admxrc3_card_info* info) {
    if (const admxrc_status status = check("ADMXRC3_GetCardInfoEx", handle)) {
        return status;
    }
    if (info == nullptr) {
        return status_bad_argument;
    }
    *info = admxrc3_card_info{};
    info->serial_number = card().settings().serial_number;
    info->model_code = card().settings().model;
    info->num_windows = 1;
    info->num_dma_channels = 2;
    return admxrc_success;
}

CARD_API admxrc_status ADMXRC3_MapWindow(admxrc3_handle handle, std::uint32_t window,
                                         std::uint64_t offset, std::uint64_t length,
                                         void** address) {
    if (const admxrc_status status = check("ADMXRC3_MapWindow", handle)) {
        return status;
    }
    if (window != 0 || offset % 4 != 0 || offset > card_window_size ||
        length > card_window_size - offset || address == nullptr) {
        return status_bad_argument;
    }
    void* base = nullptr;
    if (const admxrc_status status = card().map_window(handle, &base)) {
        return status;
    }
    *address = static_cast<std::uint8_t*>(base) + offset;
    return admxrc_success;
}

CARD_API admxrc_status ADMXRC3_LoadBitstreamA(const char* file_name,
                                              admxrc3_bitstream* bitstream) {
    if (const admxrc_status status = card().precheck("ADMXRC3_LoadBitstreamA")) {
        return status;
    }
    if (file_name == nullptr || bitstream == nullptr) {
        return status_bad_argument;
    }
    std::FILE* file = std::fopen(file_name, "rb");
    if (file == nullptr) {
        return status_file_error;
    }
    // The file is taken as the configuration data, whole.
    std::vector<std::uint8_t> content;
    std::uint8_t chunk[65536];
    std::size_t n = 0;
    while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
        content.insert(content.end(), chunk, chunk + n);
    }
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed || content.size() > 0xFFFFFFFFu) {
        return status_file_error;
    }
    auto* copy = new std::vector<std::uint8_t>(std::move(content));
    *bitstream = admxrc3_bitstream{};
    bitstream->data = copy->data();
    bitstream->length = static_cast<std::uint32_t>(copy->size());
    bitstream->library_private = copy;
    return admxrc_success;
}

CARD_API admxrc_status ADMXRC3_UnloadBitstreamA(admxrc3_bitstream* bitstream) {
    if (const admxrc_status status = card().precheck("ADMXRC3_UnloadBitstreamA")) {
        return status;
    }
    if (bitstream == nullptr) {
        return status_bad_argument;
    }
    delete static_cast<std::vector<std::uint8_t>*>(bitstream->library_private);
    *bitstream = admxrc3_bitstream{};
    return admxrc_success;
}

CARD_API admxrc_status ADMXRC3_ConfigureFromBuffer(admxrc3_handle handle, std::uint32_t target,
                                                   std::uint32_t, const void* data,
                                                   std::uint64_t length) {
    if (const admxrc_status status = check("ADMXRC3_ConfigureFromBuffer", handle)) {
        return status;
    }
    if (target != 0) {
        return status_bad_argument;
    }
    return card().configure(handle, data, length, "ADMXRC3_ConfigureFromBuffer");
}

CARD_API admxrc_status ADMXRC3_RegisterWin32Event(admxrc3_handle handle, std::uint32_t,
                                                  admxrc_event) {
    return unsupported("ADMXRC3_RegisterWin32Event", handle);
}

CARD_API admxrc_status ADMXRC3_UnregisterWin32Event(admxrc3_handle handle, std::uint32_t,
                                                    admxrc_event) {
    return unsupported("ADMXRC3_UnregisterWin32Event", handle);
}

CARD_API admxrc_status ADMXRC3_GetSensorInfoA(admxrc3_handle handle, std::uint32_t,
                                              admxrc3_sensor_info*) {
    return unsupported("ADMXRC3_GetSensorInfoA", handle);
}

CARD_API admxrc_status ADMXRC3_ReadSensor(admxrc3_handle handle, std::uint32_t, double*) {
    return unsupported("ADMXRC3_ReadSensor", handle);
}

CARD_API admxrc_status ADMXRC3_WriteDMALocked(admxrc3_handle handle, std::uint32_t,
                                              std::uint32_t, void*, std::uint64_t, std::uint64_t,
                                              std::uint64_t) {
    return unsupported("ADMXRC3_WriteDMALocked", handle);
}

CARD_API admxrc_status ADMXRC3_GetVersionInfo(admxrc3_handle handle,
                                              admxrc3_version_info* info) {
    if (const admxrc_status status = check("ADMXRC3_GetVersionInfo", handle)) {
        return status;
    }
    if (info == nullptr) {
        return status_bad_argument;
    }
    *info = admxrc3_version_info{};
    info->major = card().settings().version_major;
    info->minor = card().settings().version_minor;
    info->driver_major = 1;
    info->driver_minor = 0;
    return admxrc_success;
}

CARD_API admxrc_status ADMXRC3_Read(admxrc3_handle handle, std::uint32_t, std::uint32_t,
                                    std::uint64_t, std::uint64_t, void*) {
    return unsupported("ADMXRC3_Read", handle);
}

CARD_API admxrc_status ADMXRC3_Write(admxrc3_handle handle, std::uint32_t, std::uint32_t,
                                     std::uint64_t, std::uint64_t, const void*) {
    return unsupported("ADMXRC3_Write", handle);
}

CARD_API admxrc_status ADMXRC3_Cancel(admxrc3_handle handle, void*) {
    return unsupported("ADMXRC3_Cancel", handle);
}

// Each export has exactly the type the program calls it through.
static_assert(std::is_same_v<decltype(&ADMXRC3_Open), admxrc3_open_fn>);
static_assert(std::is_same_v<decltype(&ADMXRC3_Close), admxrc3_close_fn>);
static_assert(std::is_same_v<decltype(&ADMXRC3_ReadDMALocked), admxrc3_read_dma_locked_fn>);
static_assert(std::is_same_v<decltype(&ADMXRC3_Lock), admxrc3_lock_fn>);
static_assert(std::is_same_v<decltype(&ADMXRC3_Unlock), admxrc3_unlock_fn>);
static_assert(std::is_same_v<decltype(&ADMXRC3_GetStatusStringA), admxrc3_get_status_string_fn>);
static_assert(std::is_same_v<decltype(&ADMXRC3_GetCardInfoEx), admxrc3_get_card_info_ex_fn>);
static_assert(std::is_same_v<decltype(&ADMXRC3_MapWindow), admxrc3_map_window_fn>);
static_assert(std::is_same_v<decltype(&ADMXRC3_LoadBitstreamA), admxrc3_load_bitstream_fn>);
static_assert(std::is_same_v<decltype(&ADMXRC3_UnloadBitstreamA), admxrc3_unload_bitstream_fn>);
static_assert(
    std::is_same_v<decltype(&ADMXRC3_ConfigureFromBuffer), admxrc3_configure_from_buffer_fn>);
static_assert(std::is_same_v<decltype(&ADMXRC3_RegisterWin32Event), admxrc3_register_event_fn>);
static_assert(
    std::is_same_v<decltype(&ADMXRC3_UnregisterWin32Event), admxrc3_unregister_event_fn>);
static_assert(std::is_same_v<decltype(&ADMXRC3_GetSensorInfoA), admxrc3_get_sensor_info_fn>);
static_assert(std::is_same_v<decltype(&ADMXRC3_ReadSensor), admxrc3_read_sensor_fn>);
static_assert(std::is_same_v<decltype(&ADMXRC3_WriteDMALocked), admxrc3_write_dma_locked_fn>);
static_assert(std::is_same_v<decltype(&ADMXRC3_GetVersionInfo), admxrc3_get_version_info_fn>);
static_assert(std::is_same_v<decltype(&ADMXRC3_Read), admxrc3_read_fn>);
static_assert(std::is_same_v<decltype(&ADMXRC3_Write), admxrc3_write_fn>);
static_assert(std::is_same_v<decltype(&ADMXRC3_Cancel), admxrc3_cancel_fn>);

namespace {

#define CARD_ENTRY(name) {#name, reinterpret_cast<const void*>(&name)}
const export_entry entries[] = {
    CARD_ENTRY(ADMXRC3_Open),           CARD_ENTRY(ADMXRC3_Close),
    CARD_ENTRY(ADMXRC3_ReadDMALocked),  CARD_ENTRY(ADMXRC3_Lock),
    CARD_ENTRY(ADMXRC3_Unlock),         CARD_ENTRY(ADMXRC3_GetStatusStringA),
    CARD_ENTRY(ADMXRC3_GetCardInfoEx),  CARD_ENTRY(ADMXRC3_MapWindow),
    CARD_ENTRY(ADMXRC3_LoadBitstreamA), CARD_ENTRY(ADMXRC3_UnloadBitstreamA),
    CARD_ENTRY(ADMXRC3_ConfigureFromBuffer), CARD_ENTRY(ADMXRC3_RegisterWin32Event),
    CARD_ENTRY(ADMXRC3_UnregisterWin32Event), CARD_ENTRY(ADMXRC3_GetSensorInfoA),
    CARD_ENTRY(ADMXRC3_ReadSensor),     CARD_ENTRY(ADMXRC3_WriteDMALocked),
    CARD_ENTRY(ADMXRC3_GetVersionInfo), CARD_ENTRY(ADMXRC3_Read),
    CARD_ENTRY(ADMXRC3_Write),          CARD_ENTRY(ADMXRC3_Cancel),
};
#undef CARD_ENTRY
static_assert(std::size(entries) == admxrc_entry_count);

const bool hidden = (hide_missing_entry(entries), true);

}  // namespace
