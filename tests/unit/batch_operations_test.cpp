#include "app/batch_operations.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "app/arg.h"
#include "app/options.h"
#include "app/session.h"
#include "link/crc.h"
#include "protocol/bank_records.h"
#include "protocol/loader_state.h"
#include "protocol/messages.h"
#include "protocol/run_outcome.h"
#include "protocol/waiting.h"
#include "support/capture.h"
#include "support/command_line.h"
#include "support/fake_link.h"
#include "support/loader_bench.h"
#include "support/temp_folder.h"

namespace {

const std::string invalid_bank_0 = "Invalid bank 0. Only Bank 1 to 3 in valid\n";

bool has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// A command-line run in a fresh folder: the unit runs from bank 1, every request is captured.
class BatchOperationsTest : public LoaderBench {
protected:
    void SetUp() override {
        LoaderBench::SetUp();
        cursor = 0;
        op().batch_mode = 1;
        op().active_bank = 1;
        op().current_bank = 1;
    }

    // Parses a real command line into the option table, so that every position is the one the
    // parser gives.
    void parse(const std::vector<std::string>& args) {
        parse_test_command_line(options, block, out, args);
    }
    int next() { return start_batch_operation(u(), options, cursor, op_state); }
    // Starts every operation left, as the idle state does; the indices handed back, and what
    // each one printed.
    std::vector<int> run_all() {
        std::vector<int> indices;
        texts.clear();
        for (int guard = 0; guard < 40; ++guard) {
            const int index = next();
            indices.push_back(index);
            texts.push_back(out.take());
            if (index < 0) {
                break;
            }
        }
        return indices;
    }
    static std::vector<sent_request> sent(sub_code sub) { return FakeClockAndLink::sent_of(sub); }
    int file_type() { return op().file_type; }
    int bank() { return op().bank; }
    static std::size_t sent_count() { return FakeClockAndLink::sent().size(); }
    void make_file(const std::string& name) {
        std::ofstream(name, std::ios::binary) << "0123456789";
    }

    TempFolder folder;
    arg_block block;
    int cursor = 0;
    operation_state op_state = operation_state::idle;
    std::vector<std::string> texts;
};

}  // namespace

TEST_F(BatchOperationsTest, ALoadGoesToTheBankTheUnitIsNotRunningFrom) {
    make_file("a.bin");
    make_file("s.srec");
    parse({"/load_fw", "a.bin", "/comment", "first try"});
    op().expected_seq = 7;
    EXPECT_EQ(next(), opt_load_fw);
    EXPECT_EQ(out.take(), "Save FW a.bin to bank 2\n");
    EXPECT_EQ(file_type(), 1);
    EXPECT_EQ(bank(), 2);
    EXPECT_EQ(op().expected_seq, 0u);
    EXPECT_EQ(op_state, operation_state::preparing_download);
    EXPECT_EQ(op().file_path, "a.bin");
    // The comment is read when the load starts, although it stands after the file.
    EXPECT_EQ(op().comment.view(), "first try");
    EXPECT_EQ(op().redraw_request, 0);
    EXPECT_EQ(sent_count(), 0u);  // the download itself is the state machine's
    EXPECT_FALSE(operation_failed(u()));

    for (const int running : {2, 0, 3}) {
        SetUp();
        op().active_bank = static_cast<std::uint8_t>(running);
        parse({"/load_sw", "s.srec"});
        op_state = operation_state::idle;
        EXPECT_EQ(next(), opt_load_sw);
        EXPECT_EQ(out.take(), "Save SW s.srec to bank 1\n") << "running from " << running;
        EXPECT_EQ(file_type(), 2);
        EXPECT_EQ(bank(), 1) << "running from " << running;
        EXPECT_EQ(op_state, operation_state::preparing_download);
    }
}

