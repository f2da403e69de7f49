#include "protocol/dispatcher.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "link/byte_order.h"
#include "platform/clock.h"
#include "protocol/answers.h"
#include "protocol/bank_records.h"
#include "protocol/loader_state.h"
#include "protocol/messages.h"
#include "support/capture.h"
#include "support/loader_bench.h"

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

class DispatcherTest : public LoaderBench {
protected:
    // As the receiver passes it (SA, CMD and SUB from bytes 1, 4 and 5, SUB 0x1E when the
    // message ends before it), decoded at the unit's trace level and applied to the unit.
    void dispatch(const bytes& m) {
        const std::uint8_t sub = m.size() > 5 ? m[5] : 0x1E;
        if (const std::optional<answer> a = decode_answer(m.data(), get_be16(m.data() + 2), m[1],
                                                          m[4], sub, op().verbose_level)) {
            apply_answer(u(), *a);
        }
    }

    // Everything an answer may change, in one comparable value.
    bytes snapshot() {
        bytes s;
        auto add = [&s](const void* p, std::size_t n) {
            const auto* b = static_cast<const std::uint8_t*>(p);
            s.insert(s.end(), b, b + n);
        };
        add(u().banks.data(), sizeof u().banks);
        add(u().notes.data(), sizeof u().notes);
        add(u().log_buffer.data(), u().log_buffer.size());
        add(&u().log_report, sizeof u().log_report);
        s.push_back(static_cast<std::uint8_t>(u().received_block.number));
        s.insert(s.end(), u().received_block.data.begin(), u().received_block.data.end());
        const firmware_operation_record& f = op();
        for (const event_flag* flag : {&f.dl_ready, &f.fwinfo_acked, &f.chunk_acked,
                                       &f.chunk_failed, &f.flash_info_done, &f.block_received,
                                       &f.file_failed}) {
            s.push_back(flag->test());
        }
        s.insert(s.end(), {f.boot_status, f.current_bank, f.file_type, f.bank});
        const std::uint32_t words[] = {f.file_size, f.file_crc};
        add(words, sizeof words);
        return s;
    }

    std::vector<const event_flag*> raised_flags() {
        std::vector<const event_flag*> raised;
        const firmware_operation_record& f = op();
        for (const event_flag* flag : {&f.dl_ready, &f.fwinfo_acked, &f.chunk_acked,
                                       &f.chunk_failed, &f.flash_info_done, &f.block_received,
                                       &f.file_failed}) {
            if (flag->test()) raised.push_back(flag);
        }
        return raised;
    }

    // Dispatches at the given verbose level and returns what was printed.
    std::string run(const bytes& m, int verbose) {
        op().verbose_level = static_cast<std::uint8_t>(verbose);
        out.take();
        dispatch(m);
        return out.take();
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
            SetUp();
            EXPECT_EQ(run(row.message, level), level > row.threshold ? row.trace : "");
            ASSERT_EQ(raised_flags().size(), 1u);
            EXPECT_EQ(raised_flags()[0], &(op().*row.flag));
        }
    }
}

TEST_F(DispatcherTest, DlAckRaisesChunkAckedAndTracesTheTickAboveLevelTwo) {
    EXPECT_EQ(run(make_message(0x12, {3, 4}), 2), "");
    EXPECT_TRUE(op().chunk_acked.test());
    op().chunk_acked.clear();

    const auto earlier = static_cast<int>(tick_count_ms());
    const std::string text = run(make_message(0x12, {3, 4}), 3);
    const auto later = static_cast<int>(tick_count_ms());
    const std::string prefix = "DL_ACK P1 3 P2 4 tick: ";
    ASSERT_EQ(text.rfind(prefix, 0), 0u) << text;
    ASSERT_EQ(text.back(), '\n');
    const int tick = std::stoi(text.substr(prefix.size()));
    EXPECT_TRUE(tick >= earlier && tick <= later) << tick;
    ASSERT_EQ(raised_flags().size(), 1u);
    EXPECT_TRUE(op().chunk_acked.test());
}

