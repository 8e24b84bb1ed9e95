#include "protocol/udpnetmanage.h"

#include "board/Clock.h"
#include "core/global.h"
#include "cloud/m57_wifi_config.h"
#include "cloud/message_deal_4g.h"
#include "core/utils.h"
#include "fpga/fpga_manage.h"
#include "protocol/message_deal.h"
#include "protocol/protocol_phy.h"

#include <algorithm>
#include <cstring>
#include <malloc.h>

udpnetManage* udpnetManage::p_udpnetManage = nullptr;

namespace {
std::mutex g_instance_mutex;

// The passthrough and the FPGA interrupt service share the FPGA manager's port-path lock.
// Before the manager exists there is nothing to share it with.
std::unique_lock<std::mutex> lock_port_path()
{
    fpga_manage* m = fpga_manage::p_fpga_manage;
    return m ? std::unique_lock<std::mutex>(m->port_path_mutex) : std::unique_lock<std::mutex>();
}

// Idle wait of the protocol threads: they block in the receive on their socket this long.
// A datagram ends the wait at once (the destructor sends each socket an empty one), so it
// only sets how often an idle thread wakes.
constexpr int kIdleWaitMs = 1000;
// Until the access point runs the WiFi AT thread looks again this often.
constexpr int kApLookMs = 100;
// Frames waiting past this many bytes (a few of the largest) are a flood's.
constexpr size_t kFloodBytes = 1u << 20;

// Ends a receive blocked on this socket: an empty datagram to its own port on loopback,
// which the receive takes and does not queue.
void wake_receiver(const UdpServer* server)
{
    if (!server || server->socketFd() < 0)
        return;
    sockaddr_in self{};
    socklen_t length = sizeof self;
    if (::getsockname(server->socketFd(), reinterpret_cast<sockaddr*>(&self), &length) != 0)
        return;
    self.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::sendto(server->socketFd(), "", 0, 0, reinterpret_cast<sockaddr*>(&self), sizeof self);
}
} // namespace

udpnetManage* udpnetManage::pInstance()
{
    std::lock_guard<std::mutex> hold(g_instance_mutex);
    if (!p_udpnetManage) {
        p_udpnetManage = new udpnetManage();
        // The cloud properties, through the 5008 handler's cloud sub-handler.
        if (message_deal_4g* m = p_udpnetManage->m_link[0].deal->p_message_deal_4g)
            m->get_4G_property();
        p_udpnetManage->initialize();
        // The WiFi link, created before, serves 13769 from now on.
        M57_WIFI_CONFIG::attach(p_udpnetManage);
        KEL_TRACE("\n udpnetManage pInstance  .... %u ,port = %d!!! \n", G_timeTicks.load(),
                  g_uTor_cloudserverport.load());
    }
    return p_udpnetManage;
}

udpnetManage::udpnetManage()
{
    KEL_TRACE("====udpnetManage::udpnetManage()=====\n");
    writeLogMsg(LOG_INFO, "====udpnetManage::udpnetManage()=====");
    for (int i = 0; i < 2; ++i) {
        Link& l = m_link[i];
        l.phy = new protocol_phy();
        l.deal = new message_deal(message_deal::REPLY_LIMIT_UDP);
        l.is5008 = (i == 0);
    }
    if (g_udpnetmode) {
        m_link[0].server = new UdpServer();
        m_server_13769 = new UdpServer();
        m_link[1].server = new UdpServer();
    }
    fpga_manage::set_passby_link(fpga_manage::kPassbyUdp, this,
                                 [this](u32 t, const unsigned char* f, unsigned int n) { return passby_answer(t, f, n); });
}

udpnetManage::~udpnetManage()
{
    fpga_manage::set_passby_link(fpga_manage::kPassbyUdp, this, nullptr);
    m_stop = true;
    m_idle.stop();
    for (const Link& l : m_link)
        wake_receiver(l.server);
    wake_receiver(m_server_13769);
    for (std::thread& t : m_threads)
        if (t.joinable())
            t.join();
    for (Link& l : m_link) {
        delete l.server;
        delete l.phy;
        delete l.deal;
    }
    delete m_server_13769;
    if (p_udpnetManage == this)
        p_udpnetManage = nullptr;
}

void udpnetManage::initialize_servers()
{
    if (m_link[0].server)
        m_link[0].server->initialize(PORT_5008, SOCKET_ROOM);
    if (m_server_13769)
        m_server_13769->initialize(PORT_13769);
    if (m_link[1].server)
        m_link[1].server->initialize(PORT_10005, SOCKET_ROOM);
}

unsigned char udpnetManage::initialize()
{
    initialize_servers();
    return start_threads();
}

