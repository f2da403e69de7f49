// The card's two driver interfaces as this program declares them: the ADMXRC3 interface of the
// newer cards and the older ADMXRC2 interface. Each library exports twenty entry points with C
// linkage under the names listed at the bottom; the program binds them at run time and calls
// them through the function pointer types below. The records hold the fields the program reads
// first, then room of our own. No calling-convention annotation: on 64-bit Windows and on Linux
// there is one convention only.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

// Result of every driver call: 0 is success, anything else the library's failure code.
using admxrc_status = std::uint32_t;
inline constexpr admxrc_status admxrc_success = 0;

// Open card handles; 0 means no card.
using admxrc3_handle = std::uintptr_t;
using admxrc2_handle = std::uintptr_t;

// An event the library signals (a Windows event object on Windows, an object of the program's
// own platform layer elsewhere).
using admxrc_event = void*;

// --- Records filled by the ADMXRC3 interface ---

struct admxrc3_card_info {
    std::uint32_t serial_number;
    std::uint32_t model_code;   // 0x102 and 0x106 are the cards this program drives
    std::uint32_t num_windows;
    std::uint32_t num_dma_channels;
    std::uint32_t reserved[12];
};

struct admxrc3_version_info {
    std::uint16_t major;        // library version, major part
    std::uint16_t minor;        // library version, minor part
    std::uint16_t driver_major;
    std::uint16_t driver_minor;
    std::uint32_t reserved[4];
};

// A bitstream file loaded by the library; data stays valid until the record is unloaded.
struct admxrc3_bitstream {
    const std::uint8_t* data;
    std::uint32_t length;       // bytes at data
    std::uint32_t reserved;
    void* library_private;
};

// Sensor description (bound only).
struct admxrc3_sensor_info {
    char description[64];
    std::uint32_t data_type;
    std::uint32_t unit;
    double error;
};

// --- Records filled by the ADMXRC2 interface ---

struct admxrc2_card_info {
    std::uint32_t board_type;   // board type code: 0x03 and 0x0F are the cards this program drives
    std::uint32_t serial_number;
    std::uint32_t card_id;
    std::uint32_t num_spaces;
    std::uint32_t reserved[12];
};

struct admxrc2_space_info {
    void* virtual_address;      // the space mapped into the program
    std::uint64_t physical_address;
    std::uint64_t size;
    std::uint32_t reserved[8];
};

// --- ADMXRC3 entry points, in binding order ---

using admxrc3_open_fn = admxrc_status (*)(std::uint32_t index, admxrc3_handle* card);
using admxrc3_close_fn = admxrc_status (*)(admxrc3_handle card);
using admxrc3_read_dma_locked_fn = admxrc_status (*)(admxrc3_handle card, std::uint32_t channel,
                                                     std::uint32_t flags, void* buffer_handle,
                                                     std::uint64_t offset, std::uint64_t length,
                                                     std::uint64_t local_address);
using admxrc3_lock_fn = admxrc_status (*)(admxrc3_handle card, const void* buffer,
                                          std::uint64_t length, void** buffer_handle);
using admxrc3_unlock_fn = admxrc_status (*)(admxrc3_handle card, void* buffer_handle);
using admxrc3_get_status_string_fn = const char* (*)(admxrc_status status, std::int32_t brief);
using admxrc3_get_card_info_ex_fn = admxrc_status (*)(admxrc3_handle card,
                                                      admxrc3_card_info* info);
using admxrc3_map_window_fn = admxrc_status (*)(admxrc3_handle card, std::uint32_t window,
                                                std::uint64_t offset, std::uint64_t length,
                                                void** address);
using admxrc3_load_bitstream_fn = admxrc_status (*)(const char* file_name,
                                                    admxrc3_bitstream* bitstream);
using admxrc3_unload_bitstream_fn = admxrc_status (*)(admxrc3_bitstream* bitstream);
using admxrc3_configure_from_buffer_fn = admxrc_status (*)(admxrc3_handle card,
                                                           std::uint32_t target,
                                                           std::uint32_t flags, const void* data,
                                                           std::uint64_t length);
using admxrc3_register_event_fn = admxrc_status (*)(admxrc3_handle card,
                                                    std::uint32_t notification,
                                                    admxrc_event event);
using admxrc3_unregister_event_fn = admxrc_status (*)(admxrc3_handle card,
                                                      std::uint32_t notification,
                                                      admxrc_event event);
using admxrc3_get_sensor_info_fn = admxrc_status (*)(admxrc3_handle card, std::uint32_t sensor,
                                                     admxrc3_sensor_info* info);
