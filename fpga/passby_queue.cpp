#include "fpga/passby_queue.h"

#include <algorithm>
#include <map>

namespace {
constexpr uint32_t kWrapper = 12;   // bytes in front of a wrapped card packet
constexpr uint32_t kMinFrame = 11;  // bytes 0-9 and the check byte
constexpr uint32_t kPacketMax = 1024;
constexpr uint16_t kFunctionCard = 0x4000;
constexpr uint8_t kSearch = 0x10;
} // namespace

bool PassbyQueue::target_of(const unsigned char* frame, u32 len, Target& t)
{
    len &= 0xFFFF;
    if (!frame || len >= kPacketMax || len < kMinFrame)
        return false;
    const bool wrapped = frame[9] == 2;
    if (wrapped && len < kWrapper + kMinFrame)
        return false;
    const u8 kind = frame[6], portByte = frame[7];
    const unsigned char* packet = wrapped ? frame + kWrapper : frame;
    t = Target();
    t.tag = packet[5];
    t.command = packet[9];
    const u16 target = u16(packet[0] | packet[1] << 8);
    t.card = target & 0x0FFF;
    t.anyCard = t.card >= 0x0FFE || (target & kFunctionCard) || packet[9] == kSearch;
    if (kind == 1 || kind == 3 || kind == 255) {
        if (portByte == 255) {
            // The whole frame goes to every port; the receive path gathers the answers
            // that carry its byte 5.
            t.allPorts = true;
            t.tag = frame[5];
            t.command = frame[9];
            return true;
        }
        t.port = portByte == 0 ? (frame[1] >> 4) & 3 : portByte - 1;
    } else if (kind == 0) {
        t.port = portByte == 0 ? 0 : portByte - 1;
    } else {
        return false;
    }
    return t.port <= 15;   // higher numbers reach no port
}

size_t PassbyQueue::count(u8 link, u32 host) const
{
    return size_t(std::count_if(m_kept.begin(), m_kept.end(),
                                [&](const Kept& k) { return k.link == link && k.host == host; }));
}

PassbyQueue::u32 PassbyQueue::keep(u8 link, u32 host, const unsigned char* frame, u32 len, u32 arrived, u32 now)
{
    if (link == 0 || link >= LINKS || !frame || u32(now - arrived) >= PC_WAIT_TICKS)
        return 0;
    const size_t held = count(link, host);
    if (held >= KEPT_PER_HOST || (m_kept.size() >= KEPT_MAX && !give_way(held)))
        return 0;
    if (held == 0)
        m_hosts[link].push_back(host);   // a new address takes the last turn
    Kept k;
    do
        k.ticket = ++m_tickets;
    while (k.ticket == 0);
    k.link = link;
    k.host = host;
    k.arrived = arrived;
    // Longer frames are dropped when they would go out.
    k.frame.assign(frame, frame + std::min<u32>(len & 0xFFFF, kPacketMax));
    m_kept.push_back(std::move(k));
    return m_kept.back().ticket;
}

bool PassbyQueue::waiting(u32 ticket) const
{
    if (ticket == 0)
        return false;
    if (m_due.active && m_due.ticket == ticket)
        return true;
    return std::any_of(m_kept.begin(), m_kept.end(), [ticket](const Kept& k) { return k.ticket == ticket; });
}

void PassbyQueue::forget_host(u8 link, u32 host)
{
    if (count(link, host) > 0)
        return;
    std::deque<u32>& hosts = m_hosts[link];
    hosts.erase(std::remove(hosts.begin(), hosts.end(), host), hosts.end());
}

bool PassbyQueue::give_way(size_t held)
{
    // The address (on its link) keeping the most gives up its latest request, if it keeps
    // more than the newcomer's: a full queue does not shut the other PCs out.
    std::map<std::pair<u8, u32>, size_t> kept;
    const Kept* most = nullptr;
    size_t mostCount = 0;
    for (const Kept& k : m_kept) {
        const size_t n = ++kept[{k.link, k.host}];
        if (n > mostCount || (n == mostCount && most && k.link == most->link && k.host == most->host)) {
            most = &k;
            mostCount = n;
        }
    }
    if (!most || mostCount <= held)
        return false;
    withdraw(most->ticket);
    return true;
}

