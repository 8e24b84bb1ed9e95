// The FPGA configuration flash through fpga_drv: range limits, page splitting, read
// chunks, erase and program against the 25-series model, the busy time-out.

#include "tests/fpga/fpga_fixture.h"

#include "board/Clock.h"
#include "fpga/fpga_drv.h"

#include <fstream>

using fpga_test::FpgaFixture;
using sim::FpgaFlashModel;

class FpgaFlash : public FpgaFixture {};

namespace {

constexpr int kFlashCs = 3;      // FPGA 0's configuration flash

struct Command {
    uint8_t opcode;
    uint32_t address;
    size_t length;               // bytes of the whole message
    bool operator==(const Command& o) const
    {
        return opcode == o.opcode && address == o.address && length == o.length;
    }
};
void PrintTo(const Command& c, std::ostream* os)
{
    *os << std::hex << int(c.opcode) << "@" << c.address << "+" << std::dec << c.length;
}

// The flash commands on the bus, without the status polls and write enables.
std::vector<Command> commands(uint8_t opcode)
{
    std::vector<Command> out;
    for (auto& r : sim::SpiBusModel::log()) {
        if (r.chipSelect != kFlashCs || r.tx.empty() || r.tx[0] != opcode)
            continue;
        uint32_t a = r.tx.size() >= 4 ? (uint32_t(r.tx[1]) << 16 | uint32_t(r.tx[2]) << 8 | r.tx[3]) : 0;
        out.push_back({r.tx[0], a, r.tx.size()});
    }
    return out;
}

std::vector<unsigned char> pattern(size_t n, unsigned seed)
{
    std::vector<unsigned char> v(n);
    for (size_t i = 0; i < n; ++i)
        v[i] = (unsigned char)((i * 7 + seed) & 0xFF);
    return v;
}

// Writes through the driver: 4 bytes of work space, then the data.
unsigned char program(uint32_t address, const std::vector<unsigned char>& data)
{
    std::vector<unsigned char> work(data.size() + 4);
    std::copy(data.begin(), data.end(), work.begin() + 4);
    return fpga_drv::FPGA_SPI_FLASH_VBYONE_WRITE(2, address, work.data(), unsigned(data.size()));
}

} // namespace

TEST_F(FpgaFlash, RangesAreLimitedAtTheEndOfTheFlash)
{
    auto erase = [](unsigned sector, int kind, unsigned count) { return int(fpga_drv::FPGA_SPI_FLASH_VBYONE_ERASE(2, sector, uint8_t(kind), count)); };
    EXPECT_EQ(erase(2032, 2, 1), 1);   // ends at sector 2048
    sim::SpiBusModel::clearLog();
    // Past the end, an unknown kind, and counts that would wrap a 32-bit sum: refused unsent.
    EXPECT_EQ((std::vector<int>{erase(2032, 2, 2), erase(2040, 1, 2), erase(2048, 0, 1), erase(0, 3, 1), erase(16, 2, 0xF0000000u),
                                erase(0xFFFFFFFFu, 0, 1), int(sim::SpiBusModel::log().size())}),
              (std::vector<int>{0, 0, 0, 0, 0, 0, 0}));
    // The last sector, and a count of 0 that erases nothing.
    EXPECT_EQ((std::vector<int>{erase(2047, 0, 1), erase(2047, 0, 0), int(FpgaFlashModel::eraseCount(0))}), (std::vector<int>{1, 1, 2}));

    // Reads and programs end at 8 MiB as well.
    std::vector<unsigned char> out(16);
    auto read = [&out](unsigned address, unsigned n) { return int(fpga_drv::FPGA_SPI_FLASH_VBYONE_READ(2, address, n, out.data())); };
    EXPECT_EQ((std::vector<int>{read(0x800000 - 16, 16), program(0x800000 - 16, pattern(16, 4))}), (std::vector<int>{1, 1}));
    EXPECT_EQ(FpgaFlashModel::read(0, 0x800000 - 16, 16), pattern(16, 4));
    sim::SpiBusModel::clearLog();
    EXPECT_EQ((std::vector<int>{read(0x800000 - 15, 16), program(0x800000 - 15, pattern(16, 4)), read(0xFFFFFFF0u, 32), read(0, 0),
                                program(0, {}), int(sim::SpiBusModel::log().size())}),
              (std::vector<int>{0, 0, 0, 0, 0, 0}));
}

