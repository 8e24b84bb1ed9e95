// The frame codec: the device's escaper against the PC client's, both ways.
#include "protocol/protocol_phy.h"
#include "tests/support/PcFrame.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <tuple>
#include <vector>

namespace {

using pc::Bytes;

Bytes deviceEscape(Bytes frame)
{
    protocol_phy phy;
    Bytes out(protocol_phy::escaped_size_max(unsigned(frame.size())));
    unsigned char flag = 7;
    unsigned n = phy.data_re_transf_meaning(out.data(), frame.data(), unsigned(frame.size()), &flag);
    EXPECT_EQ(flag, 0);
    out.resize(n);
    return out;
}

Bytes deviceUnescape(Bytes wire, unsigned char& done)
{
    protocol_phy phy;
    Bytes out(wire.size() + 1);
    unsigned n = phy.data_transf_meaning(wire.data(), out.data(), unsigned(wire.size()), &done);
    out.resize(n);
    return out;
}

// Every byte value, then a run with no marked byte, and an odd tail: whole 16-byte blocks
// with and without marked bytes and a marked byte after the last block.
TEST(ProtocolPhyCodec, EveryByteValueEscapesLikeThePcBothWaysAndAsAReplyWithItsCheckByte)
{
    Bytes all;
    for (int v = 0; v < 256; ++v)
        all.push_back(uint8_t(v));
    all.insert(all.end(), 22, 0x11);
    all.push_back(0x5B);
    const Bytes wire = deviceEscape(all);
    // Openers, closer, and one extra byte for each of the five marked bytes; inside, no marker.
    EXPECT_EQ(std::make_tuple(wire, wire.size(), protocol_phy::escaped_size(all.data(), unsigned(all.size()))),
              std::make_tuple(pc::escape(all), 3 + all.size() + 5 + 1, wire.size()));
    EXPECT_EQ(std::count(wire.begin() + 3, wire.end() - 1, 0xA5) + std::count(wire.begin() + 3, wire.end() - 1, 0x5A), 0);
    // A long run of marked bytes: far more escapes per position than a byte can count.
    Bytes marked(4101, 0x5A);
    EXPECT_EQ(protocol_phy::escaped_size(marked.data(), 4101), 4 + 2 * 4101u);
    unsigned char done = 0;
    Bytes back;
    EXPECT_TRUE(deviceUnescape(wire, done) == all && done == 1 && pc::unescape(wire, back) && back == all);
    // Each marked value's own pair, and the empty frame.
    EXPECT_EQ(deviceEscape({0xA5, 0xA6, 0x5A, 0x5B, 0x01, 0x02}),
              (Bytes{0xA5, 0xA5, 0xA5, 0xA6, 0x02, 0xA6, 0x01, 0x5B, 0x02, 0x5B, 0x01, 0x01, 0x02, 0x5A}));
    EXPECT_EQ(deviceEscape({}), (Bytes{0xA5, 0xA5, 0xA5, 0x5A}));

    // As the reply to a request: addresses swapped, the check byte put behind the data.
    Bytes buf = pc::encode(pc::readRam(0, 0));
    buf.resize(10);
    buf.insert(buf.end(), all.begin(), all.end());
    buf.push_back(0xEE);   // where the check byte goes
    protocol_phy phy;
    Bytes out(protocol_phy::escaped_size_max(unsigned(buf.size())));
    out.resize(phy.build_reply(buf.data(), unsigned(all.size()), out.data()));
    const pc::Frame reply{pc::kPc, pc::kController, 0, 0, 0, 0, 0, 0x61, all};
    EXPECT_EQ(std::make_tuple(out, protocol_phy::reply_escaped_size(buf.data(), unsigned(all.size())), buf.back()),
              std::make_tuple(pc::wire(reply), unsigned(out.size()), pc::encode(reply).back()));
}

// Each row: what arrives on the wire, the frame taken from it, whether a closer was seen,
// and whether the frame passes the length and check-byte test.
TEST(ProtocolPhyCodec, UnescapingKeepsTheFirstClosedFrameAndDropsLoneEscapeBytes)
{
    const Bytes plain = pc::encode(pc::writeRam(0x100, {0xA5, 0x5A, 0xA6, 0x5B}));
    // Garbage before the openers is dropped; everything after the first closer too.
    Bytes garbage = {0x00, 0x5A, 0x17}, one = pc::escape(plain), other = pc::escape(pc::encode(pc::readRam(0x10, 1)));
    garbage.insert(garbage.end(), one.begin(), one.end());
    garbage.insert(garbage.end(), other.begin(), other.end());
    Bytes open = pc::escape(plain);
    open.pop_back();   // no closing 0x5A
    // Plain runs long enough to be copied in blocks, with an escape pair at the last byte
    // of a block and a lone escape byte (followed by a plain one) inside a block: the lone
    // escape byte is dropped and the byte (or pair) after it kept.
    Bytes runs = {0xA5, 0xA5, 0xA5}, runsPlain;
    for (int k = 0; k < 15; ++k)
        runs.push_back(0x30 + k), runsPlain.push_back(0x30 + k);
    runs.insert(runs.end(), {0xA6, 0x02});   // the pair begins at the first block's last byte
    runsPlain.push_back(0xA5);
    for (int k = 0; k < 20; ++k)
        runs.push_back(0x40 + k), runsPlain.push_back(0x40 + k);
    runs.insert(runs.end(), {0x5B, 0x33});   // a lone escape byte
    runsPlain.push_back(0x33);
    for (int k = 0; k < 40; ++k)
        runs.push_back(0x10), runsPlain.push_back(0x10);
    // A lone escape byte followed by a pair: the pair still stands for its byte.
    runs.insert(runs.end(), {0xA6, 0x5B, 0x02, 0x5B, 0xA6, 0x02, 0xA6, 0xA6, 0x01, 0x5B, 0x5B, 0x01, 0x5B, 0x01, 0x5A});
    runsPlain.insert(runsPlain.end(), {0x5A, 0xA5, 0xA6, 0x5B, 0x5B});
    const struct {
        const char* what;
        Bytes wire, frame;
        unsigned char done;
        bool ok;
    } cases[] = {
        {"0xA5 then 0x5A: a closed frame of no bytes, which no link accepts", {0xA5, 0x5A}, {}, 1, false},
        {"garbage around", garbage, plain, 1, true},
        {"long runs", runs, runsPlain, 1, false},
        {"no closer", open, plain, 0, false},
    };
    for (const auto& c : cases) {
        unsigned char done = 9;
        const Bytes got = deviceUnescape(c.wire, done);
        EXPECT_EQ(std::make_tuple(got, done, protocol_phy::frame_ok(got.empty() ? nullptr : got.data(), unsigned(got.size()), done)),
                  std::make_tuple(c.frame, c.done, c.ok)) << c.what;
    }
    for (int bit = 0; bit < 8; ++bit) {
        Bytes bad = plain;
        bad.back() ^= uint8_t(1 << bit);
        EXPECT_FALSE(protocol_phy::frame_ok(bad.data(), unsigned(bad.size()), 1)) << bit;
    }
    // Shorter than header and check byte: refused even when the XOR happens to match.
    Bytes shortFrame = {0x00, 0xF1, 0x10, 0xF0, 0, 0, 0, 0, 0, 0};
    shortFrame.back() = pc::checkByte(shortFrame.data(), shortFrame.size() - 1);
    EXPECT_FALSE(protocol_phy::frame_ok(shortFrame.data(), unsigned(shortFrame.size()), 1));
}

// A frame for a receiving card: destination below 0xF000 from 0xF010 (its acknowledgement
// and the card's answer: the link tests).
TEST(ProtocolPhyCodec, PassthroughFramesAreThoseFrom0xF010ToACard)
{
    const struct {
        uint16_t dest, src;
        bool passby;
    } cases[] = {{0x0001, 0xF010, true}, {0xEFFF, 0xF010, true}, {0x0001, 0xF011, false}, {0xF000, 0xF010, false}};
    for (const auto& c : cases) {
        pc::Frame card;
        card.dest = c.dest;
        card.src = c.src;
        card.group = 2;
        EXPECT_EQ(protocol_phy::is_passby_frame(pc::encode(card).data()), c.passby) << c.dest << " " << c.src;
    }
}

} // namespace
