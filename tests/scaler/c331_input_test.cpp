// The scaler's input ports: source, port and receiver mappings, the measurement and its
// thresholds, interlace classes, V-by-One lanes and a lost signal.
#include "tests/support/ScalerHarness.h"
#include "tests/support/ScalerLog.h"

#include <string>
#include <vector>

namespace {
using ScalerInput = kel_test::ScalerHarness;
using kel_test::ChipByte;
using V = std::vector<int>;

// The V-by-One receiver's channel select and the reset and lane registers of its channel 1.
std::vector<ChipByte> channelOneResets()
{
    std::vector<ChipByte> v;
    for (const ChipByte& b : kel_test::chipWrites())
        if (b.bank == 2 && (b.reg == 0x7F || b.reg == 0x5C || b.reg == 0x6D))
            v.push_back(b);
    return v;
}
} // namespace

TEST_F(ScalerInput, SourcePortAndDeviceMappings)
{
    V ports, devices;
    for (int s = 0; s < 5; ++s)
        ports.push_back(c331_manage::kelApi_inputCvtC331(s));
    for (int p = 0; p < 7; ++p)
        devices.push_back(c331_manage::kelApi_GetPortDevId(p));
    EXPECT_EQ(ports, (V{2, 1, 0, 5, 255}));
    EXPECT_EQ(devices, (V{2, 1, 0, 255, 255, 3, 2}));

    const std::pair<int, V> cases[] = {{20, {0, 1, 6, 6, 6, 6}}, {23, {2, 3, 6, 6, 6, 6}}, {30, {0, 1, 2, 6, 6, 6}},
                                       {41, {0, 1, 2, 3, 6, 6}}, {51, {5, 4, 6, 6, 6, 6}}};
    for (const auto& [mode, joined] : cases) {
        m.PM_WIN_DBD_MODE[2] = mode;
        int got[6];
        ASSERT_TRUE(m.kelApi_GetWinDbdMultiPort(2, got));
        EXPECT_EQ(V(got, got + 6), joined) << mode;
    }
    m.PM_WIN_DBD_MODE[2] = 1;
    int got[6];
    EXPECT_FALSE(m.kelApi_GetWinDbdMultiPort(2, got));
}

TEST_F(ScalerInput, MeasurementAndItsUpdateThresholds)
{
    m.PM_INPUT[0] = 1;   // port 1 is receiver 1
    publish(1, 1920, 1080, 2200, 1125, 60);
    m.load_hdmi();
    EXPECT_EQ(m.g_chg_input[0], 1);
    m.check_input_port(m.c331_fd);
    const PI_PORT_INFO_st& info = m.PI_PORT_INFO[1];
    // The chip counts in 200 MHz clocks: a frame of 1/60 s, a line of 1/1125 of it.
    EXPECT_EQ((V{m.PI_UPDATE[1], info.NOSIG, info.STATE, info.HTOTAL, info.VTOTAL, info.FHW, info.FVM, info.ACTHW}),
              (V{1, 0, 4, 2200, 1125, 2962, 3333333, 1920}));
    EXPECT_NEAR(m.PI_FV[1], 60.0, 0.01);
    // The measurement registers are read while held: 0x80 into bank 0 register 0x29 before
    // the first, 0 after the last.
    std::vector<std::string> seq;
    for (const auto& f : sim::ScalerModel::frames())
        if (f.write && f.bank == 0 && f.reg == 0x29)
            seq.push_back(f.value == 0x80 ? "hold" : f.value == 0 ? "release" : "?");
        else if (!f.write && (f.bank == 0xAE || f.bank == 0xAF) && (seq.empty() || seq.back() != "read"))
            seq.push_back("read");
    ASSERT_GE(seq.size(), 3u);
    EXPECT_EQ(std::vector<std::string>(seq.begin(), seq.begin() + 3), (std::vector<std::string>{"hold", "read", "release"}));
    // SDR: the port's data-format flag off.
    EXPECT_EQ((V{m.PI_ACT[1].HST, m.PI_ACT[1].HW, m.PI_ACT[1].VST, m.PI_ACT[1].VW, int(reg(0, 0x18, 2) & 0x10)}), (V{44 + 148, 1920, 5 + 36, 1080, 0}));

    auto remeasure = [&] {
        m.g_chg_input[0] = 0;
        m.PI_UPDATE[1] = 0;   // consumed by the input-following step
        m.check_input_port(m.c331_fd);
        return m.PI_UPDATE[1];
    };
    // HTOTAL within 2 of the last pass's measurement: nothing reprogrammed, however far
    // a slow drift goes; 3 from it: full update.
    for (int htotal : {2202, 2204, 2206, 2208, 2211}) {
        sim::SimBoard::setScenario("input1.htotal", std::to_string(htotal));
        EXPECT_EQ(remeasure(), htotal == 2211) << htotal;
    }
    // FVM (3 bytes at 0x53): 43 more counts stay within 100, 256 more do not.
    sim::ScalerModel::setStuckBits(0xAE, 0x53, 0x2B);
    const int within = remeasure();
    sim::ScalerModel::setStuckBits(0xAE, 0x54, 0x01);
    EXPECT_EQ((V{within, remeasure()}), (V{0, 1}));
    // A window of the port asking for its input keeps the unchanged port re-applied.
    m.PI_UPDATE[1] = 0;
    m.g_chg_input[0] = 3;
    m.check_input_port(m.c331_fd);
    EXPECT_EQ(m.PI_UPDATE[1], 1);
}

