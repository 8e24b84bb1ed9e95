#include "protocol/networkmanage.h"

#include "board/Network.h"
#include "core/global.h"
#include "core/utils.h"
#include "fpga/fpga_manage.h"
#include "protocol/message_deal.h"
#include "protocol/protocol_phy.h"

#include <algorithm>
#include <map>
#include <cstdio>
#include <cstring>
#include <set>
#include <sys/socket.h>

namespace {
constexpr unsigned kFixedPort = 10002;
// How long an idle thread blocks in poll: traffic ends the wait at once, so this only sets
// how often a quiet link wakes for nothing.
constexpr int kIdleWaitMs = 1000;
// Frames of one client waiting to be handled beyond which it is not read.
constexpr size_t kFramesWaitingMax = 16;

// The passthrough and the FPGA interrupt service share the FPGA manager's port-path lock.
// Before the manager exists there is nothing to share it with.
std::unique_lock<std::mutex> lock_port_path()
{
    fpga_manage* m = fpga_manage::p_fpga_manage;
    return m ? std::unique_lock<std::mutex>(m->port_path_mutex) : std::unique_lock<std::mutex>();
}

networkManage* g_instance = nullptr;
std::mutex g_instance_mutex;
} // namespace

networkManage* networkManage::pInstance()
{
    std::lock_guard<std::mutex> hold(g_instance_mutex);
    if (!g_instance) {
        g_instance = new networkManage();
        g_instance->initialize();
    }
    return g_instance;
}

networkManage::networkManage()
{
    KEL_TRACE("====networkManage::networkManage()=====\n");
    writeLogMsg(LOG_INFO, "====networkManage::networkManage()=====");
    for (Link& l : m_port) {
        l.phy = new protocol_phy();
        l.deal = new message_deal(message_deal::REPLY_LIMIT_TCP);
    }
    if (g_networkMode)
        m_port[0].server = new TcpServer();
    m_port[1].server = new TcpServer();
    for (Link& l : m_port) {
        if (!l.server)
            continue;
        l.server->set_keep([deal = l.deal](uint64_t peer) { return deal->holds_transfer(peer); });
        // Asked on the link's own thread, inside its server's pass: a client whose frames
        // wait their turn (or, held, in its socket) or who waits for a card is not idle.
        l.server->set_busy([&l](int socket) { return l.queues.count(socket) != 0 || l.waits.waits(uint64_t(socket)); });
    }
    fpga_manage::set_passby_link(fpga_manage::kPassbyTcp, this,
                                 [this](u32 t, const unsigned char* f, unsigned int n) { return passby_answer(t, f, n); });
}

networkManage::~networkManage()
{
    fpga_manage::set_passby_link(fpga_manage::kPassbyTcp, this, nullptr);
    m_stop = true;
    // An idle thread blocks in poll for up to a second: shutting its listening socket
    // down ends the poll (it reports a hang-up, nothing is accepted), and one without a
    // socket waits on m_idle.
    m_idle.stop();
    for (Link& l : m_port)
        if (l.server && l.server->listenSocket() >= 0)
            ::shutdown(l.server->listenSocket(), SHUT_RD);
    for (std::thread& t : m_threads)
        if (t.joinable())
            t.join();
    for (Link& l : m_port) {
        delete l.server;
        delete l.deal;
        delete l.phy;
    }
}

void networkManage::open_servers()
{
    // The ports named are those asked of the system, as the bind error names them.
    const unsigned configured = unsigned(g_port.load());
    if (m_port[0].server && m_port[0].server->initialize(configured) != 0)
        KEL_TRACE("\n tcp server on port %u is not open\n", unsigned(board::Network::listenPort(uint16_t(configured))));
    if (m_port[1].server->initialize(kFixedPort) != 0)
        KEL_TRACE("\n tcp server on port %u is not open\n", unsigned(board::Network::listenPort(uint16_t(kFixedPort))));
}

int networkManage::initialize()
{
    open_servers();
    return start_threads();
}

int networkManage::start_threads()
{
    try {
        m_threads[0] = std::thread(&networkManage::acceptThread, this);
    } catch (...) {
        writeLogMsg(LOG_ERROR, "create accept thread failed");
        return 255;
    }
    try {
        m_threads[1] = std::thread(&networkManage::acceptThread_10002, this);
    } catch (...) {
        writeLogMsg(LOG_ERROR, "create accept thread failed");
        return 255;
    }
    return 0;
}

