// The one emulated card of a stand-in library: its settings, open handles, the design in its
// FPGA, the window onto that design and the unit behind it. Made on first use and kept for the
// life of the process (the window may be touched until the very end). The entry points of both
// interfaces work through it; every operation is serialised by its own lock.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "link/admxrc_api.h"
#include "tools/card_sim/card_bridge.h"
#include "tools/card_sim/card_design.h"
#include "tools/card_sim/card_settings.h"
#include "tools/card_sim/raw_file.h"

enum class card_interface : std::uint8_t { admxrc3, admxrc2 };

class card_instance {
public:
    static card_instance& get();

    // The status an entry point returns before doing anything: the injected failure, bad
    // settings, or success.
    admxrc_status precheck(const char* entry) const;
    const card_settings& settings() const noexcept { return settings_; }
    const char* injected_text() const noexcept { return injected_text_.c_str(); }
    const char* settings_text() const noexcept { return settings_text_.c_str(); }

    admxrc_status open(card_interface which, std::uint32_t index, std::uintptr_t* handle);
    admxrc_status close(std::uintptr_t handle);
    bool is_open(std::uintptr_t handle);
    // The window onto the design (made on first use); the unit starts working behind it.
    admxrc_status map_window(std::uintptr_t handle, void** address);
    admxrc_status configure(std::uintptr_t handle, const void* data, std::uint64_t length,
                            const char* how);
    // A line for the set-up record.
    void note(const std::string& line);

    // Stops the unit's worker when the process ends (not on Windows, where the worker is gone
    // by then).
    void shut_down();

private:
    card_instance();
    bool ensure_design();

    std::mutex mutex_;
    card_settings settings_;
    bool settings_ok_ = false;
    std::string settings_text_;
    std::string injected_text_;
    raw_file setup_record_;
    std::FILE* unit_record_ = nullptr;
    std::vector<std::uintptr_t> handles_;
    std::uintptr_t next_handle_ = 0x100;
    std::unique_ptr<card_design> design_;
    std::unique_ptr<card_bridge> bridge_;
    void* window_ = nullptr;
};
