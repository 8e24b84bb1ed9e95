// Version, unique id, barcode, LCD languages, clock, parameter save and cloud binding.
#include "tests/protocol/handler_fixture.h"

#include "core/config_engine.h"

#include <cstring>
#include <tuple>

namespace {

using handler_test::Bytes;

class PcIdentity : public handler_test::HandlerFixture {
protected:
    void SetUp() override
    {
        HandlerFixture::SetUp();
        ConfigEngine::pInstance();
        sim::Journal::clear();
    }
    void TearDown() override
    {
        delete ConfigEngine::p_config;
        HandlerFixture::TearDown();
    }
};

// The version (of the controller and either FPGA) and the unique id: the handler model check
// (PcHandlers).

// Group 0x84: the controller answers 0 at once; on the FPGA side a frame with no data, or one
// data byte with bit 1, copies 256 bytes of flash 2 from 0x301001 into FPGA 0's RAM 10, sets
// bit 6 of its register 23 and restarts its bring-up; one byte without bit 1 comes back as
// sent; any other length is refused (the table of commands' check).
TEST_F(PcIdentity, FpgaUpdateStartLoadsRam10AndRestartsTheBringUp)
{
    Bytes boot(256);
    for (int i = 0; i < 256; ++i)
        boot[i] = uint8_t(i ^ 0x5A);
    sim::FpgaFlashModel::write(0, 0x301001, boot);
    sim::FpgaFlashModel::write(0, 0x301101, {0x77});   // not part of it
    boot.push_back(0);
    const struct {
        uint16_t dest;
        Bytes data;
        Bytes reply;
        bool starts;
    } cases[] = {
        {pc::kController, {}, {0}, false}, {0x0001, {0x01}, {0x01}, false}, {0x0001, {}, {0}, true}, {0x0001, {0x02}, {0}, true},
    };
    for (const auto& c : cases) {
        G_timeTicks = G_timeTicks + 1000;   // a restart's reset line is let go
        manager->check_fpga_rst();
        sim::FpgaModel::setRam(0, 10, 0, Bytes(257, 0));
        sim::FpgaModel::setReg(0, 23, 0x01);
        manager->reset_pending[0] = 0;
        manager->check_step[0] = 5;
        manager->check_retry[0] = 7;
        EXPECT_EQ(reply(deal(req(0x84, c.data, c.dest))), c.reply) << c.data.size();
        manager->check_fpga_rst();   // the manager's pass takes the reset request
        // RAM 10, register 23, and the bring-up's reset, step and retry count.
        EXPECT_EQ(std::make_tuple(sim::FpgaModel::ram(0, 10, 0, 257), int(sim::FpgaModel::reg(0, 23)), int(manager->reset_pending[0]),
                                  int(manager->check_step[0]), int(manager->check_retry[0])),
                  c.starts ? std::make_tuple(boot, 0x41, 1, 0, 0) : std::make_tuple(Bytes(257, 0), 0x01, 0, 5, 7)) << c.data.size();
    }
}

// Group 0xA2: the barcode stored, read back and giving the cloud device id; the LCD
// languages' mask, each variant, and the current language (their refusals: the table of
// commands' check).
TEST_F(PcIdentity, BarcodeAndLanguageMask)
{
    EXPECT_EQ(reply(deal(req(0xA2, {0x1E, 3, 0, '7'}))), (Bytes{0, 30}));   // one character
    Bytes set = {0x1E, 14, 0};
    for (char c : std::string("0123456789AB"))
        set.push_back(uint8_t(c));
    EXPECT_EQ(reply(deal(req(0xA2, set))), (Bytes{0, 30}));
    EXPECT_EQ(std::make_pair(ConfigEngine::p_config->read_config_variant(ConfigItem::Barcode).toString(), Bytes(g_4G_property + 25, g_4G_property + 31)),
              std::make_pair(QString("0123456789AB"), Bytes{0x01, 0x23, 0x45, 0x67, 0x89, 0xAB}));
    Bytes want = {0, 31, 14, 0};
    want.insert(want.end(), set.begin() + 3, set.end());
    EXPECT_EQ(reply(deal(req(0xA2, {0x1F}))), want);

    g_language = 0;
    para()->ram[768] = 0;
    g_lcd_lang_valid = 0x1001F;
    EXPECT_EQ(reply(deal(req(0xA2, {0x20, 36, 0, 0xAA, 0x55, 1, 0x02, 0}))), (Bytes{0, 32}));
    // The mask, the language global and block byte, the stored mask.
    EXPECT_EQ((std::vector<int>{g_lcd_lang_valid, g_language, para()->ram[768], ConfigEngine::p_config->read_config_variant(ConfigItem::KelLCDLang).toInt()}),
              (std::vector<int>{0x10002, 1, 1, 0x10002}));
    EXPECT_EQ(reply(deal(req(0xA2, {0x20, 36, 0, 0xAA, 0x55, 2, 0x1F, 0}))), (Bytes{0, 32}));
    EXPECT_EQ(g_lcd_lang_valid, 0x2001E);
}

TEST_F(PcIdentity, CloudBindingIsUnmaskedAndStored)
{
    Bytes d = {11, 0};
    Bytes key(32);
    for (int i = 0; i < 32; ++i)
        key[i] = uint8_t(0x5A + i);
    d.insert(d.end(), key.begin(), key.end());
    d.resize(50, 0);   // bytes 44..59 of the frame are not used
    Bytes plain = {0, 0, 8};
    for (char c : std::string("10.0.0.9"))
        plain.push_back(uint8_t(c));
    const std::string name = "controller-hall-1";   // the texts run past the 32-byte mask
    plain.insert(plain.end(), {0x50, 0x1F, 2, 'u', '1', uint8_t(name.size())});
    plain.insert(plain.end(), name.begin(), name.end());
    for (size_t i = 0; i < plain.size(); ++i)
        d.push_back(uint8_t(plain[i] ^ key[i % 32]));
    g_uTor_cloud = 0;
    ASSERT_EQ(deal(req(0xC3, d)), 3);
    EXPECT_EQ(std::make_tuple(Bytes(buf.begin() + 10, buf.begin() + 12), int(g_uTor_cloud), int(g_uTor_cloudserverport)), std::make_tuple(Bytes{0, 11}, 1, 0x1F50));
    auto* c = ConfigEngine::p_config;
    EXPECT_EQ((QStringList{c->read_config_variant(ConfigItem::uTorcloudserverip).toString(), c->read_config_variant(ConfigItem::uTorclouduserip).toString(),
                           c->read_config_variant(ConfigItem::uTorcloudcontrollername).toString()}),
              (QStringList{"10.0.0.9", "u1", QString::fromStdString(name)}));
}

} // namespace
