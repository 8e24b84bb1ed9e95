#pragma once
// The joined frames waiting on one UDP port, in the order they were joined, with each
// sender's and each address's share kept as the list changes. Admitting a frame looks at
// those shares, never at the list: under a flood from many addresses a datagram costs what
// it costs from one.

#include "protocol/udpserver.h"

#include <cstddef>
#include <cstdint>
#include <list>
#include <set>
#include <tuple>
#include <unordered_map>

class UdpFrameList {
public:
    using Record = UdpServer::Record;
    using const_iterator = std::list<Record>::const_iterator;

    // At most `most` frames in all and `perSender` of one sender (address and port).
    UdpFrameList(size_t most, size_t perSender) : m_most(most), m_perSender(perSender) {}

    // Queues a frame within the shares: a sender past its share loses the newcomer; with the
    // list full, the address with the most frames waiting (of several, the one whose latest
    // came last) gives up its latest, if it has more than the newcomer's address; otherwise
    // the newcomer is dropped. True when the frame was queued.
    [[nodiscard]] bool admit(Record&& frame);
    // Takes a frame out of the list (the one a pass handles).
    Record take(const_iterator it);
    void clear();

    const_iterator begin() const { return m_frames.begin(); }
    const_iterator end() const { return m_frames.end(); }
    size_t size() const { return m_frames.size(); }
    bool empty() const { return m_frames.empty(); }
    size_t of_sender(uint64_t peer) const;
    size_t of_address(uint32_t address) const;

private:
    struct Address {
        // Its frames in the order they came, each with its number in the order of all.
        std::list<std::pair<uint64_t, std::list<Record>::iterator>> frames;
    };
    // Addresses by share, then by their latest frame's number: the last is the giver.
    using Rank = std::tuple<size_t, uint64_t, uint32_t>;
    static Rank rank_of(uint32_t address, const Address& a) { return Rank(a.frames.size(), a.frames.back().first, address); }
    void forget(std::list<Record>::iterator it);

    size_t m_most, m_perSender;
    std::list<Record> m_frames;
    std::unordered_map<uint64_t, size_t> m_senders;   // frames waiting, by sender
    std::unordered_map<uint32_t, Address> m_addresses;
    std::set<Rank> m_rank;
    uint64_t m_joined = 0;   // frames queued so far: the order
};
