// The card's transmit decoding and receive packing: what the program's encoder writes decodes
// back to the same message, broken sequences are line errors that do not hurt the next message,
// and the receive words are what the program's receiver reads back into the message.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "link/frame.h"
#include "tools/card_sim/card_symbols.h"
#include "tools/card_sim/rx_words.h"

namespace {

using bytes = std::vector<std::uint8_t>;

struct decoded {
    std::vector<bytes> messages;
    std::vector<std::string> errors;
};

decoded decode(card_symbol_decoder& decoder, const bytes& symbols) {
    decoded out;
    for (const std::uint8_t symbol : symbols) {
        switch (decoder.feed(symbol)) {
        case symbol_event::message:
            out.messages.push_back(decoder.message());
            break;
        case symbol_event::line_error:
            out.errors.emplace_back(decoder.error());
            break;
        case symbol_event::none:
            break;
        }
    }
    return out;
}

bytes message_with_data(std::size_t data_bytes, std::uint32_t seed) {
    bytes m = {0x2A, 0x10, 0, 0, 0x55, 0x11};
    std::mt19937 random(seed);
    for (std::size_t k = 0; k < data_bytes; ++k) {
        m.push_back(static_cast<std::uint8_t>(random()));
    }
    m[2] = static_cast<std::uint8_t>((m.size() - 5) >> 8);
    m[3] = static_cast<std::uint8_t>(m.size() - 5);
    return m;
}

bytes encode(const bytes& message) { return encode_card_symbols(message.data(), message.size()); }

TEST(CardSymbols, WhatTheProgramWritesDecodesBack) {
    card_symbol_decoder decoder;
    // The written symbols of a known request, as given for the line.
    const bytes request = {0x2A, 0x10, 0x00, 0x02, 0x55, 0x1F, 0x00};
    const bytes symbols = {0x10, 0x1E, 0x18, 0x1B, 0x11, 0x06, 0x19, 0x06, 0x19, 0x07,
                           0x12, 0x0D, 0x11, 0x0C, 0x19, 0x06, 0x16, 0x0A, 0x05, 0x0E};
    decoded out = decode(decoder, symbols);
    ASSERT_EQ(out.messages.size(), 1u);
    EXPECT_EQ(out.messages[0], request);
    EXPECT_TRUE(out.errors.empty());

    // Messages of every size class, back to back, from the program's own encoder.
    bytes stream;
    std::vector<bytes> sent;
    for (const std::size_t data : {0u, 1u, 2u, 3u, 40u, 517u, 2041u}) {
        sent.push_back(message_with_data(data, static_cast<std::uint32_t>(data)));
        const bytes s = encode(sent.back());
        stream.insert(stream.end(), s.begin(), s.end());
    }
    // The shortest message (length 0, five bytes) as well.
    sent.push_back({0x2A, 0x10, 0x00, 0x00, 0x55});
    const bytes shortest = encode(sent.back());
    ASSERT_EQ(shortest.size(), 16u);
    stream.insert(stream.end(), shortest.begin(), shortest.end());
    out = decode(decoder, stream);
    EXPECT_EQ(out.messages, sent);
    EXPECT_TRUE(out.errors.empty());
}

TEST(CardSymbols, BrokenSequencesAreLineErrors) {
    const bytes good = message_with_data(20, 7);
    const bytes symbols = encode(good);
    struct broken_case {
        const char* what;
        bytes symbols;
    };
    std::vector<broken_case> cases;
    bytes flipped = symbols;
    flipped[9] ^= 0x1F;  // a nibble inverted: the chain after it reads differently
    cases.push_back({"inverted symbol", flipped});
    bytes wrong_nibble = symbols;
    wrong_nibble[10] = wrong_nibble[10] == 0x19 ? 0x0E : 0x19;
    cases.push_back({"wrong nibble", wrong_nibble});
    cases.push_back({"no second end", bytes(symbols.begin(), symbols.end() - 1)});
    bytes no_start_2 = symbols;
    no_start_2.erase(no_start_2.begin() + 1);
    cases.push_back({"no second start", no_start_2});
    bytes high_bits = symbols;
    high_bits[12] |= 0x20;
    cases.push_back({"not a 5-bit value", high_bits});
    cases.push_back({"garbage only", {0x19, 0x0E, 0x05}});
    bytes wrong_length = good;
    wrong_length[3] = static_cast<std::uint8_t>(wrong_length[3] + 1);
    cases.push_back({"length field", encode(wrong_length)});

    for (const broken_case& c : cases) {
        card_symbol_decoder decoder;
        bytes stream = c.symbols;
        stream.insert(stream.end(), symbols.begin(), symbols.end());  // a good one after it
        const decoded out = decode(decoder, stream);
        EXPECT_EQ(out.errors.size(), 1u) << c.what;
        ASSERT_EQ(out.messages.size(), 1u) << c.what;
        EXPECT_EQ(out.messages[0], good) << c.what;
    }
}

// What the program's receiver does with the words: the first word, then its length, then
// ((length + 3) >> 2) + 1 further words.
bytes read_back(const std::vector<std::uint32_t>& words, std::size_t& used) {
    bytes out;
    const auto put = [&](std::uint32_t w) {
        for (int k = 0; k < 4; ++k) {
            out.push_back(static_cast<std::uint8_t>(w >> (8 * k)));
        }
    };
    put(words.at(0));
    const std::size_t length = (std::size_t{out[2]} << 8) | out[3];
    used = 1 + ((length + 3) >> 2) + 1;
    for (std::size_t k = 1; k < used; ++k) {
        put(words.at(k));
    }
    out.resize(length + 5);
    return out;
}

TEST(ReceiveWords, PackedAsTheReceiverReadsThem) {
    const bytes answer = {0x10, 0x2A, 0x00, 0x02, 0x55, 0x1A, 0x01};
    const std::vector<std::uint32_t> words = pack_receive_words(answer);
    EXPECT_EQ(words, (std::vector<std::uint32_t>{0x02002A10, 0x00011A55, 0x00000000}));

    for (const std::size_t data : {0u, 1u, 2u, 3u, 4u, 5u, 600u, 65532u}) {
        bytes message = message_with_data(data, 3);
        message[0] = 0x10;
        const std::vector<std::uint32_t> packed = pack_receive_words(message);
        std::size_t used = 0;
        EXPECT_EQ(read_back(packed, used), message) << data;
        EXPECT_EQ(used, packed.size()) << "every word is read, none is left over: " << data;
    }
    bytes shortest = {0x10, 0x2A, 0x00, 0x00, 0x55};
    EXPECT_EQ(pack_receive_words(shortest).size(), 2u);
    EXPECT_EQ(receive_word_count(0xFFFF), 1u + 16385u);
}

}  // namespace
