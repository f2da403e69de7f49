// The program on the card link, against the stand-in card libraries: command-line and menu runs
// on each board type with the simulated unit behind the card, what the card was configured with
// (the bitstream as each board type takes it, the file /bitfile names), and the ends of a start
// that finds no library, meets /card or /index, or fails to configure, each with its status.
#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "e2e/card_run.h"
#include "e2e/menu_session.h"
#include "e2e/unit_files.h"
#include "protocol/messages.h"
#include "tools/unit_sim/sim_samples.h"

namespace fs = std::filesystem;

namespace {

constexpr int status_no_card = 255;          // -1 as the process status
constexpr int status_card_options = 1000 & 0xFF;  // 1000 as a parent process sees it
constexpr int status_setup_failed = 1;
constexpr int status_operation_failed = 4;

const std::vector<int> board_types = {2, 5, 6};

std::string default_bitstream(int board) { return "LMtestV" + std::to_string(board) + ".bit"; }

// A bitstream with the bytes whose reversal is easy to recognise up front, then bytes that
// differ from board to board.
byte_vector bitstream_bytes(std::uint32_t seed) {
    byte_vector bytes = {0x01, 0x0F, 0x80, 0xF0, 0x00, 0xFF, 0x12};
    const byte_vector rest = pattern_bytes(181, seed);
    bytes.insert(bytes.end(), rest.begin(), rest.end());
    return bytes;
}

// The writes start-up makes to SETUP_A and SETUP_B and the receiver to RX_INIT, in order.
const std::vector<std::string> setup_writes = {
    "write 0x00C 0x00000002", "write 0x010 0x00000001", "write 0x1E0 0x00000000"};

// The entry point through which a board type is configured, and the clock it gets.
std::string configure_entry(int board) {
    return board == 6 ? "ADMXRC3_ConfigureFromBuffer" : "ADMXRC2_ConfigureFromBufferDMA";
}
std::string clock_event(int board) {
    return board == 2 ? "clock 0 30000000 Hz" : "clock 0 75000000 Hz";
}

// The bytes a board type's card gets from a bitstream file.
byte_vector configured_form(int board, const byte_vector& file) {
    return board == 2 ? bit_reversed(file) : file;
}

std::vector<std::string> entries_of(const byte_vector& log_file) {
    std::vector<std::string> entries;
    for (std::size_t at = 0; at + unit_log_entry_size <= log_file.size();
         at += unit_log_entry_size) {
        const auto* start = reinterpret_cast<const char*>(log_file.data() + at);
        entries.emplace_back(start, ::strnlen(start, unit_log_entry_size));
    }
    return entries;
}

// The menu of a connected unit on the card: the serial link's toggle to remote access is not
// offered.
std::string card_menu(int bank) {
    std::string menu = connected_menu(bank, 0);
    const std::string toggle = "  #: Toggle between loader mode and remote access\n";
    const std::size_t at = menu.find(toggle);
    if (at != std::string::npos) {
        menu.erase(at, toggle.size());
    }
    return menu;
}

// The requests that name a message, in order, from the unit's record.
std::vector<std::string> requests_in(const fs::path& record) {
    const auto items = read_unit_record(record);
    return items ? request_lines(*items) : std::vector<std::string>{"(no readable record)"};
}

}  // namespace

class CardLink : public CardLinkTest {
protected:
    void SetUp() override {
        CardLinkTest::SetUp();
        if (HasFatalFailure()) {
            return;
        }
        const char* const libraries[] = {target_.wine ? "admxrc3.dll" : "libadmxrc3.so",
                                         target_.wine ? "admxrc.dll" : "libadmxrc.so"};
        for (const char* library : libraries) {
            ASSERT_TRUE(fs::exists(card_sim_dir() / library))
                << "the stand-in card is not built: no " << (card_sim_dir() / library);
        }
    }

    // The settings of a card of a board type with a quick unit, its setup noted in
    // setup.txt and what the unit received in unit.txt (both in the run's folder).
    static std::vector<std::string> card_of(int board) {
        return {card_variable("BOARD", std::to_string(board)),
                card_variable("SETUP_RECORD", "setup.txt"), card_variable("RECORD", "unit.txt"),
                card_variable("BOOT_DELAY", "50")};
    }

