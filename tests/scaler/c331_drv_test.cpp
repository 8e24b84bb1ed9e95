// Register access to the scaler chip, checked against the SPI bus log and the chip model;
// and the simulated chip behaving as the drivers rely on: measurement registers follow the
// scenario's inputs, done bits follow their requests, status registers read idle.
#include "board/sim/Sim.h"
#include "fpga/fpga_manage.h"
#include "scaler/c331_drv.h"
#include "tests/support/TestRoot.h"

#include <gtest/gtest.h>
#include <thread>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

class ScalerAccess : public ::testing::Test {
protected:
    void SetUp() override
    {
        fd = drv.initialize();
        ASSERT_GE(fd, 0);
        sim::SpiBusModel::clearLog();
    }
    // The 2-byte messages sent on chip select 0, in order.
    static std::vector<Bytes> sent()
    {
        std::vector<Bytes> out;
        for (const auto& r : sim::SpiBusModel::log())
            if (r.chipSelect == 0)
                out.push_back(r.tx);
        return out;
    }

    unsigned rd(uint32_t reg) { return drv.read_C331(fd, reg, 0); }

    kel_test::TestRoot root;
    c331_drv drv;
    int fd = -1;
};

using ScalerModelChip = ScalerAccess;
using U = std::vector<unsigned>;

} // namespace

TEST_F(ScalerAccess, WriteSelectsTheChannelBankAndSendsBytesLowFirst)
{
    drv.write_C331(fd, 0x0C3A02, 0x0123, 0x10);
    EXPECT_EQ(sent(), (std::vector<Bytes>{{0x80, 0x1C}, {0xBA, 0x23}, {0xBB, 0x01}}));
    U speeds;
    for (const auto& r : sim::SpiBusModel::log())
        speeds.push_back(r.speedHz);
    EXPECT_EQ(std::make_pair(speeds, unsigned(sim::ScalerModel::reg(0x1C, 0x3A) | sim::ScalerModel::reg(0x1C, 0x3B) << 8)),
              std::make_pair(U(3, 10000000u), 0x0123u));
}

TEST_F(ScalerAccess, ChipIdReadIsOneSelectAndOneFullDuplexFrame)
{
    const unsigned id = drv.read_C331(fd, 0xB20801, 0);
    auto log = sim::SpiBusModel::log();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ((std::vector<Bytes>{log[0].tx, log[1].tx}), (std::vector<Bytes>{{0x80, 0xB2}, {0x08, 0xFF}}));
    sim::ScalerModel::setChipId(0x31);
    EXPECT_EQ((U{id, log[1].rx[1], log[1].speedHz, drv.read_C331(fd, 0xB20801, 0)}), (U{0x24, 0x24, 5000000, 0x31}));
}

TEST_F(ScalerAccess, BankIsSelectedOnlyWhenItChanges)
{
    drv.write_C331(fd, 0x051001, 1, 0);
    drv.write_C331(fd, 0x051101, 2, 0);
    drv.read_C331(fd, 0x051001, 0);
    drv.write_C331(fd, 0x051001, 3, 0x10);   // same bank, next channel: bank 0x15
    drv.write_C331(fd, 0x051001, 4, 0);
    EXPECT_EQ(sent(), (std::vector<Bytes>{{0x80, 0x05}, {0x90, 1}, {0x91, 2}, {0x10, 0xFF},
                                          {0x80, 0x15}, {0x90, 3}, {0x80, 0x05}, {0x90, 4}}));

    // After a chip reset the driver selects again even for the same bank.
    drv.init_reg_acc_param();
    sim::SpiBusModel::clearLog();
    drv.write_C331(fd, 0x051001, 5, 0);
    EXPECT_EQ(sent(), (std::vector<Bytes>{{0x80, 0x05}, {0x90, 5}}));
}

