#pragma once
// The PC protocol over TCP: the configured port g_port (which also carries receiving-card
// passthrough) and the fixed port 10002 (controller commands only), one TcpServer and one
// thread per port.

#include "core/stop_signal.h"
#include "protocol/card_waits.h"
#include "protocol/later_replies.h"
#include "protocol/link_buffer.h"
#include "protocol/message_deal.h"
#include "protocol/tcpserver.h"

#include <atomic>
#include <deque>
#include <list>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

class protocol_phy;
class message_deal;

class networkManage {
public:
    static networkManage* pInstance();

    networkManage();
    ~networkManage();
    networkManage(const networkManage&) = delete;
    networkManage& operator=(const networkManage&) = delete;

    // Opens both servers and starts both threads; 0, or 255 when a thread cannot start.
    int initialize();
    // Opens the servers only (g_port when g_networkMode is set, and 10002); the threads'
    // work can then be driven pass by pass.
    void open_servers();
    // Starts both threads (initialize's second half); 0, or 255.
    int start_threads();

    static void* acceptThread(void* arg);
    static void* acceptThread_10002(void* arg);
    // One pass of each thread: waits up to wait_ms for traffic, then answers every
    // complete frame (on g_port: until a passthrough waits for its card).
    void accept_pass(int wait_ms);
    void accept_pass_10002(int wait_ms);

    // The FPGA manager's hand-over of a receiving card's answer (unescaped, with its check
    // byte) to the request with that ticket, under its port-path mutex: while a client of
    // g_port waits with that ticket, the answer is queued for it (true); otherwise it is
    // refused (false).
    bool passby_answer(unsigned int ticket, const unsigned char* frame, unsigned int len);

    TcpServer* server(int index) const { return index == 0 ? m_port[0].server : m_port[1].server; }
    // Passes of both threads that did not wait for traffic and handled no frame.
    uint64_t spins() const { return m_spins; }
    // Passes of a port's thread so far: what a PC waits for counts in them, not in time.
    uint64_t passes(int index) const { return m_port[index == 0 ? 0 : 1].passes; }
    // 1 while a client of the port waits for a card's answer, else 0.
    unsigned char reply_state(int index) const { return m_port[index == 0 ? 0 : 1].reply_state; }

private:
    // Everything one port's thread owns.
    struct Link {
        TcpServer* server = nullptr;
        protocol_phy* phy = nullptr;
        message_deal* deal = nullptr;
        // Complete frames waiting to be handled, by client (socket); never an empty queue.
        std::map<int, std::deque<TcpServer::Record>> queues;
        std::map<uint32_t, int> lastClient;    // of each address with frames waiting, its client served last
        std::atomic<unsigned char> reply_state{0};   // 0 idle, 1 a client waits for a card
        std::atomic<uint64_t> passes{0};
        CardWaits waits;                       // clients waiting for a card, by socket
        std::shared_ptr<LaterReplies> later = std::make_shared<LaterReplies>();   // replies owed, by socket
        LinkBuffer frame{message_deal::FRAME_BUF_SIZE};   // unescaped frame; the reply is built over it
        LinkBuffer tx{message_deal::TX_BUF_SIZE};         // escaped reply
    };

    void pass(Link& link, bool configuredPort, int wait_ms);
    // Whether a client's first waiting frame must wait on: replies of the client wait in
    // its queue, or it is a card frame behind the client's own card wait.
    static bool held(Link& link, const TcpServer::Record& r);
    void handle_frame(Link& link, bool configuredPort, const TcpServer::Record& rec);
    void loop(int index);

    Link m_port[2];                         // 0: g_port, 1: 10002
    std::atomic<uint64_t> m_spins{0};
    std::atomic<bool> m_stop{false};
    StopSignal m_idle;                      // a thread with no listening socket waits on it
    std::thread m_threads[2];
};
