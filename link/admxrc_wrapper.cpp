#include "link/admxrc_wrapper.h"

#include <array>
#include <cstddef>

#include "link/card_window.h"
#include "platform/binary_file.h"
#include "platform/output.h"
#include "platform/visible_text.h"

namespace {

// A step of the card that failed (its message was printed where it failed).
result card_failed() {
    return result::failure(result_kind::link_failed, "the card could not be set up");
}

constexpr std::uint32_t card_index = 0;
constexpr std::uint32_t window_index = 0;
constexpr std::uint64_t window_length = 0x8000;
constexpr std::uint32_t space_index = 0;
constexpr std::uint32_t clock_index = 0;
constexpr std::uint32_t config_dma_channel = 0xFF;

constexpr std::uint32_t model_v6_a = 0x102;
constexpr std::uint32_t model_v6_b = 0x106;
constexpr std::uint32_t board_code_v2 = 0x03;
constexpr std::uint32_t board_code_v5 = 0x0F;

constexpr double clock_v2_mhz = 30.0;
constexpr double clock_v5_mhz = 75.0;

constexpr std::size_t status_text_size = 256;
constexpr std::size_t error_text_limit = 512;

const char* const card_info_failed = "Failed to find ADMXRC info, card_0, ERROR = %s.\n";
const char* const wrong_v6_board =
    "Incorrect ADMXRC board found:  Expected = 0x%03x or 0x%03x, Found = 0x%03x\n";
const char* const wrong_version = "DLL file %s version is incorrect!\n";
const char* const bitstream_failed = "SET UP: FAILED (%s) TO LOAD BIT FILE \"%s\"\n";
const char* const close_failed = "Error closing ADMXRC card!\n";

bool v6_model(std::uint32_t model) { return model == model_v6_a || model == model_v6_b; }

// Every entry of an interface by name, in binding order; false at the first one missing.
bool look_up_all(driver_loader& loader, library_handle library,
                 const std::array<const char*, admxrc_entry_count>& names,
                 std::array<library_entry, admxrc_entry_count>& found) {
    for (std::size_t i = 0; i < names.size(); ++i) {
        found[i] = loader.lookup(library, names[i]);
        if (found[i] == nullptr) {
            return false;
        }
    }
    return true;
}

template <class Fn>
void take(Fn& member, library_entry entry) {
    member = reinterpret_cast<Fn>(entry);
}

}  // namespace

CADMXRCWrapper::CADMXRCWrapper(driver_loader& loader) : loader_(loader) {}

CADMXRCWrapper::~CADMXRCWrapper() {
    CloseCard();
    if (library_ != nullptr) {
        if (!loader_.release(library_)) {
            out_printf("ADMXRC.dll unload failed.\n");
        }
        library_ = nullptr;
    }
}

volatile std::uint32_t* CADMXRCWrapper::GetWindow() { return window_; }

bool CADMXRCWrapper::bind_admxrc3(library_handle library) {
    std::array<library_entry, admxrc_entry_count> e{};
    if (!look_up_all(loader_, library, admxrc3_entry_names, e)) {
        return false;
    }
    take(admxrc3_.open, e[0]);
    take(admxrc3_.close, e[1]);
    take(admxrc3_.read_dma_locked, e[2]);
    take(admxrc3_.lock, e[3]);
    take(admxrc3_.unlock, e[4]);
    take(admxrc3_.get_status_string, e[5]);
    take(admxrc3_.get_card_info_ex, e[6]);
    take(admxrc3_.map_window, e[7]);
    take(admxrc3_.load_bitstream, e[8]);
    take(admxrc3_.unload_bitstream, e[9]);
    take(admxrc3_.configure_from_buffer, e[10]);
    take(admxrc3_.register_event, e[11]);
    take(admxrc3_.unregister_event, e[12]);
    take(admxrc3_.get_sensor_info, e[13]);
    take(admxrc3_.read_sensor, e[14]);
    take(admxrc3_.write_dma_locked, e[15]);
    take(admxrc3_.get_version_info, e[16]);
    take(admxrc3_.read, e[17]);
    take(admxrc3_.write, e[18]);
    take(admxrc3_.cancel, e[19]);
    return true;
}

