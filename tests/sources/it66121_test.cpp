// The SDI stage's transmitter against its simulated chip: identification, register tables,
// EDID reading over the DDC master and the sink-capability parse of good and hostile EDIDs,
// infoframe checksums, N/CTS and channel status, and the owner's bring-up steps.
#include "board/sim/Sim.h"
#include "board/sim/i2c/It66121Model.h"
#include "core/kelrampara.h"
#include "sources/transmitters/it66121_hdmitx_drv.h"
#include "sources/transmitters/it66121_hdmitx_sys.h"
#include "sources/transmitters/it66121_sys.h"
#include "sources/velinsource.h"
#include "tests/support/Sources.h"

#include <algorithm>
#include <array>
#include <numeric>
#include <tuple>
#include <gtest/gtest.h>
#include <vector>

namespace {

using Model = sim::It66121Model;

// A valid block 0 followed by the given 128-byte extension blocks.
std::vector<uint8_t> edidWith(std::initializer_list<std::vector<uint8_t>> extensions)
{
    std::vector<uint8_t> e(128, 0);
    const uint8_t head[8] = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};
    std::copy(head, head + 8, e.begin());
    e[126] = uint8_t(extensions.size());
    uint8_t sum = 0;
    for (int i = 0; i < 127; ++i)
        sum = uint8_t(sum + e[i]);
    e[127] = uint8_t(-sum);
    for (const auto& block : extensions)
        e.insert(e.end(), block.begin(), block.end());
    return e;
}

class It66121 : public kel_test::SourcesFixture {
protected:
    void SetUp() override
    {
        SourcesFixture::SetUp();
        openSources();
        Model::instance().reset();
        sim::I2cBusModel::clearLog();
        tx = src->p_it66121_sys;
        drv = tx->p_hdmitx_drv;
        sys = tx->p_hdmitx_sys;
    }
    // Register/value pairs written at 0x98, in order.
    static std::vector<std::pair<int, int>> writes() { return kel_test::i2cWrites(0x98); }
    it66121_sys* tx = nullptr;
    it66121_hdmitx_drv* drv = nullptr;
    it66121_hdmitx_sys* sys = nullptr;
};

TEST_F(It66121, IdentityAndBringUpSteps)
{
    EXPECT_TRUE(tx->IT66121_Test());
    src->it66121_sdi_enable();   // prepare
    src->it66121_sdi_enable();   // identify
    EXPECT_EQ((std::vector<int>{tx->present, para->reg_image[37] & 0x02}), (std::vector<int>{1, 0x02}));
    src->it66121_sdi_enable();   // initialise: 1080p60 video type, YUV 4:2:2 input
    // Video type, pixel clock, input colour mode, back in bank 0.
    EXPECT_EQ((std::vector<uint32_t>{sys->VIC, sys->VideoPixelClock, sys->bInputColorMode,
                                     uint32_t(Model::instance().reg(0, 0x0F) & 0x01)}),
              (std::vector<uint32_t>{16, 148500000u, 0x31, 0}));
    // The device record as copied at initialisation (type, audio configuration, control, Fs code, TMDS clock, flags,
    // audio delay, FIFO reading, address), the sink's plug state cleared.
    const _HDMITXDEV_STRUCT& d = drv->hdmiTxDev[0];
    sys->HPDStatus = sys->HPDChangeStatus = 1;
    sys->InitHDMITX_Variable();
    EXPECT_EQ((std::vector<uint32_t>{d.video_signal_type, d.audio_input_config, d.audio_control, d.audio_fs, d.tmds_clock, d.flags,
                                     d.audio_delay, d.last_fifo, d.address, sys->HPDStatus, sys->HPDChangeStatus}),
              (std::vector<uint32_t>{0, 1, 1, 2, 0, 0, 0, 0, 0x98, 0, 0}));
    src->it66121_sdi_enable();               // the loop, not enabled: the chip is left alone
    sim::I2cBusModel::clearLog();
    src->it66121_sdi_enable();
    EXPECT_TRUE(sim::I2cBusModel::log().empty());

    Model::instance().setPresent(false);
    EXPECT_FALSE(tx->IT66121_Test());
    // Input n (modulo 18) asks for these video types.
    const int types[18] = {1, 2, 3, 4, 5, 6, 7, 16, 17, 18, 19, 20, 21, 22, 31, 32, 33, 34};
    for (int n = 0; n < 36; ++n) {
        sys->VIC = 0;
        tx->CHANGE_INPUT(uint8_t(n));
        EXPECT_EQ(sys->VIC, types[n % 18]) << n;
    }
}

