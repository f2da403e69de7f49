// The unit's end of the serial line: a pseudo-terminal whose other end the program opens, and
// the symbolic links (COM<n>, and com<n> in a wine prefix) by which the program finds it.
#pragma once

#include <filesystem>
#include <string>

class pty_port {
public:
    pty_port() = default;
    ~pty_port() { close(); }
    pty_port(const pty_port&) = delete;
    pty_port& operator=(const pty_port&) = delete;

    // Creates the pseudo-terminal: the master, non-blocking, for the unit; the slave set raw at
    // 115200 baud and kept open, so that the master never sees a hang-up while the program is
    // not attached. Throws std::system_error.
    void open();
    // Closes both ends; a program still attached then reads an error or a hang-up.
    void close() noexcept;

    bool is_open() const noexcept { return master_ >= 0; }
    int master() const noexcept { return master_; }
    const std::string& slave_path() const noexcept { return slave_path_; }

private:
    int master_ = -1;
    int slave_ = -1;
    std::string slave_path_;
};

// Makes `link` a symbolic link to `target`. A symbolic link already there is replaced only if
// it leads nowhere (left over from an earlier run); anything else is left alone and reported
// by a std::runtime_error that says what is in the way.
void make_port_link(const std::filesystem::path& link, const std::string& target);

// Removes `link` if it is a symbolic link to `target`; anything else is left alone.
void remove_port_link(const std::filesystem::path& link, const std::string& target) noexcept;
