// The simulated unit's pieces that need no port: its frame reader, line timing, stored
// contents, boot plans, download checks, terminal, answers and command line.
#include "tools/unit_sim/sim_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstring>

#include "link/byte_order.h"
#include "link/crc.h"
#include "link/frame.h"
#include "tools/unit_sim/sim_answers.h"
#include "tools/unit_sim/sim_boot.h"
#include "tools/unit_sim/sim_cli.h"
#include "tools/unit_sim/sim_download.h"
#include "tools/unit_sim/sim_injector.h"
#include "tools/unit_sim/sim_line.h"
#include "tools/unit_sim/sim_samples.h"
#include "tools/unit_sim/sim_terminal.h"
#include "tools/unit_sim/sim_unit.h"

namespace {

using bytes_t = std::vector<std::uint8_t>;

const bytes_t bootinfo_req = {0x2A, 0x10, 0x00, 0x02, 0x55, 0x19, 0x00};

std::vector<frame_piece> feed_all(frame_reader& reader, const bytes_t& bytes) {
    std::vector<frame_piece> out;
    for (const std::uint8_t b : bytes) {
        reader.feed(b, out);
    }
    return out;
}

bytes_t frame_of(const bytes_t& message) { return serial_frame(message.data(), message.size()); }

bytes_t concat(bytes_t a, const bytes_t& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

}  // namespace

// ---- Frame reader --------------------------------------------------------------------------

TEST(SimReader, FindsAFrameBehindStrayBytes) {
    frame_reader reader;
    const auto out = feed_all(reader, concat({'#', '#'}, frame_of(bootinfo_req)));
    ASSERT_EQ(out.size(), 3U);
    EXPECT_EQ(out[0].kind, received_kind::raw_byte);
    EXPECT_EQ(out[1].bytes, bytes_t{'#'});
    EXPECT_EQ(out[2].kind, received_kind::message);
    EXPECT_EQ(out[2].bytes, bootinfo_req);
}

TEST(SimReader, DropsABadFrameWholeWhenItsTrailerIsInPlace) {
    frame_reader reader;
    bytes_t bad = frame_of(bootinfo_req);
    bad[8] ^= 0x01;  // P1: a bit the checksum covers
    const auto out = feed_all(reader, concat(bad, frame_of(bootinfo_req)));
    ASSERT_EQ(out.size(), 2U);
    EXPECT_EQ(out[0].kind, received_kind::bad_frame);
    EXPECT_EQ(out[0].bytes, bad);
    EXPECT_EQ(out[1].kind, received_kind::message);
}

TEST(SimReader, ResynchronisesAfterAFrameWithoutTrailer) {
    frame_reader reader;
    bytes_t broken = frame_of(bootinfo_req);
    broken.resize(broken.size() - 3);  // checksum and trailer lost
    const auto out = feed_all(reader, concat(broken, frame_of(bootinfo_req)));
    ASSERT_FALSE(out.empty());
    EXPECT_EQ(out.back().kind, received_kind::message);
    EXPECT_EQ(out.back().bytes, bootinfo_req);
    EXPECT_TRUE(std::all_of(out.begin(), out.end() - 1, [](const frame_piece& p) {
        return p.kind == received_kind::raw_byte;
    }));
}

TEST(SimReader, TakesASyncPairWithAnImpossibleLengthAsStrayBytes) {
    frame_reader reader;
    const auto out = feed_all(reader, {0x10, 0x1E, 0x2A, 0x10, 0xFF, 0xFF});
    ASSERT_FALSE(out.empty());
    EXPECT_EQ(out[0].bytes, bytes_t{0x10});
    EXPECT_EQ(reader.bytes_needed(), 1U);
}

TEST(SimReader, SaysHowManyBytesItStillNeeds) {
    frame_reader reader;
    std::vector<frame_piece> out;
    EXPECT_EQ(reader.bytes_needed(), 1U);
    const bytes_t frame = frame_of(bootinfo_req);  // 12 bytes
    reader.feed(frame[0], out);
    reader.feed(frame[1], out);
    EXPECT_EQ(reader.bytes_needed(), 4U);  // up to the length field
    for (std::size_t i = 2; i < 6; ++i) {
        reader.feed(frame[i], out);
    }
    EXPECT_EQ(reader.bytes_needed(), 6U);
    EXPECT_TRUE(out.empty());
}

// ---- Line timing ---------------------------------------------------------------------------

TEST(SimLineTiming, PacedBytesArriveAtLineRate) {
    const auto t0 = sim_clock::now();
    receive_queue paced(true);
    const bytes_t frame(532, 0x55);
    paced.arrive(frame, t0);
    EXPECT_EQ(paced.due(0) - t0, line_byte_time);
    const auto last = std::chrono::duration<double, std::milli>(paced.due(531) - t0).count();
    EXPECT_NEAR(last, 532 * 10 / 115.2, 0.01);
    // Bytes read later but while the line is still busy queue up behind.
    paced.arrive(bytes_t{1}, t0 + std::chrono::milliseconds(1));
    EXPECT_EQ(paced.due(532), paced.due(531) + line_byte_time);

    receive_queue direct(false);
    direct.arrive(frame, t0);
    EXPECT_EQ(direct.due(531), t0);
}

TEST(SimLineTiming, TransmitQueueReleasesBytesAsTheyLeaveTheLine) {
    const auto t0 = sim_clock::now();
    transmit_queue line(true);
    line.push(bytes_t(100, 0x55), t0);
    EXPECT_EQ(line.ready(t0), 0U);
    EXPECT_EQ(line.ready(t0 + 10 * line_byte_time), 10U);
    EXPECT_EQ(line.next_wake(), t0 + transmit_queue::piece * line_byte_time);
    line.written(10);
    EXPECT_EQ(line.ready(t0 + 10 * line_byte_time), 0U);
    EXPECT_EQ(line.ready(t0 + 100 * line_byte_time), 90U);

    transmit_queue direct(false);
    direct.push(bytes_t(100, 0x55), t0);
    EXPECT_EQ(direct.ready(t0), 100U);
}

// ---- Stored contents -----------------------------------------------------------------------

TEST(SimMemory, FactoryImagesAreConsistent) {
    const unit_memory memory = factory_memory();
    for (std::size_t k = 0; k < 3; ++k) {
        for (const stored_image* image : {&memory.banks[k].fpga, &memory.banks[k].software}) {
            ASSERT_TRUE(image->valid()) << "bank " << k;
            EXPECT_EQ(image->descriptor.size, image->content.size());
            EXPECT_NE(image->content.size() % 512, 0U) << "bank " << k;
            EXPECT_EQ(image->descriptor.crc,
                      crc32_file(image->content.data(), image->content.size(), 0xFFFFFFFFU));
            EXPECT_EQ(std::strlen(image->descriptor.download_date), 24U);
            EXPECT_GT(std::strlen(image->descriptor.file_name), 0U);
        }
    }
    EXPECT_NE(memory.banks[1].fpga.content, memory.banks[2].fpga.content);
    EXPECT_EQ(memory.banks[2].fpga.content.size(), 1300U);
    EXPECT_FALSE(memory.banks[3].bootable());
    EXPECT_EQ(memory.banks[3].fpga.descriptor.flash_address, 0x87800000U);
    EXPECT_EQ(memory.banks[3].software.descriptor.flash_address, 0x87A00000U);
    EXPECT_EQ(memory.log.entries.size(), 11U);
    EXPECT_EQ(memory.eeproms.size(), 10U);
    EXPECT_EQ(memory.eeprom(file_type_controller, 0)->content.size(), 300U);
    // A single device is found whatever channel index is named.
    EXPECT_EQ(memory.eeprom(file_type_charger, 2), memory.eeprom(file_type_charger, 0));
    EXPECT_EQ(memory.eeprom(file_type_pa, 4), nullptr);
    EXPECT_NE(memory.eeprom(file_type_tc, 1)->content, memory.eeprom(file_type_tc, 2)->content);
}

TEST(SimMemory, ImageVariantsHoldOtherBytesInTheSameShape) {
    const unit_memory usual = factory_memory();
    const unit_memory three = factory_memory(3);
    const unit_memory four = factory_memory(4);
    for (std::size_t k = 0; k < 3; ++k) {
        for (const int type : {file_type_fpga, file_type_software}) {
            const stored_image& a = *three.image(static_cast<int>(k), type);
            const stored_image& b = *four.image(static_cast<int>(k), type);
            const stored_image& base = *usual.image(static_cast<int>(k), type);
            ASSERT_TRUE(a.valid()) << "bank " << k;
            EXPECT_EQ(a.descriptor.crc, crc32_file(a.content.data(), a.content.size(), ~0U));
            EXPECT_EQ(a.descriptor.size, a.content.size());
            EXPECT_EQ(a.content.size(), base.content.size()) << "bank " << k;
            EXPECT_STREQ(a.descriptor.file_name, base.descriptor.file_name);
            EXPECT_NE(a.descriptor.crc, base.descriptor.crc) << "bank " << k;
            EXPECT_NE(a.descriptor.crc, b.descriptor.crc) << "bank " << k;
        }
        // Still a bitstream behind its sync word, still S-records from header to end record.
        const bytes_t& fpga = three.banks[k].fpga.content;
        EXPECT_EQ(bytes_t(fpga.begin() + 32, fpga.begin() + 36), (bytes_t{0xAA, 0x99, 0x55, 0x66}));
        const std::string srec(three.banks[k].software.content.begin(),
                               three.banks[k].software.content.end());
        EXPECT_TRUE(srec.starts_with("S0") && srec.find("\nS7") != std::string::npos);
    }
    EXPECT_NE(three.banks[2].fpga.content, four.banks[2].fpga.content);
    EXPECT_EQ(three.eeproms.size(), usual.eeproms.size());
    EXPECT_EQ(three.log.entries, usual.log.entries);
}

// A unit given a variant starts with its images; what is preloaded still replaces them.
TEST(SimMemory, UnitStartsWithItsVariantUnderThePreloads) {
    sim_unit_options options;
    options.image_variant = 5;
    options.preloads.push_back({2, file_type_fpga, "mine.bin", bytes_t(700, 0x42)});
    const sim_unit unit(options);
    const unit_memory memory = unit.memory();
    const unit_memory variant = factory_memory(5);
    EXPECT_EQ(memory.banks[2].fpga.content, bytes_t(700, 0x42));
    EXPECT_STREQ(memory.banks[2].fpga.descriptor.file_name, "mine.bin");
    EXPECT_EQ(memory.banks[2].software.content, variant.banks[2].software.content);
    EXPECT_EQ(memory.banks[1].fpga.content, variant.banks[1].fpga.content);
    EXPECT_NE(memory.banks[1].fpga.content, factory_memory().banks[1].fpga.content);
}

TEST(SimMemory, BankRecordsTravelBigEndian) {
    const unit_memory memory = factory_memory();
    const auto wire = wire_bank_info(memory.banks[1]);
    const image_descriptor& sw = memory.banks[1].software.descriptor;
    const std::size_t at = offsetof(bank_info, software);
    EXPECT_EQ(get_be32(wire.data() + at + offsetof(image_descriptor, flash_address)), 0x86A00000U);
    EXPECT_EQ(get_be32(wire.data() + at + offsetof(image_descriptor, crc)), sw.crc);
    EXPECT_EQ(get_be32(wire.data() + at + offsetof(image_descriptor, size)), sw.size);
    EXPECT_EQ(get_be32(wire.data() + at + offsetof(image_descriptor, status)), 0U);
    EXPECT_EQ(0, std::memcmp(wire.data() + at + offsetof(image_descriptor, file_name),
                             sw.file_name, sizeof sw.file_name));
}

TEST(SimMemory, DatesOfTheUnitsClock) {
    EXPECT_EQ(unit_date_text(0), "Sun Dec 06 22:44:42 2026");
    EXPECT_EQ(unit_date_text(-5 * 24 * 3600), "Tue Dec 01 22:44:42 2026");
    EXPECT_EQ(unit_log_time(3600 + 18), "2026-12-06 23:45:00");
}

TEST(SimMemory, FullLogDropsItsOldestEntry) {
    unit_log log;
    for (int i = 0; i < 20; ++i) {
        log.add("entry " + std::to_string(i));
    }
    EXPECT_EQ(log.entries.size(), unit_log_capacity);
    EXPECT_EQ(log.entries.front(), "entry 4");
}

// ---- Boot plans ----------------------------------------------------------------------------

TEST(SimBootPlan, ReportsOfEachKindOfReboot) {
    const std::array<bool, 4> bootable = {true, true, true, false};
    const auto plan = [&](std::uint8_t from, std::uint8_t to, std::optional<std::uint8_t> fail) {
        std::vector<std::pair<int, bool>> steps;
        for (const boot_report& r : plan_boot(from, to, bootable, fail)) {
            steps.emplace_back(r.bank, r.failed);
        }
        return steps;
    };
    using steps = std::vector<std::pair<int, bool>>;
    EXPECT_EQ(plan(1, 2, {}), (steps{{0, false}, {2, false}}));
    EXPECT_EQ(plan(0, 2, {}), (steps{{2, false}}));
    EXPECT_EQ(plan(2, 0, {}), (steps{{0, false}}));
    EXPECT_EQ(plan(1, 1, {}), (steps{{0, false}, {1, false}}));
    EXPECT_EQ(plan(1, 3, {}), (steps{{0, false}, {1, true}}));
    EXPECT_EQ(plan(0, 3, {}), (steps{{0, true}}));
    EXPECT_EQ(plan(1, 2, 1), (steps{{0, false}, {1, true}}));
    EXPECT_EQ(plan(1, 0, 1), (steps{{0, false}}));  // the boot loader itself always starts
}

// ---- Download checks -----------------------------------------------------------------------

namespace {

bytes_t sample_file(std::size_t size) {
    bytes_t file(size);
    for (std::size_t i = 0; i < size; ++i) {
        file[i] = static_cast<std::uint8_t>(i * 7 + 3);
    }
    return file;
}

download_description describe(const bytes_t& file, std::uint32_t crc) {
    download_description d;
    d.file_type = file_type_fpga;
    d.index = 3;
    d.chunk_size = 512;
    d.file_size = static_cast<std::uint32_t>(file.size());
    d.file_crc = crc;
    d.file_name = "new.bin";
    return d;
}

bytes_t chunk_message(const bytes_t& file, std::uint16_t chunk, std::size_t valid) {
    bytes_t params(4 + 512, 0);
    put_be16(params.data(), chunk);
    put_be16(params.data() + 2, static_cast<std::uint16_t>(valid));
    std::copy_n(file.begin() + chunk * 512, std::min(valid, file.size() - chunk * 512U),
                params.begin() + 4);
    return make_message(unit_address, pc_address, cmd_loader, sub_byte(sub_code::DL_DATA), params);
}

using verdict = download_session::verdict;

}  // namespace

TEST(SimDownloadSession, TakesChunksInOrderAndChecksTheCrc) {
    const bytes_t file = sample_file(1300);
    const std::uint32_t crc = crc32_file(file.data(), file.size(), 0xFFFFFFFFU);
    download_session session;
    session.begin(describe(file, crc));
    EXPECT_EQ(session.take_chunk(chunk_message(file, 0, 512)).what, verdict::stored);
    // A retry of the chunk just taken is acknowledged and not stored twice.
    EXPECT_EQ(session.take_chunk(chunk_message(file, 0, 512)).what, verdict::repeated);
    EXPECT_EQ(session.take_chunk(chunk_message(file, 1, 512)).what, verdict::stored);
    const auto last = session.take_chunk(chunk_message(file, 2, 276));
    EXPECT_EQ(last.what, verdict::complete) << last.reason;
    EXPECT_EQ(session.content(), file);
    EXPECT_EQ(session.take_chunk(chunk_message(file, 2, 276)).what, verdict::repeated);
}

TEST(SimDownloadSession, RefusesWhatDoesNotFit) {
    const bytes_t file = sample_file(1300);
    const std::uint32_t crc = crc32_file(file.data(), file.size(), 0xFFFFFFFFU);
    download_session session;
    EXPECT_EQ(session.take_chunk(chunk_message(file, 0, 512)).what, verdict::failed)
        << "no download announced";

    session.begin(describe(file, crc));
    const auto skipped = session.take_chunk(chunk_message(file, 1, 512));
    EXPECT_EQ(skipped.what, verdict::failed);
    EXPECT_EQ(skipped.chunk, 1);
    EXPECT_EQ(session.take_chunk(chunk_message(file, 0, 512)).what, verdict::failed)
        << "a failed download stays failed";

    session.begin(describe(file, crc));
    EXPECT_EQ(session.take_chunk(chunk_message(file, 0, 300)).what, verdict::failed)
        << "wrong count of valid bytes";

    session.begin(describe(file, crc ^ 1U));
    session.take_chunk(chunk_message(file, 0, 512));
    session.take_chunk(chunk_message(file, 1, 512));
    const auto last = session.take_chunk(chunk_message(file, 2, 276));
    EXPECT_EQ(last.what, verdict::failed);
    EXPECT_NE(last.reason.find("CRC"), std::string::npos);
}

TEST(SimDownloadSession, FirmwareInfoIsChecked) {
    const bytes_t file = sample_file(100);
    std::vector<std::uint8_t> params(firmware_info_size - param_p1, 0);
    const auto describe_as = [&](std::uint8_t type, std::uint8_t index, std::uint32_t size) {
        params[firmware_info_at::file_type - param_p1] = type;
        params[firmware_info_at::bank - param_p1] = index;
        put_be16(params.data() + firmware_info_at::chunk_size - param_p1, 512);
        put_be32(params.data() + firmware_info_at::file_size - param_p1, size);
        std::memcpy(params.data() + firmware_info_at::file_name - param_p1,
                    "a_very_long_file_name_of_many_chars", 26);
        std::string reason;
        auto d = parse_firmware_info(make_message(unit_address, pc_address, cmd_loader,
                                                  sub_byte(sub_code::FIRMWARE_INFO), params),
                                     reason);
        return d ? std::string("ok ") + d->file_name : reason;
    };
    // A text field filled to its end without a NUL is cut at the field's end.
    EXPECT_EQ(describe_as(1, 3, 100), "ok a_very_long_file_name_of_");
    EXPECT_NE(describe_as(7, 0, 100).find("file type"), std::string::npos);
    EXPECT_NE(describe_as(2, 4, 100).find("index"), std::string::npos);
    EXPECT_NE(describe_as(5, 4, 100).find("index"), std::string::npos);
    EXPECT_EQ(describe_as(3, 4, 100).substr(0, 2), "ok");  // the Controller has no channels
    EXPECT_NE(describe_as(1, 1, 0).find("file size"), std::string::npos);
    EXPECT_NE(describe_as(3, 0, 0x10001).find("file size"), std::string::npos);
}

TEST(SimDownloadSession, StoresAFlashImageWithItsDescriptorAndNotes) {
    unit_memory memory = factory_memory();
    const bytes_t file = sample_file(700);
    download_description d = describe(file, crc32_file(file.data(), file.size(), 0xFFFFFFFFU));
    d.download_time = "Mon Dec 07 10:00:00 2026";
    d.user = "tester";
    d.comment = "a comment";
    ASSERT_TRUE(store_download(memory, d, file));
    const stored_image& image = memory.banks[3].fpga;
    EXPECT_TRUE(image.valid());
    EXPECT_EQ(image.content, file);
    EXPECT_EQ(image.descriptor.size, 700U);
    EXPECT_EQ(image.descriptor.crc, d.file_crc);
    EXPECT_EQ(image.descriptor.flash_address, 0x87800000U);
    EXPECT_STREQ(image.descriptor.download_date, "Mon Dec 07 10:00:00 2026");
    EXPECT_STREQ(image.notes.user, "tester");
    EXPECT_STREQ(image.notes.comment, "a comment");
    EXPECT_FALSE(memory.banks[3].software.valid());

    d.file_type = file_type_tc;
    d.index = 3;
    ASSERT_TRUE(store_download(memory, d, file));
    EXPECT_EQ(memory.eeprom(file_type_tc, 3)->content, file);
}

// ---- Terminal ------------------------------------------------------------------------------

TEST(SimTerminal, EchoesAndLeavesOnTwoHashes) {
    unit_terminal terminal;
    std::string echo;
    for (const char c : std::string("ab\r")) {
        EXPECT_FALSE(terminal.take(static_cast<std::uint8_t>(c), echo));
    }
    EXPECT_EQ(echo, std::string("ab\r\n") + terminal_prompt);
    echo.clear();
    EXPECT_FALSE(terminal.take('#', echo));
    EXPECT_FALSE(terminal.take('x', echo));
    EXPECT_EQ(echo, "#x");  // a lone '#' is ordinary text
    echo.clear();
    EXPECT_FALSE(terminal.take('#', echo));
    EXPECT_TRUE(terminal.take('#', echo));
    EXPECT_EQ(echo, "");
}

// ---- Fault injection -----------------------------------------------------------------------

TEST(SimFaultInjector, CorruptedFramesKeepTheirShapeAndFailTheirChecksum) {
    const message_t message = file_ack_answer(0, 512, bytes_t(512, 0x5A));
    sim_faults faults;
    faults.corrupt_probability = 0.002;  // none, one or several flips per frame
    int corrupted = 0;
    for (std::uint64_t seed = 1; seed <= 200; ++seed) {
        fault_injector injector(faults, seed);
        bytes_t frame;
        const auto fate = injector.frame_answer(message, frame);
        ASSERT_EQ(frame.size(), message.size() + 5);
        // Found whole by the receiver: sync pair, length field and trailer as sent.
        EXPECT_EQ(frame[0], 0x10);
        EXPECT_EQ(frame[1], 0x1E);
        EXPECT_EQ(get_be16(frame.data() + 4), message.size() - 5);
        EXPECT_EQ(frame[frame.size() - 2], 0x52);
        EXPECT_EQ(frame.back(), 0x53);
        const bool checksum_good =
            crc8_serial(frame.data() + 2, message.size()) == frame[message.size() + 2];
        EXPECT_EQ(checksum_good, fate == fault_injector::fate::sent) << "seed " << seed;
        corrupted += fate == fault_injector::fate::corrupted ? 1 : 0;
    }
    EXPECT_GT(corrupted, 50);
    EXPECT_LT(corrupted, 190);
}

TEST(SimFaultInjector, SilenceDropAndTheWrongBlockOnce) {
    const message_t message = bootinfo_answer(false, 1);
    bytes_t frame;
    sim_faults faults;
    faults.silent = true;
    fault_injector injector(faults, 1);
    EXPECT_EQ(injector.frame_answer(message, frame), fault_injector::fate::silenced);
    EXPECT_TRUE(frame.empty());
    faults = {};
    faults.drop_probability = 1.0;
    injector.set(faults);
    EXPECT_EQ(injector.frame_answer(message, frame), fault_injector::fate::dropped);
    injector.set({});
    EXPECT_EQ(injector.frame_answer(message, frame), fault_injector::fate::sent);
    EXPECT_EQ(frame, serial_frame(message.data(), message.size()));

    EXPECT_FALSE(injector.take_wrong_block());
    faults = {};
    faults.wrong_block_once = true;
    injector.set(faults);
    EXPECT_TRUE(injector.take_wrong_block());
    EXPECT_FALSE(injector.take_wrong_block());
}

TEST(SimFaultInjector, LineNoiseFlipsAnyBitOfAnyByteAndLosesBytesBySeed) {
    const bytes_t clean = frame_of(file_ack_answer(0, 512, bytes_t(512, 0x5A)));
    sim_faults faults;
    faults.noise_probability = 1.0;
    fault_injector every_byte(faults, 3);
    unsigned bits_hit_in_sync = 0;
    for (int round = 0; round < 32; ++round) {
        bytes_t frame = clean;
        EXPECT_EQ(every_byte.line_noise(frame).bits_flipped, clean.size());
        ASSERT_EQ(frame.size(), clean.size());
        // Sync pair, length field, checksum and trailer alike: one bit of each byte.
        for (std::size_t i = 0; i < clean.size(); ++i) {
            ASSERT_EQ(std::popcount(static_cast<unsigned>(frame[i] ^ clean[i])), 1) << i;
        }
        bits_hit_in_sync |= static_cast<unsigned>(frame[0] ^ clean[0]);
    }
    EXPECT_EQ(bits_hit_in_sync, 0xFFU) << "the upper four bits are hit too";

    faults = {};
    faults.drop_byte_probability = 0.1;
    faults.noise_probability = 0.01;
    const auto through_line = [&](std::uint64_t seed) {
        fault_injector injector(faults, seed);
        bytes_t frame = clean;
        const auto hits = injector.line_noise(frame);
        EXPECT_EQ(frame.size() + hits.bytes_lost, clean.size());
        return frame;
    };
    const bytes_t first = through_line(11);
    EXPECT_LT(first.size(), clean.size());
    EXPECT_EQ(through_line(11), first);
    EXPECT_NE(through_line(12), first);
}

// ---- Answers -------------------------------------------------------------------------------

TEST(SimAnswers, LastFileBlockIsPaddedToTheBlockSize) {
    const bytes_t file = sample_file(1300);
    const message_t last = file_ack_answer(2, 512, file);
    ASSERT_EQ(last.size(), file_ack_at::data + 512);
    EXPECT_EQ(get_be16(last.data() + 2), last.size() - 5);
    EXPECT_EQ(get_be16(last.data() + file_ack_at::block_number), 2);
    EXPECT_EQ(get_be16(last.data() + file_ack_at::data_length), 512);
    EXPECT_TRUE(std::equal(file.begin() + 1024, file.end(), last.begin() + file_ack_at::data));
    EXPECT_TRUE(std::all_of(last.begin() + file_ack_at::data + 276, last.end(),
                            [](std::uint8_t b) { return b == 0xFF; }));
}

TEST(SimAnswers, LogBlocksHaveFixedSlots) {
    unit_log log;
    for (int i = 0; i < 11; ++i) {
        log.add("entry " + std::to_string(i));
    }
    const message_t second = log_answer(log, 1);
    ASSERT_EQ(second.size(), message_log_ack_at::entries + 8 * 80);
    EXPECT_EQ(second[message_log_ack_at::entry_count], 11);
    EXPECT_EQ(second[message_log_ack_at::entry_length], 80);
    EXPECT_EQ(second[message_log_ack_at::max_entries], 16);
    EXPECT_EQ(second[message_log_ack_at::seq_no], 1);
    EXPECT_EQ(second[message_log_ack_at::seq_no_size], 8);
    EXPECT_STREQ(reinterpret_cast<const char*>(second.data() + message_log_ack_at::entries),
                 "entry 8");
    EXPECT_EQ(second[message_log_ack_at::entries + 3 * 80], 0) << "slot past the last entry";
}

// ---- Command line --------------------------------------------------------------------------

namespace {

unit_command_result parse(std::initializer_list<const char*> args) {
    const std::vector<const char*> list(args);
    return parse_unit_command_line(list);
}

}  // namespace

TEST(SimCommandLine, ReadsEveryOption) {
    const auto r = parse({"--port", "7", "--dir=/tmp/x", "--wine-prefix", "/p", "--verbose", "2",
                          "--boot-delay", "20", "--no-pacing", "--corrupt", "0.25", "--drop=1",
                          "--dl-fail-at", "1", "--file-failed", "--silent", "--wrong-block-once",
                          "--boot-fail-to", "2", "--seed", "99", "--record", "rec.txt",
                          "--noise", "0.001", "--drop-bytes=0.002", "--dump-dir", "out",
                          "--load-bank", "2:fw:a.bin", "--load-bank", "3:sw:b:c.srec"});
    ASSERT_TRUE(r.ok) << r.error;
    const sim_unit_options& u = r.options.unit;
    EXPECT_EQ(u.port, 7U);
    EXPECT_EQ(u.link_dir, "/tmp/x");
    EXPECT_EQ(u.wine_prefix, std::filesystem::path("/p"));
    EXPECT_EQ(u.verbosity, 2);
    EXPECT_EQ(u.boot_delay, std::chrono::milliseconds(20));
    EXPECT_FALSE(u.pacing);
    EXPECT_DOUBLE_EQ(u.faults.corrupt_probability, 0.25);
    EXPECT_DOUBLE_EQ(u.faults.drop_probability, 1.0);
    EXPECT_EQ(u.faults.dl_fail_at_chunk, 1);
    EXPECT_TRUE(u.faults.file_failed && u.faults.silent && u.faults.wrong_block_once);
    EXPECT_EQ(u.faults.boot_fail_to, 2);
    EXPECT_EQ(u.seed, 99U);
    EXPECT_EQ(r.options.record_file, "rec.txt");
    EXPECT_DOUBLE_EQ(u.faults.noise_probability, 0.001);
    EXPECT_DOUBLE_EQ(u.faults.drop_byte_probability, 0.002);
    EXPECT_EQ(r.options.dump_dir, "out");
    ASSERT_EQ(r.options.bank_files.size(), 2U);
    EXPECT_EQ(r.options.bank_files[0].bank, 2);
    EXPECT_EQ(r.options.bank_files[0].file_type, file_type_fpga);
    EXPECT_EQ(r.options.bank_files[1].file_type, file_type_software);
    EXPECT_EQ(r.options.bank_files[1].path, "b:c.srec");

    const auto defaults = parse({});
    ASSERT_TRUE(defaults.ok);
    EXPECT_EQ(defaults.options.unit.port, 3U);
    EXPECT_TRUE(defaults.options.unit.pacing);
    EXPECT_FALSE(defaults.options.unit.wine_prefix.has_value());
}

TEST(SimCommandLine, RefusesBadOptionsWithAReason) {
    const auto error_of = [](std::initializer_list<const char*> args) {
        const auto r = parse(args);
        return r.ok ? std::string("accepted") : r.error;
    };
    EXPECT_NE(error_of({"--port", "0"}).find("port number"), std::string::npos);
    EXPECT_NE(error_of({"--port", "3x"}).find("bad value '3x'"), std::string::npos);
    EXPECT_NE(error_of({"--port"}).find("needs a value"), std::string::npos);
    EXPECT_NE(error_of({"--verbose", "3"}).find("0, 1 or 2"), std::string::npos);
    EXPECT_NE(error_of({"--corrupt", "1.5"}).find("probability"), std::string::npos);
    EXPECT_NE(error_of({"--boot-fail-to", "4"}).find("bank"), std::string::npos);
    EXPECT_NE(error_of({"--silent=1"}).find("takes no value"), std::string::npos);
    EXPECT_NE(error_of({"--load-bank", "4:fw:x"}).find("BANK:fw:FILE"), std::string::npos);
    EXPECT_NE(error_of({"--load-bank", "1:ee:x"}).find("BANK:fw:FILE"), std::string::npos);
    EXPECT_NE(error_of({"--colour"}).find("unknown option --colour"), std::string::npos);
}

TEST(SimCommandLine, ReadsPortListsAndRefusesBadOnes) {
    const auto ports_of = [](std::initializer_list<const char*> args) {
        const auto r = parse(args);
        EXPECT_TRUE(r.ok) << r.error;
        return r.options.ports;
    };
    EXPECT_EQ(ports_of({"--ports", "3-5,8"}), (std::vector<unsigned>{3, 4, 5, 8}));
    EXPECT_EQ(ports_of({"--ports=9,2"}), (std::vector<unsigned>{9, 2}));
    EXPECT_EQ(ports_of({"--ports", "192-255"}).size(), max_unit_ports);
    EXPECT_TRUE(ports_of({"--port", "4"}).empty());

    for (const char* bad : {"5-3", "3,3", "", "0", "256", "3-", "-3", "3,,4", "3,", "1-65",
                            "2-4,4", "3-4-5", "x", "4294967299"}) {
        const auto r = parse({"--ports", bad});
        EXPECT_FALSE(r.ok) << bad;
        EXPECT_NE(r.error.find("for --ports"), std::string::npos) << r.error;
    }
    EXPECT_FALSE(parse({"--port", "3", "--ports", "4"}).ok);
    EXPECT_FALSE(parse({"--ports", "4", "--port", "3"}).ok);
    EXPECT_NE(unit_usage_text().find("--ports LIST"), std::string::npos);
}

TEST(SimCommandLine, PlansAUnitPerPortWithItsOwnSeedImagesAndFiles) {
    const auto one = parse({"--port", "7", "--seed", "10", "--record", "r", "--dump-dir", "d"});
    ASSERT_TRUE(one.ok) << one.error;
    const std::vector<unit_plan> single = plan_units(one.options);
    ASSERT_EQ(single.size(), 1U);
    EXPECT_EQ(single[0].unit.port, 7U);
    EXPECT_EQ(single[0].unit.seed, 10U);
    EXPECT_EQ(single[0].unit.image_variant, 0U);
    EXPECT_EQ(single[0].record_file, "r");
    EXPECT_EQ(single[0].dump_dir, "d");

    const auto many = parse({"--ports", "3,9", "--seed", "10", "--record", "r", "--dump-dir",
                             "d", "--silent"});
    ASSERT_TRUE(many.ok) << many.error;
    const std::vector<unit_plan> plans = plan_units(many.options);
    ASSERT_EQ(plans.size(), 2U);
    EXPECT_EQ(plans[1].unit.port, 9U);
    EXPECT_NE(plans[0].unit.seed, plans[1].unit.seed);
    EXPECT_NE(plans[0].unit.image_variant, plans[1].unit.image_variant);
    EXPECT_NE(plans[0].unit.image_variant, 0U);
    EXPECT_EQ(plans[0].record_file, "r.COM3");
    EXPECT_EQ(plans[1].dump_dir, std::filesystem::path("d") / "COM9");
    EXPECT_TRUE(plans[0].unit.faults.silent && plans[1].unit.faults.silent);

    // A list of one port: that unit's own seed and images, but the files as named.
    const auto lone = parse({"--ports", "4", "--record", "r"});
    ASSERT_TRUE(lone.ok) << lone.error;
    const std::vector<unit_plan> lone_plan = plan_units(lone.options);
    ASSERT_EQ(lone_plan.size(), 1U);
    EXPECT_EQ(lone_plan[0].record_file, "r");
    EXPECT_EQ(lone_plan[0].unit.image_variant, 4U);
}