TEST_F(BatchOperationsTest, AGivenBankIsCheckedWhenTheLoadStartsAndARefusedOneEndsTheRun) {
    make_file("a.bin");
    // Given after the file, the bank still applies.
    parse({"/load_fw", "a.bin", "/bank", "3"});
    EXPECT_EQ(next(), opt_load_fw);
    EXPECT_EQ(out.take(), "Save FW a.bin to bank 3\n");
    EXPECT_EQ(bank(), 3);

    // Bank 0 is refused unless bank 0 loads are allowed; nothing after it is performed.
    SetUp();
    parse({"/load_fw", "a.bin", "/bank", "0", "+info"});
    op_state = operation_state::idle;
    EXPECT_EQ(next(), -1);
    EXPECT_EQ(out.take(), invalid_bank_0);
    EXPECT_EQ(op_state, operation_state::idle);
    EXPECT_EQ(op().file_path, "");
    EXPECT_TRUE(operation_failed(u()));

    SetUp();
    op().first_bank = 0;
    parse({"+bank0", "/load_fw", "a.bin", "/bank", "0"});
    EXPECT_EQ(run_all(), (std::vector<int>{opt_bank0, opt_load_fw, opt_bank, -1}));
    EXPECT_EQ(texts[1], "Save FW a.bin to bank 0\n");
    EXPECT_EQ(bank(), 0);
    EXPECT_EQ(op_state, operation_state::preparing_download);

    // The bank is shown as a signed number.
    for (const char* huge : {"4294967295", "0xffffffff"}) {
        SetUp();
        parse({"/bank", huge, "/load_sw", "a.bin"});
        EXPECT_EQ(run_all(), (std::vector<int>{opt_bank, -1})) << huge;
        EXPECT_EQ(texts[1], "Invalid bank -1. Only Bank 1 to 3 in valid\n");
    }
    SetUp();
    parse({"/bank", "4", "/load_fw", "a.bin"});
    EXPECT_EQ(run_all(), (std::vector<int>{opt_bank, -1}));
    EXPECT_EQ(texts[1], "Invalid bank 4. Only Bank 1 to 3 in valid\n");
}

TEST_F(BatchOperationsTest, BootAndRebootSendTheRebootRequest) {
    // A refused bank ends the run even for a boot that is not wanted, and for a reboot.
    for (const char* boot : {"-boot", "+boot", "+reboot", "-reboot"}) {
        SetUp();
        parse({boot, "/bank", "9", "+info"});
        op_state = operation_state::idle;
        EXPECT_EQ(next(), -1) << boot;
        EXPECT_EQ(out.take(), "Invalid bank 9. Only Bank 1 to 3 in valid\n") << boot;
        EXPECT_EQ(sent_count(), 0u) << boot;
        EXPECT_EQ(op_state, operation_state::idle) << boot;
        EXPECT_TRUE(operation_failed(u())) << boot;
    }

    SetUp();
    parse({"-boot", "/bank", "3"});
    op_state = operation_state::idle;
    EXPECT_EQ(next(), opt_boot);
    EXPECT_EQ(sent_count(), 0u);
    EXPECT_EQ(op_state, operation_state::idle);

    SetUp();
    parse({"+boot", "/bank", "3"});
    EXPECT_EQ(next(), opt_boot);
    ASSERT_EQ(sent(sub_code::REBOOT_REQ).size(), 1u);
    EXPECT_EQ(sent(sub_code::REBOOT_REQ)[0].bytes.at(param_p1), 0x83);
    EXPECT_EQ(op().boot_bank, 3);
    EXPECT_EQ(op_state, operation_state::boot_requested);
    EXPECT_EQ(out.take(), "");  // nothing is asked

    // Without /bank the boot goes to the bank the unit is not running from.
    SetUp();
    parse({"+boot"});
    EXPECT_EQ(next(), opt_boot);
    ASSERT_EQ(sent(sub_code::REBOOT_REQ).size(), 1u);
    EXPECT_EQ(sent(sub_code::REBOOT_REQ)[0].bytes.at(param_p1), 0x82);

    // A reboot targets the bank the unit runs from, whatever /bank says.
    SetUp();
    op().current_bank = 3;
    parse({"+reboot", "/bank", "2"});
    EXPECT_EQ(next(), opt_reboot);
    ASSERT_EQ(sent(sub_code::REBOOT_REQ).size(), 1u);
    EXPECT_EQ(sent(sub_code::REBOOT_REQ)[0].bytes.at(param_p1), 0x83);
    EXPECT_EQ(op().boot_bank, 3);
    EXPECT_EQ(op_state, operation_state::boot_requested);
}

