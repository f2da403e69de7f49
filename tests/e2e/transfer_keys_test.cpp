// The transfer keys of a connected unit, typed on a terminal from the key to the result: G and
// L fetch and load flash images, H and E fetch and load EEPROMs, T and W read the unit's log.
// Each check compares what the unit holds with the files on the PC's side byte for byte.
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "e2e/menu_session.h"
#include "e2e/unit_files.h"

namespace fs = std::filesystem;

namespace {

using bytes = std::vector<std::uint8_t>;

// Files of this name in the output folders of `dir`, sorted.
std::vector<fs::path> outputs_named(const fs::path& dir, const std::string& name) {
    std::vector<fs::path> found;
    for (const fs::path& folder : output_folders(dir)) {
        if (fs::is_regular_file(folder / name)) {
            found.push_back(folder / name);
        }
    }
    return found;
}

// Every file under `dir` whose name ends in ".part".
std::vector<fs::path> part_files(const fs::path& dir) {
    std::vector<fs::path> found;
    std::error_code error;
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(dir, error)) {
        if (entry.path().extension() == ".part") {
            found.push_back(entry.path());
        }
    }
    return found;
}

std::string log_listing(const unit_log& log) {
    std::string listing;
    int i = 0;
    for (const std::string& entry : log.entries) {
        listing += printed("%2d: %s\n", i++, entry.c_str());
    }
    return listing;
}

}  // namespace

class TransferKeys : public MenuRun {
protected:
    // Waits for a finished output file of this name (a file gets its name only when it is
    // complete and checked); its path, or empty.
    fs::path await_output(const std::string& name, std::chrono::milliseconds timeout,
                          std::size_t already = 0) const {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        for (;;) {
            const std::vector<fs::path> found = outputs_named(dir_, name);
            if (found.size() > already) {
                return found.back();
            }
            if (std::chrono::steady_clock::now() > deadline) {
                return {};
            }
            std::this_thread::sleep_for(50ms);
        }
    }

    // Types one line of text ended by Enter: natively the program edits the line itself from
    // single keys; under wine the console host does the editing and keys typed ahead are kept
    // for the line.
    void type_line(const std::string& text) {
        if (target_.wine) {
            std::this_thread::sleep_for(500ms);
        }
        EXPECT_TRUE(program_->type(text + "\r")) << target_.name();
    }

    // Waits for each text in turn after `from`, failing with the screen when one is missing.
    std::size_t expect_steps(std::initializer_list<std::string_view> texts, std::size_t from,
                             std::chrono::milliseconds timeout = 10s) {
        const std::size_t at = await_in_order(texts, from, timeout);
        EXPECT_NE(at, std::string::npos) << target_.name() << ": expected, in order:\n"
                                         << ::testing::PrintToString(std::vector<std::string>(
                                                texts.begin(), texts.end()))
                                         << "\nthe screen was:\n" << screen_from(from);
        return at;
    }
};