TEST_F(ScalerAccess, AWriteToRegisterZeroIsABankSelectAndTheCacheFollowsIt)
{
    drv.write_C331(fd, 0xFF0001, 8, 0);     // the clock generator's first register
    drv.write_C331(fd, 0xFF0101, 0, 0);
    drv.write_C331(fd, 0x080101, 7, 0);
    EXPECT_EQ(sent(), (std::vector<Bytes>{{0x80, 0xFF}, {0x80, 0x08}, {0x80, 0xFF}, {0x81, 0x00},
                                          {0x80, 0x08}, {0x81, 0x07}}));
    EXPECT_EQ(sim::ScalerModel::reg(8, 1), 7);
}

TEST_F(ScalerAccess, MultiByteValuesAreLittleEndianAndBoundedToFourBytes)
{
    const uint8_t bytes[4] = {0x11, 0x22, 0x33, 0x44};
    for (int i = 0; i < 4; ++i)
        sim::ScalerModel::setReg(0x16, 0x1C + i, bytes[i]);
    EXPECT_EQ(drv.read_C331(fd, 0x161C04, 0), 0x44332211u);

    drv.write_C331(fd, 0x162004, 0xA1B2C3D4, 0);
    // Bytes past the fourth carry 0 when written and add nothing when read.
    for (int r : {0x44, 0x45})
        sim::ScalerModel::setReg(0x16, r, 0x77);
    drv.write_C331(fd, 0x164006, 0xFFFFFFFF, 0);
    auto chip = [](int r) { return sim::ScalerModel::reg(0x16, r); };
    EXPECT_EQ((std::vector<int>{chip(0x20), chip(0x23), chip(0x43), chip(0x44), chip(0x45)}),
              (std::vector<int>{0xD4, 0xA1, 0xFF, 0, 0}));
    sim::ScalerModel::setReg(0x16, 0x44, 0x77);
    EXPECT_EQ(drv.read_C331(fd, 0x164006, 0), 0xFFFFFFFFu);

    // No access runs past register 0x7F: the write bit and the bank register stay untouched.
    sim::SpiBusModel::clearLog();
    drv.write_C331(fd, 0x167E04, 0x04030201, 0);
    EXPECT_EQ(sent(), (std::vector<Bytes>{{0xFE, 0x01}, {0xFF, 0x02}}));
    EXPECT_EQ((U{unsigned(sim::ScalerModel::currentBank()), drv.read_C331(fd, 0x168001, 0)}), (U{0x16, 0}));
    drv.write_C331(fd, 0x160000 | 0x0000, 0x12, 0);   // zero bytes: the select only
    EXPECT_EQ(sim::ScalerModel::currentBank(), 0x16);
}

TEST_F(ScalerAccess, MaskedWriteKeepsTheOtherBits)
{
    for (const auto& [r, v] : {std::pair{0x18, 0x5A}, {0x19, 0xA5}})
        sim::ScalerModel::setReg(0x00, r, uint8_t(v));
    drv.write_c331_mask(fd, 0x001802, 0x0010, 0x00F0, 0);
    EXPECT_EQ(sim::ScalerModel::reg(0, 0x18) | sim::ScalerModel::reg(0, 0x19) << 8, 0xA51A);

    // Mask 0: the register is rewritten with its own value.
    sim::SpiBusModel::clearLog();
    drv.write_c331_mask(fd, 0x001802, 0xFFFF, 0, 0);
    EXPECT_EQ(sent(), (std::vector<Bytes>{{0x18, 0xFF}, {0x19, 0xFF}, {0x98, 0x1A}, {0x99, 0xA5}}));
}

TEST_F(ScalerAccess, ConcurrentMaskedWritesLoseNoBit)
{
    // Eight threads each set their own bit of the same registers; a read-modify-write that
    // let another access in between would drop bits.
    std::vector<std::thread> threads;
    for (int bit = 0; bit < 8; ++bit)
        threads.emplace_back([this, bit] {
            c331_drv& d = drv;
            for (uint32_t r = 0x20; r < 0x60; ++r)
                d.write_c331_mask(fd, 0x070001 | r << 8, 1u << bit, 1u << bit, 0);
        });
    for (auto& t : threads)
        t.join();
    for (int r = 0x20; r < 0x60; ++r)
        ASSERT_EQ(sim::ScalerModel::reg(7, r), 0xFF) << "register " << r;
}

