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
    m_keptTickets.insert(k.ticket);
    m_kept.push_back(std::move(k));
    return m_kept.back().ticket;
}

bool PassbyQueue::waiting(u32 ticket) const
{
    if (ticket == 0)
        return false;
    if (std::any_of(m_dues.begin(), m_dues.end(), [ticket](const Due& d) { return d.ticket == ticket; }))
        return true;
    return m_keptTickets.count(ticket) != 0;
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
    for (Due& d : m_dues)
        if (d.ticket == ticket)
            d.ticket = 0;   // its answer, if it comes, goes to nobody
    for (auto it = m_kept.begin(); it != m_kept.end(); ++it) {
        if (it->ticket == ticket) {
            const u8 link = it->link;
            const u32 host = it->host;
            m_keptTickets.erase(ticket);
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
    // Each address's requests, found at once: with the queue full of requests for silent
    // ports, a look for one that can go costs one walk, not one a waiting address.
    std::map<std::pair<u8, u32>, std::vector<std::list<Kept>::iterator>> of;
    for (auto it = m_kept.begin(); it != m_kept.end(); ++it)
        of[{it->link, it->host}].push_back(it);
    for (int step = 1; step < LINKS; ++step) {
        const u8 link = u8((m_lastLink + step - 1) % (LINKS - 1) + 1);
        std::deque<u32>& hosts = m_hosts[link];
        for (auto h = hosts.begin(); h != hosts.end(); ++h) {
            const u32 host = *h;
            std::vector<Target> passed;   // the address's earlier requests that keep their place
            const std::vector<std::list<Kept>::iterator>& mine = of[{link, host}];
            auto pick = mine.begin();
            for (; pick != mine.end(); ++pick) {
                Target t;
                if (!target_of((*pick)->frame.data(), u32((*pick)->frame.size()), t))
                    break;   // nothing waits for its answer: it goes as it may
                if (!held(t) && std::none_of(passed.begin(), passed.end(), [&t](const Target& p) { return overlap(p, t); })
                    && std::none_of(m_late.begin(), m_late.end(), [&t](const Late& l) { return alike(l.target, t); }))
                    break;
                passed.push_back(t);   // its ports are busy, or its answer could be taken for a late one
            }
            if (pick == mine.end())
                continue;
            out = std::move(**pick);
            m_keptTickets.erase(out.ticket);
            m_kept.erase(*pick);
            hosts.erase(h);
            if (mine.size() > 1)
                hosts.push_back(host);   // its next request waits for the others' turns
            m_lastLink = link;
            return true;
        }
    }
    return false;
}

bool PassbyQueue::held(const Target& t) const
{
    return std::any_of(m_dues.begin(), m_dues.end(), [&t](const Due& d) { return overlap(d.target, t); })
           || std::any_of(outgoing.begin(), outgoing.end(), [&t](const Outgoing& o) {
                  return t.allPorts || std::find(o.ports.begin(), o.ports.end(), t.port) != o.ports.end();
              });
}

PassbyQueue::u32 PassbyQueue::start(const Kept& k, const Target& t, u32 now)
{
    Due d;
    do
        d.number = ++m_dueNumbers;
    while (d.number == 0);
    d.ticket = k.ticket;
    d.link = k.link;
    d.target = t;
    d.sent = now;
    d.sending = true;
    m_dues.push_back(d);
    return d.number;
}

void PassbyQueue::sent(u32 due, u32 now)
{
    for (Due& d : m_dues)
        if (d.number == due && d.sending) {
            d.sent = now;
            d.sending = false;
        }
}

void PassbyQueue::end(u32 due)
{
    m_dues.erase(std::remove_if(m_dues.begin(), m_dues.end(), [due](const Due& d) { return d.number == due; }), m_dues.end());
}

PassbyQueue::u8 PassbyQueue::expire(u32 now)
{
    u8 link = 0;
    for (auto it = m_dues.begin(); it != m_dues.end();) {
        if (it->sending || u32(now - it->sent) <= WAIT_TICKS) {
            ++it;
            continue;
        }
        link = it->link;
        m_late.push_back(Late{it->target, now + LATE_TICKS});
        it = m_dues.erase(it);
    }
    return link;
}

bool PassbyQueue::answers(const Target& t, int port, u16 card, u8 tag, u8 command)
{
    return tag == t.tag && command == t.command && t.allPorts == (port < 0)
           && (t.allPorts || (port == t.port && (t.anyCard || (card & 0x0FFF) == t.card)));
}

bool PassbyQueue::alike(const Target& a, const Target& b)
{
    return a.tag == b.tag && a.command == b.command
           && (a.allPorts || b.allPorts || (a.port == b.port && (a.anyCard || b.anyCard || a.card == b.card)));
}

bool PassbyQueue::match(int port, u16 card, u8 tag, u8 command, u32& ticket, u8& link)
{
    auto due = std::find_if(m_dues.begin(), m_dues.end(), [&](const Due& d) { return answers(d.target, port, card, tag, command); });
    if (due == m_dues.end()) {
        // A late answer is taken by nobody; its request is answered now.
        auto late = std::find_if(m_late.begin(), m_late.end(), [&](const Late& l) { return answers(l.target, port, card, tag, command); });
        if (late != m_late.end())
            m_late.erase(late);
        return false;
    }
    ticket = due->ticket;
    link = due->link;
    m_dues.erase(due);
    return true;
}
