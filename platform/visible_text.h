// Text that comes from outside the program (the unit's records and log, file names, driver
// messages, arguments) made safe to show or to store. Such text may hold any bytes: control
// characters that would move the cursor, change the window's title or write the clipboard, and
// bytes that are not UTF-8.
#pragma once

#include <string>
#include <string_view>

// The text with every control character in a visible form: C0 characters (line ends and tabs
// included, since they are not the program's own), DEL, and the C1 range 0x80-0x9F, as a byte
// outside valid UTF-8 ("\x9b") or as a UTF-8 character ("\u009b"). A backslash stays as it is.
// Everything else, valid UTF-8 and other bytes alike, is unchanged, so printable text looks as
// it did and nothing in it can drive the terminal.
std::string visible_text(std::string_view text);

// The text as valid UTF-8: valid sequences unchanged, each other byte taken as the Latin-1
// character of its value (0xFC becomes "ü"), as the unit's texts and Windows file names in the
// usual code pages mostly are.
std::string utf8_text(std::string_view text);
