// The window table from the block, preset layouts, input-channel allocation, window
// geometry, output-channel allocation and crops.
#include "tests/support/ScalerHarness.h"

namespace {

class ScalerWindows : public kel_test::ScalerHarness {
protected:
    // A panel of 1920 x 1080 cells in the given arrangement.
    void grid(int arrangement, int cols, int rows, int oneOch = 0)
    {
        m.pnl = ST_PANEL();
        m.pnl.arrang = arrangement;
        m.pnl.ochW = 1920;
        m.pnl.ochH = 1080;
        m.pnl.och_HCnt = uint8_t(cols);
        m.pnl.och_VCnt = uint8_t(rows);
        m.pnl.oneOch = oneOch;
    }
    void place(int w, int x, int y, int width, int height)
    {
        m.gWininfo[w] = ST_WIN_INFO();
        m.gWininfo[w].x = int16_t(x);
        m.gWininfo[w].y = int16_t(y);
        m.gWininfo[w].width = int16_t(width);
        m.gWininfo[w].height = int16_t(height);
    }
    using V = std::vector<int>;
    std::vector<int> list(int w)
    {
        std::vector<int> l;
        for (int i = 0; i < m.gWininfo[w].totalh * m.gWininfo[w].totalv; ++i)
            l.push_back(m.gWininfo[w].ochLst[i]);
        return l;
    }
    using Rects = std::vector<std::vector<int>>;
    Rects rects(int preset, int count)
    {
        Rects out;
        for (int i = 0; i < count; ++i) {
            const ST_MWIN_RECT& r = m.mwin_rect[preset - 1][i];
            out.push_back({r.x, r.y, r.width, r.height});
        }
        return out;
    }
    void active(int w, int port, int dbd = 0)
    {
        m.PM_WIN_SHAPE[w][0] = m.PM_WIN_SHAPE[w][1] = 1;
        m.PM_INPUT[w] = port;
        m.PM_WIN_DBD_MODE[w] = dbd;
        m.g_chg_dbd[w] = 1;
    }
};

} // namespace

TEST_F(ScalerWindows, WindowTableFromTheBlock)
{
    m.kelApi_PnlInit2(1920, 1080, 1920, 1080, 0);
    // The default block: window 0, full screen, source 1.
    EXPECT_EQ((V{m.wincnt, m.gWininfo[0].width, m.PM_INPUT[0]}), (V{1, 1920, 1}));

    // Three windows: priorities 3, 3 and 7 become layers 3, 0 (lowest free) and 1 (7 mod 6).
    setWindow(1, 0x8003, 0, 0, 960, 540);   // crop record 3
    para.ram[1472 + 30] = 2;                 // its source: 2
    setWindow(2, 0x8000 | 45, 960, 540, 960, 540);   // crop index 45: crop off
    setWord(2208, 3);
    setWord(2210, 3);
    setWord(2212, 7);
    setWord(window(1, 18), 0x0100);
    setWord(window(1, 22), 7);               // DBD quadrants
    setWord(window(2, 18), 0x0106);          // freeze, fade, DBD word 12 out of range
    setWord(window(2, 22), 12);
    m.kelApi_initEnvC331();
    ASSERT_EQ(m.wincnt, 3);
    const auto& g = m.gWininfo;
    EXPECT_EQ((V{g[0].layer, g[1].layer, g[2].layer, g[1].cropEn, g[1].crop, g[1].input, g[2].cropEn}),
              (V{3, 0, 1, 1, 3, 2, 0}));
    const int32_t* dbd = m.PM_WIN_DBD_MODE;
    EXPECT_EQ((V{dbd[0], dbd[1], dbd[2], g[2].blackfreeze, m.PM_WIN_FADE_EN[2]}),
              (V{0, 41, 1, 2, 1}));
    // Flags 0x0100 (enabled byte 0) count the window in and are no range failure.
    // The enabled byte is the low byte alone.
    for (const auto& [flags, enable] : {std::pair{0x0100, 0}, {0x0101, 1}}) {
        setWord(window(2, 0), uint16_t(flags));
        m.kelApi_initEnvC331();
        EXPECT_EQ((V{m.wincnt, g[2].x, g[2].enable}), (V{3, 960, enable})) << flags;
    }

    // A window 10 pixels wider than the panel: the whole table becomes the default layout.
    setWindow(2, 0, 970, 0, 960, 540);
    m.kelApi_initEnvC331();
    EXPECT_EQ((V{m.wincnt, g[0].x, g[0].y, g[0].width, g[0].height}), (V{1, 0, 0, 1920, 1080}));
    // No window enabled: the default layout as well.
    for (int w = 0; w < 6; ++w)
        setWord(window(w, 0), 0);
    m.wincnt = 0;
    m.kelApi_initEnvC331();
    EXPECT_EQ(m.wincnt, 1);
}