bool CADMXRCWrapper::bind_admxrc2(library_handle library) {
    std::array<library_entry, admxrc_entry_count> e{};
    if (!look_up_all(loader_, library, admxrc2_entry_names, e)) {
        return false;
    }
    take(admxrc2_.close_card, e[0]);
    take(admxrc2_.get_space_info, e[1]);
    take(admxrc2_.do_dma, e[2]);
    take(admxrc2_.open_card_by_index, e[3]);
    take(admxrc2_.setup_dma, e[4]);
    take(admxrc2_.get_card_info, e[5]);
    take(admxrc2_.set_clock_rate, e[6]);
    take(admxrc2_.configure_from_file, e[7]);
    take(admxrc2_.load_bitstream, e[8]);
    take(admxrc2_.unload_bitstream, e[9]);
    take(admxrc2_.configure_from_buffer, e[10]);
    take(admxrc2_.configure_from_buffer_dma, e[11]);
    take(admxrc2_.build_dma_mode_word, e[12]);
    take(admxrc2_.unsetup_dma, e[13]);
    take(admxrc2_.status_to_string, e[14]);
    take(admxrc2_.get_status_string, e[15]);
    take(admxrc2_.register_interrupt_event, e[16]);
    take(admxrc2_.unregister_interrupt_event, e[17]);
    take(admxrc2_.read, e[18]);
    take(admxrc2_.write, e[19]);
    return true;
}

std::string CADMXRCWrapper::admxrc3_text(admxrc_status status) const {
    // The driver's text is shown as it is, save for control characters.
    const char* text = admxrc3_.get_status_string(status, 0);
    return text != nullptr ? visible_text(text) : std::string();
}

std::string CADMXRCWrapper::admxrc2_text(admxrc_status status) const {
    std::array<char, status_text_size> text{};
    admxrc2_.status_to_string(status, text.data(), static_cast<std::uint32_t>(text.size()));
    text.back() = '\0';
    return visible_text(text.data());
}

void CADMXRCWrapper::close_card3() {
    admxrc3_.close(card3_);
    card3_ = 0;
}

bool CADMXRCWrapper::admxrc3_version_accepted() {
    admxrc3_version_info version{};
    admxrc3_.get_version_info(card3_, &version);
    if (version.major == 1 && version.minor < 4) {
        out_printf(wrong_version, admxrc3_library_name());
        return false;
    }
    return true;
}

void CADMXRCWrapper::forget_admxrc3() {
    admxrc3_ = admxrc3_entries{};
    if (library_ != nullptr) {
        loader_.release(library_);
        library_ = nullptr;
    }
}

// The ADMXRC3 library and a card of board type 6 on it; false (card closed, library released)
// to go on with the older interface.
bool CADMXRCWrapper::detect_admxrc3() {
    library_ = loader_.load(admxrc3_library_name());
    if (library_ == nullptr) {
        return false;
    }
    if (!bind_admxrc3(library_)) {
        forget_admxrc3();
        return false;
    }
    if (admxrc3_.open(card_index, &card3_) != admxrc_success) {
        card3_ = 0;
        forget_admxrc3();
        return false;
    }
    admxrc3_card_info info{};
    const admxrc_status status = admxrc3_.get_card_info_ex(card3_, &info);
    if (status != admxrc_success) {
        out_printf(card_info_failed, admxrc3_text(status).c_str());
        close_card3();
        forget_admxrc3();
        return false;
    }
    out_printf("\nV6 card serial # = %d\n\n", static_cast<int>(info.serial_number));
    if (!v6_model(info.model_code)) {
        out_printf(wrong_v6_board, model_v6_a, model_v6_b, info.model_code);
        close_card3();
        forget_admxrc3();
        return false;
    }
    if (!admxrc3_version_accepted()) {
        close_card3();
        forget_admxrc3();
        return false;
    }
    board_type_ = 6;
    return true;
}

