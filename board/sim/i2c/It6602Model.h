#pragma once
#include "board/sim/I2cBusModel.h"

#include <cstdint>
#include <mutex>
#include <vector>

namespace sim {

// One IT6602 HDMI receiver (inputs 0, 1, 2 each have one, behind channels 0x02, 0x04, 0x08
// of switch 0xEE). Three banks of 256 8-bit registers, selected by bits 0-1 of register
// 0x0F; registers 0x00-0x0F are the same in every bank. As the driver relies on:
//  - identification 0x54 0x49 0x02 0x68 in registers 0-3, at 0x90 (or 0x94 when the
//    scenario says input<d>.rxaddr=0x94); the other address is not acknowledged;
//  - held in reset (no acknowledge, hot-plug low) while its reset line, the SoC word at 0x207940, is low;
//    released, or after a pulse of the line (SocModel::pulseLow), it starts from its
//    power-on registers (hot-plug low);
//  - read-only status from the scenario: 0x0A bit 0 +5 V, bit 1 HDMI mode, bit 3 clock,
//    bit 6 PLL lock, bit 7 SCDT (0x0B port 1 stays empty); 0x0C/0x4E lock bits 6-7. The
//    source drives clock and video only while port 0's hot-plug (bank 1 0xB0 bits 0-1) is
//    high, as a real source waits for HPD;
//  - timing registers 0x99-0xA8, clock counts 0x90-0x92 and 0x9A, the pixel clock in kHz
//    in bank 2 0xC0-0xC2, the AVI infoframe in bank 2 0x14-0x19, audio 0xAA/0xAB/0xAE;
//  - write-1-to-clear interrupt registers 0x05-0x09 (0xD0 bits 4-7) raised as the scenario
//    changes: +5 V (0x05 bit 0), clock present or its rate (bit 1), HDMI/DVI mode (bit 5), SCDT and timing
//    changes (0x07 bit 1), a new AVI infoframe (0x09 bit 0), a new 3D vendor-specific
//    infoframe (0x08 bit 2, the frame in bank 2 0x24-0x2E). Writing 0x10 bit 3 (the whole
//    chip's software reset) forgets what was reported, so present signals are raised again;
//  - the oscillator calibration read-out at bank 1 0x61: three 2s while bank 1 0x50 is 0,
//    then the 24-bit count (lowest byte first), restarted by each write of bank 1 0x53.
// Scenario keys (d = input): the timing keys of InputTiming.h (input<d>.timing, .signal,
// .hact, .vact, .htotal, .vtotal, .hz, .interlaced: the source the scaler model sees too);
// .cable (+5 V; default = signal), .hfp .hsync .vfp .vsync (CEA 88 44 4 5 where the
// blanking holds them), .hpol .vpol (1 1), .pclk (kHz; default htotal x vtotal x hz),
// .hdmi (1; 0 = DVI), .colour (rgb | yuv422 | yuv444), .scan (AVI byte 1 bits 0-1), .range (AVI Q: 0, 1 limited,
// 2 full), .colorimetry (0, 1 BT.601, 2 BT.709), .vic (default the CEA code of 1080p/720p
// at 60/50 Hz), .depth (0x99 bits 4-7, 4 = 24-bit), .audio (1), .audiofs (sample-rate
// code, 2), .audioch (channel bits, 1), .rxaddr (0x90 | 0x94), .3d (none | framepacking |
// topbottom | sidebyside), .scdt (1; 0 = the clock arrives but the PLLs never lock: no
// SCDT, 0x0A bit 6 and 0x4E clear), .pclkreg (1; 0 = the chip's own kHz reading stays 0),
// .osc (the oscillator count of the calibration read-out, 4870000), .5v_glitch (each new
// value: +5 V dropped for less than the chip samples it, so it raises its +5 V change with
// +5 V present), .relock (ms without SCDT
// after the source changes its clock or mode, as a real receiver's PLLs re-lock; 0 keeps it),
// .avmute (1: the source's AV mute, 0xA8 bit 0 with an HDMI link, its start and end raising
// 0x07 bits 4 and 5).
class It6602Model {
public:
    static constexpr uint32_t kResetLine = 0x207940;
    static constexpr uint32_t kOscillatorCount = 4870000;
    static constexpr uint32_t kRelockMs = 40;

