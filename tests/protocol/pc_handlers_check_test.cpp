// Drawn RAM, register, flash, EDID, clock and network requests from two links: every reply
// and stored byte against a model written from what the PC is promised, not from the handlers;
// and two links on two threads at once over the shared images, for the thread-checked build.
#include "tests/protocol/handler_fixture.h"

#include "board/Clock.h"
#include "board/sim/FpgaFlashModel.h"
#include "board/sim/FpgaModel.h"
#include "board/sim/Journal.h"
#include "board/sim/spi/ScalerFlashModel.h"
#include "cloud/m57_wifi_config.h"
#include "fpga/clock_record_run.h"
#include "scaler/c331_drv.h"
#include "scaler/c331_manage.h"
#include "sources/velinsource.h"
#include "tests/support/Emulation.h"
#include "tests/support/PropertyCheck.h"

#include <QDate>
#include <QDateTime>
#include <array>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <map>
#include <thread>

namespace {

using handler_test::Bytes;
using sim::FpgaFlashModel;
using sim::FpgaModel;
using sim::ScalerFlashModel;

constexpr uint32_t kFpgaFlash = 0x800000, kScalerFlash = 0x2000000;
// The thread-checked build is ten times slower: few drawn sequences there.
#ifdef __SANITIZE_THREAD__
constexpr bool kThreadChecked = true;
#else
constexpr bool kThreadChecked = false;
#endif
// Patterned flash at a case's start (the rest erased): chip 0's window with 64 KiB around.
constexpr uint32_t kBandLo = 0x320000, kBandHi = 0x384000;

// FPGA 0's registers that hold what is written.
constexpr int kPlainRegs[] = {1, 4, 5, 8, 20, 23, 41, 63, 160, 161, 162, 163, 164, 165, 166, 167, 168, 169};

uint8_t pattern(uint32_t a, uint32_t salt) { return uint8_t((a * 2654435761u + salt) >> 13); }

struct Model {
    // This controller: the block, the user-mode slots, the register image, the 4G block, the apply flag.
    std::array<uint8_t, KelRamPara::kRamSize> ram{};
    std::vector<std::array<uint8_t, KelRamPara::kModeSlotSize>> modes =
        std::vector<std::array<uint8_t, KelRamPara::kModeSlotSize>>(KelRamPara::kModeSlots);
    std::array<uint8_t, KelRamPara::kRegImageSize> reg{};
    std::array<uint8_t, 256> g4g{};
    int apply = 0;
    // The FPGA side: images, the FPGAs' RAMs and registers, the shadow.
    uint8_t para[2][1024], back[2][1024], rx[2][1024], tx[2][1024], def[2048], zoom[1024], cmd[1024], ext[1024];
    std::map<int, std::vector<uint8_t>> fram;   // FPGA 0's RAM n (FPGA 1 is never reached)
    uint8_t freg[256];                          // FPGA 0's registers
    uint8_t shadow[2][256];
    bool running[2] = {};
    // The flashes: FPGA 0's (FPGA 1's is never reached) and the scaler's.
    std::vector<uint8_t> flash = std::vector<uint8_t>(kFpgaFlash, 0xFF);
    std::vector<uint8_t> scaler = std::vector<uint8_t>(kScalerFlash, 0xFF);
    bool clockTold = false;
    // EDID records stored per input, the images handed to the input side and their flags.
    std::map<unsigned, Bytes> edid;
    uint8_t edidTable[4][256] = {};
    uint8_t edidFrom[4] = {};
    // The network settings and what identifies the device.
    uint32_t ip = 0, mask = 0, gw = 0;
    uint16_t port = 0;
    Bytes uid, pid, barcode, property;
    // The WiFi link, when up: its access point's port (the TCP port it came up with),
    // address and MAC, and the station's address, mask, gateway and MAC.
    bool wifi = false;
    uint16_t wifiPort = 0;
    uint32_t apIp = 0, staIp = 0, staMask = 0, staGw = 0;
    Bytes apMac, staMac;
};

uint32_t be32(const Bytes& b, size_t at) { return uint32_t(b[at]) << 24 | uint32_t(b[at + 1]) << 16 | uint32_t(b[at + 2]) << 8 | b[at + 3]; }
void putBe(Bytes& out, uint32_t v) { out.insert(out.end(), {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)}); }
QString dottedOf(uint32_t v) { return QString("%1.%2.%3.%4").arg(v >> 24).arg((v >> 16) & 255).arg((v >> 8) & 255).arg(v & 255); }

// The address set: a unicast host of its network (not the network's own or broadcast
// address), a mask of 1 to 30 leading ones, a gateway that is none (0) or another such host of
// the same network, a port other than 0 and the fixed 10002.
bool addressTaken(uint32_t ip, uint32_t mask, uint32_t gw, uint16_t port)
{
    int ones = 0;
    while (ones < 32 && (mask & (0x80000000u >> ones)))
        ++ones;
    const bool contiguous = ones == 32 ? mask == ~0u : mask == (ones ? ~0u << (32 - ones) : 0u);
    const auto host = [&](uint32_t a) {
        const uint32_t first = a >> 24, part = a & ~mask;
        return first != 0 && first != 127 && first < 224 && part != 0 && part != (~mask);
    };
    return contiguous && ones >= 1 && ones <= 30 && host(ip) && (gw == 0 || (host(gw) && (gw & mask) == (ip & mask) && gw != ip)) && port != 0 && port != 10002;
}


// The mirror between parameter RAM and its back-up copy.
constexpr unsigned kMirror[][3] = {{60, 0, 4},    {8, 4, 4},     {19, 12, 4},   {32, 20, 4},   {43, 28, 4},   {520, 36, 4},
                                   {528, 44, 4},  {536, 52, 4},  {544, 60, 4},  {576, 68, 4},  {584, 76, 4},  {592, 84, 4},
                                   {600, 92, 4},  {608, 100, 4}, {616, 108, 4}, {624, 116, 4}, {632, 124, 4}, {56, 132, 4}};

uint8_t bcdOf(int v) { return uint8_t(((v / 10) << 4) | (v % 10)); }

enum class Kind { OwnWrite, OwnRead, FpgaWrite, FpgaRead, RegWrite, RegRead, Erase, FlashWrite, FlashRead, Clock, Net, Edid, NetSet, Ident, Single };

struct Step {
    Kind kind = Kind::OwnRead;
    int link = 0;
    uint32_t a = 0;
    unsigned len = 0;
    uint8_t mode = 0, sub = 0;   // frame bytes 6 and 7
    bool own = true;             // to the controller
    uint8_t r = 0, mask = 0, value = 0;
    uint8_t count = 0, emode = 0;
    Bytes data;                  // RAM or flash data, or the clock's seven bytes
    bool dateFails = false;
    uint8_t net = 3;
    uint8_t salt = 0;
    Bytes address;               // the set-address data: address, mask, gateway, port
};

std::ostream& operator<<(std::ostream& o, const Step& s)
{
    return o << "{kind " << int(s.kind) << " link " << s.link << " a 0x" << std::hex << s.a << std::dec << " len " << s.len
             << " own " << s.own << " mode " << int(s.mode) << " sub " << int(s.sub) << " r " << int(s.r) << " m " << int(s.mask)
             << " v " << int(s.value) << " erase " << int(s.emode) << "x" << int(s.count) << " data " << pc::hex(s.data)
             << " datefail " << s.dateFails << " net " << int(s.net) << " address " << pc::hex(s.address) << "}";
}

// The network read (sub-command 3) and the discovery record (0x10) as the PC is promised them.
Bytes predictNet(const Model& m, const Step& s, const Bytes& mac, uint16_t listening)
{
    Bytes r;
    if (s.net == 3) {
        r = {0, 3, 22, 0, 0};
        r.insert(r.end(), mac.begin(), mac.end());
        for (uint32_t v : {m.ip, m.mask, m.gw})
            putBe(r, v);
        pc::put16(r, listening);
        return r;
    }
    r = {0, 0x10, 0x8D, 1, 1, 0x52, 0x9C, 0x48, 0x0B, 0, 2};
    Bytes code = m.barcode;
    code.resize(16, 0);
    r.insert(r.end(), code.begin(), code.end());
    r.insert(r.end(), m.pid.begin(), m.pid.end());
    r.resize(187, 0);
    r.insert(r.end(), mac.begin(), mac.end());
    pc::put16(r, listening);
    for (uint32_t v : {m.ip, m.mask, m.gw})
        putBe(r, v);
    r.resize(207, 0);
    if (!m.wifi)
        return r.resize(233, 0), r;   // no WiFi link: the record ends here
    r.push_back(2);
    r.insert(r.end(), m.apMac.begin(), m.apMac.end());
    r.resize(278, 0);
    pc::put16(r, m.wifiPort);
    putBe(r, m.apIp);
    r.insert(r.end(), m.staMac.begin(), m.staMac.end());
    r.resize(354, 0);
    pc::put16(r, 5005);   // the station's port
    for (uint32_t v : {m.staIp, m.staMask, m.staGw})
        putBe(r, v);
    r.push_back(24);
    r.insert(r.end(), m.property.begin(), m.property.end());
    r.push_back(0);
    return r;
}

