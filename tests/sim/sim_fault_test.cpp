// The simulated unit's injected faults, seen from the PC's side of a real pseudo-terminal; a
// port pulled and put back; and the options of kestrel-unit for the damage, loss and put-back.
#include "tools/unit_sim/sim_unit.h"

#include <array>
#include <cstring>
#include <stdexcept>
#include <utility>

#include "link/byte_order.h"
#include "link/crc.h"
#include "link/frame.h"
#include "sim_harness.h"
#include "tools/unit_sim/sim_cli.h"

namespace fs = std::filesystem;

class SimFaults : public SimTest {};

namespace {

// Where `got` differs from `expected`, with the bits that differ; a size that differs counts
// as a difference at the end of the shorter one.
std::vector<std::pair<std::size_t, std::uint8_t>> differences(const message_t& got,
                                                              const message_t& expected) {
    std::vector<std::pair<std::size_t, std::uint8_t>> found;
    const std::size_t common = std::min(got.size(), expected.size());
    for (std::size_t i = 0; i < common; ++i) {
        if (got[i] != expected[i]) {
            found.emplace_back(i, static_cast<std::uint8_t>(got[i] ^ expected[i]));
        }
    }
    if (got.size() != expected.size()) {
        found.emplace_back(common, 0);
    }
    return found;
}

}  // namespace

TEST_F(SimFaults, CorruptedAnswersFailThePcsChecksum) {
    sim_unit_options options = test_options();
    options.faults.corrupt_probability = 1.0;
    start(options);
    const int errors_before = pc_->crc_errors();
    pc_->send(request(sub_code::BOOTINFO_REQ));
    EXPECT_FALSE(pc_->receive(300ms)) << "a corrupted answer must not get through";
    EXPECT_EQ(pc_->crc_errors(), errors_before + 1);
    // The frame is still found whole: its trailer stands in place.
    EXPECT_NE(output_.text().find("CRC error"), std::string::npos);
    EXPECT_NE(output_.text().find(" OK "), std::string::npos);
    EXPECT_EQ(unit_->snapshot().answers_corrupted, 1U);

    unit_->set_faults({});
    EXPECT_TRUE(is_answer(ask(request(sub_code::BOOTINFO_REQ)), sub_code::BOOTINFO_ACK));
}

TEST_F(SimFaults, RandomFaultsFollowTheSeed) {
    const auto pattern = [this](std::uint64_t seed) {
        sim_unit_options options = test_options();
        options.pacing = false;
        options.seed = seed;
        options.faults.drop_probability = 0.5;
        unit_ = std::make_unique<sim_unit>(options);
        unit_->start();
        pc_ = std::make_unique<pc_port>(unit_->link_path());
        std::string got;
        for (int i = 0; i < 24; ++i) {
            got += ask(request(sub_code::BOOTINFO_REQ), 60ms) ? '+' : '-';
        }
        pc_.reset();
        unit_.reset();
        return got;
    };
    const std::string first = pattern(7);
    EXPECT_EQ(pattern(7), first);
    EXPECT_NE(first.find('+'), std::string::npos);
    EXPECT_NE(first.find('-'), std::string::npos);
}

TEST_F(SimFaults, DlFailAtChunkOne) {
    sim_unit_options options = test_options();
    options.faults.dl_fail_at_chunk = 1;
    start(options);
    boot_to(0);
    const std::vector<std::uint8_t> file(1100, 0x3C);
    ask(request(sub_code::DL_REQ));
    ask(firmware_info(file_type_fpga, 3, file, crc32_file(file.data(), file.size(), 0xFFFFFFFFU)));
    EXPECT_TRUE(is_answer(ask(dl_data(file, 0)), sub_code::DL_ACK));
    const auto failed = ask(dl_data(file, 1));
    ASSERT_TRUE(is_answer(failed, sub_code::DL_FAIL));
    EXPECT_EQ(get_be16(failed->data() + dl_ack_at::p1), 1);
    EXPECT_TRUE(is_answer(ask(dl_data(file, 2)), sub_code::DL_FAIL)) << "the download is over";
    EXPECT_FALSE(unit_->memory().banks[3].fpga.valid());
}

