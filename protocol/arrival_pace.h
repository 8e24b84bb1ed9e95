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

private:
    std::vector<std::pair<uint32_t, uint64_t>> m_seen = std::vector<std::pair<uint32_t, uint64_t>>(SLOTS);
    uint64_t m_arrivals = 0;
};
