#pragma once
// Scanning frames sixteen bytes at a time (SSE2 on a PC, NEON on the board, plain code
// elsewhere): frames and replies run to 64 KiB and few of their bytes are markers.

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace byte_scan {

typedef unsigned char Block16 __attribute__((vector_size(16)));

inline Block16 load16(const unsigned char* p)
{
    Block16 v;
    std::memcpy(&v, p, 16);
    return v;
}

// 0xFF in each lane that is a frame marker (0xA5 opener, 0x5A closer), 0 in the others.
inline Block16 marker_lanes(Block16 v)
{
    return (Block16)((v == 0xA5) | (v == 0x5A));
}

// 0xFF in each lane that the escaping changes (0xA5, 0xA6, 0x5A, 0x5B), 0 in the others.
inline Block16 escape_lanes(Block16 v)
{
    return (Block16)((v == 0xA5) | (v == 0xA6) | ((v | 1) == 0x5B));
}

// One bit a lane (bit k for lane k) of a lane mask: SSE2 has an instruction for it, other
// targets fold the two halves.
inline unsigned lane_bits(Block16 m)
{
#if defined(__SSE2__)
    return unsigned(__builtin_ia32_pmovmskb128((__attribute__((vector_size(16))) char)m));
#else
    static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "lane 0 is the low byte of the first word");
    uint64_t h[2];
    std::memcpy(h, &m, 16);
    // Each lane is 0 or 0xFF: multiplying its top bits gathers them into the top byte.
    const uint64_t gather = 0x0102040810204080ull;
    const unsigned lo = unsigned(((h[0] & 0x8080808080808080ull) >> 7) * gather >> 56);
    const unsigned hi = unsigned(((h[1] & 0x8080808080808080ull) >> 7) * gather >> 56);
    return lo | hi << 8;
#endif
}

inline bool any_lane(Block16 m)
{
#if defined(__SSE2__)
    return lane_bits(m) != 0;
#else
    uint64_t h[2];
    std::memcpy(h, &m, 16);
    return (h[0] | h[1]) != 0;
#endif
}

// Index of the first 0xFF lane of m, which has one.
inline size_t first_lane(Block16 m)
{
    return size_t(__builtin_ctz(lane_bits(m)));
}

inline bool is_marker(unsigned char b) { return b == 0xA5 || b == 0x5A; }
inline bool needs_escape(unsigned char b) { return b == 0xA5 || b == 0xA6 || b == 0x5A || b == 0x5B; }

// Index of the first byte in p[from, len) that Lanes marks (and Is confirms past the last
// whole block), or len when there is none.
template <Block16 (*Lanes)(Block16), bool (*Is)(unsigned char)>
inline size_t find_first(const unsigned char* p, size_t from, size_t len)
{
    size_t i = from;
    // Four blocks a step: one test for 64 bytes that are usually all plain.
    for (; i + 64 <= len; i += 64) {
        const Block16 m0 = Lanes(load16(p + i)), m1 = Lanes(load16(p + i + 16));
        const Block16 m2 = Lanes(load16(p + i + 32)), m3 = Lanes(load16(p + i + 48));
        if (any_lane(m0 | m1 | m2 | m3)) {
            const uint64_t bits = uint64_t(lane_bits(m0)) | uint64_t(lane_bits(m1)) << 16
                                  | uint64_t(lane_bits(m2)) << 32 | uint64_t(lane_bits(m3)) << 48;
            return i + size_t(__builtin_ctzll(bits));
        }
    }
    for (; i + 16 <= len; i += 16) {
        const Block16 m = Lanes(load16(p + i));
        if (any_lane(m))
            return i + first_lane(m);
    }
    while (i < len && !Is(p[i]))
        ++i;
    return i;
}

// Index of the first frame marker in p[from, len), or len when there is none.
inline size_t find_marker(const unsigned char* p, size_t from, size_t len)
{
    return find_first<marker_lanes, is_marker>(p, from, len);
}

} // namespace byte_scan
