#include "protocol/arrival_pace.h"

uint64_t ArrivalPace::arrive(uint32_t address, size_t holding)
{
    auto& slot = m_seen[((address * 2654435761u) >> 20) % SLOTS];
    const bool seen = slot.first == address && slot.second != 0;
    const uint64_t previous = slot.second;
    slot = {address, ++m_arrivals};
    return ~(seen ? m_arrivals - previous : holding + 1);
}