TEST_F(ScalerInput, InterlaceClassesByFieldLines)
{
    m.PM_INPUT[0] = 1;
    struct Case {
        int vtotal, hz, state, ip;
    };
    const Case cases[] = {{562, 60, 5, 1}, {562, 50, 6, 1}, {300, 60, 8, 1}, {262, 60, 7, 1}, {1125, 60, 4, 0}};
    for (const Case& c : cases) {
        publish(1, 1920, 540, 2200, c.vtotal, c.hz, 1);
        measure();
        EXPECT_EQ((V{m.PI_PORT_INFO[1].STATE, m.PI_PORT_INFO[1].IP}), (V{c.state, c.ip})) << c.vtotal << "@" << c.hz;
    }
}

TEST_F(ScalerInput, VByOneLanesAndAZeroLaneRecord)
{
    m.PM_INPUT[0] = 5;   // port 5 is V-by-One channel 1, receiver 3
    struct Case {
        int lanes;
        unsigned mask;
        int state;
        bool lowRange;
    };
    // 3840x2160@30 in 4400 x 2250: 297 MHz, per lane below 50 MHz only with 8 lanes.
    const Case cases[] = {{8, 0xFF, 1, true}, {4, 0xF0, 1, false}, {2, 0xC0, 1, false}};
    for (const Case& c : cases) {
        publish(3, 3840, 2160, 4400, 2250, 30, 0, c.lanes);
        m.load_hdmi();
        sim::ScalerModel::clearFrames();
        m.check_input_port(m.c331_fd);
        EXPECT_EQ(channelOneResets(), (std::vector<ChipByte>{{2, 0x7F, 13}, {2, 0x7F, 15}, {2, 0x5C, 5},
                                                             {2, 0x6D, int(c.mask)}}))
            << c.lanes;
        EXPECT_EQ(std::make_pair(m.PI_PORT_INFO[5].STATE, (reg(2, 0x4C + 0x1C) & 0x08) != 0), std::make_pair(c.state, c.lowRange)) << c.lanes;
    }
    EXPECT_EQ((V{m.PI_ACT[5].HW, m.usable_width(5)}), (V{1920, 3840}));   // a packed port carries half the line
    // A record saying 0 lanes is one lane: mask 0x80, 148.5 MHz on one lane.
    publish(3, 1920, 1080, 2200, 1125, 60, 0, 0);
    measure();
    const PI_PORT_INFO_st& vbo = m.PI_PORT_INFO[5];
    EXPECT_EQ((V{vbo.HTOTAL, vbo.VTOTAL, vbo.FHW, vbo.FVM, vbo.ACTHW, vbo.STATE}),
              (V{2200, 1125, 2962, 3333333, 1920, 4}));
    EXPECT_EQ((V{int(reg(2, 0x51 + 0x1C)), int(reg(2, 0x4C + 0x1C) & 0x08)}), (V{0x80, 0}));
}

// (A lost port's windows showing the background is the picture check's.)
TEST_F(ScalerInput, LostSignalResetsTheReceiverChannel)
{
    m.PM_INPUT[0] = 1;
    noSignal(1);
    // The status word's check: no signal sets bit 0 and resets the port's receiver channel
    // (port 1: channel 1); a signal clears the bit.
    m.port_status[1] = 0x80;
    sim::ScalerModel::clearFrames();
    m.check_port_valid(m.c331_fd);
    EXPECT_EQ(std::make_pair(int(m.port_status[1]), channelOneResets()),
              std::make_pair(0x81, std::vector<ChipByte>{{2, 0x7F, 13}, {2, 0x7F, 15}, {2, 0x5C, 5}, {2, 0x6D, 0x80}}));
    publish(1, 1920, 1080, 2200, 1125, 60);
    m.check_port_valid(m.c331_fd);
    EXPECT_EQ(m.port_status[1], 0x80);
}

// A joined window uses its source port too: HDMI2 and HDMI1 joined with source DVI measure DVI,
// and HDMI1 turning YUV 4:2:2, its totals the same, sets its format bit.
TEST_F(ScalerInput, AJoinedWindowMeasuresAndFollowsEveryPortItUses)
{
    m.PM_WIN_DBD_MODE[0] = 20, m.PM_INPUT[0] = 2;
    for (int d : {0, 1, 2})
        publish(d, 1920, 1080, 2200, 1125, 60);
    measure();
    m.g_chg_input[0] = m.PI_UPDATE[1] = 0;
    source.hdminfo[1].datamode = 1;   // (no receiver thread here)
    measure();
    EXPECT_EQ((V{m.PI_ACT[2].HW, int(reg(0, 0x18, 2) & 0x10), m.PI_UPDATE[1]}), (V{1920, 0x10, 1}));
}
