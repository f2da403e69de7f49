#include "files/output_files.h"

#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>

#include "files/timestamp.h"
#include "protocol/messages.h"
#include "support/capture.h"
#include "support/temp_folder.h"

namespace {

namespace fs = std::filesystem;

const char separator = static_cast<char>(fs::path::preferred_separator);

std::string content_of(const fs::path& path) {
    std::error_code error;
    std::string content(static_cast<std::size_t>(fs::file_size(path, error)), '\0');
    if (error)
        return "(missing)";
    std::ifstream(path, std::ios::binary)
        .read(content.data(), static_cast<std::streamsize>(content.size()));
    return content;
}

// A symbolic link at `at` to the file "victim"; a plain file where the system makes no links.
void link_or_file(const fs::path& at) {
    std::error_code error;
    fs::create_symlink(fs::absolute("victim"), at, error);
    if (error) {
        std::ofstream(at) << "taken";
    }
}

// Each test runs in a fresh folder of its own; the current directory is restored after it.
class OutputFiles : public ::testing::Test {
protected:
    void TearDown() override {
        OutputCapture quiet;
        writer.discard();  // removes what a test left open
    }

    // 0, or the code of the failure.
    int write(const std::string& folder, int kind, const std::string& name,
              const std::string& data) {
        return writer
            .write(folder, kind, name, reinterpret_cast<const std::uint8_t*>(data.data()),
                   data.size())
            .code;
    }