// Rows {register, mask, value}: true when writes hold, in this order, a write of each
// register whose masked bits are the row's value (other writes may come between).
static bool rowsInOrder(const std::vector<std::pair<int, int>>& got, const std::vector<std::array<int, 3>>& rows)
{
    size_t k = 0;
    for (const auto& [reg, value] : got)
        if (k < rows.size() && reg == rows[k][0] && (value & rows[k][1]) == rows[k][2])
            ++k;
    return k == rows.size();
}

TEST_F(It66121, InitialisationAndPowerTablesWriteTheirRowsInOrder)
{
    drv->InitHDMITX();
    EXPECT_TRUE(rowsInOrder(writes(), {
        // reset and interrupt set-up
        {0x0F, 0x40, 0x00}, {0x62, 0x08, 0x00}, {0x64, 0x04, 0x00}, {0x04, 0x20, 0x20}, {0x04, 0x1D, 0x1D},
        {0x0F, 0x01, 0x00}, {0xD1, 0x0E, 0x0C}, {0x65, 0x03, 0x00}, {0x71, 0xFC, 0x1C}, {0x8D, 0xFF, 0x9C},
        {0x0F, 0x08, 0x08}, {0xF8, 0xFF, 0xC3}, {0xF8, 0xFF, 0xA5}, {0x20, 0x80, 0x80}, {0x37, 0x01, 0x00},
        {0x20, 0x80, 0x00}, {0xF8, 0xFF, 0xFF}, {0x5D, 0x03, 0x01}, {0x59, 0xD8, 0x40}, {0xE1, 0x20, 0x00},
        {0x05, 0xC0, 0x40}, {0x09, 0xFF, 0xFC}, {0x0A, 0xFF, 0xF8}, {0x0B, 0xFF, 0xF7}, {0x0C, 0xFF, 0xFF},
        {0x0D, 0xFF, 0xFF}, {0x0E, 0x03, 0x03}, {0x0C, 0xFF, 0x00}, {0x0D, 0xFF, 0x00}, {0x0E, 0x02, 0x00},
        {0x09, 0x03, 0x00}, {0x20, 0x01, 0x00},
        // default colour set-up: the BT.709 16-235 RGB-to-YUV matrix
        {0x72, 0xFF, 0x00}, {0x70, 0xFF, 0x00}, {0x72, 0xFF, 0x02}, {0x73, 0xFF, 0x00}, {0x74, 0xFF, 0x80},
        {0x75, 0xFF, 0x00}, {0x76, 0xFF, 0xB8}, {0x77, 0xFF, 0x05}, {0x78, 0xFF, 0xB4}, {0x79, 0xFF, 0x01},
        {0x7A, 0xFF, 0x94}, {0x7B, 0xFF, 0x00}, {0x7C, 0xFF, 0x4A}, {0x7D, 0xFF, 0x3C}, {0x7E, 0xFF, 0x17},
        {0x7F, 0xFF, 0x04}, {0x80, 0xFF, 0x9F}, {0x81, 0xFF, 0x3F}, {0x82, 0xFF, 0xD9}, {0x83, 0xFF, 0x3C},
        {0x84, 0xFF, 0x10}, {0x85, 0xFF, 0x3F}, {0x86, 0xFF, 0x17}, {0x87, 0xFF, 0x04}, {0x88, 0xF0, 0x00},
        {0x04, 0x08, 0x00},
        // HDMI mode
        {0xC0, 0x01, 0x01}, {0xC1, 0x03, 0x03}, {0xC6, 0x03, 0x03},
        // default AVI infoframe (bank 1)
        {0x0F, 0x01, 0x01}, {0x58, 0xFF, 0x10}, {0x59, 0xFF, 0x08}, {0x5A, 0xFF, 0x00}, {0x5B, 0xFF, 0x00},
        {0x5C, 0xFF, 0x00}, {0x5D, 0xFF, 0x57}, {0x5E, 0xFF, 0x00}, {0x65, 0xFF, 0x00}, {0x0F, 0x01, 0x00},
        {0xCD, 0x03, 0x03},
        // default audio infoframe
        {0x0F, 0x01, 0x01}, {0x68, 0xFF, 0x00}, {0x6C, 0xFF, 0x00}, {0x6D, 0xFF, 0x71}, {0x0F, 0x01, 0x00},
        {0xCE, 0x03, 0x03},
        // N = 6144 and the channel status for 48 kHz
        {0x0F, 0x01, 0x01}, {0x33, 0xFF, 0x00}, {0x34, 0xFF, 0x18}, {0x35, 0xFF, 0x00}, {0x91, 0xFF, 0x00},
        {0x92, 0xFF, 0x00}, {0x93, 0xFF, 0x01}, {0x94, 0xFF, 0x00}, {0x98, 0xFF, 0x02}, {0x99, 0xFF, 0xDA},
        {0x0F, 0x01, 0x00},
        // two-channel 24-bit audio
        {0x0F, 0x11, 0x00}, {0x04, 0x14, 0x04}, {0xE0, 0xFF, 0xD1}, {0xE1, 0xFF, 0x01}, {0xE2, 0xFF, 0xE4},
        {0xE3, 0xFF, 0x10}, {0xE4, 0xFF, 0x00}, {0xE5, 0xFF, 0x00}, {0x04, 0x14, 0x00}}));

    sim::I2cBusModel::clearLog();
    drv->HDMITX_PowerOn();
    EXPECT_TRUE(rowsInOrder(writes(), {{0x0F, 0x78, 0x38}, {0x05, 0x01, 0x00}, {0x61, 0x20, 0x00}, {0x62, 0x44, 0x00},
                                       {0x64, 0x40, 0x00}, {0x61, 0x10, 0x00}, {0x62, 0x08, 0x08}, {0x64, 0x04, 0x04},
                                       {0x0F, 0x78, 0x08}}));
    sim::I2cBusModel::clearLog();
    drv->HDMITX_PowerDown();
    EXPECT_TRUE(rowsInOrder(writes(), {{0x0F, 0x40, 0x00}, {0x61, 0x10, 0x10}, {0x62, 0x08, 0x00}, {0x64, 0x04, 0x00},
                                       {0x61, 0x20, 0x20}, {0x62, 0x44, 0x44}, {0x64, 0x40, 0x40}, {0x05, 0x01, 0x01},
                                       {0x0F, 0x78, 0x78}}));
}

