// The OSD engine: fonts found and copied, the canvas pitch, windows, tiles and scroll codes,
// and the character list the drawing engine is given.
#include "tests/scaler/osd_fixture.h"
#include "tests/support/ScalerLog.h"

#include <atomic>
#include <thread>

using osd_test::OsdFixture;
using OsdEngine = OsdFixture;
using V = std::vector<int>;

TEST_F(OsdEngine, FontPresenceBitsAndTheFontStatusRegister)
{
    sim::ScalerFlashModel::write(0x000000, {'P'});   // 32-dot ASCII
    sim::ScalerFlashModel::write(0x450000, {'P'});   // 64-dot CJK
    para.reg_image[43] = 0xFF;
    m.read_c331_font(fd);
    EXPECT_EQ((V{m.font_present, para.reg_image[43]}), (V{0x06, 0xA9}));   // 32 CJK bit 1 and 64 ASCII bits 2, 4, 6 cleared

    sim::ScalerFlashModel::write(0x410000, {'P'});
    sim::ScalerFlashModel::write(0x010000, {'P'});
    para.reg_image[43] = 0;
    m.read_c331_font(fd);
    EXPECT_EQ((V{m.font_present, para.reg_image[43]}), (V{0x0F, 0xFF}));
}

TEST_F(OsdEngine, FontsArePackedIntoOsdMemoryAsciiBeforeCjk)
{
    sim::ScalerFlashModel::write(0x23, {0x11, 0x22});
    sim::ScalerFlashModel::write(0x450023 + 0x100, {0x33});
    m.update_font(fd);
    using U = std::vector<uint32_t>;
    EXPECT_EQ((U{m.g_font_addr_32ASCII, m.g_font_addr_32CHN, m.g_font_addr_64ASCII, m.g_font_addr_64CHN}),
              (U{0x7F000000, 0x7F003000, 0x7F293000, 0x7F29F000}));
    EXPECT_EQ(sim::ScalerOsdModel::memory(0x7F000000, 3), (std::vector<uint8_t>{0x11, 0x22, 0xFF}));
    EXPECT_EQ(sim::ScalerOsdModel::memory(0x7F29F100, 1), std::vector<uint8_t>{0x33});
}

TEST_F(OsdEngine, RedrawPitchFrameWaitsWindowModeAndScrollCodes)
{
    m.PM_OSD_DATA_MODE = 1;
    m.PS_BG_VACT = 8;   // a few lines are enough for the pitch
    sim::ScalerModel::withholdDoneBits(0, 0x01);
    m.set_output(fd);   // a window update whose output update never came: the redraws still wait
    sim::ScalerModel::withholdDoneBits(0, 0);
    // The engine's (0x1B) and the windows' (0x1E) pitch registers hold one byte: a canvas
    // wider than a pitch of 255 units of 512 bytes holds (65280 columns) is cut to that.
    for (auto [width, mwi, shift, kept] : {std::tuple{1920, 32, 0, 1920}, {4096, 64, 0, 4096}, {4097, 17, 1, 4097},
                                           {32641, 128, 1, 32641}, {65280, 255, 1, 65280}, {65281, 255, 1, 65280},
                                           {100000, 255, 1, 65280}, {7680, 30, 1, 7680}}) {
        m.PS_BG_HACT = width;
        sim::ScalerModel::clearFrames();
        testing::internal::CaptureStdout();
        m.update_osd(fd);
        const int trace = kel_test::countOf(testing::internal::GetCapturedStdout(), "clipped to 65280 columns");
        int looks = 0;   // reads of the output-update done bits: the canvas drawn, the windows on it
        for (const sim::ScalerFrame& f : sim::ScalerModel::frames())
            looks += !f.write && f.bank == 5 && f.reg == 0x23;
        EXPECT_EQ((V{m.g_osd_mwi, m.g_osd_mwi_shift, m.PS_BG_HACT, int(reg(4, 0x1B)), int(reg(9, 0x1E)), trace, looks}),
                  (V{mwi, shift, kept, mwi, mwi, int(kept != width), 2})) << width;
    }
    m.PM_OSD_EN = 1;
    m.PM_OSD_HZOOM_EN = m.PM_OSD_VZOOM_EN = 1;
    m.g_osd_layer_bottom = 1;
    m.set_osd(fd, 1);
    // 0x6000 + 0x800 | 0x1000 | 3 | 0x8000; the pitch.
    EXPECT_EQ((std::vector<unsigned>{reg(9 + 16 * 2, 0x08, 2), reg(9 + 16 * 2, 0x1E, 1)}), (std::vector<unsigned>{0xF803u, 30u}));
    m.PM_OSD_DATA_MODE = 0;
    m.PM_OSD_EN = m.PM_OSD_HZOOM_EN = m.PM_OSD_VZOOM_EN = m.g_osd_layer_bottom = 0;
    m.set_osd(fd, 0);
    EXPECT_EQ(reg(9, 0x08, 2), 0x6000u);

    m.PS_BMP_HACT = 66000;   // set but not drawn yet: the scroll width is the clipped canvas's
    for (auto [mode, code] : {std::pair{0, 0x80u}, {9, 0x80u}, {1, 0x81u}, {3, 0xA1u}, {8, 0xF1u}}) {
        m.PM_OSD_SCROLL_MODE = mode;
        m.set_scroll(fd);
        EXPECT_EQ((V{int(reg(9 + 16 * 3, 0x3C, 1)), int(reg(9 + 16 * 3, 0x40, 2))}), (V{int(code), 65280})) << mode;
    }
}