    // The screen since `from` (in its compared form) for failure messages.
    std::string screen_of(const program_run& run, std::size_t from) const {
        const std::string screen = screen_form(run.output());
        return from < screen.size() ? screen.substr(from) : std::string();
    }
    // Waits until `text` shows at or after `from`; where it starts, or npos.
    std::size_t await_text(const program_run& run, std::string_view text, std::size_t from,
                           std::chrono::milliseconds timeout) const {
        std::size_t found = std::string::npos;
        run.wait_for_output(
            [&](const std::string& output) {
                found = find_on_screen(screen_form(output), text, from);
                return found != std::string::npos;
            },
            timeout);
        return found;
    }
    void press(program_run& run, std::string_view keys) const {
        EXPECT_TRUE(run.wait_for_single_keys(5s))
            << target_.name() << ": the terminal still edits lines, so keys wait for Enter";
        EXPECT_TRUE(run.type(keys)) << target_.name() << ": cannot type " << keys;
    }
    std::chrono::milliseconds redraw_wait() const {
        return target_.wine ? std::chrono::milliseconds(20s) : std::chrono::milliseconds(10s);
    }
};

// On each board type one command-line run shows the bank table, downloads a file to bank 2,
// reads that bank back and fetches the log, all through the card. The card is configured
// once with the bitstream in the form its board type takes (board type 2 bit-reversed, 5 as
// read, 6 as its library loads it), here from the file /bitfile names for board type 6 beside
// a default one that must not be taken; the clock is set on the ADMXRC2 boards only, and the
// setup writes come in their order. The three runs go side by side, each in a folder of its
// own.
TEST_F(CardLink, CommandLineRunsOnEachBoardTypeLoadReadBackAndFetchTheLog) {
    struct board_run {
        int board;
        fs::path folder;
        byte_vector bitstream;
        byte_vector image;
        std::unique_ptr<program_run> program;
        run_result result;
    };
    std::vector<board_run> runs;
    for (const int board : board_types) {
        board_run run{board, card_folder("board" + std::to_string(board)), {}, {}, {}, {}};
        run.bitstream = bitstream_bytes(static_cast<std::uint32_t>(board));
        run.image = pattern_bytes(1300, static_cast<std::uint32_t>(100 + board));
        write_bytes(run.folder / "a.bin", run.image);
        std::vector<std::string> args = {"+info", "/load_fw", "a.bin", "/bank", "2", "+get_fw",
                                         "+get_log"};
        if (board == 6) {
            write_bytes(run.folder / "my.bit", run.bitstream);
            write_bytes(run.folder / default_bitstream(board), pattern_bytes(64, 99));
            args.insert(args.begin(), {"/bitfile", "my.bit"});
        } else {
            write_bytes(run.folder / default_bitstream(board), run.bitstream);
        }
        runs.push_back(std::move(run));
        runs.back().program = launch_on_card(runs.back().folder, args, card_of(board));
    }
    for (board_run& run : runs) {
        run.result = run.program->wait(90s);
    }

    const unit_memory factory = factory_memory();
    const std::vector<std::string> factory_log(factory.log.entries.begin(),
                                               factory.log.entries.end());
    for (const board_run& run : runs) {
        SCOPED_TRACE("board type " + std::to_string(run.board) + ", " + target_.name());
        const run_result& result = run.result;
        ASSERT_FALSE(result.timed_out) << describe(result);
        EXPECT_EQ(result.status, 0) << describe(result);
        EXPECT_NE(result.out.find(bank_table_text(factory)), std::string::npos)
            << "expected the bank table\n" << bank_table_text(factory) << describe(result);
        EXPECT_NE(result.out.find("Save FW a.bin to bank 2\n"), std::string::npos)
            << describe(result);
        EXPECT_NE(result.out.find("\ndownload completed\n"), std::string::npos)
            << describe(result);

        // The requests went through the card in command-line order: the connection, the
        // download in whole chunks, the unit's boot loader for the read-back of three blocks,
        // the log in two blocks, read twice. The card link has no closing message.
        std::vector<std::string> expected = {"BOOTINFO_REQ", "FLASH_INFO_REQ"};
        append_lines(expected, download_lines(file_type_fpga, 2, run.image.size()));
        expected.push_back(reboot_line(0));
        for (std::uint16_t block = 0; block < 3; ++block) {
            expected.push_back(file_request_line(2, file_type_fpga, block));
        }
        for (int read = 0; read < 2; ++read) {
            expected.push_back("LOG_REQ block 0");
            expected.push_back("LOG_REQ block 1");
        }
        EXPECT_EQ(without_boot_polls(requests_in(run.folder / "unit.txt")), expected);

        const std::vector<fs::path> folders = output_folders(run.folder);
        ASSERT_EQ(folders.size(), 1U) << describe(result);
        EXPECT_EQ(read_bytes(folders[0] / "FW_Bank2.bin"), run.image)
            << "the bank read back differs from the file loaded";

        // The log: the factory entries the run's events left in place, oldest first, then
        // the entries of the run.
        const std::optional<byte_vector> log = read_bytes(folders[0] / "log.txt");
        ASSERT_TRUE(log.has_value()) << "no log.txt";
        EXPECT_EQ(log->size() % unit_log_entry_size, 0U) << log->size();
        const std::vector<std::string> entries = entries_of(*log);
        ASSERT_FALSE(entries.empty());
        const auto first = std::find(factory_log.begin(), factory_log.end(), entries.front());
        ASSERT_NE(first, factory_log.end())
            << "the log does not begin with a factory entry: " << ::testing::PrintToString(entries);
        const std::vector<std::string> kept(first, factory_log.end());
        ASSERT_GT(entries.size(), kept.size()) << ::testing::PrintToString(entries);
        EXPECT_EQ(std::vector<std::string>(entries.begin(), entries.begin() + kept.size()), kept);

        const std::optional<card_setup> setup = read_card_setup(run.folder / "setup.txt");
        ASSERT_TRUE(setup.has_value()) << "no readable setup record";
        ASSERT_EQ(setup->configurations.size(), 1U) << ::testing::PrintToString(setup->events);
        EXPECT_EQ(setup->configurations[0], configured_form(run.board, run.bitstream));
        const std::string configured = "configure " + std::to_string(run.bitstream.size()) +
                                       " bytes by " + configure_entry(run.board);
        EXPECT_NE(std::find(setup->events.begin(), setup->events.end(), configured),
                  setup->events.end())
            << ::testing::PrintToString(setup->events);
        const bool clock_set = std::find(setup->events.begin(), setup->events.end(),
                                         clock_event(run.board)) != setup->events.end();
        EXPECT_EQ(clock_set, run.board != 6) << ::testing::PrintToString(setup->events);
        EXPECT_EQ(setup->writes, setup_writes) << ::testing::PrintToString(setup->events);
    }
}