unsigned char udpnetManage::start_threads()
{
    void* (*entries[3])(void*) = {udpacceptThread, udpacceptThread_10005, udp_13769_acceptThread};
    for (int i = 0; i < 3; ++i) {
        try {
            m_threads[i] = std::thread(entries[i], this);
        } catch (...) {
            KEL_TRACE("create accept thread failed\n");
            writeLogMsg(LOG_ERROR, "create accept thread failed");
            return 255;
        }
    }
    return 0;
}

void* udpnetManage::udpacceptThread(void* arg)
{
    static_cast<udpnetManage*>(arg)->loop(0);
    return nullptr;
}

void* udpnetManage::udpacceptThread_10005(void* arg)
{
    static_cast<udpnetManage*>(arg)->loop(1);
    return nullptr;
}

void* udpnetManage::udp_13769_acceptThread(void* arg)
{
    static_cast<udpnetManage*>(arg)->loop(2);
    return nullptr;
}

void udpnetManage::loop(int index)
{
    while (!m_stop) {
        if (index == 2) {
            // While the access point runs a pass blocks in its receive until a datagram
            // comes; the thread rests 1 ms when the handler kept the head datagram (the next
            // pass then does not wait). Until the access point runs it only looks again
            // every kApLookMs.
            if (!udp_13769_pass(kIdleWaitMs))
                m_idle.wait(kApLookMs);
            else if (!m_server_13769->recv_list.empty())
                board::Clock::sleepMs(1);
            continue;
        }
        Link& l = m_link[index];
        if (!l.server || l.server->socketFd() < 0) {
            // A socket that failed to open stays closed; the thread idles until the object goes.
            m_idle.wait(kIdleWaitMs);
            continue;
        }
        pass(l, kIdleWaitMs);
    }
}

UdpServer* udpnetManage::server(unsigned port) const
{
    if (port == PORT_5008)
        return m_link[0].server;
    if (port == PORT_10005)
        return m_link[1].server;
    if (port == PORT_13769)
        return m_server_13769;
    return nullptr;
}

unsigned char udpnetManage::reply_state(unsigned port) const
{
    return m_link[port == PORT_5008 ? 0 : 1].reply_state;
}

void udpnetManage::udpaccept_pass(int wait_ms)
{
    pass(m_link[0], wait_ms);
}

void udpnetManage::udpaccept_pass_10005(int wait_ms)
{
    pass(m_link[1], wait_ms);
}

void udpnetManage::pass(Link& link, int wait_ms)
{
    if (!link.server)
        return;
    // Frames ready to be handled are not kept waiting; a card's answer is polled for each
    // tick (frames of its sender wait with it, without spinning). Only a sender's first
    // frame can be ready: the others wait behind it.
    auto heldBack = [&link](const UdpServer::Record& r) {
        return link.waits.waits(r.peer) && protocol_phy::is_passby_wire(r.data.data(), unsigned(r.data.size()));
    };
    bool ready = link.frames.next(heldBack) != link.frames.end();
    // A reply owed for a store is looked for as often as a card's answer.
    int wait = ready ? 0 : link.reply_state == 1 || link.later->owing() ? std::min(wait_ms, protocol_phy::PASSBY_POLL_MS) : wait_ms;
    // Everything the socket holds (up to the bound) joins the lists below: the turns decide
    // among every sender, and the socket is emptied each pass, so a flood cannot fill it
    // ahead of another PC's datagram.
    link.server->recvData(link.is5008 ? 0 : 1, wait, MAX_DRAIN, MAX_DRAIN_BYTES);

    size_t c = link.server->recv_list.size();
    for (size_t i = 0; i < c; ++i) {
        UdpServer::Record rec = std::move(link.server->recv_list.front());
        link.server->recv_list.pop_front();
        join(link, rec);
    }

    for (LaterReplies::Reply& r : link.later->take()) {
        const unsigned int m = link.phy->build_reply(r.frame.data(), r.len, link.tx.data());
        link.server->sendData(link.tx.data(), m, r.to);
    }
    if (!link.waits.empty())
        for (CardWaits::Answer& a : link.waits.sweep())
            link.server->sendData(a.bytes.data(), unsigned(a.bytes.size()), a.to);

    // One frame a pass, taken in turns: the next address after the one served last, and of
    // it the next sender after the one of it served last, whatever order the frames came
    // in. An address queueing many frames, from as many ports as it likes, holds every
    // other PC back by one frame at most. A sender waiting for a card keeps its next card
    // frame waiting behind that wait; any other frame of it abandons the wait. No other
    // sender waits for it.
    bool handled = false;
    if (const auto pick = link.frames.next(heldBack); pick != link.frames.end()) {
        link.waits.abandon(pick->peer);
        const UdpServer::Record rec = link.frames.take_turn(pick);
        handle_frame(link, rec);
        handled = true;
    }
    if (ready && !handled)
        ++m_spins;
    // What a flood made the program take from the system goes back once it has passed:
    // freed datagrams of this thread otherwise stay with the allocator.
    link.flooded = link.flooded || link.frames.bytes() > kFloodBytes;
    if (link.flooded && link.frames.empty()) {
        link.flooded = false;
        ::malloc_trim(0);
    }
    link.reply_state = link.waits.empty() ? 0 : 1;
}

