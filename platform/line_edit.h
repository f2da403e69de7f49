// The editing of a line typed at the console (the comment of a download): what each key does
// to the line. The same on every console, so that Backspace edits whether the terminal sends
// DEL or Ctrl-H, and no control character ends up in the text sent to the unit.
#pragma once

#include <string>

enum class line_key {
    ended,    // Enter (carriage return or line feed): the line is complete
    added,    // a character was added at the end
    erased,   // Backspace (Ctrl-H) or DEL took away the last character, or Ctrl-U all of them
    ignored,  // any other control character, an erase on an empty line, or no room left
};

// A line longer than this is not made longer: far more than the unit records of a comment.
inline constexpr std::size_t line_edit_capacity = 1024;

// Applies one key (0-255) to the line. An erase takes a whole UTF-8 character.
line_key edit_line(std::string& line, int key, std::size_t* erased_count = nullptr);
