#pragma once
// The PCs of one link that wait for a receiving card's answer: each waits with the ticket
// its request was kept under, the FPGA manager hands the answer to that ticket, and the
// link's thread sends it on. Keyed by what names the PC on its link (a TCP socket, a UDP
// sender); a UDP answer goes to where its request was answered.

#include <cstdint>
#include <map>
#include <mutex>
#include <netinet/in.h>
#include <set>
#include <vector>

class CardWaits {
public:
    struct Answer {
        uint64_t key;
        sockaddr_in to;
        std::vector<unsigned char> bytes;   // escaped, ready for the wire
    };
    // Longest answer taken: what no link's frame record may exceed.
    static constexpr unsigned ANSWER_MAX = 0x20000;

    // The link's thread, under the FPGA manager's port-path lock (so that an answer handed
    // over under it finds the wait).
    void add(uint64_t key, unsigned ticket, const sockaddr_in& to = sockaddr_in{});
    bool waits(uint64_t key) const { return m_waits.count(key) != 0; }
    bool empty() const { return m_waits.empty(); }
    // The FPGA manager's hand-over (unescaped, with its check byte), under its port-path
    // lock: queued while a PC waits with that ticket (true), else refused.
    bool answer(unsigned ticket, const unsigned char* frame, unsigned len);
    // The link's thread: runs the FPGA interrupt service, takes the answers that came and
    // ends the waits whose request went unanswered (no longer kept nor due).
    std::vector<Answer> sweep();
    // The PC's wait ends (what it sends next, its connection closed): its request is
    // withdrawn and a late answer is dropped, not sent as a later frame's reply.
    void abandon(uint64_t key);

private:
    struct Wait {
        unsigned ticket;
        sockaddr_in to;
    };
    std::map<uint64_t, Wait> m_waits;   // the link's thread only
    // Under m_mutex: the tickets waited for, and the answers that came for them.
    std::mutex m_mutex;
    std::set<unsigned> m_tickets;
    std::map<unsigned, std::vector<unsigned char>> m_answers;
};
