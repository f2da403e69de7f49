#include "console/dialogs.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/options.h"
#include "app/session.h"
#include "console/keys.h"
#include "console/log_listing.h"
#include "link/byte_order.h"
#include "protocol/actions.h"
#include "protocol/loader_state.h"
#include "protocol/messages.h"
#include "protocol/senders.h"
#include "support/capture.h"
#include "support/fake_link.h"
#include "support/loader_bench.h"
#include "support/temp_folder.h"

namespace {

namespace fs = std::filesystem;

const std::string comment30 = "A comment of thirty characters";
const std::string long_srec = "a_software_image_with_a_long_name.srec";

bool has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// On the card link: requests go straight to the fake link.
class DialogTest : public LoaderBench {
protected:
    void SetUp() override {
        LoaderBench::SetUp();
        loop().op_state = operation_state::idle;
        op().link_state = link_connected;
    }
    static std::vector<sent_request> sent(sub_code sub) { return FakeClockAndLink::sent_of(sub); }
    // Byte `at` of the one request of that kind; 0xEEEE when there is not exactly one.
    static int only(sub_code sub, std::size_t at) {
        const auto of = sent(sub);
        return of.size() == 1 ? of[0].bytes.at(at) : 0xEEEE;
    }

    // The dialogs as the menu's keys start them: the keys go to the session's key step.
    void take(const std::string& keys) {
        set_key_script(keys);
        loop().take_key();
    }
    load_answer load(dialog_kind kind) { return load_dialog(kind, op()); }
    session& loop() { return the_session(); }
    operation_state& op_state() { return loop().op_state; }
};

// Dialogs that choose a file: a fresh folder with one file of each kind is the current one.
class DialogFileTest : public DialogTest {
protected:
    void SetUp() override {
        DialogTest::SetUp();
        for (const std::string& name : {std::string("alpha.bin"), long_srec, std::string("c.eeprom")}) {
            std::ofstream(name) << "content";
        }
    }

private:
    TempFolder folder_{"kestrel_dialogs_"};
};

TEST_F(DialogTest, LoadBankQuestionReportsEachWrongKeyAsItsCodeMinusZero) {
    set_key_script("0x4q");
    EXPECT_EQ(load(dialog_kind::flash).result, load_result::cancelled);
    EXPECT_EQ(out.text(),
              "  Load to Bank number (1-3) ?\n"
              "Invalid bank 0. Only Bank 1 to 3 in valid\n"
              "Invalid bank 72. Only Bank 1 to 3 in valid\n"
              "Invalid bank 4. Only Bank 1 to 3 in valid\n");
}

TEST_F(DialogTest, LoadToBankZeroNeedsYes) {
    op().first_bank = 0;
    op().bank = 3;
    const std::string warning =
        "  Load to Bank number (0-3) ?\n  Loading Bank 0!!!\n  Are you sure to load to bank 0? (Y/N)\n";
    const std::string kind_question = "  Load FPGA image (press F) or SW (press S)?\n";
    for (const char* keys : {"0n", "0q", "0\r2"}) {
        set_key_script(keys);
        EXPECT_EQ(load(dialog_kind::flash).result, load_result::cancelled) << keys;
        EXPECT_EQ(out.take(), warning) << keys;
    }
    set_key_script("0Yq");
    EXPECT_EQ(load(dialog_kind::flash).result, load_result::cancelled);
    EXPECT_EQ(out.take(), warning + kind_question);
    // A line feed goes back to the bank question as its next key.
    set_key_script("0\n2q");
    const load_answer answer = load(dialog_kind::flash);
    EXPECT_EQ(answer.result, load_result::cancelled);
    EXPECT_EQ(out.take(), warning + "Invalid bank -38. Only Bank 0 to 3 in valid\n" + kind_question);
    EXPECT_FALSE(answer.choice.target_chosen);  // nothing kept from a cancelled dialog
}

TEST_F(DialogFileTest, FlashLoadKeepsFullPathAndSendsFirst25Characters) {
    op().seq_no = 9;
    op().seq_count = 9;
    set_key_script("2xS1\r" + comment30 + "\ny");
    const load_answer answer = load(dialog_kind::flash);
    EXPECT_EQ(answer.result, load_result::go);
    record_download_choice(u(), answer.choice);
    EXPECT_EQ(op().file_type, file_type_software);
    EXPECT_EQ(op().bank, 2);
    EXPECT_EQ(op().file_path, long_srec);
    EXPECT_EQ(op().file_name.view(), long_srec.substr(0, 25));
    EXPECT_EQ(op().comment.view(), comment30.substr(0, 25));
    EXPECT_EQ(op().seq_no, 0u);
    EXPECT_EQ(op().seq_count, 0u);
    const std::string text = out.text();
    EXPECT_TRUE(has(text, "  The following files can be loaded\n\n")) << text;
    EXPECT_TRUE(has(text, "\n  Type comment\nComment: " + comment30.substr(0, 25) + "\n")) << text;
}

TEST_F(DialogFileTest, FlashLoadDeclinedOrNoFileChosen) {
    set_key_script("3f1\rmine\nn");
    const load_answer declined = load(dialog_kind::flash);
    EXPECT_EQ(declined.result, load_result::declined);
    EXPECT_EQ(declined.choice.file_type, file_type_fpga);
    EXPECT_EQ(declined.choice.path, "alpha.bin");
    EXPECT_EQ(declined.choice.comment, "mine");
    set_key_script("1Fq");  // q at the file number
    const load_answer none = load(dialog_kind::flash);
    EXPECT_EQ(none.result, load_result::failed);
    EXPECT_TRUE(none.choice.target_chosen && !none.choice.file_checked);
}

TEST_F(DialogFileTest, EepromLoadAsksChannelOnlyForPaAndTc) {
    op().bank = 3;
    set_key_script("1" "1\r" "y");
    const load_answer controller = load(dialog_kind::eeprom);
    EXPECT_EQ(controller.result, load_result::go);
    EXPECT_EQ(controller.choice.file_type, file_type_controller);
    EXPECT_EQ(controller.choice.bank, 3);
    EXPECT_TRUE(controller.choice.comment.empty());
    const std::string text = out.take();
    EXPECT_TRUE(has(text, "  Load to\n  1) Controller\n  2) Charger\n  3) PA\n  4) TC\n  q) return\n"));
    EXPECT_FALSE(has(text, "comment"));

    set_key_script("93" "72" "1\r" "y");
    const load_answer pa = load(dialog_kind::eeprom);
    EXPECT_EQ(pa.result, load_result::go);
    EXPECT_EQ(pa.choice.file_type, file_type_pa);
    EXPECT_EQ(pa.choice.bank, 1);
    EXPECT_TRUE(has(out.take(), "  Load to channel(1-4)?\n  Not in range. Try agian\n"));

    for (const char* keys : {"q", "4q"}) {
        set_key_script(keys);
        EXPECT_EQ(load(dialog_kind::eeprom).result, load_result::cancelled) << keys;
    }
}

TEST_F(DialogFileTest, CommandLineLoadAsksNothing) {
    // No keys at all: a question would have been answered "cancel".
    load_answer answer = check_load_file("alpha.bin", comment30);
    EXPECT_EQ(answer.result, load_result::go);
    EXPECT_EQ(answer.choice.comment, comment30.substr(0, 25));
    EXPECT_FALSE(answer.choice.target_chosen);
    EXPECT_EQ(check_load_file("missing.bin", "").result, load_result::failed);
    EXPECT_EQ(out.take(), "  File \"missing.bin\" does not exist\n");

    const std::string longest(79, 'n');
    std::ofstream(longest) << "x";
    answer = check_load_file(longest, "");
    EXPECT_EQ(answer.result, load_result::go);
    record_download_choice(u(), answer.choice);
    EXPECT_EQ(op().file_path, longest);
    EXPECT_EQ(op().file_name.size(), 25u);
    // Cut to 79 characters, this one would name the file above.
    EXPECT_EQ(check_load_file(longest + "n", "").result, load_result::failed);
    EXPECT_TRUE(has(out.take(), "File name too long"));
}

TEST_F(DialogTest, FlashGetOnBankZeroSendsFirstFileRequest) {
    op().expected_seq = 7;
    op().block_received.raise();
    op().output_folder = "old";
    take("gxS02");
    EXPECT_EQ(op_state(), operation_state::uploading);
    EXPECT_EQ(out.text(),
              "\n  Get FPGA image (press F) or SW (press S)?\n  From Bank number (1-3) ?\n"
              "Invalid bank 0. Only Bank 1 to 3 in valid\n");
    ASSERT_EQ(FakeClockAndLink::sent().size(), 1u);
    const auto& m = FakeClockAndLink::sent()[0].bytes;
    EXPECT_EQ(FakeClockAndLink::sent()[0].sub, sub_byte(sub_code::FILE_REQ));
    EXPECT_EQ(m[file_req_at::index], 2);
    EXPECT_EQ(m[file_req_at::file_type], file_type_software);
    EXPECT_EQ(get_be16(m.data() + file_req_at::block_size), 512);
    EXPECT_EQ(get_be16(m.data() + file_req_at::block_number), 0);
    EXPECT_EQ(op().expected_seq, 0u);
    EXPECT_FALSE(op().block_received.test());
    EXPECT_EQ(op().output_folder.size(), 19u);  // a new time stamp
}

TEST_F(DialogTest, CancelledGetLeavesRunningUploadAlone) {
    op_state() = operation_state::uploading;
    op().file_type = file_type_fpga;
    op().bank = 3;
    for (const char* keys : {"gq", "gSq", "hq", "h3q"}) {
        take(keys);
    }
    EXPECT_EQ(op_state(), operation_state::uploading);
    EXPECT_EQ(op().file_type, file_type_fpga);
    EXPECT_EQ(op().bank, 3);
    EXPECT_TRUE(FakeClockAndLink::sent().empty());
}

TEST_F(DialogTest, EepromGetAwayFromBankZeroRebootsThere) {
    op().current_bank = 1;
    op().boot_bank = 2;
    op().boot_status = boot_status_ack;  // an old report, not the answer
    take("h1");
    EXPECT_EQ(op_state(), operation_state::uploading);
    EXPECT_EQ(op().boot_bank, 0);
    EXPECT_EQ(op().boot_status, boot_status_none);
    ASSERT_EQ(FakeClockAndLink::sent().size(), 2u);
    EXPECT_EQ(FakeClockAndLink::sent()[0].sub, sub_byte(sub_code::EEPROM_INFO_REQ));
    EXPECT_EQ(only(sub_code::EEPROM_INFO_REQ, eeprom_info_req_at::file_type), file_type_controller);
    EXPECT_EQ(only(sub_code::REBOOT_REQ, param_p1), 0x80);
    EXPECT_TRUE(has(out.text(), "\n  Get EEPROM image from\n  1) Controller\n"));
}

TEST_F(DialogTest, EepromGetAsksChannelWithItsOwnWording) {
    take("h403");
    EXPECT_TRUE(has(out.text(), "  Load from channel(1-4)?\n  Not in range. Try agian\n"));
    EXPECT_EQ(only(sub_code::EEPROM_INFO_REQ, eeprom_info_req_at::file_type), file_type_tc);
    EXPECT_EQ(only(sub_code::EEPROM_INFO_REQ, eeprom_info_req_at::channel), 2);
    EXPECT_EQ(only(sub_code::FILE_REQ, file_req_at::index), 2);
}

// A command-line run starts its gets and boots with the answers known: nothing is asked, and
// the output folder made at its start is kept.
TEST_F(DialogTest, CommandLineGetAndBootAskNothing) {
    op().batch_mode = 1;
    op().output_folder = "run_folder";
    set_key_script("3");
    EXPECT_TRUE(begin_get(u(), file_type_pa, 1, op_state()));
    EXPECT_EQ(op().output_folder.view(), "run_folder");
    EXPECT_EQ(only(sub_code::EEPROM_INFO_REQ, eeprom_info_req_at::channel), 1);
    EXPECT_EQ(only(sub_code::FILE_REQ, file_req_at::file_type), file_type_pa);

    begin_boot(u(), 2, op_state());
    EXPECT_EQ(op_state(), operation_state::boot_requested);
    EXPECT_EQ(op().boot_bank, 2);
    EXPECT_EQ(only(sub_code::REBOOT_REQ, param_p1), 0x82);
    EXPECT_TRUE(key_waiting());
    EXPECT_EQ(out.text(), "");
}

TEST_F(DialogTest, BootAcceptsEveryBankAfterYes) {
    set_key_script("70xy");
    EXPECT_EQ(boot_dialog(), std::optional<std::uint8_t>(0));
    EXPECT_EQ(out.take(), "  Enter bank (0-3)\n  Boot to bank 0 Y/N?\n");
    set_key_script("3Y");
    EXPECT_EQ(boot_dialog(), std::optional<std::uint8_t>(3));
    for (const char* keys : {"q", "2n", "2N", "2Q", "2"}) {
        set_key_script(keys);
        EXPECT_EQ(boot_dialog(), std::nullopt) << keys;
    }
}

TEST_F(DialogTest, VerboseLevelKeepsLowEightBitsAndSurvivesCancel) {
    take("v300\r");
    EXPECT_EQ(op().verbose_level, 44);
    EXPECT_EQ(out.take().rfind("Enter verbose level\n300", 0), 0u);
    take("v5q");
    EXPECT_EQ(op().verbose_level, 44);
}

TEST_F(DialogTest, LogRetrievalStartsAtBlockZero) {
    send_log_request(u(), 2);  // an earlier retrieval left its block in the template
    op().expected_seq = 2;
    op().block_received.raise();
    begin_log(u(), false, op_state());
    EXPECT_EQ(op_state(), operation_state::fetching_log);
    EXPECT_EQ(out.text(), "Get Log\n");
    EXPECT_EQ(op().expected_seq, 0u);
    EXPECT_FALSE(op().block_received.test());
    ASSERT_EQ(sent(sub_code::LOG_REQ).size(), 2u);
    EXPECT_EQ(sent(sub_code::LOG_REQ)[1].bytes[log_req_at::block], 0);
}

TEST_F(DialogTest, LogListingWithoutEntriesIsALineEnd) {
    const std::vector<std::uint8_t> buffer(16, 'a');
    for (const auto& [count, length] : {std::pair{0, 8}, {-1, 8}, {2, 0}, {2, -8}}) {
        print_log_entries(count, buffer.data(), length, buffer.size());
        EXPECT_EQ(out.take(), "\n\r") << count << " " << length;
    }
}

TEST_F(DialogTest, LogListingNumbersFromZeroAndStaysInsideSlotsAndBuffer) {
    const std::string slots("first\0zzsecond\0zABCDEFGH", 24);
    const std::vector<std::uint8_t> buffer(slots.begin(), slots.end());
    EXPECT_EQ(print_log_entries(3, buffer.data(), 8, buffer.size()), 0);
    const std::string all = "\n\r 0: first\n 1: second\n 2: ABCDEFGH\n";
    EXPECT_EQ(out.take(), all);
    // More entries claimed than the buffer holds: only whole slots inside it are printed.
    print_log_entries(200, buffer.data(), 8, buffer.size());
    EXPECT_EQ(out.take(), all);
    print_log_entries(3, buffer.data(), 8, 20);
    EXPECT_EQ(out.take(), "\n\r 0: first\n 1: second\n");
}

}  // namespace
