#include "link/admxrc_wrapper.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "platform/binary_file.h"
#include "support/capture.h"
#include "support/temp_folder.h"

namespace {

// ---- A driver held in memory: both interfaces, each call recorded ----------------------------

struct fake_card_state {
    std::vector<std::string> calls;
    // ADMXRC3
    admxrc_status open3 = 0, info3 = 0, close3 = 0, map3 = 0, configure3 = 0, load_bitstream3 = 0;
    std::uint32_t serial = 4711;
    std::uint32_t model = 0x102;
    std::uint16_t major = 2, minor = 0;
    std::vector<std::uint8_t> library_bitstream{0x01, 0x0F, 0x33};
    const admxrc3_bitstream* unloaded = nullptr;
    std::uint64_t map_offset = 99, map_length = 0;
    std::uint32_t map_window = 99, configure_target = 99, configure_flags = 99;
    // ADMXRC2
    admxrc_status open2 = 0, info2 = 0, close2 = 0, clock2 = 0, space2 = 0, configure2 = 0;
    std::vector<std::uint32_t> board_codes{0x0F};  // one per GetCardInfo, the last repeats
    std::size_t info_calls = 0;
    double clock_hz = 0;
    const double* actual_clock = reinterpret_cast<const double*>(1);
    std::uint32_t space_index = 99, clock_index = 99, dma_channel = 0;
    admxrc_event event = nullptr;
    // Both
    std::vector<std::uint8_t> configured;
    std::array<std::uint32_t, 0x8000 / 4> window{};
};
fake_card_state fake;

constexpr admxrc3_handle handle3 = 0x33;
constexpr admxrc2_handle handle2 = 0x22;

admxrc_status f3_open(std::uint32_t index, admxrc3_handle* card) {
    fake.calls.push_back("open3 " + std::to_string(index));
    if (fake.open3 == 0) {
        *card = handle3;
    }
    return fake.open3;
}
admxrc_status f3_close(admxrc3_handle card) {
    fake.calls.push_back(card == handle3 ? "close3" : "close3 bad handle");
    return fake.close3;
}
const char* f3_status_text(admxrc_status status, std::int32_t brief) {
    static std::string text;
    text = "v3 status " + std::to_string(status) + (brief != 0 ? " brief" : "");
    return text.c_str();
}
admxrc_status f3_card_info(admxrc3_handle, admxrc3_card_info* info) {
    fake.calls.push_back("info3");
    info->serial_number = fake.serial;
    info->model_code = fake.model;
    return fake.info3;
}
admxrc_status f3_map(admxrc3_handle, std::uint32_t window, std::uint64_t offset,
                     std::uint64_t length, void** address) {
    fake.calls.push_back("map3");
    fake.map_window = window;
    fake.map_offset = offset;
    fake.map_length = length;
    *address = fake.window.data();
    return fake.map3;
}
admxrc_status f3_load_bitstream(const char* file, admxrc3_bitstream* bitstream) {
    fake.calls.push_back(std::string("load3 ") + file);
    if (fake.load_bitstream3 == 0) {
        bitstream->data = fake.library_bitstream.data();
        bitstream->length = static_cast<std::uint32_t>(fake.library_bitstream.size());
    }
    return fake.load_bitstream3;
}
admxrc_status f3_unload_bitstream(admxrc3_bitstream* bitstream) {
    fake.calls.push_back("unload3");
    fake.unloaded = bitstream;
    return 0;
}
admxrc_status f3_configure(admxrc3_handle, std::uint32_t target, std::uint32_t flags,
                           const void* data, std::uint64_t length) {
    fake.calls.push_back("configure3");
    fake.configure_target = target;
    fake.configure_flags = flags;
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    fake.configured.assign(bytes, bytes + length);
    return fake.configure3;
}
admxrc_status f3_version(admxrc3_handle, admxrc3_version_info* info) {
    fake.calls.push_back("version3");
    info->major = fake.major;
    info->minor = fake.minor;
    return 0;
}

admxrc_status f2_close(admxrc2_handle card) {
    fake.calls.push_back(card == handle2 ? "close2" : "close2 bad handle");
    return fake.close2;
}
admxrc_status f2_space(admxrc2_handle, std::uint32_t space, admxrc2_space_info* info) {
    fake.calls.push_back("space2");
    fake.space_index = space;
    info->virtual_address = fake.window.data();
    return fake.space2;
}
admxrc_status f2_open(std::uint32_t index, admxrc2_handle* card) {
    fake.calls.push_back("open2 " + std::to_string(index));
    if (fake.open2 == 0) {
        *card = handle2;
    }
    return fake.open2;
}
admxrc_status f2_card_info(admxrc2_handle, admxrc2_card_info* info) {
    fake.calls.push_back("info2");
    const std::size_t k = std::min(fake.info_calls++, fake.board_codes.size() - 1);
    info->board_type = fake.board_codes[k];
    return fake.info2;
}
admxrc_status f2_clock(admxrc2_handle, std::uint32_t clock, double frequency, double* actual) {
    fake.calls.push_back("clock2");
    fake.clock_index = clock;
    fake.clock_hz = frequency;
    fake.actual_clock = actual;
    return fake.clock2;
}
admxrc_status f2_configure_dma(admxrc2_handle, const void* data, std::uint64_t length,
                               std::uint32_t channel, admxrc_event event) {
    fake.calls.push_back("configure2");
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    fake.configured.assign(bytes, bytes + length);
    fake.dma_channel = channel;
    fake.event = event;
    return fake.configure2;
}
void f2_status_text(admxrc_status status, char* buffer, std::uint32_t size) {
    std::snprintf(buffer, size, "v2 status %u", static_cast<unsigned>(status));
}

void never_called() { ADD_FAILURE() << "a bound-only entry was called"; }

using entry_table = std::map<std::string, library_entry>;

template <class Fn>
library_entry entry(Fn fn) {
    return reinterpret_cast<library_entry>(fn);
}

entry_table admxrc3_table() {
    entry_table t;
    for (const char* name : admxrc3_entry_names) {
        t[name] = &never_called;
    }
    t["ADMXRC3_Open"] = entry(&f3_open);
    t["ADMXRC3_Close"] = entry(&f3_close);
    t["ADMXRC3_GetStatusStringA"] = entry(&f3_status_text);
    t["ADMXRC3_GetCardInfoEx"] = entry(&f3_card_info);
    t["ADMXRC3_MapWindow"] = entry(&f3_map);
    t["ADMXRC3_LoadBitstreamA"] = entry(&f3_load_bitstream);
    t["ADMXRC3_UnloadBitstreamA"] = entry(&f3_unload_bitstream);
    t["ADMXRC3_ConfigureFromBuffer"] = entry(&f3_configure);
    t["ADMXRC3_GetVersionInfo"] = entry(&f3_version);
    return t;
}

entry_table admxrc2_table() {
    entry_table t;
    for (const char* name : admxrc2_entry_names) {
        t[name] = &never_called;
    }
    t["ADMXRC2_CloseCard"] = entry(&f2_close);
    t["ADMXRC2_GetSpaceInfo"] = entry(&f2_space);
    t["ADMXRC2_OpenCardByIndex"] = entry(&f2_open);
    t["ADMXRC2_GetCardInfo"] = entry(&f2_card_info);
    t["ADMXRC2_SetClockRate"] = entry(&f2_clock);
    t["ADMXRC2_ConfigureFromBufferDMA"] = entry(&f2_configure_dma);
    t["ADMXRC_StatusToString"] = entry(&f2_status_text);
    return t;
}

// Libraries by name; loading and releasing are recorded.
class fake_loader final : public driver_loader {
public:
    std::map<std::string, entry_table> libraries;
    std::vector<std::string> loaded, released;
    bool release_works = true;

