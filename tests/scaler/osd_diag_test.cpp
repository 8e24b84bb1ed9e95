// What the PC reaches through its own registers: the register dump (0xA1 bit 1) and the
// font reload after a font rewrite (register 14 bit 3); and the test-bar sequences.
#include "protocol/message_deal.h"
#include "core/global.h"
#include "tests/scaler/osd_fixture.h"
#include "tests/support/ScalerLog.h"
#include "tests/support/PcFrame.h"

using osd_test::OsdFixture;
using OsdDiagnostics = OsdFixture;

namespace {
// Runs one request; the reply's status byte, and its data in out.
int deal(const pc::Frame& f, pc::Bytes* out = nullptr)
{
    message_deal md;
    std::vector<uint8_t> buf(message_deal::FRAME_BUF_SIZE, 0);
    const pc::Bytes plain = pc::encode(f);
    std::copy(plain.begin(), plain.end(), buf.begin());
    const int r = md.message_group_deal(buf.data(), unsigned(plain.size() - 1), 5);
    if (out && r > 1)
        out->assign(buf.begin() + 11, buf.begin() + 10 + r);
    return buf[10];
}
pc::Frame flashRequest(uint8_t group, uint32_t address, const pc::Bytes& tail)
{
    pc::Frame f;
    f.group = group;
    pc::put32(f.data, address);
    f.data.insert(f.data.end(), tail.begin(), tail.end());
    return f;
}
} // namespace

TEST_F(OsdDiagnostics, PcFlashCommandsReachTheScalersFlashAsChip4)
{
    // Write 4 bytes at 0x10FE (length, two spare bytes, data), read them back, erase the sector.
    pc::Bytes data;
    EXPECT_EQ(deal(flashRequest(0x71, 0x040010FE, {4, 0, 0, 0, 1, 2, 3, 4})), 0);
    EXPECT_EQ(std::make_pair(sim::ScalerFlashModel::read(0x10FE, 4), deal(flashRequest(0x72, 0x040010FE, {4, 0}), &data)),
              std::make_pair(pc::Bytes{1, 2, 3, 4}, 0));
    EXPECT_EQ(std::make_pair(data, deal(flashRequest(0x70, 0x04001000, {1, 1}))), std::make_pair(pc::Bytes{1, 2, 3, 4}, 0));
    EXPECT_EQ(sim::ScalerFlashModel::read(0x10FE, 4), pc::Bytes(4, 0xFF));
}

TEST_F(OsdDiagnostics, PcRegistersDumpTheChipAndReloadTheFonts)
{
    sim::ScalerModel::setReg(3, 0x10, 0xAB);
    testing::internal::CaptureStdout();
    EXPECT_EQ(deal(pc::writeRegister(0xA1, 0x02, 0x02)), 0);
    message_deal::wait_register_dump();   // it runs off the link
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ((std::vector<int>{kel_test::countOf(out, "h\n"), kel_test::countOf(out, "031001  000000ABh\n")}), (std::vector<int>{7967, 1}));

    // A font written by the PC is found and copied in again.
    sim::ScalerFlashModel::write(0x410000, {'P'});
    sim::ScalerFlashModel::write(0x410023, {0x5A});
    EXPECT_EQ((std::vector<int>{deal(pc::writeRegister(14, 0x08, 0x08)), m.font_present, sim::ScalerOsdModel::memory(m.g_font_addr_64ASCII, 1)[0]}),
              (std::vector<int>{0, 0x08, 0x5A}));
}

TEST_F(OsdDiagnostics, TestBarsOnAndOff)
{
    for (int k = 0; k < 6; ++k)
        for (int r = 0x57; r <= 0x68; ++r)
            sim::ScalerModel::setReg(8 + 16 * k, r, 0xEE);
    m.output_slidebar(fd);
    m.input_slidebar(fd);
    // Per channel: mode, length, colour, enables; between them 0x58-0x5A 0, 0x5B 160,
    // 0x5D 0 and 0x5F 32 on every channel.
    const unsigned bars[6][8] = {{9, 1376, 255, 255, 255, 3, 3, 3}, {9, 1376, 255, 0, 0, 3, 0, 0},
                                 {9, 1376, 0, 255, 0, 0, 3, 0},     {9, 1376, 0, 0, 255, 0, 0, 3},
                                 {0x89, 2752, 255, 255, 255, 3, 3, 3}, {0x89, 2752, 0, 255, 0, 0, 3, 0}};
    for (int k = 0; k < 6; ++k) {
        const int b = 8 + 16 * k;
        const unsigned* w = bars[k];
        EXPECT_EQ((std::vector<unsigned>{reg(b, 0x57, 1), reg(b, 0x58, 3), reg(b, 0x5B, 2), reg(b, 0x5D, 2),
                                         reg(b, 0x5F, 2), reg(b, 0x61, 2), reg(b, 0x63, 1), reg(b, 0x64, 1),
                                         reg(b, 0x65, 1), reg(b, 0x66, 1), reg(b, 0x67, 1), reg(b, 0x68, 1)}),
                  (std::vector<unsigned>{w[0], 0, 160, 0, 32, w[1], w[2], w[3], w[4], w[5], w[6], w[7]}))
            << k;
    }
    m.disable_slidebar(fd);
    for (int k = 0; k < 6; ++k)
        EXPECT_EQ(reg(8 + 16 * k, 0x57, 1), 0u) << k;
}