TEST_F(It66121, AudioOptionTakesTypeChannelsAndRateByFsCode)
{
    const std::pair<int, uint32_t> rates[] = {{0, 44100}, {3, 32000}, {8, 88200}, {9, 768000}, {10, 96000},
                                              {12, 176400}, {14, 192000}, {2, 48000}, {1, 48000}, {15, 48000}};
    for (const auto& [code, rate] : rates) {
        sys->bChangeAudio = 0;
        sys->HDMITX_ChangeAudioOption(0x80, 2, uint8_t(code));
        EXPECT_EQ(std::make_pair(sys->ulAudioSampleFS, int(sys->bChangeAudio)), std::make_pair(rate, 1)) << code;
    }
    // LPCM keeps 1 to 8 channels; any other type two.
    for (const auto& [type, asked, kept] : {std::tuple{0x80, 0, 1}, {0x80, 6, 6}, {0x80, 9, 8}, {0x90, 6, 2}}) {
        sys->HDMITX_ChangeAudioOption(uint8_t(type), uint8_t(asked), 2);
        EXPECT_EQ((std::vector<int>{sys->bOutputAudioType, sys->bAudioChannelCount}), (std::vector<int>{type, kept})) << type << " " << asked;
    }
    // High bit rate returns at once, with no change pending: type, channels, rate, pending.
    sys->bChangeAudio = 0;
    sys->HDMITX_ChangeAudioOption(0xC0, 2, 2);
    EXPECT_EQ((std::vector<unsigned>{sys->bOutputAudioType, sys->bAudioChannelCount, sys->ulAudioSampleFS, sys->bChangeAudio}),
              (std::vector<unsigned>{0xC0, 8, 768000, 0}));
}

TEST_F(It66121, AudioChangeIsAFifoMoveOfFourOrMore)
{
    auto& bus = drv->bus;
    for (const auto& [r, v] : {std::pair{0x5F, 0x00}, {0xC5, 0x00}, {0xE0, 0xDF}})
        bus.HDMITX_WriteI2C_Byte(uint8_t(r), uint8_t(v));
    drv->hdmiTxDev[0].last_fifo = 10;
    bus.HDMITX_WriteI2C_Byte(0x60, 13);
    EXPECT_EQ((std::vector<int>{drv->hdmitx_IsAudioChang(), Model::instance().reg(0, 0xC5)}), (std::vector<int>{0, 0x00}));
    bus.HDMITX_WriteI2C_Byte(0x60, 9);
    EXPECT_EQ((std::vector<int>{drv->hdmitx_IsAudioChang(), Model::instance().reg(0, 0xC5), Model::instance().reg(0, 0xE0)}),
              (std::vector<int>{1, 0x20, 0xD0}));
    // While 0x5F bit 4 is set the reading is not taken.
    bus.HDMITX_WriteI2C_Byte(0x5F, 0x10);
    bus.HDMITX_WriteI2C_Byte(0x60, 100);
    EXPECT_EQ((std::vector<int>{drv->hdmitx_IsAudioChang(), drv->hdmiTxDev[0].last_fifo}), (std::vector<int>{0, 9}));
}

