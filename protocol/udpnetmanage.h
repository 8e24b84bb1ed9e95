#pragma once
// The PC protocol over UDP: port 5008 (replies to the broadcast address on the sender's
// port; carries receiving-card passthrough and marks PC activity), port 10005 (replies to
// the sender; controller commands only) and port 13769 (the WiFi module's AT commands,
// served by the WiFi link while its access point runs). One UdpServer and one thread per
// port; each thread's work is one pass function that tests drive directly.

#include "core/stop_signal.h"
#include "protocol/card_waits.h"
#include "protocol/later_replies.h"
#include "protocol/link_buffer.h"
#include "protocol/message_deal.h"
#include "protocol/udp_frame_list.h"
#include "protocol/udpserver.h"

#include <QObject>
#include <atomic>
#include <functional>
#include <list>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

class protocol_phy;
class message_deal;

class udpnetManage : public QObject {
    Q_OBJECT
public:
    static constexpr unsigned PORT_5008 = 5008;
    static constexpr unsigned PORT_10005 = 10005;
    static constexpr unsigned PORT_13769 = 13769;
    // A joined frame (openers to closer) longer than a record is dropped.
    static constexpr unsigned MAX_JOINED = 0x20000;
    // Joined frames waiting, at most this many in all (and MAX_FRAME_BYTES of them) and this
    // many of one sender (address and port); past the first, a sender's frame is dropped,
    // and with the list full the address with the most frames waiting, if more than the
    // newcomer's, gives up its latest (of several, the one sending fastest: see
    // UdpFrameList). A flood cannot grow the list, nor shut other PCs out of it.
    static constexpr unsigned MAX_FRAMES = 256;
    static constexpr size_t MAX_FRAME_BYTES = 4u << 20;
    static constexpr size_t MAX_FRAMES_PER_SENDER = 16;
    // Datagrams are joined per sender: senders with a frame begun and not yet closed, at
    // most this many; a new one past them takes the place of a sender of the addresses
    // joining the most frames: of several, the one coming back the soonest (by the frames
    // they begin, the table the frame list gives way by), of it the sender whose last
    // datagram is oldest.
    static constexpr size_t MAX_JOINING = 16;
    // Datagrams a pass takes from its socket at most: all it holds, as a rule, so that the
    // turns below choose among every PC that has sent, not the kernel's queue (which drops
    // what comes while it is full); the bounds (a count, and the bytes the socket holds)
    // keep a pass short under any flood.
    static constexpr size_t MAX_DRAIN = 512;
    // The memory of the links under a flood is bounded: each of the 5008 and 10005 sockets
    // holds SOCKET_ROOM bytes as the system counts them (a burst of MAX_DRAIN requests of up
    // to 3 KiB each, a LAN's datagrams, is not cut by the system ahead of the turns; of the
    // largest datagrams it holds 31), a pass takes at most as much, and the frames waiting
    // hold MAX_FRAME_BYTES: with the frames being joined, about 20 MB for both ports at
    // worst, given back to the system once a flood has passed.
    static constexpr size_t SOCKET_ROOM = 2u << 20;
    static constexpr size_t MAX_DRAIN_BYTES = SOCKET_ROOM;

    static udpnetManage* pInstance();
    static udpnetManage* p_udpnetManage;

    udpnetManage();
    ~udpnetManage() override;
    udpnetManage(const udpnetManage&) = delete;
    udpnetManage& operator=(const udpnetManage&) = delete;

    // Opens the three sockets and starts the 5008, 10005 and 13769 threads in that order;
    // 0, or 255 when a thread cannot start (the later ones are not started).
    unsigned char initialize();
    // Opens the three sockets only, so the passes can be driven one by one.
    void initialize_servers();
    // Starts the three threads (initialize's second half); 0, or 255.
    unsigned char start_threads();

    // --- one pass of each thread ---
    // Waits up to wait_ms for datagrams (not at all while frames wait), joins them and
    // those the socket holds behind them (at most MAX_DRAIN, MAX_DRAIN_BYTES), handles
    // at most one joined frame, and on 5008 serves a pending passthrough answer.
    void udpaccept_pass(int wait_ms);
    void udpaccept_pass_10005(int wait_ms);
    // Serves the WiFi module's AT datagrams while the WiFi link says its access point runs
    // (waiting up to wait_ms for one); false, touching nothing, while it does not.
    bool udp_13769_pass(int wait_ms = 0);