TEST_F(ScalerAccess, FailedTransfersForgetTheBankAndReadAsZero)
{
    sim::ScalerModel::setReg(0x09, 0x20, 0x5A);
    EXPECT_EQ(drv.read_C331(fd, 0x092001, 0), 0x5Au);

    // A failed bank select: nothing is written into whatever bank the chip has, and the
    // next access selects again.
    drv.init_reg_acc_param();
    sim::SpiBusModel::setFault(0, sim::SpiBusModel::Fault::TransferFails);
    drv.write_C331(fd, 0x0A2001, 0x33, 0);
    // The read gives 0, not what a buffer held before.
    EXPECT_EQ((std::vector<int>{drv.bank_cached, int(drv.read_C331(fd, 0x092001, 0))}), (std::vector<int>{-1, 0}));
    sim::SpiBusModel::setFault(0, sim::SpiBusModel::Fault::None);
    sim::SpiBusModel::clearLog();
    drv.write_C331(fd, 0x0A2001, 0x33, 0);
    EXPECT_EQ(std::make_pair(sent(), U{unsigned(sim::ScalerModel::reg(0x0A, 0x20)), unsigned(sim::ScalerModel::reg(0x09, 0x20))}),
              std::make_pair(std::vector<Bytes>{{0x80, 0x0A}, {0xA0, 0x33}}, U{0x33, 0x5A}));

    // A data frame that fails after a good select also forgets the bank.
    drv.read_C331(fd, 0x092001, 0);
    const int selected = drv.bank_cached;
    sim::SpiBusModel::setFault(0, sim::SpiBusModel::Fault::TransferFails);
    drv.write_C331(fd, 0x092101, 1, 0);
    sim::SpiBusModel::setFault(0, sim::SpiBusModel::Fault::None);
    EXPECT_EQ((std::vector<int>{selected, drv.bank_cached}), (std::vector<int>{0x09, -1}));
}

TEST_F(ScalerAccess, OpenFailsWithoutTheDeviceButARefusedSettingKeepsIt)
{
    c331_drv other;
    // The device keeps the mode the first open gave it; the refusal is only logged.
    sim::SpiBusModel::setFault(0, sim::SpiBusModel::Fault::SettingsRefused);
    testing::internal::CaptureStdout();
    const int kept = other.initialize();
    EXPECT_NE(testing::internal::GetCapturedStdout().find("can't set spi mode"), std::string::npos);
    ASSERT_GE(kept, 0);
    EXPECT_EQ(other.read_C331(kept, 0xB20801, 0), 0x24u);

    sim::SpiBusModel::setFault(0, sim::SpiBusModel::Fault::Absent);
    EXPECT_EQ((std::vector<int>{other.initialize(), int(other.read_C331(-1, 0xB20801, 0))}), (std::vector<int>{-1, 0}));
}

TEST_F(ScalerAccess, EveryTransferDrivesBothFpgaSelectsInactive)
{
    fpga_manage fpga;
    fpga.gpio_fpga0_cs = reinterpret_cast<volatile uint16_t*>(sim::SocModel::base() + fpga_manage::kGpioFpga0Select);
    fpga.gpio_fpga1_cs = reinterpret_cast<volatile uint16_t*>(sim::SocModel::base() + fpga_manage::kGpioFpga1Select);
    fpga_manage::p_fpga_manage = &fpga;
    sim::SocModel::write16(fpga_manage::kGpioFpga0Select, 0);
    sim::SocModel::write16(fpga_manage::kGpioFpga1Select, 0);
    drv.write_C331(fd, 0x000801, 1, 0);
    EXPECT_EQ((U{sim::SocModel::read16(fpga_manage::kGpioFpga0Select), sim::SocModel::read16(fpga_manage::kGpioFpga1Select)}),
              (U{0x0010, 0x0010}));
    sim::SocModel::write16(fpga_manage::kGpioFpga1Select, 0);
    drv.read_C331(fd, 0x000801, 0);
    EXPECT_EQ(sim::SocModel::read16(fpga_manage::kGpioFpga1Select), 0x0010);   // reads as well
    fpga_manage::p_fpga_manage = nullptr;
}

