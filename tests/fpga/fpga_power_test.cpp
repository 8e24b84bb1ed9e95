// Power control through a function card on port 0: the stop and start sequences into the
// card's channel fields, their timing, and the raw LCD register write.
#include "core/utils.h"
#include "tests/fpga/bringup_fixture.h"

using namespace fpga_test;
using sim::FpgaModel;
using sim::FunctionCardModel;

namespace {

// The function-card flag of each port in the parameter RAM.
const uint16_t kCardFlag[16] = {104, 106, 112, 114, 562, 566, 570, 574, 642, 646, 650, 654, 658, 662, 666, 670};

class FpgaPower : public BringUpFixture {
protected:
    void SetUp() override
    {
        BringUpFixture::SetUp();
        makeReady();
        para = KelRamPara::p_kelrampara_config;
        // Window 0 alone, on input 1; the hidden layers name input 2, which has no picture.
        for (int layer = 0; layer < KelRamPara::kLayerCount; ++layer) {
            KelRamPara::put16(para->ram + KelRamPara::kLayers + KelRamPara::kLayerSize * layer, 0);
            KelRamPara::put16(para->ram + KelRamPara::kLayers + KelRamPara::kLayerSize * layer + KelRamPara::kLayerSource,
                              layer ? 2 : 1);
        }
        sim::ReceivingCardModel::setFunctionCard(0, 0, true);
        FunctionCardModel::setRam0(0, 0, 44, {1});
        fpga_manage::MCU_RAM_PARA_func[0][kCardFlag[0]] = 1;
        G_timeTicks = 5000;
    }
    void picture(bool on)
    {
        const int at = KelRamPara::kInputStatus + 6 * 1;
        for (int i = 0; i < 3; ++i)
            KelRamPara::put16(para->ram + at + 2 * i, on ? uint16_t(1080 + i) : 0);
    }
    void step(uint32_t ticks)
    {
        G_timeTicks += ticks;
        manager->Power_ctrl_deal();
    }
    static std::vector<std::vector<uint8_t>> cardWrites() { return FunctionCardModel::card(0, 0).registerWrites; }

    KelRamPara* para = nullptr;
};

} // namespace

TEST_F(FpgaPower, SettingsReadChannelWritePacketsAndTheEnableByte)
{
    // RAM 0 byte 44 of 2 does not allow power control, 1 does: the flag and register 67.
    for (const uint8_t allowed : {0, 1}) {
        FunctionCardModel::setRam0(0, 0, 44, {uint8_t(2 - allowed)});
        manager->Power_ctrl_task();
        EXPECT_EQ((std::vector<unsigned>{g_change[fpga_manage::CHG_POWER_ENABLE], manager->reg_shadow(67, 0)}), (std::vector<unsigned>{allowed, allowed}));
    }

    manager->Send_write_VMF_reg_cmd(fpga_manage::VMF_START, 6);
    manager->Send_write_VMF_reg_cmd(fpga_manage::VMF_STOP, 9);
    // Two reads of RAM 0 (256 bytes from 0) at the card's address 0x4000, then the one
    // channel write: card register 3, mask 0x0C, value 0x0C.
    const std::vector<uint8_t> read{0x00, 0x40, 0x00, 0xF0, 0x10, 0xBB, 0x03, 0x00, 0x00, 0x61,
                                    0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x78};
    EXPECT_EQ(sim::ReceivingCardModel::packets(0, 0),
              (std::vector<std::vector<uint8_t>>{read, read,
                                                 {0x00, 0x40, 0x00, 0xF0, 0x10, 0xBB, 0x03, 0x00, 0x00, 0xA0, 0x03,
                                                  0x0C, 0x00, 0x0C, 0xBB}}));
    EXPECT_EQ(FunctionCardModel::card(0, 0).regs[3], 0x0C);

    // A RAM 0 answer shorter than the 256 bytes asked for is not taken, whatever it carries.
    sim::ReceivingCardModel::setFault(0, 0, sim::ReceivingCardModel::Fault::Silent);
    std::vector<uint8_t> shortAnswer = {0x00, 0xF0, 0x00, 0x40, 0x10, 0xBB, 0x03, 0x00, 0x00, 0x61, 0x00};
    shortAnswer.resize(11 + 100, 2);                  // byte 44 = 2 would forbid power control
    shortAnswer.push_back(uint8_t(Utils::BCC(shortAnswer.data(), unsigned(shortAnswer.size()))));
    FpgaModel::queueAnswer(0, 0, shortAnswer);
    manager->Power_ctrl_task();
    EXPECT_EQ(g_change[fpga_manage::CHG_POWER_ENABLE], 1u);
}

