// The KESTREL_CARD_ settings: the card's own, and the unit's, which mean what the simulated
// unit program's options mean.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "tools/card_sim/card_settings.h"

namespace {

card_settings_result read(const std::map<std::string, std::string>& environment) {
    return read_card_settings([&](const char* name) -> const char* {
        const auto found = environment.find(name);
        return found == environment.end() ? nullptr : found->second.c_str();
    });
}

TEST(CardSettings, DefaultsAreAConfiguredSixCard) {
    const card_settings_result r = read({});
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.settings.board, 6);
    EXPECT_EQ(r.settings.model, 0x102u);
    EXPECT_EQ(r.settings.rx_data_offset(), 0x1F0u);
    EXPECT_EQ(r.settings.version_major, 2);
    EXPECT_FALSE(r.settings.unit.pacing);
}

TEST(CardSettings, CardAndUnitSettingsAreRead) {
    const card_settings_result r = read({{"KESTREL_CARD_BOARD", "2"},
                                         {"KESTREL_CARD_MODEL", "0x104"},
                                         {"KESTREL_CARD_VERSION", "1.3"},
                                         {"KESTREL_CARD_FAIL", "ADMXRC2_SetClockRate"},
                                         {"KESTREL_CARD_BOOT_DELAY", "25"},
                                         {"KESTREL_CARD_DL_FAIL_AT", "3"},
                                         {"KESTREL_CARD_FILE_FAILED", "1"},
                                         {"KESTREL_CARD_SILENT", "0"},
                                         {"KESTREL_CARD_RECORD", "unit.txt"}});
    ASSERT_TRUE(r.ok) << r.error;
    const card_settings& s = r.settings;
    EXPECT_EQ(s.board, 2);
    EXPECT_EQ(s.reported_board_code(), 0x03u);
    EXPECT_EQ(s.rx_data_offset(), 0x1E8u);
    EXPECT_EQ(s.model, 0x104u);
    EXPECT_EQ(s.version_major, 1);
    EXPECT_EQ(s.version_minor, 3);
    EXPECT_EQ(s.fail_entry, "ADMXRC2_SetClockRate");
    EXPECT_EQ(s.unit.boot_delay.count(), 25);
    ASSERT_TRUE(s.unit.faults.dl_fail_at_chunk.has_value());
    EXPECT_EQ(*s.unit.faults.dl_fail_at_chunk, 3);
    EXPECT_TRUE(s.unit.faults.file_failed);
    EXPECT_FALSE(s.unit.faults.silent);
    EXPECT_EQ(s.unit_record, "unit.txt");

    const card_settings_result five = read({{"KESTREL_CARD_BOARD", "5"}});
    EXPECT_EQ(five.settings.reported_board_code(), 0x0Fu);
    const card_settings_result odd = read({{"KESTREL_CARD_BOARD", "2"},
                                           {"KESTREL_CARD_BOARD_CODE", "0x05"}});
    EXPECT_EQ(odd.settings.reported_board_code(), 0x05u);
}

TEST(CardSettings, BadValuesAreRefusedWithTheirName) {
    const std::map<std::string, std::string> bad[] = {
        {{"KESTREL_CARD_BOARD", "7"}},
        {{"KESTREL_CARD_VERSION", "2"}},
        {{"KESTREL_CARD_MODEL", "x"}},
        {{"KESTREL_CARD_SILENT", "maybe"}},
        {{"KESTREL_CARD_BOOT_DELAY", "soon"}},
    };
    for (const auto& environment : bad) {
        const card_settings_result r = read(environment);
        EXPECT_FALSE(r.ok) << environment.begin()->first;
        EXPECT_NE(r.error.find(environment.begin()->first.substr(13)), std::string::npos)
            << r.error;
    }
}

}  // namespace