template <typename T>
rc::Gen<T> edge(std::initializer_list<T> edges, rc::Gen<T> any)
{
    return rc::gen::weightedOneOf<T>({{3, rc::gen::elementOf(std::vector<T>(edges))}, {2, std::move(any)}});
}

rc::Gen<Bytes> bytes(unsigned n) { return rc::gen::container<Bytes>(n, rc::gen::arbitrary<uint8_t>()); }

rc::Gen<Step> drawStep()
{
    using namespace rc;
    return gen::exec([]() {
        Step s;
        s.link = *gen::inRange(0, 2);
        s.kind = Kind(*gen::weightedElement<int>({{3, 0}, {3, 1}, {5, 2}, {5, 3}, {4, 4}, {4, 5}, {4, 6}, {3, 7}, {3, 8}, {2, 9}, {2, 10}, {2, 11}, {2, 12}, {2, 13}, {3, 14}}));
        s.mode = *gen::weightedElement<uint8_t>({{6, 0}, {1, 1}});
        s.sub = *gen::elementOf(std::vector<uint8_t>{0, 1, 2, 2, 3});
        s.own = *gen::weightedElement<bool>({{1, true}, {2, false}});
        switch (s.kind) {
        case Kind::OwnWrite:
        case Kind::OwnRead: {
            const bool w = s.kind == Kind::OwnWrite;
            s.own = true;
            s.a = *gen::weightedOneOf<uint32_t>({{4, gen::inRange<uint32_t>(0, 0x1000)},
                                                  {2, edge<uint32_t>({0xFFE, 0xFFC, 0x1000, 0x10000, 0x10FFF, 0x1FFE, 0x11000}, gen::inRange<uint32_t>(0x1000, 0x11000))},
                                                  {2, edge<uint32_t>({0xA1000000u, 0xA10000FFu, 0xA1000080u}, gen::inRange<uint32_t>(0xA1000000u, 0xA1000100u))},
                                                  {w ? 1 : 3, gen::elementOf(std::vector<uint32_t>{0x600000, 0x600040, 0x600070, 0x600440, 0x600880, 0x600C7F,
                                                                                                   0x20000000, 0xFD000000, 0xFFFF, 0xFFE, 0x5FFFFC, 0xA1000100u})}});
            s.len = *edge<unsigned>({0, 1, 2, 4, 0x81, 0x400, 0x1100}, gen::inRange<unsigned>(0, 300));
            if (!w && *gen::weightedElement<bool>({{1, true}, {2, false}})) {
                // Reads that run from one row into the next, or past the last.
                s.a = *gen::elementOf(std::vector<uint32_t>{0xFFF, 0xFFFF, 0x10FFE, 0x10000, 0x60007A, 0x600040, 0x600C7E, 0xA10000FEu});
                s.len = *gen::elementOf(std::vector<unsigned>{2, 4, 0x40, 0x1100, 0x2000});
            }
            if (w)
                s.data = *bytes(s.len);
            break;
        }
        case Kind::FpgaWrite:
        case Kind::FpgaRead: {
            s.own = false;
            const uint32_t T = *gen::weightedElement<uint32_t>({{6, 0}, {3, 1}, {3, 2}, {1, 3}, {2, 4}, {2, 5}, {2, 6}, {1, 7}});
            const uint32_t I = *gen::weightedElement<uint32_t>({{2, 0}, {2, 1}, {2, 2}, {1, 15}, {1, 5}});
            const uint32_t off = *edge<uint32_t>({0, 1, 0x3FF, 0x400, 0x7FF, 0x800, 0x801, 0xBFF, 0xC00, 0xFFF, 56, 116, 520},
                                                 gen::inRange<uint32_t>(0, 0x1000));
            const uint32_t high = *gen::weightedElement<uint32_t>({{8, 0}, {1, 0x10000000}, {1, 0x00F00000}});
            s.a = high | (T << 24) | (I << 12) | off;
            s.len = *edge<unsigned>({0, 1, 4, 8, 1024}, gen::inRange<unsigned>(0, 160));
            if (s.kind == Kind::FpgaWrite)
                s.data = *bytes(s.len);
            break;
        }
        case Kind::RegWrite:
        case Kind::RegRead:
            if (s.own)
                s.r = *gen::elementOf(std::vector<uint8_t>{1, 4, 5, 6, 7, 12, 13, 20, 36, 37, 100, 169, 170, 255, 0xA0, 0xA2, 0xA3, 0xA4, 0xA5});
            else
                s.r = *gen::elementOf(std::vector<uint8_t>{1, 4, 5, 8, 20, 23, 41, 63, 64, 65, 96, 97, 127, 160, 169, 170, 255});
            s.mask = *edge<uint8_t>({0, 0xFF, 0x0F}, gen::arbitrary<uint8_t>());
            s.value = *gen::arbitrary<uint8_t>();
            break;
        case Kind::Erase:
        case Kind::FlashWrite:
        case Kind::FlashRead: {
            s.own = *gen::weightedElement<bool>({{2, true}, {1, false}});
            const uint32_t chip = *gen::weightedElement<uint32_t>({{8, 0}, {2, 1}, {4, 2}, {2, 3}, {4, 4}, {1, 5}, {2, 8}, {1, 9}, {1, 0xFF}});
            const uint32_t size = chip == 4 ? kScalerFlash : chip == 8 ? 0x10000 : kFpgaFlash;
            uint32_t addr;
            if (s.kind == Kind::Erase) {
                s.emode = *gen::weightedElement<uint8_t>({{3, 1}, {3, 2}, {3, 4}, {1, 3}, {1, 0}});
                s.count = *edge<uint8_t>({0, 1, 2, 4, 8, 16, 255}, gen::inRange<uint8_t>(0, 20));
                const uint32_t unit = s.emode == 4 ? 16 : s.emode == 2 ? 8 : 1;
                const uint32_t lastBlock = (chip == 4 ? 0x1000 : size / 4096) - unit;
                uint32_t block = *gen::weightedOneOf<uint32_t>({{3, gen::elementOf(std::vector<uint32_t>{1152, 1160, 1168, 1184, 1200, 1208, 1214, 1215, 1216, 1151, 1144, 0, 1, lastBlock, lastBlock + 1})},
                                                                 {2, gen::inRange<uint32_t>(0, size / 4096)}, {1, gen::inRange<uint32_t>(800, 880)}});
                if (chip == 0 && s.own && *gen::weightedElement<bool>({{3, true}, {1, false}})) {
                    // Chip 0's window: ranges that fit it (and some that run past its end).
                    block = *gen::elementOf(std::vector<uint32_t>{1152, 1160, 1168, 1184, 1200, 1208});
                    s.count = *gen::elementOf(std::vector<uint8_t>{0, 1, 1, 2, 3, 4, uint8_t(64 / unit)});
                }
                if (*gen::weightedElement<bool>({{5, true}, {1, false}}))
                    block -= block % unit;   // mostly aligned
                addr = block * 4096 + (*gen::weightedElement<bool>({{9, true}, {1, false}}) ? 0 : 0x800);
            } else {
                s.len = *edge<unsigned>({0, 1, 16, 256, 257, 600}, gen::inRange<unsigned>(0, 700));
                addr = *gen::weightedOneOf<uint32_t>({{3, edge<uint32_t>({0x480000, 0x4BFFF0, 0x47FFFF, 0x4C0000, 0x4BFF00, size - 1, size - 16, 0, 0x3400F0}, gen::inRange<uint32_t>(0x47F000, 0x4C1000))},
                                                       {2, gen::inRange<uint32_t>(kBandLo, kBandHi)}, {1, gen::inRange<uint32_t>(0, size)}});
                if (s.kind == Kind::FlashWrite)
                    s.data = *bytes(s.len);
            }
            s.a = (s.own ? chip << 24 : uint32_t(*gen::elementOf(std::vector<uint32_t>{0, 0x02, 0x04}) << 24)) | (addr & 0xFFFFFF);
            break;
        }
        case Kind::Clock: {
            s.own = true;
            int year = *gen::elementOf(std::vector<int>{2024, 2026, 2100, 2000, 1999, 2038});
            int month = *edge<int>({2, 4, 6, 9, 11, 12, 1}, gen::inRange(0, 14));
            int day = *edge<int>({28, 29, 30, 31, 1}, gen::inRange(0, 33));
            // Each field's last value and the one past it weighted in.
            Bytes d = {bcdOf(year % 100), bcdOf(year / 100), bcdOf(month % 100), bcdOf(day), bcdOf(*edge<int>({23, 24}, gen::inRange(0, 25))),
                       bcdOf(*edge<int>({59, 60}, gen::inRange(0, 61))), bcdOf(*edge<int>({59, 60}, gen::inRange(0, 61)))};
            if (*gen::weightedElement<bool>({{1, true}, {8, false}}))
                d[*gen::inRange(0, 7)] |= 0x0A;   // not BCD
            s.data = d;
            s.dateFails = *gen::weightedElement<bool>({{1, true}, {3, false}});
            break;
        }
        case Kind::Net:
            s.own = true;
            s.net = *gen::elementOf(std::vector<uint8_t>{3, 0x10});
            break;
        case Kind::NetSet: {
            // Masks of every length (a hole now and then), hosts and gateways at the network's
            // own and broadcast addresses, off the network, reserved, and the ports refused.
            s.own = true;
            const int prefix = *edge<int>({0, 1, 8, 16, 24, 30, 31, 32}, gen::inRange(0, 33));
            uint32_t mask = prefix ? ~uint32_t(0) << (32 - prefix) : 0;
            if (*gen::weightedElement<bool>({{1, true}, {9, false}}))
                mask ^= uint32_t(1) << *gen::inRange(0, 32);
            const uint32_t net = *gen::elementOf(std::vector<uint32_t>{0xC0A80000, 0x0A010000, 0x7F000000, 0xE0000000, 0x00000000, 0xAC100000});
            auto host = [&](int kind) -> uint32_t {   // 0 any, 1 the network's own, 2 its broadcast, 3 elsewhere
                const uint32_t any = *gen::arbitrary<uint32_t>();
                return kind == 1 ? (net & mask) : kind == 2 ? (net & mask) | ~mask : kind == 3 ? any : (net & mask) | (any & ~mask);
            };
            const uint32_t ip = host(*gen::weightedElement<int>({{6, 0}, {1, 1}, {1, 2}, {1, 3}}));
            const int gwKind = *gen::weightedElement<int>({{5, 0}, {1, 1}, {2, 2}, {1, 3}, {1, 4}});   // 4: the device's own address
            const uint32_t gw = *gen::weightedElement<bool>({{1, true}, {5, false}}) ? 0 : gwKind == 4 ? ip : host(gwKind);
            const uint16_t port = *edge<uint16_t>({0, 10002, 5005, 5006}, gen::arbitrary<uint16_t>());
            for (uint32_t v : {ip, mask, gw})
                s.address.insert(s.address.end(), {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)});
            pc::put16(s.address, port);
            break;
        }
        case Kind::Ident:
            s.net = *gen::elementOf(std::vector<uint8_t>{0x82, 0x83, 0x83});
            s.own = s.net == 0x83 || *gen::arbitrary<bool>();   // the version of the controller or of either FPGA
            s.dateFails = *gen::weightedElement<bool>({{1, true}, {4, false}});   // the flash not reached
            break;
        case Kind::Single: {
            // Up to five items of every number that acts, at and around each range's ends, and
            // numbers that do not; now and then a frame that is refused whole.
            s.own = true;
            s.r = *gen::weightedElement<uint8_t>({{12, 0x31}, {1, 0x32}});
            const int items = *gen::weightedElement<int>({{1, 0}, {4, 1}, {4, 2}, {3, 5}});
            for (int i = 0; i < items; ++i) {
                const uint8_t n = *gen::elementOf(std::vector<uint8_t>{6, 21, 29, 37, 45, 50, 51, 54, 60, 93, 10, 11, 12, 13, 0, 7, 52, 255});
                const uint16_t v = *edge<uint16_t>({0, 1, 2, 3, 4, 5, 6, 7, 8, 15, 16, 23, 24, 100, 101, 0xFFFF}, gen::arbitrary<uint16_t>());
                s.data.insert(s.data.end(), {n, uint8_t(v), uint8_t(v >> 8)});
            }
            if (*gen::weightedElement<bool>({{1, true}, {6, false}}))
                s.data.push_back(6);   // an item cut short
            break;
        }
        case Kind::Edid:
            // Write (1) or read (2) of an input's record: whole, of another length, or cut short.
            s.net = *gen::elementOf(std::vector<uint8_t>{1, 1, 2, 2, 3});
            s.r = *gen::weightedElement<uint8_t>({{4, 0}, {3, 2}, {3, 3}, {1, 4}, {1, 5}});
            s.len = *gen::weightedElement<unsigned>({{8, 288}, {1, 200}, {1, 300}});
            s.data = *bytes(*gen::weightedElement<unsigned>({{8, s.len}, {1, 100}}));
            break;
        }
        s.salt = *gen::arbitrary<uint8_t>();
        return s;
    });
}

