#pragma once
// The PCs' requests for the receiving cards, from every link: kept until the card path is
// free, put out one at a time, each answer handed only to the request it answers.
//
// An answer carries no link or PC: it names its card (the port it came in on, the card's
// address, byte 7: the port asked, 255 for every port), the request's tag and command. The
// ports answer apart, so one request is due per port (one to every port holds them all):
// a request waits only behind requests and packets of its own ports, and a silent port
// holds up nobody asking another. An answer is taken only when it names all of a due
// request's; a late answer of a request whose wait ran out is dropped. A withdrawn due
// request keeps its port until its answer came or its wait ran out. A request whose wait
// ran out may still be answered for LATE_TICKS: meanwhile a request whose answer would
// look the same is not sent (others are), so that the late answer cannot be its reply.
// An address's requests to one port go in the order they came.
//
// A request that has waited PC_WAIT_TICKS since it reached the link is no longer waited
// for by its PC: it is dropped, not sent, so that PCs that left hold nobody up.
//
// Kept requests go out in turn: the links take turns, and on each link the PCs' addresses
// take turns, so a PC with many connections or sockets is one address among the others.
// Each request's wait counts from when it goes out.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <list>
#include <set>
#include <vector>

class PassbyQueue {
public:
    using u8 = uint8_t;
    using u16 = uint16_t;
    using u32 = uint32_t;

    // How long a card's answer is waited for once its request went out, in 10 ms ticks.
    static constexpr u32 WAIT_TICKS = 300;
    // How long after that its late answer may still come.
    static constexpr u32 LATE_TICKS = WAIT_TICKS;
    // The longest a PC waits for its reply (as the TCP server, which takes a client quiet
    // that long for gone): a request older than that when its turn comes is dropped.
    static constexpr u32 PC_WAIT_TICKS = 1000;
    // Requests kept at most for one address on one link, and in all.
    static constexpr size_t KEPT_PER_HOST = 32;
    static constexpr size_t KEPT_MAX = 256;
    // Links 1-4 (serial, TCP, UDP 5008, the 4G module's line).
    static constexpr int LINKS = 5;

    // What an answer must name to be the answer of a request.
    struct Target {
        bool allPorts = false;   // sent to every port: the receive path gathers the answers
        int port = 0;            // output port of FPGA 0
        bool anyCard = false;    // every card of the port, a search or the function card:
                                 // the card that closes the chain answers
        u16 card = 0;            // bits 0-11 of the target
        u8 tag = 0;              // byte 5
        u8 command = 0;          // byte 9 of the card packet
    };
    // The target of a PC frame as the passthrough puts it out (wrapped frames: the card
    // packet behind the wrapper); false when it cannot go out.
    static bool target_of(const unsigned char* frame, u32 len, Target& t);

    struct Kept {
        u32 ticket = 0;
        u8 link = 0;
        u32 host = 0;            // the PC's address (0 on the serial line)
        u32 arrived = 0;         // tick at which the link received it
        std::vector<unsigned char> frame;
    };

    // Keeps a request that reached the link at tick arrived; its ticket (never 0), or 0 when
    // it is refused (older than PC_WAIT_TICKS, or its address keeps KEPT_PER_HOST on the link
    // already, or KEPT_MAX are kept and no address keeps more than its own: else the one
    // keeping the most gives up its latest request, whose asker then waits no more).
    u32 keep(u8 link, u32 host, const unsigned char* frame, u32 len, u32 arrived, u32 now);
    // Whether a ticket is kept or due (its PC may still be answered).
    bool waiting(u32 ticket) const;
    // The asker went (its next frame, its connection closed): a kept request is dropped, a
    // due one's answer goes to nobody.
    void withdraw(u32 ticket);

    // Whether any request is due.
    bool busy() const { return !m_dues.empty(); }
    // Takes the next kept request in turn that can go (its ports free of due requests and
    // waiting packets, no earlier request of its address to its ports kept, not looking
    // like a request still answered late), dropping those older than PC_WAIT_TICKS; false
    // when none can go.
    bool take(Kept& out, u32 now);
    // The taken request goes out now: it is due from now. Its due number (never 0).
    u32 start(const Kept& k, const Target& t, u32 now);
    // It went out (the send may have taken a while): its wait counts from now.
    void sent(u32 due, u32 now);
    // Ends the due requests whose wait ran out; the link of one (0 when none ended).
    u8 expire(u32 now);
    // Ends a due request (it could not go out).
    void end(u32 due);
    // Ends every due request (the path is reset).
    void end() { m_dues.clear(); }

    // An answer from port (16 f + 4 group + port bits; -1: the all-port answer gathered by
    // the receive path) of card (bits 0-11 of its source) with tag: true when it answers
    // a due request, which ends; ticket and link are then its asker's (ticket 0 when the
    // asker went).
    bool match(int port, u16 card, u8 tag, u8 command, u32& ticket, u8& link);

    size_t kept() const { return m_kept.size(); }
    // The ticket of the request that went out last, while it is due.
    u32 due_ticket() const { return m_dues.empty() ? 0 : m_dues.back().ticket; }

    // A packet waiting for its output ports' transmitters: sent to each port in order, as
    // soon as the port's transmitter is idle or WAIT_TICKS after the port became the next
    // (the port gets it then anyway). Whoever serves the path polls them; no link waits.
    struct Outgoing {
        std::vector<unsigned char> packet;
        std::vector<int> ports;  // still to send to, in order
        bool stamp = false;      // each port's number stamped into the target (all ports)
        bool allPorts = false;   // the receive path gathers the answers once all went
        u32 due = 0;             // the due request it puts out: its wait counts once all went
        bool started = false;    // the next port is waited for since
        u32 since = 0;
        uint64_t sinceUs = 0;
    };
    // Oldest first; a request to their ports waits behind them.
    std::deque<Outgoing> outgoing;

private:
    struct Due {
        u32 number = 0;
        u32 ticket = 0;          // 0: its asker went
        u8 link = 0;
        Target target;
        u32 sent = 0;
        bool sending = false;    // not timed out while the send itself goes on
    };
    size_t count(u8 link, u32 host) const;
    // Whether a request to t's ports must wait (one is due there, or a packet waits).
    bool held(const Target& t) const;
    static bool overlap(const Target& a, const Target& b) { return a.allPorts || b.allPorts || a.port == b.port; }
    static bool answers(const Target& t, int port, u16 card, u8 tag, u8 command);
    // Whether one answer could answer both (the card's address can be "any card"; a port's
    // answer counts among every port's).
    static bool alike(const Target& a, const Target& b);
    // Drops the latest request of the address keeping the most, if that is more than held.
    bool give_way(size_t held);
    void forget_host(u8 link, u32 host);

    struct Late {
        Target target;
        u32 until;
    };
    std::vector<Late> m_late;        // requests whose wait ran out, answered late until
    std::list<Kept> m_kept;          // in order of arrival
    // Their tickets: a link asks after each of its waits every pass, and a full queue
    // answers that in a look-up, not a walk.
    std::set<u32> m_keptTickets;
    std::deque<u32> m_hosts[LINKS];  // per link, the addresses with kept requests, in turn
    u8 m_lastLink = 0;
    u32 m_tickets = 0;
    u32 m_dueNumbers = 0;
    std::vector<Due> m_dues;         // in the order they went out
};
