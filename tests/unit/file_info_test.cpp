#include "console/file_info.h"

#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>

#include "console/date_text.h"
#include "console/keys.h"
#include "platform/local_time.h"
#include "protocol/loader_state.h"
#include "support/capture.h"
#include "support/temp_folder.h"

namespace {

namespace fs = std::filesystem;

constexpr std::time_t known_time = 1623760496;

std::string date_of(std::time_t when) { return date_text(*local_time(when)); }

void make_file(const std::string& name, std::size_t size) {
    std::ofstream(name, std::ios::binary) << std::string(size, 'x');
    fs::last_write_time(name, std::chrono::file_clock::from_sys(
                                  std::chrono::system_clock::from_time_t(known_time)));
}

// Each test runs in a fresh folder of its own; the current directory is restored after it.
class FileInfo : public ::testing::Test {
protected:
    void TearDown() override { clear_key_script(); }

    // What a load dialog has answered when it asks for the confirmation.
    static download_choice chosen(int type, int bank, const char* name, const file_facts& f) {
        download_choice c;
        c.file_type = static_cast<std::uint8_t>(type);
        c.bank = static_cast<std::uint8_t>(bank);
        c.path = name;
        c.comment = "first try";
        c.size = f.size;
        c.file_time = f.file_time;
        c.download_time = f.download_time;
        return c;
    }

    // Runs the confirmation with the given key; its result, and the table in `shown`.
    static bool confirm_with(const download_choice& c, const std::string& key, std::string& shown) {
        set_key_script(key);
        OutputCapture out;
        const bool result = confirm_file_info(c, "tester");
        shown = out.text();
        return result;
    }

private:
    TempFolder folder_;
};

TEST_F(FileInfo, FlashFileFactsAreShownAndOnlyYesConfirms) {
    make_file("sw.srec", 1234);
    const std::time_t before = std::time(nullptr);
    const std::optional<file_facts> facts = read_file_info("sw.srec");
    const std::time_t after = std::time(nullptr);
    ASSERT_TRUE(facts.has_value());
    EXPECT_EQ(facts->size, 1234u);
    EXPECT_EQ(facts->file_time, date_of(known_time));
    const std::string now = facts->download_time;
    EXPECT_TRUE(now == date_of(before) || now == date_of(after)) << now;
    const std::string table =
        "\n  Bank          : 3\n  File Type     : SW\n"
        "  File Name     : sw.srec\n  File Size     : 1234\n"
        "  File Time     : " +
        date_of(known_time) +
        "\n"
        "  Download Time : " +
        now +
        "\n"
        "  User          : tester\n  Comment       : first try\n\n"
        "  OK to load this file Y/N?\n";
    for (const auto& [key, result] :
         {std::pair{"y", true}, {"Y", true}, {"\r", false}, {"n", false}}) {
        SCOPED_TRACE(key);
        std::string shown;
        EXPECT_EQ(confirm_with(chosen(2, 3, "sw.srec", *facts), key, shown), result);
        EXPECT_EQ(shown, table);
    }

    std::string shown;
    EXPECT_TRUE(confirm_with(chosen(1, 0, "sw.srec", *facts), "y", shown));
    EXPECT_EQ(shown.substr(0, 45), "\n  Bank          : 0\n  File Type     : IMAGE\n");
}

TEST_F(FileInfo, EepromFileShowsOnlyNameSizeAndTimes) {
    make_file("pa.eeprom", 256);
    const std::optional<file_facts> facts = read_file_info("pa.eeprom");
    ASSERT_TRUE(facts.has_value());
    std::string shown;
    EXPECT_TRUE(confirm_with(chosen(5, 2, "pa.eeprom", *facts), "Y", shown));
    EXPECT_EQ(shown,
              "\n  File Name     : pa.eeprom\n  File Size     : 256\n"
              "  File Time     : " +
                  date_of(known_time) +
                  "\n"
                  "  Download Time : " + facts->download_time +
                  "\n  OK to load this file Y/N?\n");
}

TEST_F(FileInfo, AMissingFileGivesNoTextAndAFolderSaysWhatItIs) {
    fs::create_directory("folder.bin");
    OutputCapture out;
    bool told = true;
    EXPECT_EQ(read_file_info("missing.bin", &told), std::nullopt);
    EXPECT_EQ(out.take(), "");
    EXPECT_FALSE(told);
    EXPECT_EQ(read_file_info("folder.bin", &told), std::nullopt);
    EXPECT_EQ(out.take(), "  \"folder.bin\" is a folder, not a file: nothing is loaded from it\n");
    EXPECT_TRUE(told);
}

// The size travels in 32 bits: up to 4 GiB - 1 it is shown unsigned, beyond it is refused.
TEST_F(FileInfo, SizeBeyondThirtyTwoBitsIsRefused) {
    make_file("big.bin", 0);
    try {
        fs::resize_file("big.bin", std::uintmax_t{3} << 30);
    } catch (const fs::filesystem_error& e) {
        GTEST_SKIP() << "no sparse file of 3 GiB here: " << e.what();
    }
    const std::optional<file_facts> facts = read_file_info("big.bin");
    ASSERT_TRUE(facts.has_value());
    std::string shown;
    confirm_with(chosen(3, 0, "big.bin", *facts), "n", shown);
    EXPECT_NE(shown.find("  File Size     : 3221225472\n"), std::string::npos) << shown;

    try {
        fs::resize_file("big.bin", std::uintmax_t{4} << 30);
    } catch (const fs::filesystem_error& e) {
        GTEST_SKIP() << "no sparse file of 4 GiB here: " << e.what();
    }
    OutputCapture out;
    EXPECT_EQ(read_file_info("big.bin"), std::nullopt);
    EXPECT_EQ(out.text(),
              "File big.bin is too large to load (4294967296 bytes, at most 4294967295)\n");
}

}  // namespace