TEST_F(ScalerWindows, PresetLayoutsByArrangement)
{
    // L x Lh = 7680 x 1080, W x H = 1920 x 1080.
    m.pnl.ledW = 7680;
    m.pnl.ledH = 1080;
    m.pnl.ochW = 1920;
    m.pnl.ochH = 1080;
    struct Case {
        int arrang, preset;
        Rects r;
    };
    const Rects row = {{0, 0, 1920, 1080},    {1920, 0, 1920, 1080}, {3840, 0, 1920, 1080},
                       {5760, 0, 1920, 1080}, {7680, 0, 1920, 1080}, {9600, 0, 1920, 1080}};
    const Rects pairs = {{0, 0, 1920, 1080},    {1920, 0, 1920, 1080},    {0, 1080, 1920, 1080},
                         {1920, 1080, 1920, 1080}, {0, 2160, 1920, 1080}, {1920, 2160, 1920, 1080}};
    const Rects column = {{0, 0, 1920, 1080},    {0, 1080, 1920, 1080}, {0, 2160, 1920, 1080},
                          {0, 3240, 1920, 1080}, {0, 4320, 1920, 1080}, {0, 5400, 1920, 1080}};
    const Rects fourAndTwo = {{0, 0, 1920, 1080},    {1920, 0, 1920, 1080}, {3840, 0, 1920, 1080},
                              {5760, 0, 1920, 1080}, {0, 1080, 1920, 1080}, {1920, 1080, 1920, 1080}};
    const Case cases[] = {
        {0, 1, {{0, 0, 7680, 1080}}},
        {0, 2, {{0, 0, 3840, 1080}, {3840, 0, 3840, 1080}}},
        {1, 2, {{0, 0, 3840, 1080}, {3840, 0, 3840, 1080}}},
        {0, 3, {{0, 0, 1600, 900}, {1600, 0, 3800, 2160}, {5400, 0, 1024, 768}}},
        {0, 4, {{0, 0, 7680, 540}, {0, 540, 6400, 540}, {6400, 540, 1280, 540}}},
        {0, 5, Rects(row.begin(), row.begin() + 4)},
        {1, 5, Rects(fourAndTwo.begin(), fourAndTwo.begin() + 4)},
        {10, 5, Rects(column.begin(), column.begin() + 4)},
        {11, 5, Rects(pairs.begin(), pairs.begin() + 4)},
        {0, 6, Rects(row.begin(), row.begin() + 4)},
        {10, 6, {{0, 0, 1920, 680}, {0, 680, 1920, 1480}, {0, 2560, 1920, 1080}, {0, 3640, 1920, 680}}},
        {11, 6, Rects(pairs.begin(), pairs.begin() + 4)},
        {0, 7, {{0, 0, 3840, 540}, {0, 540, 3840, 540}, {3840, 0, 3840, 360}, {3840, 360, 3840, 360},
                {3840, 720, 3840, 360}}},
        {0, 8, {{0, 0, 3840, 540}, {3840, 0, 3840, 540}, {0, 540, 2560, 540}, {2560, 540, 2560, 540},
                {5120, 540, 2560, 540}}},
        {0, 9, row},
        {1, 9, fourAndTwo},
        {10, 9, column},
        {18, 9, pairs},
        {0, 10, row},
        {1, 10, fourAndTwo},
        {9, 10, {{0, 0, 1920, 1080}, {960, 0, 1920, 1080}, {3840, 0, 860, 1080}, {4800, 0, 860, 1080},
                 {5760, 0, 1920, 440}, {5760, 540, 1920, 540}}},
        {11, 10, {{0, 0, 1920, 1080}, {1620, 0, 1920, 1080}, {100, 1180, 760, 880}, {960, 1180, 860, 880},
                  {2020, 1280, 1720, 340}, {2020, 1720, 1720, 440}}},
    };
    for (const Case& c : cases) {
        m.pnl.arrang = c.arrang;
        m.kelApi_MultiWinInit();
        EXPECT_EQ(rects(c.preset, int(c.r.size())), c.r) << "preset " << c.preset << " arrangement " << c.arrang;
    }

    // Preset 2 is left alone above arrangement 1; preset 10 at arrangement 10 needs a
    // 2048 x 8640 screen.
    for (auto& row : m.mwin_rect)
        for (auto& r : row)
            r = ST_MWIN_RECT{0, 0, 0, 0};
    m.pnl.arrang = 10;
    m.pnl.ledW = 2048;
    m.pnl.ledH = 8000;
    m.kelApi_MultiWinInit();
    EXPECT_EQ(std::make_pair(rects(2, 2), rects(10, 6)), std::make_pair(Rects(2, {0, 0, 0, 0}), Rects(6, {0, 0, 0, 0})));
    m.pnl.ledH = 8640;
    m.pnl.ochW = 2048;
    m.pnl.ochH = 2160;
    m.kelApi_MultiWinInit();
    EXPECT_EQ(rects(10, 6), (Rects{{0, 0, 2048, 2160}, {0, 1080, 2048, 3240}, {0, 4320, 2048, 980},
                                      {0, 5400, 2048, 1080}, {0, 6480, 924, 1080}, {1024, 6480, 1024, 1080}}));
}