// What the model predicts for a step (the reply from byte 10 on), moving the model on;
// `request` is the buffer as the handler got it (a reply keeps bytes it does not write).

uint8_t descBlock2(uint32_t d)
{
    static const std::map<uint32_t, uint8_t> k = {{0, 0x52}, {1, 0x9C}, {2, 25}, {4, 12}, {6, 1}, {18, 1}, {20, 1}, {40, 1}, {42, 1}, {16, 2}, {38, 2},
                                                  {64, 15}, {65, 15}, {96, 15}, {97, 15}, {66, 3}, {67, 3}, {98, 3}, {99, 3}};
    return k.count(d) ? k.at(d) : 0;
}

Bytes predictOwnRam(Model& m, const Step& s, bool write)
{
    const uint32_t A = s.a, L = s.len;
    if (write) {
        if (A < 0x1000) {
            if (A + L > 4096)
                return {1};
            for (uint32_t i = 0; i < L; ++i)   // the inputs' measurements (256-291) stay as measured
                m.ram[A + i] = A + i >= 256 && A + i < 292 ? m.ram[A + i] : s.data[i];
            return {0};
        }
        if (A <= 0x10FFF) {
            const uint32_t k = (A >> 12) - 1, o = A & 0xFFF;
            if (k > 15 || o + L > KelRamPara::kModeSlotSize)
                return {1};
            std::copy(s.data.begin(), s.data.end(), m.modes[k].begin() + o);
            return {0};
        }
        if (A >= 0xA1000000u && A <= 0xA10000FFu && uint64_t(A) + L <= 0xA1000100u) {
            std::copy(s.data.begin(), s.data.end(), m.g4g.begin());
            return {0};
        }
        return {1};
    }
    // A read that reaches where nothing is kept is refused; past the last slot and past the
    // 4G block's 256 bytes (inside their rows) reads 0.
    const int lang = g_lcd_lang_valid, pixels = g_kel_max_pixel;
    Bytes r = {0};
    for (uint64_t a = A; a < uint64_t(A) + L; ++a) {
        const bool kept = a <= 0x10FFF || (a >= 0x600000 && a <= 0x600027) || (a >= 0x600040 && a <= 0x60083F) ||
                          (a >= 0x600880 && a <= 0x600C7F) || (a >= 0x800000 && a <= 0xA0007F) || (a >= 0xA0000000u && a <= 0xA0000FFFu) ||
                          (a >= 0xA1000000u && a <= 0xA1000100u) || (a >= 0xFD000000u && a <= 0xFEFFFFFFu && (a >> 24 == 0xFE || a <= 0xFD0003FFu));
        if (!kept)
            return {1, 0};
        const uint64_t d1 = a - 0x600040, k = (A >> 12) >= 1 ? (A >> 12) - 1 : 0, flat = k * KelRamPara::kModeSlotSize + (a - (k + 1) * 0x1000);
        if (a >= 0x600000 && a <= 0x600027)
            r.push_back(a == 0x600000 ? 3 : a == 0x600001 || a == 0x600002 ? 9 : a == 0x600003 ? 8 : 0);
        else if (a >= 0x600040 && a <= 0x60043F)
            r.push_back(d1 == 0 ? uint8_t(lang) : d1 == 2 ? 16 : d1 == 4 || d1 == 6 ? 0xFC : d1 == 5 || d1 == 7 || d1 == 56 ? 0x1F
                        : d1 == 8 || d1 == 10 || d1 == 50 ? 0x40 : d1 >= 12 && d1 <= 15 ? uint8_t(uint32_t(pixels) >> (8 * (d1 - 12)))
                        : d1 == 28 ? 4 : d1 == 30 ? 0x28 : d1 == 34 || d1 == 40 ? 8 : d1 == 36 ? 0x1C
                        : d1 == 42 || d1 == 44 || d1 == 51 || d1 == 59 || d1 == 60 ? 1 : d1 == 52 ? 0xF0
                        : d1 == 54 ? (m.g4g[0] == 0xAA ? 1 : 0) : d1 == 58 ? (lang & (1 << 17) ? 2 : 1) : 0);
        else if (a >= 0x600440 && a <= 0x60083F)
            r.push_back(descBlock2(uint32_t(a - 0x600440)));
        else if (a >= 0x1000 && a <= 0x10FFF)   // slots back to back, from the start's slot
            r.push_back(flat < 16u * KelRamPara::kModeSlotSize ? m.modes[flat / KelRamPara::kModeSlotSize][flat % KelRamPara::kModeSlotSize] : 0);
        else if (a >= 0x600880 && a <= 0x600C7F)
            r.push_back(m.reg[37 + a - 0x600880]);
        else if (a >= 0xA1000000u && a <= 0xA1000100u)
            r.push_back(a - A < 256 ? m.g4g[a - A] : 0);
        else
            r.push_back(a < 0x1000 ? m.ram[a] : 0);
    }
    return r;
}