    library_handle load(const char* name) override {
        const auto found = libraries.find(name);
        if (found == libraries.end()) {
            return nullptr;
        }
        loaded.emplace_back(name);
        return &found->second;
    }
    library_entry lookup(library_handle library, const char* name) override {
        const auto& table = *static_cast<entry_table*>(library);
        const auto found = table.find(name);
        return found == table.end() ? nullptr : found->second;
    }
    bool release(library_handle library) override {
        for (const auto& [name, table] : libraries) {
            if (&table == library) {
                released.push_back(name);
            }
        }
        return release_works;
    }
};

const std::string v3_name = admxrc3_library_name();
const std::string v2_name = admxrc2_library_name();

class CardWrapperTest : public ::testing::Test {
protected:
    void SetUp() override { fake = fake_card_state{}; }

    void with_v3() { loader.libraries[v3_name] = admxrc3_table(); }
    void with_v2() { loader.libraries[v2_name] = admxrc2_table(); }

    // A wrapper that has found a card of the board type (6 through ADMXRC3, else ADMXRC2).
    std::unique_ptr<CADMXRCWrapper> detected(int board_type) {
        if (board_type == 6) {
            with_v3();
        } else {
            loader.libraries.erase(v3_name);
            with_v2();
            fake.board_codes = {board_type == 5 ? 0x0Fu : 0x03u};
        }
        auto card = std::make_unique<CADMXRCWrapper>(loader);
        EXPECT_TRUE(card->DetectCard());
        EXPECT_EQ(card->board_type(), board_type);
        fake.calls.clear();
        output.take();
        return card;
    }

