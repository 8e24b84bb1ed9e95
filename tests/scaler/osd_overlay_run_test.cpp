// The whole road of an overlay text: the file in the data root, the scaler thread's start-up
// with the overlay on, the fonts from the serial flash, and the drawing engine's pixels in
// the chip memory that the OSD windows show.
#include "tests/scaler/osd_fixture.h"
#include "tests/support/OmenuFile.h"

namespace {
class OsdOverlayRun : public osd_test::OsdFixture {
protected:
    // This overlay file, the overlay on, a 3840 x 2160 screen; the block saved so.
    void overlayOn(const kel_test::OmenuItem& item)
    {
        root.writeFile("/data/configs/omenu.json", kel_test::omenuJson(item));
        for (auto [off, v] : {std::pair{2124, 1}, {1382, 0}, {1378, 3840}, {1380, 2160}})
            setWord(off, uint16_t(v));
        std::copy(std::begin(para.ram), std::end(para.ram), std::begin(para.ram_backup));
    }
};
} // namespace

TEST_F(OsdOverlayRun, TextFromTheOverlayFileIsDrawnIntoTheChipMemory)
{
    // A 64-dot ASCII font whose 'A' has a full top row and one pixel on the next.
    sim::ScalerFlashModel::write(0x410000, {'P'});
    std::vector<uint8_t> glyph(512, 0);
    for (int i = 0; i < 4; ++i)
        glyph[i] = 0xFF;
    glyph[8] = 0x01;
    sim::ScalerFlashModel::write(0x410023 + ('A' - 0x20) * 512, glyph);

    kel_test::OmenuItem item;
    item.text = "A";
    item.backColor = "0x102030";
    item.fontColor = "0xFF8000";
    overlayOn(item);

    for (int pass = 0; pass < 9 && m.c331_stage < 8; ++pass)
        m.c331manage_pass();
    ASSERT_EQ(m.c331_stage, 8);
    const int fonts = para.reg_image[43] & 0x54;
    m.c331manage_pass();                          // the redraw
    EXPECT_EQ((std::vector<int>{fonts, m.osd_redraw_request}), (std::vector<int>{0x54, 0}));   // the 64-dot ASCII font was found

    const uint32_t pitch = 15360;   // a 7680-wide canvas: 120 units of 128 bytes
    std::vector<uint8_t> row0(33, 2), row1(33, 1);
    row0[32] = 1;
    row1[0] = 2;
    // The canvas, then the display copy holding the 1920 x 1080 window two by two.
    for (uint32_t at : {0x725C0000u, 0x74B80000u, 0x74B80000u + 1920, 0x74B80000u + pitch * 1080, 0x74B80000u + pitch * 1080 + 1920})
        EXPECT_EQ(std::make_pair(sim::ScalerOsdModel::memory(at, 33), sim::ScalerOsdModel::memory(at + pitch, 33)), std::make_pair(row0, row1)) << at;
    // Background and character colours in palette entries 1 and 2: red, green, blue.
    EXPECT_EQ(sim::ScalerOsdModel::palette(1, 2), (std::vector<uint8_t>{0x10, 0x20, 0x30, 0xFF, 0x80, 0x00}));
    // Channel 0's OSD window shows the display copy, text mode, 512-byte pitch units.
    EXPECT_EQ((std::vector<unsigned>{reg(9, 0x1A, 4), reg(9, 0x08, 2), reg(9, 0x14, 2), reg(9, 0x18, 2)}),
              (std::vector<unsigned>{0x74B80000, 0x6003, 1920, 1080}));
}

