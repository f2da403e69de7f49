// A file being written that must not outlive the process unfinished. From its creation until it
// is finished or removed it is guarded: whichever way the process ends in between (an end of the
// run through process_exit or process_exit_now, from any thread, or a signal that ends the
// process), the file is removed and the notice given at its creation is printed. Several guarded
// files may be open at once (one for each unit a run serves).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/os_error.h"

class guarded_file {
public:
    guarded_file() = default;
    // An unfinished file is closed and removed, without a notice.
    ~guarded_file();
    guarded_file(const guarded_file&) = delete;
    guarded_file& operator=(const guarded_file&) = delete;

    // Creates the file for writing under a name that must be new: whatever has that name (a
    // file of another run, a folder, a symbolic link) is never opened, emptied or followed.
    // False when the system refuses; name_taken() then tells whether the name was taken.
    bool create(const std::string& path, const std::string& notice);

    // True when every byte has reached the system.
    bool write(const std::uint8_t* data, std::size_t length);

    // Closes the file and gives it the name `final_path`. With `replace` a file of that name is
    // replaced in one step (a link of that name is replaced, not followed). Without it the name
    // must be free: when it is taken, false with name_taken(), and the file stays guarded under
    // its temporary name for another try under another name. Any other failure removes it.
    bool finish(const std::string& final_path, bool replace = false);

    // Closes the file and removes it.
    void remove();

    // True from the creation until the file is finished or removed (also while it waits,
    // closed, for a free name).
    bool is_open() const noexcept { return armed_; }

    // True when the last create or finish failed because the name was taken.
    bool name_taken() const noexcept { return name_taken_; }

    // The system's account of the last create, write or finish that failed (a full disk: "No space
    // left on device").
    const os_error& error() const noexcept { return error_; }

    static constexpr std::intptr_t no_handle = -1;

private:
    void close_handle();

    std::intptr_t handle_ = no_handle;
    bool armed_ = false;
    bool name_taken_ = false;
    std::string path_;
    std::size_t slot_ = 0;  // where the way out finds it
    os_error error_;
};
