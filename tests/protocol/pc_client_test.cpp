// The PC client's stream transports cut frames out of a byte stream whatever the pieces.
#include "tests/support/PcClient.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <unistd.h>

namespace {

using pc::Bytes;

TEST(PcClientStream, SerialFramesAreCutFromTheByteStream)
{
    int master = -1, slave = -1;
    char name[128] = {};
    ASSERT_EQ(::openpty(&master, &slave, name, nullptr, nullptr), 0);
    auto c = pc::PcClient::serial(name);
    ASSERT_TRUE(c);

    pc::Frame a = pc::readRam(0x600440, 2);
    a.b4 = 1;
    pc::Frame b = pc::writeRam(0x10, {0xA5, 0x5A});
    b.b4 = 2;
    Bytes wa = pc::wire(a), wb = pc::wire(b);
    // Garbage, a whole frame, then a second frame in two pieces.
    Bytes first = {0x00, 0x13};
    first.insert(first.end(), wa.begin(), wa.end());
    first.insert(first.end(), wb.begin(), wb.begin() + 7);
    ASSERT_EQ(::write(master, first.data(), first.size()), ssize_t(first.size()));

    Bytes raw, plain;
    pc::Frame got;
    ASSERT_TRUE(c->receiveRaw(raw, 2000));
    ASSERT_TRUE(pc::unescape(raw, plain) && pc::decode(plain, got));
    EXPECT_EQ(got.b4, 1);
    EXPECT_FALSE(c->receiveRaw(raw, 50));   // the second frame is not complete yet

    ASSERT_EQ(::write(master, wb.data() + 7, wb.size() - 7), ssize_t(wb.size() - 7));
    ASSERT_TRUE(c->receiveRaw(raw, 2000));
    ASSERT_TRUE(pc::unescape(raw, plain) && pc::decode(plain, got));
    EXPECT_EQ(std::make_pair(int(got.b4), got.data), std::make_pair(2, pc::writeRam(0x10, {0xA5, 0x5A}).data));

    // What the client sends arrives as the escaped frame.
    ASSERT_TRUE(c->sendRaw(wa));
    Bytes echo(wa.size());
    size_t n = 0;
    while (n < echo.size()) {
        ssize_t k = ::read(master, echo.data() + n, echo.size() - n);
        ASSERT_GT(k, 0);
        n += size_t(k);
    }
    EXPECT_EQ(echo, wa);
    ::close(slave);
    ::close(master);
}

} // namespace
