// Several units in one run (/ports): every operation on every unit at once, each unit's lines
// marked with its port, one report and the run's events for all of them; a unit that fails
// (silent, its port pulled, its port never there) fails alone; +skip_same; /wait_port; and the
// files of runs side by side: two programs in one folder, links waiting where files would go.
// Natively with four units, under wine with two.
#include <nlohmann/json.hpp>

#include <algorithm>
#include <ctime>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "e2e/unit_files.h"
#include "e2e/wire_log.h"
#include "link/crc.h"

namespace {

namespace fs = std::filesystem;
using json = nlohmann::json;

constexpr std::size_t image_size = 8192;

class SeveralUnits : public OperationsTest {
protected:
    void TearDown() override {
        for (auto& unit : units_) {
            unit->stop();
        }
        units_.clear();
        OperationsTest::TearDown();
    }

    std::size_t unit_count() const { return target_.wine ? 2 : 4; }

    // Units on COM3, COM4, ..., each starting with images of its own; `setup` changes the
    // options of each before it starts.
    void start_units(std::size_t count,
                     const std::function<void(std::size_t, sim_unit_options&)>& setup = {}) {
        for (std::size_t k = 0; k < count; ++k) {
            sim_unit_options options = unit_options(static_cast<unsigned>(3 + k));
            options.image_variant = static_cast<unsigned>(3 + k);
            if (setup) {
                setup(k, options);
            }
            units_.push_back(std::make_unique<sim_unit>(options));
            units_.back()->start();
        }
    }

    static std::string port(std::size_t k) { return "COM" + std::to_string(3 + k); }
    static std::string port_list(std::size_t count) {
        std::string list;
        for (std::size_t k = 0; k < count; ++k) {
            list += (k == 0 ? "" : ",") + port(k);
        }
        return list;
    }

    run_result run_units(const std::vector<std::string>& args) const {
        return run(args, console_mode::input_null, 120s);
    }

    json read_json(const fs::path& path) const {
        const std::optional<byte_vector> text = read_bytes(path);
        if (!text) {
            ADD_FAILURE() << "no " << path;
            return json();
        }
        return json::parse(text->begin(), text->end());
    }

    // The events of the run, each line parsed on its own.
    std::vector<json> read_events(const fs::path& path) const {
        std::vector<json> events;
        std::ifstream in(path);
        for (std::string line; std::getline(in, line);) {
            events.push_back(json::parse(line));
        }
        return events;
    }

    byte_vector bank2_image(std::size_t k) const {
        return units_[k]->memory().banks[2].fpga.content;
    }

    // What the run printed, but the summary at its end, comes in lines of the units.
    void expect_lines_of_units(const run_result& result) const {
        std::istringstream lines(result.out.substr(0, result.out.rfind("\n\n")));
        for (std::string line; std::getline(lines, line);) {
            EXPECT_TRUE(line.rfind("[COM", 0) == 0) << line << "\n" << describe(result);
        }
    }

    std::vector<std::unique_ptr<sim_unit>> units_;
};

std::string hex32(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", value);
    return text;
}

// A path as a report names it (with '\\' from the Windows program), as this system spells it.
fs::path native_path(std::string path) {
    std::replace(path.begin(), path.end(), '\\', '/');
    return path;
}

// The events of one port, in order.
std::vector<json> events_of(const std::vector<json>& events, const std::string& port) {
    std::vector<json> mine;
    for (const json& event : events) {
        if (event.value("port", "") == port) {
            mine.push_back(event);
        }
    }
    return mine;
}

}  // namespace