// The first port with a function card gives the card's address and group, and its pair
// the answer's length registers and receive RAM.
TEST_F(FpgaPower, TheSettingsAnswerIsReadThroughThePairOfTheCardsPort)
{
    for (int port = 1; port <= 9; ++port) {
        for (int p = 0; p < 16; ++p)
            fpga_manage::MCU_RAM_PARA_func[0][kCardFlag[p]] = p == port || p == 15;
        sim::ReceivingCardModel::setCards(0, port, 1);
        sim::ReceivingCardModel::setFunctionCard(0, port, true);
        FunctionCardModel::setRam0(0, port, 44, {1});
        g_change[fpga_manage::CHG_POWER_ENABLE] = 0;
        FpgaModel::clearLog();
        manager->Power_ctrl_task();
        // The last read is the check's own: the whole answer, 10 + 1 + 256 + 1 bytes.
        std::pair<int, size_t> lastRead;
        for (auto& op : FpgaModel::log(0))
            if (op.kind == FpgaModel::OpKind::RamRead)
                lastRead = {op.ram, op.data.size()};
        EXPECT_EQ(lastRead, std::make_pair(2 + 2 * (port / 2), size_t(268))) << port;
        // The card's address and group, the enable flag, the one packet to the port.
        EXPECT_EQ((std::vector<uint32_t>{g_change[fpga_manage::CHG_VMF_ADDRESS], g_change[fpga_manage::CHG_VMF_GROUP], g_change[fpga_manage::CHG_POWER_ENABLE],
                                         uint32_t(sim::ReceivingCardModel::packets(0, port).size())}),
                  (std::vector<uint32_t>{0x4000u + 0x1000u * (port & 3), uint32_t(port / 4 + 1), 1, 1})) << port;
    }
    // The card silent, a late answer of another command (a register write's) is not the read's.
    sim::ReceivingCardModel::setFault(0, 9, sim::ReceivingCardModel::Fault::Silent);
    std::vector<uint8_t> late = {0x00, 0xF0, 0x00, 0x50, 0x10, 0xBB, 0x01, 10, 0x00, 0xA0, 0x00};
    late.resize(267, 1), late.push_back(uint8_t(Utils::BCC(late.data(), 267)));
    FpgaModel::queueAnswer(0, 4, late), g_change[fpga_manage::CHG_POWER_ENABLE] = 0;
    manager->Power_ctrl_task();
    EXPECT_EQ(g_change[fpga_manage::CHG_POWER_ENABLE], 0u);
}

TEST_F(FpgaPower, StopAfterALostPictureAndStartWhenItReturns)
{
    // A picture lost before one was ever seen never stops the channels.
    picture(false);
    for (int i = 0; i < 30; ++i)
        step(101);
    EXPECT_TRUE(cardWrites().empty());

    picture(true);
    step(101);                                           // arms the control
    picture(false);
    step(101);                                           // the loss is seen: the wait begins
    const uint32_t lost = G_timeTicks;
    while (G_timeTicks - lost < 1000)
        step(100);
    EXPECT_TRUE(cardWrites().empty());                   // nothing up to 1000 ticks
    step(1);
    EXPECT_EQ(cardWrites(), (std::vector<std::vector<uint8_t>>{{0x02, 0x03, 0x00, 0x01}}));
    step(50);
    EXPECT_EQ(cardWrites().size(), 1u);                  // channels go at least 51 ticks apart
    step(1);
    step(51);
    ASSERT_EQ(cardWrites().size(), 3u);
    EXPECT_EQ(cardWrites()[2], (std::vector<uint8_t>{0x02, 0x30, 0x00, 0x10}));

    // The picture returns after channel 3: the start sequence begins at channel 1.
    picture(true);
    step(101);
    ASSERT_EQ(cardWrites().size(), 4u);
    EXPECT_EQ(cardWrites()[3], (std::vector<uint8_t>{0x02, 0x03, 0x00, 0x03}));
    for (int i = 0; i < 8; ++i)
        step(51);
    // The writes, the channel fields of registers 2 and 3, whether the channels are stopped.
    const auto state = [this] {
        return std::vector<int>{int(cardWrites().size()), FunctionCardModel::card(0, 0).regs[2], FunctionCardModel::card(0, 0).regs[3], manager->power_send_stopped};
    };
    EXPECT_EQ(state(), (std::vector<int>{11, 0xFF, 0xFF, 0}));

    // Lost again: a full stop writes field value 1 into all eight channels.
    picture(false);
    step(101);
    step(1001);
    for (int i = 0; i < 9; ++i)
        step(51);
    const std::vector<int> stopped = state();
    EXPECT_EQ(std::vector<int>(stopped.begin() + 1, stopped.end()), (std::vector<int>{0x55, 0x55, 1}));
}

TEST_F(FpgaPower, ASecondWindowSuspendsEverything)
{
    KelRamPara::put16(para->ram + KelRamPara::kLayers + KelRamPara::kLayerSize * 3, 1);
    picture(true);
    step(2000);
    EXPECT_EQ(std::make_pair(uint32_t(g_change[fpga_manage::CHG_SIGNAL_STAMP]), sim::ReceivingCardModel::packets(0, 0).size()), std::make_pair(0u, size_t(0)));
}

TEST_F(FpgaPower, RawLcdRegisterWrite)
{
    uint8_t data[2] = {0xA1, 0xB2};
    manager->write_LCD_register(0x1234, data, 0, 2);
    manager->write_LCD_register(0x1234, data, 0, 0);
    std::vector<std::vector<uint8_t>> sent;
    for (auto& r : spi(1))
        sent.push_back(r.tx);
    EXPECT_EQ(sent, (std::vector<std::vector<uint8_t>>{{0x34}, {0xA1}, {0xB2}, {0x34}}));
    // Nothing to FPGA 2; both select lines back at rest.
    EXPECT_EQ((std::vector<int>{int(spi(2).size()), sim::SocModel::read16(fpga_manage::kGpioFpga1Select), sim::SocModel::read16(fpga_manage::kGpioFpga0Select)}),
              (std::vector<int>{0, 16, 16}));
}
