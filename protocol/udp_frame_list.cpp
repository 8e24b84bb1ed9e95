#include "protocol/udp_frame_list.h"

#include <iterator>

namespace {
uint32_t address_of(uint64_t peer) { return uint32_t(peer >> 16); }
} // namespace

bool UdpFrameList::admit(Record&& frame)
{
    // Not seen lately: as though it took its turn among the addresses holding frames (a
    // flood's first round looks like the rest of it, and a PC that asked lately is slower).
    const uint64_t mine = m_pace.arrive(address_of(frame.peer), m_addresses.size());
    return admit(std::move(frame), mine);
}

bool UdpFrameList::admit(Record&& frame, uint64_t mine)
{
    const uint32_t address = address_of(frame.peer);
    if (const auto held = m_addresses.find(address); held != m_addresses.end()) {
        // Its frames waiting rank by how fast it sends now.
        m_rank.erase(rank_of(address, held->second));
        held->second.pace = mine;
        m_rank.insert(rank_of(address, held->second));
    }
    if (of_sender(frame.peer) >= m_perSender)
        return false;
    if (frame.data.size() > m_budget)
        return false;
    // Places, then bytes, made by the same rule; a frame given up for the bytes was queued
    // before (the list holds at most `most`), so this ends within that many steps.
    while (m_frames.size() >= m_most || m_bytes + frame.data.size() > m_budget) {
        if (m_rank.empty() || std::get<0>(*m_rank.rbegin()) <= of_address(address))
            return false;
        const uint32_t giver = std::get<2>(*m_rank.rbegin());
        forget(m_addresses.at(giver).frames.back());
    }
    m_bytes += frame.data.size();
    const auto it = m_frames.insert(m_frames.end(), std::move(frame));
    m_senders[it->peer].push_back(it);
    Address& a = m_addresses[address];
    if (!a.frames.empty())
        m_rank.erase(rank_of(address, a));
    a.frames.push_back(it);
    a.pace = mine;
    m_rank.insert(rank_of(address, a));
    return true;
}

UdpFrameList::Record UdpFrameList::take(const_iterator it)
{
    const auto own = m_frames.erase(it, it);   // the same place, writable
    Record rec = std::move(*own);
    m_bytes -= rec.data.size();
    own->data.clear();   // its bytes counted out here, not again as it goes
    forget(own);
    return rec;
}

void UdpFrameList::forget(std::list<Record>::iterator it)
{
    const uint32_t address = address_of(it->peer);
    if (const auto s = m_senders.find(it->peer); s != m_senders.end()) {
        auto& mine = s->second;
        // A pass takes a sender's oldest, a full list its latest; anything else is looked for.
        if (mine.front() == it)
            mine.pop_front();
        else if (mine.back() == it)
            mine.pop_back();
        else
            mine.remove(it);
        if (mine.empty())
            m_senders.erase(s);
    }
    const auto a = m_addresses.find(address);
    if (a != m_addresses.end()) {
        m_rank.erase(rank_of(address, a->second));
        auto& mine = a->second.frames;
        // A full list gives up an address's latest (its last, found at once); a pass takes
        // a sender's oldest, once a pass.
        if (mine.back() == it)
            mine.pop_back();
        else
            for (auto f = mine.begin(); f != mine.end(); ++f)
                if (*f == it) {
                    mine.erase(f);
                    break;
                }
        if (mine.empty()) {
            m_addresses.erase(a);
            // Only addresses with frames waiting keep their place in the turn, and the one
            // served last until the next is.
            if (address != m_lastAddress)
                m_lastSender.erase(address);
        } else
            m_rank.insert(rank_of(address, a->second));
    }
    m_bytes -= it->data.size();
    m_frames.erase(it);
}

UdpFrameList::const_iterator UdpFrameList::next(const std::function<bool(const Record&)>& held) const
{
    if (m_senders.empty())
        return end();
    // Cyclic orders: the first key after `last`, else the first of all.
    auto s = m_senders.lower_bound((uint64_t(m_lastAddress) + 1) << 16);
    if (s == m_senders.end())
        s = m_senders.begin();
    for (size_t tried = 0; tried < m_senders.size();) {
        const uint32_t a = address_of(s->first);
        const auto first = m_senders.lower_bound(uint64_t(a) << 16), past = m_senders.lower_bound((uint64_t(a) + 1) << 16);
        const auto last = m_lastSender.find(a);
        auto t = last == m_lastSender.end() ? first : m_senders.upper_bound(last->second);
        if (t == past)
            t = first;
        for (auto from = t;;) {
            ++tried;
            if (!held(*t->second.front()))
                return t->second.front();
            if (++t == past)
                t = first;
            if (t == from)
                break;
        }
        s = past == m_senders.end() ? m_senders.begin() : past;
    }
    return end();
}

UdpFrameList::Record UdpFrameList::take_turn(const_iterator it)
{
    if (m_lastAddress != address_of(it->peer) && !m_addresses.count(m_lastAddress))
        m_lastSender.erase(m_lastAddress);
    m_lastAddress = address_of(it->peer);
    m_lastSender[m_lastAddress] = it->peer;
    return take(it);
}

void UdpFrameList::clear()
{
    m_bytes = 0;
    m_frames.clear();
    m_senders.clear();
    m_addresses.clear();
    m_rank.clear();
    m_lastSender.clear();
}

size_t UdpFrameList::of_sender(uint64_t peer) const
{
    const auto s = m_senders.find(peer);
    return s == m_senders.end() ? 0 : s->second.size();
}

size_t UdpFrameList::of_address(uint32_t address) const
{
    const auto a = m_addresses.find(address);
    return a == m_addresses.end() ? 0 : a->second.frames.size();
}
