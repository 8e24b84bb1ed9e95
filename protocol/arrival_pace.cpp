#include "protocol/arrival_pace.h"

uint64_t ArrivalPace::arrive(uint32_t address, size_t holding)
{
    Slot& slot = m_seen[slot_of(address)];
    const bool seen = slot.address == address && slot.arrival != 0;
    ++m_arrivals;
    slot.pace = ~(seen ? m_arrivals - slot.arrival : holding + 1);
    slot.address = address;
    slot.arrival = m_arrivals;
    return slot.pace;
}

uint64_t ArrivalPace::last(uint32_t address) const
{
    const Slot& slot = m_seen[slot_of(address)];
    return slot.address == address && slot.arrival != 0 ? slot.pace : 0;
}