TEST_F(BatchOperationsTest, AGetFromARefusedBankIsSkippedAndTheRunGoesOn) {
    parse({"+get_fw", "+get_log"});
    op_state = operation_state::idle;
    EXPECT_EQ(next(), opt_get_fw);
    EXPECT_EQ(out.take(), invalid_bank_0);
    EXPECT_EQ(sent_count(), 0u);
    EXPECT_EQ(op_state, operation_state::idle);
    EXPECT_TRUE(operation_failed(u()));
    EXPECT_EQ(next(), opt_get_log);
    EXPECT_EQ(out.take(), "Get Log\n");
    EXPECT_EQ(sent(sub_code::LOG_REQ).size(), 1u);
    EXPECT_EQ(op_state, operation_state::fetching_log);

    // A get that is not wanted checks nothing.
    SetUp();
    parse({"-get_sw", "-get_log"});
    op_state = operation_state::idle;
    EXPECT_EQ(run_all(), (std::vector<int>{opt_get_sw, opt_get_log, -1}));
    EXPECT_EQ(texts, (std::vector<std::string>{"", "", ""}));
    EXPECT_EQ(sent_count(), 0u);
    EXPECT_FALSE(operation_failed(u()));
}

TEST_F(BatchOperationsTest, AGetStartsTheUploadFromTheChosenBank) {
    // Bank 0 when allowed; the unit runs elsewhere, so it is first rebooted to its loader.
    op().first_bank = 0;
    parse({"+get_fw"});
    EXPECT_EQ(next(), opt_get_fw);
    EXPECT_EQ(out.take(), "Get FW from bank 0\n");
    EXPECT_EQ(file_type(), 1);
    EXPECT_EQ(bank(), 0);
    EXPECT_EQ(op_state, operation_state::uploading);
    ASSERT_EQ(sent(sub_code::REBOOT_REQ).size(), 1u);
    EXPECT_EQ(sent(sub_code::REBOOT_REQ)[0].bytes.at(param_p1), 0x80);

    // Already in the loader: the file is asked for at once.
    SetUp();
    op().current_bank = 0;
    parse({"/bank", "3", "+get_sw"});
    EXPECT_EQ(run_all(), (std::vector<int>{opt_bank, opt_get_sw, -1}));
    EXPECT_EQ(texts[1], "Get SW from bank 3\n");
    EXPECT_EQ(file_type(), 2);
    EXPECT_EQ(op_state, operation_state::uploading);
    const auto requests_sent = sent(sub_code::FILE_REQ);
    ASSERT_EQ(requests_sent.size(), 1u);
    EXPECT_EQ(requests_sent[0].bytes.at(file_req_at::index), 3);
    EXPECT_EQ(requests_sent[0].bytes.at(file_req_at::file_type), 2);
    EXPECT_FALSE(operation_failed(u()));
}

TEST_F(BatchOperationsTest, OperationsComeInCommandLineOrder) {
    make_file("s.srec");
    parse({"+info", "/load_sw", "s.srec", "+reboot"});
    EXPECT_EQ(run_all(), (std::vector<int>{opt_info, opt_load_sw, opt_reboot, -1}));
    EXPECT_TRUE(has(texts[0], "  Bank information\n"));
    EXPECT_EQ(texts[1], "Save SW s.srec to bank 2\n");
    EXPECT_EQ(texts[2], "");
    EXPECT_EQ(sent(sub_code::REBOOT_REQ).size(), 1u);
    EXPECT_EQ(op_state, operation_state::boot_requested);  // the last one started was the reboot

    SetUp();
    parse({"+reboot", "/load_sw", "s.srec", "+info"});
    EXPECT_EQ(run_all(), (std::vector<int>{opt_reboot, opt_load_sw, opt_info, -1}));
    EXPECT_EQ(texts[1], "Save SW s.srec to bank 2\n");
    EXPECT_TRUE(has(texts[2], "  Bank information\n"));
    EXPECT_EQ(op_state, operation_state::idle);  // info leaves the idle state
}

