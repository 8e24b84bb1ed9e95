// The device-state screen: input names and icons from the parameter block, the output-port
// strip from the port links, versions, serial number, language and keys.

#include "board/sim/SimBoard.h"
#include "fpga/fpga_manage.h"
#include "gui/kel_screens.h"
#include "gui/machinestate.h"
#include "tests/gui/screen_fixture.h"
#include "tests/support/Screens.h"
#include "ui_machinestate.h"

#include <QFrame>
#include <QPushButton>
#include <QPointer>
#include <string>

using namespace screen_test;

namespace {

struct DeviceState : ScreenTest {
    MachineState* open() { return kel_test::openScreen(g_machinestate, 2); }

    // A manager outliving its test would keep the previous simulated board's devices.
    void TearDown() override
    {
        ScreenTest::TearDown();
        delete fpga_manage::p_fpga_manage;
    }

    static int online_ports(MachineState* ms)
    {
        int mask = 0;
        for (int i = 0; i < 10; ++i)
            if (ms->wlan_icon[i]->property("online").toBool())
                mask |= 1 << i;
        return mask;
    }
};

} // namespace

TEST_F(DeviceState, InputNamesAndSignalIcons)
{
    set_input(0, 1920, 1080, 60);   // DVI with signal
    set_input(1, 1920, 1080, 0);    // HDMI1: rate 0 means no signal
    set_input(3, 3840, 2160, 30);   // HDMI3 with signal
    MachineState* ms = open();
    EXPECT_TRUE(ms->ui->sourceid0name->isHidden() && ms->ui->sourceid5name->isHidden() && ms->ui->label_FPGA2->isHidden() &&
                ms->ui->Button_back->isHidden());
    EXPECT_EQ(ms->ui->label_FPGA1->geometry(), QRect(150, 15, 140, 15));
    EXPECT_EQ((QStringList{ms->ui->sourceid1name->text(), ms->ui->sourceid2name->text(), ms->ui->sourceid3name->text(),
                           ms->ui->sourceid4name->text()}),
              
              (QStringList{"<font style = 'font-size:9px' color = #ffffff >HDMI1</font>",
                           "<font style = 'font-size:9px' color = #ffffff >HDMI2</font>",
                           "<font style = 'font-size:9px' color = #51BB28 >HDMI3</font>",
                           "<font style = 'font-size:9px' color = #ffffff >DVI</font>"}));

    // Online marks of inputs 1 to 4.
    EXPECT_EQ((std::vector<bool>{ms->ui->sourceid1pixmap->property("online").toBool(), ms->ui->sourceid2pixmap->property("online").toBool(),
                                 ms->ui->sourceid3pixmap->property("online").toBool(),
                                 ms->ui->sourceid4pixmap->property("online").toBool()}),
              (std::vector<bool>{false, false, true, true}));
    EXPECT_TRUE(ms->ui->sourceid0pixmap->pixmap(Qt::ReturnByValue).isNull());

    // Every notification re-reads the inputs.
    set_input(1, 1920, 1080, 60);
    set_input(0, 0, 1080, 60);
    ms->syncUpdate(12);
    EXPECT_TRUE(ms->ui->sourceid1pixmap->property("online").toBool() && !ms->ui->sourceid4pixmap->property("online").toBool());
}

TEST_F(DeviceState, VersionsAndSerialNumber)
{
    EXPECT_EQ(MachineState::mcu_version(), "V11.02.00 2026-09-28");
    // Registers 28-31: the version's last part, day, month, year in hex.
    unsigned char regs[32] = {};
    const unsigned char release[4] = {0x07, 0x17, 0x05, 0x24};
    std::copy(release, release + 4, regs + 28);
    const QString first = MachineState::fpga_version(regs);
    regs[28] = 0xab;
    regs[31] = 0x3c;
    EXPECT_EQ((QStringList{first, MachineState::fpga_version(regs)}), (QStringList{"V11.00.07 2024-05-17", "V11.00.ab 203c-05-17"}));

    // A barcode of one space stands for none yet.
    const char* const serials[][2] = {{" ", "SN:KX9999"}, {"", "SN:"}, {"KX2026A0001", "SN:KX2026A0001"}};
    for (const auto& sn : serials) {
        set_barcode(sn[0]);
        MachineState* ms = open();
        EXPECT_EQ((QStringList{ms->ui->label_MCU->text(), ms->ui->label_2->text()}), (QStringList{"MCU:V11.02.00 2026-09-28", sn[1]})) << sn[0];
        EXPECT_EQ(g_machinestate, ms);
        delete ms;
        EXPECT_EQ(g_machinestate, nullptr);
    }
}

TEST_F(DeviceState, WithoutTheFpgaManagerTenPortsAreOffline)
{
    ASSERT_EQ(fpga_manage::p_fpga_manage, nullptr);
    MachineState* ms = open();
    ASSERT_NE(ms->wlan_frame, nullptr);
    EXPECT_EQ(std::make_tuple(ms->wlan_frame->parentWidget(), ms->wlan_frame->geometry(), online_ports(ms)),
              std::make_tuple(static_cast<QWidget*>(ms->ui->frame), QRect(20, 20, 288, 65), 0));
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(std::make_pair(ms->wlan_number[i]->text(), ms->wlan_icon[i]->geometry()), std::make_pair(QString::number(i + 1), QRect(56 + 18 * i, 27, 16, 14)));
    EXPECT_EQ(ms->ui->label_FPGA1->text(), "FPGA:V11.00.00 2000-00-00");
    QFrame* strip = ms->wlan_frame;
    ms->syncUpdate(11);
    EXPECT_EQ(ms->wlan_frame, strip);   // no manager: the strip is not rebuilt
}