TEST_F(SimFaults, FileFailedOnEveryRequest) {
    sim_unit_options options = test_options();
    options.faults.file_failed = true;
    start(options);
    boot_to(0);
    for (std::uint16_t block = 0; block < 2; ++block) {
        const auto answer = ask(file_request(1, file_type_software, 512, block));
        ASSERT_TRUE(is_answer(answer, sub_code::FILE_FAILED));
        EXPECT_EQ((*answer)[file_failed_at::error],
                  static_cast<std::uint8_t>(file_error::injected));
        EXPECT_EQ((*answer)[file_failed_at::type], file_type_software);
        EXPECT_EQ((*answer)[file_failed_at::number], block);
    }
}

TEST_F(SimFaults, WrongBlockNumberOnce) {
    sim_unit_options options = test_options();
    options.faults.wrong_block_once = true;
    start(options);
    boot_to(0);
    const std::vector<std::uint8_t> content = unit_->memory().banks[1].fpga.content;
    const auto wrong = ask(file_request(1, file_type_fpga, 512, 0));
    ASSERT_TRUE(is_answer(wrong, sub_code::FILE_ACK));
    EXPECT_EQ(get_be16(wrong->data() + file_ack_at::block_number), 1);
    const auto right = ask(file_request(1, file_type_fpga, 512, 0));
    ASSERT_TRUE(is_answer(right, sub_code::FILE_ACK));
    EXPECT_EQ(get_be16(right->data() + file_ack_at::block_number), 0);
    EXPECT_TRUE(std::equal(content.begin(), content.begin() + 512,
                           right->begin() + file_ack_at::data));
}

TEST_F(SimFaults, SilentUnitAnswersNothingButListens) {
    sim_unit_options options = test_options();
    options.faults.silent = true;
    start(options);
    pc_->send(request(sub_code::BOOTINFO_REQ));
    pc_->send(reboot_request(2));
    pc_->send(request(sub_code::KEEP_ALIVE));
    EXPECT_TRUE(pc_->quiet_for(300ms));
    const sim_view view = unit_->snapshot();
    EXPECT_EQ(received_count(view, sub_code::BOOTINFO_REQ), 1U);
    EXPECT_EQ(view.keep_alives, 1U);
    EXPECT_EQ(view.current_bank, 2) << "it still boots";
    EXPECT_EQ(view.answers_sent, 0U);
    EXPECT_EQ(view.answers_dropped, 3U);  // BOOTINFO_ACK and two boot reports
}

TEST_F(SimFaults, DamagedFileBlocksPassTheChecksumUntilTheirTimesAreUsed) {
    sim_unit_options options = test_options();
    const std::vector<std::uint8_t> content = sim_unit(options).memory().banks[1].fpga.content;
    // 104-byte blocks: the last (14) holds 44 bytes of the file, so that its byte 7 x 14 = 98
    // lies in the fill.
    constexpr std::uint16_t block_size = 104;
    const auto last = static_cast<std::uint16_t>((content.size() - 1) / block_size);
    const std::size_t last_bytes = content.size() - std::size_t{last} * block_size;
    ASSERT_GT(last, 2);
    ASSERT_LT(last_bytes, (std::size_t{last} * 7) % block_size) << "byte 7k of block k in the fill";
    options.faults.damaged_blocks = {1, last};
    options.faults.damage_times = 2;
    start(options);
    boot_to(0);
    const int errors_before = pc_->crc_errors();

    // Block 1: damaged twice at the same byte, then right.
    const message_t right = file_ack_answer(1, block_size, content);
    std::optional<std::size_t> damaged_at;
    for (int sending = 0; sending < 2; ++sending) {
        const auto answer = ask(file_request(1, file_type_fpga, block_size, 1));
        ASSERT_TRUE(is_answer(answer, sub_code::FILE_ACK)) << "sending " << sending;
        const auto diff = differences(*answer, right);
        ASSERT_EQ(diff.size(), 1U) << "sending " << sending;
        EXPECT_EQ(diff[0].second, 0x80);
        EXPECT_GE(diff[0].first, file_ack_at::data);
        if (damaged_at) {
            EXPECT_EQ(diff[0].first, *damaged_at) << "the same byte each time";
        }
        damaged_at = diff[0].first;
    }
    EXPECT_EQ(ask(file_request(1, file_type_fpga, block_size, 1)), right);
    EXPECT_EQ(ask(file_request(1, file_type_fpga, block_size, 2)),
              file_ack_answer(2, block_size, content))
        << "a block not listed";

    // The last block: the damage lies in the file's bytes, not in the fill after them.
    const auto tail = ask(file_request(1, file_type_fpga, block_size, last));
    ASSERT_TRUE(is_answer(tail, sub_code::FILE_ACK));
    const auto diff = differences(*tail, file_ack_answer(last, block_size, content));
    ASSERT_EQ(diff.size(), 1U);
    EXPECT_EQ(diff[0].second, 0x80);
    EXPECT_GE(diff[0].first, file_ack_at::data);
    EXPECT_LT(diff[0].first, file_ack_at::data + last_bytes);

    EXPECT_EQ(pc_->crc_errors(), errors_before) << "every damaged frame is valid";
    EXPECT_EQ(unit_->snapshot().answers_damaged, 3U);
}