TEST_F(It66121, TableRowsWaitMaskAndChangeNothingAndOversizedTransfersAreRefused)
{
    // Transfers beyond the buffers are refused without a transfer.
    uint8_t big[256] = {};
    EXPECT_EQ((std::vector<size_t>{size_t(drv->bus.I2C2_IT66121_Read(0x98, 0, 101, big)),
                                   size_t(drv->bus.I2C2_IT66121_Write(0x98, 0, 256, big)),
                                   sim::I2cBusModel::log().size()}),
              (std::vector<size_t>{0, 0, 0}));
    drv->bus.HDMITX_WriteI2C_Byte(0x20, 0xF0);
    sim::I2cBusModel::clearLog();
    const structRegSetEntry table[] = {{5, 0, 0}, {0x20, 0, 0x33}, {0x20, 0x0F, 0x05}, {0x21, 0xFF, 0x77}, {0, 0, 0}};
    drv->hdmitx_LoadRegSetting(table);
    EXPECT_EQ(writes(), (std::vector<std::pair<int, int>>{{0x20, 0xF5}, {0x21, 0x77}}));
}

TEST_F(It66121, EdidBlockIsFourDdcReads)
{
    std::vector<uint8_t> e(256);
    for (int i = 0; i < 256; ++i)
        e[i] = uint8_t(i ^ 0x5A);
    Model::instance().setSink(true, e);
    uint8_t buf[128] = {};
    ASSERT_TRUE(drv->getHDMITX_EDIDBlock(1, buf));
    std::vector<std::pair<int, int>> reads;   // offset, count
    for (const auto& r : Model::instance().ddcReads())
        reads.emplace_back(r.offset, r.count);
    EXPECT_EQ(reads, (std::vector<std::pair<int, int>>{{128, 32}, {160, 32}, {192, 32}, {224, 32}}));
    Model::instance().setDdcError(0x08);
    const int failed = drv->getHDMITX_EDIDBlock(0, buf);
    Model::instance().setDdcError(0);
    Model::instance().setDdcHang(true);
    // The block's ends; a DDC error fails the block; a hung DDC still returns.
    EXPECT_EQ((std::vector<int>{buf[0], buf[127], failed, drv->getHDMITX_EDIDBytes(buf, 0, 0, 16), drv->getHDMITX_EDIDBytes(nullptr, 0, 0, 16)}),
              (std::vector<int>{128 ^ 0x5A, 255 ^ 0x5A, 0, 1, 1}));
}

TEST_F(It66121, ParsesAHdmiSinksExtension)
{
    // Audio (one descriptor), video 16 native + 4 + 95 (bit 6: skipped), HDMI vendor block,
    // speaker allocation.
    std::vector<uint8_t> cea = {0x02, 0x03, 25, 0x70, 0x23, 0x09, 0x07, 0x07, 0x43, 0x90, 0x04, 0x5F,
                                0x67, 0x03, 0x0C, 0x00, 0x10, 0x00, 0x38, 0x3C, 0x83, 0x01, 0x00, 0x00};
    cea.resize(128, 0);
    Model::instance().setSink(true, edidWith({cea}));
    ASSERT_TRUE(sys->ParseEDID());
    const RX_CAP& c = sys->RxCapability;
    // OUI, flags, native code, codes 16 and 4, audio descriptors, physical address, deep colour,
    // TMDS limit, speakers, CEA support.
    EXPECT_EQ((std::vector<int>{int(c.IEEEOUI), c.flags & 0x03, c.native_vdo, c.VDOMode[2], c.VDOMode[0], c.AUDDesCount, c.AUDDes[0][0],
                                c.phy_address[0], c.dc_support, c.max_tmds_clock, c.speaker_allocation[0], c.cea_support}),
              (std::vector<int>{0x000C03, 0x03, 16, 0x01, 0x10, 1, 0x09, 0x10, 0x30, 0x3C, 0x01, 0x70}));

    // A CEA block without the HDMI vendor block does not end the parse: the next one is read.
    std::vector<uint8_t> plain = {0x02, 0x03, 4, 0x40};
    plain.resize(128, 0);
    Model::instance().setSink(true, edidWith({plain, cea}));
    ASSERT_TRUE(sys->ParseEDID());
    EXPECT_EQ(sys->RxCapability.IEEEOUI, 0x000C03u);
}