result CADMXRCWrapper::detect_admxrc2() {
    library_ = loader_.load(admxrc2_library_name());
    if (library_ == nullptr) {
        out_printf("%s not found.\n", admxrc2_library_name());
        return card_failed();
    }
    if (!bind_admxrc2(library_)) {
        return card_failed();
    }
    admxrc_status status = admxrc2_.open_card_by_index(card_index, &card2_);
    if (status != admxrc_success) {
        card2_ = 0;
        out_printf("ADMXRC2 card not found, ERROR = %s.\n", admxrc2_text(status).c_str());
        return card_failed();
    }
    // A card opened here but refused is closed again: nothing else would close it, because
    // the wrapper only closes the card of a detected board type.
    const auto give_up = [this] {
        admxrc2_.close_card(card2_);
        card2_ = 0;
        return card_failed();
    };
    admxrc2_card_info info{};
    status = admxrc2_.get_card_info(card2_, &info);
    if (status != admxrc_success) {
        out_printf(card_info_failed, admxrc2_text(status).c_str());
        return give_up();
    }
    if (info.board_type == board_code_v5) {
        board_type_ = 5;
        clock_hz_ = static_cast<float>(clock_v5_mhz * 1000000.0);
    } else if (info.board_type == board_code_v2) {
        board_type_ = 2;
        clock_hz_ = static_cast<float>(clock_v2_mhz * 1000000.0);
    } else {
        out_printf("Incorrect ADMXRC2/5 board found:  Expected = 0x%03x or 0x%03x, Found = 0x%03x\n",
                   board_code_v2, board_code_v5, info.board_type);
        return give_up();
    }
    return result::success();
}

result CADMXRCWrapper::DetectCard() {
    if (detect_admxrc3()) {
        return result::success();
    }
    return detect_admxrc2();
}

result CADMXRCWrapper::ReadBitstream(const std::string& file_name) {
    bitstream_.clear();
    bitstream_.shrink_to_fit();
    bitstream_length_ = 0;
    if (board_type_ == 6) {
        admxrc3_bitstream loaded{};
        const admxrc_status status = admxrc3_.load_bitstream(file_name.c_str(), &loaded);
        if (status != admxrc_success) {
            out_printf(bitstream_failed, admxrc3_text(status).c_str(), file_name.c_str());
            return card_failed();
        }
        if (loaded.data != nullptr) {
            bitstream_.assign(loaded.data, loaded.data + loaded.length);
        }
        admxrc3_.unload_bitstream(&loaded);
    } else {
        os_error error;
        if (!read_binary_file(file_name, bitstream_, error)) {
            bitstream_.clear();
            std::string text = error.text;
            if (text.size() > error_text_limit) {
                text.resize(error_text_limit);
            }
            out_printf(bitstream_failed, text.c_str(), file_name.c_str());
            return card_failed();
        }
        if (board_type_ == 2) {
            // The older card takes each configuration byte with its bits in the other order.
            std::array<std::uint8_t, 256> reversed{};
            for (unsigned v = 0; v < reversed.size(); ++v) {
                unsigned r = 0;
                for (unsigned bit = 0; bit < 8; ++bit) {
                    r |= ((v >> bit) & 1u) << (7 - bit);
                }
                reversed[v] = static_cast<std::uint8_t>(r);
            }
            for (std::uint8_t& byte : bitstream_) {
                byte = reversed[byte];
            }
        }
    }
    bitstream_length_ = static_cast<std::uint32_t>(bitstream_.size());
    return result::success();
}

