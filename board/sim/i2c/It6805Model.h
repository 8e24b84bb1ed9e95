#pragma once
#include "board/sim/I2cBusModel.h"
#include "board/sim/ScenarioKeys.h"

#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

namespace sim {

// The HDMI 2.0 receiver of input 3 behind channel 0x20 of switch 0xEE: the receiver
// register file at 0x90 (registers 0x00-0x0F common, the rest in eight banks selected by
// register 0x0F bits 0-2), the CEC page at 0xC8, the EDID RAM at 0xA8 and the LVDS block
// at 0xB4. Writes are [register, data...] with the register advancing per byte (the CEC
// operand port 0x50 does not advance).
//
// What the driver relies on:
//  - identification 54 49 05|07 68 at 0x00-0x03, chip id at 0x04;
//  - silent (hot-plug low) while its reset line (SoC word 0x207944 bit 4) is low, once the line was driven
//    high; released, it starts from its power-on registers with hot-plug low;
//  - port 0 status from the scenario: 0x13 (+5 V, HDMI mode, clock valid/stable), 0x14
//    (TMDS above 1 GHz, symbol locks, HDMI 2.0 clock ratio), 0x15 (scrambling), 0x19 (SCDT,
//    video stable);
//  - the timing counters 0x9B-0xAB in both layouts (chip id 0x10 and 0xE0 use the second),
//    polarity and AV mute at 0xAA, interlace at 0x98;
//  - the pixel-clock counter 0x99/0x9A (one sample latched per clear of 0x9A bit 7) and
//    the TMDS counter 0x48 with its range at 0x43, both derived from the scenario clock and
//    the oscillator, so the driver's arithmetic gives the scenario's clocks back;
//  - the oscillator read-out of bank 1 (0x60 reads 0x19 once 0xF8 got C3, A5; words at
//    0x61/0x62 after 0x54 = 0x04);
//  - write-1-to-clear interrupts 0x05-0x0E, 0x10-0x12, 0x1D, 0xD4, 0xD5, raised when the
//    scenario changes (+5 V, clock, symbol lock on a new clock, SCDT, HDMI/DVI mode, AVI
//    InfoFrame) or by a test;
//  - CAOF done (0x08/0x0D bit 4) after the calibration start, EQ done (0x07 bit 4) a set
//    number of EQ-interrupt reads after the trigger (or never), bit-error counters
//    0xE9-0xEB, the V-by-One transmitter clock bit (bank 5 0xDB bit 4);
//  - the AVI InfoFrame in bank 2 0x15-0x19, audio N/CTS at 0xBE-0xC2, audio status 0xB0-0xB5;
//  - the hot-plug pin (bank 3 0xAB bits 6-7), recorded with the time of each change;
//  - a CEC receive FIFO (0x51 status and count, 0x4D header, 0x50 operands, 0x52 reset)
//    and a log of the messages sent (0x23 length, 0x10.. bytes, fired by 0x08 = 0x08, 0x88).
//    Sending takes the bus time of the frame (4.5 ms start bit, 24 ms a byte); the bytes
//    go out from the buffer as they are sent, transmit-done (0x4C bit 5) comes at the end,
//    and a fire while a frame is on the bus is not taken.
// Scenario keys (prefix input3.): the input's timing as the scaler model reads it
// (InputTiming: timing, signal, hact, vact, htotal, vtotal, hz, interlaced), then 5v, hfp, hsync, vfp, vsync, hpol, vpol, colour (0 RGB, 1 YUV 4:2:2,
// 2 YUV 4:4:4, 3 YUV 4:2:0), scan (AVI byte 1 bits 0-1), range (AVI Q, byte 3 bits 2-3: 0 by VIC, 1 limited, 2 full), depth (colour-depth code of 0x98 bits 4-7, e.g. 0x10), colorimetry, extcolorimetry, vic, dvi, hdmi2 (clock ratio;
// default above 340 MHz), avmute, audio, 5v_glitch (each new value: +5 V dropped for less than the chip samples
// it, the +5 V change raised with +5 V present), audio_fs (Hz; audio_status_fs makes the channel status claim another rate), osc (kHz), osc_ready, caof,
// eq_passes (-1 = never), err0/err1/err2, eq_saturated, vbo_clock, chipid, id2, avi_flip,
// chip (= absent), cec_tx_result, relock (ms without SCDT after a new clock or mode while the
// cable stays, as a real receiver re-locks; default 40, 0 keeps SCDT), sync_lag (ms the timing
// counters keep the old mode after SCDT is back), parity (the parity-error count 0xB9/0xBE
// read on a link up, however often cleared). AV mute (0xAA bit 3) raises 0x10 bit 4 at its
// start and bit 5 at its end; audio coming, going or changing rate raises 0x10 bit 7.
class It6805Model {
public:
    static constexpr uint8_t kAddrRx = 0x90;
    static constexpr uint8_t kAddrEdid = 0xA8;
    static constexpr uint8_t kAddrLvds = 0xB4;
    static constexpr uint8_t kAddrCec = 0xC8;
    static constexpr uint8_t kSwitch = 0xEE;
    static constexpr uint8_t kChannel = 0x20;
    static constexpr uint32_t kResetLine = 0x207944;

