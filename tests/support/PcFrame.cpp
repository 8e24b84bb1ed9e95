#include "tests/support/PcFrame.h"

#include <cstdio>

namespace pc {

uint8_t checkByte(const uint8_t* data, size_t len)
{
    uint8_t x = 0;
    for (size_t i = 0; i < len; ++i)
        x ^= data[i];
    return x;
}

Bytes encode(const Frame& f)
{
    Bytes b;
    b.reserve(11 + f.data.size());
    put16(b, f.dest);
    put16(b, f.src);
    b.push_back(f.b4);
    b.push_back(f.b5);
    b.push_back(f.mode);
    b.push_back(f.sub);
    b.push_back(f.b8);
    b.push_back(f.group);
    b.insert(b.end(), f.data.begin(), f.data.end());
    b.push_back(checkByte(b.data(), b.size()));
    return b;
}

Bytes escape(const Bytes& in)
{
    Bytes out{0xA5, 0xA5, 0xA5};
    out.reserve(4 + 2 * in.size());
    for (uint8_t c : in) {
        if (c == 0xA5 || c == 0xA6) {
            out.push_back(0xA6);
            out.push_back(c == 0xA5 ? 0x02 : 0x01);
        } else if (c == 0x5A || c == 0x5B) {
            out.push_back(0x5B);
            out.push_back(c == 0x5A ? 0x02 : 0x01);
        } else {
            out.push_back(c);
        }
    }
    out.push_back(0x5A);
    return out;
}

bool unescape(const uint8_t* wire, size_t len, Bytes& out)
{
    out.clear();
    bool inFrame = false;
    uint8_t pending = 0;   // 0xA6 or 0x5B waiting for its second byte
    for (size_t i = 0; i < len; ++i) {
        uint8_t c = wire[i];
        if (c == 0xA5) {
            inFrame = true;
            out.clear();
            pending = 0;
            continue;
        }
        if (!inFrame)
            continue;
        if (c == 0x5A)
            return true;
        if (c == 0xA6 || c == 0x5B) {
            pending = c;
            continue;
        }
        if (pending && (c == 0x01 || c == 0x02))
            out.push_back(pending == 0xA6 ? (c == 0x01 ? 0xA6 : 0xA5) : (c == 0x01 ? 0x5B : 0x5A));
        else
            out.push_back(c);
        pending = 0;
    }
    return false;
}

bool decode(const Bytes& b, Frame& f)
{
    if (b.size() < 11 || checkByte(b.data(), b.size() - 1) != b.back())
        return false;
    f.dest = get16(&b[0]);
    f.src = get16(&b[2]);
    f.b4 = b[4];
    f.b5 = b[5];
    f.mode = b[6];
    f.sub = b[7];
    f.b8 = b[8];
    f.group = b[9];
    f.data.assign(b.begin() + 10, b.end() - 1);
    return true;
}

Bytes wire(const Frame& frame)
{
    return escape(encode(frame));
}

void put16(Bytes& b, uint16_t v)
{
    b.push_back(uint8_t(v));
    b.push_back(uint8_t(v >> 8));
}

void put32(Bytes& b, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b.push_back(uint8_t(v >> (8 * i)));
}

uint16_t get16(const uint8_t* p)
{
    return uint16_t(p[0] | (p[1] << 8));
}

uint32_t get32(const uint8_t* p)
{
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

namespace {
Frame request(uint8_t group, uint16_t dest, Bytes data = {})
{
    Frame f;
    f.dest = dest;
    f.group = group;
    f.data = std::move(data);
    return f;
}
} // namespace

Frame writeRam(uint32_t address, const Bytes& data, uint16_t dest)
{
    Frame f = request(0x60, dest);
    put32(f.data, address);
    put16(f.data, uint16_t(data.size()));
    put16(f.data, 0);
    f.data.insert(f.data.end(), data.begin(), data.end());
    return f;
}

Frame readRam(uint32_t address, uint16_t length, uint16_t dest)
{
    Frame f = request(0x61, dest);
    put32(f.data, address);
    put16(f.data, length);
    return f;
}

Frame writeRegister(uint8_t reg, uint8_t mask, uint8_t value, uint16_t dest)
{
    return request(0xA0, dest, {reg, mask, 0, value});
}

Frame readRegister(uint8_t reg, uint16_t dest)
{
    return request(0xA1, dest, {reg});
}

Frame singleSettings(const std::vector<std::pair<uint8_t, uint16_t>>& items)
{
    Frame f = request(0xB0, kController, {0x31, 0});
    for (const auto& it : items) {
        f.data.push_back(it.first);
        put16(f.data, it.second);
    }
    return f;
}

std::string hex(const uint8_t* data, size_t len)
{
    std::string s;
    char buf[4];
    for (size_t i = 0; i < len; ++i) {
        std::snprintf(buf, sizeof buf, i ? " %02x" : "%02x", data[i]);
        s += buf;
    }
    return s;
}

} // namespace pc
