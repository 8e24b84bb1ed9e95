// Start-up of the controller application. The order below is the system's: settings and
// network first, then the parameter block, the GUI objects, the device managers, the home
// screen, the change notifications, USB hot-plug and last the communication links.

#include "board/Board.h"
#include "board/Clock.h"
#include "board/Console.h"
#include "board/Files.h"
#include "board/Network.h"
#include "cloud/m57_wifi_config.h"
#include "cloud/networkclient_manage.h"
#include "cloud/uart_inout_4G.h"
#include "core/config_engine.h"
#include "core/global.h"
#include "core/kelrampara.h"
#include "fpga/fpga_manage.h"
#include "gui/check_hiddev.h"
#include "gui/lockwindow.h"
#include "gui/mainwindow.h"
#include "gui/numberkeyboard.h"
#include "gui/syncupdate.h"
#include "gui/textfit.h"
#include "gui/usbserver.h"
#include "protocol/message_deal.h"
#include "protocol/networkmanage.h"
#include "protocol/uart_inout.h"
#include "protocol/udpnetmanage.h"
#include "scaler/c331_manage.h"
#include "sources/velinsource.h"

#include <QApplication>
#include <QByteArray>
#include <QCursor>
#include <QTimer>
#include <arpa/inet.h>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace {
// Settings, the parameter file, the user modes and received files all live under /data:
// when it cannot be written the program still runs, but says so once, at the start.
void reportUnwritableData()
{
    board::Files::makeDirs("/data");
    const int error = board::Files::writeError("/data/");
    if (error == 0)
        return;
    const std::string mapped = board::Files::map("/data");
    board::Console::warn("kelM57N: /data%s cannot be written: %s (errno %d); settings and files will not be kept\n",
                         mapped == "/data" ? "" : (" (" + mapped + ")").c_str(), std::strerror(error), error);
}

// Qt's own messages join the program's: its warnings as whole lines among the warnings,
// its debug lines among the traces.
void qtMessage(QtMsgType type, const QMessageLogContext&, const QString& text)
{
    const QByteArray line = text.toLocal8Bit();
    if (type == QtDebugMsg || type == QtInfoMsg)
        board::Console::trace("%s\n", line.constData());
    else   // named as the program's own warnings are: scripts/run picks them out by it
        board::Console::warn("kelM57N: %s\n", line.constData());
    if (type == QtFatalMsg)
        std::abort();
}

// Why a port of the system cannot be bound now: what the link met when it tried.
int bindError(int type, unsigned port)
{
    const int fd = ::socket(AF_INET, type | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return errno;
    int on = 1;
    if (type == SOCK_STREAM)
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = board::Network::bindAddress();
    addr.sin_port = htons(uint16_t(port));
    const int error = ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 ? 0 : errno;
    ::close(fd);
    return error;
}

// The PC ports the links could not open are said in one line: the links run on without
// them, and among the start-up traces their bind errors are easily missed.
void reportClosedPorts()
{
    struct Port {
        const char* kind;
        int type;
        unsigned port;
        bool open;
    };
    networkManage* tcp = networkManage::pInstance();
    udpnetManage* udp = udpnetManage::pInstance();
    const auto tcpOpen = [](TcpServer* s) { return s == nullptr || s->listenSocket() >= 0; };
    const auto udpOpen = [](UdpServer* s) { return s == nullptr || s->socketFd() >= 0; };
    const Port ports[] = {
        {"TCP", SOCK_STREAM, unsigned(g_port.load()), tcpOpen(tcp->server(0))},
        {"TCP", SOCK_STREAM, 10002, tcpOpen(tcp->server(1))},
        {"UDP", SOCK_DGRAM, udpnetManage::PORT_5008, udpOpen(udp->server(udpnetManage::PORT_5008))},
        {"UDP", SOCK_DGRAM, udpnetManage::PORT_10005, udpOpen(udp->server(udpnetManage::PORT_10005))},
        {"UDP", SOCK_DGRAM, udpnetManage::PORT_13769, udpOpen(udp->server(udpnetManage::PORT_13769))},
    };
    std::string closed;
    for (const Port& p : ports) {
        if (p.open)
            continue;
        const unsigned port = board::Network::listenPort(uint16_t(p.port));
        const int error = bindError(p.type, port);
        closed += std::string(closed.empty() ? "" : ", ") + p.kind + " " + std::to_string(port) + " (" +
                  (error != 0 ? std::strerror(error) : "taken while the links started") + ")";
    }
    if (!closed.empty())
        board::Console::warn("kelM57N: PC ports that cannot be opened: %s; no PC is served on them\n", closed.c_str());
}
} // namespace