TEST_F(It66121, HostileExtensionsStayInsideTheBlock)
{
    uint8_t b[128] = {0x02, 0x03, 4, 0x40};
    EXPECT_EQ((std::vector<int>{sys->ParseCEAEDID(b), sys->RxCapability.flags}), (std::vector<int>{1, 0x01}));   // no data blocks
    // Detailed-timing offset beyond the block, a vendor block claiming 31 bytes at the end.
    uint8_t h[128] = {0x02, 0x03, 0xFF, 0x00};
    for (int i = 4; i < 127; ++i)
        h[i] = 0x1F;                                            // tag 0, length 31: skipped
    h[124] = 0x7F;
    EXPECT_EQ((std::vector<int>{sys->ParseCEAEDID(h), sys->RxCapability.flags & 0x02}), (std::vector<int>{1, 0}));
    // A short vendor block: its optional bytes are not read.
    uint8_t v[128] = {0x02, 0x03, 10, 0x00, 0x65, 0x03, 0x0C, 0x00, 0x20, 0x00};
    sys->RxCapability.max_tmds_clock = 0xAA;
    ASSERT_TRUE(sys->ParseCEAEDID(v));
    EXPECT_EQ((std::vector<int>{sys->RxCapability.phy_address[0], sys->RxCapability.max_tmds_clock}), (std::vector<int>{0x20, 0xAA}));
    // A speaker-allocation block is three bytes and the next block starts four bytes on,
    // whatever length its header claims (here 1).
    uint8_t s[128] = {0x02, 0x03, 14, 0x00, 0x81, 0x05, 0x3F, 0x00, 0x65, 0x03, 0x0C, 0x00, 0x40, 0x00};
    ASSERT_TRUE(sys->ParseCEAEDID(s));
    EXPECT_EQ((std::vector<int>{sys->RxCapability.speaker_allocation[0], sys->RxCapability.speaker_allocation[1],
                                sys->RxCapability.phy_address[0]}),
              (std::vector<int>{0x05, 0x3F, 0x40}));
    s[2] = 7;   // the three bytes would run past the data area: not copied
    sys->RxCapability.speaker_allocation[0] = 0;
    ASSERT_TRUE(sys->ParseCEAEDID(s));
    EXPECT_EQ((std::vector<int>{sys->RxCapability.speaker_allocation[0], sys->ParseCEAEDID(nullptr)}), (std::vector<int>{0, 0}));
    // A bad checksum fails before any extension is read.
    auto e = edidWith({std::vector<uint8_t>(b, b + 128)});
    e[10] ^= 1;
    Model::instance().setSink(true, e);
    EXPECT_EQ((std::vector<int>{sys->ParseEDID(), int(Model::instance().ddcReads().size())}), (std::vector<int>{0, 4}));
    // A right checksum over a wrong header: the header ends in 00.
    e = edidWith({std::vector<uint8_t>(b, b + 128)});
    e[7] = 0x01;
    e[127] = uint8_t(e[127] - 1);
    Model::instance().setSink(true, e);
    const int wrongHeader = sys->ParseEDID();
    e[7] = 0x00;
    e[127] = uint8_t(e[127] + 1);
    Model::instance().setSink(true, e);
    EXPECT_EQ((std::vector<int>{wrongHeader, sys->ParseEDID()}), (std::vector<int>{0, 1}));
}

