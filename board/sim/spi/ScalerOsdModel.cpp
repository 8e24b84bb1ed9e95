#include "board/sim/spi/ScalerOsdModel.h"

#include "board/sim/SimBoard.h"
#include "board/sim/spi/SparseMemory.h"

#include <algorithm>
#include <cstring>
#include <mutex>

namespace sim {

namespace {
// Drawing engine and list memory (bank 4).
constexpr int kCmd = 0x08, kColour = 0x0B, kSrc = 0x0D, kDst = 0x11, kDstPitch = 0x1B, kSrcPitch = 0x1C;
constexpr int kWidth = 0x1E, kHeight = 0x20, kFlags = 0x22, kFirst = 0x23, kLast = 0x24;
constexpr int kListAddr = 0x27, kListAddrTop = 0x28, kListData = 0x29, kRenderMode = 0x2A;
constexpr uint32_t kHeightEntry = 0xA00;
constexpr int kPaletteIndex = 0x1F, kPaletteData = 0x20;

struct State {
    SparseMemory memory{0, uint64_t(1) << 32};
    std::vector<uint8_t> list;   // the character list; empty (all zero) until first written
    uint32_t listPtr = 0;
    uint8_t palette[ScalerOsdModel::kPaletteSize] = {};
    uint32_t palettePtr = 0;
    uint32_t commands[4] = {};
};

uint8_t listByte(const State& s, uint32_t i)
{
    return s.list.empty() ? 0 : s.list[i % ScalerOsdModel::kListSize];
}

uint8_t& listByteToWrite(State& s, uint32_t i)
{
    if (s.list.empty())
        s.list.assign(ScalerOsdModel::kListSize, 0);
    return s.list[i % ScalerOsdModel::kListSize];
}

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

uint32_t reg16(const uint8_t* b, int r) { return uint32_t(b[r]) | uint32_t(b[r + 1]) << 8; }
uint32_t reg32(const uint8_t* b, int r) { return reg16(b, r) | reg16(b, r + 2) << 16; }

void fillCmd(State& s, const uint8_t* b)
{
    const uint32_t w = reg16(b, kWidth) + 1, h = reg16(b, kHeight) + 1;
    const uint32_t pitch = b[kDstPitch] * ((b[kFlags] & 0x10) ? 512u : 128u);
    for (uint32_t y = 0; y < h; ++y)
        s.memory.fill(reg32(b, kDst) + y * pitch, b[kColour], w);
}

void copyCmd(State& s, const uint8_t* b)
{
    const uint32_t w = reg16(b, kWidth) + 1, h = reg16(b, kHeight) + 1;
    const uint32_t dp = b[kDstPitch] * ((b[kFlags] & 0x10) ? 512u : 128u);
    const uint32_t sp = b[kSrcPitch] * ((b[kFlags] & 0x20) ? 512u : 128u);
    for (uint32_t y = 0; y < h; ++y)
        s.memory.copyFrom(s.memory, reg32(b, kSrc) + y * sp, reg32(b, kDst) + y * dp, w);
}

void renderCmd(State& s, const uint8_t* b)
{
    const bool dot64 = b[kRenderMode] == 0x48;
    const uint32_t rowBytes = dot64 ? 8 : 4, glyphBytes = dot64 ? 512 : 128;
    const uint8_t hb = listByte(s, kHeightEntry);
    const uint32_t rows = uint32_t(hb & 0x7F) + 1, scaleY = (hb & 0x80) ? 2 : 1;
    const uint32_t pitch = b[kDstPitch] * ((b[kFlags] & 0x10) ? 512u : 128u);
    const uint32_t font = reg32(b, kSrc);
    uint32_t x = reg32(b, kDst);
    for (uint32_t e = b[kFirst]; e <= b[kLast]; ++e) {
        uint8_t entry[5];
        for (uint32_t i = 0; i < 5; ++i)
            entry[i] = listByte(s, 5 * e + i);
        const uint32_t glyph = font + (uint32_t(entry[0]) | uint32_t(entry[1]) << 8) * glyphBytes;
        const uint32_t cols = uint32_t(entry[4] & 0x7F) + 1, scaleX = (entry[4] & 0x80) ? 2 : 1;
        std::vector<uint8_t> bits(glyphBytes);
        s.memory.read(glyph, bits.data(), glyphBytes);
        for (uint32_t r = 0; r < rows; ++r)
            for (uint32_t c = 0; c < cols; ++c) {
                const uint32_t at = (r % (glyphBytes / rowBytes)) * rowBytes + (c / 8) % rowBytes;
                const uint8_t pixel = (bits[at] >> (c % 8)) & 1 ? entry[2] : entry[3];
                for (uint32_t dy = 0; dy < scaleY; ++dy)
                    for (uint32_t dx = 0; dx < scaleX; ++dx)
                        s.memory.set(x + c * scaleX + dx + (r * scaleY + dy) * pitch, pixel);
            }
        x += cols * scaleX;
    }
}

struct Registrar {
    Registrar() { SimBoard::addResetHook([] { ScalerOsdModel::reset(); }); }
} g_registrar;
} // namespace

void ScalerOsdModel::registerWritten(uint8_t (*regs)[128], int bank, int reg, uint8_t value)
{
    std::lock_guard<std::mutex> hold(lock());
    State& s = state();
    const uint8_t* b4 = regs[4];
    if (bank == 9) {
        if (reg == kPaletteIndex)
            s.palettePtr = 3u * value;
        else if (reg == kPaletteData && s.palettePtr < kPaletteSize)
            s.palette[s.palettePtr++] = value;
        return;
    }
    if (bank != 4)
        return;
    if (reg == kListAddrTop) {
        s.listPtr = reg16(b4, kListAddr);
    } else if (reg == kListData) {
        listByteToWrite(s, s.listPtr) = value;
        s.listPtr = (s.listPtr + 1) % kListSize;
    } else if (reg == kCmd && value >= 1 && value <= 3) {
        ++s.commands[value];
        if (value == 1)
            fillCmd(s, b4);
        else if (value == 2)
            copyCmd(s, b4);
        else
            renderCmd(s, b4);
    }
}

void ScalerOsdModel::dmaFrom(const SparseMemory& flash, uint32_t address, int kind, uint32_t dest, uint32_t len)
{
    std::lock_guard<std::mutex> hold(lock());
    State& s = state();
    if (kind == 0) {
        s.memory.copyFrom(flash, address, dest, len);
    } else if (kind == 1) {
        for (uint32_t i = 0; i < len && i < kListSize; ++i)
            listByteToWrite(s, dest + i) = flash.get(address + i);
    } else if (kind == 4) {
        for (uint32_t i = 0; i < len && 3 * dest + i < kPaletteSize; ++i)
            s.palette[3 * dest + i] = flash.get(address + i);
    }
}

std::vector<uint8_t> ScalerOsdModel::memory(uint32_t address, uint32_t length)
{
    std::vector<uint8_t> out(length);
    std::lock_guard<std::mutex> hold(lock());
    state().memory.read(address, out.data(), length);
    return out;
}

void ScalerOsdModel::setMemory(uint32_t address, const std::vector<uint8_t>& bytes)
{
    std::lock_guard<std::mutex> hold(lock());
    state().memory.write(address, bytes.data(), uint32_t(bytes.size()));
}

std::vector<uint8_t> ScalerOsdModel::charList(uint32_t address, uint32_t length)
{
    std::vector<uint8_t> out(length);
    std::lock_guard<std::mutex> hold(lock());
    for (uint32_t i = 0; i < length; ++i)
        out[i] = listByte(state(), address + i);
    return out;
}

std::vector<uint8_t> ScalerOsdModel::palette(uint32_t index, uint32_t entries)
{
    std::vector<uint8_t> out;
    std::lock_guard<std::mutex> hold(lock());
    for (uint32_t i = 3 * index; i < 3 * (index + entries) && i < kPaletteSize; ++i)
        out.push_back(state().palette[i]);
    return out;
}

uint32_t ScalerOsdModel::commandCount(int command)
{
    std::lock_guard<std::mutex> hold(lock());
    return command >= 1 && command <= 3 ? state().commands[command] : 0;
}

size_t ScalerOsdModel::storedPages()
{
    std::lock_guard<std::mutex> hold(lock());
    return state().memory.storedPages();
}

void ScalerOsdModel::reset()
{
    std::lock_guard<std::mutex> hold(lock());
    State& s = state();
    s.memory.clear();
    std::vector<uint8_t>().swap(s.list);
    s.listPtr = 0;
    std::memset(s.palette, 0, sizeof s.palette);
    s.palettePtr = 0;
    std::memset(s.commands, 0, sizeof s.commands);
}

} // namespace sim