using admxrc3_read_sensor_fn = admxrc_status (*)(admxrc3_handle card, std::uint32_t sensor,
                                                 double* value);
using admxrc3_write_dma_locked_fn = admxrc_status (*)(admxrc3_handle card,
                                                      std::uint32_t channel, std::uint32_t flags,
                                                      void* buffer_handle, std::uint64_t offset,
                                                      std::uint64_t length,
                                                      std::uint64_t local_address);
using admxrc3_get_version_info_fn = admxrc_status (*)(admxrc3_handle card,
                                                      admxrc3_version_info* info);
using admxrc3_read_fn = admxrc_status (*)(admxrc3_handle card, std::uint32_t window,
                                          std::uint32_t flags, std::uint64_t offset,
                                          std::uint64_t length, void* buffer);
using admxrc3_write_fn = admxrc_status (*)(admxrc3_handle card, std::uint32_t window,
                                           std::uint32_t flags, std::uint64_t offset,
                                           std::uint64_t length, const void* buffer);
using admxrc3_cancel_fn = admxrc_status (*)(admxrc3_handle card, void* ticket);

// --- ADMXRC2 entry points, in binding order ---

using admxrc2_close_card_fn = admxrc_status (*)(admxrc2_handle card);
using admxrc2_get_space_info_fn = admxrc_status (*)(admxrc2_handle card, std::uint32_t space,
                                                    admxrc2_space_info* info);
using admxrc2_do_dma_fn = admxrc_status (*)(admxrc2_handle card, void* dma_descriptor,
                                            std::uint64_t offset, std::uint64_t length,
                                            std::uint32_t local_address, std::uint32_t direction,
                                            std::uint32_t channel, std::uint32_t mode,
                                            std::uint32_t flags, std::uint32_t* timeout,
                                            admxrc_event event);
using admxrc2_open_card_by_index_fn = admxrc_status (*)(std::uint32_t index,
                                                        admxrc2_handle* card);
using admxrc2_setup_dma_fn = admxrc_status (*)(admxrc2_handle card, const void* buffer,
                                               std::uint64_t length, std::uint32_t flags,
                                               void** dma_descriptor);
using admxrc2_get_card_info_fn = admxrc_status (*)(admxrc2_handle card, admxrc2_card_info* info);
// actual_frequency may be null: the program does not ask for it.
using admxrc2_set_clock_rate_fn = admxrc_status (*)(admxrc2_handle card, std::uint32_t clock,
                                                    double frequency, double* actual_frequency);
using admxrc2_configure_from_file_fn = admxrc_status (*)(admxrc2_handle card,
                                                         const char* file_name);
using admxrc2_load_bitstream_fn = admxrc_status (*)(admxrc2_handle card, const char* file_name,
                                                    void** data, std::uint64_t* length);
using admxrc2_unload_bitstream_fn = admxrc_status (*)(void* data);
using admxrc2_configure_from_buffer_fn = admxrc_status (*)(admxrc2_handle card, const void* data,
                                                           std::uint64_t length);
// Returns when the configuration has finished.
using admxrc2_configure_from_buffer_dma_fn = admxrc_status (*)(admxrc2_handle card,
                                                               const void* data,
                                                               std::uint64_t length,
                                                               std::uint32_t channel,
                                                               admxrc_event event);
using admxrc2_build_dma_mode_word_fn = std::uint32_t (*)(std::uint32_t board_type,
                                                         std::uint32_t width,
                                                         std::uint32_t wait_states,
                                                         std::uint32_t flags);
using admxrc2_unsetup_dma_fn = admxrc_status (*)(admxrc2_handle card, void* dma_descriptor);
// Writes the status text, zero-terminated, into buffer (at most size bytes with the zero).
using admxrc2_status_to_string_fn = void (*)(admxrc_status status, char* buffer,
                                             std::uint32_t size);
using admxrc2_get_status_string_fn = const char* (*)(admxrc_status status);
using admxrc2_register_interrupt_event_fn = admxrc_status (*)(admxrc2_handle card,
                                                              admxrc_event event);
using admxrc2_unregister_interrupt_event_fn = admxrc_status (*)(admxrc2_handle card,
                                                                admxrc_event event);
using admxrc2_read_fn = admxrc_status (*)(admxrc2_handle card, std::uint32_t space,
                                          std::uint32_t flags, std::uint64_t offset,
                                          void* buffer, std::uint64_t length);
using admxrc2_write_fn = admxrc_status (*)(admxrc2_handle card, std::uint32_t space,
                                           std::uint32_t flags, std::uint64_t offset,
                                           const void* buffer, std::uint64_t length);

// --- Exported names, in binding order (the order of the types above) ---

