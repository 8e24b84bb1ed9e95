// A fixed set-up kept for the bench: a 4240 x 1360 picture on V-by-One receiver 1 shown
// turned, as 1360 x 4240, on output channel 1. Nothing in the application calls it.
#include "scaler/c331_manage.h"

namespace {
constexpr uint32_t R(uint32_t bank, uint32_t reg, uint32_t bytes)
{
    return bank << 16 | reg << 8 | bytes;
}
} // namespace

void c331_manage::VBORX1_4240x1360IN_ICH56_OCH1_1360x4240_setting(int fd)
{
    // Four field buffers of their own, clear of the channels' power-on slots.
    // The fifth is the spare a freeze writes into: each channel needs its own there too.
    static const uint32_t planes[5] = {0x2A800000, 0x2BCC0000, 0x2D190000, 0x2E658000, 0x2FB20000};
    constexpr int inW = 4240, inH = 1360;
    constexpr int half = inW / 2;            // each ICH takes one lane group: half the line
    // Each ICH captures its half line of two-byte pixels as it comes (4240 bytes): the
    // pitch holds that line, and the right half starts below the last line of the left.
    // The captures store and the output reads that packing (code 0x11); left at the
    // power-on four bytes a pixel, a half line would take 8480 bytes of a 5120-byte pitch.
    constexpr uint32_t twoBytePacking = 0x11;
    constexpr int lineBytes = half * 2;
    constexpr uint32_t pitchKiB = (lineBytes + 1023) / 1024;
    constexpr int ichs[2] = {5, 6};
    // Receiver 1 is V-by-One channel 0 (port 4); with eight lanes its halves are source
    // codes 8 and 10.
    constexpr uint32_t sources[2] = {8, 10};

    set_rtct(fd, 2);
    for (int i = 0; i < 2; ++i) {
        const int ich = ichs[i];
        const int off = 0x10 * ich;
        wr(fd, R(0, 0x10 + uint32_t(ich), 1), sources[i]);
        wr(fd, R(0x10, 0x09, 1), 1, off);   // its own capture, not a partner's second half
        wr(fd, R(0x10, 0x17, 2), 0, off);
        wr(fd, R(0x10, 0x19, 2), half, off);
        wr(fd, R(0x10, 0x1B, 2), 0, off);
        wr(fd, R(0x10, 0x1D, 2), inH, off);
        for (uint32_t r = 0x42; r <= 0x4C; ++r)
            wr(fd, R(0x11, r, 1), 0, off);   // no input-side scaling
        const uint32_t start = uint32_t(i) * uint32_t(inH) * pitchKiB * 1024;
        for (uint32_t k = 0; k < 5; ++k)
            wr(fd, R(0x16, 0x1C + 4 * k, 4), planes[k] + start, off);
        wr(fd, R(0x16, 0x31, 1), pitchKiB, off);
        wr(fd, R(0, 0x71 + uint32_t(ich), 1), twoBytePacking);
    }

    // Output channel 1 reads the whole turned picture from the top of the buffers.
    const int off = 0x10 * 1;
    wr(fd, R(0x08, 0x08, 2), uint32_t(ichs[0]) << 8 | 0x11, off);
    for (uint32_t k = 0; k < 4; ++k)
        wr(fd, R(0x16, 0x08 + 4 * k, 4), planes[k], off);
    wr(fd, R(0x16, 0x30, 1), pitchKiB, off);
    wr(fd, R(0, 0x69 + 1, 1), twoBytePacking);
    wr(fd, R(0x08, 0x40, 2), uint32_t(PS_ACTHST), off);
    wr(fd, R(0x08, 0x42, 2), inH, off);
    wr(fd, R(0x08, 0x44, 2), uint32_t(PS_ACTVST), off);
    wr(fd, R(0x08, 0x46, 2), inW, off);
    set_rtct(fd, 1);
}
