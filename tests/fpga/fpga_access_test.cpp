// FPGA access: command words, transfer framing on the select lines, masked register
// writes through the shadow, the register-0 and register-2 side effects, RAM transfers.

#include "tests/fpga/fpga_fixture.h"

#include "fpga/fpga_drv.h"
#include "tests/support/LockWaiter.h"

#include <cstring>
#include <thread>

using fpga_test::FpgaFixture;
using sim::FpgaModel;
using Kind = sim::FpgaModel::OpKind;

class FpgaAccess : public FpgaFixture {};

namespace {
std::vector<uint8_t> le(uint32_t v) { return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)}; }
} // namespace

TEST(FpgaCommandWord, BitsOfRamAndRegisterWords)
{
    // RAM: bit 0 read, bits 1-4 op, bits 8-15 RAM, bits 16-27 address (low 12 bits only);
    // register: bits 16-23 register, bits 24-31 data (the mask), 0 for a read.
    EXPECT_EQ((std::vector<uint32_t>{fpga_manage::fpga_cmd_to_spi_data(1, 5, 0x1ABC, 1), fpga_manage::fpga_cmd_to_spi_data(1, 17, 0, 0),
                                     fpga_manage::fpga_reg_cmd_to_spi_data(2, 0, 0x84, 0, 0xF0),
                                     fpga_manage::fpga_reg_cmd_to_spi_data(2, 0, 0x84, 1, 0xF0)}),
              (std::vector<uint32_t>{0x0ABC0503u, 0x00001102u, 0xF0840004u, 0x00840005u}));
}

TEST_F(FpgaAccess, RegisterWriteIsCommandThenOneValueByteAndTheFpgaAppliesTheMask)
{
    FpgaModel::setReg(0, 0x55, 0xF0);
    ASSERT_EQ(manager->write_fpga_register(0x55, 0xA5, 0, 0x0F), 0);
    auto msgs = spi(1);
    ASSERT_EQ(msgs.size(), 2u);
    EXPECT_EQ((std::vector<std::vector<uint8_t>>{msgs[0].tx, msgs[1].tx}), (std::vector<std::vector<uint8_t>>{le(0x0F550004), {0xA5}}));
    // The masked value in the FPGA; both selects idle afterwards; the command-phase line left
    // at the data phase.
    EXPECT_EQ((std::vector<int>{FpgaModel::reg(0, 0x55), sim::SocModel::read16(fpga_manage::kGpioFpga0Select),
                                sim::SocModel::read16(fpga_manage::kGpioFpga1Select), sim::SocModel::read16(fpga_manage::kGpioFpga0Command)}),
              (std::vector<int>{0xF5, 16, 16, 0}));
}

TEST_F(FpgaAccess, RegisterReadAndRamRoundTrip)
{
    uint8_t id = 0;
    ASSERT_EQ(manager->read_fpga_register(31, &id, 0), 0);
    auto msgs = spi(1);
    ASSERT_EQ(msgs.size(), 2u);
    EXPECT_EQ(std::make_pair(int(id), msgs[1].tx), std::make_pair(33, std::vector<uint8_t>{0xFF}));
    // The shadow is refreshed by the links' threads too: a reader waits for its lock.
    manager->read_from_register(31, 0);
    {
        std::unique_lock<std::mutex> refresh(manager->reg_image_mutex);
        kel_test::LockWaiter reader([this] { EXPECT_EQ(manager->reg_shadow(31, 0), 33); });
        std::string why;
        EXPECT_TRUE(reader.waitsOnLock(&why)) << why;
        refresh.unlock();
    }

    unsigned char data[6] = {1, 2, 3, 4, 5, 6};
    ASSERT_EQ(manager->write_fpga_ram(data, 0x200, 6, 7, 0), 0);
    EXPECT_EQ(FpgaModel::ram(0, 7, 0x200, 6), std::vector<uint8_t>(data, data + 6));
    unsigned char back[6] = {};
    ASSERT_EQ(manager->read_fpga_ram(back, 0x202, 4, 7, 0), 0);
    EXPECT_EQ(std::vector<uint8_t>(back, back + 4), (std::vector<uint8_t>{3, 4, 5, 6}));

    // A read of nothing sends the command word and clocks no data.
    sim::SpiBusModel::clearLog();
    ASSERT_EQ(manager->read_fpga_ram(back, 0x10, 0, 1, 0), 0);
    msgs = spi(1);
    ASSERT_EQ(msgs.size(), 1u);
    EXPECT_EQ(msgs[0].tx, le(0x00100103));            // read, RAM 1, address 0x10
}

