#include "board/sim/i2c/It6805Model.h"

#include "board/Clock.h"
#include "board/sim/InputTiming.h"
#include "board/sim/SimBoard.h"
#include "board/sim/SocModel.h"

#include <algorithm>
#include <string>

namespace sim {

struct It6805Model::Port : public I2cModel {
    explicit Port(uint8_t address) : address_(address) {}
    bool write(const uint8_t* data, uint16_t length) override { return instance().write(address_, data, length); }
    bool read(uint8_t* data, uint16_t length) override { return instance().read(address_, data, length); }
    uint8_t address_;
};

namespace {
bool commonW1C(uint8_t r) { return r >= 0x05 && r <= 0x0E; }
bool bank0W1C(uint8_t r)
{
    return r == 0x10 || r == 0x11 || r == 0x12 || r == 0x1D || r == 0xD4 || r == 0xD5 || r == 0xB9 || r == 0xBE;
}

// One sample of a counter that averages num/den: the samples of a run of consecutive
// indexes add up to the exact sum rounded down.
uint32_t sample(uint64_t num, uint64_t den, uint32_t index)
{
    if (!den)
        return 0;
    return uint32_t((uint64_t(index) + 1) * num / den - uint64_t(index) * num / den);
}

uint8_t fsCode(uint32_t fs)
{
    switch (fs) {
    case 32000: return 3;
    case 44100: return 0;
    case 88200: return 8;
    case 96000: return 10;
    case 176400: return 12;
    case 192000: return 14;
    default: return 2;   // 48 kHz
    }
}

struct Registrar {
    Registrar()
    {
        static It6805Model::Port rx(It6805Model::kAddrRx), edid(It6805Model::kAddrEdid),
            lvds(It6805Model::kAddrLvds), cec(It6805Model::kAddrCec);
        for (It6805Model::Port* p : {&rx, &edid, &lvds, &cec})
            I2cBusModel::attach(p->address_, p, It6805Model::kSwitch, It6805Model::kChannel);
        It6805Model::instance().reset();
        SimBoard::addResetHook([] { It6805Model::instance().reset(); });
    }
} g_registrar;
} // namespace

It6805Model::It6805Model() = default;

It6805Model& It6805Model::instance()
{
    static It6805Model m;
    return m;
}

bool It6805Model::Signal::operator==(const Signal& o) const
{
    return power == o.power && glitch == o.glitch && tmds == o.tmds && clock == o.clock && dvi == o.dvi && hdmi2 == o.hdmi2 && hact == o.hact
           && vact == o.vact && htotal == o.htotal && vtotal == o.vtotal && pclk == o.pclk && colour == o.colour
           && colorimetry == o.colorimetry && extcolorimetry == o.extcolorimetry && vic == o.vic && scan == o.scan
           && range == o.range
           && interlaced == o.interlaced && hfp == o.hfp && hsync == o.hsync && vfp == o.vfp && vsync == o.vsync
           && hpol == o.hpol && vpol == o.vpol && avmute == o.avmute && audio == o.audio && fs == o.fs;
}

It6805Model::Signal It6805Model::signal()
{
    Signal s;
    const InputTiming t = inputTiming(3);
    s.power = keys_.number("5v", t.present ? 1 : 0) != 0;
    s.clock = t.present && s.power;
    s.osc = uint32_t(keys_.number("osc", 20000));
    s.relock = keys_.number("relock", 40);
    s.glitch = keys_.number("5v_glitch", 0);
    // What the source sends whether or not its link is up (read with the rest).
    s.depth = uint32_t(keys_.number("depth", 0));
    const bool audio = keys_.number("audio", 1) != 0;
    s.fs = uint32_t(keys_.number("audio_fs", 48000));
    s.statusFs = uint32_t(keys_.number("audio_status_fs", long(s.fs)));
    s.vboClock = keys_.number("vbo_clock", 1) != 0;
    s.syncLag = keys_.number("sync_lag", 0);
    s.parity = std::min(keys_.number("parity", 0), 255L);
    if (!s.clock)
        return s;
    s.dvi = keys_.number("dvi", 0) != 0;
    const uint32_t colour = uint32_t(keys_.number("colour", 0)) & 3;   // a DVI source sends no AVI InfoFrame
    s.colour = s.dvi ? 0 : colour;
    const uint32_t div = s.colour == 3 ? 2 : 1;   // YUV 4:2:0 is measured at half width
    const uint32_t hact = t.hact, vact = t.vact, htotal = t.htotal, vtotal = t.vtotal, millihz = t.millihz;
    // Default porches in the proportions of the CEA timings (1080p, 2160p).
    const uint32_t hblank = htotal > hact ? htotal - hact : 0, vblank = vtotal > vact ? vtotal - vact : 0;
    s.hact = hact / div;
    s.htotal = htotal / div;
    s.hfp = uint32_t(keys_.number("hfp", long(hblank * 11 / 35))) / div;
    s.hsync = uint32_t(keys_.number("hsync", long(hblank * 11 / 70))) / div;
    s.vact = vact;
    s.vtotal = vtotal;
    s.vfp = uint32_t(keys_.number("vfp", long(vblank * 4 / 45)));
    s.vsync = uint32_t(keys_.number("vsync", long(vblank / 9)));
    s.hpol = uint32_t(keys_.number("hpol", 1)) & 1;
    s.vpol = uint32_t(keys_.number("vpol", 1)) & 1;
    s.interlaced = t.interlaced;
    s.pclk = uint32_t((uint64_t(htotal) * vtotal * millihz / div + 500000) / 1000000);
    // Deep colour runs the link faster: 30-bit (code 0x20) at 1.25 times, 36-bit (0x30) at 1.5 times.
    s.tmds = (s.depth & 0xF0) == 0x20 ? s.pclk * 5 / 4 : (s.depth & 0xF0) == 0x30 ? s.pclk * 3 / 2 : s.pclk;
    s.hdmi2 = keys_.number("hdmi2", s.tmds > 340000 ? 1 : 0) != 0;
    s.colorimetry = uint32_t(keys_.number("colorimetry", 0)) & 3;
    s.extcolorimetry = uint32_t(keys_.number("extcolorimetry", 0)) & 7;
    s.vic = uint32_t(keys_.number("vic", 0)) & 0x7F;
    s.range = uint32_t(keys_.number("range", 0)) & 3;
    s.scan = uint32_t(keys_.number("scan", 0)) & 3;
    s.avmute = keys_.number("avmute", 0) && !s.dvi ? 1 : 0;   // a DVI source sends no control packets
    s.audio = !s.dvi && audio;
    return s;
}

// Compares the scenario with what the chip saw last and latches the interrupts a change
// raises.
void It6805Model::refresh()
{
    // The re-lock after a new clock or mode ends: SCDT comes back.
    if (relockUntilUs_ && board::Clock::monotonicUs() >= relockUntilUs_) {
        relockUntilUs_ = 0;
        if (sig_.clock) {
            // The channels lock again as on a new clock: the driver's equaliser restarts.
            common_[0x05] |= 0x04;
            common_[0x06] |= 0x01;
            banks_[0][0x10] |= 0x02;
        }
    }
    // The signal follows the scenario alone: unchanged scenario, nothing to compare.
    const uint64_t generation = SimBoard::scenarioGeneration();
    if (generation == signalGeneration_)
        return;
    signalGeneration_ = generation;
    sig_ = signal();
    if (sig_ == last_)
        return;
    if (sig_.power != last_.power || sig_.glitch != last_.glitch)
        common_[0x05] |= 0x01;
    if (sig_.clock != last_.clock || sig_.pclk != last_.pclk || sig_.tmds != last_.tmds) {
        common_[0x05] |= 0x04;
        if (sig_.clock && !last_.clock) {
            common_[0x05] |= 0x02;
            // The channels lock on the new clock: the symbol-lock change starts the
            // driver's equaliser.
            common_[0x06] |= 0x01;
        }
    }
    if (sig_.clock && (sig_.dvi != last_.dvi || !last_.clock))
        common_[0x05] |= 0x10;
    if (sig_.hdmi2 != last_.hdmi2)
        common_[0x08] |= 0x01;
    if (sig_.clock != last_.clock)
        banks_[0][0x10] |= 0x02;
    // A new clock or mode (sync placed anew included) on a running link: the mode-change interrupt, and the PLLs lose
    // lock for the re-lock time (SCDT off, then on again).
    const bool moved = sig_.hact != last_.hact || sig_.vact != last_.vact || sig_.htotal != last_.htotal
                       || sig_.vtotal != last_.vtotal || sig_.pclk != last_.pclk || sig_.interlaced != last_.interlaced
                       || sig_.hfp != last_.hfp || sig_.hsync != last_.hsync || sig_.vfp != last_.vfp
                       || sig_.vsync != last_.vsync || sig_.hpol != last_.hpol || sig_.vpol != last_.vpol
                       || sig_.tmds != last_.tmds;
    if (sig_.clock && last_.clock && moved) {
        banks_[0][0x10] |= 0x08;
        if (sig_.relock > 0) {
            relockUntilUs_ = board::Clock::monotonicUs() + uint64_t(sig_.relock) * 1000;
            banks_[0][0x10] |= 0x02;
        }
    }
    // The source's AV mute starts (0x10 bit 4) or ends (bit 5); its audio comes, goes or
    // changes rate (bit 7).
    if (sig_.clock && last_.clock && sig_.avmute != last_.avmute)
        banks_[0][0x10] |= sig_.avmute ? 0x10 : 0x20;
    if (sig_.clock && last_.clock && (sig_.audio != last_.audio || sig_.fs != last_.fs))
        banks_[0][0x10] |= 0x80;
    // Sync in pieces: after a new mode the timing counters hold the old one for sync_lag
    // ms past the re-lock.
    if (sig_.clock && last_.clock && moved && sig_.syncLag > 0) {
        stale_ = last_;
        staleUntilUs_ = std::max(relockUntilUs_, board::Clock::monotonicUs()) + uint64_t(sig_.syncLag) * 1000;
    }
    if (sig_.clock && (sig_.colour != last_.colour || sig_.colorimetry != last_.colorimetry || sig_.vic != last_.vic
                       || sig_.extcolorimetry != last_.extcolorimetry || sig_.scan != last_.scan || sig_.range != last_.range))
        banks_[0][0x12] |= 0x01;
    last_ = sig_;
}

int It6805Model::rgbOut(int level)
{
    std::lock_guard<std::recursive_mutex> hold(lock_);
    const uint8_t* m = banks_[1] + 0x70;
    const auto coefficient = [&](int k) { return int(int16_t(uint16_t((m[3 + 2 * k] | m[4 + 2 * k] << 8) << 2))) / 4; };   // 14 bits, signed
    switch (banks_[0][0x6C] & 0x03) {
    case 0:
        return level;
    case 2: {
        for (int k : {1, 2, 3, 5, 6, 7})
            if (coefficient(k))
                return -1;   // mixes the channels: no longer a grey
        int out = -1;
        for (int k : {0, 4, 8}) {
            const int v = std::clamp((level * coefficient(k) + 1024) / 2048 + int8_t(m[0]), 0, 255);
            if (out >= 0 && v != out)
                return -1;
            out = v;
        }
        return out;
    }
    default:
        return -1;
    }
}

bool It6805Model::absent()
{
    const uint64_t generation = SimBoard::scenarioGeneration();
    if (generation != absentGeneration_) {
        absentGeneration_ = generation;
        absent_ = keys_.is("chip", "absent");
    }
    return heldInReset() || absent_;
}

bool It6805Model::heldInReset()
{
    const uint32_t pulses = SocModel::lowPulses(kResetLine);
    if (pulses != pulsesSeen_) {
        pulsesSeen_ = pulses;
        lineLow_ = lineDriven_;
    }
    if (SocModel::read16(kResetLine) & 0x10) {
        lineDriven_ = true;
        if (lineLow_) {
            // Released: the chip starts from its power-on registers, hot-plug low.
            lineLow_ = false;
            std::vector<HpdChange> hpd = hpd_;
            const int level = hpdLevel_;
            reset();
            lineDriven_ = true;
            hpd_ = hpd;
            hpdLevel_ = 0;
            if (level)
                hpd_.push_back({board::Clock::monotonicUs(), 0});
        }
        return false;
    }
    if (lineDriven_ && hpdLevel_) {   // held in reset, the chip lets its hot-plug pin fall
        hpdLevel_ = 0;
        hpd_.push_back({board::Clock::monotonicUs(), 0});
    }
    lineLow_ = lineDriven_;
    return lineLow_;
}

uint8_t It6805Model::rxRead(uint8_t r)
{
    if (staleUntilUs_ && board::Clock::monotonicUs() >= staleUntilUs_)
        staleUntilUs_ = 0;
    // The timing counters of bank 0 (0x9B-0xAB) lag a new mode by sync_lag.
    const Signal& s = staleUntilUs_ && (common_[0x0F] & 7) == 0 && r >= 0x9B && r <= 0xAB && r != 0xAA ? stale_ : sig_;
    if (r < 0x10) {
        switch (r) {
        case 0x00: return 0x54;
        case 0x01: return 0x49;
        case 0x02: return uint8_t(keys_.number("id2", 0x05));
        case 0x03: return 0x68;
        case 0x04: return uint8_t(keys_.number("chipid", 0xA1));
        case 0x07:
            // The equaliser reports done after the set number of EQ-interrupt reads.
            if (eqCountdown_ > 0 && --eqCountdown_ == 0) {
                common_[0x07] |= 0x10;
                eqCountdown_ = -1;
            }
            return common_[0x07];
        default: return common_[r];
        }
    }
    const int bank = common_[0x0F] & 7;
    const bool altMap = (keys_.number("chipid", 0xA1) == 0x10 || keys_.number("chipid", 0xA1) == 0xE0);
    // Parity errors of a poor link (parity): they come back as fast as they are cleared.
    if ((bank == 0 || bank == 4) && (r == 0xB9 || r == 0xBE) && s.clock)
        return uint8_t(banks_[bank][r] | s.parity);
    if (bank == 0) {
        switch (r) {
        case 0x13:
            if (!s.power)
                return 0x00;
            return uint8_t(s.clock ? (0xBD | (s.dvi ? 0 : 0x02)) : 0x01);
        case 0x14:
            return uint8_t(s.clock ? (0x38 | (s.tmds > 100000 ? 0x01 : 0) | (s.hdmi2 ? 0x40 : 0)) : 0);
        case 0x15: return uint8_t(s.clock && s.hdmi2 ? 0x02 : 0x00);
        case 0x16:
        case 0x17:
        case 0x18: return 0x00;
        case 0x19: return uint8_t(s.clock && !relockUntilUs_ ? 0x82 : 0x00);
        case 0x43: {
            if (!s.tmds)
                return 0;
            if (uint64_t(s.osc) * 1024 / s.tmds <= 256) return 0x80;
            if (uint64_t(s.osc) * 512 / s.tmds <= 256) return 0x40;
            if (uint64_t(s.osc) * 256 / s.tmds <= 256) return 0x20;
            return 0x00;
        }
        case 0x48: {
            if (!s.tmds)
                return 0xFF;
            const uint8_t range = rxRead(0x43);
            const uint64_t scale = (range & 0x80) ? 1024 : (range & 0x40) ? 512 : (range & 0x20) ? 256 : 128;
            return uint8_t(sample(uint64_t(s.osc) * scale, s.tmds, tmdsIndex_++) - 1);
        }
        case 0x98: return uint8_t((s.depth & 0xF0) | (s.interlaced ? 0x02 : 0x00));
        case 0x99: return uint8_t(pclkSample_);
        case 0x9A: return uint8_t((banks_[0][0x9A] & 0x80) | ((pclkSample_ >> 8) & 0x03));
        case 0x9B: return uint8_t(s.htotal);
        case 0x9C: return uint8_t((s.htotal >> 8) & 0x3F);
        case 0x9D: return uint8_t(s.hact);
        case 0x9E: return uint8_t((s.hact >> 8) & 0x3F);
        case 0x9F: return uint8_t(s.hsync);
        case 0xAA: return uint8_t((s.vpol << 6) | (s.hpol << 5) | (s.avmute << 3));
        default: break;
        }
        if (r >= 0xA0 && r <= 0xAB) {
            if (altMap) {
                switch (r) {
                case 0xA0: return uint8_t((s.hsync >> 8) & 0x3F);
                case 0xA1: return uint8_t(s.hfp);
                case 0xA2: return uint8_t((s.hfp >> 8) & 0x3F);
                case 0xA3: return uint8_t(s.vtotal);
                case 0xA4: return uint8_t((s.vtotal >> 8) & 0x3F);
                case 0xA5: return uint8_t(s.vact);
                case 0xA6: return uint8_t((s.vact >> 8) & 0x3F);
                case 0xA7: return uint8_t(s.vsync);
                case 0xA8: return uint8_t((s.vsync >> 8) & 0x3F);
                case 0xA9: return uint8_t(s.vfp);
                default: return uint8_t((s.vfp >> 8) & 0x3F);   // 0xAB
                }
            }
            switch (r) {
            case 0xA0: return uint8_t(s.hfp);
            case 0xA1: return uint8_t(((s.hfp >> 4) & 0xF0) | ((s.hsync >> 8) & 0x01));
            case 0xA2: return uint8_t(s.vtotal);
            case 0xA3: return uint8_t((s.vtotal >> 8) & 0x3F);
            case 0xA4: return uint8_t(s.vact);
            case 0xA5: return uint8_t((s.vact >> 8) & 0x3F);
            case 0xA6: return uint8_t(s.vsync);
            case 0xA7: return uint8_t(s.vfp);
            case 0xA8: return uint8_t(((s.vfp >> 4) & 0xF0) | ((s.vsync >> 8) & 0x01));
            default: return 0x00;
            }
        }
        switch (r) {
        case 0xB0: return 0x00;
        case 0xB1: return uint8_t(s.audio ? 0x81 : 0x00);
        case 0xB2: return 0x00;
        case 0xB5: return s.audio ? fsCode(s.statusFs) : 0x00;
        default: return banks_[0][r];
        }
    }
    if (bank == 1 && r == 0x60)
        return (f8Last_[0] == 0xC3 && f8Last_[1] == 0xA5 && keys_.number("osc_ready", 1)) ? 0x19 : 0x00;
    if (bank == 2) {
        if (r >= 0x15 && r <= 0x19) {
            if (!s.clock || s.dvi)
                return 0x00;
            switch (r) {
            case 0x15: {
                uint8_t b1 = uint8_t(s.colour << 5 | s.scan);
                if (keys_.number("avi_flip", 0))
                    b1 ^= uint8_t(aviReads_++ & 1);   // scan information changes on every reading
                return b1;
            }
            case 0x16: return uint8_t(s.colorimetry << 6);
            case 0x17: return uint8_t(s.extcolorimetry << 4 | s.range << 2);
            case 0x18: return uint8_t(s.vic);
            default: return 0x00;
            }
        }
        if (r >= 0xBE && r <= 0xC2) {
            if (!s.audio || !s.fs)
                return 0x00;
            const uint32_t n = 128 * s.fs / 1000;
            const uint32_t cts = uint32_t(uint64_t(s.tmds) * 1000 * n / (128ull * s.fs));
            switch (r) {
            case 0xBE: return uint8_t(n >> 12);
            case 0xBF: return uint8_t(n >> 4);
            case 0xC0: return uint8_t((n & 0x0F) | ((cts & 0x0F) << 4));
            case 0xC1: return uint8_t(cts >> 12);
            default: return uint8_t(cts >> 4);   // 0xC2
            }
        }
    }
    if (bank == 3) {
        if (r == 0xEA || r == 0xEB) {
            const int channel = (banks_[3][0xE9] >> 5) & 0x03;
            const char* const names[3] = {"err0", "err1", "err2"};
            const uint32_t err = uint32_t(keys_.number(names[channel < 3 ? channel : 2], 0));
            if (r == 0xEA)
                return uint8_t(err);
            return uint8_t(s.clock ? (0x80 | ((err >> 8) & 0x7F)) : 0x00);
        }
        if ((r == 0x63 || r == 0x64) && keys_.number("eq_saturated", 0))
            return r == 0x63 ? 0xFF : 0x3F;
    }
    if (bank == 5 && r == 0xDB)
        return sig_.vboClock ? 0x1C : 0x0C;
    return banks_[bank][r];
}

void It6805Model::rxWrite(uint8_t r, uint8_t v)
{
    if (r < 0x10) {
        if (commonW1C(r))
            common_[r] &= uint8_t(~v);
        else
            common_[r] = v;
        return;
    }
    const int bank = common_[0x0F] & 7;
    uint8_t& c = banks_[bank][r];
    const uint8_t old = c;
    if ((bank == 0 && bank0W1C(r)) || (bank == 4 && (r == 0xB9 || r == 0xBE))) {
        c &= uint8_t(~v);
        return;
    }
    c = v;
    if (bank == 0 && r == 0x9A && !(v & 0x80)) {
        // One pixel-clock sample per latch; a measurement takes twenty.
        pclkSample_ = sig_.pclk ? sample(512ull * sig_.osc, sig_.pclk, pclkIndex_ % 20) : 0;
        ++pclkIndex_;
    }
    if (bank == 0 && r == 0xF8) {
        f8Last_[0] = f8Last_[1];
        f8Last_[1] = v;
    }
    if (bank == 1 && r == 0x54 && v == 0x04) {
        const uint8_t base = banks_[1][0x50], address = banks_[1][0x51];
        uint32_t osc = uint32_t(keys_.number("osc", 20000));
        uint8_t lo = 0, hi = 0;
        (void)base;   // words 0 and 1 read 00 00: the value sits at base 0
        if (address == 0xB0) {
            lo = uint8_t(osc);
            hi = uint8_t(osc >> 8);
        } else if (address == 0xB1) {
            lo = uint8_t(osc >> 16);
        }
        banks_[1][0x61] = lo;
        banks_[1][0x62] = hi;
    }
    if (bank == 3 && r == 0x22 && (v & 0x04) && !(old & 0x04)) {
        const long passes = keys_.number("eq_passes", 1);
        eqCountdown_ = passes < 0 ? -1 : int(passes);
        if (passes == 0)
            common_[0x07] |= 0x10;
    }
    if ((bank == 3 || bank == 7) && r == 0x3A && (v & 0x80) && !(old & 0x80) && keys_.number("caof", 1))
        common_[bank == 3 ? 0x08 : 0x0D] |= 0x10;
    if (bank == 3 && r == 0xAB) {
        const int level = (v & 0xC0) == 0xC0 ? 1 : 0;
        if (level != hpdLevel_ || hpd_.empty()) {
            hpdLevel_ = level;
            hpd_.push_back({board::Clock::monotonicUs(), level});
            if (hpd_.size() > 4096)
                hpd_.erase(hpd_.begin(), hpd_.begin() + 2048);
        }
    }
}

// Ends the frame on the bus once its time is up: the buffer as it holds now is what went
// out, and transmit-done is raised.
void It6805Model::cecTxProgress()
{
    if (!cecTxEndUs_ || board::Clock::monotonicUs() < cecTxEndUs_)
        return;
    cecTxEndUs_ = 0;
    const uint8_t length = cec_[0x23] > 16 ? 16 : cec_[0x23];
    cecSent_.emplace_back(cec_ + 0x10, cec_ + 0x10 + length);
    cec_[0x54] = uint8_t(keys_.number("cec_tx_result", 0) & 0x03);
    cec_[0x4C] |= 0x20;
}

uint8_t It6805Model::cecRead(uint8_t r)
{
    cecTxProgress();
    switch (r) {
    case 0x51: return 0x00;
    case 0x52: return uint8_t(cecFifo_.size() > 15 ? 15 : cecFifo_.size());
    case 0x4D:
        if (cecFifo_.empty()) {
            cecCurrent_ = CecMessage{0, 0, 0, {}};
        } else {
            cecCurrent_ = cecFifo_.front();
            cecFifo_.pop_front();
        }
        cecOperand_ = 0;
        return cecCurrent_.header;
    case 0x4E: return cecCurrent_.opcode;
    case 0x4F: return cecCurrent_.length;
    case 0x50: return cecOperand_ < cecCurrent_.operands.size() ? cecCurrent_.operands[cecOperand_++] : 0x00;
    default: return cec_[r];
    }
}

void It6805Model::cecWrite(uint8_t r, uint8_t v)
{
    cecTxProgress();
    const uint8_t old = cec_[r];
    if (r == 0x4C) {
        cec_[r] &= uint8_t(~v);
        return;
    }
    cec_[r] = v;
    if (r == 0x52 && (v & 0x40)) {
        cecFifo_.clear();
        cecCurrent_ = CecMessage{0, 0, 0, {}};
    }
    if (r == 0x08 && (v & 0x88) == 0x88 && (old & 0x80) == 0 && !cecTxEndUs_) {
        const uint64_t length = cec_[0x23] > 16 ? 16 : cec_[0x23];
        cecTxEndUs_ = board::Clock::monotonicUs() + 4500 + 24000 * length;
    }
}

bool It6805Model::write(uint8_t address, const uint8_t* data, uint16_t length)
{
    std::lock_guard<std::recursive_mutex> hold(lock_);
    if (absent() || length == 0)
        return false;
    refresh();
    const int slot = address == kAddrRx ? 0 : address == kAddrCec ? 1 : address == kAddrEdid ? 2 : 3;
    uint8_t r = data[0];
    pointer_[slot] = r;
    for (uint16_t i = 1; i < length; ++i) {
        switch (slot) {
        case 0: rxWrite(r, data[i]); break;
        case 1: cecWrite(r, data[i]); break;
        case 2: edid_[r] = data[i]; break;
        default: lvds_[r] = data[i]; break;
        }
        if (!(slot == 1 && r == 0x50))
            ++r;
    }
    return true;
}

bool It6805Model::read(uint8_t address, uint8_t* data, uint16_t length)
{
    std::lock_guard<std::recursive_mutex> hold(lock_);
    if (absent())
        return false;
    refresh();
    const int slot = address == kAddrRx ? 0 : address == kAddrCec ? 1 : address == kAddrEdid ? 2 : 3;
    uint8_t r = pointer_[slot];
    for (uint16_t i = 0; i < length; ++i) {
        switch (slot) {
        case 0: data[i] = rxRead(r); break;
        case 1: data[i] = cecRead(r); break;
        case 2: data[i] = edid_[r]; break;
        default: data[i] = lvds_[r]; break;
        }
        if (!(slot == 1 && r == 0x50))
            ++r;
    }
    return true;
}

uint8_t It6805Model::reg(int bank, int r)
{
    std::lock_guard<std::recursive_mutex> hold(lock_);
    return r < 0x10 ? common_[r & 0x0F] : banks_[bank & 7][r & 0xFF];
}

void It6805Model::setReg(int bank, int r, uint8_t value)
{
    std::lock_guard<std::recursive_mutex> hold(lock_);
    (r < 0x10 ? common_[r & 0x0F] : banks_[bank & 7][r & 0xFF]) = value;
}

void It6805Model::raise(int r, uint8_t bits)
{
    std::lock_guard<std::recursive_mutex> hold(lock_);
    (r < 0x10 ? common_[r & 0x0F] : banks_[0][r & 0xFF]) |= bits;
}

std::vector<It6805Model::HpdChange> It6805Model::hpdLog()
{
    std::lock_guard<std::recursive_mutex> hold(lock_);
    return hpd_;
}

int It6805Model::hpdLevel()
{
    std::lock_guard<std::recursive_mutex> hold(lock_);
    return hpdLevel_;
}

void It6805Model::cecReceive(const std::vector<uint8_t>& message, uint8_t lengthBits)
{
    if (message.size() < 2)
        return;
    cecReceiveRaw(message[0], message[1], uint8_t(message.size() | lengthBits),
                  std::vector<uint8_t>(message.begin() + 2, message.end()));
}

void It6805Model::cecReceiveRaw(uint8_t header, uint8_t opcode, uint8_t lengthByte, const std::vector<uint8_t>& operands)
{
    std::lock_guard<std::recursive_mutex> hold(lock_);
    cecFifo_.push_back(CecMessage{header, opcode, lengthByte, operands});
    cec_[0x4C] |= 0x04;
}

std::vector<std::vector<uint8_t>> It6805Model::cecSent()
{
    std::lock_guard<std::recursive_mutex> hold(lock_);
    cecTxProgress();
    return cecSent_;
}

int It6805Model::cecQueued()
{
    std::lock_guard<std::recursive_mutex> hold(lock_);
    return int(cecFifo_.size());
}

void It6805Model::reset()
{
    std::lock_guard<std::recursive_mutex> hold(lock_);
    for (auto& b : banks_)
        for (auto& x : b)
            x = 0;
    for (auto& x : common_)
        x = 0;
    for (int i = 0; i < 256; ++i)
        cec_[i] = edid_[i] = lvds_[i] = 0;
    for (auto& p : pointer_)
        p = 0;
    banks_[5][0xC9] = 0x79;          // V-by-One output off until the driver turns it on
    for (int c = 0; c < 3; ++c)
        banks_[3][0xD5 + c] = banks_[7][0xD5 + c] = 0x0F;
    banks_[3][0x5D] = 0x40;
    banks_[3][0x5E] = 0x30;
    banks_[3][0x5F] = 0x50;
    banks_[3][0x60] = 0x20;
    sig_ = last_ = Signal();
    relockUntilUs_ = staleUntilUs_ = 0;
    signalGeneration_ = 0;
    absentGeneration_ = 0;
    pclkIndex_ = tmdsIndex_ = pclkSample_ = 0;
    eqCountdown_ = -1;
    f8Last_[0] = f8Last_[1] = 0;
    aviReads_ = 0;
    hpd_.clear();
    hpdLevel_ = 0;
    lineDriven_ = lineLow_ = false;
    pulsesSeen_ = SocModel::lowPulses(kResetLine);
    cecFifo_.clear();
    cecCurrent_ = CecMessage{0, 0, 0, {}};
    cecOperand_ = 0;
    cecSent_.clear();
    cecTxEndUs_ = 0;
}

} // namespace sim