TEST_F(ScalerWindows, InputChannelDemandAndMoves)
{
    // Joined inputs: 2 channels for modes up to 29, 3 up to 39, 4 up to 51; above, none.
    for (auto [mode, need] : {std::pair{21, 2}, {29, 2}, {30, 3}, {39, 3}, {40, 4}, {51, 4}, {52, 0}}) {
        for (int w = 0; w < 6; ++w)
            m.PM_WIN_SHAPE[w][0] = m.PM_WIN_SHAPE[w][1] = 0;
        std::fill(std::begin(m.ich_owner), std::end(m.ich_owner), -1);
        active(0, 0, mode);
        EXPECT_EQ((V{m.set_input(0, 0), int(std::count(std::begin(m.ich_owner), std::end(m.ich_owner), 0))}), (V{need ? 0 : 2, need})) << mode;
    }

    // A V-by-One window when only channels 0 and 2 are free: the owner of channel 1 moves
    // to 2 and is re-applied; the pair 0-1 goes to the new window.
    for (int w = 0; w < 6; ++w)
        m.PM_WIN_SHAPE[w][0] = m.PM_WIN_SHAPE[w][1] = 0;
    const int owners[8] = {-1, 1, -1, 2, 3, 3, 4, 4};
    for (int c = 0; c < 8; ++c)
        m.ich_owner[c] = owners[c];
    for (const auto& [w, port] : {std::pair{1, 0}, {2, 1}, {3, 4}, {4, 5}, {0, 5}})
        active(w, port);
    m.g_chg_input[1] = 0;
    EXPECT_EQ(m.set_input(0, 5), 1);
    EXPECT_EQ((V{m.ich_owner[0], m.ich_owner[1], m.ich_owner[2], m.g_chg_input[1], m.ich_list[0][0], m.ich_list[0][1], m.ich_list[0][2]}),
              (V{0, 0, 1, 2, 0, 1, -1}));

    // A single channel goes next to a used one, so whole pairs stay free: (channels in
    // use, interlaced port) -> channel found.
    struct Pick {
        unsigned used;
        int interlaced, ich;
    } picks[] = {{0x00, 0, 0}, {0x04, 0, 3}, {0x01, 0, 1}, {0x03, 0, 2}, {0x05, 0, 1}, {0x07, 0, 3},
                 {0x0F, 0, 4}, {0x0F, 1, -1}, {0x1F, 0, 5}, {0x4F, 0, 7}, {0x3F, 0, 6}, {0xFF, 0, -1}};
    for (const Pick& p : picks) {
        for (int c = 0; c < 8; ++c)
            m.ich_owner[c] = (p.used >> c) & 1 ? 5 : -1;
        EXPECT_EQ(m.check_ich(p.interlaced, 0), p.ich) << std::hex << p.used << " " << p.interlaced;
    }
    // A pair: the first of (4, 5), (6, 7), (2, 3), (0, 1) with both free.
    const std::pair<unsigned, int> pairs[] = {{0x00, 4}, {0x10, 6}, {0xF0, 2}, {0xF4, 0}, {0xFE, -1}};
    for (const auto& [used, ich] : pairs) {
        for (int c = 0; c < 8; ++c)
            m.ich_owner[c] = (used >> c) & 1 ? 5 : -1;
        EXPECT_EQ(m.check_ich(0, 1), ich) << std::hex << used;
    }
    // No free pair: the half-free pair (4, 5), else (6, 7), else (0, 1) is completed by moving
    // its occupant (window 1) to the first free of its targets; (2, 3) is never completed.
    struct Move {
        int before[8], after[8];
        bool moved;
    } const moves[] = {{{2, -1, 2, 2, 1, -1, 2, 2}, {2, 1, 2, 2, 0, 0, 2, 2}, true},
                       {{2, 2, -1, 2, 2, 2, -1, 1}, {2, 2, 1, 2, 2, 2, 0, 0}, true},
                       {{1, -1, 2, -1, 2, 2, 2, 2}, {0, 0, 2, 1, 2, 2, 2, 2}, true},
                       {{2, 2, -1, 2, 2, 2, 2, 2}, {2, 2, -1, 2, 2, 2, 2, 2}, false}};
    for (const Move& mv : moves) {
        std::copy(std::begin(mv.before), std::end(mv.before), std::begin(m.ich_owner));
        m.g_chg_input[1] = 0;
        const int result = m.adjust_ich(0, 1, 0);
        EXPECT_EQ(std::make_tuple(result, V(std::begin(m.ich_owner), std::end(m.ich_owner)), m.g_chg_input[1]),
                  std::make_tuple(mv.moved ? 0 : -1, V(std::begin(mv.after), std::end(mv.after)), mv.moved ? 2 : 0))
            << mv.before[0] << mv.before[1];
    }
    // An interlaced window finding ICH 0-3 taken: the first of them whose owner is not
    // interlaced (ICH 1, window 2) moves to the lowest free of ICH 4-7 and is re-applied.
    const int taken[8] = {1, 2, 3, 3, 4, -1, -1, -1};
    std::copy(std::begin(taken), std::end(taken), std::begin(m.ich_owner));
    m.PM_INPUT[1] = m.PM_INPUT[3] = 0;
    m.PM_INPUT[2] = 1;
    m.PI_PORT_INFO[0].IP = 1;
    m.PI_PORT_INFO[1].IP = 0;
    m.g_chg_input[2] = 0;
    EXPECT_EQ(m.adjust_ich(1, 0, 0), 0);
    EXPECT_EQ((V{m.ich_owner[1], m.ich_owner[5], m.g_chg_input[2]}), (V{0, 2, 2}));
}

