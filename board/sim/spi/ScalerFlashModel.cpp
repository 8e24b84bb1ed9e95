#include "board/sim/spi/ScalerFlashModel.h"

#include "board/sim/SimBoard.h"
#include "board/sim/spi/ScalerOsdModel.h"
#include "board/sim/spi/SparseMemory.h"

#include <mutex>

namespace sim {

namespace {
// Controller registers (bank 4).
constexpr int kMode = 0x47, kCmd = 0x48, kProgOp = 0x49, kReadOp = 0x4A, kOp = 0x4B, kWrenOp = 0x4C, kRdsrOp = 0x4D;
constexpr int kAddr = 0x4E, kAddrTop = 0x51, kRdsr = 0x55;
constexpr int kData = 0x52, kDtCtl = 0x53, kDmaLen = 0x56, kDmaKind = 0x5A;
constexpr int kDmaDest = 0x11, kListAddr = 0x27;
constexpr int kPaletteBank = 9, kPaletteIndex = 0x1F;
constexpr uint8_t kModeBytes = 0x31, kModeErase = 0x01, kModeDma = 0x33, kModeDmaList = 0x37;
constexpr size_t kOpLimit = 100000;
constexpr uint8_t kWel = 0x02;             // write enable latch in the flash's status register
constexpr uint8_t kWriteDisable = 0x04;

// The flash answers only through pins set up for it (bank 5): 0x42 = 0x000055, 0x3C and
// 0x3E = 0x0300, 0x45 = 0x03FF.
bool pinsSetUp(uint8_t (*regs)[128])
{
    const uint8_t* b5 = regs[5];
    return b5[0x42] == 0x55 && b5[0x43] == 0 && b5[0x44] == 0 && b5[0x3C] == 0x00 && b5[0x3D] == 0x03 &&
           b5[0x3E] == 0x00 && b5[0x3F] == 0x03 && b5[0x45] == 0xFF && b5[0x46] == 0x03;
}
// The opcodes the controller sends for a program or erase: write enable 0x06 first, then
// the status read 0x05 while it polls.
bool writeOpcodes(const uint8_t* b4)
{
    return b4[kWrenOp] == 0x06 && b4[kRdsrOp] == 0x05;
}

struct State {
    SparseMemory flash{0xFF, ScalerFlashModel::kSize};
    uint32_t address = 0;          // as last set
    std::vector<uint8_t> buffer;   // page buffer since then
    uint32_t readPtr = 0;
    bool readGarbled = false;      // a read started with the wrong opcode or pins
    std::vector<ScalerFlashModel::Op> ops;
};

std::mutex& lock()
{
    static std::mutex m;
    return m;
}
State& state()
{
    static State s;
    return s;
}

uint32_t reg32(const uint8_t* bank, int first)
{
    return uint32_t(bank[first]) | uint32_t(bank[first + 1]) << 8 | uint32_t(bank[first + 2]) << 16 |
           uint32_t(bank[first + 3]) << 24;
}

void log(State& s, char kind, uint32_t address, uint32_t length)
{
    if (!SimBoard::recording())
        return;
    if (s.ops.size() >= kOpLimit)
        s.ops.erase(s.ops.begin(), s.ops.begin() + kOpLimit / 2);
    s.ops.push_back({kind, address, length});
}

// The buffered bytes go to the page of the old address, wrapping within it like the part;
// only with the page-program opcode 0x12 after a write enable. The part leaves its write
// enable latch set, for the controller to clear with the write-disable command.
void program(State& s, uint8_t (*regs)[128])
{
    if (s.buffer.empty())
        return;
    if (regs[4][kProgOp] != 0x12 || !writeOpcodes(regs[4]) || !pinsSetUp(regs)) {
        s.buffer.clear();
        return;
    }
    regs[4][kRdsr] |= kWel;
    const uint32_t start = s.address % ScalerFlashModel::kSize;
    const uint32_t page = start & ~(ScalerFlashModel::kPage - 1);
    const size_t n = s.buffer.size();
    const size_t keep = n > ScalerFlashModel::kPage ? ScalerFlashModel::kPage : n;
    for (size_t i = n - keep; i < n; ++i) {
        const uint32_t at = page | ((start + uint32_t(i)) & (ScalerFlashModel::kPage - 1));
        s.flash.andBytes(at, &s.buffer[i], 1);
    }
    log(s, 'P', start, uint32_t(n));
    s.buffer.clear();
}

uint32_t eraseUnit(uint8_t opcode)
{
    switch (opcode) {
    case 0x20: return 0x1000;
    case 0x52: return 0x8000;
    case 0xD8: return 0x10000;
    default: return 0;
    }
}

struct Registrar {
    Registrar() { SimBoard::addResetHook([] { ScalerFlashModel::reset(); }); }
} g_registrar;
} // namespace

void ScalerFlashModel::registerWritten(uint8_t (*regs)[128], int reg, uint8_t value)
{
    std::lock_guard<std::mutex> hold(lock());
    State& s = state();
    const uint8_t* b4 = regs[4];
    const uint8_t mode = b4[kMode];
    if (reg == kAddrTop) {
        program(s, regs);
        s.address = reg32(b4, kAddr);
    } else if (reg == kData) {
        if (mode == kModeBytes)
            s.buffer.push_back(value);
    } else if (reg == kDtCtl) {
        if ((value & 1) && mode == kModeBytes) {
            s.readPtr = s.address % kSize;
            s.readGarbled = b4[kReadOp] != 0x0C || !pinsSetUp(regs);
            log(s, 'R', s.readPtr, 0);
        }
    } else if (reg == kCmd) {
        if (value == 5 && b4[kOp] == kWriteDisable) {
            regs[4][kRdsr] &= uint8_t(~kWel);
        } else if (value == 4 && mode == kModeErase) {
            const uint32_t unit = eraseUnit(b4[kOp]);
            if (unit && writeOpcodes(b4) && pinsSetUp(regs)) {
                regs[4][kRdsr] |= kWel;
                const uint32_t start = (s.address % kSize) & ~(unit - 1);
                s.flash.fill(start, 0xFF, unit);
                log(s, 'E', start, unit);
            }
        } else if (value == 2 && (mode == kModeDma || mode == kModeDmaList) && b4[kReadOp] == 0x0C &&
                   pinsSetUp(regs)) {
            const uint32_t from = s.address % kSize;
            const uint32_t len = reg32(b4, kDmaLen) & 0x7FFFFFFF;
            const int kind = b4[kDmaKind] & 0x0F;
            uint32_t dest = 0;
            if (kind == 0)
                dest = reg32(b4, kDmaDest);
            else if (kind == 1)
                dest = uint32_t(b4[kListAddr]) | uint32_t(b4[kListAddr + 1]) << 8;
            else if (kind == 4)
                dest = regs[kPaletteBank][kPaletteIndex];
            ScalerOsdModel::dmaFrom(s.flash, from, kind, dest, len);
            log(s, 'D', from, len);
        }
    }
}

uint8_t ScalerFlashModel::dataPortRead()
{
    std::lock_guard<std::mutex> hold(lock());
    State& s = state();
    const uint8_t v = s.readGarbled ? 0x00 : s.flash.get(s.readPtr);
    s.readPtr = (s.readPtr + 1) % kSize;
    return v;
}

std::vector<uint8_t> ScalerFlashModel::read(uint32_t address, uint32_t length)
{
    std::vector<uint8_t> out(length);
    std::lock_guard<std::mutex> hold(lock());
    state().flash.read(address, out.data(), length);
    return out;
}

void ScalerFlashModel::write(uint32_t address, const std::vector<uint8_t>& bytes)
{
    std::lock_guard<std::mutex> hold(lock());
    state().flash.write(address, bytes.data(), uint32_t(bytes.size()));
}

std::vector<ScalerFlashModel::Op> ScalerFlashModel::ops()
{
    std::lock_guard<std::mutex> hold(lock());
    return state().ops;
}

void ScalerFlashModel::clearOps()
{
    std::lock_guard<std::mutex> hold(lock());
    state().ops.clear();
}

void ScalerFlashModel::reset()
{
    std::lock_guard<std::mutex> hold(lock());
    State& s = state();
    s.flash.clear();
    s.address = 0;
    s.buffer.clear();
    s.readPtr = 0;
    s.readGarbled = false;
    s.ops.clear();
}

} // namespace sim
