// Runs of the program on the stand-in card: the driver libraries built into card-sim/ beside
// the program under test, found through LD_LIBRARY_PATH on Linux and, under wine, as copies
// beside a copy of kestrel.exe (the folder of the .exe is searched first). The card and the
// simulated unit behind it are set up through KESTREL_CARD_... variables, and the card's setup
// record tells what it was given.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "e2e/e2e_fixture.h"
#include "e2e/program_run.h"
#include "tools/unit_sim/sim_memory.h"
#include "tools/unit_sim/sim_record.h"

// What the card noted during one run, from its setup record.
struct card_setup {
    std::vector<std::string> events;           // every line but the data lines, in order
    std::vector<std::vector<std::uint8_t>> configurations;  // the bytes of each configuration
    std::vector<std::string> writes;           // "write 0x00C 0x00000002", ... in order

    bool configured() const { return !configurations.empty(); }
};

// Reads a setup record; nullopt when the file cannot be read or a data line is malformed.
std::optional<card_setup> read_card_setup(const std::filesystem::path& path);

// What the unit behind the card received, from its record file (KESTREL_CARD_RECORD);
// nullopt when the file cannot be read or a line is malformed.
std::optional<std::vector<received_item>> read_unit_record(const std::filesystem::path& path);

// Every byte with its bits in reverse order (bit 0 with bit 7, 1 with 6, ...).
std::vector<std::uint8_t> bit_reversed(std::vector<std::uint8_t> bytes);


// The environment entry of a card setting: card_variable("BOARD", "2") is
// "KESTREL_CARD_BOARD=2".
std::string card_variable(const std::string& name, const std::string& value);

class CardLinkTest : public EndToEndTest {
protected:
    // The folder of the stand-in libraries of the program under test.
    std::filesystem::path card_sim_dir() const;

    // A working folder of its own inside the test's folder (several runs in one test each get
    // their output folder). Under wine it holds a copy of kestrel.exe, and with `libraries`
    // the stand-in DLLs beside it.
    std::filesystem::path card_folder(const std::string& name, bool libraries = true) const;

    // Starts the program in `folder` (made by card_folder with the same `libraries`) with the
    // card settings `card` ("KESTREL_CARD_..." entries). Natively the library search path is
    // the stand-in's folder, or with `libraries` false a folder without any library.
    std::unique_ptr<program_run> launch_on_card(const std::filesystem::path& folder,
                                                const std::vector<std::string>& args,
                                                const std::vector<std::string>& card,
                                                console_mode console = console_mode::input_null,
                                                bool libraries = true) const;
    run_result run_on_card(const std::filesystem::path& folder,
                           const std::vector<std::string>& args,
                           const std::vector<std::string>& card, bool libraries = true,
                           std::chrono::milliseconds timeout = 60s) const {
        return launch_on_card(folder, args, card, console_mode::input_null, libraries)
            ->wait(timeout);
    }
};