TEST_F(SeveralUnits, ALoadWithVerifyAndReportOnEveryUnitAndItsEvents) {
    const std::size_t count = unit_count();
    start_units(count);
    const byte_vector image = put_file("fw.bin", image_size, 9);
    const run_result result =
        run_units({"/ports", port_list(count), "/load_fw", "fw.bin", "/bank", "2", "+verify",
                   "/report", "r.json", "/events", "ev.jsonl"});
    ASSERT_FALSE(result.timed_out) << describe(result);
    EXPECT_EQ(result.status, 0) << describe(result);
    expect_lines_of_units(result);
    EXPECT_TRUE(contains(result, "\n" + std::to_string(count) + " units: " +
                                     std::to_string(count) + " succeeded, 0 skipped, 0 failed\n"))
        << describe(result);

    const json report = read_json(dir_ / "r.json");
    EXPECT_EQ(report["exit_status"], 0);
    ASSERT_EQ(report["units"].size(), count);
    for (std::size_t k = 0; k < count; ++k) {
        EXPECT_EQ(bank2_image(k), image) << port(k);
        const json& unit = report["units"][k];
        EXPECT_EQ(unit["port"], port(k));
        EXPECT_EQ(unit["status"], 0);
        EXPECT_EQ(unit["verdict"], "succeeded");
        EXPECT_EQ(unit["connected_bank"], 1);
        EXPECT_EQ(unit["banks"][2]["image"]["crc32"],
                  hex32(crc32_file(image.data(), image.size(), 0xFFFFFFFFU)));
        ASSERT_EQ(unit["operations"].size(), 3U) << unit.dump();
        EXPECT_EQ(unit["operations"][1]["operation"], "load_fw");
        EXPECT_EQ(unit["operations"][2]["operation"], "verify");
        EXPECT_EQ(unit["operations"][2]["outcome"], "ok");
    }

    // Every line an event with its time; the run's first and last; each unit's in order.
    const std::vector<json> events = read_events(dir_ / "ev.jsonl");
    ASSERT_GE(events.size(), 2U);
    for (const json& event : events) {
        EXPECT_EQ(event["time"].get<std::string>().size(), 24U) << event.dump();
    }
    EXPECT_EQ(events.front()["event"], "run_start");
    EXPECT_EQ(events.front()["ports"].size(), count);
    EXPECT_EQ(events.back()["event"], "run_end");
    EXPECT_EQ(events.back()["status"], 0);
    EXPECT_EQ(events.back()["succeeded"], count);
    for (std::size_t k = 0; k < count; ++k) {
        std::vector<std::string> kinds;
        bool progress = false;
        for (const json& event : events_of(events, port(k))) {
            if (event["event"] == "progress") {
                progress = true;
                EXPECT_LE(event["done"].get<std::uint64_t>(), event["total"].get<std::uint64_t>());
                continue;
            }
            std::string kind = event["event"].get<std::string>();
            if (event.contains("operation")) {
                kind += " " + event["operation"].get<std::string>();
            }
            kinds.push_back(kind);
        }
        EXPECT_TRUE(progress) << port(k);
        const std::vector<std::string> expected = {
            "operation_start connect", "unit_connected",       "operation_end connect",
            "operation_start load_fw", "operation_end load_fw", "operation_start verify",
            "operation_end verify",    "unit_end"};
        EXPECT_EQ(kinds, expected) << port(k);
    }
}

// On a terminal a block of a line per unit shows each unit's transfer as it goes; the summary
// stays when the run is over.
TEST_F(SeveralUnits, OnATerminalALiveViewShowsEveryUnit) {
    start_units(2);
    put_file("fw.bin", 16384, 13);
    std::unique_ptr<program_run> run =
        launch({"/ports", port_list(2), "/load_fw", "fw.bin", "/bank", "2"},
               console_mode::terminal);
    for (const std::string& unit : {port(0), port(1)}) {
        EXPECT_TRUE(run->wait_for_output(
            [&](const std::string& out) { return shows(out, "[" + unit + "] Download fw.bin"); },
            60s))
            << unit << "\n" << screen_form(run->output());
    }
    const run_result result = run->wait(120s);
    ASSERT_FALSE(result.timed_out) << describe(result);
    EXPECT_EQ(result.status, 0) << describe(result);
    EXPECT_TRUE(shows(result.out, "2 units: 2 succeeded, 0 skipped, 0 failed")) << describe(result);
}

TEST_F(SeveralUnits, ASilentUnitFailsAloneWhileTheOthersLoad) {
    const std::size_t count = unit_count();
    start_units(count, [](std::size_t k, sim_unit_options& options) {
        options.faults.silent = k == 1;
    });
    const byte_vector image = put_file("fw.bin", image_size, 10);
    const run_result result = run_units(
        {"/ports", port_list(count), "/load_fw", "fw.bin", "/bank", "2", "/report", "r.json"});
    ASSERT_FALSE(result.timed_out) << describe(result);
    EXPECT_EQ(result.status, 4) << describe(result);
    EXPECT_TRUE(contains(result, "[COM4] Unable to get Boot information from unit. Too many "
                                 "retries\n"))
        << describe(result);
    EXPECT_TRUE(contains(result, "  failed     COM4: Unable to get Boot information from unit. "
                                 "Too many retries\n"))
        << describe(result);
    const json report = read_json(dir_ / "r.json");
    EXPECT_EQ(report["exit_status"], 4);
    for (std::size_t k = 0; k < count; ++k) {
        EXPECT_EQ(report["units"][k]["status"], k == 1 ? 4 : 0) << port(k);
        if (k != 1) {
            EXPECT_EQ(bank2_image(k), image) << port(k);
        }
    }
}

