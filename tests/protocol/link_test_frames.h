#pragma once
// Frame handling for the link tests on top of the PC client's frame code (which is written
// apart from the program's own codec): requests with a tag byte, a stream cut into all its
// frames and the expected reply.

#include "fpga/fpga_manage.h"
#include "tests/support/PcFrame.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cstdint>
#include <initializer_list>
#include <mutex>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace linktest {

using Bytes = pc::Bytes;

// The loopback address at port.
inline sockaddr_in loopback(uint16_t port)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    return a;
}

// connect() of fd to the loopback address at port.
inline int connectLoopback(int fd, uint16_t port)
{
    const sockaddr_in a = loopback(port);
    return ::connect(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a);
}

// An unescaped request with its check byte. tag goes to byte 4 so replies can be told apart.
inline Bytes request(uint16_t dest, uint16_t src, uint8_t group, const Bytes& data = {}, uint8_t tag = 0x11)
{
    pc::Frame f;
    f.dest = dest;
    f.src = src;
    f.b4 = tag;
    f.b5 = 0x22;
    f.sub = 0x01;
    f.b8 = 0x33;
    f.group = group;
    f.data = data;
    return pc::encode(f);
}

// Group 0x60 to the controller: write the bytes at RAM address addr.
inline Bytes ramWrite(uint32_t addr, const Bytes& data, uint8_t tag = 0x11)
{
    pc::Frame f = pc::writeRam(addr, data);
    return request(f.dest, f.src, f.group, f.data, tag);
}

inline Bytes escape(const Bytes& f)
{
    return pc::escape(f);
}

// Cuts a received byte stream into unescaped frames (only whole ones).
inline std::vector<Bytes> frames(const Bytes& stream)
{
    std::vector<Bytes> out;
    for (auto at = stream.begin();;) {
        const auto close = std::find(at, stream.end(), uint8_t(0x5A));
        if (close == stream.end())
            return out;
        Bytes f;
        if (pc::unescape(&*at, size_t(close - at) + 1, f))
            out.push_back(f);
        at = close + 1;
    }
}

// The reply the controller must give to req with reply data d (from byte 10).
inline Bytes expectedReply(const Bytes& req, const Bytes& d)
{
    Bytes r(req.begin(), req.begin() + 10);
    std::swap(r[0], r[2]);
    std::swap(r[1], r[3]);
    for (uint8_t b : d)
        r.push_back(b);
    r.push_back(pc::checkByte(r.data(), r.size()));
    return r;
}

} // namespace linktest
