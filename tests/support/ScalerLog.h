#pragma once
// The scaler chip's transaction log as a list of byte writes, and tables of register groups
// (bank, first register, byte count, value) expanded to the bytes the chip receives, so an
// operation's whole sequence can be compared with one table.
#include "board/sim/Sim.h"

#include <cstdint>
#include <ostream>
#include <vector>

namespace kel_test {

struct ChipByte {
    int bank, reg, value;
    bool operator==(const ChipByte& o) const { return bank == o.bank && reg == o.reg && value == o.value; }
};
inline std::ostream& operator<<(std::ostream& os, const ChipByte& b)
{
    return os << std::hex << "{" << b.bank << ", 0x" << b.reg << ", 0x" << b.value << "}" << std::dec;
}

struct RegGroup {
    int bank, reg, bytes;
    uint32_t value;
};

// Little-endian, lowest register first, as the driver writes a group.
inline std::vector<ChipByte> bytesOf(const std::vector<RegGroup>& groups)
{
    std::vector<ChipByte> out;
    for (const RegGroup& g : groups)
        for (int i = 0; i < g.bytes; ++i)
            out.push_back({g.bank, g.reg + i, int((g.value >> (8 * i)) & 0xFF)});
    return out;
}

// Every register write since the log was last cleared; bank selects left out.
inline std::vector<ChipByte> chipWrites()
{
    std::vector<ChipByte> out;
    for (const sim::ScalerFrame& f : sim::ScalerModel::frames())
        if (f.write && !f.isBankSelect())
            out.push_back({f.bank, f.reg, f.value});
    return out;
}

} // namespace kel_test
