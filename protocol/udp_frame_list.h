#pragma once
// The joined frames waiting on one UDP port, in the order they were joined, with each
// sender's and each address's share kept as the list changes. Admitting a frame looks at
// those shares, never at the list: under a flood from many addresses a datagram costs what
// it costs from one.

#include "protocol/arrival_pace.h"
#include "protocol/udpserver.h"

#include <cstddef>
#include <cstdint>
#include <climits>
#include <functional>
#include <list>
#include <map>
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
    // The same with the pace its address's arrival was given (see pace()).
    [[nodiscard]] bool admit(Record&& frame, uint64_t pace);
    // Takes a frame out of the list.
    Record take(const_iterator it);
    void clear();
    // How soon each address comes back, frame by frame offered; what the frames being
    // joined give way by too.
    ArrivalPace& pace() { return m_pace; }

    // Whose turn it is: the next address after the one served last, and of it the next
    // sender after the one of it served last, whatever order the frames came in; of the
    // sender its oldest frame, unless `held` says it waits (then the next sender). Found
    // in the time of a look-up (and one step for each held sender passed over), however
    // many frames wait. end() when none may go.
    const_iterator next(const std::function<bool(const Record&)>& held) const;
    // Takes the frame next() gave and moves the turn on past its sender.
    Record take_turn(const_iterator it);

    const_iterator begin() const { return m_frames.begin(); }
    const_iterator end() const { return m_frames.end(); }
    size_t size() const { return m_frames.size(); }
    size_t bytes() const { return m_bytes; }
    bool empty() const { return m_frames.empty(); }
    size_t of_sender(uint64_t peer) const;
    size_t of_address(uint32_t address) const;
    size_t addresses() const { return m_addresses.size(); }   // holding frames

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
    ArrivalPace m_pace;
    size_t m_most, m_perSender, m_budget;
    size_t m_bytes = 0;   // of the frames waiting
    std::list<Record> m_frames;
    // Frames waiting, by sender in order of address then port: the turns' order.
    std::map<uint64_t, std::list<std::list<Record>::iterator>> m_senders;
    std::unordered_map<uint32_t, Address> m_addresses;
    std::set<Rank> m_rank;
    // The address served last, and of each address with frames waiting (and the one served
    // last) its sender served last.
    uint32_t m_lastAddress = 0;
    std::unordered_map<uint32_t, uint64_t> m_lastSender;
};