TEST_F(OsdEngine, TheWindowIsCutIntoOneTilePerOutputChannel)
{
    // Four channels of 1920 x 2160 side by side; window 1000..4680 x 100..2100.
    const int32_t out[4] = {1000, 3000, 100, 60};
    std::copy(out, out + 4, m.PM_OSD_OUTPUT_OFFSET);
    m.PM_OSD_DATA_MODE = 1;
    c331_manage::OSD_TILE t[8];
    m.calc_osd(t);
    // The window, each tile's start and width, and which tiles hold its edges.
    EXPECT_EQ((V{m.OSD_WIN.HW, m.OSD_WIN.VW, t[0].hst, t[1].hst, t[2].hst, t[3].hst, t[0].hw, t[1].hw, t[2].hw, t[3].hw, t[0].vst, t[0].vw,
                 t[0].first_col, t[2].last_col, t[0].first_row, t[0].last_row, t[1].first_col, t[1].last_col, t[3].last_col}),
              (V{3680, 2000, 1000, 0, 0, 0, 920, 1920, 840, 0, 100, 2000, 1, 1, 1, 1, 0, 0, 0}));

    // Margins wider than the panel: width 0, every tile empty.
    m.PM_OSD_OUTPUT_OFFSET[1] = 8000;
    m.calc_osd(t);
    EXPECT_EQ((V{m.OSD_WIN.HW, t[0].hw, t[1].hw, t[2].hw, t[3].hw}), (V{0, 0, 0, 0, 0}));
    m.PM_OSD_OUTPUT_OFFSET[3] = 3000;   // and taller: height 0 too
    m.calc_osd(t);
    EXPECT_EQ(m.OSD_WIN.VW, 0);
}

TEST_F(OsdEngine, CharactersOutsideTheFontsAreSpacesAndLinesStopAt128)
{
    m.update_font(fd);
    m.PM_OSD_CHAR_64DOT = 1;
    setLines({{'A', 0x4E01, 0x01, 0xE9, 0x3000, 0xA000, 0x1F600}, {}});
    m.gen_char(fd);
    // Per character: index low, high, fg 2, bg 1, width - 1 (ASCII 32 wide, others 64).
    EXPECT_EQ(sim::ScalerOsdModel::charList(0, 35),
              (std::vector<uint8_t>{0x21, 0, 2, 1, 31, 97, 0, 2, 1, 63, 0, 0, 2, 1, 31, 0, 0, 2, 1, 31,
                                    0,    0, 2, 1, 63, 0,  0, 2, 1, 63, 0, 0, 2, 1, 63}));
    // Glyph height - 1, the last character's index; the empty second line drew nothing.
    EXPECT_EQ((std::vector<unsigned>{sim::ScalerOsdModel::charList(0xA00, 1)[0], reg(4, 0x24, 1), unsigned(sim::ScalerOsdModel::commandCount(3))}),
              (std::vector<unsigned>{63, 6, 1}));

    setLines({std::vector<uint32_t>(130, 'B')});
    m.gen_char(fd);
    EXPECT_EQ((std::vector<unsigned>{reg(4, 0x24, 1), unsigned(sim::ScalerOsdModel::commandCount(3))}), (std::vector<unsigned>{127, 2}));
}

