#include "protocol/protocol_phy.h"

#include "core/utils.h"
#include "protocol/byte_scan.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace {
enum : unsigned char { kOutside = 0, kInFrame = 1, kAfterA6 = 2, kAfter5B = 3 };

using byte_scan::Block16;
using byte_scan::any_lane;
using byte_scan::escape_lanes;
using byte_scan::lane_bits;
using byte_scan::load16;
using byte_scan::needs_escape;

inline unsigned lane_sum(Block16 v)
{
    unsigned s = 0;
    for (int k = 0; k < 16; ++k)
        s += v[k];
    return s;
}

// Whether in[i] and in[i + 1] are an escape pair: 0xA6 or 0x5B, then 0x01 or 0x02.
inline bool escape_pair(const unsigned char* in, unsigned int i, unsigned int len)
{
    return (in[i] == 0xA6 || in[i] == 0x5B) && i + 1 < len && (in[i + 1] == 0x01 || in[i + 1] == 0x02);
}

// The byte an escape pair stands for.
inline unsigned char unescaped(unsigned char first, unsigned char second)
{
    const bool one = second == 0x01;
    return first == 0xA6 ? (one ? 0xA6 : 0xA5) : (one ? 0x5B : 0x5A);
}

// Appends b to out at n, escaped; returns the new count.
inline unsigned int put_escaped(unsigned char* out, unsigned int n, unsigned char b)
{
    if (!needs_escape(b)) {
        out[n] = b;
        return n + 1;
    }
    out[n] = (b == 0xA5 || b == 0xA6) ? 0xA6 : 0x5B;
    out[n + 1] = (b == 0xA5 || b == 0x5A) ? 0x02 : 0x01;
    return n + 2;
}
} // namespace

protocol_phy::protocol_phy() : m_state(kOutside) {}

protocol_phy::~protocol_phy() {}

void protocol_phy::swap_phy_head(unsigned char* frame)
{
    unsigned char d0 = frame[0], d1 = frame[1];
    frame[0] = frame[2];
    frame[1] = frame[3];
    frame[2] = d0;
    frame[3] = d1;
}

unsigned int protocol_phy::data_transf_meaning(unsigned char* in, unsigned char* out, unsigned int len,
                                               unsigned char* done)
{
    unsigned int n = 0;
    *done = 0;
    m_state = kOutside;
    for (unsigned int i = 0; i < len; ++i) {
        if (m_state == kInFrame) {
            // Plain bytes go sixteen at a time: each block is stored whole and the output
            // advances to its first escaped byte, where an escape pair is decoded at once.
            // The stores stay inside out's len bytes: the output never runs ahead of the
            // input.
            while (i + 16 <= len) {
                const Block16 v = load16(in + i);
                std::memcpy(out + n, &v, 16);
                const unsigned mask = lane_bits(escape_lanes(v));
                if (mask == 0) {
                    n += 16;
                    i += 16;
                    continue;
                }
                const unsigned k = unsigned(__builtin_ctz(mask));
                n += k;
                i += k;
                if (!escape_pair(in, i, len))
                    break;   // an opener, a closer or a lone escape byte: the states below
                out[n++] = unescaped(in[i], in[i + 1]);
                i += 2;
            }
            while (i < len && !byte_scan::needs_escape(in[i]))
                out[n++] = in[i++];
            if (i == len)
                break;
        }
        unsigned char b = in[i];
        if (m_state == kInFrame && escape_pair(in, i, len)) {
            // A whole escape pair, decoded at once (the same as through the states below).
            out[n++] = unescaped(b, in[i + 1]);
            ++i;
            continue;
        }
        if (b == 0xA5) {
            // Every opener restarts the frame: the sender's three openers and any garbage
            // in front of the last one fall away.
            m_state = kInFrame;
            n = 0;
            *done = 0;
            continue;
        }
        if (m_state == kOutside)
            continue;
        if (b == 0x5A) {
            *done = 1;
            m_state = kOutside;
            break;
        }
        if (b == 0xA6) {
            m_state = kAfterA6;
            continue;
        }
        if (b == 0x5B) {
            m_state = kAfter5B;
            continue;
        }
        if ((b == 0x01 || b == 0x02) && m_state == kAfterA6) {
            out[n++] = (b == 0x01) ? 0xA6 : 0xA5;
        } else if ((b == 0x01 || b == 0x02) && m_state == kAfter5B) {
            out[n++] = (b == 0x01) ? 0x5B : 0x5A;
        } else {
            // A plain byte; after a lone escape byte the escape is simply lost.
            out[n++] = b;
        }
        m_state = kInFrame;
    }
    return n;
}