TEST_F(SimFaults, DamagedLogBlocksFlipACharacterOfAnEntryOnce) {
    sim_unit_options options = test_options();
    options.faults.damaged_log_blocks = {0, 1};
    start(options);
    const unit_log log = unit_->memory().log;
    ASSERT_GT(log.entries.size(), unit_log_block_entries) << "both blocks hold entries";
    for (std::uint8_t block = 0; block < 2; ++block) {
        const message_t right = log_answer(log, block);
        const auto damaged = ask(request(sub_code::LOG_REQ, {block}));
        ASSERT_TRUE(is_answer(damaged, sub_code::MESSAGE_LOG_ACK)) << "block " << int{block};
        const auto diff = differences(*damaged, right);
        ASSERT_EQ(diff.size(), 1U) << "block " << int{block};
        EXPECT_EQ(diff[0].second, 0x80);
        // Inside the text of an entry the block holds.
        ASSERT_GE(diff[0].first, message_log_ack_at::entries);
        const std::size_t offset = diff[0].first - message_log_ack_at::entries;
        const std::size_t entry = block * unit_log_block_entries + offset / unit_log_entry_size;
        ASSERT_LT(entry, log.entries.size()) << "block " << int{block};
        EXPECT_LT(offset % unit_log_entry_size, log.entries[entry].size());

        EXPECT_EQ(ask(request(sub_code::LOG_REQ, {block})), right) << "right the second time";
    }
}

TEST_F(SimFaults, ALostBankRecordLeavesTheOtherThree) {
    sim_unit_options options = test_options();
    options.faults.lost_bank_records[2] = 1;
    start(options);
    const auto banks_reported = [this] {
        std::vector<std::uint8_t> subs;
        pc_->send(request(sub_code::FLASH_INFO_REQ));
        while (const auto answer = pc_->receive(300ms)) {
            subs.push_back((*answer)[head_sub]);
        }
        return subs;
    };
    const std::uint8_t first = sub_byte(sub_code::FLASH_INFO);
    EXPECT_EQ(banks_reported(), (std::vector<std::uint8_t>{first, std::uint8_t(first + 1),
                                                            std::uint8_t(first + 3)}));
    EXPECT_EQ(unit_->snapshot().answers_dropped, 1U);
    EXPECT_EQ(banks_reported().size(), 4U) << "only the first record of bank 2 is lost";
}

