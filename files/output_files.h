// Where what is read back from the unit goes: a folder of the current directory named by a time
// stamp, and in it one file per image, EEPROM or log. An upload is written block by block under
// a temporary name and gets its own name only once it is complete, so that a file of that name
// is always a whole image.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/guarded_file.h"
#include "platform/result.h"

// Write kinds.
inline constexpr int OUT_CREATE = 4;        // make the folder, create the file, write
inline constexpr int OUT_CREATE_CLOSE = 5;  // the same, then close
inline constexpr int OUT_WRITE = 6;         // write to the open file
inline constexpr int OUT_WRITE_CLOSE = 7;   // write, then close

// The codes of a failed write (the result's code), as "Error %d writing to file ..." shows them.
inline constexpr int OUT_NOT_CREATED = -1;  // the file cannot be created, or an unknown kind
inline constexpr int OUT_NOT_WRITTEN = -2;  // a block was not stored whole
inline constexpr int OUT_NOT_NAMED = -3;    // the finished file could not take its name

// The writer that an upload feeds block by block: one output file open at a time, under a
// temporary name until its last block. Should the run end before that (an error that ends it,
// Ctrl-C, SIGTERM, SIGHUP), the temporary file is removed on the way out and the removal said in
// the usual line.
class output_writer {
public:
    output_writer() = default;
    output_writer(const output_writer&) = delete;
    output_writer& operator=(const output_writer&) = delete;

    // Writes one block of the output file `name` in `folder`. Kinds 4 and 5 make the folder and
    // create the file under a temporary name (an unfinished file of an earlier upload is
    // removed first); kinds 6 and 7 write to the file already open; 5 and 7 close it and give
    // it its name, replacing a file of that name. A failure prints its line ("Could not create
    // %s \n" with the path, "Could not write to output file. Lenght %d\n" followed by the file
    // and the system's reason, or the renaming), removes the temporary file and returns an
    // io_failed result with one of the codes above; later blocks of that file then fail too.
    result write(const std::string& folder, int kind, const std::string& name,
                 const std::uint8_t* data, std::size_t length);

    // Writes a whole file at once in the same way (temporary name, then its own).
    result write_whole(const std::string& folder, const std::string& name,
                       const std::uint8_t* data, std::size_t length);

    // True while an output file is open between its first and its last block.
    bool unfinished() const { return file_.is_open(); }

    // An upload that ends early: closes its file, removes it and says so in one line. Nothing
    // when no file is open.
    void discard();

private:
    static std::string removal_line(const std::string& path);

    guarded_file file_;
    std::string path_;  // the final name of the file open
};

// Makes the folder in the current directory; an existing folder is no error, an empty name
// makes nothing.
void make_output_folder(const std::string& folder);

// The path of a file in a folder, with the platform's separator; the name alone when there is
// no folder.
std::string output_path(const std::string& folder, const std::string& name);

// The temporary name a file is written under until it is complete.
std::string unfinished_path(const std::string& path);