unsigned int protocol_phy::data_re_transf_meaning(unsigned char* out, unsigned char* in, unsigned int len,
                                                  unsigned char* flag)
{
    if (flag)
        *flag = 0;
    unsigned int n = 0;
    out[n++] = 0xA5;
    out[n++] = 0xA5;
    out[n++] = 0xA5;
    for (unsigned int i = 0; i < len; ++i) {
        unsigned char b = in[i];
        switch (b) {
        case 0xA5: out[n++] = 0xA6; out[n++] = 0x02; break;
        case 0xA6: out[n++] = 0xA6; out[n++] = 0x01; break;
        case 0x5A: out[n++] = 0x5B; out[n++] = 0x02; break;
        case 0x5B: out[n++] = 0x5B; out[n++] = 0x01; break;
        default: out[n++] = b; break;
        }
    }
    out[n++] = 0x5A;
    return n;
}

namespace {
// The bytes that escaping adds to frame[0, len), and the XOR of those bytes, in one pass.
unsigned int escapes_and_check(const unsigned char* frame, unsigned int len, unsigned char& check)
{
    unsigned int added = 0;
    Block16 wide = {};
    unsigned int i = 0;
    while (i + 16 <= len) {
        // Each lane counts its escapes; 255 blocks at most before a lane could overflow.
        Block16 count = {};
        for (int b = 0; b < 255 && i + 16 <= len; ++b, i += 16) {
            const Block16 v = load16(frame + i);
            wide ^= v;
            count -= escape_lanes(v);
        }
        added += lane_sum(count);
    }
    check = 0;
    for (int k = 0; k < 16; ++k)
        check ^= wide[k];
    for (; i < len; ++i) {
        check ^= frame[i];
        added += needs_escape(frame[i]);
    }
    return added;
}
} // namespace

unsigned int protocol_phy::escaped_size(const unsigned char* frame, unsigned int len)
{
    unsigned char check;
    return 4 + len + escapes_and_check(frame, len, check);
}

unsigned int protocol_phy::reply_escaped_size(const unsigned char* frame, unsigned int r)
{
    unsigned char check;
    const unsigned int added = escapes_and_check(frame, r + 10, check);
    return 4 + r + 10 + added + (needs_escape(check) ? 2 : 1);
}

bool protocol_phy::frame_ok(const unsigned char* frame, unsigned int n, unsigned char done)
{
    if (done != 1 || n < MIN_FRAME_LEN)
        return false;
    return Utils::BCC(frame, n - 1) == frame[n - 1];
}

bool protocol_phy::is_passby_frame(const unsigned char* frame)
{
    unsigned dest = frame[0] | (frame[1] << 8);
    unsigned src = frame[2] | (frame[3] << 8);
    return dest < 0xF000 && src == 0xF010;
}

bool protocol_phy::is_passby_wire(const unsigned char* raw, unsigned int len)
{
    // The header's four address bytes take at most eight escaped ones after the openers.
    unsigned char head[24], plain[24];
    const unsigned int n = std::min(len, unsigned(sizeof head));
    std::memcpy(head, raw, n);
    protocol_phy phy;
    unsigned char done = 0;
    return phy.data_transf_meaning(head, plain, n, &done) >= 4 && is_passby_frame(plain);
}

bool protocol_phy::reply_fits(const unsigned char* frame, unsigned int r, unsigned int limit)
{
    // Most replies cannot exceed the limit even if every byte were escaped: no need to count.
    return escaped_size_max(r + 11) <= limit || reply_escaped_size(frame, r) <= limit;
}

unsigned int protocol_phy::build_reply(unsigned char* frame, unsigned int r, unsigned char* out)
{
    swap_phy_head(frame);
    // The check byte and the escaping in one pass over the reply, straight into out.
    const unsigned int len = r + 10;
    unsigned int n = 0;
    out[n++] = 0xA5;
    out[n++] = 0xA5;
    out[n++] = 0xA5;
    // Plain bytes go sixteen at a time: each block is stored whole and the output advances
    // to its first marked byte, which is escaped on its own. out holds twice the reply, so
    // a whole block stored at n stays inside it.
    Block16 wide = {};
    unsigned char check = 0;
    unsigned int i = 0;
    while (i + 16 <= len) {
        const Block16 v = load16(frame + i);
        std::memcpy(out + n, &v, 16);
        const unsigned mask = lane_bits(escape_lanes(v));
        if (mask == 0) {
            wide ^= v;
            n += 16;
            i += 16;
            continue;
        }
        const unsigned k = unsigned(__builtin_ctz(mask));
        for (unsigned int e = i + k; i < e; ++i)
            check ^= frame[i];
        n += k;
        check ^= frame[i];
        n = put_escaped(out, n, frame[i]);
        ++i;
    }
    for (; i < len; ++i) {
        check ^= frame[i];
        n = put_escaped(out, n, frame[i]);
    }
    for (int k = 0; k < 16; ++k)
        check ^= wide[k];
    frame[len] = check;
    n = put_escaped(out, n, check);
    out[n++] = 0x5A;
    return n;
}

unsigned int protocol_phy::build_passby_ack(unsigned char* frame, unsigned char* out)
{
    swap_phy_head(frame);
    frame[10] = 0;
    frame[11] = (unsigned char)Utils::BCC(frame, 11);
    unsigned char flag = 0;
    return data_re_transf_meaning(out, frame, 12, &flag);
}