void* networkManage::acceptThread(void* arg)
{
    networkManage* self = static_cast<networkManage*>(arg);
    if (!self) {
        writeLogMsg(LOG_MISSING, "networkManage::acceptThread() pNetwork is null");
        return nullptr;
    }
    self->loop(0);
    return nullptr;
}

void* networkManage::acceptThread_10002(void* arg)
{
    networkManage* self = static_cast<networkManage*>(arg);
    if (!self) {
        writeLogMsg(LOG_MISSING, "networkManage::acceptThread_10002() pNetwork is null");
        return nullptr;
    }
    self->loop(1);
    return nullptr;
}

void networkManage::loop(int index)
{
    while (!m_stop) {
        // Blocks in poll while idle (traffic or the destructor ends the wait); a passthrough
        // waiting for its card is polled each tick.
        int wait = m_port[index].reply_state == 1 || m_port[index].later->owing() ? protocol_phy::PASSBY_POLL_MS : kIdleWaitMs;
        if (index == 0)
            accept_pass(wait);
        else
            accept_pass_10002(wait);
    }
}

void networkManage::accept_pass(int wait_ms)
{
    pass(m_port[0], true, wait_ms);
}

void networkManage::accept_pass_10002(int wait_ms)
{
    pass(m_port[1], false, wait_ms);
}

void networkManage::pass(Link& link, bool configuredPort, int wait_ms)
{
    if (!link.server || link.server->listenSocket() < 0) {
        // No port to serve (not configured, or it could not be opened): the thread idles
        // until the object goes.
        m_idle.wait(uint64_t(wait_ms));
        return;
    }
    // Frames ready to be handled are not kept waiting for traffic. Only a client's first
    // frame can be: the others wait behind it.
    bool ready = false;
    for (const auto& q : link.queues)
        ready = ready || !held(link, q.second.front());
    link.server->recvData(ready ? 0 : wait_ms);

    // A closed socket's number can come back with the next client: nothing may be sent
    // to it any more. A transfer its peer held is let go at once, not after the idle time.
    for (const TcpServer::Closed& gone : link.server->takeClosed()) {
        const int closed = gone.socket;
        link.deal->release_peer(gone.peer);
        link.queues.erase(closed);
        link.waits.abandon(uint64_t(closed));   // nobody is left to take the card's answer
        link.later->abandon(uint64_t(closed));   // nor a store's
    }

    // Each client's frames wait in its own queue, so a pass looks at clients, not at every
    // frame waiting: a burst of thousands of small frames costs each pass nothing more.
    for (TcpServer::Record& r : link.server->records())
        link.queues[r.socket].push_back(std::move(r));
    link.server->records().clear();
    for (LaterReplies::Reply& r : link.later->take()) {
        const unsigned int m = link.phy->build_reply(r.frame.data(), r.len, link.tx.data());
        link.server->sendData(link.tx.data(), m, int(r.key));
    }
    if (configuredPort && !link.waits.empty())
        for (CardWaits::Answer& a : link.waits.sweep())
            link.server->sendData(a.bytes.data(), unsigned(a.bytes.size()), int(a.key));

    // One frame of each address a pass, from its clients in turns (the next after the one
    // of it served last), none of a client whose replies wait in its queue: many
    // connections of one address, sending many frames at once or taking no replies, hold a
    // PC of another address back by one frame at most. A client waiting for a card keeps its
    // next card frame waiting behind that wait; any other frame of it abandons the wait. No
    // other client waits for it.
    std::map<uint32_t, int> turn;   // address -> its client served this pass
    auto after = [](int c, int last) { return std::make_pair(c <= last, c); };   // cyclic order
    for (const auto& q : link.queues) {
        if (held(link, q.second.front()))
            continue;
        const uint32_t a = link.server->host(q.first);
        const auto last = link.lastClient.find(a);
        const int l = last == link.lastClient.end() ? -1 : last->second;
        auto t = turn.find(a);
        if (t == turn.end() || after(q.first, l) < after(t->second, l))
            turn[a] = q.first;
    }
    size_t handled = 0;
    for (const auto& t : turn) {
        auto q = link.queues.find(t.second);
        link.waits.abandon(uint64_t(t.second));
        TcpServer::Record rec = std::move(q->second.front());
        q->second.pop_front();
        if (q->second.empty())
            link.queues.erase(q);
        link.lastClient[t.first] = t.second;
        handle_frame(link, configuredPort, rec);
        ++handled;
    }
    if (ready && handled == 0)
        ++m_spins;
    // A client with frames enough waiting is not read until they are handled; only
    // addresses with frames waiting keep their place in the turn.
    std::set<uint32_t> addresses;
    for (int c : link.server->clients()) {
        auto q = link.queues.find(c);
        link.server->hold_reading(c, q != link.queues.end() && q->second.size() >= kFramesWaitingMax);
        if (q != link.queues.end())
            addresses.insert(link.server->host(c));
    }
    for (auto l = link.lastClient.begin(); l != link.lastClient.end();)
        l = addresses.count(l->first) ? std::next(l) : link.lastClient.erase(l);
    link.reply_state = link.waits.empty() ? 0 : 1;
    ++link.passes;
}