inline constexpr std::size_t admxrc_entry_count = 20;

inline constexpr std::array<const char*, admxrc_entry_count> admxrc3_entry_names = {
    "ADMXRC3_Open",
    "ADMXRC3_Close",
    "ADMXRC3_ReadDMALocked",
    "ADMXRC3_Lock",
    "ADMXRC3_Unlock",
    "ADMXRC3_GetStatusStringA",
    "ADMXRC3_GetCardInfoEx",
    "ADMXRC3_MapWindow",
    "ADMXRC3_LoadBitstreamA",
    "ADMXRC3_UnloadBitstreamA",
    "ADMXRC3_ConfigureFromBuffer",
    "ADMXRC3_RegisterWin32Event",
    "ADMXRC3_UnregisterWin32Event",
    "ADMXRC3_GetSensorInfoA",
    "ADMXRC3_ReadSensor",
    "ADMXRC3_WriteDMALocked",
    "ADMXRC3_GetVersionInfo",
    "ADMXRC3_Read",
    "ADMXRC3_Write",
    "ADMXRC3_Cancel",
};

inline constexpr std::array<const char*, admxrc_entry_count> admxrc2_entry_names = {
    "ADMXRC2_CloseCard",
    "ADMXRC2_GetSpaceInfo",
    "ADMXRC2_DoDMA",
    "ADMXRC2_OpenCardByIndex",
    "ADMXRC2_SetupDMA",
    "ADMXRC2_GetCardInfo",
    "ADMXRC2_SetClockRate",
    "ADMXRC2_ConfigureFromFile",
    "ADMXRC2_LoadBitstream",
    "ADMXRC2_UnloadBitstream",
    "ADMXRC2_ConfigureFromBuffer",
    "ADMXRC2_ConfigureFromBufferDMA",
    "ADMXRC2_BuildDMAModeWord",
    "ADMXRC2_UnsetupDMA",
    "ADMXRC_StatusToString",
    "ADMXRC_GetStatusString",
    "ADMXRC2_RegisterInterruptEvent",
    "ADMXRC2_UnregisterInterruptEvent",
    "ADMXRC2_Read",
    "ADMXRC2_Write",
};

// The bound entry points of each interface. The members are in binding order, so member i is
// the entry named by element i of the name list above.
struct admxrc3_entries {
    admxrc3_open_fn open;
    admxrc3_close_fn close;
    admxrc3_read_dma_locked_fn read_dma_locked;
    admxrc3_lock_fn lock;
    admxrc3_unlock_fn unlock;
    admxrc3_get_status_string_fn get_status_string;
    admxrc3_get_card_info_ex_fn get_card_info_ex;
    admxrc3_map_window_fn map_window;
    admxrc3_load_bitstream_fn load_bitstream;
    admxrc3_unload_bitstream_fn unload_bitstream;
    admxrc3_configure_from_buffer_fn configure_from_buffer;
    admxrc3_register_event_fn register_event;
    admxrc3_unregister_event_fn unregister_event;
    admxrc3_get_sensor_info_fn get_sensor_info;
    admxrc3_read_sensor_fn read_sensor;
    admxrc3_write_dma_locked_fn write_dma_locked;
    admxrc3_get_version_info_fn get_version_info;
    admxrc3_read_fn read;
    admxrc3_write_fn write;
    admxrc3_cancel_fn cancel;
};

struct admxrc2_entries {
    admxrc2_close_card_fn close_card;
    admxrc2_get_space_info_fn get_space_info;
    admxrc2_do_dma_fn do_dma;
    admxrc2_open_card_by_index_fn open_card_by_index;
    admxrc2_setup_dma_fn setup_dma;
    admxrc2_get_card_info_fn get_card_info;
    admxrc2_set_clock_rate_fn set_clock_rate;
    admxrc2_configure_from_file_fn configure_from_file;
    admxrc2_load_bitstream_fn load_bitstream;
    admxrc2_unload_bitstream_fn unload_bitstream;
    admxrc2_configure_from_buffer_fn configure_from_buffer;
    admxrc2_configure_from_buffer_dma_fn configure_from_buffer_dma;
    admxrc2_build_dma_mode_word_fn build_dma_mode_word;
    admxrc2_unsetup_dma_fn unsetup_dma;
    admxrc2_status_to_string_fn status_to_string;
    admxrc2_get_status_string_fn get_status_string;
    admxrc2_register_interrupt_event_fn register_interrupt_event;
    admxrc2_unregister_interrupt_event_fn unregister_interrupt_event;
    admxrc2_read_fn read;
    admxrc2_write_fn write;
};
