// The command handler called directly: the screen capture window, short frames, the link's
// reply limit, the property block, register 0xA1 and register 11's apply, and random RAM
// requests at the areas' edges under the sanitizers (every length and offset they carry is
// checked before use, and every reply fits the link); the RAM and register groups' replies
// and stored bytes are the handler sequences' check (pc_handlers_check_test.cpp).
#include "tests/protocol/handler_fixture.h"

#include "core/kel_file_deal.h"
#include "fpga/fpga_manage.h"
#include "protocol/message_deal.h"
#include "protocol/protocol_phy.h"
#include "scaler/c331_manage.h"

#include <QCoreApplication>
#include <QEvent>
#include <chrono>
#include <cstdio>
#include <future>
#include <utility>
#include <vector>
#include <cstring>
#include <ctime>
#include <atomic>
#include <random>
#include <set>
#include <thread>
#include <tuple>

namespace {

using pc::Bytes;

class MessageDeal : public handler_test::HandlerFixture {
protected:
    static pc::Frame fpgaSide(pc::Frame f, uint8_t sub = 0)
    {
        f.dest = 0x0001;
        f.sub = sub;
        return f;
    }
    static uint8_t* reg(int fpga) { return fpga_manage::MCU_REG_func[fpga]; }

    message_deal& udp = md;
    message_deal tcp{message_deal::REPLY_LIMIT_TCP};
};

// No screen can be grabbed on the test platform: the capture is empty, its header and markers
// are as always, to the end of the window and past it. Short frames get their group's refusal.
TEST_F(MessageDeal, ScreenCaptureWindowAndShortFrames)
{
    pc::Frame noSpare = pc::writeRam(0x10, {1, 2, 3});
    noSpare.data.resize(7);   // no room for the spare bytes
    pc::Frame cut = pc::writeRam(0x10, {1, 2, 3});
    cut.data.pop_back();      // announced data longer than what came
    pc::Frame read = pc::readRam(0x10, 4);
    read.data.pop_back();
    pc::Frame reg = pc::readRegister(4);
    reg.data.clear();
    const uint8_t before = KelRamPara::p_kelrampara_config->ram[0x10];
    const std::pair<pc::Frame, Bytes> cases[] = {
        {pc::readRam(0x800000, 0x10), {0, 0xAA, 0xAA, 0x40, 0x01, 0xF0, 0, 24, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
        {pc::readRam(0x800080, 4), {0, 0xAA, 0xAA, 0, 0}}, {pc::readRam(0xA0007F, 1), {0, 0}},
        {noSpare, {1}}, {cut, {1}}, {read, {1, 0}}, {reg, {0, 1}}};
    for (const auto& c : cases)
        EXPECT_EQ(reply(deal(c.first)), c.second) << int(c.first.group) << " " << pc::hex(c.first.data);
    EXPECT_EQ(KelRamPara::p_kelrampara_config->ram[0x10], before);
}

// PCs capturing together: the requests that come while a capture is made, or in the tick
// the last was made in, are served from it, so the GUI thread grabs once for all of them
// (its grabs counted as the calls queued to it), and once again in a later tick.
TEST_F(MessageDeal, CapturesAskedTogetherAreServedFromOneGrab)
{
    struct Calls : QObject {
        int n = 0;
        bool eventFilter(QObject* o, QEvent* e) override { return n += o == qApp && e->type() == QEvent::MetaCall, false; }
    } calls;
    QCoreApplication::processEvents();
    qApp->installEventFilter(&calls);
    std::vector<int> grabs;
    for (const int pcs : {8, 1, 1}) {
        G_timeTicks = G_timeTicks + (pcs == 8 ? 100000 : grabs.size() == 1 ? 0 : 1);
        std::vector<std::future<unsigned>> asked;
        for (int k = 0; k < pcs; ++k)
            asked.push_back(std::async(std::launch::async, [] { return message_deal::capture_screen(); }));
        for (auto& a : asked)
            while (a.wait_for(std::chrono::milliseconds(0)) != std::future_status::ready)
                QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
        grabs.push_back(std::exchange(calls.n, 0));
    }
    qApp->removeEventFilter(&calls);
    EXPECT_EQ(grabs, (std::vector<int>{1, 0, 1}));   // 8 PCs at once, again in that tick, in the next
}

TEST_F(MessageDeal, ReadsLargerThanTheLinkCanCarryAreRefused)
{
    std::memset(KelRamPara::p_kelrampara_config->ram, 0xA5, 0x1000);
    // Over TCP 65535 bytes are answered (over UDP refused: DispatchTable's 0x61 row).
    int r = deal(pc::readRam(0, 0xFFFF), tcp);
    ASSERT_EQ(std::make_tuple(r, buf[11], buf[11 + 0xFFE]), std::make_tuple(0x10000, uint8_t(0xA5), uint8_t(0xA5)));
    // The escaped reply is measured: a reply of 0xA5 bytes needs twice the room.
    for (int k = 0; k < KelRamPara::kModeSlots; ++k)
        std::memset(KelRamPara::p_kelrampara_config->mode_slot[k], 0xA5, KelRamPara::kModeSlotSize);
    EXPECT_EQ(reply(deal(pc::readRam(0x1000, 0x8000), udp)), (Bytes{1, 0}));
    KelRamPara::p_kelrampara_config->mode_slot[1][4097] = 0x42;
    KelRamPara::p_kelrampara_config->mode_slot[2][0] = 0x43;
    // The read runs on through the slots as they lie, back to back.
    r = deal(pc::readRam(0x1000, 0x7FE0), udp);
    EXPECT_EQ(std::make_tuple(r, buf[11 + 4098 + 4097], buf[11 + 4098 + 4098]), std::make_tuple(0x7FE1, uint8_t(0x42), uint8_t(0x43)));
}

// The property block's first byte is 0xAA only with the cloud settings read, FPGA 0's MCU
// running (state 3) and its power-up finished (state 7).
TEST_F(MessageDeal, PropertyBlockReadyByteAndFpgaFields)
{
    root.writeFile("/data/configs/cloud_setinfo", std::string("\xAA\x05\x00" "abc", 6));
    const struct {
        uint8_t mcu, stage;
        bool file;
        uint8_t ready;
    } cases[] = {{3, 7, true, 0xAA}, {3, 6, true, 0}, {2, 7, true, 0}, {3, 7, false, 0}};
    for (const auto& c : cases) {
        reg(0)[80] = c.mcu;
        manager->link_stage[0] = c.stage;
        if (!c.file)
            std::remove(root.host("/data/configs/cloud_setinfo").c_str());
        EXPECT_EQ(reply(deal(pc::readRam(0xA0000000, 1))), (Bytes{0, c.ready})) << int(c.mcu) << int(c.stage);
    }
    // With the FPGA manager the block carries FPGA 0's registers 31 down to 28 and the unique
    // id of its flash (its card count: the sweep's check below).
    for (int k = 28; k < 32; ++k)
        reg(0)[k] = uint8_t(0x10 + k);
    sim::FpgaFlashModel::setUniqueId(0, {9, 8, 7, 6, 5, 4, 3, 2});
    const Bytes block = reply(deal(pc::readRam(0xA0000000, 0x80)));
    const auto at = [&block](size_t from, size_t to) { return Bytes(block.begin() + 1 + long(from), block.begin() + 1 + long(to)); };
    EXPECT_EQ((std::vector<Bytes>{at(0x2C, 0x30), at(0x6B, 0x73)}), (std::vector<Bytes>{{0x2F, 0x2E, 0x2D, 0x2C}, {9, 8, 7, 6, 5, 4, 3, 2}}));
}

// The card count (low byte first, twice) is read on a link's thread while the FPGA manager's
// search sweep sums the counts the receive path files: one lock for both (the thread-checked
// build sees a miss).
TEST_F(MessageDeal, TheCardCountIsReadWhileTheSearchSweepSumsIt)
{
    uint8_t* ram = fpga_manage::MCU_RAM_PARA_func[0];
    std::atomic<bool> stop{false};
    const auto file = [&](uint16_t n) {   // counts of 300 to 600: both bytes carry
        {
            std::lock_guard<std::mutex> path(manager->port_path_mutex);   // as an answer files a count
            for (uint16_t at : fpga_manage::kCardCountOffset)
                ram[at] = ram[at + 1] = 0;
            KelRamPara::put16(ram + fpga_manage::kCardCountOffset[3], n);
        }
        manager->CHECK_search_cmd_status();
    };
    file(300);
    std::thread sweep([&] {
        for (uint16_t n = 300; !stop; n = uint16_t(n == 600 ? 300 : n + 1))
            file(n);
    });
    std::set<int> seen;
    for (int i = 0; i < 100; ++i) {
        const Bytes block = reply(deal(pc::readRam(0xA0000000, 0x80)));
        const int cards = block.at(1 + 0x7C) | block.at(1 + 0x7D) << 8;
        EXPECT_TRUE(cards >= 300 && cards <= 600 && block[1 + 0x7E] == block[1 + 0x7C] && block[1 + 0x7F] == block[1 + 0x7D]) << cards;
        seen.insert(cards);
    }
    stop = true;
    sweep.join();
    EXPECT_GE(seen.size(), 2u);   // the reads met the sweep at work
}

// FPGA 0 running behind a one-output-channel panel: the width word is halved in the reply.
TEST_F(MessageDeal, OneChannelPanelHalvesTheWidthWordInTheReplyOnly)
{
    c331_manage scaler;
    c331_manage::p_c331_manage = &scaler;
    scaler.pnl.oneOch = 1;
    reg(0)[80] = 3;
    ASSERT_EQ(reply(deal(fpgaSide(pc::writeRam(116, {0x80, 0x07})))), Bytes{0});   // 1920
    for (int pass = 0; pass < 2; ++pass)                                            // never halved twice
        EXPECT_EQ(reply(deal(fpgaSide(pc::readRam(116, 2)))), (Bytes{0, 0xC0, 0x03}));   // 960
    EXPECT_EQ(reply(deal(fpgaSide(pc::readRam(117, 1)))), (Bytes{0, 0x07}));   // half a word: left alone
    scaler.pnl.oneOch = 0;
    EXPECT_EQ(reply(deal(fpgaSide(pc::readRam(116, 2)))), (Bytes{0, 0x80, 0x07}));
    c331_manage::p_c331_manage = nullptr;
}

// Register 0xA1 bits 2-5 set window 0's output word (bit 8: dot by dot) and mode: bit 2 off
// with the mode kept, else bit 3, 4, 5 on with mode 0, 8, 9; the scaler applies only a change.
// Bit 0 (the reboot request) is no part of the choice.
TEST_F(MessageDeal, Register0xA1SetsWindowZerosDotByDot)
{
    uint8_t* ram = KelRamPara::p_kelrampara_config->ram;
    const struct {
        uint8_t bits;
        uint16_t w0, d0, w, d;
        uint8_t flag;
    } cases[] = {{0x04, 0x0123, 5, 0x0023, 5, 1}, {0x08, 0x0023, 5, 0x0123, 0, 1}, {0x10, 0x0023, 5, 0x0123, 8, 1},
                 {0x20, 0x0023, 5, 0x0123, 9, 1}, {0x3C, 0x0123, 5, 0x0023, 5, 1}, {0x30, 0x0023, 5, 0x0123, 8, 1},
                 {0x20, 0x0123, 9, 0x0123, 9, 0}, {0x21, 0x0023, 5, 0x0123, 9, 1}, {0x10, 0x0123, 5, 0x0123, 8, 1}};
    for (const auto& c : cases) {
        KelRamPara::put16(ram + 2290, c.w0);
        KelRamPara::put16(ram + 2294, c.d0);
        c331_manage::p_c331_manage->c331_apply_flag = 0;
        EXPECT_EQ(reply(deal(pc::writeRegister(0xA1, 0xFF, c.bits))), Bytes{0});
        EXPECT_EQ(std::make_tuple(KelRamPara::get16(ram + 2290), KelRamPara::get16(ram + 2294), uint8_t(c331_manage::p_c331_manage->c331_apply_flag)),
                  std::make_tuple(c.w, c.d, c.flag)) << int(c.bits);
    }

    // A changed LED size applied by register 11 asks for the LED hand-shake while FPGA 0,
    // whatever FPGA 1 does, runs.
    KelRamPara* p = KelRamPara::p_kelrampara_config;
    KelRamPara::put16(p->ram + 1378, uint16_t(KelRamPara::get16(p->ram_backup + 1378) + 64));
    for (uint8_t state0 : {0, 3}) {
        reg(0)[80] = state0;
        reg(1)[80] = uint8_t(3 - state0);
        g_set_led_para = 0;
        EXPECT_EQ(reply(deal(pc::writeRegister(11, 0x02, 0x02))), Bytes{0});
        EXPECT_EQ(g_set_led_para, state0 == 3 ? 1 : 0);
    }
    // The overlay reload (bit 3) for every overlay word that is on.
    for (uint16_t on : {0, 1, 2, 300}) {
        KelRamPara::put16(p->ram + KelRamPara::kOsdOn, on);
        g_osd_update = 0;
        EXPECT_EQ(reply(deal(pc::writeRegister(11, 0x08, 0x08))), Bytes{0});
        EXPECT_EQ(int(g_osd_update), on ? 1 : 0) << on;
    }
}

TEST_F(MessageDeal, RandomRequestsStayInsideTheirBuffers)
{
    std::mt19937 rng(20240607);
    KelRamPara* p = KelRamPara::p_kelrampara_config;
    Bytes backup(p->ram_backup, p->ram_backup + KelRamPara::kRamSize);
    const uint32_t edges[] = {0x0, 0xFFF, 0x1000, 0x10FFF, 0x11000, 0x600000, 0x600040, 0x60043F, 0x600440,
                              0x600880, 0x600C7F, 0x800000, 0x800080, 0xA0007F, 0xA0000000, 0xA0000FFF,
                              0xA1000000, 0xA10000FF, 0xA1000100, 0xFD000000, 0xFE000000, 0xFFFFFFFF,
                              0x00000800, 0x00000FFF, 0x01001000, 0x02002000, 0x04000000, 0x05000000,
                              0x060003FF, 0x0F00F000, 0x10000000};
    std::uniform_int_distribution<uint32_t> any;
    for (int i = 0; i < 4000; ++i) {
        uint32_t a = (rng() % 3) ? edges[rng() % (sizeof edges / sizeof edges[0])] + (rng() % 9) - 4 : any(rng);
        uint16_t len = uint16_t((rng() % 4) ? rng() % 1100 : rng());
        bool own = rng() % 2;
        bool write = rng() % 2;
        uint8_t running = (rng() % 2) ? 3 : 0;
        reg(0)[80] = reg(1)[80] = running;
        pc::Frame f;
        if (write) {
            Bytes data(std::min<uint16_t>(len, 2048), uint8_t(rng()));
            f = pc::writeRam(a, data);
            // Sometimes the announced length disagrees with the data.
            if (rng() % 4 == 0)
                f.data[4] = uint8_t(rng()), f.data[5] = uint8_t(rng());
        } else {
            f = pc::readRam(a, len);
        }
        if (!own)
            f.dest = uint16_t(rng() % 0xF000), f.mode = uint8_t(rng() % 2), f.sub = uint8_t(rng() % 4);
        if (rng() % 8 == 0)
            f.data.resize(rng() % f.data.size());
        message_deal& md = (rng() % 2) ? udp : tcp;
        int r = deal(f, md);
        ASSERT_GE(r, 1) << i;
        ASSERT_LE(r, 0x10000) << i;
        if (&md == &udp) {
            ASSERT_LE(protocol_phy::reply_escaped_size(buf.data(), unsigned(r)), message_deal::REPLY_LIMIT_UDP) << i;
        }
    }
    // RAM requests never touch the saved copy.
    EXPECT_EQ(Bytes(p->ram_backup, p->ram_backup + KelRamPara::kRamSize), backup);
}

// Register 11's apply: of freeze (output bit 1) and dot by dot (bit 8), the one the PC set
// since the block was last saved wins, for every window and every pair of old and new
// bits (the rest of the block as saved, the switch effect bits 2-3 as the setting says).
TEST_F(MessageDeal, Register11KeepsTheNewerOfFreezeAndDotByDotInEveryWindow)
{
    KelRamPara* p = KelRamPara::p_kelrampara_config;
    const uint16_t bits[] = {0x000, 0x002, 0x100, 0x102};
    std::vector<uint8_t> saved(p->ram_backup, p->ram_backup + KelRamPara::kRamSize);
    for (int k = 0; k < KelRamPara::kLayerCount; ++k)
        KelRamPara::put16(saved.data() + KelRamPara::kLayers + k * KelRamPara::kLayerSize + KelRamPara::kLayerOutput, 0);
    for (int k = 0; k < KelRamPara::kLayerCount; ++k)
        for (uint16_t old : bits)
            for (uint16_t cur : bits) {
                std::copy(saved.begin(), saved.end(), p->ram_backup);
                std::copy(saved.begin(), saved.end(), p->ram);
                const int o = KelRamPara::kLayers + k * KelRamPara::kLayerSize + KelRamPara::kLayerOutput;
                const uint16_t effect = uint16_t((p->ram[2118] << 2) & 0x0C);
                KelRamPara::put16(p->ram_backup + o, uint16_t(0x4000 | old | effect));
                KelRamPara::put16(p->ram + o, uint16_t(0x4000 | cur | effect));
                KelRamPara::put16(p->ram + 2114, 7);
                ASSERT_EQ(reply(deal(pc::writeRegister(11, 0x02, 0x02))), Bytes{0});
                // Freeze set now over a saved DBD: DBD off and its mode cleared; DBD set now
                // over a saved freeze: freeze off; otherwise as the PC left it.
                const bool freezeWins = (cur & 0x002) && (old & 0x100);
                const bool dbdWins = !freezeWins && (old & 0x002) && (cur & 0x100);
                const uint16_t want = uint16_t(0x4000 | effect | (freezeWins ? cur & ~0x100 : dbdWins ? cur & ~0x002 : cur));
                EXPECT_EQ(std::make_pair(KelRamPara::get16(p->ram + o), KelRamPara::get16(p->ram + 2114)),
                          std::make_pair(want, uint16_t(freezeWins ? 0 : 7)))
                    << "window " << k << " saved " << old << " now " << cur;
            }
}

} // namespace