TEST_F(OsdEngine, AFontReloadFromAnotherThreadNeverMixesWithDrawing)
{
    // The flash DMA and the fill share the engine's destination register: interleaved, a
    // font copy would land in the canvas or a fill in the fonts. Every copy and every fill
    // goes to a place of its own, so each one's result stays visible.
    sim::SimBoard::setRecording(false);
    sim::ScalerFlashModel::write(0x23, std::vector<uint8_t>(64, 0x3C));
    m.g_osd_mwi = 2;   // 256-byte canvas lines
    m.g_osd_mwi_shift = 0;
    constexpr int kReloads = 30, kFills = 300;
    std::thread pc([this] {
        for (int i = 0; i < kReloads; ++i) {
            m.PS_FONT_ADDR = 0x80000000u + 0x1000000u * uint32_t(i);
            m.update_font(fd);
        }
    });
    for (int y = 0; y < kFills; ++y)
        m.osd_paint(fd, 0, 64, y, 1, 7, m.PS_MEM_OSD);
    pc.join();
    for (int y = 0; y < kFills; ++y)
        ASSERT_EQ(sim::ScalerOsdModel::memory(m.PS_MEM_OSD + 256 * uint32_t(y), 64), std::vector<uint8_t>(64, 7)) << y;
    for (int i = 0; i < kReloads; ++i)
        ASSERT_EQ(sim::ScalerOsdModel::memory(0x80000000u + 0x1000000u * uint32_t(i), 64),
                  std::vector<uint8_t>(64, 0x3C))
            << i;
}

TEST_F(OsdEngine, ABitmapComesFromTheFlashWithItsPalette)
{
    sim::ScalerFlashModel::write(0xED9800, {5, 6, 7});
    sim::ScalerFlashModel::write(0xED9800 + 1920, {8});   // the next bitmap line, back to back
    sim::ScalerFlashModel::write(0x10D3C00, {0x11, 0x22, 0x33, 0x44});
    m.PM_OSD_DATA_MODE = 0;
    m.PM_OSD_EN = 1;
    m.update_osd(fd);
    // 1920 wide: 4096-byte canvas lines; bitmap mode.
    EXPECT_EQ((std::vector<unsigned>{unsigned(m.g_osd_mwi), reg(9, 0x08, 2)}), (std::vector<unsigned>{32, 0x4002u}));
    using B = std::vector<uint8_t>;
    EXPECT_EQ((std::vector<B>{sim::ScalerOsdModel::memory(0x725C0000, 3), sim::ScalerOsdModel::memory(0x725C0000 + 4096, 1),
                              sim::ScalerOsdModel::memory(0x74B80000 + 1920, 3), sim::ScalerOsdModel::palette(0, 2)}),
              (std::vector<B>{{5, 6, 7}, {8}, {5, 6, 7}, {0x11, 0x22, 0x33, 0x44, 0xFF, 0xFF}}));
}

TEST_F(OsdEngine, InputOffsetsBeyondTheCanvasLeaveTheWindowsOnTheCanvas)
{
    m.PM_OSD_DATA_MODE = 1;
    m.PS_BG_HACT = 1920;
    m.PS_BG_VACT = 8;
    m.PM_OSD_INPUT_OFFSET[0] = 5000;
    m.update_osd(fd);
    // No copy into the display memory.
    EXPECT_EQ(std::make_pair(reg(9, 0x1A, 4), unsigned(sim::ScalerOsdModel::commandCount(2))), std::make_pair(0x725C0000u + 5000, 0u));
}