TEST_F(TransferKeys, GetsAFlashImageFromAnotherBankThenLoadsAFileToBank2) {
    const std::string image_name = "kestrel_image.bin";
    const bytes image = pattern_bytes(3000, 1);  // six chunks, the last one short
    write_bytes(dir_ / image_name, image);
    ASSERT_NO_FATAL_FAILURE(start_connected());
    const unit_memory factory = unit_->memory();

    // G: the FPGA image of bank 2 while the unit runs bank 1; the unit boots its loader first
    // and the file lands in a time-stamped folder as FW_Bank2.bin.
    std::size_t from = mark();
    press("G");
    ASSERT_NE(expect_steps({"\n  Get FPGA image (press F) or SW (press S)?\n"}, from),
              std::string::npos);
    press("F");
    ASSERT_NE(expect_steps({"  From Bank number (1-3) ?\n"}, from), std::string::npos);
    press("2");
    const fs::path fetched = await_output("FW_Bank2.bin", 30s);
    ASSERT_FALSE(fetched.empty()) << target_.name() << ": no FW_Bank2.bin; the screen was:\n"
                                  << screen_from(from);
    EXPECT_EQ(read_bytes(fetched), factory.banks[2].fpga.content) << target_.name();
    EXPECT_EQ(unit_->current_bank(), 0) << "the image is served by the boot loader";
    EXPECT_NE(await_text(connected_menu(0, 0), from, redraw_wait()), std::string::npos)
        << target_.name() << ": no menu after the get:\n" << screen_from(from);

    // L: bank 2, FPGA image, the only *.bin file, a comment, and yes.
    from = mark();
    press("L");
    ASSERT_NE(expect_steps({"Load Menu", "  Please follow the instructions below\n\n",
                            "  Load to Bank number (1-3) ?\n"},
                           from, redraw_wait()),
              std::string::npos);
    press("2");
    ASSERT_NE(expect_steps({"  Load FPGA image (press F) or SW (press S)?\n"}, from),
              std::string::npos);
    press("F");
    ASSERT_NE(expect_steps({"  The following files can be loaded\n\n",
                            "  1  " + image_name, "\n  Type in the associated file no\n"},
                           from),
              std::string::npos);
    press("1\r");
    ASSERT_NE(expect_steps({"\n  Filename: " + image_name + "\n", "\n  Type comment\n"}, from),
              std::string::npos);
    // Backspace as Ctrl-H, which a terminal may send instead of DEL, erases too.
    type_line("from the kez\by test");
    ASSERT_NE(expect_steps({"Comment: from the key test\n", "  Bank          : 2\n",
                            "  File Type     : IMAGE\n",
                            "  File Name     : " + image_name + "\n",
                            "  File Size     : 3000\n",
                            "  Comment       : from the key test\n\n",
                            "  OK to load this file Y/N?\n"},
                           from),
              std::string::npos);
    EXPECT_EQ(unit_->memory().banks[2].fpga.content, factory.banks[2].fpga.content)
        << "loaded before the answer";
    press("y");
    const std::size_t done = expect_steps({"download completed\n"}, from, 30s);
    ASSERT_NE(done, std::string::npos);
    EXPECT_NE(await_text(connected_menu(0, 0), done, redraw_wait()), std::string::npos)
        << target_.name() << ": no menu after the download:\n" << screen_from(from);

    const stored_image stored = unit_->memory().banks[2].fpga;
    EXPECT_TRUE(stored.valid());
    EXPECT_EQ(stored.content, image) << target_.name() << ": bank 2 does not hold the file";
    EXPECT_STREQ(stored.descriptor.file_name, image_name.c_str());
    EXPECT_STREQ(stored.notes.comment, "from the key test");
    EXPECT_EQ(unit_->memory().banks[2].software.content, factory.banks[2].software.content);
    EXPECT_TRUE(part_files(dir_).empty());

    quit();
}