TEST_F(FpgaFlash, EraseUnitsAndAddressesOfEachKind)
{
    // Kind 2: 32 KiB blocks from a sector number, each after its own single-byte write enable.
    EXPECT_EQ(fpga_drv::FPGA_SPI_FLASH_VBYONE_ERASE(2, 24, 1, 2), 1);
    EXPECT_EQ(commands(0x52), (std::vector<Command>{{0x52, 24 * 4096, 4}, {0x52, 24 * 4096 + 32768, 4}}));
    size_t enables = 0;
    for (auto& r : sim::SpiBusModel::log())
        enables += r.chipSelect == kFlashCs && r.tx == std::vector<uint8_t>{0x06};
    EXPECT_EQ(enables, 2u);
    EXPECT_EQ(fpga_drv::FPGA_SPI_FLASH_VBYONE_ERASE(2, 48, 2, 2), 1);   // 64 KiB = 16 sectors each
    EXPECT_EQ(commands(0xD8), (std::vector<Command>{{0xD8, 48 * 4096, 4}, {0xD8, 64 * 4096, 4}}));
    EXPECT_EQ(fpga_drv::FPGA_SPI_FLASH_VBYONE_ERASE(2, 5, 0, 3), 1);
    EXPECT_EQ(commands(0x20), (std::vector<Command>{{0x20, 5 * 4096, 4}, {0x20, 6 * 4096, 4}, {0x20, 7 * 4096, 4}}));
    // The select lines are idle again afterwards.
    for (uint32_t line : {fpga_manage::kGpioFpga0FlashSelect, fpga_manage::kGpioFpga0Select, fpga_manage::kGpioFpga1Select})
        EXPECT_EQ(sim::SocModel::read16(line), 16) << line;
}

// Page programs never cross a 256-byte page, each after its own write enable; reads come in
// chunks of 2048 bytes.
TEST_F(FpgaFlash, WritesAreSplitAtPageBoundariesAndReadsComeInChunks)
{
    const struct {
        uint32_t address;
        size_t n;
        std::vector<Command> pages;
    } rows[] = {{0x1F0, 300, {{0x02, 0x1F0, 4 + 16}, {0x02, 0x200, 4 + 256}, {0x02, 0x300, 4 + 28}}},
                {0x1000, 256, {{0x02, 0x1000, 260}}},
                {0x2010, 20, {{0x02, 0x2010, 24}}}};
    for (const auto& r : rows) {
        sim::SpiBusModel::clearLog();
        const auto data = pattern(r.n, unsigned(r.address));
        EXPECT_EQ(program(r.address, data), 1);
        EXPECT_EQ(std::make_pair(commands(0x02), commands(0x06).size()), std::make_pair(r.pages, r.pages.size()));
        EXPECT_EQ(FpgaFlashModel::read(0, r.address, uint32_t(r.n)), data);
    }

    FpgaFlashModel::write(0, 0x10000, pattern(5000, 9));
    std::vector<unsigned char> out(5000);
    sim::SpiBusModel::clearLog();
    EXPECT_EQ(fpga_drv::FPGA_SPI_FLASH_VBYONE_READ(2, 0x10000, 4096, out.data()), 1);
    EXPECT_EQ(commands(0x0B), (std::vector<Command>{{0x0B, 0x10000, 2053}, {0x0B, 0x10000 + 2048, 2053}}));
    sim::SpiBusModel::clearLog();
    EXPECT_EQ(fpga_drv::FPGA_SPI_FLASH_VBYONE_READ(2, 0x10000, 5000, out.data()), 1);
    EXPECT_EQ(commands(0x0B), (std::vector<Command>{{0x0B, 0x10000, 2053}, {0x0B, 0x10000 + 2048, 2053},
                                                    {0x0B, 0x10000 + 4096, 909}}));
    EXPECT_EQ(out, pattern(5000, 9));
}

TEST_F(FpgaFlash, ProgramOnlyClearsBitsAndEraseSetsThemAgain)
{
    EXPECT_EQ((std::vector<int>{program(0x5000, {0xF0, 0x3C}), program(0x5000, {0x0F, 0xFF})}), (std::vector<int>{1, 1}));
    EXPECT_EQ(FpgaFlashModel::read(0, 0x5000, 2), (std::vector<uint8_t>{0x00, 0x3C}));
    // Into the next sector, then the first erased.
    EXPECT_EQ((std::vector<int>{program(0x5FFE, {0x11, 0x22, 0x33, 0x44}), fpga_drv::FPGA_SPI_FLASH_VBYONE_ERASE(2, 5, 0, 1)}),
              (std::vector<int>{1, 1}));
    EXPECT_EQ(FpgaFlashModel::read(0, 0x5000, 4096), std::vector<uint8_t>(4096, 0xFF));
    EXPECT_EQ(FpgaFlashModel::read(0, 0x6000, 2), (std::vector<uint8_t>{0x33, 0x44}));
}