TEST_F(OsdEngine, JustifiedLinesAreDrawnCharacterByCharacter)
{
    m.update_font(fd);
    m.PM_OSD_CHAR_64DOT = 0;
    setLines({{'A', 'B'}});
    m.g_osd_h_alignment_velin = 3;
    m.g_osd_hmargin_velin[0] = 10;
    m.g_osd_remainder[0] = 3;   // one extra pixel after the first character only
    testing::internal::CaptureStdout();
    m.gen_char(fd);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(std::make_pair(unsigned(sim::ScalerOsdModel::commandCount(3)), reg(4, 0x11, 4)), std::make_pair(2u, 0x725C0000u + 27));   // 16 + 10 + 1
    EXPECT_NE(out.find("1char[2] hst= 53 k=1"), std::string::npos);
}

TEST_F(OsdEngine, ACanvasTallerThanItsMemoryIsClippedAndTheDisplayCopyStaysApart)
{
    // The canvas (0x725C0000) ends where the display copy (0x74B80000) begins: 0x25C0000
    // bytes. 3840 x 4320 gives a 7680-wide canvas (15360-byte lines), 7680 x 2160 a
    // 15360-wide one (30720-byte lines).
    struct Screen {
        int w, h, canvasW, lines;
    };
    for (const Screen& s : {Screen{3840, 4320, 7680, 2577}, Screen{7680, 2160, 15360, 1288}}) {
        m.kelApi_PnlInit2(s.w, s.h, s.w, s.h, 0);
        m.load_char();
        ASSERT_EQ(m.PS_BG_HACT, s.canvasW) << s.w;
        m.PM_OSD_DATA_MODE = 1;
        // Only 320 lines go to the display copy, so a canvas that overran into it shows.
        std::fill(std::begin(m.PM_OSD_INPUT_OFFSET), std::end(m.PM_OSD_INPUT_OFFSET), 0);
        m.PM_OSD_INPUT_OFFSET[3] = m.PS_BG_VACT - 320;
        const uint32_t probe = 0x74B80000 + 21504000;
        sim::ScalerOsdModel::setMemory(probe, {0xA5});
        testing::internal::CaptureStdout();
        m.update_osd(fd);
        const std::string out = testing::internal::GetCapturedStdout();
        EXPECT_EQ(sim::ScalerOsdModel::memory(probe, 1)[0], 0xA5) << s.w;
        EXPECT_NE(out.find("clipped to " + std::to_string(s.lines) + " lines"), std::string::npos) << out;
        EXPECT_EQ(m.PS_BG_VACT, s.lines);
        const uint32_t lastLine = 0x725C0000 + uint32_t(2 * s.canvasW) * uint32_t(s.lines - 1);
        EXPECT_EQ(sim::ScalerOsdModel::memory(lastLine, 1)[0], 1) << s.w;   // the background
    }
}

TEST_F(OsdEngine, FrameWaitsOfARedrawDoNotHoldTheFlash)
{
    // The chip stops taking output updates: the redraw waits for one, a poll a millisecond.
    // A PC flash command during that wait is served at once. On the real clock the wait
    // lasts until the test lets the update come (or the redraw's own 70 s bound, which
    // fails the test): on the virtual clock its polls could all be spent before the test
    // looked.
    m.PM_OSD_DATA_MODE = 1;
    m.PS_BG_HACT = 64;
    m.PS_BG_VACT = 4;
    sim::SimBoard::setRecording(false);
    sim::SimBoard::useVirtualClock(false);
    sim::ScalerModel::withholdDoneBits(0, 0x01);
    std::atomic<bool> redrawing{true};
    std::thread scaler([&] {
        m.update_osd(fd);
        redrawing = false;
    });
    const uint8_t byte = 0x5A;
    while (sim::ScalerModel::reg(5, 0x09) != 0x01 && redrawing)
        std::this_thread::yield();   // inside the first wait
    EXPECT_EQ(m.write_flash(fd, 0x1000, 1, &byte), 0);
    const bool servedDuringRedraw = redrawing;
    sim::ScalerModel::withholdDoneBits(0, 0);   // the update comes: the redraw goes on
    sim::ScalerModel::setReg(5, 0x23, 0x01);
    scaler.join();
    EXPECT_EQ(std::make_pair(servedDuringRedraw, int(sim::ScalerFlashModel::read(0x1000, 1)[0])), std::make_pair(true, 0x5A));
}