// Single settings: each item as its number says, the apply raised by an item taken and
// withdrawn by a refused input or an item 50/51 up to 5 (the items before it stay stored).
Bytes predictSingle(Model& m, const Step& s)
{
    if (s.r != 0x31 || s.data.size() < 2)
        return {1};
    auto put = [&](int at, unsigned v) { m.ram[size_t(at)] = uint8_t(v), m.ram[size_t(at) + 1] = uint8_t(v >> 8); };
    auto get = [&](int at) { return unsigned(m.ram[size_t(at)] | m.ram[size_t(at) + 1] << 8); };
    int error = 0, apply = 0;
    for (size_t i = 0; i + 3 <= s.data.size(); i += 3) {
        const unsigned n = s.data[i], v = unsigned(s.data[i + 1] | s.data[i + 2] << 8);
        if (n == 6 && v <= 100)
            put(2176, v), apply = 1;
        else if ((n == 21 || n == 29 || n == 37 || n == 45) && v >= 1 && v <= 4)
            put(2272 + 26 * int((n - 21) / 8) + 8, v - 1), apply = 1;
        else if (((n == 21 || n == 29 || n == 37 || n == 45) && (v == 0 || v == 5)) || ((n == 50 || n == 51) && v <= 5))
            error = 1, apply = 0;
        else if (n == 54 && (v <= 7 || (v >= 16 && v <= 23))) {
            const auto& slot = m.modes[v <= 7 ? v : v - 8];
            if (slot[0] == 0xAA && slot[1] == 0xAA) {
                std::copy(slot.begin() + 2, slot.begin() + 2 + 3200, m.ram.begin() + 896);
                put(866, (v <= 7 ? v : v - 8) + 1), put(868, 0), apply = 1;
            }
        } else if (n == 93) {
            const unsigned k = get(2112);
            if (k > 5) {
                error = 1;   // no window to take the sound
                continue;
            }
            m.ram[2272 + 26 * k + 20] = v ? 100 : 0, m.ram[2272 + 26 * k + 21] = v ? 0x80 : 0, apply = 1;
        } else if (n == 60 && v <= 1)
            put(2116, v ^ 1), apply = 1;   // the item says lit, the block keeps dark
        else if (n == 10 && v <= 3)
            put(2184, v), apply = 1;
        else if (n >= 11 && n <= 13 && v <= 100)
            put(2186 + 2 * int(n - 11), v), apply = 1;
    }
    m.apply = m.apply || apply;
    return {uint8_t(error), 0x31};
}

Bytes predictFpgaRam(Model& m, const Step& s, bool write, const Bytes& request)
{
    const uint32_t A = s.a, L = s.len, T = (A >> 24) & 0xF, I = (A >> 12) & 0xF;
    const int F = (s.mode == 0 && (s.sub == 1 || s.sub == 2)) ? s.sub - 1 : 0;
    const bool reach = F == 0;   // FPGA 1's device is never opened
    if (write) {
        const uint32_t off24 = A & 0xFFFFFF, offT = A & 0xFF0FFF, at = A & 0xFFF;
        auto push = [&](uint8_t* image, int ram) -> Bytes {
            if (!reach)
                return {1};
            std::copy(s.data.begin(), s.data.end(), image);
            std::copy(s.data.begin(), s.data.end(), m.fram.at(ram).begin() + at);
            return {0};
        };
        auto extension = [&](uint32_t o) -> Bytes {
            std::copy(s.data.begin(), s.data.end(), m.ext + o);
            m.ext[49] &= uint8_t(~0x40);
            return {0};
        };
        if (T == 0 && (A & 0xFFF800) == 0) {
            if (off24 + L > 1024)
                return {1};
            if (!reach)
                return {1};
            std::copy(s.data.begin(), s.data.end(), m.para[F] + off24);
            for (auto& r : kMirror)
                std::memcpy(m.back[F] + r[1], m.para[F] + r[0], r[2]);
            std::copy(s.data.begin(), s.data.end(), m.fram.at(1).begin() + at);   // its link never trains here
            return {0};
        }
        if (T == 0)
            return off24 - 2048 + L > 1024 ? Bytes{1} : extension(off24 - 2048);
        if (T == 1 || T == 2) {
            if (offT + L > 1024)
                return {1};
            if (T == 1)
                return I == 0 ? Bytes{0} : push((I & 1) ? m.rx[F] : m.tx[F], int(I + 1));
            return I == 0 ? push(m.def, 33) : push(m.zoom, int(33 + I));
        }
        if (off24 + L > 1024)
            return {1};
        if (T == 4)
            return push(m.tx[F], 50);
        if (T == 5) {
            std::copy(s.data.begin(), s.data.end(), m.cmd);
            return {0};
        }
        if (T == 6)
            return extension(off24);
        return {0};
    }
    const uint32_t off = A & 0xFFF;
    const bool ext = (T == 0 && (A & 0x800)) || T == 6;
    const uint32_t start = (T == 0 && (A & 0x800)) ? off - 2048 : off;
    if (start + L > 1024)
        return {1, 0};
    Bytes r(request.begin() + 10, request.begin() + 11 + L);   // bytes not written stay
    r.resize(L + 1, 0xEE);
    r[0] = 0;
    auto fetched = [&](uint8_t* image, int ram) {
        if (!m.running[F]) {
            std::fill(r.begin() + 1, r.end(), 0);
            return;
        }
        if (reach)
            std::copy(m.fram[ram].begin() + off, m.fram[ram].begin() + off + L, image);
        std::copy(image, image + L, r.begin() + 1);
    };
    if (ext) {
        m.ext[72] = 1, m.ext[49] = 0x9F, m.ext[28] = m.shadow[0][64], m.ext[73] = 0, m.ext[74] = 0;
        const QDateTime now = QDateTime::fromSecsSinceEpoch(qint64(board::Clock::wallTime()));
        const int y = now.date().year();
        const uint8_t when[8] = {bcdOf(y % 100), bcdOf(y / 100), bcdOf(now.date().month()), bcdOf(now.date().day()),
                                 bcdOf(now.time().hour()), bcdOf(now.time().minute()), bcdOf(now.time().second()), bcdOf(now.date().dayOfWeek())};
        std::memcpy(m.ext + 16, when, 8);
        CLOCK_RECORD rec;
        {
            std::lock_guard<std::mutex> hold(clock_record_run::record_mutex);
            rec = g_clock_record;
        }
        const uint8_t* b = reinterpret_cast<const uint8_t*>(&rec);
        auto u32 = [&](int at) { uint32_t v = 0; for (int i = 3; i >= 0; --i) v = v << 8 | b[at + i]; return v; };
        for (int i = 0; i < 4; ++i) {
            m.ext[76 + i] = uint8_t((u32(48) + u32(52)) >> (8 * i));
            m.ext[80 + i] = uint8_t(u32(44) >> (8 * i));
            m.ext[96 + i] = uint8_t(u32(48) >> (8 * i));
        }
        m.ext[84] = b[20], m.ext[85] = b[21], m.ext[86] = b[22], m.ext[87] = 0;
        std::memcpy(m.ext + 88, b + 7, 7);
        m.ext[95] = 0xFF;
        std::copy(m.ext + start, m.ext + start + L, r.begin() + 1);
    } else if (T == 0) {
        if (!m.running[F]) {
            std::fill(r.begin() + 1, r.end(), 0);
        } else {
            if (reach)
                std::copy(m.fram[1].begin() + off, m.fram[1].begin() + off + L, m.para[F] + off);
            for (auto& row : kMirror)
                std::memcpy(m.para[F] + row[0], m.back[F] + row[1], row[2]);
            std::copy(m.para[F] + off, m.para[F] + off + L, r.begin() + 1);
        }
    } else if (T == 1) {
        if (I != 0)
            fetched((I & 1) ? m.rx[F] : m.tx[F], int(I + 1));
    } else if (T == 2) {
        fetched(I == 0 ? m.def : m.zoom, int(33 + I));
    } else if (T == 4) {
        fetched(m.tx[F], 50);
    } else if (T == 5) {
        std::copy(m.cmd, m.cmd + L, r.begin() + 1);
    }
    return r;
}

