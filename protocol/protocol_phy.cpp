#include "protocol/protocol_phy.h"

#include "core/utils.h"

#include <cstdint>
#include <cstring>

namespace {
enum : unsigned char { kOutside = 0, kInFrame = 1, kAfterA6 = 2, kAfter5B = 3 };

inline bool needs_escape(unsigned char b)
{
    return b == 0xA5 || b == 0xA6 || b == 0x5A || b == 0x5B;
}
// Whether any byte of w is 0xA5, 0xA6, 0x5A or 0x5B.
inline bool word_needs_escape(uint64_t w)
{
    constexpr uint64_t ones = 0x0101010101010101ull, highs = 0x8080808080808080ull;
    auto has_zero = [](uint64_t v) { return ((v - ones) & ~v & highs) != 0; };
    return has_zero(w ^ (ones * 0xA5)) || has_zero(w ^ (ones * 0xA6)) || has_zero((w | ones) ^ (ones * 0x5B));
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
            // A run of bytes that need no unescaping is copied at once.
            unsigned int j = i;
            while (j < len && in[j] != 0xA5 && in[j] != 0x5A && in[j] != 0xA6 && in[j] != 0x5B)
                ++j;
            if (j > i) {
                std::memcpy(out + n, in + i, j - i);
                n += j - i;
                i = j;
                if (i == len)
                    break;
            }
        }
        unsigned char b = in[i];
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

unsigned int protocol_phy::escaped_size(const unsigned char* frame, unsigned int len)
{
    unsigned int n = 4 + len;
    for (unsigned int i = 0; i < len; ++i)
        if (needs_escape(frame[i]))
            ++n;
    return n;
}

unsigned int protocol_phy::reply_escaped_size(const unsigned char* frame, unsigned int r)
{
    unsigned char check = (unsigned char)Utils::BCC(frame, r + 10);
    return escaped_size(frame, r + 10) + (needs_escape(check) ? 2 : 1);
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
    // Eight bytes at a time: a word none of whose bytes needs escaping is copied whole.
    uint64_t wide = 0;
    unsigned int i = 0;
    for (; i + 8 <= len; i += 8) {
        uint64_t w;
        std::memcpy(&w, frame + i, 8);
        wide ^= w;
        if (!word_needs_escape(w)) {
            std::memcpy(out + n, &w, 8);
            n += 8;
        } else {
            for (unsigned int j = i; j < i + 8; ++j)
                n = put_escaped(out, n, frame[j]);
        }
    }
    unsigned char check = 0;
    for (unsigned int s = 0; s < 64; s += 8)
        check ^= (unsigned char)(wide >> s);
    for (; i < len; ++i) {
        check ^= frame[i];
        n = put_escaped(out, n, frame[i]);
    }
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
