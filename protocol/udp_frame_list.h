#pragma once
// The joined frames waiting on one UDP port, in the order they were joined, with each
// sender's and each address's share kept as the list changes. Admitting a frame looks at
// those shares, never at the list: under a flood from many addresses a datagram costs what
// it costs from one.

#include "protocol/udpserver.h"

#include <cstddef>
#include <cstdint>
#include <climits>
#include <list>
#include <set>
#include <tuple>
#include <unordered_map>
#include <vector>

class UdpFrameList {
public:
    using Record = UdpServer::Record;
    using const_iterator = std::list<Record>::const_iterator;

    // At most `most` frames in all, of `bytes` at most, and `perSender` of one sender
    // (address and port).
    UdpFrameList(size_t most, size_t perSender, size_t bytes = SIZE_MAX) : m_most(most), m_perSender(perSender), m_budget(bytes) {}

    // Queues a frame within the shares: a sender past its share loses the newcomer; with the
    // list full (its places or its bytes), the address with the most frames waiting gives up its latest, if it has more
    // than the newcomer's address; otherwise the newcomer is dropped. Of several with the
    // most, the one sending fastest gives way: whose last frame offered (kept or not)
    // followed its previous one after the fewest frames of anyone. Where more addresses send than the
    // list has places, each holding one, a PC asking now and then keeps its frame until its
    // turn, and the flooding addresses give way among themselves. True when queued.
    [[nodiscard]] bool admit(Record&& frame);
    // Takes a frame out of the list (the one a pass handles).
    Record take(const_iterator it);
    void clear();

    const_iterator begin() const { return m_frames.begin(); }
    const_iterator end() const { return m_frames.end(); }
    size_t size() const { return m_frames.size(); }
    size_t bytes() const { return m_bytes; }
    bool empty() const { return m_frames.empty(); }
    size_t of_sender(uint64_t peer) const;
    size_t of_address(uint32_t address) const;

private:
    struct Address {
        std::list<std::list<Record>::iterator> frames;   // in the order they came
        // How soon its last offer followed the one before (the higher, the sooner).
        uint64_t pace = 0;
    };
    // Addresses by share, then by pace: the last is the giver.
    using Rank = std::tuple<size_t, uint64_t, uint32_t>;
    static Rank rank_of(uint32_t address, const Address& a) { return Rank(a.frames.size(), a.pace, address); }
    void forget(std::list<Record>::iterator it);
    // The pace of a frame from address offered now, noting its offer.
    uint64_t pace(uint32_t address);

    // Of addresses that sent lately, the number of the last frame each offered, in a table
    // of fixed size (an address found in another's slot counts as not seen).
    // Several times the list's places, so a flood from every address the list can hold, and
    // more, is still told apart from a PC asking once a second.
    static constexpr size_t SEEN_SLOTS = 4096;
    std::vector<std::pair<uint32_t, uint64_t>> m_seen = std::vector<std::pair<uint32_t, uint64_t>>(SEEN_SLOTS);
    uint64_t m_offered = 0;   // frames offered so far

    size_t m_most, m_perSender, m_budget;
    size_t m_bytes = 0;   // of the frames waiting
    std::list<Record> m_frames;
    std::unordered_map<uint64_t, size_t> m_senders;   // frames waiting, by sender
    std::unordered_map<uint32_t, Address> m_addresses;
    std::set<Rank> m_rank;
};