TEST_F(SeveralUnits, APortPulledInTheMiddleEndsItsUnitAlone) {
    const std::size_t count = unit_count();
    start_units(count);
    const byte_vector image = put_file("fw.bin", 32768, 11);
    std::unique_ptr<program_run> run = launch(
        {"/ports", port_list(count), "/load_fw", "fw.bin", "/bank", "2", "/report", "r.json"},
        console_mode::input_null);
    sim_unit& pulled = *units_.back();
    ASSERT_TRUE(pulled.wait_until(
        [](const sim_view& v) { return received_count(v, sub_code::DL_DATA) >= 8; }, 60s));
    pulled.disconnect();
    const run_result result = run->wait(120s);
    ASSERT_FALSE(result.timed_out) << describe(result);
    EXPECT_EQ(result.status, 2) << describe(result);
    const std::string last = port(count - 1);
    EXPECT_TRUE(contains(result, "[" + last + "] Serial port " + last + ": ")) << describe(result);
    const json report = read_json(dir_ / "r.json");
    const json& failed = report["units"][count - 1];
    EXPECT_EQ(failed["status"], 2);
    EXPECT_EQ(failed["operations"].back()["operation"], "load_fw");
    EXPECT_EQ(failed["operations"].back()["outcome"], "failed");
    for (std::size_t k = 0; k + 1 < count; ++k) {
        EXPECT_EQ(report["units"][k]["status"], 0) << port(k);
        EXPECT_EQ(bank2_image(k), image) << port(k);
    }
}

TEST_F(SeveralUnits, SkipSameLeavesOutALoadTheUnitHoldsAndStillVerifiesIt) {
    const byte_vector image = pattern_bytes(image_size, 12);
    start_units(2, [&image](std::size_t k, sim_unit_options& options) {
        if (k == 0) {
            options.preloads.push_back({2, 1, "fw.bin", image});
        }
    });
    write_bytes(dir_ / "fw.bin", image);
    const run_result result =
        run_units({"/ports", port_list(2), "+skip_same", "/load_fw", "fw.bin", "/bank", "2",
                   "+verify", "/report", "r.json"});
    ASSERT_FALSE(result.timed_out) << describe(result);
    EXPECT_EQ(result.status, 0) << describe(result);
    const std::string reason = "bank 2 already holds it: 8192 bytes, CRC-32 " +
                               hex32(crc32_file(image.data(), image.size(), 0xFFFFFFFFU));
    EXPECT_TRUE(contains(result, "[COM3] Skipped fw.bin: " + reason + "\n")) << describe(result);
    EXPECT_TRUE(contains(result, "2 units: 1 succeeded, 1 skipped, 0 failed\n"))
        << describe(result);
    EXPECT_EQ(received_count(units_[0]->snapshot(), sub_code::DL_DATA), 0U);
    EXPECT_GT(received_count(units_[1]->snapshot(), sub_code::DL_DATA), 0U);
    EXPECT_EQ(bank2_image(1), image);
    const json report = read_json(dir_ / "r.json");
    const json& skipped = report["units"][0];
    EXPECT_EQ(skipped["verdict"], "skipped");
    EXPECT_EQ(skipped["operations"][1]["outcome"], "skipped");
    EXPECT_EQ(skipped["operations"][1]["message"], reason);
    EXPECT_EQ(skipped["operations"][2]["operation"], "verify");
    EXPECT_EQ(skipped["operations"][2]["outcome"], "ok");
    EXPECT_EQ(report["units"][1]["verdict"], "succeeded");
}