    output_writer writer;

private:
    TempFolder folder_;
};

TEST_F(OutputFiles, NamesAndPathsForEveryFileType) {
    std::tm at{};
    at.tm_year = 2026 - 1900;
    at.tm_mon = 2;
    at.tm_mday = 2;
    at.tm_hour = 9;
    at.tm_min = 5;
    at.tm_sec = 7;
    const std::string folder = timestamp_text(at);
    const struct {
        int type, index;
        const char* name;
    } cases[] = {{1, 2, "FW_Bank2.bin"},       {2, 3, "SW_Bank3.srec"},
                 {3, 0, "Controller.eeprom"},  {4, 0, "Charger.eeprom"},
                 {5, 2, "PA_Channel3.eeprom"}, {6, 3, "TC_Channel4.eeprom"}};
    for (const auto& c : cases) {
        const auto name = output_file_name(c.type, c.index);
        ASSERT_TRUE(name) << c.type;
        EXPECT_EQ(output_path(folder, *name),
                  "2026_03_02_09_05_07" + (separator + std::string(c.name)));
    }
    EXPECT_EQ(output_path("", "log.txt"), "log.txt");
}

TEST_F(OutputFiles, BlocksOfOneUploadAreJoinedInOrderAndNamedOnlyAtTheEnd) {
    const std::string folder = "2026_03_02_09_05_07";
    const fs::path final_path = fs::path(folder) / "SW_Bank3.srec";
    const fs::path temporary = unfinished_path(final_path.string());
    OutputCapture out;
    EXPECT_EQ(write(folder, OUT_CREATE, "SW_Bank3.srec", "abc"), 0);
    EXPECT_EQ(write(folder, OUT_WRITE, "SW_Bank3.srec", ""), 0);
    EXPECT_EQ(write(folder, OUT_WRITE, "SW_Bank3.srec", "def"), 0);
    EXPECT_TRUE(writer.unfinished());
    EXPECT_FALSE(fs::exists(final_path));
    EXPECT_EQ(content_of(temporary), "abcdef");
    EXPECT_EQ(write(folder, OUT_WRITE_CLOSE, "SW_Bank3.srec", "gh"), 0);
    EXPECT_EQ(out.take(), "");
    EXPECT_FALSE(writer.unfinished());
    EXPECT_FALSE(fs::exists(temporary));
    EXPECT_EQ(content_of(final_path), "abcdefgh");

    // Closed: a further block has nowhere to go, and the finished file stays as it is.
    EXPECT_EQ(write(folder, OUT_WRITE, "SW_Bank3.srec", "ij"), OUT_NOT_WRITTEN);
    EXPECT_EQ(out.text(), "Could not write to output file. Lenght 2\n");
    EXPECT_EQ(content_of(final_path), "abcdefgh");
}

// What is there already (another run's folder and files, a stale temporary file, links put
// where the writer's names would be) is never replaced, emptied or followed.
TEST_F(OutputFiles, NothingThereIsReplacedEmptiedOrFollowed) {
    fs::create_directory("run");
    std::ofstream(fs::path("run") / "log.txt") << "another run's log";
    OutputCapture out;
    EXPECT_EQ(write("run", OUT_CREATE_CLOSE, "log.txt", "new"), 0);
    EXPECT_EQ(writer.finished_path(), output_path("run_2", "log.txt"));
    EXPECT_EQ(content_of(fs::path("run") / "log.txt"), "another run's log");

    // The folder made for "run" is this writer's own from now on; in it a name that is taken
    // (here by a link to a file outside) gives the next free name, said in a line.
    std::ofstream("victim") << "keep";
    link_or_file(fs::path("run_2") / "FW_Bank2.bin");
    link_or_file(fs::path("run_2") / "FW_Bank2.bin.part");
    EXPECT_EQ(write("run", OUT_CREATE, "FW_Bank2.bin", "ab"), 0);
    EXPECT_TRUE(fs::exists(fs::path("run_2") / "FW_Bank2.bin.2.part"));
    EXPECT_EQ(write("run", OUT_WRITE_CLOSE, "FW_Bank2.bin", "cd"), 0);
    const std::string wanted = output_path("run_2", "FW_Bank2.bin");
    const std::string taken = output_path("run_2", "FW_Bank2_2.bin");
    EXPECT_EQ(out.text(), wanted + " is there already: this file is " + taken + "\n");
    EXPECT_EQ(writer.finished_path(), taken);
    EXPECT_EQ(content_of(taken), "abcd");
    EXPECT_EQ(content_of("victim"), "keep");
    EXPECT_TRUE(fs::exists(fs::symlink_status(wanted)));
    EXPECT_FALSE(fs::exists(fs::path("run_2") / "FW_Bank2.bin.2.part"));

    EXPECT_EQ(numbered_path("a.b/log", 3), "a.b/log_3");
    EXPECT_EQ(numbered_path("run/.hidden", 2), "run/.hidden_2");
}

TEST_F(OutputFiles, UncreatableFileIsReportedAndLaterBlocksGoNowhere) {
    const std::string folder = output_path("missing", "run");  // its parent is not there
    OutputCapture out;
    EXPECT_EQ(write(folder, OUT_CREATE, "FW_Bank1.bin", "abc"), OUT_NOT_CREATED);
    EXPECT_EQ(out.take(), "Could not create " + output_path(folder, "FW_Bank1.bin") + " \n");
    EXPECT_EQ(write(folder, OUT_WRITE_CLOSE, "FW_Bank1.bin", "12345"), OUT_NOT_WRITTEN);
    EXPECT_EQ(out.take(), "Could not write to output file. Lenght 5\n");
    EXPECT_EQ(write(folder, 3, "FW_Bank1.bin", "abc"), OUT_NOT_CREATED);
    EXPECT_EQ(out.text(), "");
    EXPECT_FALSE(fs::exists("missing"));
}

// An upload that ends early leaves nothing that could be taken for a whole image: neither its
// temporary file nor a file of the image's name. A complete file of that name stays.
TEST_F(OutputFiles, UploadEndedEarlyLeavesNothingBehind) {
    OutputCapture out;
    EXPECT_EQ(write("a", OUT_CREATE_CLOSE, "FW_Bank1.bin", "a complete image"), 0);
    EXPECT_EQ(write("a", OUT_CREATE, "FW_Bank1.bin", "first"), 0);
    writer.discard();
    const std::string path = output_path("a", "FW_Bank1.bin");
    EXPECT_EQ(out.take(), "Incomplete file " + path + " removed\n");
    EXPECT_FALSE(fs::exists(unfinished_path(path)));
    EXPECT_EQ(content_of(path), "a complete image");
    writer.discard();  // nothing open: nothing said
    EXPECT_EQ(out.take(), "");

    // The next upload's first block removes an unfinished one as well.
    EXPECT_EQ(write("a", OUT_CREATE, "FW_Bank1.bin", "first"), 0);
    EXPECT_EQ(write("b", OUT_CREATE, "FW_Bank2.bin", "second"), 0);
    EXPECT_EQ(out.take(), "Incomplete file " + path + " removed\n");
    EXPECT_EQ(write("b", OUT_WRITE_CLOSE, "FW_Bank2.bin", "+"), 0);
    EXPECT_FALSE(fs::exists(unfinished_path(path)));
    EXPECT_EQ(content_of(fs::path("b") / "FW_Bank2.bin"), "second+");
}

}  // namespace
