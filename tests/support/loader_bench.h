// The base of the loader's tests: a fake clock and a captured link, the program's option table,
// the output captured, no keys, and the session of the test, made on first use with a fresh
// unit. SetUp() starts afresh: a new session (and unit) on the next use. The unit's answers are
// handed in with the helpers below, which stand for those of support/unit_answers.h on the
// test's unit.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <vector>

#include "app/options.h"
#include "app/session.h"
#include "console/input.h"
#include "console/keys.h"
#include "protocol/unit.h"
#include "support/capture.h"
#include "support/fake_link.h"
#include "support/unit_answers.h"

class LoaderBench : public ::testing::Test {
protected:
    LoaderBench() { fresh(); }
    ~LoaderBench() override {
        loop_.reset();
        clear_key_script();
        set_key_wait_idle(nullptr);
    }

    void SetUp() override { fresh(); }

    // The session of the test, on the captured link; made on first use.
    session& the_session() {
        if (!loop_) {
            loop_.emplace(options, fake.link);
            loop_->set_real_waits(false);
        }
        return *loop_;
    }
    unit& u() { return the_session().loader(); }
    firmware_operation_record& op() { return u().op; }

    void on_serial_link() { fake.link.make_serial(); }
    void on_card_link() { fake.link.make_card(); }

    // The unit's answers, on the test's unit.
    void unit_answers(sub_code sub, const std::vector<std::uint8_t>& params = {}) {
        ::unit_answers(u(), sub, params);
    }
    void unit_reports_boot(std::uint8_t bank) { ::unit_reports_boot(u(), bank); }
    void unit_sends_file_ack(std::uint16_t number, std::uint16_t length,
                             const std::vector<std::uint8_t>& data) {
        ::unit_sends_file_ack(u(), number, length, data);
    }
    void unit_sends_block(std::uint16_t number, const std::vector<std::uint8_t>& file) {
        ::unit_sends_block(u(), number, file);
    }
    void unit_describes_eeprom(std::uint8_t type, std::uint8_t channel, std::uint32_t size,
                               std::uint32_t crc) {
        ::unit_describes_eeprom(u(), type, channel, size, crc);
    }
    void unit_sends_log_block(std::uint8_t number, std::uint8_t count, std::uint8_t capacity,
                              std::uint8_t per_block, const std::vector<std::uint8_t>& entries) {
        ::unit_sends_log_block(u(), number, count, capacity, per_block, entries);
    }
    void unit_reports_flash(std::uint32_t fpga2_size = 0, std::uint32_t fpga2_crc = 0) {
        ::unit_reports_flash(u(), fpga2_size, fpga2_crc);
    }

    FakeClockAndLink fake;
    OutputCapture out;
    option_table options;

private:
    void fresh() {
        loop_.reset();
        fake.link = captured_link{};
        build_option_table(options);
        set_key_script("");  // no keys at all
        out.take();
    }

    std::optional<session> loop_;
};