// A run without arguments is a menu run on the card: on each board type it connects to the
// unit in bank 1, S shows the banks, B 2 y boots bank 2, and Q ends the run with the
// goodbye to the unit. The card gets the board type's default bitstream.
TEST_F(CardLink, MenuRunWithoutArgumentsOnEachBoardType) {
    const unit_memory factory = factory_memory();
    for (const int board : board_types) {
        SCOPED_TRACE("board type " + std::to_string(board) + ", " + target_.name());
        const fs::path folder = card_folder("menu" + std::to_string(board));
        const byte_vector bitstream = bitstream_bytes(static_cast<std::uint32_t>(10 + board));
        write_bytes(folder / default_bitstream(board), bitstream);
        const std::unique_ptr<program_run> program =
            launch_on_card(folder, {}, card_of(board), console_mode::terminal);

        ASSERT_NE(await_text(*program, card_menu(1), 0, 30s), std::string::npos)
            << "no connected menu; the screen was:\n" << screen_of(*program, 0);

        std::size_t from = screen_form(program->output()).size();
        press(*program, "S");
        const std::string table = bank_table_text(factory);
        EXPECT_NE(await_text(*program, table + "\n" + card_menu(1), from, redraw_wait()),
                  std::string::npos)
            << "expected the bank table\n" << table << "\nbut the screen after S was:\n"
            << screen_of(*program, from);

        from = screen_form(program->output()).size();
        press(*program, "B");
        ASSERT_NE(await_text(*program, "  Enter bank (0-3)\n", from, 10s), std::string::npos)
            << screen_of(*program, from);
        press(*program, "2");
        ASSERT_NE(await_text(*program, "  Boot to bank 2 Y/N?\n", from, 10s), std::string::npos)
            << screen_of(*program, from);
        press(*program, "y");
        const std::size_t booted =
            await_text(*program, "\n  Bootload completed\n", from, 20s);
        EXPECT_NE(booted, std::string::npos) << screen_of(*program, from);
        EXPECT_NE(await_text(*program, card_menu(2), from, redraw_wait()),
                  std::string::npos)
            << "no menu for bank 2:\n" << screen_of(*program, from);

        from = screen_form(program->output()).size();
        press(*program, "Q");
        const run_result result = program->wait(20s);
        ASSERT_FALSE(result.timed_out) << "Q did not end the run: " << describe(result);
        EXPECT_EQ(result.status, 0) << describe(result);
        EXPECT_NE(find_on_screen(screen_form(result.out), "\nTerminating sucker thread\n", from),
                  std::string::npos)
            << describe(result);

        // S asked nothing of the unit; B asked for bank 2.
        EXPECT_EQ(without_boot_polls(requests_in(folder / "unit.txt")),
                  (std::vector<std::string>{"BOOTINFO_REQ", "FLASH_INFO_REQ", reboot_line(2)}));

        const std::optional<card_setup> setup = read_card_setup(folder / "setup.txt");
        ASSERT_TRUE(setup.has_value()) << "no readable setup record";
        ASSERT_EQ(setup->configurations.size(), 1U) << ::testing::PrintToString(setup->events);
        EXPECT_EQ(setup->configurations[0], configured_form(board, bitstream));
    }
}

