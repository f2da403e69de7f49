// A pseudo-terminal that stands in for the user's terminal: the test keeps the master (it types
// keys into it and reads the screen from it) and the program gets the slave as its standard
// input and output. Its settings are those of a fresh terminal (line editing, echo, "\n" shown
// as "\r\n"), 80 columns by 25 lines unless told otherwise.
#pragma once

#include <string>

class pseudo_terminal {
public:
    // Throws std::system_error when no pseudo-terminal can be had.
    explicit pseudo_terminal(unsigned short rows = 25, unsigned short columns = 80);
    ~pseudo_terminal();
    pseudo_terminal(const pseudo_terminal&) = delete;
    pseudo_terminal& operator=(const pseudo_terminal&) = delete;

    int master() const noexcept { return master_; }
    // The slave's name, e.g. "/dev/pts/4", for the program to open as its terminal.
    const std::string& slave_path() const noexcept { return slave_path_; }

private:
    int master_ = -1;
    std::string slave_path_;
};