TEST_F(FpgaFlash, ContentSurvivesARestartThroughItsFile)
{
    EXPECT_EQ(program(0x334000, {0xAA, 0x5A, 0xA5}), 1);
    FpgaFlashModel::reload();
    std::vector<unsigned char> out(3);
    EXPECT_EQ(fpga_drv::FPGA_SPI_FLASH_VBYONE_READ(2, 0x334000, 3, out.data()), 1);
    EXPECT_EQ(out, (std::vector<unsigned char>{0xAA, 0x5A, 0xA5}));
    std::ifstream file(FpgaFlashModel::file(0), std::ios::binary);
    ASSERT_TRUE(file.good());
    file.seekg(0x334000);
    char c = 0;
    file.get(c);
    EXPECT_EQ(uint8_t(c), 0xAA);
}

TEST_F(FpgaFlash, AFlashThatStaysBusyEndsTheOperationAfterTheTimeLimit)
{
    FpgaFlashModel::setStuckBusy(true);
    const uint64_t start = board::Clock::monotonicUs();
    EXPECT_EQ(fpga_drv::FPGA_SPI_FLASH_VBYONE_ERASE(2, 10, 2, 1), 0);
    const uint64_t waited = board::Clock::monotonicUs() - start;
    EXPECT_GE(waited, uint64_t(fpga_drv::kBusyLimitMs) * 1000);
    EXPECT_LT(waited, uint64_t(fpga_drv::kBusyLimitMs) * 1000 + 100000);
    // The lock is free again and the later operations fail the same way.
    EXPECT_EQ((std::vector<int>{program(0x100, {1}), sim::SocModel::read16(fpga_manage::kGpioFpga0FlashSelect)}), (std::vector<int>{0, 16}));
    FpgaFlashModel::setStuckBusy(false);

    // The limit outlasts a slow part's 64 KiB erase (2 s).
    sim::SimBoard::setScenario("fpga.flash.erase64k_us", "2000000");   // a slow part: 2 s
    const auto before = FpgaFlashModel::eraseCount(0);
    EXPECT_EQ((std::vector<unsigned>{fpga_drv::FPGA_SPI_FLASH_VBYONE_ERASE(2, 32, 2, 2), FpgaFlashModel::eraseCount(0) - before}),
              (std::vector<unsigned>{1, 2}));
}

TEST_F(FpgaFlash, UniqueIdAndTheUnopenedSecondFlash)
{
    EXPECT_EQ(fpga_drv::initialize_vbyne1(4), -1);      // devices 0 to 3 only
    FpgaFlashModel::setUniqueId(0, {1, 2, 3, 4, 5, 6, 7, 8});
    unsigned char id[8] = {};
    EXPECT_EQ(fpga_drv::FPGA_SPI_FLASH_SSTF016B_RD_UID(2, id), 1);
    EXPECT_EQ(std::vector<unsigned char>(id, id + 8), (std::vector<unsigned char>{1, 2, 3, 4, 5, 6, 7, 8}));
    auto msgs = spi(kFlashCs);
    ASSERT_EQ(msgs.size(), 1u);
    EXPECT_EQ(msgs[0].tx, (std::vector<uint8_t>{0x4B, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));

    // FPGA 1's flash was never opened: every operation fails without touching the bus.
    sim::SpiBusModel::clearLog();
    std::vector<unsigned char> out(4, 0x11), work(8);
    EXPECT_EQ((std::vector<int>{fpga_drv::FPGA_SPI_FLASH_VBYONE_READ(3, 0, 4, out.data()), fpga_drv::FPGA_SPI_FLASH_VBYONE_ERASE(3, 0, 0, 1),
                                fpga_drv::FPGA_SPI_FLASH_VBYONE_WRITE(3, 0, work.data(), 4), int(sim::SpiBusModel::log().size())}),
              (std::vector<int>{0, 0, 0, 0}));
    EXPECT_EQ(out, std::vector<unsigned char>(4, 0x11));
}
