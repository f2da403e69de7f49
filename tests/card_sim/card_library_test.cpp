// The stand-in driver libraries as the program binds them: loaded by name from the card-sim
// folder, every entry point looked up, the card found and configured as the KESTREL_CARD_
// settings say, and messages exchanged through the window the library maps. Each case runs in
// a process of its own, since a library reads its settings once.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "link/admxrc_api.h"
#include "link/frame.h"

using namespace std::chrono_literals;

namespace {

int failures = 0;
#define CHILD_CHECK(condition)                                                       \
    do {                                                                             \
        if (!(condition)) {                                                          \
            std::fprintf(stderr, "check failed at line %d: %s\n", __LINE__, #condition); \
            ++failures;                                                              \
        }                                                                            \
    } while (false)

[[noreturn]] void finish() {
    std::fflush(stderr);
    std::_Exit(failures == 0 ? 0 : 1);
}

void* load(const char* name) {
    const std::string path = std::string(CARD_SIM_DIR) + "/" + name;
    void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        std::fprintf(stderr, "cannot load %s: %s\n", path.c_str(), dlerror());
        std::_Exit(2);
    }
    return library;
}

template <typename Entries, std::size_t N>
Entries bind(void* library, const std::array<const char*, N>& names, int* missing = nullptr) {
    // Members in name order, each the size of a function pointer: filled by copying.
    std::array<void*, N> slots{};
    static_assert(sizeof(Entries) == sizeof(slots));
    for (std::size_t k = 0; k < N; ++k) {
        slots[k] = dlsym(library, names[k]);
        if (slots[k] == nullptr && missing != nullptr) {
            *missing = static_cast<int>(k);
        }
    }
    Entries entries{};
    std::memcpy(&entries, slots.data(), sizeof entries);
    return entries;
}

std::string file_text(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string temp_path(const char* name) {
    return (testing::TempDir() + "card_sim_") + std::to_string(getpid()) + "_" + name;
}

// Writes a BOOTINFO_REQ into TX_SYMBOL and reads the answer from RX_DATA on another thread.
bool bootinfo_exchange(volatile std::uint32_t* window, std::uint32_t rx_data) {
    const std::uint8_t request[] = {0x2A, 0x10, 0x00, 0x02, 0x55, 0x19, 0x00};
    std::uint8_t sub = 0;
    std::thread receiver([&] {
        const auto until = std::chrono::steady_clock::now() + 3s;
        while (std::chrono::steady_clock::now() < until) {
            static_cast<void>(window[0x1E4 / 4]);
            const std::uint32_t first = window[rx_data / 4];
            if ((first & 0xFF) != 0) {
                sub = static_cast<std::uint8_t>(window[rx_data / 4] >> 8);  // CMD, SUB, P1, P2
                static_cast<void>(window[rx_data / 4]);
                return;
            }
            std::this_thread::sleep_for(2ms);
        }
    });
    for (const std::uint8_t symbol : encode_card_symbols(request, sizeof request)) {
        window[0x008 / 4] = symbol;
    }
    receiver.join();
    return sub == 0x1A;
}

void six_card_configured_and_talking() {
    const std::string record = temp_path("setup.txt");
    const std::string unit_record = temp_path("unit.txt");
    const std::string bitfile = temp_path("six.bit");
    setenv("KESTREL_CARD_SETUP_RECORD", record.c_str(), 1);
    setenv("KESTREL_CARD_RECORD", unit_record.c_str(), 1);
    std::FILE* bits = std::fopen(bitfile.c_str(), "wb");
    std::fwrite("\x01\x0F\xA5", 1, 3, bits);
    std::fclose(bits);

    int missing = -1;
    const auto v3 = bind<admxrc3_entries>(load("libadmxrc3.so"), admxrc3_entry_names, &missing);
    CHILD_CHECK(missing == -1);
    admxrc3_handle card = 0;
    CHILD_CHECK(v3.open(0, &card) == admxrc_success && card != 0);
    admxrc3_card_info info{};
    CHILD_CHECK(v3.get_card_info_ex(card, &info) == admxrc_success);
    CHILD_CHECK(info.model_code == 0x102);
    admxrc3_version_info version{};
    CHILD_CHECK(v3.get_version_info(card, &version) == admxrc_success);
    CHILD_CHECK(version.major == 2 && version.minor == 0);
    admxrc3_bitstream bitstream{};
    CHILD_CHECK(v3.load_bitstream(bitfile.c_str(), &bitstream) == admxrc_success);
    CHILD_CHECK(bitstream.length == 3);
    void* mapped = nullptr;
    CHILD_CHECK(v3.map_window(card, 0, 0, 0x8000, &mapped) == admxrc_success && mapped);
    CHILD_CHECK(v3.configure_from_buffer(card, 0, 0, bitstream.data, bitstream.length) ==
                admxrc_success);
    v3.unload_bitstream(&bitstream);
    CHILD_CHECK(v3.load_bitstream("no-such-file.bit", &bitstream) != admxrc_success);

    auto* window = static_cast<volatile std::uint32_t*>(mapped);
    static_cast<void>(window[0]);
    window[0x00C / 4] = 2;
    window[0x010 / 4] = 1;
    window[0x1E0 / 4] = 0;
    CHILD_CHECK(bootinfo_exchange(window, 0x1F0));
    CHILD_CHECK(v3.close(card) == admxrc_success);

    const std::string text = file_text(record);
    CHILD_CHECK(text.find("configure 3 bytes by ADMXRC3_ConfigureFromBuffer\ndata 01 0F A5\n") !=
                std::string::npos);
    CHILD_CHECK(text.find("write 0x00C 0x00000002\nwrite 0x010 0x00000001\n"
                          "write 0x1E0 0x00000000\n") != std::string::npos);
    CHILD_CHECK(file_text(unit_record).find("message 2A 10 00 02 55 19 00") != std::string::npos);
    // The other interface finds no card of its kind.
    const auto v2 = bind<admxrc2_entries>(load("libadmxrc.so"), admxrc2_entry_names);
    admxrc2_handle other = 0;
    CHILD_CHECK(v2.open_card_by_index(0, &other) != admxrc_success);
    std::remove(record.c_str());
    std::remove(unit_record.c_str());
    std::remove(bitfile.c_str());
    finish();
}

TEST(CardLibraryDeathTest, SixCardIsFoundConfiguredAndTalks) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(six_card_configured_and_talking(), testing::ExitedWithCode(0), "");
}

void two_card(const char* board, std::uint32_t code, std::uint32_t rx_data) {
    const std::string record = temp_path("setup2.txt");
    setenv("KESTREL_CARD_BOARD", board, 1);
    setenv("KESTREL_CARD_SETUP_RECORD", record.c_str(), 1);
    const auto v3 = bind<admxrc3_entries>(load("libadmxrc3.so"), admxrc3_entry_names);
    admxrc3_handle none = 0;
    const admxrc_status refused = v3.open(0, &none);
    CHILD_CHECK(refused != admxrc_success);
    CHILD_CHECK(std::string(v3.get_status_string(refused, 0)).find("stand-in") != std::string::npos);

    int missing = -1;
    const auto v2 = bind<admxrc2_entries>(load("libadmxrc.so"), admxrc2_entry_names, &missing);
    CHILD_CHECK(missing == -1);
    admxrc2_handle card = 0;
    CHILD_CHECK(v2.open_card_by_index(0, &card) == admxrc_success);
    admxrc2_card_info info{};
    CHILD_CHECK(v2.get_card_info(card, &info) == admxrc_success && info.board_type == code);
    CHILD_CHECK(v2.set_clock_rate(card, 0, 30.0 * 1000000.0, nullptr) == admxrc_success);
    admxrc2_space_info space{};
    CHILD_CHECK(v2.get_space_info(card, 0, &space) == admxrc_success && space.virtual_address);
    const std::uint8_t reversed[] = {0x80, 0xF0};  // 0x01 and 0x0F as a type 2 card gets them
    CHILD_CHECK(v2.configure_from_buffer_dma(card, reversed, 2, 0xFF, nullptr) == admxrc_success);
    auto* window = static_cast<volatile std::uint32_t*>(space.virtual_address);
    CHILD_CHECK(bootinfo_exchange(window, rx_data));
    CHILD_CHECK(v2.close_card(card) == admxrc_success);
    const std::string text = file_text(record);
    CHILD_CHECK(text.find("clock 0 30000000 Hz") != std::string::npos);
    CHILD_CHECK(text.find("ADMXRC2_ConfigureFromBufferDMA\ndata 80 F0\n") != std::string::npos);
    char status[256];
    v2.status_to_string(0x2002, status, 12);
    CHILD_CHECK(std::string(status) == "stand-in ca");
    std::remove(record.c_str());
    finish();
}

TEST(CardLibraryDeathTest, TwoAndFiveCardsAreFoundByTheOlderInterface) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(two_card("2", 0x03, 0x1E8), testing::ExitedWithCode(0), "");
    EXPECT_EXIT(two_card("5", 0x0F, 0x1E8), testing::ExitedWithCode(0), "");
}

