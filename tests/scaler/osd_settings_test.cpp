// OSD settings and the overlay file: numbered settings, text lines, the file's fields as the
// engine receives them, and files that are broken in every way.
#include "scaler/omenu.h"
#include "tests/scaler/osd_fixture.h"
#include "tests/support/OmenuFile.h"

using osd_test::OsdFixture;
using OsdSettings = OsdFixture;

namespace {
using V = std::vector<int>;
const char* const kFile = "/data/configs/omenu.json";
} // namespace

TEST_F(OsdSettings, NumberedSettingsAndTheirRemainders)
{
    // Unknown numbers change nothing and ask for nothing.
    m.PM_OSD_SCROLL_MODE = 5;
    EXPECT_EQ((V{m.kelApi_OsdSet(23, 5), m.kelApi_OsdSet(49, 1), m.PM_OSD_SCROLL_MODE, m.osd_relayout_request}),
              (V{0, 0, 5, 0}));
    EXPECT_EQ((V{m.kelApi_OsdSet(4, 10), m.PM_OSD_SCROLL_MODE, m.osd_relayout_request}), (V{1, 1, 1}));
    m.kelApi_OsdSet(13, 300);
    m.kelApi_OsdSet(0, 7);
    m.kelApi_OsdSet(32, 0x40);
    EXPECT_EQ((V{m.PM_OSD_SCROLL_SPEED, m.PM_OSD_EN, m.osd_redraw_request, m.osd_relayout_request}), (V{44, 1, 1, 0}));
    // Window margins: 5 adds the port offset (word 1382), 6 and 8 count from the far edge.
    KelRamPara::put16(para.ram + 1382, 10);
    m.kelApi_OsdSet(5, 100);
    m.kelApi_OsdSet(6, 1000);
    m.kelApi_OsdSet(7, 50);
    m.kelApi_OsdSet(8, 500);
    const int32_t* out = m.PM_OSD_OUTPUT_OFFSET;
    EXPECT_EQ((V{out[0], out[1], out[3]}), (V{110, 7680 - 1000 - 110, 2160 - 500 - 50}));
}

TEST_F(OsdSettings, LinesAreCappedAndAlignmentFollowsTheCounts)
{
    std::vector<std::vector<uint32_t>> lines(65, std::vector<uint32_t>{'x'});
    setLines(lines);
    const int of65 = m.g_unicode_line;
    lines.pop_back();
    setLines(lines);
    EXPECT_EQ((V{of65, m.g_unicode_line}), (V{64, 64}));

    // 32-dot characters: setting 10 leaves the canvas and its crop alone.
    m.PM_OSD_CHAR_64DOT = 0;
    m.PM_OSD_INPUT_OFFSET[1] = 7;
    m.kelApi_OsdSet(10, 100);
    EXPECT_EQ((V{m.PS_BG_HACT, m.PM_OSD_INPUT_OFFSET[1]}), (V{7680, 7}));

    // 64 lines of 64-dot text do not fit 2160 lines: bottom alignment gives 0.
    m.PM_OSD_CHAR_64DOT = 1;
    m.kelApi_OsdSet(35, 2);
    EXPECT_EQ(m.g_osd_v_alignment_value_velin, 0);

    // "AB" + CJK on a 201-wide window, 64-dot without zoom: 32 + 32 + 64 = 128 used.
    setLines({{'A', 'B', 0x4E2D}});
    m.g_unicode_line = 1;
    m.g_osd_line_num[0] = 3, m.g_osd_line_en[0] = 2, m.g_osd_line_cn[0] = 1;
    m.PM_OSD_OUTPUT_OFFSET[0] = 0;
    m.PM_OSD_OUTPUT_OFFSET[1] = 7680 - 201;
    // Centred, right-aligned, justified: the line's start, then its margin and remainder.
    for (auto [align, x] : {std::pair{1, 36}, {2, 73}, {3, 0}}) {
        m.kelApi_OsdSet(34, align);
        EXPECT_EQ(m.g_osd_max_line_x_velin[0], x) << align;
    }
    EXPECT_EQ((V{m.g_osd_hmargin_velin[0], m.g_osd_remainder[0]}), (V{36, 1}));
    m.PM_OSD_OUTPUT_OFFSET[2] = m.PM_OSD_OUTPUT_OFFSET[3] = 0;
    m.kelApi_OsdSet(35, 1);
    EXPECT_EQ(m.g_osd_v_alignment_value_velin, (2160 - 64) / 2);
}

