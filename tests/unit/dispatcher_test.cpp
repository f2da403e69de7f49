#include "protocol/dispatcher.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "link/byte_order.h"
#include "platform/clock.h"
#include "protocol/bank_records.h"
#include "protocol/loader_state.h"
#include "protocol/messages.h"
#include "support/capture.h"

namespace {

using bytes = std::vector<std::uint8_t>;

// A message from the unit of exactly length + 5 bytes, so that any read past its end is caught
// by AddressSanitizer.
bytes make_message(std::uint8_t sub, const bytes& params, std::uint8_t sa = 0x2A,
                   std::uint8_t cmd = 0x55) {
    bytes m(6 + params.size());
    m[0] = 0x10;
    m[1] = sa;
    m[4] = cmd;
    m[5] = sub;
    for (std::size_t i = 0; i < params.size(); ++i) m[6 + i] = params[i];
    put_be16(m.data() + 2, static_cast<std::uint16_t>(m.size() - 5));
    return m;
}

// As the receiver passes it: SA, CMD and SUB from bytes 1, 4 and 5 (SUB 0x1E when the message
// ends before it).
void dispatch(const bytes& m) {
    const std::uint8_t sub = m.size() > 5 ? m[5] : 0x1E;
    ExecuteCommand(m.data(), get_be16(m.data() + 2), m[1], m[4], sub);
}

// Everything the dispatcher may write, in one comparable value.
bytes snapshot() {
    bytes s;
    auto add = [&s](const void* p, std::size_t n) {
        const auto* b = static_cast<const std::uint8_t*>(p);
        s.insert(s.end(), b, b + n);
    };
    add(banks.data(), sizeof banks);
    add(notes.data(), sizeof notes);
    add(log_buffer.data(), log_buffer.size());
    add(&log_report, sizeof log_report);
    add(block_buffer.bytes.data(), block_buffer.bytes.size());
    const firmware_operation_record& f = firmware_operation;
    for (const event_flag* flag : {&f.dl_ready, &f.fwinfo_acked, &f.chunk_acked, &f.chunk_failed,
                                   &f.flash_info_done, &f.block_received, &f.file_failed}) {
        s.push_back(flag->test());
    }
    s.insert(s.end(), {f.boot_status.load(), f.current_bank.load(), f.file_type.load(), f.bank.load()});
    const std::uint32_t words[] = {f.file_size.load(), f.file_crc.load()};
    add(words, sizeof words);
    return s;
}

std::vector<const event_flag*> raised_flags() {
    std::vector<const event_flag*> raised;
    const firmware_operation_record& f = firmware_operation;
    for (const event_flag* flag : {&f.dl_ready, &f.fwinfo_acked, &f.chunk_acked, &f.chunk_failed,
                                   &f.flash_info_done, &f.block_received, &f.file_failed}) {
        if (flag->test()) raised.push_back(flag);
    }
    return raised;
}

void reset_shared_state() {
    reset_firmware_operation();
    set_bank_start_values();
    reset_bank_reports();
    reset_log_area();
    reset_request_templates();
}

class DispatcherTest : public ::testing::Test {
protected:
    void SetUp() override { reset_shared_state(); }
    void TearDown() override { reset_shared_state(); }

