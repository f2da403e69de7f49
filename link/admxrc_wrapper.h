// The ADM-XRC card and its driver library: finding the card (newer ADMXRC3 interface first,
// older ADMXRC2 second), reading the bitstream, configuring the card's FPGA and mapping its
// register window, and closing the card and releasing the library at the end.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "link/admxrc_api.h"
#include "link/driver_loader.h"
#include "platform/result.h"

class CADMXRCWrapper {
public:
    // Nothing is loaded or opened until DetectCard.
    explicit CADMXRCWrapper(driver_loader& loader = system_driver_loader());
    // Closes the card and releases the library.
    virtual ~CADMXRCWrapper();
    CADMXRCWrapper(const CADMXRCWrapper&) = delete;
    CADMXRCWrapper& operator=(const CADMXRCWrapper&) = delete;

    // The mapped register window; valid after OpenAndConfigure.
    virtual volatile std::uint32_t* GetWindow();

    // Each step prints its failure as it happens and returns a result of kind link_failed.
    //
    // Binds a driver library and finds a supported card, which stays open; sets board_type to
    // 6 (ADMXRC3), 5 or 2 (ADMXRC2).
    result DetectCard();
    // Reads the FPGA configuration from the file into the wrapper's own buffer: through the
    // library on board type 6, as the file's bytes otherwise (each byte bit-reversed on board
    // type 2).
    result ReadBitstream(const std::string& file_name);
    // Opens the card afresh, sets its clock (types 2 and 5), maps the window and configures
    // the FPGA.
    result OpenAndConfigure();
    result CloseCard();

    int board_type() const { return board_type_; }
    float clock_hz() const { return clock_hz_; }
    std::uint32_t bitstream_length() const { return bitstream_length_; }
    const std::vector<std::uint8_t>& bitstream() const { return bitstream_; }
    admxrc2_handle card2() const { return card2_; }
    admxrc3_handle card3() const { return card3_; }

private:
    bool bind_admxrc3(library_handle library);
    bool bind_admxrc2(library_handle library);
    void forget_admxrc3();
    bool detect_admxrc3();
    result detect_admxrc2();
    bool admxrc3_version_accepted();
    void close_card3();
    result open_and_configure_v6();
    result open_and_configure_v2();
    std::string admxrc3_text(admxrc_status status) const;
    std::string admxrc2_text(admxrc_status status) const;

    driver_loader& loader_;
    admxrc2_entries admxrc2_{};
    admxrc3_entries admxrc3_{};
    library_handle library_ = nullptr;
    int board_type_ = 0;
    float clock_hz_ = 0.0f;
    std::uint32_t bitstream_length_ = 0;
    std::vector<std::uint8_t> bitstream_;
    volatile std::uint32_t* window_ = nullptr;
    admxrc2_handle card2_ = 0;
    admxrc3_handle card3_ = 0;
};