    static It6805Model& instance();

    // Register as the chip holds it (bank 0-7; registers below 0x10 are common).
    uint8_t reg(int bank, int reg);
    void setReg(int bank, int reg, uint8_t value);
    // Latches interrupt bits in a write-1-to-clear register of bank 0.
    void raise(int reg, uint8_t bits);
    // The level the chip drives on each channel for an RGB source's grey of this level
    // (0-255), by its colour-space converter (bank 0 0x6C bits 0-1): 0 passes the source
    // as sent; 2 (RGB range) takes each channel times its diagonal coefficient of the
    // bank 1 0x70-0x85 block (14-bit words from 0x73, 0x0800 = 1.0) plus the signed offset
    // at 0x70, clamped to 0-255. -1 when the path is no RGB-to-RGB one (3: YUV to RGB) or
    // does not keep a grey grey.
    int rgbOut(int level);

    struct HpdChange {
        uint64_t us;
        int level;   // 1 high, 0 low
    };
    std::vector<HpdChange> hpdLog();
    int hpdLevel();

    // CEC: a message arriving from the cable (header, opcode, operands); lengthBits are
    // or-ed into the length byte (bits 5-6 mark an error). Sent messages in order.
    void cecReceive(const std::vector<uint8_t>& message, uint8_t lengthBits = 0);
    void cecReceiveRaw(uint8_t header, uint8_t opcode, uint8_t lengthByte, const std::vector<uint8_t>& operands);
    // Frames whose sending has ended by now.
    std::vector<std::vector<uint8_t>> cecSent();
    int cecQueued();

    void reset();

    struct Port;   // one I2C address of the chip

private:
    It6805Model();
    friend struct Port;
    bool write(uint8_t address, const uint8_t* data, uint16_t length);
    bool read(uint8_t address, uint8_t* data, uint16_t length);
    void refresh();
    bool absent();                        // the scenario leaves the chip out (chip=absent), or held in reset
    bool heldInReset();                   // the reset line low after it was driven high once
    uint8_t rxRead(uint8_t r);
    void rxWrite(uint8_t r, uint8_t value);
    uint8_t cecRead(uint8_t r);
    void cecWrite(uint8_t r, uint8_t value);

    struct Signal {
        bool power = false, clock = false, dvi = false, hdmi2 = false, audio = false, interlaced = false;
        uint32_t hact = 0, vact = 0, htotal = 0, vtotal = 0, hfp = 0, hsync = 0, vfp = 0, vsync = 0;
        uint32_t hpol = 1, vpol = 1, colour = 0, colorimetry = 0, extcolorimetry = 0, vic = 0, avmute = 0, scan = 0, range = 0;
        uint32_t pclk = 0, tmds = 0, fs = 48000, osc = 20000, depth = 0;
        uint32_t statusFs = 48000;   // the rate the channel status claims
        long relock = 40;            // ms without SCDT after a new clock or mode
        long glitch = 0;             // +5 V glitches so far (5v_glitch)
        bool vboClock = true;        // the V-by-One transmitter clock settles
        long syncLag = 0, parity = 0;   // sync_lag, parity (not compared: no interrupt of their own)
        bool operator==(const Signal& o) const;
    };
    Signal signal();

    std::recursive_mutex lock_;
    uint8_t common_[16] = {};
    uint8_t banks_[8][256] = {};
    uint8_t cec_[256] = {};
    uint8_t edid_[256] = {};
    uint8_t lvds_[256] = {};
    uint8_t pointer_[4] = {0, 0, 0, 0};
    Signal sig_, last_;
    Signal stale_;                    // the mode the timing counters still show (sync_lag)
    uint64_t staleUntilUs_ = 0;
    uint64_t relockUntilUs_ = 0;      // SCDT stays away until then; 0: locked
    uint64_t signalGeneration_ = 0;   // scenario generation sig_ was read at; 0: never
    uint64_t absentGeneration_ = 0;   // the same for absent_
    bool absent_ = false;
    // The reset line (SoC word kResetLine, bit 4) counts once the board has driven it high:
    // a test that starts on the main pass never releases it.
    bool lineDriven_ = false, lineLow_ = false;
    uint32_t pulsesSeen_ = 0;
    ScenarioKeys keys_{"input3."};
    uint32_t pclkIndex_ = 0, tmdsIndex_ = 0;
    uint32_t pclkSample_ = 0;
    int eqCountdown_ = -1;
    uint8_t f8Last_[2] = {0, 0};
    uint32_t aviReads_ = 0;
    std::vector<HpdChange> hpd_;
    int hpdLevel_ = 0;
    struct CecMessage {
        uint8_t header, opcode, length;
        std::vector<uint8_t> operands;
    };
    std::deque<CecMessage> cecFifo_;
    CecMessage cecCurrent_{0, 0, 0, {}};
    size_t cecOperand_ = 0;
    std::vector<std::vector<uint8_t>> cecSent_;
    uint64_t cecTxEndUs_ = 0;   // 0: no frame on the bus
    void cecTxProgress();
};

} // namespace sim