TEST_F(OsdDiagnostics, PixelClockTotalsAndGlyphPrint)
{
    // The line totals from 100 to 17,407 that divide 9,900,000 and 4,950,000: 92 of them.
    testing::internal::CaptureStdout();
    m.c331_calc_PixelCLK();
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ((std::vector<size_t>{out.find("htt:"), out.rfind("htt:"), size_t(kel_test::countOf(out, "htt:"))}),
              (std::vector<size_t>{out.find("htt:100\nhtt:110\nhtt:120\nhtt:125\nhtt:132\n"), out.find("htt:16500\n"), 92}));

    // The 32-dot glyph of 'A', row by row from the top, bit 0 leftmost.
    std::vector<uint8_t> glyph(128, 0);
    glyph[0] = 0x01, glyph[3] = 0x80, glyph[4] = 0xFF;
    sim::ScalerFlashModel::write(0x23 + ('A' - 0x20) * 128, glyph);
    testing::internal::CaptureStdout();
    m.kelApi_debug_printf_unicode('A', fd);
    out = testing::internal::GetCapturedStdout();
    const std::string rows = "O" + std::string(30, ' ') + "O\nOOOOOOOO" + std::string(24, ' ') + "\n";
    EXPECT_NE(out.find(rows), std::string::npos) << out;
}

TEST_F(OsdDiagnostics, ThePanelSetUpLeavesTheFullParameterDump)
{
    setLines({{'O', 'K'}});
    testing::internal::CaptureStdout();
    m.kelApi_PnlInit2(3840, 2160, 1920, 1080, 0);
    const std::string out = testing::internal::GetCapturedStdout();
    // The text lines as pairs.
    EXPECT_TRUE(out.find("[kelDbg_c331_param] output ACTHW=") != std::string::npos && out.find("[0,0x4f] [0,0x4b] ") != std::string::npos);
}

TEST_F(OsdDiagnostics, FrameLockTestsAndObservationGroupsReachEveryChannel)
{
    using G = std::vector<kel_test::RegGroup>;
    struct Case {
        int n;   // the parameter dump group, or -2 / -3: the frame-lock test of receiver 2 / 3
        G head, perChannel;   // perChannel at bank + 16k for k = 0..7
    };
    const G lock = {{0, 0x55, 2, 0x40}, {8, 0x0F, 1, 0x84}, {8, 0x08, 2, 0x0403}, {8, 0x18, 2, 2}};
    G lock3 = lock;
    lock3[1].value = 0x04;
    const Case cases[] = {{-2, lock, {{8, 0x0C, 2, 1237}, {8, 0x1D, 2, 1}}},   // 1125 x 1.1, truncated
                          {-3, lock3, {{8, 0x0C, 2, 5489}}},
                          {6, {}, {{8, 0x49, 3, 0xFFFFFF}, {8, 0x48, 1, 1}}},
                          {7, {}, {{10, 0x46, 1, 0xC3}}},
                          {8, {}, {{80, 0x4A, 1, 1}, {80, 0x4B, 3, 0x80FF80}}}};
    m.PS_VTOTAL = 1125;
    for (const Case& c : cases) {
        G t = c.head;
        for (int k = 0; k < 8; ++k)
            for (kel_test::RegGroup g : c.perChannel)
                t.push_back({g.bank + 16 * k, g.reg, g.bytes, g.value});
        sim::ScalerModel::clearFrames();
        c.n == -2 ? m.sync_c331_device_test_frame_lock_vbyrx2(fd)
                  : c.n == -3 ? m.sync_c331_device_test_frame_lock_vbyrx3(fd) : m.kelDbg_c331_param(c.n);
        EXPECT_EQ(kel_test::chipWrites(), kel_test::bytesOf(t)) << c.n;
    }
}

TEST_F(OsdDiagnostics, TheForcedBackgroundEndsForTheOutputBackgroundToo)
{
    m.wincnt = 1;
    m.gWininfo[0].totalh = m.gWininfo[0].totalv = 1;
    m.gWininfo[0].ochLst[0] = 0;
    g_force_bkcolor = 1;
    m.kelApi_SetOutBkg();
    EXPECT_EQ(reg(8, 0x49, 3), 0x00FF00u);
    // Every channel's colour back to 0, then each window's background on where its input
    // has no signal: window 0 (port 1, signal) on channel 0, window 1 (port 2, none) on 2, 3.
    m.wincnt = 2;
    m.gWininfo[1].totalh = 2;
    m.gWininfo[1].totalv = 1;
    m.gWininfo[1].ochLst[0] = 2;
    m.gWininfo[1].ochLst[1] = 3;
    m.PM_INPUT[0] = 1;
    m.PM_INPUT[1] = 2;
    m.PI_PORT_INFO[1].NOSIG = 0;
    m.PI_PORT_INFO[2].NOSIG = 1;
    sim::ScalerModel::clearFrames();
    m.kelApi_forceColorDisable(fd);
    EXPECT_EQ(g_force_bkcolor, 2);
    std::vector<kel_test::ChipByte> want;
    for (int c = 0; c < 8; ++c)
        for (int r = 0x49; r < 0x4C; ++r)
            want.push_back({0x08 + 0x10 * c, r, 0});
    want.insert(want.end(), {{0x08, 0x48, 0}, {0x28, 0x48, 1}, {0x38, 0x48, 1}});
    EXPECT_EQ(kel_test::chipWrites(), want);
    m.wincnt = 1;
    m.kelApi_SetOutBkg();
    EXPECT_EQ(reg(8, 0x49, 3), 0u);
    g_force_bkcolor = 0;
}