// Runs that end before or during the card's start, each with its own status and message:
// no library on the search path; /card or /index after the bitstream was read (a missing
// bitstream stops the run first); a configuration the card refuses on each interface.
// The runs go side by side.
TEST_F(CardLink, StartEndsWithoutLibraryOnCardOptionsAndOnAFailedConfiguration) {
    struct start_case {
        std::string name;
        int board;
        std::vector<std::string> args;
        std::vector<std::string> extra;  // further card settings
        bool libraries = true;
        bool bitstream = true;
        int status = 0;
        std::string message;
    };
    const std::string card_options =
        "Neither /card nor /index are supported anymore. Default is index 0\n";
    std::vector<start_case> cases;
    cases.push_back({"nolib", 6, {"+info"}, {}, false, true, status_no_card,
                     target_.wine ? "admxrc.dll not found.\n" : "libadmxrc.so not found.\n"});
    cases.push_back(
        {"card6", 6, {"/card", "0", "+info"}, {}, true, true, status_card_options, card_options});
    cases.push_back(
        {"index5", 5, {"/index", "0", "+info"}, {}, true, true, status_card_options, card_options});
    cases.push_back({"card2nobit", 2, {"/card", "0"}, {}, true, false, status_setup_failed,
                     ") TO LOAD BIT FILE \"LMtestV2.bit\"\n"});
    cases.push_back({"fail6", 6, {"+info"},
                     {card_variable("FAIL", "ADMXRC3_ConfigureFromBuffer")}, true, true,
                     status_setup_failed,
                     "Failed to configure FPGA, ERROR = stand-in card: ADMXRC3_ConfigureFromBuffer "
                     "made to fail by KESTREL_CARD_FAIL.\n"});
    for (const int board : {2, 5}) {
        cases.push_back({"fail" + std::to_string(board), board, {"+info"},
                         {card_variable("FAIL", "ADMXRC2_ConfigureFromBufferDMA")}, true, true,
                         status_setup_failed,
                         "Failed to configure FPGA with bitstream file, ERROR = stand-in card: "
                         "ADMXRC2_ConfigureFromBufferDMA made to fail by KESTREL_CARD_FAIL.\n"});
    }
    std::vector<fs::path> folders;
    std::vector<std::unique_ptr<program_run>> programs;
    for (const start_case& c : cases) {
        folders.push_back(card_folder(c.name, c.libraries));
        if (c.bitstream) {
            write_bytes(folders.back() / default_bitstream(c.board), bitstream_bytes(7));
        }
        std::vector<std::string> card = card_of(c.board);
        card.insert(card.end(), c.extra.begin(), c.extra.end());
        programs.push_back(launch_on_card(folders.back(), c.args, card, console_mode::input_null,
                                          c.libraries));
    }
    std::vector<run_result> results;
    for (const std::unique_ptr<program_run>& program : programs) {
        results.push_back(program->wait(30s));
    }

    for (std::size_t k = 0; k < cases.size(); ++k) {
        const start_case& c = cases[k];
        const run_result& result = results[k];
        const fs::path& folder = folders[k];
        SCOPED_TRACE(c.name + ", " + target_.name());
        ASSERT_FALSE(result.timed_out) << describe(result);
        EXPECT_EQ(result.status, c.status) << describe(result);
        EXPECT_NE(result.out.find(c.message), std::string::npos)
            << "expected \"" << c.message << "\": " << describe(result);
        EXPECT_EQ(result.out.find("Terminating sucker thread"), std::string::npos)
            << describe(result);
        EXPECT_EQ(result.out.find("Bank information"), std::string::npos) << describe(result);
        EXPECT_TRUE(output_folders(folder).empty());
        if (!c.bitstream) {
            EXPECT_NE(result.out.find("SET UP: FAILED ("), std::string::npos)
                << describe(result);
            EXPECT_EQ(result.out.find(card_options), std::string::npos) << describe(result);
        }
        if (!c.libraries) {
            EXPECT_FALSE(fs::exists(folder / "setup.txt")) << "a library was loaded";
            continue;
        }
        // The card was found (the library was read) but never configured, and the design was
        // never set up.
        const std::optional<card_setup> setup = read_card_setup(folder / "setup.txt");
        ASSERT_TRUE(setup.has_value()) << "no readable setup record";
        EXPECT_FALSE(setup->configured()) << ::testing::PrintToString(setup->events);
        EXPECT_TRUE(setup->writes.empty()) << ::testing::PrintToString(setup->events);
        EXPECT_FALSE(setup->events.empty()) << "the card was never opened";
    }
}