TEST_F(OsdEngine, FontReloadsOnAPcLinkShareTheFontTableAndRegisterImageSafely)
{
    // The PC link reloads the fonts while the scaler thread lays out the overlay and the PC
    // reads the register image under the block's lock; run under the thread checker.
    sim::SimBoard::setRecording(false);
    sim::ScalerFlashModel::write(0x000000, {'P'});
    std::thread pc([this] {
        for (int i = 0; i < 20; ++i) {
            m.read_c331_font(fd);
            m.update_font(fd);
        }
    });
    setLines({{'A'}});
    for (int i = 0; i < 20; ++i) {
        m.load_char();
        m.gen_char(fd);
        std::unique_lock<std::mutex> block = KelRamPara::lock_block();
        para.reg_image[44] = uint8_t(para.reg_image[43] + 1);
    }
    pc.join();
    EXPECT_EQ((std::vector<uint32_t>{uint32_t(para.reg_image[43] & 0x03), m.g_font_addr_32CHN}), (std::vector<uint32_t>{0x01, 0x7F003000u}));   // 32-dot ASCII present, CJK not
}

TEST_F(OsdEngine, WindowAndScrollRegistersOfEachChannel)
{
    // Two channels of 1920 x 1080 side by side, active area from (200, 40); a 3840 x 1080
    // canvas cropped 10 left and 20 right, shown 100 in, 200 short of the right edge, 50
    // down and 30 short of the bottom.
    m.PS_PANEL_HSHAPE = 2;
    m.PS_PANEL_VSHAPE = 1;
    m.PS_ACTHW = 1920;
    m.PS_ACTVW = 1080;
    m.PS_ACTHST = 200;
    m.PS_ACTVST = 40;
    m.PS_PANEL_HW = m.PS_BG_HACT = 3840;
    m.PS_PANEL_VW = m.PS_BG_VACT = 1080;
    m.PM_OSD_DATA_MODE = m.PM_OSD_EN = 1;
    const int32_t out[4] = {100, 200, 50, 30}, in[4] = {10, 20, 0, 0};
    std::copy(out, out + 4, m.PM_OSD_OUTPUT_OFFSET);
    std::copy(in, in + 4, m.PM_OSD_INPUT_OFFSET);
    m.g_osd_mwi = 60;
    m.g_osd_mwi_shift = 0;
    m.PM_OSD_SCROLL_SPEED = 7;
    m.PM_OSD_SCROLL_MODE = 2;

    sim::ScalerModel::clearFrames();
    m.set_osd(fd, 0);
    // Start = active start + tile start - 4 across, + 1 down; source from the crop origin.
    EXPECT_EQ(kel_test::chipWrites(),
              kel_test::bytesOf({{9, 0x12, 2, 296},  {9, 0x14, 2, 1820},  {9, 0x16, 2, 91},  {9, 0x18, 2, 1000},
                                 {9, 0x1A, 4, 0x725C000A},   {9, 0x1E, 1, 60},  {9, 0x08, 2, 0x4003},
                                 {25, 0x12, 2, 196}, {25, 0x14, 2, 1720}, {25, 0x16, 2, 91}, {25, 0x18, 2, 1000},
                                 {25, 0x1A, 4, 0x725C000A + 1820}, {25, 0x1E, 1, 60}, {25, 0x08, 2, 0x4003}}));

    sim::ScalerModel::clearFrames();
    m.set_scroll(fd);
    // Speed 0x3D, width 0x40 (canvas less the crop), height 0x42 (the window's), stopped,
    // then again with the mode: ((2 - 1) x 16) | 0x81.
    std::vector<kel_test::ChipByte> expected;
    for (uint32_t control : {0u, 0x91u})
        for (int bank : {9, 25}) {
            const auto ch = kel_test::bytesOf(
                {{bank, 0x3D, 1, 7}, {bank, 0x40, 2, 3810}, {bank, 0x42, 2, 1000}, {bank, 0x3C, 1, control}});
            expected.insert(expected.end(), ch.begin(), ch.end());
        }
    EXPECT_EQ(kel_test::chipWrites(), expected);
}
