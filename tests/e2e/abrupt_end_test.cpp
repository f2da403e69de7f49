// Runs that end in the middle of an upload: by a signal, by a unit that dies, by a port that is
// pulled. Each way out removes the partial file, says so where the console can still take it,
// and leaves no file under the image's name.
#include <signal.h>

#include <filesystem>
#include <string>
#include <thread>

#include "e2e/e2e_fixture.h"
#include "e2e/unit_files.h"

namespace fs = std::filesystem;

namespace {

// The files below `dir` whose name ends in `suffix`.
std::vector<fs::path> files_ending(const fs::path& dir, const std::string& suffix) {
    std::vector<fs::path> found;
    std::error_code error;
    for (const auto& entry : fs::recursive_directory_iterator(dir, error)) {
        const std::string name = entry.path().filename().string();
        if (name.size() >= suffix.size() &&
            name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0) {
            found.push_back(entry.path());
        }
    }
    return found;
}

}  // namespace

class AbruptEnds : public EndToEndTest {
protected:
    // Starts a command-line get of bank 2's software image (six blocks) and returns once its
    // partial file exists: the unit answers the first block, then falls silent, so the upload
    // waits for the second.
    std::unique_ptr<program_run> upload_under_way() {
        unit_->set_faults({});
        unit_->clear_received();
        auto run = launch({"/interface", "3", "/bank", "2", "+get_sw"}, console_mode::input_null);
        const bool asked = unit_->wait_until(
            [](const sim_view& view) {
                for (const received_item& item : view.received) {
                    if (item.kind == received_kind::message && item.bytes.size() > 5 &&
                        item.bytes[5] == sub_byte(sub_code::FILE_REQ)) {
                        return true;
                    }
                }
                return false;
            },
            20s);
        EXPECT_TRUE(asked) << target_.name() << ": no FILE_REQ came";
        sim_faults silent;
        silent.silent = true;
        unit_->set_faults(silent);
        for (int k = 0; k < 1000 && files_ending(dir_, ".part").empty(); ++k) {
            std::this_thread::sleep_for(10ms);
        }
        EXPECT_EQ(files_ending(dir_, ".part").size(), 1U) << target_.name();
        return run;
    }

    void expect_nothing_left(const run_result& result) {
        EXPECT_TRUE(files_ending(dir_, ".part").empty()) << describe(result);
        EXPECT_TRUE(files_ending(dir_, ".srec").empty()) << describe(result);
        EXPECT_TRUE(shows(result.out, "Incomplete file ")) << describe(result);
        EXPECT_TRUE(shows(result.out, "SW_Bank2.srec removed")) << describe(result);
    }
};

TEST_F(AbruptEnds, SignalsDuringAnUploadLeaveNoPartialFile) {
    if (target_.wine) {
        GTEST_SKIP() << "signals are sent to Linux processes only";
    }
    start_unit();
    for (const int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
        SCOPED_TRACE(signal_number);
        auto run = upload_under_way();
        ASSERT_EQ(::kill(run->pid(), signal_number), 0);
        const run_result result = run->wait(10s);
        EXPECT_EQ(result.status, 128 + signal_number) << describe(result);
        expect_nothing_left(result);
        for (const fs::path& folder : output_folders(dir_)) {
            fs::remove_all(folder);
        }
    }
}

TEST_F(AbruptEnds, AUnitThatDiesOrAPortPulledLeavesNoPartialFile) {
    start_unit();
    auto run = upload_under_way();
    unit_->disconnect();
    const run_result result = run->wait(30s);
    EXPECT_EQ(result.status, 2) << describe(result);
    expect_nothing_left(result);
}
