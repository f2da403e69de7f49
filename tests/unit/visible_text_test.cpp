#include "platform/visible_text.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/line_edit.h"

// Nothing from outside may drive the terminal: every control character is shown, printable
// text (UTF-8 or the bytes of an 8-bit code page) is left as it is.
TEST(VisibleText, ControlCharactersAreShownAndPrintableTextIsUnchanged) {
    EXPECT_EQ(visible_text("release 2.4 \xc3\xbc \xe2\x82\xac \\ M\xfcller"),
              "release 2.4 \xc3\xbc \xe2\x82\xac \\ M\xfcller");
    // An OSC title change, an OSC 52 clipboard write, a clear screen, BEL, CR, BS, TAB, DEL.
    EXPECT_EQ(visible_text("\x1b]0;pwned\x07\x1b]52;c;ZXZpbA==\x07\x1b[2J\r\b\t\x7f\n"),
              "\\x1b]0;pwned\\x07\\x1b]52;c;ZXZpbA==\\x07\\x1b[2J\\x0d\\x08\\x09\\x7f\\x0a");
    // C1: the byte 0x9b alone (CSI for an 8-bit terminal) and U+009B in UTF-8; a lone lead byte
    // stays, and cannot join what follows it into a C1 character.
    EXPECT_EQ(visible_text("a\x9b" "2J \xc2\x9b" "2J \xc2\x1b"), "a\\x9b2J \\u009b2J \xc2\\x1b");
    EXPECT_EQ(visible_text(std::string("nul\0x", 5)), "nul\\x00x");
}

// JSON holds only UTF-8: valid sequences stay, every other byte is taken as Latin-1.
TEST(VisibleText, Utf8TextKeepsValidSequencesAndTakesOtherBytesAsLatin1) {
    EXPECT_EQ(utf8_text("M\xfcller"), "M\xc3\xbcller");
    EXPECT_EQ(utf8_text("\xc3\xbc \xf0\x9f\x98\x80 plain"), "\xc3\xbc \xf0\x9f\x98\x80 plain");
    // Overlong, surrogate, truncated and beyond U+10FFFF: each byte on its own.
    EXPECT_EQ(utf8_text("\xc0\xaf"), "\xc3\x80\xc2\xaf");
    EXPECT_EQ(utf8_text("\xed\xa0\x80"), "\xc3\xad\xc2\xa0\xc2\x80");
    EXPECT_EQ(utf8_text("\xe2\x82"), "\xc3\xa2\xc2\x82");
    EXPECT_EQ(utf8_text("\xf4\x90\x80\x80"), "\xc3\xb4\xc2\x90\xc2\x80\xc2\x80");
}

// Backspace erases whether the terminal sends DEL or Ctrl-H, a whole UTF-8 character at a time;
// no other control character gets into the line the unit records.
TEST(LineEdit, EraseKeysEditAndOtherControlCharactersAreDropped) {
    std::string line;
    std::size_t erased = 0;
    for (const char c : std::string("ab\x1b" "c\xc3\xbc")) {
        edit_line(line, static_cast<unsigned char>(c));
    }
    EXPECT_EQ(line, "abc\xc3\xbc");
    EXPECT_EQ(edit_line(line, 0x08, &erased), line_key::erased);
    EXPECT_EQ(erased, 1u);
    EXPECT_EQ(edit_line(line, 0x7f), line_key::erased);
    EXPECT_EQ(line, "ab");
    EXPECT_EQ(edit_line(line, 0x15, &erased), line_key::erased);
    EXPECT_EQ(erased, 2u);
    EXPECT_EQ(edit_line(line, 0x08), line_key::ignored);
    EXPECT_EQ(line, "");
    EXPECT_EQ(edit_line(line, '\r'), line_key::ended);
}
