// Start-up of the controller application. The order below is the system's: settings and
// network first, then the parameter block, the GUI objects, the device managers, the home
// screen, the change notifications, USB hot-plug and last the communication links.

#include "board/Board.h"
#include "board/Clock.h"
#include "core/config_engine.h"
#include "core/global.h"
#include "core/kelrampara.h"

#include <QApplication>
#include <QTimer>
#include <cstdio>

int main(int argc, char* argv[])
{
    if (!board::start())
        return 1;
    KEL_TRACE("\n kelM57N starting on the %s board\n", board::backendName());

    // 1. The USB keypad check (check_hiddev) comes with the GUI framework.
    // 2. Keyed settings, device id, shared globals, network bring-up, loader check.
    ConfigEngine::pInstance();
    // 3. The parameter block with its file and the user modes.
    KelRamPara::pInstance();
    // 4. SyncUpdate::pInstance() comes with the GUI framework.

    // 5. The application object; Qt's own arguments pass through unchanged.
    QApplication app(argc, argv);

    // 6. MainWindow comes with the GUI framework.
    // 7. The 10 ms tick timer is connected to MainWindow::slot_update_timer_ticks.
    g_timer = new QTimer();
    g_timer->start(10);

    // 8. velinsource::pInstance() comes with the input side.
    // 9. fpga_manage::pInstance() comes with the FPGA manager.
    // 10. c331_manage::pInstance() comes with the scaler core.
    // 11. fpga_manage::initialize_start() and velinsource::initialize() come with their managers.

    // 12. The worker threads get four seconds before the home screen appears.
    board::Clock::sleepMs(4000);
    g_page_focus = 0;
    // The home screen (LockWindow) and the number keyboard's place come with the GUI screens.

    // 13. KelRamPara::sig_update_para -> SyncUpdate::para_sync comes with the GUI framework.
    // 14. The keypad's first LED report comes with the GUI framework.
    // 15. UsbServer::pInstance() comes with USB hot-plug watching.
    // 16. The links: Kx_uart_inout, networkManage, Kx_uart_inout_4G, networkclient_Manage,
    //     M57_WIFI_CONFIG and udpnetManage come with the protocol and cloud links.

    KEL_TRACE("\n kelM57N start-up done\n");
    // 17. The event loop, for the life of the process.
    return app.exec();
}