Bytes predictRegister(Model& m, const Step& s, bool write, const Bytes& request)
{
    const unsigned R = s.r;
    if (!write) {
        if (R >= 170)
            return {uint8_t(R), 1};
        if (s.own)
            return {0, uint8_t(R == 4 || R == 6 ? request[11] : 0)};
        const int F = s.mode == 0 && (s.sub == 1 || s.sub == 2) ? s.sub - 1 : 0;   // unlike a write, byte 6 counts
        if (F == 0 && !(R >= 64 && R <= 127))
            m.shadow[0][R] = m.freg[R];
        return {0, m.shadow[F][R]};
    }
    if (R >= 170)
        return {1};
    const uint8_t M = s.mask, V = s.value;
    if (!s.own) {
        const int F = (s.sub == 1 || s.sub == 2) ? s.sub - 1 : 0;
        if (R >= 64 && R <= 127) {
            if (R <= 96)
                m.shadow[F][R] = uint8_t((m.shadow[F][R] & ~M) | (V & M));
            return {0};
        }
        if (F != 0)
            return {1};   // never reached: the shadow keeps what the FPGA has
        m.freg[R] = uint8_t((m.freg[R] & ~M) | (V & M));
        m.shadow[0][R] = m.freg[R];
        return {0};
    }
    switch (R) {
    case 12: case 13: return {0};
    case 0xA0: m.reg[32] = M & V; return {0};
    case 0xA2: m.reg[34] = M & V; m.apply = 1; return {0};
    case 0xA3: m.reg[35] = uint8_t(V + 1); m.apply = 1; return {0};
    case 0xA4: m.reg[36] = M & V; m.apply = 1; return {0};
    case 0xA5: m.reg[33] = M & V; m.apply = 1; return {0};
    default:
        m.reg[R] = uint8_t((V & M) | (m.reg[R] & ~M));
        return {uint8_t(R == 4 || R == 5 ? 0 : 1)};
    }
}

struct ChipOf {
    int number;
    uint32_t size;
    int flash;   // 0 FPGA 0's, 1 FPGA 1's (never reached), -1 none, 4 the scaler's
};
ChipOf chipOf(const Step& s)
{
    int c;
    if (s.own)
        c = int(s.a >> 24);
    else
        c = s.mode != 0 ? 2 : (s.sub == 1 || s.sub == 2) ? s.sub + 1 : 2;
    if (c == 4)
        return {4, kScalerFlash, 4};
    if (c == 8)
        return {8, 0x10000, -1};
    return {c, kFpgaFlash, c == 3 ? 1 : 0};
}

Bytes predictFlash(Model& m, const Step& s)
{
    const ChipOf c = chipOf(s);
    if (s.kind == Kind::Erase) {
        const uint32_t unit = s.emode == 1 ? 1 : s.emode == 2 ? 8 : s.emode == 4 ? 16 : 0;
        const uint32_t B = (s.a >> 12) & 0xFFF, N = s.count ? s.count : 1;
        if (!unit || (s.a & 0xFFF) || B % unit)
            return {1};
        uint64_t first = B, end = uint64_t(B) + N * unit;   // 4 KiB blocks
        if (end * 4096 > c.size)
            return {1};
        if (c.number == 0) {
            // Only the window, moved down 332 blocks; exactly the range it names.
            if (first < 1152 || end > 1216)
                return {1};
            first -= 332, end -= 332;
        }
        if (c.number == 4 && end > 0x1000)
            return {1};
        if (c.flash == 1)
            return {1};
        if (c.flash >= 0) {
            auto& f = c.flash == 4 ? m.scaler : m.flash;
            std::fill(f.begin() + first * 4096, f.begin() + end * 4096, 0xFF);
        }
        return {0};
    }
    uint32_t addr = s.a & 0xFFFFFF;
    const uint32_t L = s.len;
    if (uint64_t(addr) + L > c.size)
        return {1};
    if (c.number == 0) {
        if (addr < 0x480000 || addr + L > 0x4C0000)
            return {1};
        addr -= 0x14C000;
    }
    if (L == 0)
        return {0};   // nothing to move, on any chip
    if (c.flash == 1)
        return {1};
    auto* f = c.flash == 4 ? &m.scaler : c.flash == 0 ? &m.flash : nullptr;
    if (s.kind == Kind::FlashWrite) {
        if (f)
            for (uint32_t i = 0; i < L; ++i)
                (*f)[addr + i] &= s.data[i];   // programming only clears bits
        return {0};
    }
    Bytes r = {0};
    if (f)
        r.insert(r.end(), f->begin() + addr, f->begin() + addr + L);
    else
        r.resize(L + 1, 0);
    return r;
}

// EDID records: a whole 288-byte record of inputs 0-3 is stored, its image handed over and
// its timing requested; other lengths and records cut short are refused (1), inputs from 4
// on too (2); a read gives back a stored record.
Bytes predictEdid(Model& m, const Step& s)
{
    const unsigned input = s.r;
    if (s.net == 2) {
        Bytes r = {0, 2, uint8_t(input), 0};
        if (!m.edid.count(input))
            return r.insert(r.end(), 4, 0), r;
        r.insert(r.end(), {32, 0, 0x20, 0x01});
        r.insert(r.end(), m.edid[input].begin(), m.edid[input].end());
        return r;
    }
    if (s.net != 1)
        return {};
    if (input >= 4)
        return {2, 1};
    if (s.len != 288 || s.data.size() < 288)
        return {1, 1};
    m.edid[input] = s.data;
    std::copy(s.data.begin() + 32, s.data.end(), m.edidTable[input]);
    m.edidFrom[input] = 1;
    std::copy(s.data.begin() + 2, s.data.begin() + 8, m.ram.begin() + 896 + 6 * input);
    m.apply = 1;
    return {0, 1};
}

class PcHandlers : public handler_test::HandlerFixture {
protected:
    void SetUp() override
    {
        HandlerFixture::SetUp();
        c331_manage* c = c331_manage::p_c331_manage;
        c->c331_fd = c->drv->initialize();
        ASSERT_GE(c->c331_fd, 0);
        flashFd = manager->fpga_vbyone1_flash_fd;
        velinsource::pInstance();   // the input side that takes EDID images
        offsetBefore = sim::SimBoard::portOffset();
    }
    void TearDown() override
    {
        sim::SimBoard::setPortOffset(offsetBefore);
        delete M57_WIFI_CONFIG::p_wifi;
        M57_WIFI_CONFIG::p_wifi = nullptr;
        delete velinsource::p_velin_source;
        HandlerFixture::TearDown();
    }

