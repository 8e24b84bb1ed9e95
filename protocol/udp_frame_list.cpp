#include "protocol/udp_frame_list.h"

#include <iterator>

namespace {
uint32_t address_of(uint64_t peer) { return uint32_t(peer >> 16); }
} // namespace

uint64_t UdpFrameList::pace(uint32_t address)
{
    auto& slot = m_seen[((address * 2654435761u) >> 20) % SEEN_SLOTS];
    const bool seen = slot.first == address && slot.second != 0;
    const uint64_t previous = slot.second;
    slot = {address, ++m_offered};
    // Not seen lately: as though it took its turn among the addresses holding frames (a
    // flood's first round looks like the rest of it, and a PC that asked lately is slower).
    return ~(seen ? m_offered - previous : m_addresses.size() + 1);
}

bool UdpFrameList::admit(Record&& frame)
{
    const uint32_t address = address_of(frame.peer);
    const uint64_t mine = pace(address);
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
    ++m_senders[it->peer];
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
    const auto s = m_senders.find(it->peer);
    if (s != m_senders.end() && --s->second == 0)
        m_senders.erase(s);
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
        if (mine.empty())
            m_addresses.erase(a);
        else
            m_rank.insert(rank_of(address, a->second));
    }
    m_bytes -= it->data.size();
    m_frames.erase(it);
}

void UdpFrameList::clear()
{
    m_bytes = 0;
    m_frames.clear();
    m_senders.clear();
    m_addresses.clear();
    m_rank.clear();
}

size_t UdpFrameList::of_sender(uint64_t peer) const
{
    const auto s = m_senders.find(peer);
    return s == m_senders.end() ? 0 : s->second;
}

size_t UdpFrameList::of_address(uint32_t address) const
{
    const auto a = m_addresses.find(address);
    return a == m_addresses.end() ? 0 : a->second.frames.size();
}