    // Dispatches at the given verbose level and returns what was printed.
    static std::string run(const bytes& m, int verbose) {
        firmware_operation.verbose_level = static_cast<std::uint8_t>(verbose);
        OutputCapture capture;
        dispatch(m);
        return capture.text();
    }
};

// Sub-codes of every answer, a request code and an unused code.
const std::uint8_t all_subs[] = {0x03, 0x04, 0x06, 0x10, 0x12, 0x13, 0x15, 0x16, 0x17,
                                 0x18, 0x1A, 0x1B, 0x1D, 0x1E, 0x22, 0x7F};

TEST_F(DispatcherTest, ForeignMessagesChangeNothingAndPrintNothing) {
    const bytes params(420, 0x01);  // long enough for every answer
    const bytes before = snapshot();
    for (std::uint8_t sub : all_subs) {
        SCOPED_TRACE(static_cast<int>(sub));
        EXPECT_EQ(run(make_message(sub, params, 0x10, 0x55), 255), "");
        EXPECT_EQ(run(make_message(sub, params, 0x2A, 0x48), 255), "");
    }
    EXPECT_TRUE(snapshot() == before);
}

TEST_F(DispatcherTest, EveryLoaderMessageIsTracedAboveLevelSeven) {
    EXPECT_EQ(run(make_message(0x1E, {}), 8), " ExecuteCommand: SA CMD 55 SUBCMD 1E\n ");
    EXPECT_EQ(run(make_message(0x1E, {}), 7), "");
    EXPECT_EQ(run(make_message(0x04, {0}), 8),
              " ExecuteCommand: SA CMD 55 SUBCMD 04\n  UNKNOWN CMD 55 SUBCMD 04\n ");
}

TEST_F(DispatcherTest, UnknownSubcodesAreTracedAboveLevelZeroAndIgnored) {
    const bytes before = snapshot();
    EXPECT_EQ(run(make_message(0x04, {0}), 1), " UNKNOWN CMD 55 SUBCMD 04\n ");
    EXPECT_EQ(run(make_message(0x7F, {1, 2, 3}), 1), " UNKNOWN CMD 55 SUBCMD 7F\n ");
    EXPECT_EQ(run(make_message(0x04, {0}), 0), "");
    EXPECT_TRUE(snapshot() == before);
}

// A threshold of `silent`: the answer has no trace of its own below the level-8 trace.
constexpr int silent = 6;

struct flag_row {
    const char* name;
    bytes message;
    event_flag firmware_operation_record::*flag;
    int threshold;  // trace printed above it; -1: always
    const char* trace;
};

TEST_F(DispatcherTest, FlagAnswersRaiseOnlyTheirFlagWithTheirTrace) {
    const flag_row rows[] = {
        {"FIRMWARE_INFO_ACK", make_message(0x1D, {}), &firmware_operation_record::fwinfo_acked, silent, ""},
        {"DL_READY", make_message(0x1E, {}), &firmware_operation_record::dl_ready, silent, ""},
        {"DL_FAIL", make_message(0x13, {7, 200}), &firmware_operation_record::chunk_failed, 1,
         "DL_FAIL P1 7 P2 200\n"},
        {"FILE_FAILED", make_message(0x03, {5, 0x00, 0x01, 0x02, 0x03, 2, 9}),
         &firmware_operation_record::file_failed, -1, "FILE_FAILED error 5 size 66051 type 2 no 9\n"},
    };
    for (const flag_row& row : rows) {
        SCOPED_TRACE(row.name);
        for (int level : {row.threshold, row.threshold + 1}) {
            if (level < 0) continue;
            reset_shared_state();
            EXPECT_EQ(run(row.message, level), level > row.threshold ? row.trace : "");
            ASSERT_EQ(raised_flags().size(), 1u);
            EXPECT_EQ(raised_flags()[0], &(firmware_operation.*row.flag));
        }
    }
}

TEST_F(DispatcherTest, DlAckRaisesChunkAckedAndTracesTheTickAboveLevelTwo) {
    EXPECT_EQ(run(make_message(0x12, {3, 4}), 2), "");
    EXPECT_TRUE(firmware_operation.chunk_acked.test());
    firmware_operation.chunk_acked.clear();

    const auto earlier = static_cast<int>(tick_count_ms());
    const std::string text = run(make_message(0x12, {3, 4}), 3);
    const auto later = static_cast<int>(tick_count_ms());
    const std::string prefix = "DL_ACK P1 3 P2 4 tick: ";
    ASSERT_EQ(text.rfind(prefix, 0), 0u) << text;
    ASSERT_EQ(text.back(), '\n');
    const int tick = std::stoi(text.substr(prefix.size()));
    EXPECT_TRUE(tick >= earlier && tick <= later) << tick;
    ASSERT_EQ(raised_flags().size(), 1u);
    EXPECT_TRUE(firmware_operation.chunk_acked.test());
}

TEST_F(DispatcherTest, BootReportsSetStatusAndBank) {
    EXPECT_EQ(run(make_message(0x1A, {3}), 2), "BOOTINFO_ACK from bank 3\n");
    EXPECT_EQ(firmware_operation.boot_status.load(), 1);
    EXPECT_EQ(firmware_operation.current_bank.load(), 3);
    EXPECT_EQ(run(make_message(0x1B, {2}), 1), "");
    EXPECT_EQ(firmware_operation.boot_status.load(), 2);
    EXPECT_EQ(firmware_operation.current_bank.load(), 2);
    EXPECT_EQ(run(make_message(0x1B, {1}), 2), "BOOTINFO_FAIL bank 1\n");
    EXPECT_EQ(run(make_message(0x1A, {0}), 1), "");
    EXPECT_EQ(firmware_operation.boot_status.load(), 1);
    EXPECT_EQ(firmware_operation.current_bank.load(), 0);
    EXPECT_TRUE(raised_flags().empty());
}

TEST_F(DispatcherTest, EepromAckOverwritesTheDialogsChoiceWithoutAFlag) {
    firmware_operation.file_type = 1;
    firmware_operation.bank = 2;
    const bytes m = make_message(0x22, {5, 3, 0x00, 0x00, 0x12, 0x34, 0xDE, 0xAD, 0xBE, 0xEF});
    EXPECT_EQ(run(m, 5), "");
    EXPECT_EQ(firmware_operation.file_type.load(), 5);
    EXPECT_EQ(firmware_operation.bank.load(), 3);
    EXPECT_EQ(firmware_operation.file_size.load(), 0x1234u);
    EXPECT_EQ(firmware_operation.file_crc.load(), 0xDEADBEEFu);
    EXPECT_EQ(run(m, 6), "EEPROM_ACK size 4660 crc deadbeef type 5 channel 3\n");
    EXPECT_TRUE(raised_flags().empty());
}

// Answers that lack a parameter they are read for, and a message that ends before SUB.
TEST_F(DispatcherTest, TooShortMessagesAreDroppedWhole) {
    struct row {
        const char* name;
        bytes message;
    };
    const row rows[] = {
        {"FILE_FAILED", make_message(0x03, bytes(6, 1))},
        {"MESSAGE_LOG_ACK", make_message(0x06, bytes(4, 0))},
        {"FILE_ACK", make_message(0x10, {0, 1, 0})},
        {"DL_ACK", make_message(0x12, {1})},
        {"DL_FAIL", make_message(0x13, {1})},
        {"BOOTINFO_ACK", make_message(0x1A, {})},
        {"BOOTINFO_FAIL", make_message(0x1B, {})},
        {"EEPROM_ACK", make_message(0x22, bytes(9, 7))},
        {"message", bytes{0x10, 0x2A, 0x00, 0x00, 0x55}},
    };
    const bytes before = snapshot();
    for (const row& r : rows) {
        SCOPED_TRACE(r.name);
        EXPECT_EQ(run(r.message, 0), "");
        const std::string text = run(r.message, 1);
        EXPECT_EQ(text.rfind(std::string("Dropped ") + r.name, 0), 0u) << text;
        EXPECT_EQ(text.find('\n'), text.size() - 1) << text;
        EXPECT_TRUE(snapshot() == before);
    }
}

class DispatcherFileAckTest : public DispatcherTest {
protected:
    static bytes file_ack(std::uint16_t block, std::uint16_t declared, std::size_t carried,
                          std::uint8_t seed) {
        bytes params{0, 0, 0, 0};
        put_be16(params.data(), block);
        put_be16(params.data() + 2, declared);
        for (std::size_t i = 0; i < carried; ++i) params.push_back(static_cast<std::uint8_t>(seed + i * 7));
        return make_message(0x10, params);
    }
};

TEST_F(DispatcherFileAckTest, StoresBlockNumberLengthAndDataThenRaisesBlockReceived) {
    std::memset(block_buffer.data(), 0xEE, block_data_capacity);
    const bytes m = file_ack(0x0102, 100, 100, 3);
    EXPECT_EQ(run(m, 5), "");
    EXPECT_EQ(block_buffer.chunk_number(), 0x0102);
    EXPECT_EQ(block_buffer.data_length(), 100);
    EXPECT_EQ(std::memcmp(block_buffer.data(), m.data() + 10, 100), 0);
    EXPECT_EQ(block_buffer.data()[100], 0xEE);
    EXPECT_EQ(block_buffer.data()[block_data_capacity - 1], 0xEE);
    EXPECT_TRUE(firmware_operation.block_received.test());
    EXPECT_EQ(raised_flags().size(), 1u);
    EXPECT_EQ(run(m, 6), "FILE_ACK\n ");

    const bytes full = file_ack(7, 1024, 1024, 9);
    dispatch(full);
    EXPECT_EQ(block_buffer.data_length(), 1024);
    EXPECT_EQ(std::memcmp(block_buffer.data(), full.data() + 10, 1024), 0);
}

TEST_F(DispatcherFileAckTest, DataThatDoesNotFitIsDropped) {
    const bytes before = snapshot();
    EXPECT_EQ(run(file_ack(1, 1025, 1025, 0), 0), "");
    EXPECT_EQ(run(file_ack(1, 2000, 2000, 0), 1),
              "Dropped FILE_ACK: data length 2000 does not fit the 1024-byte block buffer\n");
    EXPECT_EQ(run(file_ack(1, 101, 100, 0), 1),
              "Dropped FILE_ACK: data length 101 but only 100 bytes carried\n");
    EXPECT_TRUE(snapshot() == before);
}

class DispatcherLogAckTest : public DispatcherTest {
protected:
    // P1 entries, P2 entry length, P3 max, P4 block number, P5 entries in the block.
    static bytes log_ack(std::uint8_t p2, std::uint8_t p4, std::uint8_t p5, std::size_t carried) {
        bytes params{40, p2, 64, p4, p5};
        for (std::size_t i = 0; i < carried; ++i) params.push_back(static_cast<std::uint8_t>(i * 3 + 1));
        return make_message(0x06, params);
    }
};

TEST_F(DispatcherLogAckTest, StoresTheBlockAtItsOffsetAndTheReport) {
    const bytes m = log_ack(50, 2, 4, 200);  // offset 2 x 4 x 80 = 640, 200 bytes
    EXPECT_EQ(run(m, 1), "");
    EXPECT_EQ(std::memcmp(log_buffer.data() + 640, m.data() + 11, 200), 0);
    EXPECT_EQ(log_buffer[639], 0);
    EXPECT_EQ(log_buffer[840], 0);
    EXPECT_EQ(log_report.entry_count, 40);
    EXPECT_EQ(log_report.entry_length, 50);
    EXPECT_EQ(log_report.max_entries, 64);
    EXPECT_EQ(log_report.seq_no, 2);
    EXPECT_EQ(log_report.seq_no_size, 4);
    EXPECT_TRUE(firmware_operation.block_received.test());
    EXPECT_EQ(raised_flags().size(), 1u);
    EXPECT_EQ(run(m, 2),
              "MESSAGE_LOG_ACK seq_no 2 seq_no_size 4 max 64 no of entries 40 elenght 50\r");

    const bytes last = log_ack(80, 3, 16, 1280);  // ends exactly at 5120
    dispatch(last);
    EXPECT_EQ(std::memcmp(log_buffer.data() + 3840, last.data() + 11, 1280), 0);
}

TEST_F(DispatcherLogAckTest, BlocksThatDoNotFitAreDropped) {
    const bytes before = snapshot();
    EXPECT_EQ(run(log_ack(1, 4, 16, 16), 0), "");  // starts at 5120
    EXPECT_EQ(run(log_ack(81, 3, 16, 1296), 1),
              "Dropped MESSAGE_LOG_ACK: block of 1296 bytes at offset 3840 does not fit the log "
              "of 5120 bytes\n");
    EXPECT_EQ(run(log_ack(255, 255, 255, 0), 0), "");
    EXPECT_EQ(run(log_ack(10, 0, 5, 49), 1),
              "Dropped MESSAGE_LOG_ACK: block of 50 bytes but only 49 bytes carried\n");
    EXPECT_TRUE(snapshot() == before);
}

class DispatcherFlashInfoTest : public DispatcherTest {
protected:
    // FLASH_INFO of bank with the given length field; payload byte i (from byte 8) is i + 2 + seed.
    static bytes flash_info(std::size_t bank, std::uint16_t length, std::uint8_t seed = 1) {
        bytes params(length - 1u, 0);  // P1, P2 and the payload
        for (std::size_t k = 2; k < params.size(); ++k) params[k] = static_cast<std::uint8_t>(k + seed);
        return make_message(static_cast<std::uint8_t>(0x15 + bank), params);
    }
};

// The record as the main loop takes it: the message's bank_info in host order.
bank_info taken_record(const bytes& m) {
    bank_info record{};
    std::memcpy(&record, m.data() + 8, sizeof record);
    bank_info_to_host_order(record);
    return record;
}

TEST_F(DispatcherFlashInfoTest, ShortMessageFillsBankInfoAndLeavesNotes) {
    std::memset(&notes[1], 'n', sizeof notes[1]);
    const bank_info before_bank2 = banks[2];
    const bytes m = flash_info(1, 195);
    EXPECT_EQ(run(m, 2), "FLASH_INFO 22 moving no 195 byte sizeof bank_info 192\n");
    take_bank_reports();
    const bank_info expected = taken_record(m);
    EXPECT_EQ(std::memcmp(&banks[1], &expected, sizeof expected), 0);
    EXPECT_EQ(std::memcmp(&banks[2], &before_bank2, sizeof before_bank2), 0);
    for (std::size_t i = 0; i < sizeof(bank_notes); ++i)
        ASSERT_EQ(reinterpret_cast<const char*>(&notes[1])[i], 'n') << i;
    EXPECT_EQ(run(m, 1), "");
}

TEST_F(DispatcherFlashInfoTest, LongMessageFillsNotesAndEndsEveryText) {
    const bytes m = flash_info(1, 411);
    dispatch(m);
    take_bank_reports();
    const bank_info expected = taken_record(m);
    EXPECT_EQ(std::memcmp(&banks[1], &expected, sizeof expected), 0);
    const auto* stored = reinterpret_cast<const std::uint8_t*>(&notes[1]);
    for (std::size_t i = 0; i < sizeof(bank_notes); ++i) {
        const bool text_end = i == 25 || i == 51 || i == 133 || i == 159;
        ASSERT_EQ(stored[i], text_end ? 0 : m[200 + i]) << i;
    }
    EXPECT_EQ(field_text(notes[1].software.comment).size(), 25u);
    const bank_notes empty{};
    EXPECT_EQ(std::memcmp(&notes[2], &empty, sizeof empty), 0);
}

TEST_F(DispatcherFlashInfoTest, OnlyBankThreeRaisesFlashInfoDone) {
    for (std::size_t bank = 0; bank < 3; ++bank) dispatch(flash_info(bank, 195));
    EXPECT_FALSE(firmware_operation.flash_info_done.test());
    dispatch(flash_info(3, 3));
    EXPECT_TRUE(firmware_operation.flash_info_done.test());
    EXPECT_EQ(raised_flags().size(), 1u);
}

TEST_F(DispatcherFlashInfoTest, LengthsOutsideThreeTo411AreDropped) {
    const bytes before = snapshot();
    EXPECT_EQ(run(flash_info(3, 2), 1),
              "Dropped FLASH_INFO of bank 3: length 2 does not fit (3 to 411)\n");
    EXPECT_EQ(run(flash_info(0, 412), 0), "");
    EXPECT_EQ(run(flash_info(3, 0xFFFF), 0), "");
    EXPECT_TRUE(snapshot() == before);
}

// Only records received are taken, each converted exactly once, also when a message covered
// only part of a record.
TEST_F(DispatcherFlashInfoTest, ConversionTurnsOnlyReceivedBanksOnce) {
    bytes m = flash_info(1, 3 + 96);  // the FPGA descriptor only
    put_be32(m.data() + 8 + 4, 0x86812345u);
    put_be32(m.data() + 8 + 60, 0xA1B2C3D4u);
    put_be32(m.data() + 8 + 64, 1300u);
    dispatch(m);
    dispatch(flash_info(3, 195));
    ASSERT_TRUE(firmware_operation.flash_info_done.test());

    take_bank_reports();
    take_bank_reports();
    EXPECT_EQ(banks[1].fpga.flash_address, 0x86812345u);
    EXPECT_EQ(banks[1].fpga.crc, 0xA1B2C3D4u);
    EXPECT_EQ(banks[1].fpga.size, 1300u);
    EXPECT_EQ(banks[1].software.flash_address, 0x86A00000u);  // start value kept
    EXPECT_EQ(banks[1].software.status, 1u);
    EXPECT_EQ(banks[0].fpga.flash_address, 0x86000000u);      // not received: untouched
    EXPECT_EQ(banks[2].software.flash_address, 0x87200000u);
    EXPECT_EQ(banks[3].fpga.flash_address, get_be32(flash_info(3, 195).data() + 8 + 4));
}

// The main loop sees a FILE_ACK's data whole once it sees block_received; run under
// ThreadSanitizer this also checks that the flag publishes the payload.
TEST(DispatcherThreads, FileAckPayloadIsCompleteWhenTheFlagIsSeen) {
    reset_shared_state();
    constexpr int rounds = 300;
    auto length_of = [](int round) { return static_cast<std::uint16_t>(1 + round * 3 % 1024); };
    std::atomic<int> requested{-1};  // rounds or more: stop
    std::thread receiver([&] {
        for (int round = 0; round < rounds; ++round) {
            int asked = 0;
            while ((asked = requested.load(std::memory_order_acquire)) < round) std::this_thread::yield();
            if (asked >= rounds) return;
            bytes params{0, 0, 0, 0};
            put_be16(params.data(), static_cast<std::uint16_t>(round));
            put_be16(params.data() + 2, length_of(round));
            for (std::size_t i = 0; i < length_of(round); ++i)
                params.push_back(static_cast<std::uint8_t>(round + i));
            dispatch(make_message(0x10, params));
        }
    });
    auto received_whole = [&](int round) {
        if (block_buffer.chunk_number() != round || block_buffer.data_length() != length_of(round))
            return false;
        for (std::size_t i = 0; i < length_of(round); ++i)
            if (block_buffer.data()[i] != static_cast<std::uint8_t>(round + i)) return false;
        return true;
    };
    for (int round = 0; round < rounds; ++round) {
        firmware_operation.block_received.clear();
        requested.store(round, std::memory_order_release);
        const std::uint32_t start = tick_count_ms();
        while (!firmware_operation.block_received.test() && tick_count_ms() - start < 10000)
            std::this_thread::yield();
        if (!firmware_operation.block_received.test() || !received_whole(round)) {
            ADD_FAILURE() << "round " << round;
            break;
        }
    }
    requested.store(rounds, std::memory_order_release);
    receiver.join();
    reset_shared_state();
}

}  // namespace