    // Lays the state a case starts from into the device and the model alike.
    void start(Model& m, uint32_t seed, bool run0, bool run1)
    {
        auto lay = [&](uint8_t* dev, uint8_t* mod, size_t n, uint32_t salt) {
            for (size_t i = 0; i < n; ++i)
                dev[i] = mod[i] = pattern(uint32_t(i), seed + salt);
        };
        KelRamPara* p = para();
        lay(p->ram, m.ram.data(), KelRamPara::kRamSize, 0);
        for (int k = 0; k < KelRamPara::kModeSlots; ++k)
            lay(p->mode_slot[k], m.modes[k].data(), KelRamPara::kModeSlotSize, 100 + k);
        lay(p->reg_image, m.reg.data(), KelRamPara::kRegImageSize, 2);
        lay(g_4G_RAM, m.g4g.data(), 256, 3);
        if (seed & 1)
            g_4G_RAM[0] = m.g4g[0] = 0xAA;   // the module's status block is valid
        for (int k = 0; k < KelRamPara::kModeSlots; k += 2)   // some slots saved, for a recall
            if ((seed >> k) & 2)
                p->mode_slot[k][0] = p->mode_slot[k][1] = m.modes[k][0] = m.modes[k][1] = 0xAA;
        p->ram[KelRamPara::kAudioWindow] = m.ram[KelRamPara::kAudioWindow] = uint8_t(seed % 8);   // 6 and 7: no such window
        p->ram[KelRamPara::kAudioWindow + 1] = m.ram[KelRamPara::kAudioWindow + 1] = 0;
        c331_manage::p_c331_manage->c331_apply_flag = 0;
        for (int F = 0; F < 2; ++F) {
            lay(fpga_manage::MCU_RAM_PARA_func[F], m.para[F], 1024, 10 + F);
            lay(fpga_manage::MCU_RAM_ETH_BACK_PARA_func[F], m.back[F], fpga_manage::kEthParaSize, 12 + F);
            lay(fpga_manage::MCU_RAM_RX_func[F], m.rx[F], 1024, 14 + F);
            lay(fpga_manage::MCU_RAM_TX_func[F], m.tx[F], 1024, 16 + F);
        }
        lay(fpga_manage::MCU_RAM_DEFAULT, m.def, 2048, 20);
        lay(fpga_manage::MCU_RAM_ZOOM, m.zoom, 1024, 21);
        lay(fpga_manage::MCU_RAM_CMD, m.cmd, 1024, 22);
        lay(fpga_manage::MCU_RAM_EXTEND, m.ext, 1024, 23);
        for (int ram : {1, 2, 3, 6, 16, 33, 34, 35, 38, 48, 50}) {
            m.fram[ram].resize(FpgaModel::kRamBytes);
            lay(m.fram[ram].data(), m.fram[ram].data(), FpgaModel::kRamBytes, 30 + ram);
            FpgaModel::setRam(0, ram, 0, m.fram[ram]);
        }
        for (int r : kPlainRegs)
            FpgaModel::setReg(0, r, pattern(uint32_t(r), seed + 50));
        for (int r = 0; r < 256; ++r)
            m.freg[r] = FpgaModel::reg(0, r);
        for (int F = 0; F < 2; ++F) {
            lay(fpga_manage::MCU_REG_func[F], m.shadow[F], 170, uint32_t(60 + F) << 16);   // apart: one FPGA's register read for the other's shows
            fpga_manage::MCU_REG_func[F][80] = m.shadow[F][80] = (F ? run1 : run0) ? 3 : 0;
            m.running[F] = F ? run1 : run0;
        }

        // The flashes: erased, with a pattern over the window's band and the parts' ends.
        FpgaFlashModel::erase(0);
        ScalerFlashModel::reset();
        std::fill(m.flash.begin(), m.flash.end(), 0xFF);
        std::fill(m.scaler.begin(), m.scaler.end(), 0xFF);
        Bytes band(kBandHi - kBandLo);
        for (size_t i = 0; i < band.size(); ++i)
            band[i] = m.flash[kBandLo + i] = pattern(uint32_t(kBandLo + i), seed + 70);
        FpgaFlashModel::write(0, kBandLo, band);
        Bytes tail(0x2000);
        for (size_t i = 0; i < tail.size(); ++i)
            tail[i] = m.flash[kFpgaFlash - tail.size() + i] = m.scaler[0xFFE000 + i] = pattern(uint32_t(i), seed + 71);
        FpgaFlashModel::write(0, uint32_t(kFpgaFlash - tail.size()), tail);
        ScalerFlashModel::write(0xFFE000, tail);

        {
            // No log of an earlier test's start: a clock set then marks nothing on the flash.
            std::lock_guard<std::mutex> hold(clock_record_run::record_mutex);
            g_clock_record = CLOCK_RECORD{};
        }
        for (unsigned i = 0; i < 6; ++i)
            std::remove(root.host(QString::asprintf("/data/edidramtable/%04x.bin", i).toStdString()).c_str());
        for (int i = 0; i < 4; ++i) {
            for (int b = 0; b < 256; ++b)
                edid_ram_table[i][b] = m.edidTable[i][b] = pattern(uint32_t(b), seed + 80 + i);
            edid_ram_table_from[i] = m.edidFrom[i] = 0;
        }
        m.clockTold = false;
        m.ip = 0x0A000000 | (seed & 0xFFFF) << 8 | 7, m.mask = 0xFFFF0000, m.gw = 0x0A000001 | (seed & 0xFF00), m.port = uint16_t(5006 + seed % 7);
        m.barcode.clear();
        for (int i = 0; i < int(seed % 20); ++i)
            m.barcode.push_back(uint8_t('A' + (seed + i) % 26));
        m.pid.resize(32), m.uid.resize(8), m.property.resize(24);
        for (int i = 0; i < 32; ++i)
            m.pid[i] = g_pid[i] = char(pattern(uint32_t(i), seed + 90));
        for (int i = 0; i < 8; ++i)
            m.uid[i] = pattern(uint32_t(i), seed + 91);
        FpgaFlashModel::setUniqueId(0, m.uid);
        {
            std::lock_guard<std::mutex> hold(g_4G_RAM_mutex);
            for (int i = 0; i < 24; ++i)
                m.property[i] = g_4G_property[i] = pattern(uint32_t(i), seed + 92);
        }
        g_port = m.port;
        // The ports moved or not: the network read names the one that listens.
        sim::SimBoard::setPortOffset(int(seed >> 4) % 3 * 300);
        delete M57_WIFI_CONFIG::p_wifi;
        M57_WIFI_CONFIG::p_wifi = nullptr;
        m.wifi = seed & 4;
        if (m.wifi) {
            // Every field its own value: a field taken for another shows.
            m.apIp = 0xC0A80A01 + (seed >> 8) % 200, m.staIp = 0x0A080000 | (seed & 0xFF00) | 7, m.staMask = 0xFFFFFF00, m.staGw = 0x0A080001 | (seed & 0xFF00);
            m.apMac = {0x02, 0x11, 0x22, 0x33, 0x44, uint8_t(seed)}, m.staMac = {0x02, 0xAA, 0xBB, 0xCC, 0xDD, uint8_t(seed >> 3)};
            m.wifiPort = m.port;
            const auto macText = [](const Bytes& b) { return QString::asprintf("%02x:%02x:%02x:%02x:%02x:%02x", b[0], b[1], b[2], b[3], b[4], b[5]).toStdString(); };
            sim::SimBoard::setScenario("net.wlan0.mac", macText(m.apMac));
            sim::SimBoard::setScenario("net.wlan0.address", dottedOf(m.apIp).toStdString());
            sim::SimBoard::setScenario("net.wlan1.mac", macText(m.staMac));
            sim::SimBoard::setScenario("net.wlan1.address", dottedOf(m.staIp).toStdString());
            sim::SimBoard::setScenario("net.wlan1.mask", dottedOf(m.staMask).toStdString());
            sim::SimBoard::setScenario("net.wlan1.gateway", dottedOf(m.staGw).toStdString());
            M57_WIFI_CONFIG::p_wifi = new M57_WIFI_CONFIG();
            M57_WIFI_CONFIG::p_wifi->wifi_ip = dottedOf(m.apIp);
            RC_ASSERT(M57_WIFI_CONFIG::p_wifi->wifi_start_pass() == M57_WIFI_CONFIG::kApRunning);
        }
        {
            std::lock_guard<std::mutex> hold(g_str_globals_mutex);
            g_str_mac = "FF:FF:FF:FF:FF:FF";   // as the process starts
            g_str_ip = dottedOf(m.ip), g_srt_mask = dottedOf(m.mask), g_str_gateway = dottedOf(m.gw);
            g_str_barcode = QString::fromLatin1(reinterpret_cast<const char*>(m.barcode.data()), int(m.barcode.size()));
        }
    }

    static pc::Frame frameOf(const Step& s)
    {
        const uint16_t dest = s.own ? pc::kController : uint16_t(0x0001);
        Bytes at;
        pc::put32(at, s.a);
        pc::Frame f;
        switch (s.kind) {
        case Kind::OwnWrite: case Kind::FpgaWrite: case Kind::FlashWrite: f = pc::writeRam(s.a, s.data, dest); break;
        case Kind::OwnRead: case Kind::FpgaRead: case Kind::FlashRead: f = pc::readRam(s.a, uint16_t(s.len), dest); break;
        case Kind::RegWrite: f = req(0xA0, {s.r, s.mask, s.salt, s.value}, dest); break;
        case Kind::RegRead: f = req(0xA1, {s.r, s.salt}, dest); break;
        case Kind::Erase: at.insert(at.end(), {s.emode, s.count}); f = req(0x70, at, dest); break;
        case Kind::Clock: f = req(0x87, s.data, dest); break;
        case Kind::Net: f = req(0xA4, {s.net}, dest); break;
        case Kind::NetSet: f = req(0xA4, {1, 0, 0, 0}, dest), f.data.insert(f.data.end(), s.address.begin(), s.address.end()); break;
        case Kind::Ident: f = req(s.net, {}, dest); break;
        case Kind::Single: f = req(0xB0, {s.r, s.salt}, dest), f.data.insert(f.data.end(), s.data.begin(), s.data.end()); break;
        case Kind::Edid:
            f = req(0xC1, {s.net, s.r, 0, 0, 0, s.salt, 0, uint8_t(s.len), uint8_t(s.len >> 8)}, dest);
            f.data.insert(f.data.end(), s.data.begin(), s.data.end());
            f.data.resize(s.net == 2 ? 3 : f.data.size());
            break;
        }
        if (s.kind == Kind::FlashWrite || s.kind == Kind::FlashRead)
            f.group = s.kind == Kind::FlashWrite ? 0x71 : 0x72;
        f.mode = s.mode, f.sub = s.sub;
        return f;
    }