TEST_F(DispatcherTest, BootReportsSetStatusAndBank) {
    EXPECT_EQ(run(make_message(0x1A, {3}), 2), "BOOTINFO_ACK from bank 3\n");
    EXPECT_EQ(op().boot_status, 1);
    EXPECT_EQ(op().current_bank, 3);
    EXPECT_EQ(run(make_message(0x1B, {2}), 1), "");
    EXPECT_EQ(op().boot_status, 2);
    EXPECT_EQ(op().current_bank, 2);
    EXPECT_EQ(run(make_message(0x1B, {1}), 2), "BOOTINFO_FAIL bank 1\n");
    EXPECT_EQ(run(make_message(0x1A, {0}), 1), "");
    EXPECT_EQ(op().boot_status, 1);
    EXPECT_EQ(op().current_bank, 0);
    EXPECT_TRUE(raised_flags().empty());
}

TEST_F(DispatcherTest, EepromAckOverwritesTheDialogsChoiceWithoutAFlag) {
    op().file_type = 1;
    op().bank = 2;
    const bytes m = make_message(0x22, {5, 3, 0x00, 0x00, 0x12, 0x34, 0xDE, 0xAD, 0xBE, 0xEF});
    EXPECT_EQ(run(m, 5), "");
    EXPECT_EQ(op().file_type, 5);
    EXPECT_EQ(op().bank, 3);
    EXPECT_EQ(op().file_size, 0x1234u);
    EXPECT_EQ(op().file_crc, 0xDEADBEEFu);
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

TEST_F(DispatcherFileAckTest, StoresBlockNumberAndDataThenRaisesBlockReceived) {
    const bytes m = file_ack(0x0102, 100, 100, 3);
    EXPECT_EQ(run(m, 5), "");
    EXPECT_EQ(u().received_block.number, 0x0102);
    EXPECT_EQ(u().received_block.data, bytes(m.begin() + 10, m.end()));
    EXPECT_TRUE(op().block_received.test());
    EXPECT_EQ(raised_flags().size(), 1u);
    EXPECT_EQ(run(m, 6), "FILE_ACK\n ");

    const bytes full = file_ack(7, 1024, 1024, 9);
    dispatch(full);
    EXPECT_EQ(u().received_block.data, bytes(full.begin() + 10, full.end()));
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
    EXPECT_EQ(std::memcmp(u().log_buffer.data() + 640, m.data() + 11, 200), 0);
    EXPECT_EQ(u().log_buffer[639], 0);
    EXPECT_EQ(u().log_buffer[840], 0);
    EXPECT_EQ(u().log_report.entry_count, 40);
    EXPECT_EQ(u().log_report.entry_length, 50);
    EXPECT_EQ(u().log_report.max_entries, 64);
    EXPECT_EQ(u().log_report.seq_no, 2);
    EXPECT_EQ(u().log_report.seq_no_size, 4);
    EXPECT_TRUE(op().block_received.test());
    EXPECT_EQ(raised_flags().size(), 1u);
    EXPECT_EQ(run(m, 2),
              "MESSAGE_LOG_ACK seq_no 2 seq_no_size 4 max 64 no of entries 40 elenght 50\r");

    const bytes last = log_ack(80, 3, 16, 1280);  // ends exactly at 5120
    dispatch(last);
    EXPECT_EQ(std::memcmp(u().log_buffer.data() + 3840, last.data() + 11, 1280), 0);
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
    std::memset(&u().notes[1], 'n', sizeof u().notes[1]);
    const bank_info before_bank2 = u().banks[2];
    const bytes m = flash_info(1, 195);
    EXPECT_EQ(run(m, 2), "FLASH_INFO 22 moving no 195 byte sizeof bank_info 192\n");
    take_bank_reports(u());
    const bank_info expected = taken_record(m);
    EXPECT_EQ(std::memcmp(&u().banks[1], &expected, sizeof expected), 0);
    EXPECT_EQ(std::memcmp(&u().banks[2], &before_bank2, sizeof before_bank2), 0);
    for (std::size_t i = 0; i < sizeof(bank_notes); ++i)
        ASSERT_EQ(reinterpret_cast<const char*>(&u().notes[1])[i], 'n') << i;
    EXPECT_EQ(run(m, 1), "");
}

TEST_F(DispatcherFlashInfoTest, LongMessageFillsNotesAndEndsEveryText) {
    const bytes m = flash_info(1, 411);
    dispatch(m);
    take_bank_reports(u());
    const bank_info expected = taken_record(m);
    EXPECT_EQ(std::memcmp(&u().banks[1], &expected, sizeof expected), 0);
    const auto* stored = reinterpret_cast<const std::uint8_t*>(&u().notes[1]);
    for (std::size_t i = 0; i < sizeof(bank_notes); ++i) {
        const bool text_end = i == 25 || i == 51 || i == 133 || i == 159;
        ASSERT_EQ(stored[i], text_end ? 0 : m[200 + i]) << i;
    }
    EXPECT_EQ(field_text(u().notes[1].software.comment).size(), 25u);
    const bank_notes empty{};
    EXPECT_EQ(std::memcmp(&u().notes[2], &empty, sizeof empty), 0);
}

TEST_F(DispatcherFlashInfoTest, OnlyBankThreeRaisesFlashInfoDone) {
    for (std::size_t bank = 0; bank < 3; ++bank) dispatch(flash_info(bank, 195));
    EXPECT_FALSE(op().flash_info_done.test());
    dispatch(flash_info(3, 3));
    EXPECT_TRUE(op().flash_info_done.test());
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
    ASSERT_TRUE(op().flash_info_done.test());

    take_bank_reports(u());
    take_bank_reports(u());
    EXPECT_EQ(u().banks[1].fpga.flash_address, 0x86812345u);
    EXPECT_EQ(u().banks[1].fpga.crc, 0xA1B2C3D4u);
    EXPECT_EQ(u().banks[1].fpga.size, 1300u);
    EXPECT_EQ(u().banks[1].software.flash_address, 0x86A00000u);  // start value kept
    EXPECT_EQ(u().banks[1].software.status, 1u);
    EXPECT_EQ(u().banks[0].fpga.flash_address, 0x86000000u);      // not received: untouched
    EXPECT_EQ(u().banks[2].software.flash_address, 0x87200000u);
    EXPECT_EQ(u().banks[3].fpga.flash_address, get_be32(flash_info(3, 195).data() + 8 + 4));
}

// The loop takes a FILE_ACK's data whole from the queue, in the order the receiver handed the
// answers in; run under ThreadSanitizer this also checks that nothing else crosses the threads.
TEST(AnswerQueue, AnswersArriveWholeAndInOrderFromTheReceiverThread) {
    constexpr int rounds = 300;
    auto length_of = [](int round) { return static_cast<std::uint16_t>(1 + round * 3 % 1024); };
    answer_inbox inbox;
    std::thread receiver([&] {
        for (int round = 0; round < rounds; ++round) {
            bytes params{0, 0, 0, 0};
            put_be16(params.data(), static_cast<std::uint16_t>(round));
            put_be16(params.data() + 2, length_of(round));
            for (std::size_t i = 0; i < length_of(round); ++i)
                params.push_back(static_cast<std::uint8_t>(round + i));
            const bytes m = make_message(0x10, params);
            inbox.on_message(m.data(), get_be16(m.data() + 2), m[1], m[4], m[5]);
        }
        inbox.on_failure(result::failure(result_kind::link_failed, "gone"));
    });
    int next = 0;
    bool failed = false;
    const std::uint32_t start = tick_count_ms();
    while (!failed && tick_count_ms() - start < 10000) {
        inbox.queue().wait(5);
        for (const answer& a : inbox.queue().take_all()) {
            if (a.kind == answer_kind::link_failed) {
                failed = true;
                continue;
            }
            ASSERT_EQ(a.kind, answer_kind::file_block);
            ASSERT_EQ(a.block_number, next);
            ASSERT_EQ(a.data.size(), length_of(next));
            for (std::size_t i = 0; i < a.data.size(); ++i)
                ASSERT_EQ(a.data[i], static_cast<std::uint8_t>(next + i)) << next;
            ++next;
        }
    }
    receiver.join();
    EXPECT_EQ(next, rounds);
    EXPECT_TRUE(failed) << "the link's failure arrives as an answer of its own, last";
}

}  // namespace