TEST_F(BatchOperationsTest, TheEepromIsChosenByPromType) {
    make_file("p.eeprom");
    make_file("c.eeprom");
    op().verbose_level = 2;
    parse({"/prom_type", "PA3", "/load_prom", "p.eeprom"});
    EXPECT_EQ(run_all(), (std::vector<int>{opt_prom_type, opt_load_prom, -1}));
    EXPECT_EQ(texts[1], "loading p.eeprom to PA channel 3\n");
    EXPECT_EQ(file_type(), 5);
    EXPECT_EQ(bank(), 2);
    EXPECT_EQ(op_state, operation_state::preparing_download);
    EXPECT_EQ(op().file_path, "p.eeprom");

    // Below level 2 there is no trace.
    SetUp();
    op().verbose_level = 1;
    parse({"/load_prom", "p.eeprom", "/prom_type", "TC4"});
    EXPECT_EQ(run_all(), (std::vector<int>{opt_load_prom, opt_prom_type, -1}));
    EXPECT_EQ(texts[0], "");
    EXPECT_EQ(file_type(), 6);
    EXPECT_EQ(bank(), 3);
    EXPECT_EQ(op_state, operation_state::preparing_download);

    // The single EEPROMs have channel index 0, whatever bank an earlier operation left.
    const struct {
        const char* type;
        int file_type;
        const char* trace;
    } singles[] = {{"Controller", 3, "loading c.eeprom to Controller\n"},
                   {"Charger", 4, "loading c.eeprom to Charger\n"}};
    for (const auto& single : singles) {
        SetUp();
        op().verbose_level = 3;
        op().bank = 3;
        parse({"/prom_type", single.type, "/load_prom", "c.eeprom"});
        run_all();
        EXPECT_EQ(texts[1], single.trace);
        EXPECT_EQ(file_type(), single.file_type);
        EXPECT_EQ(bank(), 0) << single.type;
        EXPECT_EQ(op_state, operation_state::preparing_download);
    }
}

TEST_F(BatchOperationsTest, GetPromAsksTheUnitForTheChosenEeprom) {
    op().verbose_level = 2;
    op().current_bank = 0;  // in the loader: no reboot first
    op().file_size = 1234;
    parse({"+get_prom", "/prom_type", "TC1"});
    EXPECT_EQ(next(), opt_get_prom);
    EXPECT_EQ(out.take(), "getting eeprom from TC channel 1\n");
    const auto info = sent(sub_code::EEPROM_INFO_REQ);
    ASSERT_EQ(info.size(), 1u);
    EXPECT_EQ(info[0].bytes.at(eeprom_info_req_at::file_type), 6);
    EXPECT_EQ(info[0].bytes.at(eeprom_info_req_at::channel), 0);
    EXPECT_EQ(file_type(), 6);
    EXPECT_EQ(bank(), 0);
    EXPECT_EQ(op().file_size, 0u);  // the size comes with the unit's answer
    EXPECT_EQ(op_state, operation_state::uploading);

    SetUp();
    parse({"/prom_type", "Charger", "-get_prom"});
    op_state = operation_state::idle;
    EXPECT_EQ(run_all(), (std::vector<int>{opt_prom_type, opt_get_prom, -1}));
    EXPECT_EQ(sent_count(), 0u);
    EXPECT_EQ(op_state, operation_state::idle);
}

