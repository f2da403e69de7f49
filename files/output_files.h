// Where what is read back from the unit goes: a folder of the current directory named by a time
// stamp, and in it one file per image, EEPROM or log. Nothing that is there already is ever
// replaced, emptied or written through: the folder is made new (with "_2", "_3", ... after its
// name when another run has that name), each file is written under a temporary name that must
// be new and gets its own name only once it is complete, and only if that name is free (else
// the next free "NAME_2.EXT"), so that a file of that name is always a whole image of this run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
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

    // Writes one block of the output file `name` in `folder`. Kinds 4 and 5 make the folder (the
    // first time the writer is given that folder name: a new one, see above) and create the file
    // under a temporary name (an unfinished file of an earlier upload is removed first); kinds 6
    // and 7 write to the file already open; 5 and 7 close it and give it its name. A failure
    // prints its line ("Could not create %s \n" with the path, "Could not write to output file.
    // Lenght %d\n" followed by the file and the system's reason, or the naming), removes the
    // temporary file and returns an io_failed result with one of the codes above; later blocks
    // of that file then fail too.
    result write(const std::string& folder, int kind, const std::string& name,
                 const std::uint8_t* data, std::size_t length);

    // Writes a whole file at once in the same way (temporary name, then its own).
    result write_whole(const std::string& folder, const std::string& name,
                       const std::uint8_t* data, std::size_t length);

    // Writes the whole file at once in place of the unfinished one open (which goes without a
    // word): a file read again and repaired after its first read did not match.
    result write_over(const std::string& folder, const std::string& name,
                      const std::uint8_t* data, std::size_t length);

    // True while an output file is open between its first and its last block.
    bool unfinished() const { return file_.is_open(); }

    // The path of the last file finished: its folder as made and the name it took.
    const std::string& finished_path() const { return finished_; }

    // An upload that ends early: closes its file, removes it and says so in one line. Nothing
    // when no file is open.
    void discard();

    // The files of one unit among several: `run_folder`, made by the run, holds a folder of
    // this unit's own named `unit_folder`, and the files go there instead of into the folder
    // each write names.
    void place_in(const std::string& run_folder, const std::string& unit_folder);

private:
    static std::string removal_line(const std::string& path);
    // The folder the files of `folder` go into, made new on first use; nothing when it cannot
    // be made (error holds why).
    std::optional<std::string> folder_for(const std::string& folder, os_error& error);
    bool create_temporary();
    result name_finished();

    guarded_file file_;
    std::string path_;       // the final name wanted for the file open
    std::string temporary_;  // the name it is written under
    std::string finished_;
    std::map<std::string, std::string> made_;  // folder names given -> folders made for them
    std::string run_folder_;
    std::string unit_folder_;
};

// Makes a folder that no one else has: `wanted`, or when that name is
// taken `wanted_2`, `wanted_3`, ...; the name made, or nothing when the system refuses (error
// holds why). An empty name is the current directory itself.
std::optional<std::string> make_new_folder(const std::string& wanted, os_error& error);

// The path of a file in a folder, with the platform's separator; the name alone when there is
// no folder.
std::string output_path(const std::string& folder, const std::string& name);

// The temporary name a file is written under until it is complete; when that name is taken,
// the further ones (attempt 2, 3, ...).
std::string unfinished_path(const std::string& path, int attempt = 1);

// The name a finished file takes when its own is taken: "FW_Bank2_2.bin" for attempt 2.
std::string numbered_path(const std::string& path, int attempt);
