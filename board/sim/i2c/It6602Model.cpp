#include "board/sim/i2c/It6602Model.h"

#include "board/Clock.h"
#include "board/sim/InputTiming.h"
#include "board/sim/SimBoard.h"
#include "board/sim/SocModel.h"

#include <cstring>
#include <string>

namespace sim {

namespace {
constexpr uint8_t kIdentity[4] = {0x54, 0x49, 0x02, 0x68};

uint8_t colourCode(const std::string& s)
{
    if (s == "yuv422")
        return 1;
    if (s == "yuv444")
        return 2;
    return 0;
}

uint8_t cea(uint32_t hact, uint32_t vact, uint32_t hz)
{
    if (hact == 1920 && vact == 1080)
        return hz == 60 ? 16 : hz == 50 ? 31 : 0;
    if (hact == 1280 && vact == 720)
        return hz == 60 ? 4 : hz == 50 ? 19 : 0;
    return 0;
}
} // namespace

uint8_t It6602Model::address()
{
    std::lock_guard<std::mutex> hold(lock_);
    loadScenario();
    return sig_.address;
}

void It6602Model::loadScenario()
{
    const uint64_t generation = SimBoard::scenarioGeneration();
    if (generation != generation_)
        readScenario(generation);
}

void It6602Model::readScenario(uint64_t generation)
{
    generation_ = generation;
    const std::string k = "input" + std::to_string(input_) + ".";
    auto num = [&](const char* key, long fallback) { return SimBoard::scenarioInt(k + key, fallback); };
    Signal s;
    // The timing as the scaler model sees it, so both chips measure the same source.
    const InputTiming t = inputTiming(input_);
    s.sending = t.present;
    s.cable = num("cable", s.sending ? 1 : 0) != 0;
    s.interlace = t.interlaced;
    s.hact = t.hact;
    s.vact = t.vact;
    s.htotal = t.htotal;
    s.vtotal = t.vtotal;
    // CEA porches where the blanking holds them (88 + 44 and 4 + 5 lines), else a quarter
    // of the blanking each.
    const uint32_t hblank = s.htotal > s.hact ? s.htotal - s.hact : 0;
    const uint32_t vblank = s.vtotal > s.vact ? s.vtotal - s.vact : 0;
    s.hfp = uint32_t(num("hfp", hblank >= 2 * 132 ? 88 : hblank / 4));
    s.hsync = uint32_t(num("hsync", hblank >= 2 * 132 ? 44 : hblank / 4));
    s.vfp = uint32_t(num("vfp", vblank >= 2 * 9 ? 4 : vblank / 4));
    s.vsync = uint32_t(num("vsync", vblank >= 2 * 9 ? 5 : vblank / 4));
    s.hpol = num("hpol", 1) != 0;
    s.vpol = num("vpol", 1) != 0;
    s.pclkKhz = uint32_t(num("pclk", long((uint64_t(s.htotal) * s.vtotal * t.millihz + 500000u) / 1000000u)));
    s.hdmi = num("hdmi", 1) != 0;
    s.colour = colourCode(SimBoard::scenario(k + "colour", "rgb"));
    s.range = uint8_t(num("range", 0) & 3);
    s.scan = uint8_t(num("scan", 0) & 3);
    s.colorimetry = uint8_t(num("colorimetry", 0) & 3);
    s.vic = uint8_t(num("vic", cea(s.hact, s.vact, t.hz)) & 0x7F);
    s.depth = uint8_t(num("depth", 4) & 0x0F);
    s.audio = num("audio", 1) != 0 && s.hdmi;   // read either way: a DVI source sends none
    s.fs = uint8_t(num("audiofs", 2) & 0x0F);
    s.channels = uint8_t(num("audioch", 1) & 0x0F);
    s.address = num("rxaddr", 0x90) == 0x94 ? 0x94 : 0x90;
    s.locks = num("scdt", 1) != 0;
    s.khzReading = num("pclkreg", 1) != 0;
    s.oscillator = uint32_t(num("osc", long(kOscillatorCount)));
    s.relockMs = uint32_t(num("relock", long(kRelockMs)));
    s.glitch = num("5v_glitch", 0);
    s.avmute = num("avmute", 0) != 0;
    const std::string three = SimBoard::scenario(k + "3d", "none");
    s.structure3d = three == "framepacking" ? 0 : three == "topbottom" ? 6 : three == "sidebyside" ? 8 : 0xFF;
    sig_ = s;
}

void It6602Model::update()
{
    // Callers have read the scenario.
    if (relockUntilUs_ && board::Clock::monotonicUs() >= relockUntilUs_) {
        relockUntilUs_ = 0;
        updatedGeneration_ = 0;
    }
    if (generation_ != updatedGeneration_ || (regs_[1][0xB0] & 0x03) != updatedHpd_)
        derive();
}

void It6602Model::derive()
{
    updatedGeneration_ = generation_;
    updatedHpd_ = regs_[1][0xB0] & 0x03;
    uint8_t* b0 = regs_[0];
    const bool hpd = (regs_[1][0xB0] & 0x03) == 0x03;
    const bool p5v = sig_.cable;
    const bool clock = p5v && sig_.sending && hpd;
    const bool hdmi = clock && sig_.hdmi;
    const uint32_t sent = clock ? (sig_.hact * 7919u) ^ (sig_.vact * 104729u) ^ (sig_.htotal * 31u) ^
                                      (sig_.vtotal * 131u) ^ sig_.pclkKhz ^ (sig_.interlace ? 0x80000000u : 0) ^
                                      (sig_.hfp * 65537u) ^ (sig_.hsync * 257u) ^ (sig_.vfp * 8191u) ^ (sig_.vsync * 127u) ^
                                      (sig_.hpol ? 0x40000000u : 0) ^ (sig_.vpol ? 0x20000000u : 0) ^
                                      (uint32_t(sig_.depth) * 0x9E3779B1u)
                                : 0;
    // A new clock or mode (sync placed anew included) makes the PLLs lose lock: no SCDT for the re-lock time.
    if (clock && seenSent_ && sent != seenSent_ && sig_.relockMs)
        relockUntilUs_ = board::Clock::monotonicUs() + uint64_t(sig_.relockMs) * 1000;
    seenSent_ = sent;
    const bool scdt = clock && sig_.locks && !relockUntilUs_;
    const uint32_t timing = scdt ? sent : 0;

    if (p5v != seen5V_ || sig_.glitch != seenGlitch_)
        b0[0x05] |= 0x01;
    seenGlitch_ = sig_.glitch;
    // The clock-change interrupt: the clock came or went, or its rate moved (deep colour
    // runs the link faster: 30-bit at 1.25 times, 36-bit at 1.5 times the pixel clock).
    const uint32_t clockRate = clock ? sig_.pclkKhz * (sig_.depth == 5 ? 5 : sig_.depth == 6 ? 6 : 4) / 4 : 0;
    if (clock != seenClock_ || (clock && seenClockRate_ && clockRate != seenClockRate_))
        b0[0x05] |= 0x02;
    seenClockRate_ = clockRate;
    if (hdmi != seenHdmi_)
        b0[0x05] |= 0x20;
    if (scdt != seenScdt_ || (scdt && seenTiming_ && timing != seenTiming_))
        b0[0x07] |= 0x02;
    const bool muted = hdmi && sig_.avmute;
    if (muted != seenMute_)
        b0[0x07] |= muted ? 0x10 : 0x20;
    seenMute_ = muted;
    seen5V_ = p5v;
    seenClock_ = clock;
    seenHdmi_ = hdmi;
    seenScdt_ = scdt;
    seenTiming_ = timing;

    // Bit 6 and 0x4E: the PLLs locked, which only a locking source gives (with SCDT).
    b0[0x0A] = uint8_t((p5v ? 0x01 : 0) | (hdmi ? 0x02 : 0) | (clock ? 0x08 : 0) | (scdt ? 0xC0 : 0));
    b0[0x0B] = 0;
    b0[0x0C] = clock ? 0xC0 : 0x00;
    b0[0x4E] = scdt ? 0xC0 : 0x00;

    // Clock counts: TMDS clock = 6144 / count (range 0), 12288 / count (1), 3072 / count (2).
    const uint32_t mhz = clock ? (sig_.pclkKhz + 500) / 1000 : 0;
    uint8_t range = 0;
    uint32_t count = 0;
    if (mhz) {
        if (mhz < 30) {
            range = 2;
            count = 3072 / mhz;
        } else if (mhz > 160) {
            range = 1;
            count = 12288 / mhz;
        } else {
            count = 6144 / mhz;
        }
    }
    b0[0x90] = range;
    b0[0x91] = uint8_t(count > 255 ? 255 : count);
    b0[0x92] = 0;
    // Pixel clock (MHz) = 31620 / count / 10; the chip's counter truncates.
    uint32_t pcount = sig_.pclkKhz && scdt ? 3162000u / sig_.pclkKhz : 0;
    b0[0x9A] = uint8_t(pcount > 255 ? 255 : pcount);

    const uint32_t ht = scdt ? sig_.htotal : 0, ha = scdt ? sig_.hact : 0, hf = scdt ? sig_.hfp : 0,
                   hs = scdt ? sig_.hsync : 0, vt = scdt ? sig_.vtotal : 0, va = scdt ? sig_.vact : 0,
                   vf = scdt ? sig_.vfp : 0, vs = scdt ? sig_.vsync : 0;
    b0[0x99] = uint8_t((b0[0x99] & 0x0D) | (sig_.depth << 4) | (scdt && sig_.interlace ? 0x02 : 0));
    b0[0x9C] = uint8_t(ht);
    b0[0x9D] = uint8_t((ht >> 8) & 0x3F);
    b0[0x9E] = uint8_t(ha);
    b0[0x9F] = uint8_t((ha >> 8) & 0x3F);
    b0[0xA0] = uint8_t(hs);
    b0[0xA1] = uint8_t(((hs >> 8) & 0x01) | ((hf >> 8) & 0x0F) << 4);
    b0[0xA2] = uint8_t(hf);
    b0[0xA3] = uint8_t(vt);
    b0[0xA4] = uint8_t(((vt >> 8) & 0x0F) | ((va >> 8) & 0x0F) << 4);
    b0[0xA5] = uint8_t(va);
    b0[0xA6] = uint8_t(vs & 0x1F);
    b0[0xA7] = uint8_t(vf & 0x3F);
    b0[0xA8] = uint8_t((b0[0xA8] & 0xF2) | (scdt && sig_.vpol ? 0x08 : 0) | (scdt && sig_.hpol ? 0x04 : 0) | (muted ? 0x01 : 0));

    // Audio.
    const bool audio = hdmi && sig_.audio;
    b0[0xAA] = audio ? uint8_t(0x80 | sig_.channels) : 0;
    b0[0xAB] = 0;
    b0[0xAE] = audio ? sig_.fs : 0;

    // Bank 2: AVI infoframe and the pixel clock in kHz.
    uint8_t* b2 = regs_[2];
    uint8_t avi[6] = {};
    if (hdmi) {
        avi[1] = uint8_t(sig_.colour << 5 | 0x10 | sig_.scan);     // Y, active format present, S
        avi[2] = uint8_t(sig_.colorimetry << 6 | 0x28);            // C, 16:9, same as picture
        avi[3] = uint8_t(sig_.range << 2);                          // Q
        avi[4] = sig_.vic;
        avi[5] = 0;
        uint8_t sum = 0x82 + 0x02 + 0x0D;
        for (int i = 1; i < 6; ++i)
            sum = uint8_t(sum + avi[i]);
        avi[0] = uint8_t(0x100 - sum);                              // checksum
    }
    std::memcpy(b2 + 0x14, avi, sizeof avi);
    if (hdmi && std::memcmp(avi, seenAvi_, sizeof avi) != 0)
        b0[0x09] |= 0x01;
    std::memcpy(seenAvi_, avi, sizeof avi);
    // The HDMI vendor-specific infoframe (bank 2 0x24..0x2E) of a 3D source.
    uint8_t vsif[11] = {};
    // Packets arrive only with sync: after a re-lock the same frame counts as new.
    if (scdt && hdmi && sig_.structure3d != 0xFF) {
        const uint8_t body[11] = {0x81, 0x01, 0x06, 0x00, 0x03, 0x0C, 0x00, 0x40, uint8_t(sig_.structure3d << 4), 0, 0};
        std::memcpy(vsif, body, sizeof vsif);
        uint8_t sum = 0;
        for (uint8_t b : vsif)
            sum = uint8_t(sum + b);
        vsif[3] = uint8_t(0x100 - sum);
    }
    std::memcpy(b2 + 0x24, vsif, sizeof vsif);
    // A new vendor-specific infoframe, or its end (a 3D source turned 2D).
    if (hdmi && std::memcmp(vsif, seenVsif_, sizeof vsif) != 0)
        b0[0x08] |= 0x04;
    std::memcpy(seenVsif_, vsif, sizeof vsif);
    const uint32_t khz = scdt && sig_.khzReading ? sig_.pclkKhz : 0;
    b2[0xC1] = uint8_t(khz / 4096);
    b2[0xC2] = uint8_t((khz % 4096) / 16);
    b2[0xC0] = uint8_t((khz % 16) << 4);
}

void It6602Model::powerOn()
{
    std::memset(regs_, 0, sizeof regs_);
    std::memcpy(regs_[0], kIdentity, sizeof kIdentity);
    pointer_ = 0;
    seen5V_ = seenClock_ = seenHdmi_ = seenScdt_ = seenMute_ = false;
    seenTiming_ = 0;
    seenClockRate_ = 0;
    seenSent_ = 0;
    relockUntilUs_ = 0;
    std::memset(seenAvi_, 0, sizeof seenAvi_);
    std::memset(seenVsif_, 0, sizeof seenVsif_);
    oscIndex_ = 0;
    writes_ = 0;
    generation_ = 0;
    updatedGeneration_ = 0;
}

bool It6602Model::powered()
{
    const uint32_t pulses = SocModel::lowPulses(kResetLine);
    if (pulses != pulsesSeen_) {
        pulsesSeen_ = pulses;
        inReset_ = true;
    }
    if (!(SocModel::read16(kResetLine) & 0x10)) {
        if (!hpd_.empty() && hpd_.back().level)   // held in reset, the chip lets its hot-plug pin fall
            hpd_.push_back({board::Clock::monotonicUs(), 0});
        inReset_ = true;
        return false;
    }
    if (inReset_) {
        inReset_ = false;
        powerOn();
        noteHpd();
    }
    return true;
}

void It6602Model::noteHpd()
{
    const int level = (regs_[1][0xB0] & 0x03) == 0x03 ? 1 : 0;
    if (hpd_.empty() || hpd_.back().level != level) {
        hpd_.push_back({board::Clock::monotonicUs(), level});
        if (hpd_.size() > 4096)
            hpd_.erase(hpd_.begin(), hpd_.begin() + 2048);
    }
}

void It6602Model::nakBankReturn(int n)
{
    std::lock_guard<std::mutex> hold(lock_);
    nakIn_ = n;
}

std::vector<It6602Model::HpdChange> It6602Model::hpdLog()
{
    std::lock_guard<std::mutex> hold(lock_);
    return hpd_;
}

uint8_t& It6602Model::at(int r)
{
    r &= 0xFF;
    if (r < 0x10)
        return regs_[0][r];
    return regs_[(regs_[0][0x0F] & 0x03) % 3][r];
}

bool It6602Model::readOnly(int r) const
{
    const int bank = regs_[0][0x0F] & 0x03;
    if (r < 0x04 || r == 0x0A || r == 0x0B || r == 0x0C)
        return true;
    if (bank == 0)
        return r == 0x4E || (r >= 0x90 && r <= 0x92) || r == 0x99 || r == 0x9A || (r >= 0x9C && r <= 0xA7) ||
               r == 0xAA || r == 0xAB || r == 0xAE;
    if (bank == 2)
        return (r >= 0x14 && r <= 0x19) || (r >= 0x24 && r <= 0x2E) || (r >= 0xC0 && r <= 0xC2);
    return bank == 1 && r == 0x61;
}

void It6602Model::store(int r, uint8_t value)
{
    const int bank = regs_[0][0x0F] & 0x03;
    ++writes_;
    if (r >= 0x05 && r <= 0x09) {
        regs_[0][r] &= uint8_t(~value);    // write 1 to clear
        return;
    }
    if (bank == 0 && r == 0xD0) {
        regs_[0][0xD0] = uint8_t((regs_[0][0xD0] & ~value & 0xF0) | (value & 0x0F));
        return;
    }
    if (bank == 0 && r == 0xA8) {
        regs_[0][0xA8] = uint8_t((regs_[0][0xA8] & 0x0D) | (value & 0xF2));   // sync polarity and AV mute are the source's
        return;
    }
    if (readOnly(r))
        return;
    at(r) = value;
    if (bank == 0 && r == 0x10 && (value & 0x08)) {
        // Whole-chip software reset: the chip forgets what it reported.
        for (int i = 0x05; i <= 0x09; ++i)
            regs_[0][i] = 0;
        seen5V_ = seenClock_ = seenHdmi_ = seenScdt_ = seenMute_ = false;
        seenTiming_ = 0;
        seenClockRate_ = 0;
        std::memset(seenAvi_, 0, sizeof seenAvi_);
        std::memset(seenVsif_, 0, sizeof seenVsif_);
        updatedGeneration_ = 0;
    }
    if (bank == 1 && r == 0x53)
        oscIndex_ = 0;
    if (bank == 1 && r == 0xB0)
        noteHpd();
}

bool It6602Model::write(uint8_t address8, const uint8_t* data, uint16_t length)
{
    std::lock_guard<std::mutex> hold(lock_);
    loadScenario();
    if (address8 != sig_.address || !powered())
        return false;
    update();
    if (length == 0)
        return true;
    if (length > 1 && data[0] == 0x0F && (regs_[0][0x0F] & 0x03) == 2 && !(data[1] & 0x03) && nakIn_ > 0 && --nakIn_ == 0)
        return false;
    pointer_ = data[0];
    for (uint16_t i = 1; i < length; ++i)
        store(pointer_++, data[i]);
    update();
    return true;
}

bool It6602Model::read(uint8_t address8, uint8_t* data, uint16_t length)
{
    std::lock_guard<std::mutex> hold(lock_);
    loadScenario();
    if (address8 != sig_.address || !powered())
        return false;
    update();
    for (uint16_t i = 0; i < length; ++i) {
        const int bank = regs_[0][0x0F] & 0x03;
        if (bank == 1 && pointer_ == 0x61) {
            // Oscillator read-out: the probe pattern, then the count lowest byte first.
            data[i] = regs_[1][0x50] == 0 ? 2 : uint8_t(sig_.oscillator >> (8 * (oscIndex_++ % 3)));
            ++pointer_;
            continue;
        }
        data[i] = at(pointer_++);
    }
    return true;
}

uint8_t It6602Model::reg(int bank, int r)
{
    std::lock_guard<std::mutex> hold(lock_);
    return regs_[r < 0x10 ? 0 : bank % 3][r & 0xFF];
}

void It6602Model::setReg(int bank, int r, uint8_t value)
{
    std::lock_guard<std::mutex> hold(lock_);
    regs_[r < 0x10 ? 0 : bank % 3][r & 0xFF] = value;
    updatedGeneration_ = 0;
}

void It6602Model::raise(int r, uint8_t bits)
{
    std::lock_guard<std::mutex> hold(lock_);
    regs_[0][r & 0xFF] |= bits;
}

bool It6602Model::hpd()
{
    return (reg(1, 0xB0) & 0x03) == 0x03;
}

bool It6602Model::videoOutput()
{
    return (reg(0, 0x53) & 0x0F) == 0;
}

bool It6602Model::audioOutput()
{
    return (reg(0, 0x52) & 0x1F) == 0;
}

int It6602Model::registerWrites()
{
    std::lock_guard<std::mutex> hold(lock_);
    return writes_;
}

void It6602Model::reset()
{
    std::lock_guard<std::mutex> hold(lock_);
    powerOn();
    inReset_ = true;
    hpd_.clear();
    pulsesSeen_ = SocModel::lowPulses(kResetLine);
    nakIn_ = 0;
}

} // namespace sim
