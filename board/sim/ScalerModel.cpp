#include "board/sim/ScalerModel.h"

#include "board/Clock.h"
#include "board/sim/InputTiming.h"
#include "board/sim/SimBoard.h"
#include "board/sim/SpiBusModel.h"
#include "board/sim/spi/ScalerFlashModel.h"
#include "board/sim/spi/ScalerOsdModel.h"

#include <cstring>
#include <mutex>
#include <string>

namespace sim {

namespace {
constexpr int kBanks = 256;
constexpr int kRegs = 128;
constexpr size_t kFrameLimit = 1000000;   // frames kept; the oldest half goes when full

// Register map the model gives behaviour to (bank, register).
constexpr int kIdBank = 0xB2, kIdReg = 0x08;
constexpr int kVboLockBank = 0xB2, kVboLockReg = 0x60;    // bit 5 + 2ch: receiver ch locked
constexpr int kEngineBank = 4;
constexpr int kEngineCmd = 0x08;                          // drawing command, 0 = none
constexpr int kEngineStatus = 0x17;                       // bit 0 busy
constexpr int kSflDtCtl = 0x53;                           // bit 7 read pending, bit 5 WEMPTY
constexpr int kSflStat = 0x54;                            // bits 0/1/3 DMA/program/erase busy
constexpr int kSflRdsr = 0x55;                            // flash status: WIP, WEL
constexpr int kSflData = 0x52;                            // flash data port
constexpr int kPaletteBank = 9;                           // OSD palette ports 0x1F/0x20
constexpr int kUpdBank = 5;
constexpr int kInVsReq = 0x08, kOutUpdReq = 0x09;         // request bits per channel
constexpr int kInVsDone = 0x22, kOutUpdDone = 0x23;       // done bits follow the requests
constexpr int kFieldBank = 0xAB;                          // 0x40-0x4F: field status
constexpr int kMeasBank = 0xAE, kActBank = 0xAF, kVboActBank = 0xB1;
constexpr uint64_t kFieldUs = 16667;                      // one field at 60 Hz
constexpr int kChStatusBank = 0xA8;                     // 0x3E + 5 ICH: 0xFF = no input

struct State {
    uint8_t regs[kBanks][kRegs];
    std::vector<uint8_t> stuck;   // bank * kRegs + reg; empty while no bit is held stuck
    int bank = 0;
    uint8_t chipId = ScalerModel::kChipId;
    int fieldOffset[16] = {};
    uint8_t withheldIn = 0, withheldOut = 0;   // done bits that never come
    std::vector<ScalerFrame> frames;
    ScalerModel::Hold holds[8];
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

void defaults(State& s)
{
    std::memset(s.regs, 0, sizeof s.regs);
    std::vector<uint8_t>().swap(s.stuck);
    s.bank = 0;
    s.chipId = ScalerModel::kChipId;
    for (int& o : s.fieldOffset)
        o = 0;
    s.withheldIn = s.withheldOut = 0;
    s.frames.clear();
    for (auto& h : s.holds)
        h = ScalerModel::Hold();
    s.regs[kEngineBank][kSflDtCtl] = 0x20;                // write buffer empty, no read pending
    s.regs[kVboLockBank][kVboLockReg] = 0xA0;             // both V-by-One receivers locked
}

// --- input measurement -------------------------------------------------------------

struct Signal {
    bool present = false;
    bool interlaced = false;
    uint32_t hact = 0, vact = 0, htotal = 0, vtotal = 0, hz = 0;
};

int receiverOfPort(int port)
{
    switch (port) {
    case 0: return 2;
    case 1: return 1;
    case 2: return 0;
    case 5: return 3;
    default: return -1;
    }
}

Signal signalOfPort(int port)
{
    Signal s;
    const int d = receiverOfPort(port);
    if (d < 0)
        return s;
    const InputTiming t = inputTiming(d);
    s.present = t.present;
    s.interlaced = t.interlaced;
    s.hact = t.hact;
    s.vact = t.vact;
    s.htotal = t.htotal;
    s.vtotal = t.vtotal;
    s.hz = t.hz;
    return s;
}

// The port an input channel takes its picture from (bank 0 register 0x10 + ICH holds the
// source code: 2 x port for ports 0-3, 8-11 the first V-by-One port, 12-15 the second).
int portOfCode(uint8_t code)
{
    if (code < 8)
        return code / 2;
    return code < 12 ? 4 : code < 16 ? 5 : -1;
}

// The chip counts the frame period (FVM) and the line period (FHW) in 200 MHz clocks; the
// registers hold the count minus one, as they hold HTOTAL minus one. Without a signal the
// counters run out: all ones.
struct Counts {
    uint32_t htotal, vtotal, fhw, fvm, acthw;
};

Counts countsOf(const Signal& s)
{
    if (!s.present)
        return {0xFFFF, 0, 0xFFFF, 0xFFFFFF, 0};
    uint32_t fvm = ScalerModel::kMeasureClockHz / s.hz;
    uint32_t fhw = fvm / s.vtotal;
    return {(s.htotal - 1) & 0xFFFF, s.vtotal & 0xFFFF, (fhw ? fhw - 1 : 0) & 0xFFFF,
            (fvm - 1) & 0xFFFFFF, s.hact & 0xFFFF};
}

uint8_t byteOf(uint32_t value, int i) { return uint8_t(value >> (8 * i)); }

// Returns true and the byte when (bank, reg) is a measurement register.
bool measured(int bank, int reg, uint8_t& out)
{
    if (bank == kMeasBank) {
        for (int p = 0; p < 4; ++p) {
            Counts c = countsOf(signalOfPort(p));
            if (reg >= 0x08 + 2 * p && reg < 0x0A + 2 * p) { out = byteOf(c.htotal, reg - 0x08 - 2 * p); return true; }
            if (reg >= 0x20 + 2 * p && reg < 0x22 + 2 * p) { out = byteOf(c.vtotal, reg - 0x20 - 2 * p); return true; }
            if (reg >= 0x38 + 2 * p && reg < 0x3A + 2 * p) { out = byteOf(c.fhw, reg - 0x38 - 2 * p); return true; }
            if (reg >= 0x50 + 3 * p && reg < 0x53 + 3 * p) { out = byteOf(c.fvm, reg - 0x50 - 3 * p); return true; }
        }
        for (int v = 0; v < 2; ++v) {
            Counts c = countsOf(signalOfPort(4 + v));
            if (reg >= 0x10 + 8 * v && reg < 0x12 + 8 * v) { out = byteOf(c.htotal, reg - 0x10 - 8 * v); return true; }
            if (reg >= 0x28 + 8 * v && reg < 0x2A + 8 * v) { out = byteOf(c.vtotal, reg - 0x28 - 8 * v); return true; }
            // Four lanes: each lane counts the line (2 bytes) and frame (3 bytes) period.
            if (reg >= 0x40 + 8 * v && reg < 0x48 + 8 * v) { out = byteOf(c.fhw, (reg - 0x40 - 8 * v) % 2); return true; }
            if (reg >= 0x5C + 12 * v && reg < 0x68 + 12 * v) { out = byteOf(c.fvm, (reg - 0x5C - 12 * v) % 3); return true; }
        }
        return false;
    }
    if (bank == kActBank) {
        for (int p = 0; p < 4; ++p)
            if (reg >= 0x08 + 2 * p && reg < 0x0A + 2 * p) {
                out = byteOf(countsOf(signalOfPort(p)).acthw, reg - 0x08 - 2 * p);
                return true;
            }
        return false;
    }
    if (bank == kChStatusBank) {
        // Register 0x3E + 5 x ICH reads 0xFF while the channel's source carries nothing,
        // so a wait for its vertical sync is not started.
        for (int ich = 0; ich < 8; ++ich)
            if (reg == 0x3E + 5 * ich) {
                const int port = portOfCode(state().regs[0][0x10 + ich]);
                out = (port < 0 || !signalOfPort(port).present) ? 0xFF : 0;
                return true;
            }
    }
    // The channel's own measurement, bank 0xA8 + 6 x ICH: the frame's line total less one
    // (0x08, 2 bytes) and the active width (0x0A, 2 bytes) of the source it captures.
    // ICH 1's bank is the input measurement bank, which answers above.
    if (bank >= kChStatusBank && (bank - kChStatusBank) % 6 == 0 && (bank - kChStatusBank) / 6 < 8 &&
        reg >= 0x08 && reg < 0x0C) {
        const int ich = (bank - kChStatusBank) / 6;
        const int port = portOfCode(state().regs[0][0x10 + ich]);
        const Signal sig = port < 0 ? Signal{} : signalOfPort(port);
        const uint32_t total = sig.present ? (sig.vtotal - 1) & 0xFFFF : 0xFFFF;
        const uint32_t width = sig.present ? sig.hact & 0xFFFF : 0;
        out = reg < 0x0A ? byteOf(total, reg - 0x08) : byteOf(width, reg - 0x0A);
        return true;
    }
    if (bank == kChStatusBank)
        return false;
    if (bank == kVboActBank) {
        for (int v = 0; v < 2; ++v)
            if (reg >= 0x10 + 8 * v && reg < 0x12 + 8 * v) {
                out = byteOf(countsOf(signalOfPort(4 + v)).acthw, reg - 0x10 - 8 * v);
                return true;
            }
        return false;
    }
    return false;
}

// --- register behaviour ----------------------------------------------------------------

uint8_t readReg(State& s, int bank, int reg)
{
    uint8_t v = s.regs[bank][reg];
    if (bank == kIdBank && reg == kIdReg)
        v = s.chipId;
    else if (bank == kEngineBank && reg == kSflData)
        v = ScalerFlashModel::dataPortRead();         // the flash byte at the read pointer
    else if (bank == kFieldBank && reg >= 0x40 && reg < 0x50) {
        // The field number moves on with time, one field every 1/60 s: input field in
        // bits 2-3, output field in bits 0-1; each register may run in its own phase.
        const uint64_t fields = board::Clock::monotonicUs() / kFieldUs;
        unsigned f = unsigned(fields + uint64_t(s.fieldOffset[reg - 0x40] & 3)) & 3;
        const int ich = reg - 0x47;   // a held input channel's field stops where it was held
        if (ich >= 0 && ich < 8 && s.holds[ich].slot >= 0)
            f = unsigned(s.holds[ich].slot);
        v = uint8_t((f << 2) | f);
    } else {
        uint8_t m;
        if (measured(bank, reg, m))
            v = m;
    }
    return s.stuck.empty() ? v : uint8_t(v | s.stuck[size_t(bank) * kRegs + size_t(reg)]);
}

unsigned inputField(const State& s, int ich)
{
    const uint64_t fields = board::Clock::monotonicUs() / kFieldUs;
    return unsigned(fields + uint64_t(s.fieldOffset[7 + ich] & 3)) & 3;
}

// Input channel c's sync register (bank 0x10 + 0x10 c, 0x09): 2 holds the capture, which
// stops in the field slot it is writing (that buffer stays unfinished); 8 + an even channel
// follows that channel. What a held capture leaves is noted at the hold, for itself and its
// followers: the slot, the write order and the five buffer addresses.
void syncWritten(State& s, int ich, uint8_t old, uint8_t value)
{
    auto sync = [&](int c) { return s.regs[0x10 + 0x10 * c][0x09]; };
    for (int c = 0; c < 8; ++c) {
        const uint8_t mine = c == ich ? value : sync(c);
        const int leader = mine == 2 ? c : mine >= 8 && mine < 16 ? mine - 8 : -1;
        const bool held = leader >= 0 && leader < 8 && (leader == ich ? value : sync(leader)) == 2;
        if (!held) {
            s.holds[c] = ScalerModel::Hold();
        } else if (leader == ich && old != 2 && value == 2) {
            ScalerModel::Hold& h = s.holds[c];
            h.slot = int(inputField(s, ich));
            const uint8_t* r = s.regs[0x16 + 0x10 * c];
            h.order = uint32_t(r[0x66]) | uint32_t(r[0x67]) << 8 | uint32_t(r[0x68]) << 16;
            for (int k = 0; k < 5; ++k)
                h.buffer[k] = uint32_t(r[0x1C + 4 * k]) | uint32_t(r[0x1D + 4 * k]) << 8 |
                              uint32_t(r[0x1E + 4 * k]) << 16 | uint32_t(r[0x1F + 4 * k]) << 24;
        }
    }
}

void writeReg(State& s, int bank, int reg, uint8_t value)
{
    const uint8_t old = s.regs[bank][reg];
    s.regs[bank][reg] = value;
    if (reg == 0x09 && bank >= 0x10 && bank <= 0x80 && bank % 0x10 == 0)
        syncWritten(s, bank / 0x10 - 1, old, value);
    if (bank == kUpdBank && reg == kInVsReq)
        s.regs[kUpdBank][kInVsDone] = uint8_t(value & ~s.withheldIn);     // taken at once
    else if (bank == kUpdBank && reg == kOutUpdReq)
        s.regs[kUpdBank][kOutUpdDone] = uint8_t(value & ~s.withheldOut);  // taken at once
    else if (bank == kEngineBank && reg == kEngineCmd)
        s.regs[kEngineBank][kEngineStatus] = 0;       // commands complete at once: never busy
    else if (bank == kEngineBank && reg == kSflDtCtl)
        s.regs[kEngineBank][kSflDtCtl] = 0x20;        // a started read completes at once
    else if (bank == kEngineBank && (reg == kSflStat || reg == kSflRdsr))
        s.regs[bank][reg] = 0;                        // status registers are read-only
    // The serial flash behind the controller, the drawing engine and the OSD palette.
    if (bank == kEngineBank)
        ScalerFlashModel::registerWritten(s.regs, reg, value);
    if (bank == kEngineBank || bank == kPaletteBank)
        ScalerOsdModel::registerWritten(s.regs, bank, reg, value);
}

class Chip : public SpiModel {
public:
    void transfer(const uint8_t* tx, uint8_t* rx, uint32_t length, uint32_t) override
    {
        std::lock_guard<std::mutex> hold(lock());
        State& s = state();
        for (uint32_t i = 0; i + 1 < length; i += 2) {
            ScalerFrame f;
            f.write = (tx[i] & 0x80) != 0;
            f.reg = tx[i] & 0x7F;
            if (f.write) {
                f.value = tx[i + 1];
                if (f.reg == 0)
                    s.bank = f.value;                 // register 0 is the bank register
                else
                    writeReg(s, s.bank, f.reg, f.value);
                f.bank = uint8_t(s.bank);
                rx[i] = 0;
                rx[i + 1] = 0;
            } else {
                f.bank = uint8_t(s.bank);
                f.value = f.reg == 0 ? uint8_t(s.bank) : readReg(s, s.bank, f.reg);
                rx[i] = 0;
                rx[i + 1] = f.value;
            }
            if (SimBoard::recording()) {
                if (s.frames.size() >= kFrameLimit)
                    s.frames.erase(s.frames.begin(), s.frames.begin() + kFrameLimit / 2);
                s.frames.push_back(f);
            }
        }
    }
};

Chip& chip()
{
    static Chip c;
    return c;
}

struct Registrar {
    Registrar()
    {
        {
            std::lock_guard<std::mutex> hold(lock());
            defaults(state());
        }
        SpiBusModel::attach(0, &chip());
        SimBoard::addResetHook([] { ScalerModel::reset(); });
    }
} g_registrar;

bool inRange(int bank, int reg) { return bank >= 0 && bank < kBanks && reg >= 0 && reg < kRegs; }
} // namespace

uint8_t ScalerModel::reg(int bank, int reg)
{
    if (!inRange(bank, reg))
        return 0;
    std::lock_guard<std::mutex> hold(lock());
    return state().regs[bank][reg];
}

void ScalerModel::setReg(int bank, int reg, uint8_t value)
{
    if (!inRange(bank, reg))
        return;
    std::lock_guard<std::mutex> hold(lock());
    state().regs[bank][reg] = value;
}

int ScalerModel::currentBank()
{
    std::lock_guard<std::mutex> hold(lock());
    return state().bank;
}

std::vector<ScalerFrame> ScalerModel::frames()
{
    std::lock_guard<std::mutex> hold(lock());
    return state().frames;
}

void ScalerModel::clearFrames()
{
    std::lock_guard<std::mutex> hold(lock());
    state().frames.clear();
}

void ScalerModel::setChipId(uint8_t id)
{
    std::lock_guard<std::mutex> hold(lock());
    state().chipId = id;
}

void ScalerModel::setStuckBits(int bank, int reg, uint8_t mask)
{
    if (!inRange(bank, reg))
        return;
    std::lock_guard<std::mutex> hold(lock());
    State& s = state();
    if (s.stuck.empty())
        s.stuck.assign(size_t(kBanks) * kRegs, 0);
    s.stuck[size_t(bank) * kRegs + size_t(reg)] = mask;
}

void ScalerModel::withholdDoneBits(uint8_t inputSyncMask, uint8_t outputUpdateMask)
{
    std::lock_guard<std::mutex> hold(lock());
    state().withheldIn = inputSyncMask;
    state().withheldOut = outputUpdateMask;
}

ScalerModel::Hold ScalerModel::hold(int ich)
{
    std::lock_guard<std::mutex> hold(lock());
    return ich >= 0 && ich < 8 ? state().holds[ich] : Hold();
}

void ScalerModel::setFieldPhase(int reg, int offset)
{
    if (reg < 0x40 || reg >= 0x50)
        return;
    std::lock_guard<std::mutex> hold(lock());
    state().fieldOffset[reg - 0x40] = offset;
}

void ScalerModel::reset()
{
    std::lock_guard<std::mutex> hold(lock());
    defaults(state());
}

struct ScalerModel::Saved {
    State s;
};

std::shared_ptr<const ScalerModel::Saved> ScalerModel::save()
{
    std::lock_guard<std::mutex> hold(lock());
    return std::make_shared<const Saved>(Saved{state()});
}

void ScalerModel::restore(const std::shared_ptr<const Saved>& saved)
{
    std::lock_guard<std::mutex> hold(lock());
    if (saved)
        state() = saved->s;
}

} // namespace sim
