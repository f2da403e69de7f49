// The menu keys of a connected unit, typed one by one on a terminal: S shows what the unit
// reported about its banks, U lists the folder, V sets the verbose level, B boots a bank.
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "e2e/header_date.h"
#include "e2e/menu_session.h"
#include "e2e/wire_log.h"

namespace {

constexpr const char* banner = "Kestrel QX_RL4471902-3";


// What the unit got apart from KEEP_ALIVE, which an idle program sends on its own.
std::vector<std::string> requests_but_keep_alive(const std::vector<std::string>& lines) {
    std::vector<std::string> kept;
    std::copy_if(lines.begin(), lines.end(), std::back_inserter(kept), [](const std::string& line) {
        return line != short_request_line(sub_code::KEEP_ALIVE);
    });
    return kept;
}

// REBOOT_REQ as the unit receives it: CMD 0x48, SUB 0, P1 0x80 with the bank in its low bits.
std::string reboot_line(std::uint8_t bank) {
    const std::uint8_t bytes[] = {unit_address, pc_address, 0x00, 0x02,
                                  cmd_reboot,   0x00,       static_cast<std::uint8_t>(0x80 | bank)};
    return std::string(received_kind_name(received_kind::message)) + " " +
           hex_text(bytes, sizeof bytes);
}

}  // namespace

TEST_F(MenuRun, ShowsTheBanksListsTheFolderAndSetsTheVerboseLevel) {
    // One FPGA image in the folder, written at a known moment; no software or EEPROM files.
    const std::string image_name = "fpga_test_image.bin";
    const std::size_t image_size = 4321;
    const std::time_t written = 1773500966;  // a Saturday in March 2026
    {
        std::ofstream image(dir_ / image_name, std::ios::binary);
        image << std::string(image_size, '\x5A');
    }
    const timespec times[2] = {{written, 0}, {written, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, (dir_ / image_name).c_str(), times, 0), 0);

    ASSERT_NO_FATAL_FAILURE(start_connected());

    // S: the bank table from what the unit reported at connection, above the status line and
    // the menu, under a fresh header. Nothing is asked of the unit for it.
    const std::vector<std::string> sent_before_s = requests_but_keep_alive(wire());
    std::size_t from = mark();
    press("S");
    const std::string table = bank_table_text(unit_->memory());
    const std::size_t shown = await_text(table + "\n" + connected_menu(1, 0), from, redraw_wait());
    ASSERT_NE(shown, std::string::npos) << target_.name() << ": expected the bank table\n"
                                        << table << "\nbut the screen after S was:\n"
                                        << screen_from(from);
    const std::string screen = screen_form(program_->output());
    const std::size_t header = find_on_screen(screen, banner, from);
    EXPECT_TRUE(header != std::string::npos && header < shown)
        << target_.name() << ": no header above the bank table:\n" << screen_from(from);
    // Spot checks of what the table above is made of: bank 1's image lies in the second
    // 8-MiB bank of the flash, and bank 3 is empty.
    const std::string table_on_screen = screen.substr(shown);
    EXPECT_NE(find_on_screen(table_on_screen, "  Flash addr    : 0x86800000  "), std::string::npos)
        << target_.name();
    EXPECT_NE(find_on_screen(table_on_screen, "  Bank 3 does not contain valid images\n\n"),
              std::string::npos)
        << target_.name();
    EXPECT_EQ(requests_but_keep_alive(wire()), sent_before_s)
        << target_.name() << ": S asked the unit for something";

    // U: each pattern with its own listing, then the status line and the menu, not cleared and
    // without a header.
    from = mark();
    press("U");
    const std::string size_text = std::to_string(image_size);
    const std::string listing =
        "\n  Name                            Size Time\n\n"
        "  1  " + image_name + std::string(30 - image_name.size(), ' ') + " " +
        std::string(15 - size_text.size(), ' ') + size_text + " " +
        header_date(std::chrono::system_clock::from_time_t(written)) + "\n"
        "\n  No *.srec files in current directory\n"
        "\n  No *.eeprom files in current directory\n"
        "\n" + connected_menu(1, 0);
    EXPECT_NE(await_text(listing, from, redraw_wait()), std::string::npos)
        << target_.name() << ": expected the listing\n" << listing
        << "\nbut the screen after U was:\n" << screen_from(from);
    EXPECT_EQ(find_on_screen(screen_form(program_->output()), banner, from), std::string::npos)
        << target_.name() << ": U drew a header:\n" << screen_from(from);

    // V: 300 is level 44 (its low 8 bits); the digits are echoed as typed, and from level 4 on
    // the screen is no longer cleared for a redraw.
    from = mark();
    const std::size_t raw_from = program_->output().size();
    press("V");
    const std::size_t question = await_text("Enter verbose level\n", from, 10s);
    ASSERT_NE(question, std::string::npos) << target_.name() << ":\n" << screen_from(from);
    press("300");
    EXPECT_NE(await_text("Enter verbose level\n300", from, 10s), std::string::npos)
        << target_.name() << ": the digits are not echoed:\n" << screen_from(from);
    press("\r");
    const std::size_t redrawn = await_text(connected_menu(1, 44), question, redraw_wait());
    EXPECT_NE(redrawn, std::string::npos)
        << target_.name() << ": no status line with level 44:\n" << screen_from(from);
    const std::size_t redraw_header =
        find_on_screen(screen_form(program_->output()), banner, question);
    EXPECT_TRUE(redraw_header != std::string::npos && redraw_header < redrawn)
        << target_.name() << ": no header above the redrawn menu:\n" << screen_from(from);
    if (!target_.wine) {
        // The native console clears with an erase of the display.
        EXPECT_EQ(program_->output().find("\x1b[2J", raw_from), std::string::npos)
            << "the screen was cleared at verbose level 44";
    }

    quit();
}

