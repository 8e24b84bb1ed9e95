// The RS-485 link: a byte stream cut at arbitrary points into the link's frame assembly,
// every closed frame unescaped and answered (frames for the controller by the command
// handler, frames for a receiving card through the FPGA manager's passthrough), the replies
// sent on the simulated line. Byte 0 seeds the cut points, the rest is the stream.
//
// Promises: no more frames close than the stream has closers; everything the link sends is
// a well-formed frame (opener, escaped bytes, closer, a good check byte) no longer than the
// line takes.
#include "tests/fuzz/FuzzPc.h"

#include "board/sim/SerialModel.h"
#include "core/global.h"
#include "protocol/uart_inout.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {

using kel_fuzz::Bytes;

const char* const kDevice = "/dev/ttyS2";

// The PC at the other end of the line: reads everything the link sends, on a thread of its
// own so that a long reply never waits for room, and checks each frame as it closes.
class LinePeer {
public:
    explicit LinePeer(const std::string& path)
    {
        fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd_ < 0)
            kel_fuzz::fail("open the line's peer");
        termios raw{};
        ::tcgetattr(fd_, &raw);
        ::cfmakeraw(&raw);
        ::tcsetattr(fd_, TCSANOW, &raw);
        std::thread([this] { run(); }).detach();
    }

private:
    void run()
    {
        uint8_t buf[4096];
        for (;;) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, -1) <= 0)
                continue;
            ssize_t n = ::read(fd_, buf, sizeof buf);
            for (ssize_t i = 0; i < n; ++i)
                take(buf[i]);
        }
    }
    void take(uint8_t b)
    {
        pending_.push_back(b);
        if (b != 0x5A)
            return;
        // The link writes whole frames only: opener first, closer last.
        KEL_FUZZ_CHECK(pending_.size() >= 5 && pending_[0] == 0xA5);
        KEL_FUZZ_CHECK(pending_.size() <= message_deal::REPLY_LIMIT_SERIAL);
        Bytes plain;
        pc::Frame f;
        KEL_FUZZ_CHECK(pc::unescape(pending_, plain));
        KEL_FUZZ_CHECK(pc::decode(plain, f));
        pending_.clear();
    }

    int fd_ = -1;
    Bytes pending_;
};

Kx_uart_inout* line = nullptr;

void setUp()
{
    kel_fuzz::PcBench::instance();
    line = new Kx_uart_inout(5);
    if (line->open_port(2, 115200, O_RDWR | O_NOCTTY | O_NONBLOCK) < 0)
        kel_fuzz::fail("open the serial port");
    new LinePeer(sim::SerialModel::peerPath(kDevice));
}

void makeSeeds(const std::string& dir)
{
    std::vector<pc::Frame> frames = kel_fuzz::pcSeedFrames();
    // A controller frame and a card frame (a read of a card's RAM on output 1) in one stream.
    pc::Frame card;
    card.dest = 0x0000;
    card.b4 = 0x10;
    card.mode = 1;
    card.sub = 1;
    card.group = 0x61;
    card.data = {0, 0, 0, 0, 16, 0, 0, 0};
    frames.push_back(card);
    int i = 0;
    for (const pc::Frame& f : frames) {
        Bytes s = {uint8_t(i * 37)};
        Bytes w = pc::wire(f);
        s.insert(s.end(), w.begin(), w.end());
        if (i % 3 == 0) {
            s.insert(s.end(), {0x00, 0x5A, 0x33});   // noise and a stray closer between frames
            Bytes next = pc::wire(frames[size_t(i + 1) % frames.size()]);
            s.insert(s.end(), next.begin(), next.end());
        }
        kel_fuzz::writeSeed(dir, "serial-" + std::to_string(i++), s);
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    kel_fuzz::seedMode(argc, argv, makeSeeds);
    setUp();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1 || size > 8192)
        return 0;
    kel_fuzz::PcBench::instance().fresh();
    const uint8_t* s = data + 1;
    const size_t len = size - 1;
    const int closers = int(std::count(s, s + len, uint8_t(0x5A)));
    int closed = 0;
    size_t from = 0;
    for (size_t to : kel_fuzz::cutPoints(data[0], len)) {
        closed += line->feed_bytes(s + from, int(to - from));
        from = to;
    }
    KEL_FUZZ_CHECK(closed <= closers);
    // The next input starts clean: a wait for a card runs out, a half-assembled frame is
    // closed (and dropped: it has no header).
    G_timeTicks = G_timeTicks.load() + protocol_phy::PASSBY_WAIT_TICKS + 1;
    static const unsigned char closeAll[] = {0xA5, 0x5A};
    line->feed_bytes(closeAll, sizeof closeAll);
    sim::SerialModel::clearRts(kDevice);
    return 0;
}
