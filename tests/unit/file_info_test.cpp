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
    void SetUp() override {
        reset_firmware_operation();
    }
    void TearDown() override {
        clear_key_script();
        reset_firmware_operation();
    }

    // The fields a load dialog fills before it asks for the confirmation.
    static void chosen(int type, int bank, const char* name) {
        firmware_operation.file_type = static_cast<std::uint8_t>(type);
        firmware_operation.bank = static_cast<std::uint8_t>(bank);
        firmware_operation.file_name = name;
        firmware_operation.user = "tester";
        firmware_operation.comment = "first try";
    }

    // Runs the confirmation with the given key; its result, and the table in `shown`.
    static int confirm_with(const std::string& key, std::string& shown) {
        set_key_script(key);
        OutputCapture out;
        const int result = confirm_file_info();
        shown = out.text();
        return result;
    }

private:
    TempFolder folder_;
};

TEST_F(FileInfo, FlashFileFactsAreShownAndOnlyYesConfirms) {
    make_file("sw.srec", 1234);
    const std::time_t before = std::time(nullptr);
    ASSERT_EQ(read_file_info("sw.srec"), 0);
    const std::time_t after = std::time(nullptr);
    EXPECT_EQ(firmware_operation.file_size.load(), 1234u);
    EXPECT_EQ(firmware_operation.file_time.view(), date_of(known_time));
    const std::string now = std::string(firmware_operation.download_time.view());
    EXPECT_TRUE(now == date_of(before) || now == date_of(after)) << now;

    chosen(2, 3, "sw.srec");
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
    for (const auto& [key, result] : {std::pair{"y", 0}, {"Y", 0}, {"\r", -1}, {"n", -1}}) {
        SCOPED_TRACE(key);
        std::string shown;
        EXPECT_EQ(confirm_with(key, shown), result);
        EXPECT_EQ(shown, table);
    }

    chosen(1, 0, "sw.srec");
    std::string shown;
    EXPECT_EQ(confirm_with("y", shown), 0);
    EXPECT_EQ(shown.substr(0, 45), "\n  Bank          : 0\n  File Type     : IMAGE\n");
}

TEST_F(FileInfo, EepromFileShowsOnlyNameSizeAndTimes) {
    make_file("pa.eeprom", 256);
    ASSERT_EQ(read_file_info("pa.eeprom"), 0);
    chosen(5, 2, "pa.eeprom");
    std::string shown;
    EXPECT_EQ(confirm_with("Y", shown), 0);
    EXPECT_EQ(shown,
              "\n  File Name     : pa.eeprom\n  File Size     : 256\n"
              "  File Time     : " +
                  date_of(known_time) +
                  "\n"
                  "  Download Time : " +
                  std::string(firmware_operation.download_time.view()) +
                  "\n  OK to load this file Y/N?\n");
}

TEST_F(FileInfo, FileThatCannotBeOpenedGivesNoTextAndNoFacts) {
    fs::create_directory("folder.bin");
    for (const char* name : {"missing.bin", "folder.bin"}) {
        SCOPED_TRACE(name);
        OutputCapture out;
        EXPECT_EQ(read_file_info(name), -1);
        EXPECT_EQ(out.text(), "");
        EXPECT_EQ(firmware_operation.file_size.load(), 0u);
        EXPECT_TRUE(firmware_operation.file_time.empty());
        EXPECT_TRUE(firmware_operation.download_time.empty());
    }
}

// The size travels in 32 bits: up to 4 GiB - 1 it is shown unsigned, beyond it is refused.
TEST_F(FileInfo, SizeBeyondThirtyTwoBitsIsRefused) {
    make_file("big.bin", 0);
    try {
        fs::resize_file("big.bin", std::uintmax_t{3} << 30);
    } catch (const fs::filesystem_error& e) {
        GTEST_SKIP() << "no sparse file of 3 GiB here: " << e.what();
    }
    ASSERT_EQ(read_file_info("big.bin"), 0);
    chosen(3, 0, "big.bin");
    std::string shown;
    confirm_with("n", shown);
    EXPECT_NE(shown.find("  File Size     : 3221225472\n"), std::string::npos) << shown;

    try {
        fs::resize_file("big.bin", std::uintmax_t{4} << 30);
    } catch (const fs::filesystem_error& e) {
        GTEST_SKIP() << "no sparse file of 4 GiB here: " << e.what();
    }
    OutputCapture out;
    EXPECT_EQ(read_file_info("big.bin"), -1);
    EXPECT_EQ(out.text(),
              "File big.bin is too large to load (4294967296 bytes, at most 4294967295)\n");
    EXPECT_EQ(firmware_operation.file_size.load(), 3221225472u);
}

}  // namespace