TEST_F(ScalerModelChip, MeasurementFollowsTheScenarioInputs)
{
    // Receiver 0 reaches scaler port 2; by default it carries 1920x1080@60 in 2200 x 1125.
    // HTOTAL, VTOTAL, FVM (the frame period in 200 MHz counts) and ACTHW of port 2; port 0
    // (receiver 2) has no signal: its counters run out.
    EXPECT_EQ((U{rd(0xAE0C02) + 1, rd(0xAE2402), rd(0xAE5603) + 1, rd(0xAF0C02), rd(0xAE0802) + 1, rd(0xAE5003) + 1}),
              (U{2200, 1125, 200000000 / 60, 1920, 0x10000, 0x1000000}));

    for (const auto& [key, value] : {std::pair{"signal", "1"}, {"hact", "3840"}, {"htotal", "4400"}, {"vtotal", "2250"}, {"hz", "30"}})
        sim::SimBoard::setScenario(std::string("input3.") + key, value);
    // Receiver 3 is V-by-One port 5 (channel 1): every lane counts the same periods.
    EXPECT_EQ((U{rd(0xAE1802) + 1, rd(0xAE3002), rd(0xAE6803) + 1, rd(0xAE6B03), rd(0xAE4E02), rd(0xB11802)}),
              (U{4400, 2250, 200000000 / 30, rd(0xAE6803), rd(0xAE4802), 3840}));

    sim::SimBoard::setScenario("input0.signal", "0");
    EXPECT_EQ(rd(0xAE0C02), 0xFFFFu);
}

TEST_F(ScalerModelChip, DoneBitsStatusAndFaultKnobs)
{
    // Output update requests of channels 2 and 5, taken back; input vertical sync of channel 0.
    drv.write_C331(fd, 0x050901, 0x24, 0);
    const unsigned requested = rd(0x052301);
    drv.write_C331(fd, 0x050901, 0, 0);
    const unsigned withdrawn = rd(0x052301);
    drv.write_C331(fd, 0x050801, 0x01, 0);
    drv.write_C331(fd, 0x040801, 1, 0);
    // Serial flash idle with its write buffer empty; drawing engine idle; both V-by-One
    // receivers locked.
    EXPECT_EQ((U{requested, withdrawn, rd(0x052201), rd(0x045301), rd(0x045401), rd(0x041701) & 1, rd(0xB26001)}),
              (U{0x24, 0, 0x01, 0x20, 0, 0, 0xA0}));
    // The field-status registers move on with the clock, not with every look.
    const unsigned a = rd(0xAB4801), again = rd(0xAB4801);
    sim::SimBoard::advanceVirtual(16667);
    EXPECT_EQ((U{again, rd(0xAB4801)}), (U{a, (((a & 3) + 1) & 3) * 5}));
    sim::ScalerModel::setFieldPhase(0x49, 2);
    EXPECT_EQ(rd(0xAB4901) & 3, (rd(0xAB4801) + 2) & 3);
    // A withheld done bit never comes.
    sim::ScalerModel::withholdDoneBits(0, 0x01);
    drv.write_C331(fd, 0x050901, 0x03, 0);
    EXPECT_EQ(rd(0x052301), 0x02u);

    // A status bit stuck busy stays busy whatever is written.
    sim::ScalerModel::setStuckBits(4, 0x17, 0x01);
    drv.write_C331(fd, 0x040801, 0, 0);
    EXPECT_EQ(rd(0x041701) & 1, 1u);
    // The frame log records bank selects and data frames as the chip decoded them.
    sim::ScalerModel::clearFrames();
    drv.write_C331(fd, 0x0C1001, 0x5A, 0);
    auto frames = sim::ScalerModel::frames();
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ((U{frames[0].isBankSelect(), unsigned(frames[0].value), unsigned(frames[1].bank), unsigned(frames[1].reg), unsigned(frames[1].value)}),
              (U{1, 0x0C, 0x0C, 0x10, 0x5A}));

    sim::SimBoard::reset();
    EXPECT_EQ(std::make_pair(int(sim::ScalerModel::reg(0x0C, 0x10)), sim::ScalerModel::frames().size()), std::make_pair(0, size_t(0)));
}