    explicit It6602Model(int input) : input_(input) {}

    bool write(uint8_t address8, const uint8_t* data, uint16_t length);
    bool read(uint8_t address8, uint8_t* data, uint16_t length);
    uint8_t address();                          // 0x90, or 0x94 by the scenario

    uint8_t reg(int bank, int r);               // stored value, no side effects
    void setReg(int bank, int r, uint8_t value);
    void raise(int r, uint8_t bits);            // bank 0 interrupt bits, as the chip would
    bool hpd();                                 // bank 1 0xB0 bits 0-1 both set
    bool videoOutput();                         // 0x53 bits 0-3 clear (not tristated)
    bool audioOutput();                         // 0x52 bits 0-4 clear
    int registerWrites();                       // register bytes written since power-on
    struct HpdChange {
        uint64_t us;
        int level;   // 1 high, 0 low
    };
    std::vector<HpdChange> hpdLog();            // changes of the hot-plug pin, with their time
    void nakBankReturn(int n);                  // the n-th write from now selecting bank 0 from bank 2 is not acknowledged
    void reset();

private:
    struct Signal {
        bool cable = false, sending = false, hdmi = false, audio = false;
        uint32_t hact = 0, vact = 0, htotal = 0, vtotal = 0, hfp = 0, hsync = 0, vfp = 0, vsync = 0;
        uint32_t pclkKhz = 0;
        bool hpol = true, vpol = true, interlace = false;
        uint8_t colour = 0, scan = 0, range = 0, colorimetry = 0, vic = 0, depth = 4, fs = 2, channels = 1;
        uint8_t address = 0x90;
        uint8_t structure3d = 0xFF;               // 0 frame packing, 6 top-and-bottom, 8 side-by-side
        bool locks = true;                        // false: clock without PLL lock and SCDT
        bool khzReading = true;                   // false: bank 2 0xC0-0xC2 read 0
        uint32_t oscillator = kOscillatorCount;
        uint32_t relockMs = kRelockMs;
        long glitch = 0;                          // +5 V glitches so far
        bool avmute = false;                      // the source's AV mute (general control packet)
    };
    void loadScenario();                        // reads it again only when it changed
    void readScenario(uint64_t generation);
    void update();                              // status, timing and interrupts from the scenario
    void derive();                              // what update() finds out of date
    void powerOn();
    bool powered();
    uint8_t& at(int r);                         // register r of the selected bank
    bool readOnly(int r) const;
    void store(int r, uint8_t value);

    int input_;
    std::mutex lock_;
    uint8_t regs_[3][256] = {};
    uint8_t pointer_ = 0;
    bool inReset_ = true;
    uint64_t generation_ = 0;
    // What the derived registers were last computed from (scenario generation, hot-plug
    // bits); 0: compute again. They depend on nothing else the driver can write.
    uint64_t updatedGeneration_ = 0;
    int updatedHpd_ = -1;
    Signal sig_;
    // What the interrupt registers have reported.
    bool seen5V_ = false, seenClock_ = false, seenHdmi_ = false, seenScdt_ = false, seenMute_ = false;
    uint32_t seenTiming_ = 0;
    uint32_t seenClockRate_ = 0;
    long seenGlitch_ = 0;
    uint32_t seenSent_ = 0;                   // the clock and mode the source sent last
    uint64_t relockUntilUs_ = 0;              // SCDT stays away until then; 0: locked
    uint8_t seenAvi_[6] = {};
    uint8_t seenVsif_[11] = {};
    int oscIndex_ = 0;
    int writes_ = 0;
    uint32_t pulsesSeen_ = 0;                 // reset-line pulses already taken
    int nakIn_ = 0;                           // nakBankReturn
    std::vector<HpdChange> hpd_;
    void noteHpd();
};

} // namespace sim