bool networkManage::held(Link& link, const TcpServer::Record& r)
{
    return link.server->queued(r.socket) > 0
           || (link.waits.waits(uint64_t(r.socket)) && protocol_phy::is_passby_wire(r.data.data(), unsigned(r.data.size())));
}

void networkManage::handle_frame(Link& link, bool configuredPort, const TcpServer::Record& rec)
{
    unsigned char* frame = link.frame.data();
    unsigned int rawLen = unsigned(rec.data.size());
    if (rawLen > TcpServer::MAX_RECORD)
        return;
    unsigned char done = 0;
    // Unescaping never grows a frame, and a record is at most MAX_RECORD bytes.
    unsigned int n = link.phy->data_transf_meaning(const_cast<unsigned char*>(rec.data.data()), frame, rawLen, &done);
    // Handlers that look past a short frame, and reply bytes a handler does not fill, are
    // zeros, never an earlier request's bytes (possibly another PC's); what the handler
    // fills itself is left to it.
    link.frame.scrubPast(n, 10, n > 10 ? message_deal::reply_filled(frame, n - 1) : 0);
    if (configuredPort) {
        pc_cmd_valid = 1;
        pc_cmd_time = G_timeTicks.load();
    }
    if (!protocol_phy::frame_ok(frame, n, done))
        return;   // dropped without a reply

    if (configuredPort && protocol_phy::is_passby_frame(frame)) {
        {
            std::unique_lock<std::mutex> path = lock_port_path();
            // Waiting before the lock is let go: the card's answer, handed over under it,
            // is queued for this client, not refused.
            const unsigned ticket = fpga_manage::pass_through(fpga_manage::kPassbyTcp, link.server->host(rec.socket), n, frame, rec.tick);
            if (ticket != 0)
                link.waits.add(uint64_t(rec.socket), ticket);
        }
        if (frame[9] == 2) {
            // Queued for the client without the port-path lock held. The card's answer
            // cannot overtake it, as only this thread queues it, after this.
            unsigned int m = link.phy->build_passby_ack(frame, link.tx.data());
            link.frame.reached(12);   // the acknowledgement is built over the frame
            link.server->sendData(link.tx.data(), m, rec.socket);
        }
        return;
    }

    // One handler serves every client of the port: a file transfer belongs to the
    // connection that started it.
    link.deal->peer = rec.peer;
    link.deal->later = LaterReplies::sender(link.later, uint64_t(rec.socket));
    int r = link.deal->message_group_deal(frame, n - 1, 5);
    if (r == message_deal::kLater) {
        link.frame.reached(64);   // the handler's reply bytes, copied for later
        link.later->owe();
        return;
    }
    if (r < 0 || unsigned(r) + 11 > message_deal::FRAME_BUF_SIZE)
        r = 0;
    link.frame.reached(11 + unsigned(r));
    // TCP answers every accepted frame; with no reply data that is header and check byte.
    unsigned int m = link.phy->build_reply(frame, unsigned(r), link.tx.data());
    link.server->sendData(link.tx.data(), m, rec.socket);
}

bool networkManage::passby_answer(unsigned int ticket, const unsigned char* frame, unsigned int len)
{
    static_assert(CardWaits::ANSWER_MAX >= TcpServer::MAX_RECORD, "a card's answer fits a record");
    return len <= TcpServer::MAX_RECORD && m_port[0].waits.answer(ticket, frame, len);
}