// RAM ranges end at 4096 without wrapping; FPGA 1 was never opened and an FPGA index above 1
// does not exist: such transfers fail without touching the bus.
TEST_F(FpgaAccess, TransfersOutsideTheRamOrTheOpenedFpgaAreRefused)
{
    unsigned char buf[16] = {};
    uint8_t v = 0x77;
    EXPECT_EQ((std::vector<int>{manager->read_fpga_ram(buf, 4090, 7, 1, 0), manager->write_fpga_ram(buf, 0xFFFFFFF0u, 16, 1, 0),
                                manager->read_fpga_register(31, &v, 1), manager->write_fpga_register(3, 1, 1, 0xFF),
                                manager->read_fpga_register(31, &v, 2), v, int(sim::SpiBusModel::log().size())}),
              (std::vector<int>{255, 255, 255, 255, 255, 0x77, 0}));
    EXPECT_EQ(manager->read_fpga_ram(buf, 4080, 16, 1, 0), 0);   // ends exactly at 4096
    EXPECT_EQ(spi(1).size(), 2u);
}

TEST_F(FpgaAccess, WithoutTheWindowTransfersAreRefused)
{
    manager.reset();
    sim::SocModel::setAvailable(false);
    manager = std::make_unique<fpga_manage>();
    fpga_manage::p_fpga_manage = manager.get();
    EXPECT_EQ(manager->initialize(), 255);
    EXPECT_EQ(manager->gpio_fpga0_cs, nullptr);
    sim::SpiBusModel::clearLog();
    uint8_t v = 0;
    manager->write_to_register(3, 0xFF, 1, 0);
    unsigned char buf[8] = {};
    // Register, RAM, and the configuration flash as well.
    EXPECT_EQ((std::vector<int>{manager->read_fpga_register(31, &v, 0), manager->read_fpga_ram(buf, 0, 8, 1, 0),
                                fpga_drv::FPGA_SPI_FLASH_VBYONE_READ(2, 0, 4, buf), fpga_drv::FPGA_SPI_FLASH_VBYONE_WRITE(2, 0, buf, 2),
                                int(sim::SpiBusModel::log().size())}),
              (std::vector<int>{255, 255, 0, 0, 0}));
}

TEST_F(FpgaAccess, ShadowOnlyAndIgnoredRegisterNumbers)
{
    for (int fpga : {0, 1, 2}) {                         // each FPGA its own shadow; there is no FPGA 2
        manager->write_to_register(96, 0xFF, 1, fpga);
        manager->write_to_register(64, 0x0F, 0xAB, fpga);
        manager->write_to_register(97, 0xFF, 0xFF, fpga);
        const std::vector<int> shadow{manager->reg_shadow(96, fpga), manager->reg_shadow(64, fpga),
                                      manager->reg_shadow(97, fpga)};
        EXPECT_EQ(shadow, (fpga < 2 ? std::vector<int>{1, 0x0B, 0} : std::vector<int>(3, 0))) << fpga;
    }
    for (int reg : {170, 255, -1})
        manager->write_to_register(reg, 0xFF, 0xFF, 0);
    manager->read_from_register(100, 0);
    manager->read_from_register(170, 0);
    EXPECT_TRUE(sim::SpiBusModel::log().empty());

    FpgaModel::setReg(0, 169, 0x3C);
    manager->read_from_register(169, 0);
    EXPECT_EQ(manager->reg_shadow(169, 0), 0x3C);
}