TEST_F(OsdSettings, TheOverlayFileReachesTheEngine)
{
    kel_test::OmenuItem item;
    item.fontColor = "0xFF8000";
    item.backColor = "102030";
    item.effect = 1;
    item.speed = 30;
    item.backEnable = "OFF";
    item.layer = "buttom";
    item.hAlign = "center";
    item.text = std::string(69, '\n') + "last";
    root.writeFile(kFile, kel_test::omenuJson(item, 1, 4));   // four items: the fourth ignored
    OSD_LIST list;
    get_json_omenu_para(kFile, &list);
    ASSERT_EQ(std::make_pair(list.item[0].osdcount, list.item[2].texts), std::make_pair(1, item.text));
    set_OSD_para(&list.item[0]);
    // 0xRRGGBB becomes 0xBBGGRR; "OFF" is not "off"; speed 300 is 44 (modulo 256); of 70
    // lines the last six are dropped.
    EXPECT_EQ((std::vector<unsigned>{m.PS_CHAR_COLOR, m.PS_BG_COLOR, unsigned(m.PS_BG_TRANS), unsigned(m.PM_OSD_SCROLL_MODE),
                                     unsigned(m.PM_OSD_SCROLL_SPEED), unsigned(m.g_osd_layer_bottom), unsigned(m.g_osd_h_alignment_velin),
                                     unsigned(m.g_unicode_line), unsigned(m.PM_OSD_EN)}),
              (std::vector<unsigned>{0x0080FF, 0x302010, 0, 3, 44, 1, 1, 64, 1}));

    // Sizes: 32, 64, 128, 256 square; another pair sends only the 64-dot switch.
    struct Size {
        int w, h, hzoom, vzoom, dot64, twice;
    };
    for (const Size& s : {Size{32, 32, 0, 0, 0, 0}, Size{64, 64, 0, 0, 1, 0}, Size{128, 128, 1, 1, 1, 0},
                          Size{256, 256, 1, 1, 1, 1}, Size{64, 32, 1, 1, 0, 1}}) {
        OMENU_PARA p = list.item[0];
        p.fontw = s.w, p.fonth = s.h;
        p.backpara_enable = "off";
        p.effect = 5;
        p.texts = "a\n";
        m.PM_OSD_SCROLL_MODE = 6;
        set_OSD_para(&p);
        // Effect 5 leaves the scroll alone; a trailing "\n" gives an empty last line.
        EXPECT_EQ((V{m.PM_OSD_HZOOM_EN, m.PM_OSD_VZOOM_EN, m.PM_OSD_CHAR_64DOT, m.PM_OSD_CHAR_DOUBLE, m.PS_BG_TRANS,
                     m.PM_OSD_SCROLL_MODE, m.g_unicode_line}),
                  (V{s.hzoom, s.vzoom, s.dot64, s.twice, 1, 6, 2}))
            << s.w << "x" << s.h;
    }

    // Effects 0 to 4 are the scroll modes 0, 3, 4, 1, 2.
    V scroll;
    for (int effect = 0; effect < 5; ++effect) {
        OMENU_PARA p = list.item[0];
        p.effect = effect;
        set_OSD_para(&p);
        scroll.push_back(m.PM_OSD_SCROLL_MODE);
    }
    EXPECT_EQ(scroll, (V{0, 3, 4, 1, 2}));

    // osdcount 0: nothing beyond the counts is read.
    OSD_LIST other;
    root.writeFile(kFile, kel_test::omenuJson(item, 0));
    get_json_omenu_para(kFile, &other);
    EXPECT_EQ(std::make_pair(other.item[0].osdcount, other.item[0].texts), std::make_pair(0, std::string()));
}

TEST_F(OsdSettings, BrokenFilesApplyNothingAndOnlyTheOverlayFileIsDeleted)
{
    const std::string good = kel_test::omenuJson(kel_test::OmenuItem());
    std::vector<std::string> broken = {"{\"name\": ", good.substr(0, good.size() / 2)};
    for (const char* key : {"\"fontpara\"", "\"texts\"", "\"osdcount\"", "\"status\""}) {
        std::string s = good;
        s.replace(s.find(key), std::string(key).size(), "\"renamed\"");
        broken.push_back(s);
    }
    std::string wrongType = good;
    wrongType.replace(wrongType.find("\"x\":0"), 5, "\"x\":\"left\"");
    broken.push_back(wrongType);
    std::string notArray = good;
    notArray.replace(notArray.find("[\"AB\"]"), 6, "\"AB\"");
    broken.push_back(notArray);
    // Valid JSON nested 100,000 deep, as a PC may upload it: read at every start, it must be
    // refused before the parser recurses, never overflow the stack.
    broken.push_back(std::string(100000, '[') + std::string(100000, ']'));
    // Every prefix of a good file, too.
    for (size_t n = 0; n < good.size(); n += 7)
        broken.push_back(good.substr(0, n));

    for (const std::string& text : broken) {
        OSD_LIST list;
        list.item[0].texts = "kept";
        root.writeFile(kFile, text);
        root.writeFile("/data/modes/MO01.json", text);
        get_json_omenu_para(kFile, &list);
        const auto overlay = std::make_tuple(list.item[0].osdcount, list.item[0].texts, root.exists(kFile));
        get_json_omenu_para("/data/modes/MO01.json", &list);
        EXPECT_EQ(std::make_tuple(overlay, list.item[0].osdcount, root.exists("/data/modes/MO01.json")),
                  std::make_tuple(std::make_tuple(0, std::string("kept"), false), 0, true))
            << text.substr(0, 80);
    }
}

TEST_F(OsdSettings, WithLargeCharactersTheCanvasGrowsToTheWidestLine)
{
    m.PM_OSD_CHAR_64DOT = 1;
    m.g_unicode_line = 2;
    m.g_osd_line_en[0] = 100, m.g_osd_line_cn[0] = 50;   // 6400 wide: fits
    m.g_osd_line_en[1] = 10, m.g_osd_line_cn[1] = 10;
    m.kelApi_OsdSet(10, 1000);
    EXPECT_EQ((V{m.PS_BG_HACT, m.PM_OSD_INPUT_OFFSET[1]}), (V{7680, 7680 - 1000}));
    m.g_osd_line_en[1] = m.g_osd_line_cn[1] = 100;   // 9600 wide: the canvas grows, to 8191 at most
    m.kelApi_OsdSet(10, 1000);
    EXPECT_EQ((V{m.PS_BG_HACT, m.PM_OSD_INPUT_OFFSET[1]}), (V{8191, 0}));
}