TEST_F(It66121, InfoframesCarryTheirHeadersAndPayloads)
{
    // Header bytes 0-2 and the payload from byte 4 (byte 3 is the checksum).
    auto frame = [&](int payload) {
        std::vector<int> v(sys->CommunBuff, sys->CommunBuff + 4 + payload);
        v.erase(v.begin() + 3);
        return v;
    };
    // (colour mode, aspect and colorimetry, video code, pixel repetition) -> PB1, PB2, PB5:
    // YUV 4:4:4 with both 1, then RGB with both 0.
    for (const auto& [mode, flags, code, repetition, pb1, pb2, pb5] : {std::tuple{2, 1, 16, 5, 0x50, 0xA8, 1}, {0, 0, 4, 0, 0x10, 0x58, 0}}) {
        sys->bOutputColorMode = uint8_t(mode);
        sys->aspec = sys->Colorimetry = uint32_t(flags);
        sys->ConfigAVIInfoFrame(uint8_t(code), uint8_t(repetition));
        EXPECT_EQ(frame(13), (std::vector<int>{0x82, 2, 13, pb1, pb2, 0, code, pb5, 0, 0, 0, 0, 0, 0, 0, 0})) << code;
    }
    sys->ConfigAudioInfoFrm();
    EXPECT_EQ(frame(10), (std::vector<int>{0x84, 1, 10, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    for (const auto& [structure, length, pb5] : {std::tuple{8, 6, 0x80}, {6, 5, 0x60}, {0, 5, 0x00}, {3, 5, 0x00}}) {
        sys->ConfigfHdmiVendorSpecificInfoFrame(uint8_t(structure));
        EXPECT_EQ(frame(6), (std::vector<int>{0x81, 1, length, 0x03, 0x0C, 0x00, 0x40, pb5, 0})) << structure;
    }
}

TEST_F(It66121, PacketsLandInTheirRegistersWithTheirChecksumsAndAreSent)
{
    auto& m = Model::instance();
    uint8_t frame[40];
    for (int i = 0; i < 40; ++i)
        frame[i] = uint8_t(i - 3);   // payload byte n (PBn, from byte 4) holds n
    auto bank1 = [&](std::vector<int> regs) {
        for (int& r : regs)
            r = m.reg(1, r);
        return regs;
    };
    auto from = [](int first, int n) {
        std::vector<int> v(n);
        std::iota(v.begin(), v.end(), first);
        return v;
    };
    ASSERT_TRUE(drv->hdmitx_SetAVIInfoFrame(frame));
    EXPECT_EQ(bank1(from(0x58, 14)), (std::vector<int>{1, 2, 3, 4, 5, 0x6F - 91, 6, 7, 8, 9, 10, 11, 12, 13}));
    ASSERT_TRUE(drv->hdmitx_SetAudioInfoFrame(frame));
    EXPECT_EQ(bank1({0x68, 0x69, 0x6B, 0x6C, 0x6D}), (std::vector<int>{1, 2, 4, 5, 0x71 - 12}));
    ASSERT_TRUE(drv->hdmitx_SetSPDInfoFrame(frame));
    EXPECT_EQ(std::make_pair(bank1(from(0x71, 25)), int(m.reg(1, 0x70))), std::make_pair(from(1, 25), int(uint8_t(0x63 - 325))));
    EXPECT_EQ((std::vector<int>{m.reg(0, 0xCD), m.reg(0, 0xCE), m.reg(0, 0xCF)}), (std::vector<int>{3, 3, 3}));
    ASSERT_TRUE(drv->hdmitx_SetMPEGInfoFrame(frame));
    EXPECT_EQ(bank1(from(0x8A, 6)), (std::vector<int>{0x02, 1, 2, 3, 4, 0x70 - 15}));
    sim::I2cBusModel::clearLog();
    ASSERT_TRUE(drv->hdmitx_Set_GeneralPurpose_PKT(frame + 4));
    EXPECT_EQ(bank1(from(0x38, 31)), from(1, 31));
    const auto sent = writes();
    ASSERT_GE(sent.size(), 2u);
    EXPECT_EQ(decltype(sent)(sent.end() - 2, sent.end()), (decltype(sent){{0xC9, 0x03}, {0xC9, 0x03}})) << "sent, in bank 0";
    EXPECT_FALSE(drv->hdmitx_SetAVIInfoFrame(nullptr));

    // The vendor-specific frame of length 5 keeps its checksum in the frame.
    uint8_t vsi[10] = {0x81, 1, 5, 0, 0x03, 0x0C, 0x00, 0x40, 0x00};
    ASSERT_TRUE(drv->HDMITX_EnableVSInfoFrame(1, vsi));
    EXPECT_EQ((std::vector<int>{vsi[3], m.reg(0, 0x0F) & 1}), (std::vector<int>{0x2A, 0}));
}

TEST_F(It66121, VideoStartAssertsResetsMutesConvertsAndFiresTheFrontEnd)
{
    // HDMI, RGB in and out, pixel-clock level 2, from a chip whose registers read 0.
    using W = std::pair<int, int>;
    drv->HDMITX_EnableVideoOutput(2, 0x00, 0x00, 1);
    const std::vector<W> expected = {
        {0x04, 0x1D},                               // resets asserted
        {0x0F, 0x01}, {0x58, 0x00}, {0x0F, 0x00},   // first AVI payload byte, in bank 1
        {0x0F, 0x00}, {0xC1, 0x01}, {0xC6, 0x03},   // AV mute on
        {0x70, 0x01},                               // input mode: RGB
        {0x0F, 0x10}, {0x72, 0x00},                 // bypass
        {0xC0, 0x01},                               // HDMI
        {0x61, 0x10}, {0x62, 0x80}, {0x64, 0x80}, {0x68, 0x00}, {0x04, 0x15}, {0x61, 0x00},   // AFE, level 2
        {0x04, 0x15}, {0x0F, 0x10}, {0x61, 0x00},   // fire
    };
    EXPECT_EQ(writes(), expected);

    // Levels 0 and 1 set the low-clock front end; DVI leaves AV mute alone.
    sim::I2cBusModel::clearLog();
    drv->HDMITX_EnableVideoOutput(1, 0x00, 0x00, 0);
    const auto w = writes();
    for (const W& x : {W{0x62, 0x10}, W{0x64, 0x09}, W{0x68, 0x10}, W{0xC0, 0x00}})
        EXPECT_NE(std::find(w.begin(), w.end(), x), w.end()) << x.first;
    EXPECT_EQ(std::count_if(w.begin(), w.end(), [](const W& x) { return x.first == 0xC6; }), 0);
}

TEST_F(It66121, ColourConversionByFormatPair)
{
    struct Case {
        uint8_t in, out, reg72;   // 0x72 bits 2-4 start as 0x1C and are kept
        bool bypass;              // 0x0F bit 4 set
    };
    const Case cases[] = {
        {0x00, 0, 0x1C, true},  {0x00, 1, 0x1E, false}, {0xC0, 1, 0xFE, false}, {0x80, 2, 0xBE, false},
        {0x41, 0, 0x5F, false}, {0x81, 0, 0xBF, false}, {0x41, 1, 0x1C, true},  {0xC1, 2, 0xFC, true},
        {0xC2, 0, 0xBF, false}, {0x42, 1, 0x5C, true},  {0x02, 2, 0x1C, true},  {0x03, 0, 0x1E, false},
    };
    auto& m = Model::instance();
    for (const Case& c : cases) {
        drv->bus.HDMITX_WriteI2C_Byte(0x72, 0x1C);
        sim::I2cBusModel::clearLog();
        drv->hdmitx_SetCSCScale(c.in, c.out);
        EXPECT_EQ(std::make_pair(int(m.reg(0, 0x72)), (m.reg(0, 0x0F) & 0x10) != 0), std::make_pair(int(c.reg72), c.bypass))
            << int(c.in) << " -> " << int(c.out);
    }
    auto matrix = [&] {
        std::vector<uint8_t> v;
        for (int r = 0x73; r <= 0x87; ++r)
            v.push_back(m.reg(0, r));
        return v;
    };
    // Input bits 4-5 choose the matrix: 0x20 BT.601 limited, 0x30 BT.709 limited.
    drv->hdmitx_SetCSCScale(0x21, 0);
    EXPECT_EQ(matrix(), (std::vector<uint8_t>{0x00, 0x00, 0x00, 0x00, 0x08, 0x6B, 0x3A, 0x50, 0x3D, 0x00, 0x08,
                                              0xF5, 0x0A, 0x02, 0x00, 0x00, 0x08, 0xFD, 0x3F, 0xDA, 0x0D}));
    drv->hdmitx_SetCSCScale(0x30, 2);
    EXPECT_EQ(matrix(), (std::vector<uint8_t>{0x00, 0x80, 0x00, 0xB8, 0x05, 0xB4, 0x01, 0x94, 0x00, 0x4A, 0x3C,
                                              0x17, 0x04, 0x9F, 0x3F, 0xD9, 0x3C, 0x10, 0x3F, 0x17, 0x04}));
    sim::I2cBusModel::clearLog();
    drv->hdmitx_SetCSCScale(0x32, 2);
    for (const auto& x : writes())
        EXPECT_FALSE(x.first >= 0x73 && x.first <= 0x87) << "a bypass loads no matrix";
}

TEST_F(It66121, CheckHdmiTxServesInterruptsAndReportsHotPlugChanges)
{
    using W = std::pair<int, int>;
    auto& m = Model::instance();
    m.setSink(true);
    m.raise(0x06, 0x81);   // audio FIFO error, hot-plug change
    m.raise(0x07, 0x02);
    uint8_t hp = 0, changed = 0;
    EXPECT_EQ((std::vector<int>{drv->CheckHDMITX(&hp, &changed), hp, changed}), (std::vector<int>{1, 1, 1}));
    const auto w = writes();
    // 0x0E is written back as read (sink and pending bits) with bits 0-1 set, then bit 0 cleared.
    const std::vector<W> tail(w.end() - 4, w.end());
    EXPECT_EQ(tail, (std::vector<W>{{0x0C, 0xFF}, {0x0D, 0xFF}, {0x0E, 0xC3}, {0x0E, 0xC2}}));
    EXPECT_EQ(std::vector<W>(w.begin(), w.begin() + 3), (std::vector<W>{{0x04, 0x14}, {0x04, 0x00}, {0x0A, 0x02}}));

    // Nothing pending and the sink still there: no change, nothing written.
    sim::I2cBusModel::clearLog();
    EXPECT_EQ((std::vector<size_t>{size_t(drv->CheckHDMITX(&hp, &changed)), changed, writes().size()}), (std::vector<size_t>{1, 0, 0}));

    // The sink goes: a change, and the front end is turned off.
    m.setSink(false);
    sim::I2cBusModel::clearLog();
    EXPECT_EQ((std::vector<int>{drv->CheckHDMITX(nullptr, &changed), changed}), (std::vector<int>{0, 1}));
    EXPECT_EQ(writes(), (std::vector<W>{{0x61, 0x30}}));
}

TEST_F(It66121, NctsTableAndChannelStatus)
{
    drv->HDMITX_EnableAudioOutput(0x80, 0, 96000, 2, nullptr, 74250000);
    auto& m = Model::instance();
    // N, CTS left to the chip, channel status rate and word-length bytes; 24-bit I2S, one pair enabled.
    EXPECT_EQ((std::vector<int>{m.reg(1, 0x33) | m.reg(1, 0x34) << 8, m.reg(1, 0x30) | m.reg(1, 0x31) | m.reg(1, 0x32),
                                it66121_hdmitx_drv::ucIEC60958ChStat[3], it66121_hdmitx_drv::ucIEC60958ChStat[4] >> 4, m.reg(0, 0xE0)}),
              (std::vector<int>{12288, 0, 10, 5, 0xC1}));
    // Any other rate is taken as code 2 (N 6144); channel-status byte 2 by channel count.
    for (const auto& [channels, byte2] : std::vector<std::pair<int, int>>{{7, 4}, {0, 1}, {1, 1}, {3, 2}, {6, 3}}) {
        drv->HDMITX_EnableAudioOutput(0x80, 0, 12345, uint8_t(channels), nullptr, 74250000);
        EXPECT_EQ((std::vector<int>{m.reg(1, 0x33) | m.reg(1, 0x34) << 8, it66121_hdmitx_drv::ucIEC60958ChStat[2]}),
                  (std::vector<int>{6144, byte2})) << channels;
    }
    // Word length, input configuration and the S/PDIF or I2S set-up, write for write.
    for (const auto& [spdif, seq] : std::vector<std::pair<int, std::vector<std::pair<int, int>>>>{
             {1, {{0xE0, 0x90}, {0xE1, 0x01}, {0xE2, 0xE4}, {0xE3, 0x10}, {0xE4, 0}, {0xE5, 0}, {0x5C, 0x40}}},
             {0, {{0xE0, 0x80}, {0xE1, 0x41}, {0xE2, 0xE4}, {0xE3, 0}, {0xE4, 0}, {0xE5, 0}}}}) {
        sim::I2cBusModel::clearLog();
        drv->setHDMITX_LPCMAudio(2, 20, uint8_t(spdif));
        const auto log = sim::I2cBusModel::log();   // S/PDIF: 0x5F bit 5 never set, so 100 reads
        const int polls = int(std::count_if(log.begin(), log.end(), [](const auto& r) { return r.data == std::vector<uint8_t>{0x5F}; }));
        EXPECT_EQ(std::make_pair(writes(), polls), std::make_pair(seq, spdif ? 100 : 0)) << spdif;
    }
    const int expected[15] = {6272, 6144, 6144, 4096, 6144, 6144, 6144, 6144, 12544, 24576, 12288, 6144, 25088, 6144, 24576};
    for (int code = 0; code < 16; ++code) {
        drv->setHDMITX_NCTS(uint8_t(code));
        EXPECT_EQ(m.reg(1, 0x33) | m.reg(1, 0x34) << 8, code < 15 ? expected[code] : 6144) << code;
    }
    // The set-up rewrote byte 4 of the channel status (0x99) as 0x6B; an Fs update puts the
    // complement of the code in its bits 4-7.
    const int before = m.reg(1, 0x99);
    drv->setHDMITX_UpdateChStatFs(10);
    sys->HDMITX_ChangeDisplayOption(8, 0);
    EXPECT_EQ((std::vector<int>{before, m.reg(1, 0x99), sys->bChangeMode}), (std::vector<int>{0x6B, 0x5B, 0}));
}

} // namespace