// A command-line run whose download fails at the unit ends with the status of a failed
// operation: the unit refuses chunk 3 of six, and nothing more is sent for the file.
TEST_F(CardLink, FailedDownloadOverTheCardEndsWithTheFailureStatus) {
    const int board = 5;
    const fs::path folder = card_folder("dlfail");
    write_bytes(folder / default_bitstream(board), bitstream_bytes(5));
    write_bytes(folder / "six_chunks.bin", pattern_bytes(3000, 4));
    std::vector<std::string> card = card_of(board);
    card.push_back(card_variable("DL_FAIL_AT", "3"));
    const run_result result =
        run_on_card(folder, {"/bank", "2", "/load_fw", "six_chunks.bin"}, card, true, 90s);
    ASSERT_FALSE(result.timed_out) << describe(result);
    EXPECT_EQ(result.status, status_operation_failed) << describe(result);
    EXPECT_NE(result.out.find("Save FW six_chunks.bin to bank 2\n"), std::string::npos)
        << describe(result);
    EXPECT_NE(result.out.find("\ndownload failed\n"), std::string::npos) << describe(result);
    EXPECT_EQ(result.out.find("download completed"), std::string::npos) << describe(result);

    const std::vector<std::string> asked = requests_in(folder / "unit.txt");
    const auto chunks = std::count_if(asked.begin(), asked.end(), [](const std::string& l) {
        return l.starts_with("DL_DATA ");
    });
    EXPECT_EQ(chunks, 4) << "chunks 0 to 3, then no more: " << ::testing::PrintToString(asked);
}