TEST_F(BatchOperationsTest, AnUnknownEepromTypeSkipsTheOperation) {
    make_file("p.eeprom");
    const std::string hint =
        "\": use /prom_type with Controller, Charger, PA1 to PA4 or TC1 to TC4\n";
    // Names match exactly: pa3 is not PA3, PA5 is no channel.
    for (const char* type : {"pa3", "PA5", "TC"}) {
        SetUp();
        parse({"/prom_type", type, "/load_prom", "p.eeprom", "+get_log"});
        op_state = operation_state::idle;
        EXPECT_EQ(run_all(), (std::vector<int>{opt_prom_type, opt_load_prom, opt_get_log, -1}));
        EXPECT_EQ(texts[1], "Unknown EEPROM type \"" + std::string(type) + hint);
        EXPECT_EQ(op().file_path, "") << type;
        EXPECT_TRUE(operation_failed(u())) << type;
        EXPECT_EQ(sent_count(), 1u);  // the log request alone
    }

    // The empty default names nothing either.
    SetUp();
    parse({"+get_prom"});
    op_state = operation_state::idle;
    EXPECT_EQ(next(), opt_get_prom);
    EXPECT_EQ(out.take(), "Unknown EEPROM type \"" + hint);
    EXPECT_EQ(sent_count(), 0u);
    EXPECT_EQ(op_state, operation_state::idle);
    EXPECT_TRUE(operation_failed(u()));
    EXPECT_EQ(next(), -1);
}

TEST_F(BatchOperationsTest, ALoadOfAMissingFileIsNotedAndTheNextOperationFollows) {
    parse({"/load_fw", "missing.bin", "/prom_type", "PA1", "/load_prom", "gone.eeprom", "+info"});
    op_state = operation_state::uploading;  // shows that the refused load sets the idle state
    EXPECT_EQ(next(), opt_load_fw);
    EXPECT_EQ(out.take(), "Save FW missing.bin to bank 2\n  File \"missing.bin\" does not exist\n");
    EXPECT_EQ(op_state, operation_state::idle);
    EXPECT_EQ(op().redraw_request, 1);
    EXPECT_TRUE(operation_failed(u()));

    op().redraw_request = 0;
    op_state = operation_state::uploading;
    EXPECT_EQ(next(), opt_prom_type);
    EXPECT_EQ(next(), opt_load_prom);
    EXPECT_EQ(out.take(), "  File \"gone.eeprom\" does not exist\n");
    EXPECT_EQ(op_state, operation_state::idle);
    EXPECT_EQ(op().redraw_request, 1);
    EXPECT_EQ(next(), opt_info);
    EXPECT_EQ(next(), -1);
    EXPECT_EQ(sent_count(), 0u);
}

TEST_F(BatchOperationsTest, OnlyPositionsUpTo24AreHandedOutEachOnce) {
    make_file("a.bin");
    make_file("b.bin");
    // +get_log at 1, eleven comments (values at 3 to 23), +get_conf at 24, +info at 25.
    std::vector<std::string> args{"+get_log"};
    for (int k = 0; k < 11; ++k) {
        args.insert(args.end(), {"/comment", "c" + std::to_string(k)});
    }
    args.insert(args.end(), {"+get_conf", "+info"});
    parse(args);
    ASSERT_EQ(options[opt_info].position, 25);
    EXPECT_EQ(run_all(), (std::vector<int>{opt_get_log, opt_comment, opt_get_conf, -1}));
    EXPECT_FALSE(has(texts[2] + texts[3], "Bank information"));
    EXPECT_EQ(next(), -1);

    // A file name at position 25 is never loaded either.
    SetUp();
    args.resize(23);
    args.insert(args.end(), {"/load_fw", "a.bin"});
    parse(args);
    ASSERT_EQ(options[opt_load_fw].position, 25);
    EXPECT_EQ(run_all(), (std::vector<int>{opt_get_log, opt_comment, -1}));
    EXPECT_EQ(op().file_path, "");

    // Given twice, an option is performed once, where it last stands.
    SetUp();
    parse({"+info", "/load_fw", "a.bin", "+get_log", "-info", "/load_fw", "b.bin"});
    EXPECT_EQ(run_all(), (std::vector<int>{opt_get_log, opt_info, opt_load_fw, -1}));
    EXPECT_EQ(texts[1], "");  // the last word was -info
    EXPECT_EQ(texts[2], "Save FW b.bin to bank 2\n");
    EXPECT_EQ(op().file_path, "b.bin");
}