TEST_F(TransferKeys, LoadsAndGetsAnEepromThenTakesAndShowsTheLog) {
    const std::string eeprom_name = "pa_calibration.eeprom";
    const bytes eeprom = pattern_bytes(256, 2);
    write_bytes(dir_ / eeprom_name, eeprom);
    ASSERT_NO_FATAL_FAILURE(start_connected());
    const unit_memory factory = unit_->memory();

    // E: PA, channel 2, the only *.eeprom file, yes. The unit boots its loader for it.
    std::size_t from = mark();
    press("E");
    ASSERT_NE(expect_steps({"Load Menu", "  Please follow the instructions below\n\n",
                            "  Load to\n  1) Controller\n  2) Charger\n  3) PA\n  4) TC\n"
                            "  q) return\n"},
                           from, redraw_wait()),
              std::string::npos);
    press("3");
    ASSERT_NE(expect_steps({"  Load to channel(1-4)?\n"}, from), std::string::npos);
    press("2");
    ASSERT_NE(expect_steps({"  The following files can be loaded\n\n", "  1  " + eeprom_name,
                            "\n  Type in the associated file no\n"},
                           from),
              std::string::npos);
    press("1\r");
    ASSERT_NE(expect_steps({"\n  Filename: " + eeprom_name + "\n",
                            "  File Name     : " + eeprom_name + "\n", "  File Size     : 256\n",
                            "  OK to load this file Y/N?\n"},
                           from),
              std::string::npos);
    press("Y");
    const std::size_t done = expect_steps(
        {"Waiting for booting to bank 0 and start downloading " + eeprom_name + "\n",
         "download completed\n"},
        from, 30s);
    ASSERT_NE(done, std::string::npos);
    // The unit booted its loader for the download and answered with DL_READY alone, which
    // names no bank: the status line may still show the bank reported before.
    EXPECT_NE(await_in_order({"  Connected: Bank ", "  Q: Quit\n"}, done, redraw_wait()),
              std::string::npos)
        << target_.name() << ": no menu after the download:\n" << screen_from(from);
    const unit_memory loaded = unit_->memory();
    const eeprom_device* pa2 = loaded.eeprom(file_type_pa, 1);
    ASSERT_NE(pa2, nullptr);
    EXPECT_EQ(pa2->content, eeprom) << target_.name() << ": PA channel 2 does not hold the file";
    for (const int channel : {0, 2, 3}) {
        EXPECT_EQ(loaded.eeprom(file_type_pa, channel)->content,
                  factory.eeprom(file_type_pa, channel)->content)
            << "PA channel " << channel + 1 << " changed";
    }

    // H: the same EEPROM back, as PA_Channel2.eeprom.
    from = mark();
    press("H");
    ASSERT_NE(expect_steps({"\n  Get EEPROM image from\n", "  3) PA\n", "  q) return\n"}, from),
              std::string::npos);
    press("3");
    ASSERT_NE(expect_steps({"  Load from channel(1-4)?\n"}, from), std::string::npos);
    press("2");
    const fs::path fetched = await_output("PA_Channel2.eeprom", 20s);
    ASSERT_FALSE(fetched.empty()) << target_.name() << ": no PA_Channel2.eeprom; the screen was:\n"
                                  << screen_from(from);
    EXPECT_EQ(read_bytes(fetched), eeprom) << target_.name();
    EXPECT_NE(await_text(connected_menu(0, 0), from, redraw_wait()), std::string::npos)
        << target_.name() << ": no menu after the get:\n" << screen_from(from);

    // T: log.txt with every entry in its 80-byte slot, then the menu again.
    const unit_log log = unit_->memory().log;
    ASSERT_GT(log.entries.size(), unit_log_block_entries) << "the log should span two blocks";
    const bytes expected_log = log_file_bytes(log);
    from = mark();
    press("T");
    ASSERT_NE(expect_steps({"Get Log\n"}, from), std::string::npos);
    const fs::path log_file = await_output("log.txt", 20s);
    ASSERT_FALSE(log_file.empty()) << target_.name() << ": no log.txt; the screen was:\n"
                                   << screen_from(from);
    EXPECT_EQ(read_bytes(log_file), expected_log) << target_.name();
    EXPECT_NE(await_text(connected_menu(0, 0), from, redraw_wait()), std::string::npos)
        << target_.name() << ": no menu after T:\n" << screen_from(from);

    // W: log.txt again and the entries listed, numbered from 0; the listing stays on screen.
    fs::remove_all(log_file.parent_path());
    from = mark();
    press("W");
    const std::size_t listed = expect_steps({"Get Log\n", log_listing(log)}, from);
    ASSERT_NE(listed, std::string::npos);
    const fs::path second_log = await_output("log.txt", 5s);
    ASSERT_FALSE(second_log.empty()) << target_.name() << ": W wrote no log.txt";
    EXPECT_EQ(read_bytes(second_log), expected_log) << target_.name();
    std::this_thread::sleep_for(3500ms);
    EXPECT_EQ(find_on_screen(screen_form(program_->output()), "Connected:", listed),
              std::string::npos)
        << target_.name() << ": the listing was drawn over:\n" << screen_from(from);
    EXPECT_TRUE(part_files(dir_).empty());

    quit();
}
