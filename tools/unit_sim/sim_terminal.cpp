#include "tools/unit_sim/sim_terminal.h"

std::string unit_terminal::greeting() {
    return std::string("\r\nunit terminal, ## returns to interrupt mode\r\n") + terminal_prompt;
}

bool unit_terminal::take(std::uint8_t byte, std::string& echo) {
    if (byte == '#') {
        if (hash_pending_) {
            hash_pending_ = false;
            return true;
        }
        // Held back: it may be the first half of "##".
        hash_pending_ = true;
        return false;
    }
    if (hash_pending_) {
        echo += '#';
        hash_pending_ = false;
    }
    if (byte == '\r') {
        echo += "\r\n";
        echo += terminal_prompt;
    } else {
        echo += static_cast<char>(byte);
    }
    return false;
}