TEST_F(BatchOperationsTest, OptionsThatStartNothingChangeNothing) {
    parse({"/comment", "x", "+get_conf", "/bank", "2", "/verbose", "3", "+bank0", "-safemode",
           "/interface", "3", "/card", "1", "/index", "2", "/size", "100", "/lclk", "5",
           "/bitfile", "b.bit", "/prom_type", "PA1"});
    op().file_type = 4;
    op().bank = 1;
    op().expected_seq = 9;
    op_state = operation_state::awaiting_boot;  // whatever it is, it stays
    EXPECT_EQ(run_all(), (std::vector<int>{opt_comment, opt_get_conf, opt_bank, opt_verbose,
                                           opt_bank0, opt_safemode, opt_interface, opt_card,
                                           opt_index, opt_size, opt_lclk, opt_bitfile,
                                           opt_prom_type, -1}));
    for (const auto& text : texts) {
        EXPECT_EQ(text, "");
    }
    EXPECT_EQ(op_state, operation_state::awaiting_boot);
    EXPECT_EQ(file_type(), 4);
    EXPECT_EQ(bank(), 1);
    EXPECT_EQ(op().expected_seq, 9u);
    EXPECT_EQ(sent_count(), 0u);
    EXPECT_FALSE(operation_failed(u()));

    // An empty command line has nothing to hand out.
    SetUp();
    parse({});
    op_state = operation_state::awaiting_boot;  // whatever it is, it stays
    EXPECT_EQ(next(), -1);
    EXPECT_EQ(op_state, operation_state::awaiting_boot);
}

// +skip_same: a load whose target already holds the file's image ends as skipped with nothing
// sent. What an EEPROM holds is asked for first; the load goes ahead when it holds another
// image, or when the unit does not say in time.
TEST_F(BatchOperationsTest, SkipSameLeavesOutWhatTheUnitAlreadyHolds) {
    make_file("a.bin");
    const std::uint32_t crc =
        crc32_file(reinterpret_cast<const std::uint8_t*>("0123456789"), 10, 0xFFFFFFFFu);
    unit_reports_flash(10, crc);
    take_bank_reports(u());
    parse({"/load_fw", "a.bin", "/bank", "2", "+skip_same"});
    run_journal journal(u().outcome);
    EXPECT_EQ(start_batch_operation(u(), options, cursor, op_state, &journal), opt_load_fw);
    EXPECT_EQ(op_state, operation_state::idle);
    EXPECT_TRUE(has(out.take(), "Skipped a.bin: bank 2 already holds it: 10 bytes, CRC-32 0x"));
    ASSERT_EQ(journal.entries().size(), 1u);
    EXPECT_EQ(journal.entries()[0].outcome, "skipped");
    EXPECT_EQ(sent_count(), 0u);

    enum class reply { same, other, none };
    for (const reply answer : {reply::same, reply::other, reply::none}) {
        SetUp();
        parse({"/prom_type", "PA2", "/load_prom", "a.bin", "+skip_same"});
        run_journal eeprom(u().outcome);
        const auto step = [&] {
            return start_batch_operation(u(), options, cursor, op_state, &eeprom);
        };
        EXPECT_EQ(step(), opt_prom_type);
        EXPECT_EQ(step(), opt_load_prom);
        EXPECT_EQ(step(), opt_load_prom);  // handed out again while the answer is awaited
        EXPECT_EQ(sent(sub_code::EEPROM_INFO_REQ).size(), 1u);
        EXPECT_TRUE(eeprom.entries().empty());
        if (answer == reply::none) {
            FakeClockAndLink::now_ms() += 3000;
        } else {
            unit_describes_eeprom(file_type_pa, 1, 10, answer == reply::same ? crc : crc ^ 1u);
        }
        EXPECT_EQ(step(), opt_load_prom);
        ASSERT_EQ(eeprom.entries().size(), 1u);
        EXPECT_EQ(eeprom.entries()[0].outcome, answer == reply::same ? "skipped" : "interrupted");
        EXPECT_EQ(op_state, answer == reply::same ? operation_state::idle
                                                  : operation_state::preparing_download);
        EXPECT_EQ(file_type(), file_type_pa);
        EXPECT_EQ(bank(), 1);
        EXPECT_EQ(has(out.text(), "PA channel 2 did not say what it holds: the file is loaded"),
                  answer == reply::none);
        EXPECT_EQ(step(), opt_skip_same);
        EXPECT_EQ(step(), -1);
    }
}
