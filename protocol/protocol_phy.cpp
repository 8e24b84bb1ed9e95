#include "protocol/protocol_phy.h"

#include "core/utils.h"

#include <cstring>

namespace {
enum : unsigned char { kOutside = 0, kInFrame = 1, kAfterA6 = 2, kAfter5B = 3 };

inline bool needs_escape(unsigned char b)
{
    return b == 0xA5 || b == 0xA6 || b == 0x5A || b == 0x5B;
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

unsigned int protocol_phy::build_reply(unsigned char* frame, unsigned int r, unsigned char* out)
{
    swap_phy_head(frame);
    frame[r + 10] = (unsigned char)Utils::BCC(frame, r + 10);
    unsigned char flag = 0;
    return data_re_transf_meaning(out, frame, r + 11, &flag);
}

unsigned int protocol_phy::build_passby_ack(unsigned char* frame, unsigned char* out)
{
    swap_phy_head(frame);
    frame[10] = 0;
    frame[11] = (unsigned char)Utils::BCC(frame, 11);
    unsigned char flag = 0;
    return data_re_transf_meaning(out, frame, 12, &flag);
}
