#pragma once
// Builds receiving-card packages and standalone scan-parameter files byte by byte in their
// file layout, for the reader and job tests (no file from elsewhere is used).

#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace rcv_test {

using Bytes = std::vector<uint8_t>;

// The low n bytes of v at `at`, least significant first; b grows to hold them.
inline void putLe(Bytes& b, size_t at, uint32_t v, size_t n)
{
    b.resize(std::max(b.size(), at + n));
    for (size_t i = 0; i < n; ++i)
        b[at + i] = uint8_t(v >> (8 * i));
}
inline void put16(Bytes& b, size_t at, uint32_t v) { putLe(b, at, v, 2); }
inline void put32(Bytes& b, size_t at, uint32_t v) { putLe(b, at, v, 4); }

// One stored operation with its data.
struct Op {
    uint8_t type = 1;
    uint8_t target = 1;
    uint32_t addr = 0;
    uint32_t ms = 100;        // timeticks
    Bytes data;
};
inline Op op(uint8_t type, uint8_t target, uint32_t addr, uint32_t ms, Bytes data)
{
    return Op{type, target, addr, ms, std::move(data)};
}

// A block of operations as the files hold it: u16 count, 2 bytes, 18-byte records, put at
// `at`; each record's data goes to the end of `data`, its offset counted as `dataBase` plus
// where it lands there.
inline void putBlock(Bytes& b, size_t at, const std::vector<Op>& ops, size_t dataBase, Bytes& data)
{
    put16(b, at, uint32_t(ops.size()));
    b.resize(at + 4 + 18 * ops.size());
    for (size_t i = 0; i < ops.size(); ++i) {
        const size_t r = at + 4 + 18 * i;
        put32(b, r, uint32_t(dataBase + data.size()));
        put32(b, r + 4, uint32_t(ops[i].data.size()));
        put32(b, r + 8, ops[i].addr);
        put32(b, r + 12, ops[i].ms);
        b[r + 16] = ops[i].type;
        b[r + 17] = ops[i].target;
        data.insert(data.end(), ops[i].data.begin(), ops[i].data.end());
    }
}

// A standalone block: the records, then their data; offsets count from the block's first byte.
inline Bytes opBlock(const std::vector<Op>& ops)
{
    Bytes b, data;
    putBlock(b, 0, ops, 4 + 18 * ops.size(), data);
    b.insert(b.end(), data.begin(), data.end());
    return b;
}

// A standalone "...kxfile": a 16-byte head, then one block whose offsets count from byte 16.
inline Bytes kxfile(const std::vector<Op>& ops)
{
    Bytes b(16, 0xEE);
    Bytes block = opBlock(ops);
    b.insert(b.end(), block.begin(), block.end());
    return b;
}

struct Port {
    uint16_t ledx = 0;
    std::vector<std::vector<Op>> cards;   // the operations of each card
};

struct Screen {
    uint32_t configId = 0;
    std::vector<Op> para;                 // scan parameters of the screen (none: length 0)
    std::vector<Port> ports;              // XY area (no ports: length 0)
};

struct Package {
    Bytes bytes;
    uint32_t screenStart = 0, xyStart = 0, paraStart = 0;

    // Entry i of the table (the header's count set to at least i + 1).
    void entry(int i, uint8_t type, uint32_t offset)
    {
        bytes[3] = uint8_t(std::max<int>(bytes[3], i + 1));
        bytes[4 + 12 * i] = type;
        put32(bytes, 4 + 12 * i + 8, offset);
    }
};

// The members back to back after room for `entries` table entries; the table itself is
// left for the test (standard() fills types 10, 11 and 12).
inline Package package(const std::vector<Screen>& screens, int entries = 3)
{
    Package p;
    p.bytes.assign(4 + 12 * size_t(entries), 0);
    p.bytes[0] = 0x4B;

    // Scan-parameter member: one block per screen.
    Bytes para;
    std::vector<std::pair<uint32_t, uint32_t>> paraAt;   // offset, length per screen
    for (const Screen& s : screens) {
        if (s.para.empty()) {
            paraAt.push_back({0, 0});
            continue;
        }
        Bytes block = opBlock(s.para);
        paraAt.push_back({uint32_t(para.size()), uint32_t(block.size())});
        para.insert(para.end(), block.begin(), block.end());
    }

    // XY member: 16-byte head, then per screen its area.
    Bytes xy(16, 0x11);
    std::vector<std::pair<uint32_t, uint32_t>> xyAt;
    for (const Screen& s : screens) {
        if (s.ports.empty()) {
            xyAt.push_back({0, 0});
            continue;
        }
        const size_t area = xy.size();
        Bytes a;
        put16(a, 0, uint32_t(s.ports.size()));
        a.resize(4 + 12 * s.ports.size());
        for (size_t n = 0; n < s.ports.size(); ++n) {
            const Port& port = s.ports[n];
            // The cards' blocks back to back (count, 2 bytes, records), then all their
            // data; record offsets count from the first card block.
            size_t blocksSize = 0;
            for (const auto& card : port.cards)
                blocksSize += 4 + 18 * card.size();
            Bytes blocks, data;
            for (const auto& card : port.cards)
                putBlock(blocks, blocks.size(), card, blocksSize, data);
            blocks.insert(blocks.end(), data.begin(), data.end());
            put16(a, 4 + 12 * n, port.ledx);
            put16(a, 4 + 12 * n + 2, uint32_t(port.cards.size()));
            put32(a, 4 + 12 * n + 4, uint32_t(a.size()));
            put32(a, 4 + 12 * n + 8, uint32_t(blocks.size()));
            a.insert(a.end(), blocks.begin(), blocks.end());
        }
        xyAt.push_back({uint32_t(area), uint32_t(a.size())});
        xy.insert(xy.end(), a.begin(), a.end());
    }

    // Screen member: head, records.
    Bytes sc(32 + 52 * screens.size(), 0);
    sc[2] = 1;
    put32(sc, 4, uint32_t(para.size()));
    put32(sc, 12, uint32_t(xy.size()));
    sc[20] = uint8_t(screens.size());
    for (size_t s = 0; s < screens.size(); ++s) {
        const size_t r = 32 + 52 * s;
        put32(sc, r, screens[s].configId);
        put32(sc, r + 36, paraAt[s].first);
        put32(sc, r + 40, paraAt[s].second);
        put32(sc, r + 44, xyAt[s].first);
        put32(sc, r + 48, xyAt[s].second);
    }

    p.screenStart = uint32_t(p.bytes.size());
    p.bytes.insert(p.bytes.end(), sc.begin(), sc.end());
    p.xyStart = uint32_t(p.bytes.size());
    p.bytes.insert(p.bytes.end(), xy.begin(), xy.end());
    p.paraStart = uint32_t(p.bytes.size());
    p.bytes.insert(p.bytes.end(), para.begin(), para.end());
    return p;
}

inline Package standard(const std::vector<Screen>& screens)
{
    Package p = package(screens, 3);
    p.entry(0, 10, p.screenStart);
    p.entry(1, 11, p.xyStart);
    p.entry(2, 12, p.paraStart);
    return p;
}

} // namespace rcv_test