    fake_loader loader;
    OutputCapture output;
};

// ---- DetectCard --------------------------------------------------------------------------

TEST_F(CardWrapperTest, DetectFindsAV6CardThroughAdmxrc3AndKeepsItOpen) {
    with_v3();
    with_v2();
    for (const std::uint32_t model : {0x102u, 0x106u}) {
        fake.model = model;
        CADMXRCWrapper card(loader);
        EXPECT_TRUE(card.DetectCard());
        EXPECT_EQ(card.board_type(), 6);
        EXPECT_EQ(card.card3(), handle3);
        EXPECT_EQ(output.take(), "\nV6 card serial # = 4711\n\n");
    }
    EXPECT_EQ(loader.loaded, (std::vector<std::string>{v3_name, v3_name}));
}

TEST_F(CardWrapperTest, DetectPassesOverAnAdmxrc3LibraryLackingAnyEntrySilently) {
    with_v2();
    for (const char* missing : admxrc3_entry_names) {
        fake = fake_card_state{};
        with_v3();
        loader.libraries[v3_name].erase(missing);
        CADMXRCWrapper card(loader);
        EXPECT_TRUE(card.DetectCard()) << missing;
        EXPECT_EQ(card.board_type(), 5) << missing;
        EXPECT_EQ(output.take(), "") << missing;
        EXPECT_EQ(fake.calls, (std::vector<std::string>{"open2 0", "info2"})) << missing;
    }
}

TEST_F(CardWrapperTest, DetectFallsBackWhenTheAdmxrc3CardIsRefused) {
    struct refusal {
        const char* what;
        void (*arrange)();
        std::string printed;
        std::vector<std::string> calls;
    };
    const std::vector<refusal> cases = {
        {"no card", [] { fake.open3 = 5; }, "", {"open3 0"}},
        {"no info", [] { fake.info3 = 6; },
         "Failed to find ADMXRC info, card_0, ERROR = v3 status 6.\n", {"open3 0", "info3", "close3"}},
        {"model 0x104", [] { fake.model = 0x104; },
         "\nV6 card serial # = 4711\n\nIncorrect ADMXRC board found:  Expected = 0x102 or 0x106, "
         "Found = 0x104\n",
         {"open3 0", "info3", "close3"}},
        {"version 1.3", [] { fake.major = 1; fake.minor = 3; },
         "\nV6 card serial # = 4711\n\nDLL file " + v3_name + " version is incorrect!\n",
         {"open3 0", "info3", "version3", "close3"}},
        {"version 1.0", [] { fake.major = 1; fake.minor = 0; },
         "\nV6 card serial # = 4711\n\nDLL file " + v3_name + " version is incorrect!\n",
         {"open3 0", "info3", "version3", "close3"}},
    };
    for (const refusal& r : cases) {
        fake = fake_card_state{};
        loader.libraries.clear();
        loader.released.clear();
        with_v3();
        r.arrange();
        CADMXRCWrapper card(loader);
        // Without the older library the fallback ends the detection.
        EXPECT_FALSE(card.DetectCard()) << r.what;
        EXPECT_EQ(output.take(), r.printed + v2_name + " not found.\n") << r.what;
        EXPECT_EQ(fake.calls, r.calls) << r.what;
        EXPECT_EQ(card.card3(), 0u) << r.what;
        EXPECT_EQ(card.board_type(), 0) << r.what;
        EXPECT_EQ(loader.released, std::vector<std::string>{v3_name}) << r.what;
    }
}

TEST_F(CardWrapperTest, DetectAcceptsLibraryVersions14And20) {
    with_v3();
    for (const auto& [major, minor] : {std::pair{1, 4}, std::pair{2, 0}, std::pair{0, 9}}) {
        fake.major = static_cast<std::uint16_t>(major);
        fake.minor = static_cast<std::uint16_t>(minor);
        CADMXRCWrapper card(loader);
        EXPECT_TRUE(card.DetectCard()) << major << "." << minor;
        EXPECT_EQ(card.board_type(), 6);
    }
}

TEST_F(CardWrapperTest, DetectFindsAdmxrc2CardsByBoardTypeCode) {
    with_v2();
    fake.board_codes = {0x0F};
    CADMXRCWrapper v5(loader);
    EXPECT_TRUE(v5.DetectCard());
    EXPECT_EQ(v5.board_type(), 5);
    EXPECT_FLOAT_EQ(v5.clock_hz(), 75.0e6f);
    EXPECT_EQ(v5.card2(), handle2);

    fake.board_codes = {0x03};
    CADMXRCWrapper v2(loader);
    EXPECT_TRUE(v2.DetectCard());
    EXPECT_EQ(v2.board_type(), 2);
    EXPECT_FLOAT_EQ(v2.clock_hz(), 30.0e6f);
    EXPECT_EQ(output.take(), "");
}

TEST_F(CardWrapperTest, DetectFailuresOnTheAdmxrc2Library) {
    {
        CADMXRCWrapper card(loader);
        EXPECT_FALSE(card.DetectCard());
        EXPECT_EQ(output.take(), v2_name + " not found.\n");
    }
    for (const char* missing : admxrc2_entry_names) {
        with_v2();
        loader.libraries[v2_name].erase(missing);
        CADMXRCWrapper card(loader);
        EXPECT_FALSE(card.DetectCard()) << missing;
        EXPECT_EQ(output.take(), "") << missing;
        EXPECT_TRUE(fake.calls.empty()) << missing;
    }
    with_v2();
    fake.open2 = 7;
    {
        CADMXRCWrapper card(loader);
        EXPECT_FALSE(card.DetectCard());
        EXPECT_EQ(output.take(), "ADMXRC2 card not found, ERROR = v2 status 7.\n");
    }
    fake = fake_card_state{};
    fake.info2 = 8;
    {
        CADMXRCWrapper card(loader);
        EXPECT_FALSE(card.DetectCard());
        EXPECT_EQ(output.take(), "Failed to find ADMXRC info, card_0, ERROR = v2 status 8.\n");
        EXPECT_EQ(card.card2(), 0u);
    }
    fake = fake_card_state{};
    fake.board_codes = {0x05};
    {
        CADMXRCWrapper card(loader);
        EXPECT_FALSE(card.DetectCard());
        EXPECT_EQ(output.take(), "Incorrect ADMXRC2/5 board found:  Expected = 0x003 or 0x00f, "
                                 "Found = 0x005\n");
        EXPECT_EQ(card.board_type(), 0);
        // The refused card is closed again.
        EXPECT_EQ(fake.calls, (std::vector<std::string>{"open2 0", "info2", "close2"}));
    }
}

// ---- ReadBitstream -----------------------------------------------------------------------

void write_file(const std::string& name, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(name, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

TEST_F(CardWrapperTest, ReadBitstreamBitReversesOnBoardType2Only) {
    const TempFolder folder;
    write_file("in.bit", {0x01, 0x0F, 0x80, 0xA5, 0x00, 0xFF, 0x12});
    auto v2 = detected(2);
    EXPECT_TRUE(v2->ReadBitstream("in.bit"));
    EXPECT_EQ(v2->bitstream(), (std::vector<std::uint8_t>{0x80, 0xF0, 0x01, 0xA5, 0x00, 0xFF, 0x48}));
    EXPECT_EQ(v2->bitstream_length(), 7u);
    // The reversed bytes are what reaches the card.
    EXPECT_TRUE(v2->OpenAndConfigure());
    EXPECT_EQ(fake.configured, v2->bitstream());

    auto v5 = detected(5);
    EXPECT_TRUE(v5->ReadBitstream("in.bit"));
    EXPECT_EQ(v5->bitstream(), (std::vector<std::uint8_t>{0x01, 0x0F, 0x80, 0xA5, 0x00, 0xFF, 0x12}));
    // A second read replaces the first.
    write_file("short.bit", {0x42});
    EXPECT_TRUE(v5->ReadBitstream("short.bit"));
    EXPECT_EQ(v5->bitstream(), std::vector<std::uint8_t>{0x42});
    EXPECT_EQ(v5->bitstream_length(), 1u);
    EXPECT_EQ(output.take(), "");
}

TEST_F(CardWrapperTest, ReadBitstreamOfAMissingFileGivesTheSystemsText) {
    const TempFolder folder;
    std::vector<std::uint8_t> ignored;
    os_error expected;
    ASSERT_FALSE(read_binary_file("missing.bit", ignored, expected));
    ASSERT_FALSE(expected.text.empty());
    for (const int board_type : {2, 5}) {
        auto card = detected(board_type);
        EXPECT_FALSE(card->ReadBitstream("missing.bit"));
        EXPECT_EQ(output.take(),
                  "SET UP: FAILED (" + expected.text + ") TO LOAD BIT FILE \"missing.bit\"\n");
        EXPECT_EQ(card->bitstream_length(), 0u);
    }
}

TEST_F(CardWrapperTest, ReadBitstreamOnBoardType6GoesThroughTheLibrary) {
    auto card = detected(6);
    EXPECT_TRUE(card->ReadBitstream("LMtestV6.bit"));
    EXPECT_EQ(card->bitstream(), fake.library_bitstream);
    EXPECT_EQ(card->bitstream_length(), 3u);
    EXPECT_EQ(fake.calls, (std::vector<std::string>{"load3 LMtestV6.bit", "unload3"}));
    EXPECT_NE(fake.unloaded, nullptr);

    fake.load_bitstream3 = 9;
    EXPECT_FALSE(card->ReadBitstream("other.bit"));
    EXPECT_EQ(output.take(), "SET UP: FAILED (v3 status 9) TO LOAD BIT FILE \"other.bit\"\n");
    EXPECT_EQ(card->bitstream_length(), 0u);
}

// ---- OpenAndConfigure --------------------------------------------------------------------

TEST_F(CardWrapperTest, ConfiguresAV6Card) {
    auto card = detected(6);
    ASSERT_TRUE(card->ReadBitstream("LMtestV6.bit"));
    fake.calls.clear();
    EXPECT_TRUE(card->OpenAndConfigure());
    EXPECT_EQ(fake.calls, (std::vector<std::string>{"close3", "open3 0", "info3", "version3",
                                                    "map3", "configure3"}));
    EXPECT_EQ(fake.map_window, 0u);
    EXPECT_EQ(fake.map_offset, 0u);
    EXPECT_EQ(fake.map_length, 0x8000u);
    EXPECT_EQ(fake.configure_target, 0u);
    EXPECT_EQ(fake.configure_flags, 0u);
    EXPECT_EQ(fake.configured, fake.library_bitstream);
    EXPECT_EQ(card->GetWindow(), fake.window.data());
    EXPECT_EQ(card->card3(), handle3);
    EXPECT_EQ(output.take(), "");
}

TEST_F(CardWrapperTest, V6ConfigurationFailuresCloseTheCard) {
    struct failure {
        void (*arrange)();
        std::string printed;
        std::size_t calls;  // driver calls up to and including the failing one
    };
    const std::vector<failure> cases = {
        {[] { fake.close3 = 4; }, "Error closing ADMXRC card!\n", 1},
        {[] { fake.open3 = 5; }, " ADMXRC card not found, ERROR = v3 status 5.\n", 2},
        {[] { fake.info3 = 6; }, "Failed to find ADMXRC info, card_0, ERROR = v3 status 6.\n", 3},
        {[] { fake.model = 0x104; },
         "Incorrect ADMXRC board found:  Expected = 0x102 or 0x106, Found = 0x104\n", 3},
        {[] { fake.major = 1; fake.minor = 3; }, "DLL file " + v3_name + " version is incorrect!\n",
         4},
        {[] { fake.map3 = 7; }, "Failed to get ADMXRC space info, Card_0, ERROR = v3 status 7.\n",
         5},
        {[] { fake.configure3 = 8; }, "Failed to configure FPGA, ERROR = v3 status 8.\n", 6},
    };
    for (const failure& f : cases) {
        fake = fake_card_state{};
        auto card = detected(6);
        f.arrange();
        EXPECT_FALSE(card->OpenAndConfigure()) << f.printed;
        EXPECT_EQ(output.take(), f.printed);
        EXPECT_EQ(card->card3(), 0u) << f.printed;
        ASSERT_GE(fake.calls.size(), f.calls) << f.printed;
        // A card opened afresh is closed again after its failing step.
        if (f.calls > 2) {
            EXPECT_EQ(fake.calls.size(), f.calls + 1) << f.printed;
            EXPECT_EQ(fake.calls.back(), "close3") << f.printed;
        } else {
            EXPECT_EQ(fake.calls.size(), f.calls) << f.printed;
        }
    }
}

TEST_F(CardWrapperTest, ConfiguresV2AndV5Cards) {
    for (const int board_type : {2, 5}) {
        auto card = detected(board_type);
        EXPECT_TRUE(card->OpenAndConfigure());
        EXPECT_EQ(fake.calls, (std::vector<std::string>{"close2", "open2 0", "info2", "clock2",
                                                        "space2", "configure2"}));
        EXPECT_EQ(fake.clock_index, 0u);
        EXPECT_DOUBLE_EQ(fake.clock_hz, board_type == 5 ? 75.0e6 : 30.0e6);
        EXPECT_EQ(fake.actual_clock, nullptr);
        EXPECT_EQ(fake.space_index, 0u);
        EXPECT_EQ(fake.dma_channel, 0xFFu);
        EXPECT_NE(fake.event, nullptr);
        EXPECT_EQ(card->GetWindow(), fake.window.data());
        EXPECT_EQ(card->card2(), handle2);
        EXPECT_EQ(output.take(), "");
    }
}

TEST_F(CardWrapperTest, V2ConfigurationFailures) {
    struct failure {
        void (*arrange)();
        std::string printed;
    };
    const std::vector<failure> cases = {
        {[] { fake.close2 = 4; }, "Error closing ADMXRC card!\n"},
        {[] { fake.open2 = 5; }, "ADMXRC card not found, ERROR = v2 status 5.\n"},
        {[] { fake.info2 = 6; }, "Failed to find ADMXRC info, card_0, ERROR = v2 status 6.\n"},
        {[] { fake.board_codes = {0x03}; },
         "Incorrect ADMXRC board found:  Expected = 0x003 or 0x00f, Found = 0x003\n"},
        {[] { fake.clock2 = 7; }, "Failed to set ADMXRC clock, ERROR = v2 status 7.\n"},
        {[] { fake.space2 = 8; }, "Failed to get ADMXRC space info, ERROR = v2 status 8.\n"},
        {[] { fake.configure2 = 9; },
         "Failed to configure FPGA with bitstream file, ERROR = v2 status 9.\n"},
    };
    for (const failure& f : cases) {
        fake = fake_card_state{};
        auto card = detected(5);
        f.arrange();
        EXPECT_FALSE(card->OpenAndConfigure()) << f.printed;
        EXPECT_EQ(output.take(), f.printed);
    }
}

TEST_F(CardWrapperTest, NothingToConfigureWithoutADetectedCard) {
    CADMXRCWrapper card(loader);
    EXPECT_FALSE(card.OpenAndConfigure());
    EXPECT_TRUE(card.CloseCard());
    EXPECT_EQ(card.GetWindow(), nullptr);
    EXPECT_EQ(output.take(), "");
    EXPECT_TRUE(fake.calls.empty());
}

// ---- CloseCard and the end of the wrapper ------------------------------------------------

TEST_F(CardWrapperTest, CloseCardPerInterface) {
    auto v6 = detected(6);
    fake.close3 = 3;
    EXPECT_FALSE(v6->CloseCard());
    EXPECT_EQ(v6->card3(), handle3);  // kept: the close may be tried again
    fake.close3 = 0;
    EXPECT_TRUE(v6->CloseCard());
    EXPECT_EQ(v6->card3(), 0u);
    EXPECT_TRUE(v6->CloseCard());
    EXPECT_EQ(fake.calls, (std::vector<std::string>{"close3", "close3"}));
    EXPECT_EQ(output.take(), "");

    auto v5 = detected(5);
    fake.close2 = 3;
    EXPECT_FALSE(v5->CloseCard());
    EXPECT_EQ(output.take(), "Error closing ADMXRC card!\n");
    EXPECT_EQ(v5->card2(), 0u);  // forgotten either way
    EXPECT_TRUE(v5->CloseCard());
    EXPECT_EQ(fake.calls, (std::vector<std::string>{"close2"}));
}

TEST_F(CardWrapperTest, TheEndClosesTheCardAndReleasesTheLibrary) {
    detected(5).reset();
    EXPECT_EQ(fake.calls, (std::vector<std::string>{"close2"}));
    EXPECT_EQ(loader.released, std::vector<std::string>{v2_name});
    EXPECT_EQ(output.take(), "");

    loader.released.clear();
    loader.release_works = false;
    detected(6).reset();
    EXPECT_EQ(loader.released, std::vector<std::string>{v3_name});
    EXPECT_EQ(output.take(), "ADMXRC.dll unload failed.\n");

    // A library bound without a card is released as well.
    loader.released.clear();
    loader.release_works = true;
    loader.libraries.clear();
    with_v2();
    fake.open2 = 1;
    {
        CADMXRCWrapper card(loader);
        EXPECT_FALSE(card.DetectCard());
    }
    EXPECT_EQ(loader.released, std::vector<std::string>{v2_name});
}

}  // namespace
