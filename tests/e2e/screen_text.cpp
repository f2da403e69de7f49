#include "e2e/screen_text.h"

namespace {

constexpr char escape = '\x1b';
constexpr char bell = '\x07';

bool is_blank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// Length of the escape sequence that starts at text[at] (an ESC), up to the end of the text
// when it is cut off.
std::size_t escape_length(std::string_view text, std::size_t at) {
    std::size_t i = at + 1;
    if (i >= text.size()) {
        return 1;
    }
    const char kind = text[i];
    if (kind == '[') {
        // Control sequence: parameter and intermediate bytes, then one final byte 0x40-0x7E.
        ++i;
        while (i < text.size() && (text[i] < 0x40 || text[i] > 0x7E)) {
            ++i;
        }
        return (i < text.size() ? i + 1 : i) - at;
    }
    if (kind == ']' || kind == 'P' || kind == '_' || kind == '^') {
        // A string (window title and the like): ends with BEL or with ESC backslash.
        ++i;
        while (i < text.size()) {
            if (text[i] == bell) {
                return i + 1 - at;
            }
            if (text[i] == escape && i + 1 < text.size() && text[i + 1] == '\\') {
                return i + 2 - at;
            }
            ++i;
        }
        return i - at;
    }
    // Character set selection and the like take one more byte; the rest are two bytes long.
    if ((kind == '(' || kind == ')' || kind == '#') && i + 1 < text.size()) {
        return 3;
    }
    return 2;
}

// True for a sequence that stands for blank space on the screen: a cursor move or an erase.
// Others (cursor shown or hidden, colours, the window title) leave the text as it is: a
// console may wrap every single character it draws in them.
bool moves_or_erases(std::string_view sequence) {
    if (sequence.size() < 3 || sequence[1] != '[') {
        return false;
    }
    switch (sequence.back()) {
    case 'A': case 'B': case 'C': case 'D': case 'E': case 'F': case 'G':
    case 'H': case 'f': case 'd': case 'J': case 'K': case 'X':
        return true;
    default:
        return false;
    }
}

}  // namespace

std::string undo_text_mode(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            continue;
        }
        out.push_back(text[i]);
    }
    return out;
}

std::string without_carriage_returns(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        if (c != '\r') {
            out.push_back(c);
        }
    }
    return out;
}

std::string without_escape_sequences(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        if (text[i] == escape) {
            const std::size_t length = escape_length(text, i);
            if (moves_or_erases(text.substr(i, length))) {
                out.push_back(' ');
            }
            i += length;
        } else {
            out.push_back(text[i]);
            ++i;
        }
    }
    return out;
}

std::string words(std::string_view text) {
    const std::string plain = without_escape_sequences(text);
    std::string out;
    out.reserve(plain.size());
    bool gap = false;
    for (const char c : plain) {
        if (is_blank(c) || c == bell) {
            gap = true;
            continue;
        }
        if (gap && !out.empty()) {
            out.push_back(' ');
        }
        gap = false;
        out.push_back(c);
    }
    return out;
}

std::size_t occurrences(std::string_view text, std::string_view part) {
    if (part.empty()) {
        return 0;
    }
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string_view::npos;
         at = text.find(part, at + part.size())) {
        ++count;
    }
    return count;
}