TEST_F(OsdOverlayRun, PositionsFromTheFileStayOnTheScreenAndOffTheFonts)
{
    // 3840 x 2160 with "h": 6000, "x": 9000 and "starty": 60000: the window and the text are
    // kept on the screen, and the display copy never reaches the 32-dot ASCII font at
    // 0x7F000000.
    const std::vector<uint8_t> font(0x3000, 0x6C);
    sim::ScalerFlashModel::write(0x23, font);
    kel_test::OmenuItem item;
    item.x = 9000;
    item.h = 6000;
    item.starty = 60000;
    overlayOn(item);
    for (int pass = 0; pass < 10 && (m.c331_stage < 8 || m.osd_redraw_request); ++pass)
        m.c331manage_pass();
    ASSERT_EQ(m.c331_stage, 8);
    EXPECT_EQ(std::make_pair(int(m.osd_redraw_request), sim::ScalerOsdModel::memory(0x7F000000, 0x3000)), std::make_pair(0, font));
    // x at the right edge, width 0; h brought to the screen's height, and the text origin.
    EXPECT_EQ((std::vector<int>{m.PM_OSD_OUTPUT_OFFSET[0], m.OSD_WIN.HW, m.OSD_WIN.VW, m.PS_CHAR_VST}),
              (std::vector<int>{3840, 0, 2160, 2160}));
}

// Overlay files reloaded one after another, with items of every type, as a running device
// reloads them (the PC sends a file, then switches the overlay on through the apply step):
// what the screen shows is the new file's, nothing of the one before. An item of a type the
// engine does not draw keeps only its type and status: no text, no window.
TEST_F(OsdOverlayRun, AReloadShowsNothingOfThePreviousFile)
{
    sim::ScalerFlashModel::write(0x410000, {'P'});   // a 64-dot ASCII font: each glyph's top row full
    for (char c : {'A', 'B'}) {
        std::vector<uint8_t> glyph(512, 0);
        std::fill_n(glyph.begin(), 4, 0xFF);
        sim::ScalerFlashModel::write(0x410023 + (c - 0x20) * 512, glyph);
    }
    kel_test::OmenuItem item;
    item.text = "A";
    overlayOn(item);
    for (int pass = 0; pass < 9 && m.c331_stage < 8; ++pass)
        m.c331manage_pass();
    ASSERT_EQ(m.c331_stage, 8);
    auto reload = [&](const kel_test::OmenuItem& file) {
        for (int word : {0, 1}) {
            if (word)
                root.writeFile("/data/configs/omenu.json", kel_test::omenuJson(file));
            setWord(2124, uint16_t(word));
            m.raise_apply_flag(1);
            m.c331manage_pass();
            m.c331manage_pass();   // the redraw
        }
    };
    // Character pixels (palette entry 2) on the canvas's first row, where the text starts.
    auto text = [] {
        const auto row = sim::ScalerOsdModel::memory(0x725C0000u, 256);
        return std::count(row.begin(), row.end(), uint8_t(2));
    };
    kel_test::OmenuItem origin;   // where a window at 0, 0 starts on channel 0
    origin.w = 800, origin.h = 400;
    reload(origin);
    const unsigned x0 = reg(9, 0x12, 2), y0 = reg(9, 0x16, 2);
    for (int before : {0, 1, 2, 7})
        for (int type : {0, 1, 2, 7}) {
            kel_test::OmenuItem first, then;
            first.type = before, first.text = "AAAA", first.x = 40, first.y = 20, first.w = 900, first.h = 500;
            then.type = type, then.text = "B", then.x = 100, then.y = 60, then.w = 800, then.h = 400;
            reload(first);
            reload(then);
            // A text item: its one character, in its window on channel 0; a bitmap item draws no
            // character where its file places it; an item of another type draws nothing and has no
            // window.
            const bool placed = type == 0 || type == 1;
            const unsigned chars = type == 0 ? 32 : 0, w = type == 0 ? 800 : type == 1 ? reg(9, 0x14, 2) : 0,
                           h = type == 0 ? 400 : type == 1 ? reg(9, 0x18, 2) : 0;
            EXPECT_EQ((std::vector<unsigned>{unsigned(text()), reg(9, 0x12, 2), reg(9, 0x16, 2), reg(9, 0x14, 2), reg(9, 0x18, 2)}),
                      (std::vector<unsigned>{chars, x0 + (placed ? 100 : 0), y0 + (placed ? 60 : 0), w, h}))
                << "type " << type << " after type " << before;
        }
}
