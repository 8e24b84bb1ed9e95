// The processing stage of input channels 0-3: deinterlacer (motion filter, diagonal
// interpolation, comb filter, film-mode detection) and the five noise reducers, each set by
// register recipes chosen by the input's levels and format.
#include "scaler/c331_manage.h"

#include "core/global.h"

namespace {
constexpr uint32_t R(uint32_t bank, uint32_t reg, uint32_t bytes)
{
    return bank << 16 | reg << 8 | bytes;
}
} // namespace

void c331_manage::set_ip(int fd, int ich)
{
    const int owner = ich >= 0 && ich < kChannels ? ich_owner[ich] : -1;
    const int input = kelApi_IsWinValid(owner) ? PM_INPUT[owner] : 6;
    set_ip(fd, ich, input, port_interlaced(input) != 0);
}

// The processing of one channel for the input it captures; deinterlace says whether a field
// is made a frame of twice its lines.
void c331_manage::set_ip(int fd, int ich, int input, bool deinterlace)
{
    if (ich < 0 || ich > 3)
        return;
    if (!port_ok(input))
        return;   // no input: no processing
    const int off = 0x10 * ich;
    const bool interlaced = deinterlace;
    const bool anyNr = PM_HNR[input] || PM_VNR[input] || PM_TNR[input] || PM_BNR[input] || PM_MNR[input];
    const bool needed = interlaced || (PI_PORT_INFO[input].STATE > 3 && anyNr);
    if (!needed) {
        wr(fd, R(0x15, 0x70, 1), 0, off);
        set_nr(fd, ich, input);
    } else {
        wait1_pivs(fd, ich);
        wait1_pivs(fd, ich);
        const uint32_t bank = 0xA8 + 6 * uint32_t(ich);
        wr(fd, R(0, 0x29, 1), 0x80);
        ip_measured_total[ich] = int32_t(rd(fd, R(bank, 0x08, 2))) + 1;
        ip_measured_width[ich] = int32_t(rd(fd, R(bank, 0x0A, 2)));
        wr(fd, R(0, 0x29, 1), 0);
        const int scan = interlaced ? 1 : 0;
        const int T = ip_measured_total[ich] + scan;
        const int h = (scan ? T / 2 : T) + 32;
        wr(fd, R(0x14, 0x08, 2), uint32_t(h), off);
        wr(fd, R(0x14, 0x0A, 2), uint32_t((ip_measured_width[ich] + 16) * 2), off);
        wr(fd, R(0x14, 0x6D, 2), ((uint32_t((h + 1) * 3 / 4)) & 0x3FFF) | 0x8000, off);
        wr(fd, R(0x14, 0x0C, 1), 1, off);
        wr(fd, R(0x14, 0x0F, 2), uint32_t(PI_ACT[input].HW), off);
        wr(fd, R(0x14, 0x13, 2), uint32_t(PI_ACT[input].VW * (interlaced ? 2 : 1)), off);
        wr(fd, R(0x14, 0x11, 2), uint32_t(PI_ACT[input].VST * (interlaced ? 2 : 1)) | 0x8000, off);
        set_mvflt(fd, ich, input);
        set_diag(fd, ich, input);
        set_ipregs(fd, ich, input);
        set_comb(fd, ich, input);
        set_nr(fd, ich, input);
        if (interlaced) {
            wr(fd, R(0x14, 0x2A, 1), PM_IPEN[input] ? 0 : 32, off);
            wr(fd, R(0x14, 0x67, 1), 8, off);
            wr(fd, R(0x14, 0x68, 1), 4, off);
        } else {
            wr(fd, R(0x14, 0x2A, 1), 16, off);
            wr(fd, R(0x14, 0x67, 1), 0, off);
            wr(fd, R(0x14, 0x68, 1), 0, off);
        }
    }
    // 6. The deinterlacer's buffers.
    const uint32_t b0 = PS_PROC_MEM[ich][0], b1 = PS_PROC_MEM[ich][1];
    if (interlaced) {
        const uint32_t F = (uint32_t(PS_CH_CONST[ich]) & 31) << 10;
        wr(fd, R(0x17, 0x18, 4), F + b0, off);
        wr(fd, R(0x17, 0x1C, 4), b0, off);
        wr(fd, R(0x17, 0x20, 4), F + b1, off);
        wr(fd, R(0x17, 0x24, 4), b1, off);
        wr(fd, R(0x17, 0x08, 4), F + b0, off);
        wr(fd, R(0x17, 0x0C, 4), b0, off);
        wr(fd, R(0x17, 0x10, 4), F + b1, off);
        wr(fd, R(0x17, 0x14, 4), b1, off);
        wr(fd, R(0x17, 0x59, 2), uint32_t(PS_CH_CONST[4 + ich]), off);
    } else {
        for (uint32_t r : {0x18u, 0x20u, 0x08u, 0x10u})
            wr(fd, R(0x17, r, 4), b0, off);
        for (uint32_t r : {0x1Cu, 0x24u, 0x0Cu, 0x14u})
            wr(fd, R(0x17, r, 4), b1, off);
        wr(fd, R(0x17, 0x59, 2), 0, off);
    }
    wr(fd, R(0x16, 0x5B, 1), interlaced ? 1 : 0, off);
}