result CADMXRCWrapper::open_and_configure_v6() {
    if (card3_ != 0) {
        const admxrc_status closed = admxrc3_.close(card3_);
        card3_ = 0;
        if (closed != admxrc_success) {
            out_printf(close_failed);
            return card_failed();
        }
    }
    admxrc_status status = admxrc3_.open(card_index, &card3_);
    if (status != admxrc_success) {
        card3_ = 0;
        out_printf(" ADMXRC card not found, ERROR = %s.\n", admxrc3_text(status).c_str());
        return card_failed();
    }
    const auto give_up = [this] {
        close_card3();
        return card_failed();
    };
    admxrc3_card_info info{};
    status = admxrc3_.get_card_info_ex(card3_, &info);
    if (status != admxrc_success) {
        out_printf(card_info_failed, admxrc3_text(status).c_str());
        return give_up();
    }
    if (!v6_model(info.model_code)) {
        out_printf(wrong_v6_board, model_v6_a, model_v6_b, info.model_code);
        return give_up();
    }
    if (!admxrc3_version_accepted()) {
        return give_up();
    }
    void* mapped = nullptr;
    status = admxrc3_.map_window(card3_, window_index, 0, window_length, &mapped);
    if (status != admxrc_success) {
        out_printf("Failed to get ADMXRC space info, Card_0, ERROR = %s.\n",
                   admxrc3_text(status).c_str());
        return give_up();
    }
    window_ = static_cast<volatile std::uint32_t*>(mapped);
    status = admxrc3_.configure_from_buffer(card3_, 0, 0, bitstream_.data(), bitstream_length_);
    if (status != admxrc_success) {
        out_printf("Failed to configure FPGA, ERROR = %s.\n", admxrc3_text(status).c_str());
        return give_up();
    }
    mapped_window{window_}.load(card_first_register);
    return result::success();
}

result CADMXRCWrapper::open_and_configure_v2() {
    if (!CloseCard()) {
        return card_failed();
    }
    admxrc_status status = admxrc2_.open_card_by_index(card_index, &card2_);
    if (status != admxrc_success) {
        card2_ = 0;
        out_printf("ADMXRC card not found, ERROR = %s.\n", admxrc2_text(status).c_str());
        return card_failed();
    }
    admxrc2_card_info info{};
    status = admxrc2_.get_card_info(card2_, &info);
    if (status != admxrc_success) {
        out_printf(card_info_failed, admxrc2_text(status).c_str());
        return card_failed();
    }
    const std::uint32_t expected = board_type_ == 5 ? board_code_v5 : board_code_v2;
    if (info.board_type != expected) {
        out_printf(wrong_v6_board, board_code_v2, board_code_v5, info.board_type);
        return card_failed();
    }
    status = admxrc2_.set_clock_rate(card2_, clock_index, static_cast<double>(clock_hz_), nullptr);
    if (status != admxrc_success) {
        out_printf("Failed to set ADMXRC clock, ERROR = %s.\n", admxrc2_text(status).c_str());
        return card_failed();
    }
    admxrc2_space_info space{};
    status = admxrc2_.get_space_info(card2_, space_index, &space);
    if (status != admxrc_success) {
        out_printf("Failed to get ADMXRC space info, ERROR = %s.\n", admxrc2_text(status).c_str());
        return card_failed();
    }
    window_ = static_cast<volatile std::uint32_t*>(space.virtual_address);
    {
        const driver_event done;
        status = admxrc2_.configure_from_buffer_dma(card2_, bitstream_.data(), bitstream_length_,
                                                    config_dma_channel, done.native());
    }
    if (status != admxrc_success) {
        out_printf("Failed to configure FPGA with bitstream file, ERROR = %s.\n",
                   admxrc2_text(status).c_str());
        return card_failed();
    }
    mapped_window{window_}.load(card_first_register);
    return result::success();
}

result CADMXRCWrapper::OpenAndConfigure() {
    switch (board_type_) {
        case 6:
            return open_and_configure_v6();
        case 2:
        case 5:
            return open_and_configure_v2();
        default:
            return card_failed();
    }
}

result CADMXRCWrapper::CloseCard() {
    switch (board_type_) {
        case 0:
            return result::success();
        case 6:
            if (card3_ == 0) {
                return result::success();
            }
            if (admxrc3_.close(card3_) != admxrc_success) {
                return card_failed();
            }
            card3_ = 0;
            return result::success();
        case 2:
        case 5: {
            if (card2_ == 0) {
                return result::success();
            }
            const admxrc_status status = admxrc2_.close_card(card2_);
            card2_ = 0;
            if (status != admxrc_success) {
                out_printf(close_failed);
                return card_failed();
            }
            return result::success();
        }
        default:
            return card_failed();
    }
}