TEST_F(FpgaAccess, MaskedWriteRefreshesTheShadowThenSendsTheWholeByteWithTheMask)
{
    FpgaModel::setReg(0, 23, 0x40);
    manager->write_to_register(23, 0x01, 0x01, 0);
    auto log = FpgaModel::log(0);
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(std::vector<int>({int(log[0].kind), log[0].reg, int(log[1].kind), log[1].reg, log[1].mask, int(log[1].data.size()),
                                log[1].data.at(0), manager->reg_shadow(23, 0), FpgaModel::reg(0, 23)}),
              (std::vector<int>{int(Kind::RegisterRead), 23, int(Kind::RegisterWrite), 23, 0x01, 1, 0x41, 0x41, 0x41}));
}

// (The screen state and its copy for the PC follow the dark bit the FPGA took: the dark-state
// check of the bring-up tests.)
TEST_F(FpgaAccess, RegisterZeroMirrorsTheOutputEnableAndTheLatch)
{
    // Bit 3 is the output enable; bit 5 found clear while the status latch is up drops the
    // latch and asks for a size change.
    auto flags = [this] { return std::vector<int>({manager->output_enable, manager->status_latch, manager->size_change_request}); };
    manager->write_to_register(0, 0x08, 0x08, 0);
    manager->write_to_register(0, 0x20, 0x20, 0);
    EXPECT_EQ(flags(), (std::vector<int>{1, 1, 0}));
    manager->write_to_register(0, 0x08, 0x00, 0);
    manager->write_to_register(0, 0x20, 0x00, 0);
    EXPECT_EQ(flags(), (std::vector<int>{0, 0, 1}));
}

TEST_F(FpgaAccess, RegisterTwoNeverSendsBitsOneAndTwo)
{
    // A schedule command in the mailbox: one entry, kept in flash.
    const uint8_t command[13] = {0xAA, 2, 0xAA, 0, 0, 0, 5, 0, 1, 0x08, 0x00, 0x20, 0x00};
    std::memcpy(fpga_manage::MCU_RAM_CMD, command, sizeof command);
    manager->write_to_register(2, 0x0E, 0x0E, 0);
    // Bit 2 ran the mailbox and was cleared, bit 1 is always cleared: only bit 3 arrives;
    // the shadow keeps what was asked for.
    EXPECT_EQ((std::vector<int>{FpgaModel::reg(0, 2), manager->reg_shadow(66, 0), manager->reg_shadow(2, 0)}),
              (std::vector<int>{0x08, 1, 0x0E}));
    manager->write_to_0x00_register(2, 0x02, 0x02, 0);
    EXPECT_EQ(FpgaModel::reg(0, 2), 0x0A);
}

// The input manager drives FPGA 0's clock enable, which is its reset word, while a link reads
// the FPGA: every read is answered and the word stays as driven.
TEST_F(FpgaAccess, AResetWordDrivenBesideTransfersStaysDrivenAndEveryReadIsAnswered)
{
    std::thread input([this] {
        for (int i = 0; i < 200; ++i)
            manager->drive_line(fpga_manage::kGpioFpga0Reset, 16);
    });
    int answered = 0;
    for (int i = 0; i < 200; ++i) {
        uint8_t id = 0;
        answered += manager->read_fpga_register(31, &id, 0) == 0 && id == 33;
    }
    input.join();
    EXPECT_EQ((std::vector<int>{answered, sim::SocModel::read16(fpga_manage::kGpioFpga0Reset)}), (std::vector<int>{200, 16}));
}

// Each line that bring-up drives is found at the other level first.
TEST_F(FpgaAccess, BringUpWritesOfTheWindowLines)
{
    const struct {
        uint32_t offset;
        uint16_t level;
    } lines[] = {{0x207954, 16}, {0x207950, 16}, {0x207940, 0}, {0x207944, 0}, {0x1F1C, 1}};
    for (const auto& l : lines)
        sim::SocModel::write16(l.offset, l.level ? 0 : 16);
    ASSERT_EQ(manager->initialize(), 0);
    for (const auto& l : lines)
        EXPECT_EQ(sim::SocModel::read16(l.offset), l.level) << std::hex << l.offset;
    EXPECT_TRUE(manager->gpio_line(0x2848) == manager->gpio_sdi_rst && manager->gpio_line(sim::SocModel::kWindowLength) == nullptr &&
                manager->gpio_line(sim::SocModel::kWindowLength - 2) != nullptr);
}