    // The step on its link, its reply checked against the model's, then the state.
    void run(Model& m, const Step& s, std::map<std::string, int>& spread)
    {
        const pc::Frame f = frameOf(s);
        Bytes request = pc::encode(f);
        request.resize(buf.size(), 0xEE);
        sim::Journal::clear();
        if (s.kind == Kind::Clock)
            sim::Journal::setShellStatus("date", s.dateFails ? 256 : 0);
        if (s.kind == Kind::Ident)
            manager->fpga_vbyone1_flash_fd = s.net == 0x83 && s.dateFails ? -1 : flashFd;
        if (s.kind == Kind::Single)   // the scaler took what was asked before: this frame's apply shows alone
            c331_manage::p_c331_manage->c331_apply_flag = 0, m.apply = 0;
        const int r = deal(f, links[s.link]);
        const Bytes got = reply(std::max(r, 0));
        Bytes want;
        std::string what;
        switch (s.kind) {
        case Kind::OwnWrite: want = predictOwnRam(m, s, true); what = "own write"; break;
        case Kind::OwnRead:
            want = predictOwnRam(m, s, false);
            what = std::string("own read") + (s.len > 0x40 && (s.a == 0xFFF || s.a == 0xFFFF || s.a == 0x10FFE) ? " into the next row" : "");
            break;
        case Kind::FpgaWrite: want = predictFpgaRam(m, s, true, request); what = "fpga write T" + std::to_string((s.a >> 24) & 15); break;
        case Kind::FpgaRead: want = predictFpgaRam(m, s, false, request); what = "fpga read T" + std::to_string((s.a >> 24) & 15); break;
        case Kind::RegWrite: want = predictRegister(m, s, true, request); what = s.own ? "own register write" : "fpga register write"; break;
        case Kind::RegRead: want = predictRegister(m, s, false, request); what = s.own ? "own register read" : "fpga register read"; break;
        case Kind::Erase: want = predictFlash(m, s); what = "erase chip " + std::to_string(chipOf(s).number) + " mode " + std::to_string(s.emode); break;
        case Kind::FlashWrite: want = predictFlash(m, s); what = "flash write chip " + std::to_string(chipOf(s).number); break;
        case Kind::FlashRead: want = predictFlash(m, s); what = "flash read chip " + std::to_string(chipOf(s).number); break;
        case Kind::Clock: {
            int v[7];
            bool ok = true;
            for (int i = 0; i < 7; ++i) {
                v[i] = (s.data[i] >> 4) * 10 + (s.data[i] & 15);
                ok = ok && (s.data[i] >> 4) < 10 && (s.data[i] & 15) < 10;
            }
            const int year = v[1] * 100 + v[0];
            ok = ok && QDate::isValid(year, v[2], v[3]) && v[4] < 24 && v[5] < 60 && v[6] < 60;
            std::vector<std::string> shell;
            if (ok)
                shell.push_back(QString("date \"%1-%2-%3 %4:%5:%6\"").arg(year).arg(v[2]).arg(v[3]).arg(v[4]).arg(v[5]).arg(v[6]).toStdString());
            if (ok && !s.dateFails)
                shell.push_back("hwclock -wu");
            const bool set = ok && !s.dateFails;
            m.clockTold = m.clockTold || set;
            want = {uint8_t(set ? 0 : 1)};
            RC_ASSERT(sim::Journal::shellCommands() == shell);
            what = std::string("clock ") + (ok ? (s.dateFails ? "date fails" : "set") : "refused");
            break;
        }
        case Kind::Net: {
            const QStringList parts = QString::fromStdString(sim::SimBoard::scenario("net.eth0.mac", "02:00:00:00:00:01")).split(':');
            Bytes mac;
            for (const QString& part : parts)
                mac.push_back(uint8_t(part.toUInt(nullptr, 16)));
            want = predictNet(m, s, mac, uint16_t(m.port + sim::SimBoard::portOffset()));
            what = s.net == 3 ? "network read" : m.wifi ? "discovery with WiFi" : "discovery";
            break;
        }
        case Kind::NetSet: {
            const uint32_t ip = be32(s.address, 0), mask = be32(s.address, 4), gw = be32(s.address, 8);
            const uint16_t port = uint16_t(s.address[12] | s.address[13] << 8);
            const bool taken = addressTaken(ip, mask, gw, port);
            if (taken)
                m.ip = ip, m.mask = mask, m.gw = gw, m.port = port;
            want = {uint8_t(taken ? 0 : 1)};
            int ones = 0;
            while (ones < 32 && (mask & (0x80000000u >> ones)))
                ++ones;
            what = std::string("address set") + (ones >= 31 ? " /31 or /32" : (gw & ~mask) == ~mask && gw ? " broadcast gateway" : gw == ip ? " gateway at its own address" : "");
            break;
        }
        case Kind::Ident:
            if (s.net == 0x83) {
                // The id as the flash holds it; none when its flash cannot be reached.
                manager->fpga_vbyone1_flash_fd = flashFd;
                want = s.dateFails ? Bytes{1} : Bytes{0};
                if (!s.dateFails)
                    want.insert(want.end(), m.uid.begin(), m.uid.end());
                what = s.dateFails ? "unique id, flash unreached" : "unique id";
            } else {
                // The FPGA side's: its registers 21 and 28..31 as the shadow holds them, and
                // whether FPGA 0 runs with its link up and its bring-up through.
                const int F = s.mode == 0 && (s.sub == 1 || s.sub == 2) ? s.sub - 1 : 0;
                const uint8_t* r = m.shadow[F];
                const bool up = m.shadow[0][80] == 3 && manager->link_stage[0] == 7 && manager->check_step[0] >= 16 && !(m.shadow[0][0] & 0x08);
                want = s.own ? Bytes{0, uint8_t(g_update_status), 8, 0x52, 0x9C, 11, 0, 0x28, 0x09, 0x26, 2, 0, 0}
                             : Bytes{0, r[21], 0, 0x48, 11, 11, r[28], r[29], r[30], r[31], 0, 0, uint8_t(up)};
                const uint32_t t = G_timeTicks / 20;
                want.insert(want.end(), {uint8_t(t), uint8_t(t >> 8), uint8_t(t >> 16), uint8_t(t >> 24)});
                what = s.own ? "version" : "version of FPGA " + std::to_string(F) + (up ? ", up" : "");
            }
            break;
        case Kind::Single:
            want = predictSingle(m, s);
            RC_ASSERT(int(c331_manage::p_c331_manage->c331_apply_flag) == m.apply);
            what = want.size() == 1 ? "settings refused" : std::string("settings") + (m.apply ? ", applied" : "");
            break;
        case Kind::Edid:
            want = predictEdid(m, s);
            what = s.net == 1 ? "edid write" : s.net == 2 ? "edid read" : "edid, other sub-command";
            break;
        }
        if (pc::hex(got) != pc::hex(want))
            RC_FAIL("step " + ::testing::PrintToString(s) + "\n  reply " + pc::hex(got) + "\n  model " + pc::hex(want));
        ++spread[what + (want.empty() ? "" : want[0] == 0 ? " -> 0" : " -> " + std::to_string(want[0]))];
    }

