#include "gui/usbserver.h"

#include "board/Clock.h"
#include "board/Files.h"
#include "board/UeventSource.h"
#include "core/global.h"
#include "core/utils.h"
#include "gui/option.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <algorithm>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

UsbServer* UsbServer::p_UsbServer = nullptr;

namespace {
constexpr size_t kReceiveBuffer = 4096;
}

UsbServer* UsbServer::pInstance()
{
    if (p_UsbServer == nullptr) {
        p_UsbServer = new UsbServer();
        p_UsbServer->initialize();
    }
    return p_UsbServer;
}

UsbServer::~UsbServer()
{
    m_clients.clear();
    if (socket_fd >= 0)
        board::UeventSource::close(socket_fd);
    if (p_UsbServer == this)
        p_UsbServer = nullptr;
}

int UsbServer::open_socket()
{
    socket_fd = board::UeventSource::open();
    KEL_TRACE("\n usb server getpid = %d \n", int(::getpid()));
    if (socket_fd < 0) {
        KEL_TRACE(" UsbServer  bind error:%s\n", std::strerror(errno));
        writeLogMsg(LOG_ERROR, std::string("UsbServer bind error:") + std::strerror(errno));
        return 255;
    }
    return 0;
}

int UsbServer::initialize()
{
    KEL_TRACE("=========UsbServer::initialize()=========== ");
    if (open_socket() != 0)
        return 255;
    if (pthread_create(&m_thread, nullptr, &UsbServer::acceptThread, this) != 0) {
        KEL_TRACE("UsbServer create accept thread failed");
        writeLogMsg(LOG_ERROR, "UsbServer create accept thread failed");
        return 255;
    }
    return 0;
}

void* UsbServer::acceptThread(void*)
{
    for (;;) {
        UsbServer* server = p_UsbServer;
        // Nothing is read before the GUI has run for 10 s: events wait in the socket.
        if (server != nullptr && g_delay_usbserver != 0)
            server->usb_pass();
        else
            board::Clock::sleepMs(100);
    }
    return nullptr;
}

int UsbServer::usb_signal(int code)
{
    const auto addOrRemove = [](int c) { return c == 100 || c == 101; };
    bool post = false;
    {
        std::lock_guard<std::mutex> hold(m_pending_mutex);
        post = m_pending.empty();
        // Only the stick's latest state matters to the screens: a later add or remove
        // replaces an earlier one still pending, and no code is pending twice.
        m_pending.erase(std::remove_if(m_pending.begin(), m_pending.end(),
                                       [&](int c) { return c == code || (addOrRemove(c) && addOrRemove(code)); }),
                        m_pending.end());
        m_pending.push_back(code);
    }
    if (post)
        QMetaObject::invokeMethod(this, [this] { deliver_pending(); }, Qt::QueuedConnection);
    return 1;
}

void UsbServer::deliver_pending()
{
    std::vector<int> codes;
    {
        std::lock_guard<std::mutex> hold(m_pending_mutex);
        codes.swap(m_pending);
    }
    for (int code : codes)
        emit sig_usb_update(code);
}

void UsbServer::usb_pass()
{
    if (m_ready_state != 0) {
        storage_ready_step();
        // No event is read meanwhile. The storage probe is paced at 100 ms, the 3 s wait
        // that follows it at 10 ms.
        board::Clock::sleepMs(m_ready_state == 1 ? 100 : 10);
        return;
    }
    if (recvData() == 255)
        board::Clock::sleepMs(100);
}

void UsbServer::parse_header(const std::string& header, int& code, bool& storage)
{
    code = 0;
    storage = false;
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        size_t slash = header.find('/', start);
        parts.push_back(header.substr(start, slash == std::string::npos ? std::string::npos : slash - start));
        if (slash == std::string::npos)
            break;
        start = slash + 1;
    }
    const bool adding = !parts.empty() && parts[0] == "add@";
    for (size_t i = 0; i < parts.size(); ++i) {
        if (parts[i] == "add@") {
            code = 100;
        } else if (parts[i] == "remove@") {
            code = 101;
        } else if (adding && parts[i] == "block" && i + 2 < parts.size() && parts[i + 1] == "sda") {
            const std::string& part = parts[i + 2];
            if (part.size() >= 4 && part.compare(0, 3, "sda") == 0) {
                // Only a decimal partition number of 0 to 9 names the stick's storage; "sda-1",
                // "sda12x" or "sda999999" do not.
                const std::string rest = part.substr(3);
                bool digits = rest.size() <= 2;
                for (char c : rest)
                    digits = digits && c >= '0' && c <= '9';
                if (digits && std::stoi(rest) <= 9)
                    storage = true;
            }
        }
    }
}

int UsbServer::recvData()
{
    pollfd p{socket_fd, POLLIN, 0};
    const int ready = ::poll(&p, 1, poll_timeout_ms);
    if (ready < 0) {
        if (errno == EINTR)
            return 0;
        KEL_TRACE("UsbServer select error:%s\n", std::strerror(errno));
        return 255;
    }
    if (ready == 0 || (p.revents & POLLIN) == 0)
        return 0;
    char buffer[kReceiveBuffer];
    const ssize_t got = ::recv(socket_fd, buffer, sizeof buffer, 0);
    if (got < 1)
        return 0;
    // The header is the text up to the first NUL, and never past what was received.
    const size_t length = ::strnlen(buffer, size_t(got));
    int code = 0;
    bool storage = false;
    parse_header(std::string(buffer, length), code, storage);
    if (code != 0)
        usb_signal(code);
    if (storage) {
        m_ready_state = 1;
        m_probe_stamp = G_timeTicks;
    }
    return 0;
}

void UsbServer::storage_ready_step()
{
    if (m_ready_state == 1) {
        // The USB storage driver announces itself here; the probe is paced and bounded so a
        // stick the driver never takes cannot hold the watcher for ever.
        if (board::Files::exists("/proc/scsi/usb-storage")) {
            KEL_TRACE("\n usb have mound ok ");
            m_ready_stamp = G_timeTicks;
            m_ready_state = 2;
        } else if (Utils::getTimeSpace(m_probe_stamp) > kProbeGiveUpTicks) {
            KEL_TRACE("\n usb storage never appeared, no mount notice");
            m_ready_state = 0;
        }
        return;
    }
    if (Utils::getTimeSpace(m_ready_stamp) <= kReadyDelayTicks)
        return;
    m_ready_state = 0;
    usb_signal(102);
    // The settings menu gives way to the main menu once the stick is ready; that touches
    // widgets, so it runs on the GUI thread, after the notification queued just before.
    QMetaObject::invokeMethod(qApp, [] {
        if (g_page_focus == 5 && g_option != nullptr)
            g_option->slot_Button_back_clicked();
    }, Qt::QueuedConnection);
}