void odd_card() {
    setenv("KESTREL_CARD_MODEL", "0x104", 1);
    setenv("KESTREL_CARD_VERSION", "1.3", 1);
    setenv("KESTREL_CARD_MISSING", "ADMXRC3_Lock", 1);
    setenv("KESTREL_CARD_FAIL", "ADMXRC3_MapWindow", 1);
    int missing = -1;
    const auto v3 = bind<admxrc3_entries>(load("libadmxrc3.so"), admxrc3_entry_names, &missing);
    CHILD_CHECK(missing == 3);  // ADMXRC3_Lock, and only it
    CHILD_CHECK(v3.lock == nullptr && v3.open != nullptr && v3.cancel != nullptr);
    admxrc3_handle card = 0;
    CHILD_CHECK(v3.open(0, &card) == admxrc_success);
    admxrc3_card_info info{};
    v3.get_card_info_ex(card, &info);
    CHILD_CHECK(info.model_code == 0x104);
    admxrc3_version_info version{};
    v3.get_version_info(card, &version);
    CHILD_CHECK(version.major == 1 && version.minor == 3);
    void* mapped = nullptr;
    const admxrc_status status = v3.map_window(card, 0, 0, 0x8000, &mapped);
    CHILD_CHECK(status != admxrc_success && mapped == nullptr);
    CHILD_CHECK(std::string(v3.get_status_string(status, 0)) ==
                "stand-in card: ADMXRC3_MapWindow made to fail by KESTREL_CARD_FAIL");
    finish();
}

TEST(CardLibraryDeathTest, ModelVersionMissingEntryAndFailingStep) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(odd_card(), testing::ExitedWithCode(0), "");
}

void bad_setting() {
    setenv("KESTREL_CARD_BOARD", "7", 1);
    const auto v3 = bind<admxrc3_entries>(load("libadmxrc3.so"), admxrc3_entry_names);
    admxrc3_handle card = 0;
    const admxrc_status status = v3.open(0, &card);
    CHILD_CHECK(status != admxrc_success);
    CHILD_CHECK(std::string(v3.get_status_string(status, 0)).find("KESTREL_CARD_BOARD") !=
                std::string::npos);
    finish();
}

TEST(CardLibraryDeathTest, ABadSettingFindsNoCardAndSaysWhy) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(bad_setting(), testing::ExitedWithCode(0), "bad value '7' for KESTREL_CARD_BOARD");
}

}  // namespace