void c331_manage::set_nr(int fd, int ich, int input)
{
    if (ich < 0 || ich > 3 || !port_ok(input))
        return;
    const int off = 0x10 * ich;
    if (PI_PORT_INFO[input].STATE <= 3) {
        wr(fd, R(0x15, 0x39, 2), 0, off);
        wr(fd, R(0x12, 0x08, 1), 0, off);
        wr(fd, R(0x15, 0x6B, 1), 0, off);
        wr(fd, R(0x15, 0x09, 1), 0, off);
        wr(fd, R(0x15, 0x08, 1), 0, off);
        return;
    }
    set_nr_block(fd, ich, input);
    set_nr_tpx(fd, ich, input);
    set_nr_hvpx(fd, ich, input);
    set_nr_mosq(fd, ich, input);
    uint32_t enable = 0;
    if (!port_interlaced(input)) {
        if (PM_BNR[input])
            enable = 3;
        else if (PM_HNR[input] || PM_VNR[input] || PM_TNR[input] || PM_MNR[input])
            enable = 1;
    }
    wr(fd, R(0x15, 0x08, 1), enable, off);
}

void c331_manage::set_nr_block(int fd, int ich, int input)
{
    if (ich < 0 || ich > 3 || !port_ok(input))
        return;
    if (PM_BNR[input] == 0) {
        wr(fd, R(0x15, 0x39, 2), 0, 0x10 * ich);
        return;
    }
    switch (PI_ACT[input].VW) {
    case 240: set_nr_b(fd, ich, input, 0); break;
    case 480: set_nr_b(fd, ich, input, 1); break;
    case 720: set_nr_b(fd, ich, input, 2); break;
    case 540: set_nr_b(fd, ich, input, 3); break;
    case 1080: set_nr_b(fd, ich, input, 4); break;
    default: break;
    }
}

void c331_manage::set_nr_b(int fd, int ich, int input, int recipe)
{
    const int level = PM_BNR[input];
    if (ich < 0 || ich > 3 || level < 1 || level > 3 || recipe < 0 || recipe > 4)
        return;
    const int off = 0x10 * ich;
    auto w1 = [&](uint32_t r, uint32_t v) { wr(fd, R(0x15, r, 1), v, off); };
    auto w2 = [&](uint32_t r, uint32_t v) { wr(fd, R(0x15, r, 2), v, off); };
    // Level columns: 0x39, 0x3B, 0x40, 0x41, 0x42, 0x43, 0x44.
    static const uint32_t byLevel[3][7] = {
        {8855, 144, 32, 132, 65, 6, 16}, {8855, 160, 16, 66, 51, 4, 16}, {3223, 176, 16, 66, 51, 4, 6}};
    // Recipe columns: 0x08, 0x4D, 0x4F, 0x54, 0x56, 0x6A (480i, 480p, 720p, 1080i, 1080p).
    static const uint32_t byRecipe[5][6] = {{0, 64, 16, 64, 16, 8},     {3, 64, 16, 128, 32, 6},
                                            {3, 171, 43, 342, 86, 16},  {0, 384, 96, 384, 96, 48},
                                            {3, 384, 96, 768, 192, 36}};
    const uint32_t* L = byLevel[level - 1];
    const uint32_t* P = byRecipe[recipe];
    w1(0x08, P[0]);
    w2(0x39, L[0]);
    w1(0x3B, L[1]);
    w1(0x3C, 64);
    w1(0x3D, 80);
    w1(0x3E, 96);
    w1(0x3F, 128);
    w1(0x40, L[2]);
    w1(0x41, L[3]);
    w1(0x42, L[4]);
    w1(0x43, L[5]);
    w1(0x44, L[6]);
    w1(0x45, 64);
    w1(0x46, 0);
    w1(0x47, 0);
    w1(0x48, 6);
    w1(0x49, 4);
    w1(0x4A, 64);
    w1(0x4B, 18);
    w1(0x4C, 16);
    w2(0x4D, P[1]);
    w2(0x4F, P[2]);
    w1(0x51, 64);
    w1(0x52, 18);
    w1(0x53, 16);
    w2(0x54, P[3]);
    w2(0x56, P[4]);
    for (uint32_t r = 0x58; r <= 0x5B; ++r)
        w1(r, 0);
    for (uint32_t r : {0x5Cu, 0x5Eu, 0x60u, 0x62u})
        w2(r, 0);
    w1(0x64, 18);
    w1(0x65, 0);
    w1(0x66, 0);
    w2(0x67, 0);
    w1(0x69, 8);
    w1(0x6A, P[5]);
}

