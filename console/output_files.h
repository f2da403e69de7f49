// Where what is read back from the unit goes: a folder of the current directory named by a time
// stamp, and in it one file per image, EEPROM or log, written block by block as it arrives.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Write kinds.
inline constexpr int OUT_CREATE = 4;        // make the folder, create the file, write
inline constexpr int OUT_CREATE_CLOSE = 5;  // the same, then close
inline constexpr int OUT_WRITE = 6;         // write to the open file
inline constexpr int OUT_WRITE_CLOSE = 7;   // write, then close

// Writes one block of the output file `name` in `folder`. Kinds 4 and 5 make the folder and
// create the file, replacing one of that name (and closing an output file still open from an
// upload that ended early); kinds 6 and 7 write to the file already open; 5 and 7 close it.
// Returns 0, or -1 when the file cannot be created ("Could not create %s \n" with the path) or
// the kind is none of the four. A block that is not stored whole, also for want of an open
// file, prints "Could not write to output file. Lenght %d\n" and still returns 0.
int write_output(const std::string& folder, int kind, const std::string& name,
                 const std::uint8_t* data, std::size_t length);

// Makes the folder in the current directory; an existing folder is no error, an empty name
// makes nothing.
void make_output_folder(const std::string& folder);

// The path of a file in a folder, with the platform's separator; the name alone when there is
// no folder.
std::string output_path(const std::string& folder, const std::string& name);