TEST_F(SeveralUnits, WaitPortTakesAPortThatAppearsAndFailsOneThatNeverDoes) {
    std::unique_ptr<program_run> run = launch(
        {"/ports", "COM3,COM4", "+info", "/wait_port", "6", "/report", "r.json"},
        console_mode::input_null);
    std::this_thread::sleep_for(2s);
    start_units(1);
    const run_result result = run->wait(120s);
    ASSERT_FALSE(result.timed_out) << describe(result);
    EXPECT_EQ(result.status, 2) << describe(result);
    EXPECT_TRUE(contains(result, "[COM4] Waiting up to 6 s for the port COM4 to appear\n"))
        << describe(result);
    EXPECT_TRUE(contains(result, "[COM4] The port COM4 did not appear within 6 s\n"))
        << describe(result);
    EXPECT_TRUE(contains(result, "  succeeded  COM3\n")) << describe(result);
    const json report = read_json(dir_ / "r.json");
    EXPECT_EQ(report["units"][0]["status"], 0);
    EXPECT_EQ(report["units"][0]["operations"][1]["operation"], "info");
    EXPECT_EQ(report["units"][1]["status"], 2);
}

// Two programs started together in one folder, each fetching bank 2 of its own unit: each
// report names a file of its own that holds its unit's image.
TEST_F(SeveralUnits, TwoProgramsInOneFolderEachKeepTheirOwnFiles) {
    start_units(2);
    ASSERT_NE(bank2_image(0), bank2_image(1));
    std::unique_ptr<program_run> first =
        launch({"/port", "COM3", "/bank", "2", "+get_fw", "/report", "r3.json"},
               console_mode::input_null);
    std::unique_ptr<program_run> second =
        launch({"/port", "COM4", "/bank", "2", "+get_fw", "/report", "r4.json"},
               console_mode::input_null);
    const run_result results[] = {first->wait(90s), second->wait(90s)};
    std::vector<std::string> paths;
    for (std::size_t k = 0; k < 2; ++k) {
        ASSERT_FALSE(results[k].timed_out) << describe(results[k]);
        EXPECT_EQ(results[k].status, 0) << describe(results[k]);
        const json report = read_json(dir_ / ("r" + std::to_string(3 + k) + ".json"));
        ASSERT_EQ(report["files"].size(), 1U) << report.dump();
        const fs::path path = native_path(report["files"][0]["path"]);
        paths.push_back(path.parent_path().string());
        const std::optional<byte_vector> content = read_bytes(dir_ / path);
        ASSERT_TRUE(content.has_value()) << path;
        EXPECT_EQ(*content, bank2_image(k)) << path;
    }
    EXPECT_NE(paths[0], paths[1]);
}

// Links put where the run's folder and the report's temporary file would go are neither
// followed nor replaced: the run takes other names. One port in /ports is a run of one unit:
// its lines unmarked, its files straight in the run's folder.
TEST_F(SeveralUnits, LinksWaitingAtTheNamesAreNeitherFollowedNorReplaced) {
    start_units(1);
    fs::create_directory(dir_ / "elsewhere");
    write_bytes(dir_ / "victim", {'k', 'e', 'e', 'p'});
    fs::create_symlink(dir_ / "victim", dir_ / "r.json.part");
    // The time-stamped folders of the next seconds, taken by links to another folder.
    const std::time_t now = std::time(nullptr);
    for (int second = 0; second < 30; ++second) {
        const std::time_t at = now + second;
        std::tm local{};
        localtime_r(&at, &local);
        char name[32];
        std::strftime(name, sizeof name, "%Y_%m_%d_%H_%M_%S", &local);
        fs::create_directory_symlink(dir_ / "elsewhere", dir_ / name);
    }
    const run_result result =
        run_units({"/ports", "COM3", "/bank", "2", "+get_fw", "/report", "r.json"});
    ASSERT_FALSE(result.timed_out) << describe(result);
    EXPECT_EQ(result.status, 0) << describe(result);
    EXPECT_EQ(result.out.find("[COM3]"), std::string::npos) << describe(result);
    EXPECT_TRUE(fs::is_empty(dir_ / "elsewhere"));
    EXPECT_EQ(read_bytes(dir_ / "victim"), byte_vector({'k', 'e', 'e', 'p'}));
    EXPECT_TRUE(fs::is_symlink(dir_ / "r.json.part"));
    const json report = read_json(dir_ / "r.json");
    ASSERT_EQ(report["files"].size(), 1U);
    const fs::path path = native_path(report["files"][0]["path"]);
    EXPECT_EQ(path.filename(), "FW_Bank2.bin");
    EXPECT_EQ(path.parent_path().string().substr(19), "_2") << path;
    EXPECT_EQ(read_bytes(dir_ / path), bank2_image(0));
}