void c331_manage::set_nr_tpx(int fd, int ich, int input)
{
    if (ich < 0 || ich > 3 || !port_ok(input))
        return;
    const int off = 0x10 * ich;
    const int level = PM_TNR[input];
    if (level < 1 || level > 3) {
        wr(fd, R(0x12, 0x08, 1), 0, off);
        return;
    }
    static const uint32_t table[3][7] = {
        {18, 20, 24, 27, 28, 29, 30}, {17, 18, 20, 22, 24, 26, 28}, {0, 8, 12, 16, 20, 24, 28}};
    const uint32_t fixed[5][2] = {{0x08, 3}, {0x09, 49}, {0x0A, 117}, {0x0B, 185}, {0x0C, 253}};
    for (const auto& f : fixed)
        wr(fd, R(0x12, f[0], 1), f[1], off);
    for (uint32_t i = 0; i < 7; ++i)
        wr(fd, R(0x12, 0x0D + i, 1), table[level - 1][i], off);
    wr(fd, R(0x12, 0x14, 1), 31, off);
}

void c331_manage::set_nr_hvpx(int fd, int ich, int input)
{
    if (ich < 0 || ich > 3 || !port_ok(input))
        return;
    const int off = 0x10 * ich;
    wr(fd, R(0x15, 0x6B, 1), uint32_t((PM_VNR[input] ? 16 : 0) + (PM_HNR[input] ? 1 : 0)), off);
    auto pair = [](int level, uint32_t& a, uint32_t& b) {
        static const uint32_t v[3][2] = {{66, 150}, {117, 201}, {168, 252}};
        a = b = 0;
        if (level >= 1 && level <= 3) {
            a = v[level - 1][0];
            b = v[level - 1][1];
        }
    };
    uint32_t a, b;
    pair(PM_HNR[input], a, b);
    wr(fd, R(0x15, 0x6E, 1), a, off);
    wr(fd, R(0x15, 0x6F, 1), b, off);
    pair(PM_VNR[input], a, b);
    wr(fd, R(0x15, 0x6C, 1), a, off);
    wr(fd, R(0x15, 0x6D, 1), b, off);
}

void c331_manage::set_nr_mosq(int fd, int ich, int input)
{
    if (ich < 0 || ich > 3 || !port_ok(input))
        return;
    const int off = 0x10 * ich;
    auto w1 = [&](uint32_t r, uint32_t v) { wr(fd, R(0x15, r, 1), v, off); };
    const int level = PM_MNR[input];
    if (level < 1 || level > 3) {
        w1(0x09, 0);
        return;
    }
    w1(0x09, 1);
    w1(0x0A, 128);
    w1(0x0D, 128);
    w1(0x0B, 56);
    w1(0x0E, 56);
    w1(0x0C, 8);
    w1(0x0F, 8);
    if (level == 1) {
        for (uint32_t r = 0x10; r <= 0x1B; ++r)
            w1(r, (r == 0x10 || r == 0x11 || r == 0x16 || r == 0x17) ? 63 : 127);
        const uint32_t tail[6] = {252, 32, 213, 127, 24, 36};
        for (uint32_t i = 0; i < 6; ++i)
            w1(0x1C + i, tail[i]);
        for (uint32_t r = 0x22; r <= 0x26; ++r)
            w1(r, 0);
        w1(0x28, 64);
        w1(0x29, 81);
    } else if (level == 2) {
        for (uint32_t r = 0x10; r <= 0x1B; ++r)
            w1(r, 127);
        const uint32_t tail[5] = {252, 63, 217, 255, 24};
        for (uint32_t i = 0; i < 5; ++i)
            w1(0x1C + i, tail[i]);
        for (uint32_t r = 0x21; r <= 0x26; ++r)
            w1(r, 0);
        w1(0x28, 64);
        w1(0x29, 0);
    } else {
        for (uint32_t r = 0x10; r <= 0x1B; ++r)
            w1(r, 127);
        const uint32_t tail[4] = {252, 255, 217, 111};
        for (uint32_t i = 0; i < 4; ++i)
            w1(0x1C + i, tail[i]);
        for (uint32_t r = 0x20; r <= 0x26; ++r)
            w1(r, 0);
        w1(0x28, 0);
        w1(0x29, 0);
    }
    for (uint32_t r = 0x2A; r <= 0x2E; ++r)
        w1(r, 0);
}