TEST_F(MenuRun, BootsTheChosenBankAndReportsAFallBack) {
    ASSERT_NO_FATAL_FAILURE(start_connected());

    // Boot from bank 1 to bank 2: the unit passes through its boot loader (bank 0), which the
    // program waits through, and then reports bank 2.
    std::size_t from = mark();
    press("B");
    ASSERT_NE(await_text("  Enter bank (0-3)\n", from, 10s), std::string::npos)
        << target_.name() << ":\n" << screen_from(from);
    press("2");
    ASSERT_NE(await_text("  Boot to bank 2 Y/N?\n", from, 10s), std::string::npos)
        << target_.name() << ":\n" << screen_from(from);
    EXPECT_EQ(int{unit_->current_bank()}, 1) << "the unit booted before the answer";
    press("y");
    const std::size_t done = await_in_order(
        {"  Boot to bank 2 Y/N?\n", "  Waiting for bootload to complete\n",
         "\n  Bootload completed\n"},
        from, 10s);
    ASSERT_NE(done, std::string::npos) << target_.name() << ":\n" << screen_from(from);
    const auto completed_at = std::chrono::steady_clock::now();
    const std::size_t redrawn = await_text(connected_menu(2, 0), done, redraw_wait());
    const auto redrawn_at = std::chrono::steady_clock::now();
    ASSERT_NE(redrawn, std::string::npos)
        << target_.name() << ": no menu for bank 2:\n" << screen_from(from);
    // The message stays readable for 3 s before the redraw (allowing for when each text was
    // seen here).
    EXPECT_GE(redrawn_at - completed_at, 2s) << target_.name() << ": redrawn too early";
    EXPECT_EQ(find_on_screen(screen_form(program_->output()), "Bootload failed", from),
              std::string::npos)
        << target_.name() << ":\n" << screen_from(from);
    EXPECT_EQ(int{unit_->current_bank()}, 2);

    // One request for bank 2, then the boot report is asked for.
    std::vector<std::string> lines = wire();
    auto request = std::find(lines.begin(), lines.end(), reboot_line(2));
    ASSERT_NE(request, lines.end()) << target_.name() << ": no REBOOT_REQ for bank 2 in\n"
                                    << ::testing::PrintToString(lines);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), reboot_line(2)), 1) << target_.name();
    EXPECT_NE(std::find(request, lines.end(), short_request_line(sub_code::BOOTINFO_REQ)),
              lines.end())
        << target_.name() << ": no BOOTINFO_REQ after the REBOOT_REQ";

    // Boot to bank 3 while the unit is set to fall back to bank 1: it passes through bank 0,
    // then reports the failure from bank 1.
    sim_faults faults;
    faults.boot_fail_to = 1;
    unit_->set_faults(faults);
    from = mark();
    press("b");
    ASSERT_NE(await_text("  Enter bank (0-3)\n", from, 10s), std::string::npos)
        << target_.name() << ":\n" << screen_from(from);
    press("3");
    ASSERT_NE(await_text("  Boot to bank 3 Y/N?\n", from, 10s), std::string::npos)
        << target_.name() << ":\n" << screen_from(from);
    press("Y");
    const std::size_t failed = await_in_order(
        {"  Boot to bank 3 Y/N?\n", "  Waiting for bootload to complete\n",
         "\n  Bootload failed. Recovered to bank\n"},
        from, 10s);
    ASSERT_NE(failed, std::string::npos) << target_.name() << ":\n" << screen_from(from);
    EXPECT_NE(await_text(connected_menu(1, 0), failed, redraw_wait()), std::string::npos)
        << target_.name() << ": no menu for bank 1 after the fall-back:\n" << screen_from(from);
    EXPECT_EQ(find_on_screen(screen_form(program_->output()), "Bootload completed", from),
              std::string::npos)
        << target_.name() << ":\n" << screen_from(from);
    EXPECT_EQ(int{unit_->current_bank()}, 1);
    lines = wire();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), reboot_line(3)), 1)
        << target_.name() << ": " << ::testing::PrintToString(lines);

    quit();
}
