#include "tests/support/GuiFixture.h"

#include "core/config_engine.h"
#include "core/global.h"
#include "core/kelrampara.h"
#include "fpga/fpga_manage.h"
#include "gui/mainwindow.h"
#include "gui/syncupdate.h"
#include "protocol/message_deal.h"
#include "scaler/c331_manage.h"
#include "sources/velinsource.h"

#include <QApplication>
#include <memory>

namespace kel_test {

void resetSharedManagers()
{
    // The scaler manager made here is replaced; the others (and a scaler manager a test
    // pointed to) may be a test's object on its stack, so they are let go, not deleted.
    static std::unique_ptr<c331_manage> scaler;
    message_deal::wait_register_dump();   // a PC's dump reads the manager replaced here
    scaler = std::make_unique<c331_manage>();
    c331_manage::p_c331_manage = scaler.get();
    velinsource::p_velin_source = nullptr;
    fpga_manage::p_fpga_manage = nullptr;
    delete ConfigEngine::p_config;
    ConfigEngine::p_config = nullptr;
}

void GuiFixture::SetUp()
{
    watchWindows();
    // Each test builds its own main window (with the keypad and toast).
    delete g_mainwindow;
    g_mainwindow = nullptr;
    // Windows another test left on the screen would take the keys.
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->isVisible() && !w->parentWidget())
            w->hide();
    resetSharedManagers();

    G_timeTicks = 0;
    G_reboot_tickTicks = 0;
    G_factoryage_ticks = 0;
    g_app_reset_flag = 0;
    message_deal::restart_not_done();   // no reboot of an earlier test's holds uploads back
    g_update_flag = 0;
    g_tip_flag = 0;
    g_page_focus = 1;
    g_image_current = 0;
    g_mode_select = 0;
    g_mode_shortcut_key = 0;
    g_delay_usbserver = 0;
    g_kel_keys = 0;
    g_lcd_lang_valid = 0x1F;

    delete KelRamPara::p_kelrampara_config;
    KelRamPara::p_kelrampara_config = nullptr;
    para = KelRamPara::pInstance();
    // English on the LCD whatever the default image says.
    para->ram[768] = 1;
    para->ram_backup[768] = 1;
    g_language = 1;

    delete SyncUpdate::p_SyncUpdate;
    SyncUpdate::p_SyncUpdate = nullptr;
    QObject::connect(para, &KelRamPara::sig_update_para, SyncUpdate::pInstance(), &SyncUpdate::para_sync,
                     Qt::QueuedConnection);
}

void GuiFixture::TearDown()
{
    delete g_mainwindow;
    g_mainwindow = nullptr;
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (!w->parentWidget())
            w->deleteLater();
    }
    settle();
    delete KelRamPara::p_kelrampara_config;
    KelRamPara::p_kelrampara_config = nullptr;
    para = nullptr;
}

MainWindow* GuiFixture::mainWindow()
{
    if (!g_mainwindow) {
        g_mainwindow = new MainWindow(nullptr);
        g_mainwindow->show();
        g_page_focus = 1;
    }
    return g_mainwindow;
}

int GuiFixture::applyFlag()
{
    return c331_manage::p_c331_manage->c331_apply_flag;
}

void GuiFixture::setApplyFlag(int value)
{
    c331_manage::p_c331_manage->c331_apply_flag = uint8_t(value);
}

void GuiFixture::scalerApplied(int code)
{
    setApplyFlag(0);
    para->pc_edit_pending = 0;
    para->test_signal(code);
    settle();
}

} // namespace kel_test