void udpnetManage::join(Link& link, UdpServer::Record& rec)
{
    const std::vector<unsigned char>& d = rec.data;
    if (d.size() <= 9)
        return;   // too short to be part of a frame
    // Each sender's datagrams are joined apart: frames that PCs send in pieces at the same
    // time are not mixed, and each is answered to its own sender.
    auto it = link.joining.find(rec.peer);
    const uint32_t address = uint32_t(rec.peer >> 16);
    // Each frame begun is an arrival of its address, whole or in pieces.
    const uint64_t pace = d[0] == 0xA5 ? link.frames.pace().arrive(address, link.frames.addresses()) : 0;
    if (d[0] == 0xA5 && d.back() == 0x5A && it == link.joining.end()) {
        // A whole frame in one datagram, its sender joining nothing: the frame as it came.
        rec.tick = G_timeTicks.load();   // a card frame's age counts from here
        if (d.size() <= MAX_JOINED)
            (void)link.frames.admit(std::move(rec), pace);   // past its shares a frame is dropped
        return;
    }
    if (d[0] == 0xA5) {
        if (it == link.joining.end()) {
            if (link.joining.size() >= MAX_JOINING) {
                // Of the addresses joining the most frames, the one coming back the soonest
                // gives way, its sender whose last datagram is oldest: one PC beginning many
                // frames cannot drop another's, and among equals pace and age decide, not the
                // address's number.
                std::map<uint32_t, size_t> frames;
                size_t most = 0;
                for (const auto& j : link.joining)
                    most = std::max(most, ++frames[uint32_t(j.first >> 16)]);
                auto giver = link.joining.end();
                std::pair<uint64_t, uint64_t> rank{0, 0};   // (pace, age): the larger gives way
                for (auto j = link.joining.begin(); j != link.joining.end(); ++j) {
                    const uint32_t a = uint32_t(j->first >> 16);
                    const std::pair<uint64_t, uint64_t> r{link.frames.pace().last(a), ~j->second.last};
                    if (frames[a] == most && (giver == link.joining.end() || r > rank))
                        giver = j, rank = r;
                }
                link.joining.erase(giver);
            }
            it = link.joining.emplace(rec.peer, Link::Joining()).first;
        }
        it->second.bytes.clear();
        it->second.pace = pace;
    } else if (it == link.joining.end()) {
        return;
    }
    std::vector<unsigned char>& joined = it->second.bytes;
    it->second.last = ++link.datagrams;
    if (joined.size() + d.size() > MAX_JOINED) {
        // Longer than any frame record: the frame is dropped, and what its sender sends after
        // it up to the next opener with it.
        link.joining.erase(it);
        return;
    }
    if (joined.empty())
        joined.swap(rec.data);   // a frame's first datagram is taken as it is, not copied
    else
        joined.insert(joined.end(), d.begin(), d.end());
    if (joined.back() == 0x5A) {
        UdpServer::Record frame;
        frame.data.swap(joined);
        frame.addr = rec.addr;
        frame.peer = rec.peer;
        frame.tick = G_timeTicks.load();
        (void)link.frames.admit(std::move(frame), it->second.pace);
        link.joining.erase(it);
    }
}

void udpnetManage::join_datagram(int index, const unsigned char* data, size_t len, uint64_t peer)
{
    UdpServer::Record rec;
    rec.data.assign(data, data + len);
    rec.peer = peer;
    rec.addr.sin_family = AF_INET;
    rec.addr.sin_addr.s_addr = htonl(uint32_t(peer >> 16));
    rec.addr.sin_port = htons(uint16_t(peer));
    join(m_link[index], rec);
}