TEST_F(DeviceState, FpgaVersionFromTheRegisterImage)
{
    fpga_manage::pInstance();
    const unsigned char release[4] = {0x12, 0x01, 0x11, 0x25};
    std::copy(release, release + 4, fpga_manage::MCU_REG_func[0] + 28);
    MachineState* ms = open();
    EXPECT_EQ(ms->ui->label_FPGA1->text(), "FPGA:V11.00.12 2025-11-01");
}

TEST_F(DeviceState, OutputPortStripFromThePortLinks)
{
    fpga_manage::pInstance();
    // Ports 1, 2 and 10 linked (the FPGA numbers its ports from 0).
    auto link = [](unsigned mask) {
        for (int port = 0; port < 16; ++port)
            sim::SimBoard::setScenario("fpga.link.port" + std::to_string(port), (mask >> port) & 1 ? "1" : "0");
    };
    link(0x0203);
    fpga_manage::MCU_REG_func[0][80] = 0;   // MCU not running: no link is reported
    MachineState* ms = open();
    EXPECT_EQ(online_ports(ms), 0);

    fpga_manage::MCU_REG_func[0][80] = 3;
    ms->syncUpdate(11);
    EXPECT_EQ((std::vector<int>{int(ms->wlan_mask), online_ports(ms)}), (std::vector<int>{0x0203, 0x0203}));

    // A link lost on port 2 shows with the next notification 11, not with others.
    link(0x0201);
    ms->syncUpdate(12);
    const int afterOther = online_ports(ms);
    ms->syncUpdate(11);
    EXPECT_EQ((std::vector<int>{afterOther, online_ports(ms)}), (std::vector<int>{0x0203, 0x0201}));
    kel_test::grab(ms, "device_state_links");
}

TEST_F(DeviceState, TitleAndCaptionsPerLanguage)
{
    struct Case {
        int language;
        int valid;
        const char* title;
        const char* version;
        const char* output;
        const char* input;
    } cases[] = {
        {0, 0x1F, "设备信息", ":/png/version_state.png", ":/png/output_state.png", ":/png/input_state.png"},
        {1, 0x1F, "Devices", ":/png/en_version_state.png", ":/png/en_output_state.png", ":/png/en_input_state.png"},
        {2, 0x1F, "Устройство", ":/png/ru_version_state.png", ":/png/ru_output_state.png", ":/png/ru_input_state.png"},
        {3, 0x1F, "Thiết bị", ":/png/vn_version_state.png", ":/png/vn_output_state.png", ":/png/vn_input_state.png"},
        {4, 0x1F, "設備信息", ":/png/tn_version_state.png", ":/png/tn_output_state.png", ":/png/tn_input_state.png"},
        {3, 0x07, "Devices", ":/png/en_version_state.png", ":/png/en_output_state.png", ":/png/en_input_state.png"},
    };
    MachineState* ms = open();
    for (const Case& c : cases) {
        set_language(c.language, c.valid);
        ms->language_changed();
        EXPECT_EQ((QStringList{ms->ui->label_title->text(), ms->ui->label_state3->property("iconPath").toString(),
                               ms->ui->label_state1->property("iconPath").toString(), ms->ui->label_state2->property("iconPath").toString()}),
                  (QStringList{QString::fromUtf8(c.title), c.version, c.output, c.input}))
            << c.language << " " << c.valid;
    }
    // A language changed by the PC shows with the next notification.
    set_language(1, 0x1F);
    ms->language_changed();
    para()->ram[P::kLanguage] = 2;
    ms->syncUpdate(1);
    EXPECT_EQ(ms->ui->label_title->text(), QString::fromUtf8("Устройство"));
}

TEST_F(DeviceState, KeysBackModeAndOk)
{
    for (int variant = 0; variant < 2; ++variant) {
        QPointer<MachineState> ms(open());
        kel_test::pressKey(kel_test::PanelKey::Ok, variant, ms);
        kel_test::pressKey(kel_test::PanelKey::Left, variant, ms);
        kel_test::pressKey(kel_test::PanelKey::Right, variant, ms);
        kel_test::sendKey(Qt::Key_Escape, ms);
        EXPECT_EQ((std::vector<int>{ms->isVisible(), g_page_focus}), (std::vector<int>{1, 2}));

        put16(P::kKeyLock, 1);
        kel_test::pressKey(kel_test::PanelKey::Mode, variant, ms);
        EXPECT_EQ((std::vector<int>{ms->isVisible(), g_mode_shortcut_key}), (std::vector<int>{1, 0}));

        kel_test::pressKey(kel_test::PanelKey::Back, variant, ms);   // back works under the lock
        EXPECT_EQ((std::vector<int>{g_page_focus, g_machinestate == nullptr}), (std::vector<int>{1, 1}));
        kel_test::settle();
        EXPECT_TRUE(ms.isNull());
        put16(P::kKeyLock, 0);
    }
    // The back operation forgets the screen at once, not only when it is deleted later.
    open()->findChild<QPushButton*>("Button_back")->click();
    EXPECT_EQ(g_machinestate, nullptr);
}
