#include "tools/card_sim/card_instance.h"

#include <algorithm>
#include <cstdio>

#include "tools/card_sim/card_registers.h"
#include "tools/card_sim/card_status.h"
#include "tools/card_sim/module_pin.h"
#include "tools/card_sim/window_trap.h"

namespace {

// Stops the unit's worker when the library's static objects go: at process exit (the library
// is pinned once it has a window, so never earlier).
struct shutdown_guard {
    shutdown_guard() = default;
    shutdown_guard(const shutdown_guard&) = delete;
    shutdown_guard& operator=(const shutdown_guard&) = delete;
    ~shutdown_guard() {
#if !defined(_WIN32)
        card_instance::get().shut_down();
#endif
    }
};
const shutdown_guard guard;

}  // namespace

card_instance& card_instance::get() {
    // Never destroyed: the program may touch the window while the process ends. The library
    // stays loaded from its first use on, so that the instance stays reachable: a program that
    // releases the library it found no card with would otherwise leave it behind unreferenced.
    static card_instance* const instance = [] {
        pin_this_module();
        return new card_instance();
    }();
    return *instance;
}

card_instance::card_instance() {
    card_settings_result read = read_card_settings_from_environment();
    settings_ok_ = read.ok;
    settings_ = read.settings;
    if (!read.ok) {
        settings_text_ = "stand-in card: " + read.error;
        std::fprintf(stderr, "%s\n", settings_text_.c_str());
    }
    injected_text_ = "stand-in card: " + settings_.fail_entry + " made to fail by KESTREL_CARD_FAIL";
    if (settings_ok_ && !settings_.setup_record.empty() &&
        !setup_record_.open(settings_.setup_record)) {
        std::fprintf(stderr, "stand-in card: cannot write %s\n", settings_.setup_record.c_str());
    }
}

admxrc_status card_instance::precheck(const char* entry) const {
    if (!settings_ok_) {
        return status_bad_settings;
    }
    if (!settings_.fail_entry.empty() && settings_.fail_entry == entry) {
        return status_injected;
    }
    return admxrc_success;
}

void card_instance::note(const std::string& line) {
    const std::string text = line + "\n";
    setup_record_.write(text.data(), text.size());
}

admxrc_status card_instance::open(card_interface which, std::uint32_t index,
                                  std::uintptr_t* handle) {
    if (handle == nullptr) {
        return status_bad_argument;
    }
    const bool is_v3 = settings_.board == 6;
    if (index != 0 || is_v3 != (which == card_interface::admxrc3)) {
        return status_no_card;
    }
    const std::lock_guard<std::mutex> lock(mutex_);
    *handle = next_handle_++;
    handles_.push_back(*handle);
    note(std::string("open ") + (is_v3 ? "admxrc3" : "admxrc2"));
    return admxrc_success;
}

bool card_instance::is_open(std::uintptr_t handle) {
    const std::lock_guard<std::mutex> lock(mutex_);
    return std::find(handles_.begin(), handles_.end(), handle) != handles_.end();
}

admxrc_status card_instance::close(std::uintptr_t handle) {
    std::unique_ptr<card_bridge>* to_stop = nullptr;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        const auto found = std::find(handles_.begin(), handles_.end(), handle);
        if (found == handles_.end()) {
            return status_bad_handle;
        }
        handles_.erase(found);
        note("close");
        if (handles_.empty() && bridge_) {
            to_stop = &bridge_;
        }
    }
    if (to_stop != nullptr) {
        // The design keeps serving the window; only the unit's worker rests.
        (*to_stop)->stop();
    }
    return admxrc_success;
}

bool card_instance::ensure_design() {
    if (design_) {
        return true;
    }
    design_ = std::make_unique<card_design>(settings_.rx_data_offset(),
                                            setup_record_.is_open() ? &setup_record_ : nullptr);
    sim_unit_options unit = settings_.unit;
    unit.keep_received = false;  // a run may be long: the record goes to its file only
    if (!settings_.unit_record.empty()) {
        unit_record_ = std::fopen(settings_.unit_record.c_str(), "w");
        if (unit_record_ == nullptr) {
            std::fprintf(stderr, "stand-in card: cannot write %s\n", settings_.unit_record.c_str());
        } else {
            std::FILE* file = unit_record_;
            unit.on_received = [file](const received_item& item) {
                std::fprintf(file, "%s\n", record_line(item).c_str());
                std::fflush(file);
            };
        }
    }
    bridge_ = std::make_unique<card_bridge>(*design_, unit,
                                            setup_record_.is_open() ? &setup_record_ : nullptr);
    return true;
}

admxrc_status card_instance::map_window(std::uintptr_t handle, void** address) {
    if (address == nullptr) {
        return status_bad_argument;
    }
    const std::lock_guard<std::mutex> lock(mutex_);
    if (std::find(handles_.begin(), handles_.end(), handle) == handles_.end()) {
        return status_bad_handle;
    }
    ensure_design();
    if (window_ == nullptr) {
        window_ = map_trapped_window(card_window_size, *design_);
        if (window_ == nullptr) {
            return status_no_resources;
        }
        pin_this_module();
    }
    bridge_->start();
    *address = window_;
    return admxrc_success;
}

admxrc_status card_instance::configure(std::uintptr_t handle, const void* data,
                                       std::uint64_t length, const char* how) {
    if (data == nullptr && length != 0) {
        return status_bad_argument;
    }
    const std::lock_guard<std::mutex> lock(mutex_);
    if (std::find(handles_.begin(), handles_.end(), handle) == handles_.end()) {
        return status_bad_handle;
    }
    ensure_design();
    design_->reset();
    note(std::string("configure ") + std::to_string(length) + " bytes by " + how);
    // The bytes as the card received them, 32 to a line in hexadecimal.
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    std::string line;
    for (std::uint64_t k = 0; k < length; ++k) {
        char hex[4];
        std::snprintf(hex, sizeof hex, "%02X", bytes[k]);
        line += line.empty() ? "data " : " ";
        line += hex;
        if (line.size() >= 5 + 32 * 3 - 1 || k + 1 == length) {
            note(line);
            line.clear();
        }
    }
    return admxrc_success;
}

void card_instance::shut_down() {
    std::unique_ptr<card_bridge>* bridge = nullptr;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        bridge = &bridge_;
    }
    if (*bridge) {
        (*bridge)->stop();
    }
}

const char* card_status_text(admxrc_status status) {
    switch (status) {
    case admxrc_success:
        return "stand-in card: success";
    case status_injected:
        return card_instance::get().injected_text();
    case status_no_card:
        return "stand-in card: no such card";
    case status_bad_handle:
        return "stand-in card: not an open card";
    case status_bad_argument:
        return "stand-in card: invalid argument";
    case status_file_error:
        return "stand-in card: cannot read the bitstream file";
    case status_not_supported:
        return "stand-in card: not supported by the stand-in";
    case status_bad_settings:
        return card_instance::get().settings_text();
    case status_no_resources:
        return "stand-in card: cannot map the window";
    default:
        return "stand-in card: unknown status";
    }
}
