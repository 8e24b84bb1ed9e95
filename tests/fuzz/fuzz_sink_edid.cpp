// A sink's EDID read by the SDI stage's transmitter over its DDC master: the image is put on
// the simulated chip's sink, the capability parse runs directly, then the device loop sees
// the sink unplugged and plugged again and sets up video and audio from what it parsed.
// Byte 0: bit 0 gives block 0 a good header and checksum (so the extensions are reached),
// bit 1 raises the chip's interrupt lines too; the rest is the image (any length).
//
// Promises: the parse succeeds only on a block 0 with the header and a zero sum; it reads at
// most block 0 and four extensions whatever the extension count says; a sink whose vendor
// block carried the HDMI identifier is taken as HDMI; the native video code is one the
// bitmap holds.
#include "tests/fuzz/FuzzSupport.h"

#include "board/sim/i2c/It66121Model.h"
#include "core/config_engine.h"
#include "core/kelrampara.h"
#include "sources/transmitters/it66121_hdmitx_sys.h"
#include "sources/transmitters/it66121_sys.h"
#include "sources/velinsource.h"

#include <algorithm>
#include <cstring>

namespace {

using kel_fuzz::Bytes;
using Model = sim::It66121Model;

const uint8_t kHeader[8] = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};
it66121_hdmitx_sys* sys = nullptr;

void setUp()
{
    kel_fuzz::board();
    ConfigEngine::pInstance();
    KelRamPara::pInstance();
    velinsource* src = velinsource::pInstance();
    src->open_bus();
    Model::instance().reset();
    for (int i = 0; i < 3; ++i)
        src->it66121_sdi_enable();   // prepare, identify, initialise
    sys = src->p_it66121_sys->p_hdmitx_sys;
    sys->loop_enabled = 1;
}

void fixBlock0(Bytes& e)
{
    if (e.size() < 128)
        e.resize(128, 0);
    std::memcpy(e.data(), kHeader, 8);
    uint8_t sum = 0;
    for (int i = 0; i < 127; ++i)
        sum = uint8_t(sum + e[size_t(i)]);
    e[127] = uint8_t(-sum);
}

void makeSeeds(const std::string& dir)
{
    // Extension 1: audio, video (16 native, 4), HDMI vendor block with deep colour, TMDS
    // clock and the 3D flag, speaker allocation.
    Bytes cea = {0x02, 0x03, 30, 0x70, 0x23, 0x09, 0x07, 0x07, 0x43, 0x90, 0x04, 0x5F, 0x6A, 0x03, 0x0C,
                 0x00, 0x10, 0x00, 0x38, 0x3C, 0x20, 0x00, 0x80, 0x83, 0x01, 0x00, 0x00};
    cea.resize(128, 0);
    Bytes dvi(128, 0);
    dvi[18] = 1;
    dvi[19] = 3;
    int i = 0;
    for (uint8_t extensions : {0, 1, 2, 7}) {
        Bytes e = {1};
        e.insert(e.end(), dvi.begin(), dvi.end());
        e[1 + 126] = extensions;
        for (int b = 0; b < extensions && b < 3; ++b)
            e.insert(e.end(), cea.begin(), cea.end());
        Bytes body(e.begin() + 1, e.end());
        fixBlock0(body);
        std::copy(body.begin(), body.end(), e.begin() + 1);
        kel_fuzz::writeSeed(dir, "sink-" + std::to_string(i++), e);
    }
    Bytes shortImage = {3, 0x00, 0xFF, 0xFF};
    kel_fuzz::writeSeed(dir, "sink-" + std::to_string(i++), shortImage);
    // A short EEPROM whose 0xFF past the end completes a valid first block:
    // 6 x 0xFF in the header, 17 x 0xFF after byte 110 and 23 sum to 0 modulo 256.
    Bytes shortValid = {0};
    shortValid.insert(shortValid.end(), kHeader, kHeader + 8);
    shortValid.resize(1 + 111, 0);
    shortValid[1 + 20] = 23;
    kel_fuzz::writeSeed(dir, "sink-" + std::to_string(i++), shortValid);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    kel_fuzz::seedMode(argc, argv, makeSeeds);
    setUp();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1 || size > 1024)
        return 0;
    Bytes image(data + 1, data + size);
    if (data[0] & 1)
        fixBlock0(image);
    Model& chip = Model::instance();
    chip.setSink(true, image);
    chip.clearDdcReads();

    const bool ok = sys->ParseEDID();
    const RX_CAP& cap = sys->RxCapability;
    if (ok) {
        // What the sink delivers: a short EEPROM reads as 0xFF past its end.
        Bytes block0(image.begin(), image.begin() + long(std::min<size_t>(image.size(), 128)));
        block0.resize(128, 0xFF);
        KEL_FUZZ_CHECK(std::memcmp(block0.data(), kHeader, 8) == 0);
        uint8_t sum = 0;
        for (int i = 0; i < 128; ++i)
            sum = uint8_t(sum + block0[size_t(i)]);
        KEL_FUZZ_CHECK(sum == 0);
    }
    // Block 0 and at most four extensions, each a whole block (the DDC moves 32 bytes or less
    // per read).
    unsigned bytes = 0;
    for (const Model::DdcRead& r : chip.ddcReads()) {
        KEL_FUZZ_CHECK(r.segment <= 2);
        bytes += r.count;
    }
    KEL_FUZZ_CHECK(bytes <= 5 * 128);
    // The identifier is that of the last vendor block read (an HDMI sink may carry another
    // after its HDMI one); the HDMI flag stays once that block was seen.
    if (cap.IEEEOUI == 0x000C03)
        KEL_FUZZ_CHECK(cap.flags & it66121_hdmitx_sys::kCapHdmi);
    if (cap.native_vdo != 255 && (cap.flags & it66121_hdmitx_sys::kCapParsed))
        KEL_FUZZ_CHECK(cap.native_vdo < 64 && (cap.VDOMode[cap.native_vdo / 8] & (1u << (cap.native_vdo % 8))));

    // Unplugged, then plugged: the loop reads the EDID again and sets up the output from it.
    chip.setSink(false);
    sys->HDMITX_DevLoopProc();
    chip.setSink(true, image);
    if (data[0] & 2) {
        chip.raise(0x06, 0xFF);
        chip.raise(0x07, 0xFF);
    }
    sys->HDMITX_DevLoopProc();
    sys->HDMITX_DevLoopProc();
    chip.clearDdcReads();
    return 0;
}
