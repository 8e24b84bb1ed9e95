#pragma once
#include <cstddef>
#include <cstdint>
#include <map>
#include <unordered_map>
#include <vector>

namespace sim {

// A large byte space of which only the touched parts take memory: 4 KiB pages that are
// either one value throughout (no storage) or stored byte by byte. Whole pages set to one
// value in a row share one run entry (a chip's DMA of megabytes of erased flash is a few
// runs, not thousands of entries). Untouched pages hold the space's fill value. Addresses
// wrap at the size (a power of two, at most 4 GiB).
class SparseMemory {
public:
    static constexpr uint32_t kPage = 4096;

    SparseMemory(uint8_t fill, uint64_t size) : fill_(fill), mask_(size - 1) {}

    uint8_t get(uint32_t a) const;
    void set(uint32_t a, uint8_t v);
    void read(uint32_t a, uint8_t* out, uint32_t n) const;
    void write(uint32_t a, const uint8_t* in, uint32_t n);
    void fill(uint32_t a, uint8_t v, uint32_t n);
    // Bits only clear, as in a NOR flash program.
    void andBytes(uint32_t a, const uint8_t* in, uint32_t n);
    // n bytes from src at s to this space at d (src may be this space; ranges must not overlap).
    void copyFrom(const SparseMemory& src, uint32_t s, uint32_t d, uint32_t n);
    void clear()
    {
        pages_.clear();
        runs_.clear();
    }
    size_t storedPages() const;

private:
    struct Page {
        bool uniform = true;
        uint8_t value = 0;
        std::vector<uint8_t> bytes;
    };
    struct Run {
        uint32_t end;                 // pages [key, end) hold value
        uint8_t value;
    };
    uint32_t wrap(uint64_t a) const { return uint32_t(a & mask_); }
    // What a page without an entry of its own holds: its run's value or the fill value.
    uint8_t absentValue(uint32_t number) const;
    // Makes page number part of a run of v; false when it lies in a run of another value.
    bool joinRun(uint32_t number, uint8_t v);
    Page& page(uint32_t number);
    const Page* find(uint32_t number) const;
    // The value every byte of [offset, offset + n) of the page holds, if they all hold one.
    bool uniformPart(uint32_t number, uint32_t offset, uint32_t n, uint8_t& v) const;
    static void settle(Page& p);

    uint8_t fill_;
    uint64_t mask_;
    std::unordered_map<uint32_t, Page> pages_;   // a page's own entry goes before its run
    std::map<uint32_t, Run> runs_;
};

} // namespace sim
