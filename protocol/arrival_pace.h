#pragma once
// How soon each address comes back: of the addresses seen lately, the number of the arrival
// each last made, in a table of fixed size (an address found in another's slot counts as not
// seen). One rule for every list a link shares out by address (UDP frames and frames being
// joined; TCP places and newcomers waiting for one): of several holding as many, the one
// coming back the soonest gives way, so a flood gives way among itself and a PC asking now
// and then keeps its turn, however many addresses flood.

#include <cstddef>
#include <cstdint>
#include <vector>

class ArrivalPace {
public:
    // Several times the largest list it shares out: a flood from every address the lists
    // can hold, and more, is still told apart from a PC coming back once a second.
    static constexpr size_t SLOTS = 4096;

    // Notes an arrival of address; its pace (the higher, the sooner after its previous one).
    // An address not seen lately arrives as though in turn with the `holding` others.
    uint64_t arrive(uint32_t address, size_t holding);
    // The pace its last arrival was given; 0 (the slowest) when not seen lately.
    uint64_t last(uint32_t address) const;

private:
    struct Slot {
        uint32_t address = 0;
        uint64_t arrival = 0;   // its number; 0: none
        uint64_t pace = 0;
    };
    static size_t slot_of(uint32_t address) { return ((address * 2654435761u) >> 20) % SLOTS; }
    std::vector<Slot> m_seen = std::vector<Slot>(SLOTS);
    uint64_t m_arrivals = 0;
};
