// What the transfer and command-line tests share: files of chosen sizes written into the test's
// folder and read back, the output folder a run makes, the unit's stores as files, the
// requests the unit received, one readable line each with the fields that tell them apart, and
// a fixture for command-line runs that perform operations.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "e2e/e2e_fixture.h"
#include "tools/unit_sim/sim_memory.h"
#include "tools/unit_sim/sim_record.h"

using byte_vector = std::vector<std::uint8_t>;

// Bytes of the given size that differ from file to file (seed) and from block to block, so
// that a block put in the wrong place or a file mixed up with another shows.
byte_vector pattern_bytes(std::size_t size, std::uint32_t seed);

// Writes the bytes as a file (replacing one of that name); throws std::runtime_error when it
// cannot.
void write_bytes(const std::filesystem::path& path, const byte_vector& bytes);
// The whole file, or nullopt when it cannot be read.
std::optional<byte_vector> read_bytes(const std::filesystem::path& path);

// True when the last part of `path` is named as a run's output folder
// (year_month_day_hour_minute_second).
bool is_output_folder_name(const std::filesystem::path& path);
// The folders in `dir` named as a run's output folder, sorted.
std::vector<std::filesystem::path> output_folders(const std::filesystem::path& dir);
// The names of the entries of a folder, sorted.
std::vector<std::string> folder_entries(const std::filesystem::path& folder);

// The unit's log as a log file holds it: every entry in a slot of 80 bytes, NUL-padded.
byte_vector log_file_bytes(const unit_log& log);

// The text of a fixed text field of the unit's records.
template <std::size_t N>
std::string field_string(const char (&field)[N]) {
    std::size_t length = 0;
    while (length < N && field[length] != '\0') {
        ++length;
    }
    return std::string(field, length);
}

// One line per request the unit received, in order, keep-alives left out (they depend on
// timing only): "BOOTINFO_REQ", "REBOOT_REQ P1 82", "DL_DATA chunk 1 length 512 size 522",
// "FILE_REQ bank 2 type 1 size 512 block 0", "raw 23", ...
std::vector<std::string> request_lines(const std::vector<received_item>& items);

// The lines without the BOOTINFO_REQ that the program sends while it waits for the unit to
// boot after a REBOOT_REQ: it asks every so many passes of its loop, so how many go out depends
// on the speed of the machine.
std::vector<std::string> without_boot_polls(const std::vector<std::string>& lines);

// The lines a connection brings, and the request that ends a run.
std::vector<std::string> connect_lines();
inline const std::string loader_exit_line = "LOADER_EXIT";
// The lines of one whole download of a file of `size` bytes to a bank or channel: the request,
// the description, every chunk, and the re-reading of the flash information.
std::vector<std::string> download_lines(std::uint8_t file_type, std::uint8_t index,
                                        std::size_t size);
// The line of a reboot request to a bank.
std::string reboot_line(std::uint8_t bank);
// The line of a file request for 512-byte blocks.
std::string file_request_line(std::uint8_t index, std::uint8_t file_type, std::uint16_t block);

// Appends `more` to `lines`.
void append_lines(std::vector<std::string>& lines, const std::vector<std::string>& more);

// Command-line runs with the unit on COM3.
class OperationsTest : public EndToEndTest {
protected:
    // Runs the program with /interface 3 followed by `args`, input from the null device.
    run_result run_batch(const std::vector<std::string>& args,
                         std::chrono::milliseconds timeout = 90s) const;

    // The requests of the whole run, once the program has said goodbye to the unit, without
    // the boot polls.
    std::vector<std::string> requests_of_run() const;
    // Those of a run that connected and did nothing else.
    static std::vector<std::string> connect_and_end();

    // Writes a file of pattern bytes into the test's folder and returns its contents.
    byte_vector put_file(const std::string& name, std::size_t size, std::uint32_t seed) const;

    // Every text shows in the output, each after the one before.
    void expect_in_order(const run_result& result, const std::vector<std::string>& texts) const;
    static bool contains(const run_result& result, const std::string& text) {
        return result.out.find(text) != std::string::npos;
    }

    // The single output folder of the run; a test failure when there is none or more.
    std::filesystem::path the_output_folder() const;
    // True when the run left no output file (no folder, or an empty one).
    bool no_output_files() const;
};