TEST_F(SimFaults, APortPutBackCarriesOnWithTheUnitAsItWas) {
    const fs::path prefix = dir_ / "prefix";
    fs::create_directories(prefix / "dosdevices");
    sim_unit_options options = test_options();
    options.wine_prefix = prefix;
    start(options);
    EXPECT_THROW(unit_->reconnect(), std::logic_error) << "the port is in place";
    boot_to(0);

    // A boot begun before the pull ends while the port is out; its report goes nowhere.
    pc_->send(reboot_request(2));
    ASSERT_TRUE(unit_->wait_until([](const sim_view& v) { return v.booting; }, 2000ms));
    unit_->disconnect();
    EXPECT_TRUE(pc_->breaks_within(1000ms));
    pc_.reset();
    EXPECT_TRUE(unit_->wait_until(
        [](const sim_view& v) { return !v.booting && v.current_bank == 2; }, 2000ms));

    for (int round = 0; round < 2; ++round) {
        unit_->reconnect();
        EXPECT_TRUE(unit_->snapshot().port_open);
        EXPECT_EQ(fs::read_symlink(unit_->link_path()), fs::path(unit_->pty_path()));
        EXPECT_EQ(fs::read_symlink(unit_->wine_link_path()), fs::path(unit_->pty_path()));
        pc_ = std::make_unique<pc_port>(unit_->link_path());
        ASSERT_TRUE(pc_->is_open()) << "round " << round;
        EXPECT_TRUE(pc_->quiet_for(200ms)) << "nothing is sent of the unit's own accord";
        const auto info = ask(request(sub_code::BOOTINFO_REQ));
        ASSERT_TRUE(is_answer(info, sub_code::BOOTINFO_ACK)) << "round " << round;
        EXPECT_EQ((*info)[bootinfo_at::bank], 2) << "not reset";
        unit_->disconnect();
        EXPECT_FALSE(fs::exists(fs::symlink_status(unit_->wine_link_path())));
        pc_.reset();
    }
    unit_->stop();
    EXPECT_THROW(unit_->reconnect(), std::logic_error) << "a stopped unit";
    EXPECT_FALSE(fs::exists(fs::symlink_status(unit_->link_path())));
}

// ---- Command line --------------------------------------------------------------------------

TEST(SimFaultCommandLine, ReadsTheDamageLossAndPutBackOptionsAndRefusesBadValues) {
    const auto parse = [](std::initializer_list<const char*> args) {
        return parse_unit_command_line(std::vector<const char*>(args));
    };
    const auto r = parse({"--damage-blocks", "0,3,17:2", "--damage-log-blocks=1",
                          "--lose-bank-record", "2", "--lose-bank-record=0:3", "--back-after",
                          "2000"});
    ASSERT_TRUE(r.ok) << r.error;
    const sim_faults& faults = r.options.unit.faults;
    EXPECT_EQ(faults.damaged_blocks, (std::vector<std::uint16_t>{0, 3, 17}));
    EXPECT_EQ(faults.damage_times, 2U);
    EXPECT_EQ(faults.damaged_log_blocks, std::vector<std::uint8_t>{1});
    EXPECT_EQ(faults.log_damage_times, 1U);
    EXPECT_EQ(faults.lost_bank_records, (std::array<unsigned, 4>{3, 0, 1, 0}));
    EXPECT_EQ(r.options.back_after, std::chrono::milliseconds(2000));

    const auto defaults = parse({});
    ASSERT_TRUE(defaults.ok);
    EXPECT_TRUE(defaults.options.unit.faults.damaged_blocks.empty());
    EXPECT_EQ(defaults.options.unit.faults.lost_bank_records, (std::array<unsigned, 4>{}));
    EXPECT_FALSE(defaults.options.back_after.has_value());

    const std::pair<const char*, const char*> bad[] = {
        {"--damage-blocks", "65536"},     {"--damage-blocks", "1,,2"},
        {"--damage-blocks", "3:0"},       {"--damage-blocks", ":2"},
        {"--damage-blocks", "3:"},        {"--damage-blocks", "-1"},
        {"--damage-blocks", "1:2:3"},     {"--damage-blocks", "1:99999999999"},
        {"--damage-log-blocks", "256"},   {"--lose-bank-record", "4"},
        {"--lose-bank-record", "1:0"},    {"--lose-bank-record", "x"},
        {"--back-after", "600001"},       {"--back-after", "-5"},
    };
    for (const auto& [option, value] : bad) {
        const auto refused = parse({option, value});
        EXPECT_FALSE(refused.ok) << option << " " << value;
        EXPECT_NE(refused.error.find(std::string("for ") + option), std::string::npos)
            << refused.error;
    }
    const auto twice = parse({"--lose-bank-record", "1", "--lose-bank-record", "1:2"});
    EXPECT_FALSE(twice.ok);
    EXPECT_NE(twice.error.find("twice"), std::string::npos) << twice.error;

    const std::string help = unit_usage_text();
    for (const char* option : {"--damage-blocks LIST[:TIMES]", "--damage-log-blocks LIST[:TIMES]",
                               "--lose-bank-record B[:T]", "--back-after MS"}) {
        EXPECT_NE(help.find(option), std::string::npos) << option;
    }
}