    void hold(const Model& m)
    {
        KelRamPara* p = para();
        RC_ASSERT(std::memcmp(p->ram, m.ram.data(), sizeof p->ram) == 0);
        for (int k = 0; k < KelRamPara::kModeSlots; ++k)
            RC_ASSERT(std::memcmp(p->mode_slot[k], m.modes[k].data(), KelRamPara::kModeSlotSize) == 0);
        RC_ASSERT(std::memcmp(p->reg_image, m.reg.data(), sizeof p->reg_image) == 0);
        RC_ASSERT(std::memcmp(g_4G_RAM, m.g4g.data(), 256) == 0);
        RC_ASSERT(int(c331_manage::p_c331_manage->c331_apply_flag) == m.apply);
        for (int F = 0; F < 2; ++F) {
            RC_ASSERT(std::memcmp(fpga_manage::MCU_RAM_PARA_func[F], m.para[F], 1024) == 0);
            RC_ASSERT(std::memcmp(fpga_manage::MCU_RAM_ETH_BACK_PARA_func[F], m.back[F], fpga_manage::kEthParaSize) == 0);
            RC_ASSERT(std::memcmp(fpga_manage::MCU_RAM_RX_func[F], m.rx[F], 1024) == 0);
            RC_ASSERT(std::memcmp(fpga_manage::MCU_RAM_TX_func[F], m.tx[F], 1024) == 0);
            for (int r = 0; r < 170; ++r)
                if (r < 64 || r > 127 || r <= 96)
                    RC_ASSERT(int(manager->reg_shadow(r, F)) == int(m.shadow[F][r]));
        }
        RC_ASSERT(std::memcmp(fpga_manage::MCU_RAM_DEFAULT, m.def, 2048) == 0);
        RC_ASSERT(std::memcmp(fpga_manage::MCU_RAM_ZOOM, m.zoom, 1024) == 0);
        RC_ASSERT(std::memcmp(fpga_manage::MCU_RAM_CMD, m.cmd, 1024) == 0);
        RC_ASSERT(std::memcmp(fpga_manage::MCU_RAM_EXTEND, m.ext, 1024) == 0);
        for (const auto& [ram, bytes] : m.fram) {
            const Bytes fpga = FpgaModel::ram(0, ram, 0, FpgaModel::kRamBytes);
            for (size_t i = 0; i < bytes.size(); ++i)
                if (fpga[i] != bytes[i])
                    RC_FAIL("FPGA 0 RAM " + std::to_string(ram) + " byte " + std::to_string(i) + ": " + std::to_string(fpga[i]) + ", model " + std::to_string(bytes[i]));
        }
        for (int r : kPlainRegs)
            RC_ASSERT(int(FpgaModel::reg(0, r)) == int(m.freg[r]));
        RC_ASSERT(FpgaFlashModel::read(0, 0, kFpgaFlash) == m.flash);
        RC_ASSERT(ScalerFlashModel::read(0, kScalerFlash) == m.scaler);
        for (unsigned i = 0; i < 6; ++i) {
            const std::string path = QString::asprintf("/data/edidramtable/%04x.bin", i).toStdString();
            const auto kept = m.edid.find(i);
            RC_ASSERT((root.exists(path) ? root.readFile(path) : "(none)")
                      == (kept != m.edid.end() ? std::string(kept->second.begin(), kept->second.end()) : "(none)"));
        }
        for (int i = 0; i < 4; ++i)
            RC_ASSERT(std::memcmp(edid_ram_table[i], m.edidTable[i], 256) == 0 && int(edid_ram_table_from[i]) == int(m.edidFrom[i]));
        {
            std::lock_guard<std::mutex> hold(g_str_globals_mutex);
            RC_ASSERT(g_str_ip == dottedOf(m.ip) && g_srt_mask == dottedOf(m.mask) && g_str_gateway == dottedOf(m.gw) && g_port == m.port);
        }
        std::lock_guard<std::mutex> hold(clock_record_run::record_mutex);
        RC_ASSERT((g_clock_record.clock_set_mark == 0x5A) == m.clockTold);
    }

    int flashFd = -1;   // FPGA 0's configuration flash, as the manager opened it
    int offsetBefore = 0;
    message_deal links[2] = {message_deal{message_deal::REPLY_LIMIT_UDP}, message_deal{message_deal::REPLY_LIMIT_TCP}};
};

TEST_F(PcHandlers, DrawnSequencesFromTwoLinksAnswerAndStoreWhatTheModelSays)
{
    std::map<std::string, int> spread;
    kel_test::checkProperty("handler sequences", [&] {
        const auto steps = *rc::gen::container<std::vector<Step>>(drawStep());
        const uint32_t seed = *rc::gen::arbitrary<uint32_t>();
        const bool run0 = *rc::gen::weightedElement<bool>({{4, true}, {1, false}});
        const bool run1 = *rc::gen::arbitrary<bool>();
        g_lcd_lang_valid = *rc::gen::elementOf(std::vector<int>{0x1001F, 0x2001F, 0x2001F, 0x3, 0});
        g_kel_max_pixel = *rc::gen::arbitrary<int>();
        Model m;
        start(m, seed, run0, run1);
        std::map<std::string, int> seen;
        for (const Step& s : steps)
            run(m, s, seen);
        hold(m);
        for (const auto& [what, n] : seen) {
            RC_CLASSIFY(n > 0, what);
            spread[what] += n;
        }
    }, {kel_test::underEmulation() || kThreadChecked ? 8 : 40, 120});
    for (const auto& [what, n] : spread)
        std::cout << "  " << what << ": " << n << "\n";
}

// One link writes the extension and parameter RAM and starts an update; the other reads the
// extension RAM (which rewrites its clock and running time) and saves the parameter RAM, while
// the manager's pass takes the reset request. No reply shows or stores half a write.
TEST_F(PcHandlers, TwoLinksAtOnceNeverShowOrStoreHalfAWrite)
{
    fpga_manage::MCU_REG_func[0][80] = 3;
    std::memset(fpga_manage::MCU_RAM_EXTEND + 200, 0x11, 100);
    std::memset(fpga_manage::MCU_RAM_PARA_func[0], 0x40, 64);
    FpgaFlashModel::write(0, 0x301001, Bytes(256, 0x5A));
    constexpr int kRounds = 60;
    Bytes bufs[2] = {Bytes(message_deal::FRAME_BUF_SIZE), Bytes(message_deal::FRAME_BUF_SIZE)};
    auto send = [](message_deal& md, Bytes& b, const pc::Frame& f) {
        const Bytes plain = pc::encode(f);
        std::copy(plain.begin(), plain.end(), b.begin());
        const int r = md.message_group_deal(b.data(), unsigned(plain.size() - 1), 5);
        return Bytes(b.begin() + 10, b.begin() + 10 + std::max(r, 0));
    };
    std::vector<std::string> faults[2];
    std::atomic<bool> writing{true};
    std::thread writer([&] {
        for (int i = 0; i < kRounds; ++i) {
            const uint8_t v = uint8_t(i & 1 ? 0x22 : 0x11);
            Bytes ext(100, v), param(64, uint8_t(0x40 + i));
            for (const pc::Frame& f : {pc::writeRam(0x06000000 + 200, ext, 1), pc::writeRam(0, param, 1), pc::writeRegister(20, 0xFF, uint8_t(i), 1)})
                if (send(links[0], bufs[0], f) != Bytes{0})
                    faults[0].push_back("write " + std::to_string(i) + " group " + std::to_string(f.group));
            if (i == kRounds - 1) {   // it holds FPGA 0 in reset: the last write
                if (send(links[0], bufs[0], req(0x84, {}, 1)) != Bytes{0})
                    faults[0].push_back("update start " + std::to_string(i));
            }
        }
        writing = false;
    });
    std::thread reader([&] {
        for (int i = 0; i < kRounds; ++i) {
            const Bytes got = send(links[1], bufs[1], pc::readRam(0x06000000 + 200, 100, 1));
            if (got.size() != 101 || got[0] != 0 || std::any_of(got.begin() + 1, got.end(), [&](uint8_t b) { return b != got[1]; }))
                faults[1].push_back("extension read " + std::to_string(i) + ": " + pc::hex(got));
            if (i % 12 == 0) {
                pc::Frame save = req(0x81, {}, 1);
                save.sub = 1;
                if (send(links[1], bufs[1], save) != Bytes{0})
                    faults[1].push_back("save " + std::to_string(i));
                const Bytes saved = FpgaFlashModel::read(0, 0x308001, 64);
                if (std::any_of(saved.begin(), saved.end(), [&](uint8_t b) { return b != saved[0]; }))
                    faults[1].push_back("saved image torn: " + pc::hex(saved));
            }
        }
    });
    // The manager's pass, meanwhile.
    while (writing)
        manager->check_fpga_rst();
    writer.join();
    reader.join();
    manager->check_fpga_rst();
    EXPECT_EQ(faults[0], std::vector<std::string>{});
    EXPECT_EQ(faults[1], std::vector<std::string>{});
    // The last update start's reset was taken by the manager: the line is held, the
    // bring-up starts over.
    EXPECT_EQ((std::vector<int>{manager->reset_pending[0], manager->check_step[0], manager->check_retry[0], FpgaModel::inReset(0)}),
              (std::vector<int>{1, 0, 0, 1}));
}

} // namespace