int main(int argc, char* argv[])
{
    qInstallMessageHandler(qtMessage);
    if (!board::start())
        return 1;
    KEL_TRACE("\nkelM57N starting on the %s board\n", board::backendName());
    reportUnwritableData();

    // Staging files of stores a kill or power cut interrupted hold space nobody would free.
    message_deal::remove_staging_files();
    // 1. The USB keypad check.
    g_kel_keys = static_cast<u8>(check_hiddev());
    // 2. Keyed settings, device id, shared globals, network bring-up, loader check.
    ConfigEngine::pInstance();
    // 3. The parameter block with its file and the user modes.
    KelRamPara::pInstance();
    // 4. The refresh dispatcher of the change notifications.
    SyncUpdate::pInstance();

    // 5. The application object; Qt's own arguments pass through unchanged. Qt's own event
    // dispatcher, not GLib's: the GUI thread wakes every 10 ms for the tick, and GLib's main
    // loop spends about a third more on each wake-up; nothing here needs GLib sources.
    if (!qEnvironmentVariableIsSet("QT_NO_GLIB"))
        qputenv("QT_NO_GLIB", "1");
    QApplication app(argc, argv);
    // Every picture the screens show is a PNG built into the program, which Qt reads
    // itself. Asked for the first one, Qt would still load every image-format plugin it
    // finds (JPEG, GIF, SVG, ICO and their libraries) to ask each whether it reads PNG.
    // With the platform and input plugins loaded by now, no further plugins are looked for.
    QCoreApplication::setLibraryPaths(QStringList());
    kel_text_rendering_init();
    // The panel has no pointer: a screen that shows one (a VNC view of a host run) would
    // draw it in the middle of the LCD.
    QGuiApplication::setOverrideCursor(QCursor(Qt::BlankCursor));

    // 6. The main window (page 1), with the shared number keyboard and toast.
    g_mainwindow = new MainWindow(nullptr);
    // 7. The 10 ms tick timer is connected to MainWindow::slot_update_timer_ticks.
    g_timer = new QTimer();
    QObject::connect(g_timer, &QTimer::timeout, g_mainwindow, &MainWindow::slot_update_timer_ticks);
    g_timer->start(10);

    // 8. The input-source manager (its thread starts at step 11).
    velinsource::pInstance();
    // 9. The FPGA manager: SPI devices and the SoC GPIO window.
    fpga_manage::pInstance();
    // 10. The scaler manager: identifies the chip and starts the scaler thread.
    c331_manage::pInstance();
    // 11. The FPGA manager thread, then the input-source thread.
    fpga_manage::p_fpga_manage->initialize_start();
    velinsource::p_velin_source->initialize();

    // 12. The worker threads get four seconds before the home screen appears.
    board::Clock::sleepMs(4000);
    // The home screen over the main window; the shared number keyboard over the right half.
    g_lockwindow = new LockWindow(nullptr);
    if (g_mainwindow != nullptr)
        g_mainwindow->show();
    g_page_focus = 0;
    g_lockwindow->show();
    if (g_numberkeyboard != nullptr && g_mainwindow != nullptr)
        g_numberkeyboard->setGeometry(g_mainwindow->x() + 160, g_mainwindow->y(), 160, 240);

    // 13. Change notifications reach the GUI thread. Queued also for the GUI thread's own
    //     notifications: the refresh (which may run a toast's modal loop) must not run
    //     inside test_signal while it holds Utils::_test_signal_mutex.
    QObject::connect(KelRamPara::pInstance(), &KelRamPara::sig_update_para, SyncUpdate::pInstance(),
                     &SyncUpdate::para_sync, Qt::QueuedConnection);
    KelRamPara::pInstance()->merge_notes = true;   // notifications queued while busy are merged
    // 14. The keypad's first LED report.
    if (g_kel_keys)
        SyncUpdate::pInstance()->update_usb_keyLed();
    // 15. USB hot-plug watching; its codes reach the same refresh slot.
    QObject::connect(UsbServer::pInstance(), &UsbServer::sig_usb_update, SyncUpdate::pInstance(),
                     &SyncUpdate::para_sync);
    // 16. The links: RS-485, TCP, the 4G module, the cloud client, the WiFi access point
    //     and UDP last (it hands the WiFi link its AT port).
    Kx_uart_inout::pInstance();
    networkManage::pInstance();
    Kx_uart_inout_4G::pInstance();
    networkclient_Manage::pInstance();
    M57_WIFI_CONFIG::pInstance();
    udpnetManage::pInstance();
    reportClosedPorts();

    KEL_TRACE("\nkelM57N start-up done\n");
    // 17. The event loop, for the life of the process.
    return app.exec();
}
