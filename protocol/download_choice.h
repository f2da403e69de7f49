// A download as the user or the command line chose it: where it goes and which file, with the
// file's facts taken at the moment of the choice.
#pragma once

#include <cstdint>
#include <string>

struct download_choice {
    bool target_chosen = false;  // file type and bank (or channel) were answered
    std::uint8_t file_type = 0;
    std::uint8_t bank = 0;       // bank, or EEPROM channel index
    bool file_checked = false;   // the file exists and the facts below were taken
    std::string path;            // the file's full name, under which it is opened
    std::string comment;
    std::uint32_t size = 0;
    std::string file_time;       // modification time, as a date text
    std::string download_time;   // the moment of the choice, as a date text
};