TEST_F(ScalerWindows, ChannelSourceCodes)
{
    m.PI_HDMI_INFO[4].lane = 4;
    m.PI_HDMI_INFO[5].lane = 8;
    struct Case {
        int port, dbd;
        std::vector<unsigned> codes;
    };
    const Case cases[] = {{3, 0, {6}}, {5, 0, {12, 14}}, {4, 0, {8, 9}}, {0, 30, {0, 2, 4}}, {0, 50, {8, 9, 12, 14}}};
    for (const Case& c : cases) {
        for (int i = 0; i < 8; ++i)
            m.ich_list[1][i] = i < 4 ? 7 - i : -1;   // channels 7, 6, 5, 4 in list order
        m.PM_INPUT[1] = c.port;
        m.PM_WIN_DBD_MODE[1] = c.dbd;
        m.set_ichsel(m.c331_fd, 1);
        std::vector<unsigned> got;
        for (size_t i = 0; i < c.codes.size(); ++i)
            got.push_back(reg(0, 0x10 + 7 - int(i)));
        EXPECT_EQ(got, c.codes) << c.port << "/" << c.dbd;
    }
}

TEST_F(ScalerWindows, InputWindowOfJoinedPorts)
{
    m.PM_WIN_SHAPE[0][0] = m.PM_WIN_SHAPE[0][1] = 1;
    m.PM_INPUT[0] = 1;
    // (a crop and an interlaced port's lines are the picture check's)
    // Joined inputs: the joined size from the ports' sizes, from (0, 0).
    const int widths[6] = {100, 200, 400, 800, 1600, 3200};
    for (int q = 0; q < 6; ++q) {
        m.PI_ACT[q] = {7, widths[q], 5, widths[q] / 10};
        m.PI_PORT_INFO[q].STATE = 4;
        m.PI_PORT_INFO[q].IP = 0;
    }
    m.PM_INPUT[0] = 2;
    const int joined[][3] = {{1, 400, 40},    {20, 300, 10},  {21, 100, 30},  {22, 1200, 40},  {23, 400, 120},
                             {30, 700, 10},   {40, 1500, 10}, {41, 300, 50},  {50, 4800, 160}, {51, 1600, 480}};
    for (const auto& j : joined) {
        m.PM_WIN_DBD_MODE[0] = j[0];
        m.calc_iwin2(0);
        EXPECT_EQ((V{m.IWIN[0].HST, m.IWIN[0].HW, m.IWIN[0].VST, m.IWIN[0].VW}), (V{0, j[1], 0, j[2]})) << j[0];
    }
    m.PM_WIN_DBD_MODE[0] = 0;
    // No input (port 6) and an unknown one (255): no input window.
    for (int port : {6, 255}) {
        m.PM_INPUT[0] = port;
        m.calc_iwin2(0);
        EXPECT_EQ((V{m.IWIN[0].HW, m.IWIN[0].VW}), (V{0, 0})) << port;
    }
}