void PassbyQueue::withdraw(u32 ticket)
{
    if (ticket == 0)
        return;
    if (m_due.active && m_due.ticket == ticket)
        m_due.ticket = 0;   // its answer, if it comes, goes to nobody
    for (auto it = m_kept.begin(); it != m_kept.end(); ++it) {
        if (it->ticket == ticket) {
            const u8 link = it->link;
            const u32 host = it->host;
            m_kept.erase(it);
            forget_host(link, host);
            return;
        }
    }
}

bool PassbyQueue::take(Kept& out, u32 now)
{
    m_late.erase(std::remove_if(m_late.begin(), m_late.end(), [now](const Late& l) { return int32_t(now - l.until) >= 0; }),
                 m_late.end());
    // Requests no PC waits for any more go first: they are dropped, whoever's turn it is.
    for (auto it = m_kept.begin(); it != m_kept.end();) {
        auto next = std::next(it);
        if (u32(now - it->arrived) >= PC_WAIT_TICKS)
            withdraw(it->ticket);
        it = next;
    }
    for (int step = 1; step < LINKS; ++step) {
        const u8 link = u8((m_lastLink + step - 1) % (LINKS - 1) + 1);
        std::deque<u32>& hosts = m_hosts[link];
        for (auto h = hosts.begin(); h != hosts.end(); ++h) {
            const u32 host = *h;
            auto it = std::find_if(m_kept.begin(), m_kept.end(),
                                   [&](const Kept& k) { return k.link == link && k.host == host; });
            if (it == m_kept.end())
                continue;   // cannot happen: an address is in turn only while it keeps requests
            Target t;
            if (target_of(it->frame.data(), u32(it->frame.size()), t)
                && std::any_of(m_late.begin(), m_late.end(), [&t](const Late& l) { return alike(l.target, t); }))
                continue;   // its answer could be taken for a late one: it keeps its place
            out = std::move(*it);
            m_kept.erase(it);
            hosts.erase(h);
            if (count(link, host) > 0)
                hosts.push_back(host);   // its next request waits for the others' turns
            m_lastLink = link;
            return true;
        }
    }
    return false;
}

void PassbyQueue::start(const Kept& k, const Target& t, u32 now)
{
    m_due = Due();
    m_due.active = true;
    m_due.ticket = k.ticket;
    m_due.link = k.link;
    m_due.target = t;
    m_due.sent = now;
    m_due.sending = true;
}

void PassbyQueue::sent(u32 ticket, u32 now)
{
    if (!m_due.active || m_due.sending == false)
        return;
    if (m_due.ticket != ticket && m_due.ticket != 0)
        return;
    m_due.sent = now;
    m_due.sending = false;
}

PassbyQueue::u8 PassbyQueue::expire(u32 now)
{
    if (!m_due.active || m_due.sending || u32(now - m_due.sent) <= WAIT_TICKS)
        return 0;
    const u8 link = m_due.link;
    m_late.push_back(Late{m_due.target, now + LATE_TICKS});
    m_due = Due();
    return link;
}

bool PassbyQueue::answers(const Target& t, int port, u16 card, u8 tag, u8 command)
{
    return tag == t.tag && command == t.command && t.allPorts == (port < 0)
           && (t.allPorts || (port == t.port && (t.anyCard || (card & 0x0FFF) == t.card)));
}

bool PassbyQueue::alike(const Target& a, const Target& b)
{
    return a.tag == b.tag && a.command == b.command && a.allPorts == b.allPorts
           && (a.allPorts || (a.port == b.port && (a.anyCard || b.anyCard || a.card == b.card)));
}

bool PassbyQueue::match(int port, u16 card, u8 tag, u8 command, u32& ticket, u8& link)
{
    if (!m_due.active || !answers(m_due.target, port, card, tag, command)) {
        // A late answer is taken by nobody; its request is answered now.
        auto late = std::find_if(m_late.begin(), m_late.end(), [&](const Late& l) { return answers(l.target, port, card, tag, command); });
        if (late != m_late.end())
            m_late.erase(late);
        return false;
    }
    ticket = m_due.ticket;
    link = m_due.link;
    m_due = Due();
    return true;
}
