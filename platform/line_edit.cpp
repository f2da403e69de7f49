#include "platform/line_edit.h"

namespace {

constexpr int backspace = 0x08;
constexpr int erase_line = 0x15;  // Ctrl-U
constexpr int delete_key = 0x7F;

bool is_continuation(char c) { return (static_cast<unsigned char>(c) & 0xC0u) == 0x80u; }

// Takes the last character (its continuation bytes and the byte that leads them) away.
void erase_last(std::string& line) {
    while (!line.empty() && is_continuation(line.back())) {
        line.pop_back();
    }
    if (!line.empty()) {
        line.pop_back();
    }
}

}  // namespace

line_key edit_line(std::string& line, int key, std::size_t* erased_count) {
    if (erased_count != nullptr) {
        *erased_count = 0;
    }
    if (key == '\r' || key == '\n') {
        return line_key::ended;
    }
    if (key == backspace || key == delete_key || key == erase_line) {
        if (line.empty()) {
            return line_key::ignored;
        }
        std::size_t count = 0;
        do {
            erase_last(line);
            ++count;
        } while (key == erase_line && !line.empty());
        if (erased_count != nullptr) {
            *erased_count = count;
        }
        return line_key::erased;
    }
    if (key < 0x20 || key > 0xFF || line.size() >= line_edit_capacity) {
        return line_key::ignored;
    }
    line.push_back(static_cast<char>(key));
    return line_key::added;
}
