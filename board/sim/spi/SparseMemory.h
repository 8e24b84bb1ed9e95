#pragma once
#include <cstddef>
#include <cstdint>
#include <unordered_map>
#include <vector>

namespace sim {

// A large byte space of which only the touched parts take memory: 4 KiB pages that are
// either one value throughout (no storage) or stored byte by byte. Untouched pages hold
// the space's fill value. Addresses wrap at the size (a power of two, at most 4 GiB).
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
    void clear() { pages_.clear(); }
    size_t storedPages() const;

private:
    struct Page {
        bool uniform = true;
        uint8_t value = 0;
        std::vector<uint8_t> bytes;
    };
    uint32_t wrap(uint64_t a) const { return uint32_t(a & mask_); }
    Page& page(uint32_t number);
    const Page* find(uint32_t number) const;
    // The value every byte of [offset, offset + n) of the page holds, if they all hold one.
    bool uniformPart(uint32_t number, uint32_t offset, uint32_t n, uint8_t& v) const;
    static void settle(Page& p);

    uint8_t fill_;
    uint64_t mask_;
    std::unordered_map<uint32_t, Page> pages_;
};

} // namespace sim
