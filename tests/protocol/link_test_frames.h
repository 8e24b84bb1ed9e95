#pragma once
// Frame handling for the link tests on top of the PC client's frame code (which is written
// apart from the program's own codec): requests with a tag byte, a stream cut into all its
// frames, the expected reply, and private ports.

#include "board/sim/SimBoard.h"
#include "tests/support/PcFrame.h"
#include "tests/support/PrivatePorts.h"

#include <arpa/inet.h>
#include <cstdint>
#include <initializer_list>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace linktest {

using Bytes = pc::Bytes;

inline uint8_t xorOf(const Bytes& b, size_t n)
{
    return pc::checkByte(b.data(), n);
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
    Bytes cur;
    bool in = false;
    uint8_t esc = 0;
    for (uint8_t b : stream) {
        if (b == 0xA5) {
            in = true;
            cur.clear();
            esc = 0;
        } else if (!in) {
            continue;
        } else if (b == 0x5A) {
            out.push_back(cur);
            in = false;
        } else if (b == 0xA6 || b == 0x5B) {
            esc = b;
        } else if (esc) {
            cur.push_back(esc == 0xA6 ? (b == 1 ? 0xA6 : 0xA5) : (b == 1 ? 0x5B : 0x5A));
            esc = 0;
        } else {
            cur.push_back(b);
        }
    }
    return out;
}

// The reply the controller must give to req with reply data d (from byte 10).
inline Bytes expectedReply(const Bytes& req, const Bytes& d)
{
    Bytes r(req.begin(), req.begin() + 10);
    std::swap(r[0], r[2]);
    std::swap(r[1], r[3]);
    for (uint8_t b : d)
        r.push_back(b);
    r.push_back(xorOf(r, r.size()));
    return r;
}

inline bool portFree(uint16_t port, int type)
{
    int fd = ::socket(AF_INET, type, 0);
    if (fd < 0)
        return false;
    int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    bool ok = ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    ::close(fd);
    return ok;
}

// Moves the system's ports by an offset of this process's own (every test case runs in a
// process of its own) at which all the given ports are free, below the ephemeral range.
inline int usePrivatePorts(std::initializer_list<uint16_t> ports)
{
    int highest = 0;
    for (uint16_t p : ports)
        highest = p > highest ? p : highest;
    const int span = kel_test::maxPortOffset(highest) - 100;
    if (span <= 0)
        return -1;
    int base = 100 + int(::getpid() % 2000) * 10;
    for (int attempt = 0; attempt < 200; ++attempt) {
        int offset = 100 + (base - 100 + attempt * 10) % span;
        bool ok = true;
        for (uint16_t p : ports)
            ok = ok && portFree(uint16_t(p + offset), SOCK_STREAM) && portFree(uint16_t(p + offset), SOCK_DGRAM);
        if (ok) {
            sim::SimBoard::setPortOffset(offset);
            return offset;
        }
    }
    return -1;
}

} // namespace linktest