void udpnetManage::handle_frame(Link& link, const UdpServer::Record& rec)
{
    unsigned char* frame = link.frame.data();
    unsigned char done = 0;
    unsigned int n = link.phy->data_transf_meaning(const_cast<unsigned char*>(rec.data.data()), frame,
                                                   unsigned(rec.data.size()), &done);
    // Handlers that look past a short frame, and reply bytes a handler does not fill, are
    // zeros, never an earlier request's bytes (possibly another PC's); what the handler
    // fills itself is left to it.
    link.frame.scrubPast(n, 10, n > 10 ? message_deal::reply_filled(frame, n - 1) : 0);
    if (link.is5008) {
        pc_cmd_valid = 1;
        pc_cmd_time = G_timeTicks.load();
    }
    if (!protocol_phy::frame_ok(frame, n, done)) {
        KEL_TRACE("\n frame error!!!!!!!");
        return;
    }

    if (link.is5008 && protocol_phy::is_passby_frame(frame)) {
        std::unique_lock<std::mutex> path = lock_port_path();
        // Waiting before the lock is let go: the card's answer, handed over under it, is
        // queued for this sender, not refused.
        const unsigned ticket = fpga_manage::pass_through(fpga_manage::kPassbyUdp, uint32_t(rec.peer >> 16), n, frame, rec.tick);
        if (ticket != 0)
            link.waits.add(rec.peer, ticket, rec.addr);
        if (frame[9] == 2) {
            // The acknowledgement goes out at once (the card's answer cannot overtake it:
            // only this thread sends it, later); the card's answer follows.
            unsigned int m = link.phy->build_passby_ack(frame, link.tx.data());
            link.frame.reached(12);   // the acknowledgement is built over the frame
            link.server->sendData(link.tx.data(), m, rec.addr);
        }
        return;
    }

    // One handler serves every PC that sends to the port: a file transfer belongs to the
    // sender that started it.
    link.deal->peer = rec.peer;
    link.deal->later = LaterReplies::sender(link.later, rec.peer, rec.addr);
    int r = link.deal->message_group_deal(frame, n - 1, 5);
    if (r == message_deal::kLater) {
        link.frame.reached(64);   // the handler's reply bytes, copied for later
        link.later->owe();
        return;
    }
    link.frame.reached(11 + unsigned(std::max(r, 0)));
    if (r > 0 && unsigned(r) + 11 <= message_deal::FRAME_BUF_SIZE) {
        unsigned int m = link.phy->build_reply(frame, unsigned(r), link.tx.data());
        link.server->sendData(link.tx.data(), m, rec.addr);
    }
}

bool udpnetManage::passby_answer(unsigned int ticket, const unsigned char* frame, unsigned int len)
{
    static_assert(CardWaits::ANSWER_MAX >= MAX_JOINED, "a card's answer fits a joined frame");
    return len <= MAX_JOINED && m_link[0].waits.answer(ticket, frame, len);
}

void udpnetManage::queue_13769_answer(const unsigned char* data, unsigned int len, const sockaddr_in& to)
{
    if (!data || len > UdpServer::MAX_DATAGRAM)
        return;
    UdpServer::Record rec;
    rec.data.assign(data, data + len);
    rec.addr = to;
    std::lock_guard<std::mutex> hold(udp_mutex[2]);
    m_tx_13769.push_back(std::move(rec));
}

void udpnetManage::set_wifi_handler(ApRunning running, AtHandler handler)
{
    std::lock_guard<std::mutex> hold(udp_mutex[1]);
    m_wifi_ap_running = std::move(running);
    m_wifi_AT_cmd_manage = std::move(handler);
}

bool udpnetManage::udp_13769_pass(int wait_ms)
{
    ApRunning running;
    AtHandler handler;
    {
        std::lock_guard<std::mutex> hold(udp_mutex[1]);
        running = m_wifi_ap_running;
        handler = m_wifi_AT_cmd_manage;
    }
    // Until the access point runs, AT datagrams stay unread in the socket. A socket that
    // could not be bound (another program holds the port) has nothing to serve either: the
    // thread rests instead of turning over a receive that fails at once.
    if (!g_udpnetmode || !m_server_13769 || m_server_13769->socketFd() < 0 || !running || !handler || !running())
        return false;
    m_server_13769->recvData(1, m_server_13769->recv_list.empty() ? wait_ms : 0);
    std::list<UdpServer::Record>& rx = m_server_13769->recv_list;
    if (!rx.empty()) {
        UdpServer::Record& head = rx.front();
        if (handler(head.data.data(), unsigned(head.data.size()), head.addr) == 0)
            rx.pop_front();
    }
    UdpServer::Record out;
    {
        std::lock_guard<std::mutex> hold(udp_mutex[2]);
        if (m_tx_13769.empty())
            return true;
        out = std::move(m_tx_13769.front());
        m_tx_13769.pop_front();
    }
    if (g_udpnetmode)
        m_server_13769->sendData(out.data.data(), unsigned(out.data.size()), out.addr);
    return true;
}
