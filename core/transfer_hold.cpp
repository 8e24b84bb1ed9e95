#include "core/transfer_hold.h"

#include "core/global.h"
#include "core/utils.h"

#include <algorithm>

bool TransferHold::lapsed() const
{
    return m_held && (m_settled || Utils::getTimeSpace(m_stamp) >= kIdleTicks || Utils::getTimeSpace(m_since) >= kLifeTicks);
}

bool TransferHold::take(const Holder& h)
{
    if (heldBy(h)) {
        m_settled = false;
        return true;
    }
    if (m_held && !lapsed())
        return false;
    start(h);
    return true;
}

void TransferHold::start(const Holder& h)
{
    m_held = true;
    m_settled = false;
    m_holder = h;
    m_seen.clear();
    if (m_hasLast && m_last == h && Utils::getTimeSpace(m_released) < kIdleTicks) {
        m_stamp = m_lastStamp;
        m_since = m_lastSince;
    } else {
        m_stamp = m_since = G_timeTicks.load();
    }
}

void TransferHold::touch()
{
    if (m_held)
        m_stamp = G_timeTicks.load();
}

void TransferHold::progress(uint32_t offset, uint32_t n)
{
    if (!m_held || n == 0)
        return;
    const uint64_t from = offset, to = uint64_t(offset) + n;
    uint64_t lo = from, hi = to;
    // The first range that ends at or after lo, and the first that starts after hi: those
    // between touch [lo, hi) and merge with it.
    auto first = std::lower_bound(m_seen.begin(), m_seen.end(), lo,
                                  [](const std::pair<uint64_t, uint64_t>& r, uint64_t v) { return r.second < v; });
    auto last = first;
    uint64_t covered = 0;
    while (last != m_seen.end() && last->first <= hi) {
        if (last->first < to && last->second > from)
            covered += std::min(to, last->second) - std::max(from, last->first);
        lo = std::min(lo, last->first);
        hi = std::max(hi, last->second);
        ++last;
    }
    if (covered == n)
        return;   // nothing new
    if (first == last && m_seen.size() >= kMaxRanges)
        return;   // too scattered to count
    first = m_seen.erase(first, last);
    m_seen.insert(first, {lo, hi});
    m_stamp = G_timeTicks.load();
}

void TransferHold::release()
{
    if (m_held) {
        m_hasLast = true;
        m_last = m_holder;
        m_released = G_timeTicks.load();
        m_lastStamp = m_stamp;
        m_lastSince = m_since;
    }
    m_held = false;
    m_settled = false;
    m_holder = Holder();
    m_seen.clear();
}

void TransferHold::reset()
{
    release();
    m_hasLast = false;
    m_last = Holder();
}