TEST_F(ScalerWindows, StitchingRoles)
{
    const int S[6] = {0, 0, 2, 3, 4, 5};   // window 1 follows window 0
    for (int w = 0; w < 6; ++w)
        m.PM_WIN_STITCHING[w] = S[w];
    // Window asked -> role, window, partner: the leader, the follower (named by its
    // leader) and a window on its own.
    for (auto [asked, role, win, partner] : {std::tuple{0, 1, 0, 1}, {1, 2, 0, 1}, {2, 0, 2, -1}}) {
        int w = asked, p = 0;
        EXPECT_EQ(m.check_stitching_win(&w, &p), role) << asked;
        EXPECT_EQ((V{w, p}), (V{win, partner})) << asked;
    }
    // A change of stitching re-lays the window out; the second change flag is consumed.
    for (int w = 0; w < 6; ++w)
        m.g_chg_shape[w] = m.g_chg_stitch[w][0] = m.g_chg_stitch[w][1] = 0;
    m.g_chg_stitch[0][1] = 1;
    m.g_chg_stitch[2][1] = 1;
    m.g_chg_stitch[3][0] = 1;
    m.check_stitching_chg();
    EXPECT_EQ((V{m.g_chg_shape[0], m.g_chg_shape[2], m.g_chg_shape[3], m.g_chg_shape[4], m.g_chg_stitch[2][1],
                 m.g_chg_stitch[3][0]}),
              (V{1, 1, 1, 0, 0, 1}));
}

TEST_F(ScalerWindows, OutputChannelAllocation)
{
    // (Which cells each window gets, and lent channels: ScalerMemory.EveryCellShowsThePictureItsWindowAsks.)
    // A window beyond every cell gets nothing, not the cells of the window before it.
    grid(5, 2, 1);
    m.wincnt = 2;
    place(0, 0, 0, 1920, 1080);
    place(1, 5000, 0, 100, 100);
    m.kelApi_MultiWinChAlloc(1);
    EXPECT_TRUE(list(1).empty());
    // The channels' enable bits follow their owners; the rebuild asks for an output update.
    grid(7, 2, 2);
    place(0, 0, 0, 1920, 2160);
    place(1, 1920, 0, 1000, 2160);
    m.kelApi_MultiWinChAlloc(1);
    m.wincnt = 1;
    m.kelApi_MultiWinChInit();
    EXPECT_EQ((V{m.g_chg_output[0], m.PM_WIN_NUM[2], m.PM_AREA_NUM[2], m.PM_WIN_NUM[1]}), (V{1, 0, 1, 6}));
    EXPECT_EQ((V{int(reg(0, 0x0A) & 1), int(reg(0, 0x09) & 1)}), (V{1, 0}));
    m.wincnt = 2;
    m.kelApi_MultiWinChInit();
    // 1920 - 1000 to the cell's right edge.
    EXPECT_EQ((V{m.PM_WIN_NUM[3], int(reg(0, 0x09) & 1), m.PM_WIN_OFFSET[1][1]}), (V{1, 1, 920}));
}

TEST_F(ScalerWindows, CropOffsets)
{
    // (The margins a crop within its input gives are the picture check's.)
    m.gWininfo[0].input = 1;   // source 1 is port 1
    m.PI_ACT[1] = {192, 1920, 41, 1080};
    ST_RECT r{100, 50, 800, 600};
    const int32_t* offset = m.PM_INPUT_OFFSET[0];
    // Past the input's right edge: cut at the edge, as a timing change cuts it.
    ST_RECT wide{300, 0, 1800, 1080};
    m.c331_SetCrop(0, 1, &wide);
    EXPECT_EQ((V{wide.x, wide.width, offset[0], offset[1]}), (V{300, 1620, 300, 0}));
    m.c331_SetCrop(0, 0, &r);
    EXPECT_EQ((V{offset[0], offset[1], offset[2], offset[3], m.kelApi_CropGetOffset(6, &r, 0)}), (V{0, 0, 0, 0, 0}));   // port 6: no input
}
