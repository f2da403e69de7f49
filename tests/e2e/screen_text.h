// Turning what a program wrote to a terminal or a pipe into text that tests can compare: the
// Windows line ends of a pipe undone, carriage returns dropped, and a "words" form in which
// cursor moves, erases, blanks and line ends all count as one blank (a console that draws blanks
// as cursor moves and lines as cursor positions then reads the same as one that prints them);
// sequences that only hide or show the cursor, set colours or the title count as nothing.
#pragma once

#include <string>
#include <string_view>

// "\r\n" back to "\n", as msvcrt writes "\n" to a pipe; "\n\r" is left as it is.
std::string undo_text_mode(std::string_view text);

// The text without any carriage return: a terminal adds one before every line feed.
std::string without_carriage_returns(std::string_view text);

// The text with every terminal escape sequence (CSI, OSC and two-character ones) taken out;
// those that move the cursor or erase are replaced by one blank.
std::string without_escape_sequences(std::string_view text);

// The words of the text, separated by single blanks, with cursor moves and erases taken as
// blanks and other escape sequences left out.
std::string words(std::string_view text);

// How often `part` occurs in `text`, without overlaps.
std::size_t occurrences(std::string_view text, std::string_view part);