    static void* udpacceptThread(void* arg);
    static void* udpacceptThread_10005(void* arg);
    static void* udp_13769_acceptThread(void* arg);

    // The FPGA manager's hand-over of a receiving card's answer (unescaped, with its check
    // byte) to the request with that ticket, under its port-path mutex: while a 5008 sender
    // waits with that ticket, the answer is queued for it, to where its request was answered
    // (true); otherwise it is refused (false).
    bool passby_answer(unsigned int ticket, const unsigned char* frame, unsigned int len);

    // --- the WiFi link's side of port 13769 ---
    // Set by the WiFi link once it exists (any thread): whether its access point runs
    // (state 3), and the handler of one AT datagram and its sender (0 = consumed; anything
    // else keeps it at the head of the list). Until then the port is not served.
    using ApRunning = std::function<bool()>;
    using AtHandler = std::function<int(unsigned char* data, unsigned int len, const sockaddr_in& from)>;
    void set_wifi_handler(ApRunning running, AtHandler handler);
    // The handler's answers: appended under udp_mutex[2], sent by the 13769 thread.
    void queue_13769_answer(const unsigned char* data, unsigned int len, const sockaddr_in& to);

    UdpServer* server(unsigned port) const;
    // Joins one datagram as though received on port 5008 (index 0) or 10005 (index 1) from
    // sender peer (address << 16 | port); the joined frames wait in joined(index) (the fuzz
    // target feeds datagrams this way).
    void join_datagram(int index, const unsigned char* data, size_t len, uint64_t peer = 0);
    // Senders with a frame begun on port 5008 (index 0) or 10005 (index 1).
    size_t joining(int index) const { return m_link[index].joining.size(); }
    UdpFrameList& joined(int index) { return m_link[index].frames; }
    // 1 while a sender on the port waits for a card's answer, else 0.
    unsigned char reply_state(unsigned port) const;
    // Passes of the 5008 and 10005 threads that did not wait for traffic and handled no frame.
    uint64_t spins() const { return m_spins; }

    // [0] not used, [1] the WiFi link's handler, [2] 13769 transmit list
    std::mutex udp_mutex[3];

private:
    struct Link {
        UdpServer* server = nullptr;
        protocol_phy* phy = nullptr;
        message_deal* deal = nullptr;
        bool is5008 = false;
        struct Joining {
            std::vector<unsigned char> bytes;   // the sender's datagrams joined so far
            uint64_t last = 0;                  // order of its last datagram
            uint64_t pace = 0;                  // its address's, as the frame began
        };
        std::map<uint64_t, Joining> joining;  // by sender (UdpServer::Record::peer)
        uint64_t datagrams = 0;               // datagrams joined so far: the order
        UdpFrameList frames{MAX_FRAMES, MAX_FRAMES_PER_SENDER, MAX_FRAME_BYTES};   // joined frames waiting to be handled
        bool flooded = false;                // frames held past a few largest since the list was last empty
        std::atomic<unsigned char> reply_state{0};   // 0 idle, 1 a sender waits for a card
        CardWaits waits;                     // 5008 senders waiting for a card, by peer
        std::shared_ptr<LaterReplies> later = std::make_shared<LaterReplies>();   // replies owed, by peer
        LinkBuffer frame{message_deal::FRAME_BUF_SIZE};   // unescaped frame; the reply is built over it
        LinkBuffer tx{message_deal::TX_BUF_SIZE};         // escaped reply
    };

    void pass(Link& link, int wait_ms);
    void join(Link& link, UdpServer::Record& rec);
    void handle_frame(Link& link, const UdpServer::Record& rec);
    void loop(int index);

    Link m_link[2];                          // 0: 5008, 1: 10005
    UdpServer* m_server_13769 = nullptr;
    std::atomic<uint64_t> m_spins{0};
    std::list<UdpServer::Record> m_tx_13769; // udp_mutex[2]
    ApRunning m_wifi_ap_running;             // udp_mutex[1]
    AtHandler m_wifi_AT_cmd_manage;          // udp_mutex[1]
    std::atomic<bool> m_stop{false};
    StopSignal m_idle;                       // a thread with nothing to receive waits on it
    std::thread m_threads[3];
};
