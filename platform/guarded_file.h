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

    // Creates (or empties) the file for writing. False when the system refuses.
    bool create(const std::string& path, const std::string& notice);

    // True when every byte has reached the system.
    bool write(const std::uint8_t* data, std::size_t length);

    // Closes the file and gives it the name `final_path`, replacing a file of that name. False,
    // with the file removed, when either fails.
    bool finish(const std::string& final_path);

    // Closes the file and removes it.
    void remove();

    bool is_open() const noexcept { return handle_ != no_handle; }

    // The system's account of the last create, write or finish that failed (a full disk: "No space
    // left on device").
    const os_error& error() const noexcept { return error_; }

    static constexpr std::intptr_t no_handle = -1;

private:
    std::intptr_t handle_ = no_handle;
    std::string path_;
    std::size_t slot_ = 0;  // where the way out finds it
    os_error error_;
};
