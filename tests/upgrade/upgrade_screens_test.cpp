// The USB upgrade screen's codes and its request to the FPGA manager thread, and the
// firmware-update dialog that the PC file transfer opens and closes.

#include "core/global.h"
#include "core/kelrampara.h"
#include "fpga/fpga_manage.h"
#include "gui/QRoundProgressBar.h"
#include "gui/linkoption.h"
#include "gui/mainwindow.h"
#include "protocol/message_deal.h"
#include "tests/support/GuiFixture.h"
#include "tests/support/Screens.h"
#include "upgrade/firmware_usbgrade.h"
#include "upgrade/firmwareupdate.h"

using kel_test::PanelKey;

namespace {

class UpgradeScreens : public kel_test::GuiFixture {
protected:
    void SetUp() override
    {
        GuiFixture::SetUp();
        mainWindow();
        g_usb_grade = 0, g_update_flag = 0;
    }
    void TearDown() override
    {
        if (g_qround_bar)
            g_qround_bar->para_sync(100);
        g_usb_grade = 0, g_update_flag = 0;
        firmware_update_over();
        GuiFixture::TearDown();
    }
};

} // namespace

TEST_F(UpgradeScreens, UsbScreenShowsTheStickAndEndsAnUpgradeRequestInOneTurn)
{
    kel_test::openScreen(g_firmware_usbgrade, 26);
    firmware_usbgrade* s = g_firmware_usbgrade;
    EXPECT_EQ(s->label_state->text(), "Insert a USB stick");
    const std::pair<int, const char*> codes[] = {{100, "USB device connected"}, {101, "USB device removed"}, {102, "USB stick ready"}};
    for (const auto& [code, text] : codes) {
        s->syncUpdate(code);
        EXPECT_EQ(s->label_state->text(), text) << code;
    }
    g_language = 0;
    s->syncUpdate(102);
    EXPECT_EQ(s->label_state->text(), QString::fromUtf8("U盘已就绪"));
    kel_test::grab(s, "firmware_usbgrade-zh");
    g_language = 1;

    // A progress ring blocks the request; without it OK raises it and leaves a pending one alone.
    QRoundProgressBar::create_qround_bar(s);
    kel_test::pressKey(PanelKey::Ok);
    EXPECT_EQ(g_usb_grade, 0u);
    g_qround_bar->para_sync(100);
    for (unsigned pending : {0u, 1u, 2u}) {
        g_usb_grade = pending;
        kel_test::pressKey(PanelKey::Ok, 1);
        EXPECT_EQ(g_usb_grade, pending == 0 ? 1u : pending);
    }

    // The FPGA manager thread's turn ends the request and reports the step code 104.
    fpga_manage manager;
    manager.usb_upgrade_manage_deal(nullptr);
    EXPECT_EQ(g_usb_grade, 0u);
    kel_test::settle();
    EXPECT_EQ(s->label_state->text(), "Nothing was updated");
    kel_test::grab(s, "firmware_usbgrade-en");

    // Back returns to the communication menu.
    g_linkoption = new LinkOption(nullptr);
    kel_test::pressKey(PanelKey::Back, 0, s);
    EXPECT_EQ((std::vector<int>{g_firmware_usbgrade == nullptr, g_page_focus}), (std::vector<int>{1, 10}));
    g_linkoption->close();
    delete g_linkoption;
}

TEST_F(UpgradeScreens, UpdateDialogOpensAnimatesWithTheTickAndCloses)
{
    g_mainwindow->update_start();
    kel_test::settle();
    ASSERT_NE(g_move_update, nullptr);
    EXPECT_TRUE(g_move_update->isVisible());
    const QString first = g_move_update->label_dots->text();
    EXPECT_EQ(first, QString::fromUtf8("●○○○○○"));
    // The tick animates it only while an update runs: a step each quarter second.
    kel_test::tick(FirmwareUpdate::kTicksPerStep);
    EXPECT_EQ(g_move_update->label_dots->text(), first);
    g_update_flag = 1;
    kel_test::tick(FirmwareUpdate::kTicksPerStep);
    EXPECT_EQ(g_move_update->label_dots->text(), QString::fromUtf8("○●○○○○"));
    kel_test::grab(g_move_update, "firmwareupdate-en");
    // A second start keeps the one dialog.
    FirmwareUpdate* dialog = g_move_update;
    g_mainwindow->update_start();
    kel_test::settle();
    EXPECT_EQ(g_move_update, dialog);
    g_mainwindow->update_over();
    kel_test::settle();
    EXPECT_EQ(g_move_update, nullptr);

    // A PC that starts an update and goes away or silent does not keep the panel for ever:
    // another PC's connection closing ends nothing, its own does; so does its silence.
    message_deal pc(1024);
    pc.peer = 7;
    pc.REG_comm_flag();
    pc.release_peer(8);
    EXPECT_EQ(int(g_update_flag), 1);
    pc.release_peer(7);
    EXPECT_EQ(int(g_update_flag), 0);
    pc.REG_comm_flag();
    kel_test::tick(message_deal::kUpdateSilentTicks - 1);
    EXPECT_EQ(int(g_update_flag), 1);
    kel_test::tick(2);
    kel_test::settle();
    EXPECT_TRUE(g_update_flag == 0 && g_move_update == nullptr);
}