void c331_manage::set_diag(int fd, int ich, int input)
{
    if (ich < 0 || ich > 3 || !port_ok(input))
        return;
    const int off = 0x10 * ich;
    const int level = PM_DIAG[input];
    if (PI_PORT_INFO[input].STATE <= 3 || level < 1 || level > 3) {
        for (uint32_t r = 0x50; r <= 0x5F; ++r)
            wr(fd, R(0x14, r, 1), 0, off);
        return;
    }
    static const uint32_t table[3][16] = {{9, 255, 119, 0, 4, 16, 3, 8, 10, 20, 4, 4, 2, 2, 16, 50},
                                          {11, 127, 119, 3, 4, 16, 1, 4, 10, 20, 4, 4, 2, 2, 16, 50},
                                          {11, 127, 119, 19, 9, 16, 3, 8, 10, 20, 4, 4, 2, 2, 16, 49}};
    for (uint32_t i = 0; i < 16; ++i)
        wr(fd, R(0x14, 0x50 + i, 1), table[level - 1][i], off);
    for (uint32_t r = 0x60; r <= 0x63; ++r)
        wr(fd, R(0x14, r, 1), 0, off);
}

void c331_manage::set_comb(int fd, int ich, int input)
{
    if (ich < 0 || ich > 3 || !port_ok(input))
        return;
    const int off = 0x10 * ich;
    const int level = PM_COMB[input];
    if (PI_PORT_INFO[input].STATE <= 3 || level < 1 || level > 3) {
        wr(fd, R(0x14, 0x3B, 1), 0, off);
        return;
    }
    static const uint32_t table[3][2] = {{16, 128}, {20, 128}, {112, 160}};
    wr(fd, R(0x14, 0x3B, 1), 1, off);
    wr(fd, R(0x14, 0x3C, 1), table[level - 1][0], off);
    wr(fd, R(0x14, 0x3D, 1), table[level - 1][1], off);
}

void c331_manage::set_mvflt(int fd, int ich, int input)
{
    if (ich < 0 || ich > 3 || !port_ok(input))
        return;
    const int off = 0x10 * ich;
    if (PI_PORT_INFO[input].STATE <= 3) {
        wr(fd, R(0x14, 0x15, 1), 0, off);
        for (uint32_t r = 0x1A; r <= 0x21; ++r)
            wr(fd, R(0x14, r, 1), 0, off);
        return;
    }
    const int level = PM_MVFLT[input];
    wr(fd, R(0x14, 0x15, 1), level ? 31 : 0, off);
    static const uint32_t table[5][4] = {{0, 0, 0, 0}, {4, 4, 8, 8}, {8, 8, 8, 16}, {8, 8, 16, 24}, {16, 16, 24, 31}};
    if (level < 0 || level > 4)
        return;
    for (uint32_t i = 0; i < 4; ++i) {
        wr(fd, R(0x14, 0x1A + i, 1), table[level][i], off);
        wr(fd, R(0x14, 0x1E + i, 1), table[level][i], off);
    }
}

void c331_manage::set_ipregs(int fd, int ich, int input)
{
    if (ich < 0 || ich > 3 || !port_ok(input))
        return;
    const int state = PI_PORT_INFO[input].STATE;
    if (state < 5 || state > 8)
        return;
    const int off = 0x10 * ich;
    auto w1 = [&](uint32_t r, uint32_t v) { wr(fd, R(0x14, r, 1), v, off); };
    // Columns 0x2E-0x34, 0x35-0x37 (one value), 0x38, 0x39, 0x3A.
    static const uint32_t table[4][10] = {{26, 16, 17, 142, 6, 128, 192, 193, 0, 193},
                                          {26, 16, 17, 142, 6, 128, 192, 0, 0, 0},
                                          {13, 3, 17, 53, 2, 128, 40, 196, 196, 194},
                                          {13, 3, 17, 69, 2, 128, 40, 0, 0, 0}};
    static const uint32_t reg3A[4] = {193, 0, 194, 0};
    const uint32_t* t = table[state - 5];
    for (uint32_t i = 0; i < 7; ++i)
        w1(0x2E + i, t[i]);
    for (uint32_t r = 0x35; r <= 0x37; ++r)
        w1(r, t[7]);
    w1(0x38, t[8]);
    w1(0x39, t[9]);
    w1(0x3A, reg3A[state - 5]);
    const bool early = state == 5 || state == 6;
    const uint32_t tail[9] = {early ? 68u : 70u, 0, 3, 0, 0, early ? 2u : 0u, early ? 15u : 9u, 0, 0};
    for (uint32_t i = 0; i < 9; ++i)
        w1(0x42 + i, tail[i]);
    w1(0x2C, 50 + (PM_22PD[input] ? 64 : 0) + (PM_23PD[input] ? 128 : 0) + (early ? 1 : 0));
    w1(0x2D, PM_24SF[input] ? 25 : 9);
    w1(0x30, uint32_t(PM_23PDSQTH[input]) | uint32_t(PM_22PDSQTH[input]) << 4);
}
