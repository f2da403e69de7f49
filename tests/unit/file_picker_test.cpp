#include "console/file_picker.h"
#include "files/image_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "console/date_text.h"
#include "console/keys.h"
#include "platform/local_time.h"
#include "support/capture.h"
#include "support/temp_folder.h"

namespace {

namespace fs = std::filesystem;

constexpr std::time_t known_time = 1623760496;  // 2021-06-15 12:34:56 UTC
const std::string head = "  Name                            Size Time\n\n";

std::string date_of(std::time_t when) { return date_text(*local_time(when)); }

void make_file(const std::string& name, const std::string& content) {
    std::ofstream(name, std::ios::binary) << content;
    fs::last_write_time(name, std::chrono::file_clock::from_sys(
                                  std::chrono::system_clock::from_time_t(known_time)));
}

std::string right(const std::string& text, std::size_t width) {
    return std::string(width > text.size() ? width - text.size() : 0, ' ') + text;
}

// A listing row: number in 3 columns, two blanks, name in 30, blank, size in 15, blank, date.
std::string row(int number, const std::string& name, const std::string& size) {
    return right(std::to_string(number), 3) + "  " + name +
           std::string(name.size() < 30 ? 30 - name.size() : 0, ' ') + " " + right(size, 15) + " " +
           date_of(known_time) + "\n";
}

// The names in the order in which the listing shows them.
std::vector<std::string> listed_order(const std::string& text, std::vector<std::string> names) {
    std::sort(names.begin(), names.end(), [&](const std::string& a, const std::string& b) {
        return text.find("  " + a + " ") < text.find("  " + b + " ");
    });
    return names;
}

// Each test runs in a fresh folder of its own; the current directory is restored after it.
class FilePicker : public ::testing::Test {
protected:
    void TearDown() override { clear_key_script(); }

private:
    TempFolder folder_;
};

using FilePickerLoad = FilePicker;

TEST_F(FilePicker, NoMatchingEntrySaysSoAndAsksNothing) {
    make_file("a.bin", "x");
    set_key_script("1\r");
    OutputCapture out;
    std::string chosen;
    EXPECT_EQ(pick_file("*.eeprom", &chosen, 80), pick_result::no_match);
    EXPECT_EQ(out.text(), "\n  No *.eeprom files in current directory\n");
    EXPECT_FALSE(keys_ended());
}

TEST_F(FilePicker, ListsEveryMatchAndPicksByItsListedNumber) {
    make_file("a.bin", std::string(10, 'a'));
    make_file("bb.bin", std::string(200, 'b'));
    make_file("ccc.bin", std::string(3000, 'c'));
    make_file("other.srec", "s");
    set_key_script("3\r");
    OutputCapture out;
    std::string chosen = "stale";
    ASSERT_EQ(pick_file("*.bin", &chosen, 80), pick_result::chosen);

    const auto order = listed_order(out.text(), {"a.bin", "bb.bin", "ccc.bin"});
    const std::map<std::string, std::string> sizes = {
        {"a.bin", "10"}, {"bb.bin", "200"}, {"ccc.bin", "3000"}};
    std::string expected = "\n" + head;
    for (int n = 1; n <= 3; ++n)
        expected += row(n, order[n - 1], sizes.at(order[n - 1]));
    expected += "\n  Type in the associated file no\n3\n  Filename: " + order[2] + "\n";
    EXPECT_EQ(out.text(), expected);
    EXPECT_EQ(chosen, order[2]);
}

TEST_F(FilePicker, NumberOutsideTheListOrQuitChoosesNothing) {
    make_file("a.bin", "1");
    make_file("b.bin", "2");
    make_file("c.bin", "3");
    for (const std::string keys : {"4\r", "0\r", "\r", "q", "1Q"}) {
        SCOPED_TRACE(keys);
        set_key_script(keys);
        OutputCapture out;
        std::string chosen = "stale";
        EXPECT_EQ(pick_file("*.bin", &chosen, 80), pick_result::nothing);
        const std::string text = out.text();
        EXPECT_EQ(text.substr(text.rfind("\n  Type")),
                  "\n  Type in the associated file no\n" +
                      keys.substr(0, keys.find_first_of("\rqQ")) + "\n  File not found\n");
        EXPECT_EQ(chosen, "");
    }
}

TEST_F(FilePicker, NameTooLongForTheCallerIsRefusedNotCut) {
    const std::string name = "long_file_name_12.bin";  // 21 characters
    make_file(name, "x");
    set_key_script("1\r");
    OutputCapture out;
    std::string chosen;
    EXPECT_EQ(pick_file("*.bin", &chosen, 21), pick_result::nothing);
    EXPECT_EQ(chosen, "");
    EXPECT_TRUE(out.text().ends_with(
        "no\n1\n  File name too long (21 characters, at most 20): " + name + "\n"))
        << out.text();

    set_key_script("1\r");
    EXPECT_EQ(pick_file("*.bin", &chosen, 22), pick_result::chosen);
    EXPECT_EQ(chosen, name);
}

TEST_F(FilePicker, SizeAboveFourGigabytesIsPrintedWhole) {
    make_file("big.bin", "");
    try {
        fs::resize_file("big.bin", (std::uintmax_t{5} << 30) + 3);
        fs::last_write_time("big.bin", std::chrono::file_clock::from_sys(
                                           std::chrono::system_clock::from_time_t(known_time)));
    } catch (const fs::filesystem_error& e) {
        GTEST_SKIP() << "no sparse file of 5 GiB here: " << e.what();
    }
    OutputCapture out;
    EXPECT_EQ(pick_file("*.bin"), pick_result::chosen);
    EXPECT_EQ(out.text(), "\n" + head + row(1, "big.bin", "5368709123"));
}

TEST_F(FilePicker, ScanListsTheThreeKindsInOrder) {
    make_file("a.bin", "12345");
    make_file("b.srec", "S0");
    OutputCapture out;
    EXPECT_EQ(scan_directory(), pick_result::no_match);
    EXPECT_EQ(out.take(), "\n" + head + row(1, "a.bin", "5") + "\n" + head + row(1, "b.srec", "2") +
                              "\n  No *.eeprom files in current directory\n");

    make_file("c.eeprom", "");
    EXPECT_EQ(scan_directory(), pick_result::chosen);
    EXPECT_NE(out.text().find(row(1, "c.eeprom", "0")), std::string::npos);
}

TEST_F(FilePickerLoad, ReadsTheWholeFileAsRawBytes) {
    std::string content = "\r\n\x1a\n";
    content += '\0';
    for (int i = 0; i < 3000; ++i)
        content += static_cast<char>(i * 7);
    make_file("image.bin", content);
    OutputCapture out;
    std::vector<std::uint8_t> image;
    EXPECT_TRUE(load_file_to_memory("image.bin", image));
    EXPECT_EQ(std::string(image.begin(), image.end()), content);
    EXPECT_EQ(out.text(), "");
}

TEST_F(FilePickerLoad, FailuresSayWhyAndLeaveNoContent) {
    make_file("good.bin", "content");
    make_file("empty.bin", "");
    fs::create_directory("folder.bin");
    const std::pair<const char*, const char*> cases[] = {
        {"empty.bin", "Could not read empty.bin \n"},
        {"missing.bin", "Could not open missing.bin \n"},
        {"folder.bin", "Could not open folder.bin \n"},
    };
    std::vector<std::uint8_t> image;
    for (const auto& [name, message] : cases) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(load_file_to_memory("good.bin", image));
        OutputCapture out;
        EXPECT_FALSE(load_file_to_memory(name, image));
        EXPECT_EQ(out.text(), message);
        EXPECT_TRUE(image.empty());
    }
}

}  // namespace
