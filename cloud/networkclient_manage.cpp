#include "cloud/networkclient_manage.h"

#include "core/global.h"
#include "core/utils.h"
#include "protocol/tcpclinet.h"

#include <mutex>

networkclient_Manage* networkclient_Manage::p_networkclient_Manage = nullptr;

namespace {
std::mutex g_instance_mutex;
} // namespace

networkclient_Manage* networkclient_Manage::pInstance()
{
    std::lock_guard<std::mutex> hold(g_instance_mutex);
    if (!p_networkclient_Manage) {
        p_networkclient_Manage = new networkclient_Manage();
        // A link without its thread serves nothing but harms nothing: the rest of the device runs on.
        if (p_networkclient_Manage->start_thread() != 0)
            KEL_TRACE("\n cloud client thread not started\n");
    }
    return p_networkclient_Manage;
}

networkclient_Manage::networkclient_Manage() : m_client(new TcpClinet()) {}

networkclient_Manage::~networkclient_Manage()
{
    m_stop.stop();
    if (m_thread.joinable())
        m_thread.join();
    delete m_client;
    if (p_networkclient_Manage == this)
        p_networkclient_Manage = nullptr;
}

int networkclient_Manage::start_thread()
{
    try {
        m_thread = std::thread(&networkclient_Manage::acceptThread, this);
    } catch (...) {
        KEL_TRACE("create accept thread failed\n");
        writeLogMsg(LOG_ERROR, "create accept thread failed");
        return 255;
    }
    return 0;
}

void* networkclient_Manage::acceptThread(void* arg)
{
    networkclient_Manage* self = static_cast<networkclient_Manage*>(arg);
    while (!self->m_stop.stopped()) {
        self->client_pass(TcpClinet::WAIT_MS);
        // Not reachable (or not configured): look again later; deleting the object ends
        // the wait.
        if (!self->connected && self->m_stop.wait(kRetryMs))
            break;
    }
    return nullptr;
}

void networkclient_Manage::client_pass(int)
{
    bool reconnect = false;
    {
        std::lock_guard<std::mutex> hold(Utils::_reconfig_device_utorcloud_mutex);
        if (g_rconfig_device_utorcloud) {
            g_rconfig_device_utorcloud = 0;
            reconnect = true;
        }
    }
    if (reconnect && m_client->m_clinetSocket >= 0) {
        m_client->Close();
        connected = 0;
    }
    if (m_client->m_clinetSocket < 0) {
        connected = 0;
        QString server;
        {
            std::lock_guard<std::mutex> hold(g_str_globals_mutex);
            server = g_uTor_cloudserverip.trimmed();
        }
        const int port = g_uTor_cloudserverport;
        if (!g_uTor_cloud || !Utils::isDottedQuad(server) || port < 1 || port > 65535)
            return;
        if (m_client->sockerConnect(server.toLatin1().constData(), unsigned(port)) == 1)
            connected = 1;
        return;
    }
    unsigned char closed = 0;
    if (m_client->recvData(&closed) != 0 || closed)
        connected = 0;
    // The cloud protocol is not spoken here: what came is dropped.
    m_client->m_recvList.clear();
}
