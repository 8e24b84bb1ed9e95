#include "board/sim/spi/SparseMemory.h"

#include <algorithm>
#include <iterator>
#include <cstring>

namespace sim {

SparseMemory::Page& SparseMemory::page(uint32_t number)
{
    auto it = pages_.find(number);
    if (it == pages_.end()) {
        Page p;
        p.value = absentValue(number);
        it = pages_.emplace(number, std::move(p)).first;
    }
    return it->second;
}

const SparseMemory::Page* SparseMemory::find(uint32_t number) const
{
    auto it = pages_.find(number);
    return it == pages_.end() ? nullptr : &it->second;
}

uint8_t SparseMemory::absentValue(uint32_t number) const
{
    auto next = runs_.upper_bound(number);
    if (next == runs_.begin())
        return fill_;
    const auto& run = std::prev(next)->second;
    return number < run.end ? run.value : fill_;
}

bool SparseMemory::joinRun(uint32_t number, uint8_t v)
{
    auto next = runs_.upper_bound(number);
    if (next != runs_.begin()) {
        auto prev = std::prev(next);
        if (number < prev->second.end)
            return prev->second.value == v;
        if (number == prev->second.end && prev->second.value == v) {
            prev->second.end = number + 1;
            if (next != runs_.end() && next->first == number + 1 && next->second.value == v) {
                prev->second.end = next->second.end;
                runs_.erase(next);
            }
            return true;
        }
    }
    if (next != runs_.end() && next->first == number + 1 && next->second.value == v) {
        const Run run = next->second;
        runs_.erase(next);
        runs_.emplace(number, run);
        return true;
    }
    runs_.emplace(number, Run{number + 1, v});
    return true;
}

// A stored page whose bytes have become all alike goes back to taking no storage.
void SparseMemory::settle(Page& p)
{
    if (p.uniform)
        return;
    const uint8_t v = p.bytes[0];
    for (uint8_t b : p.bytes)
        if (b != v)
            return;
    p.uniform = true;
    p.value = v;
    std::vector<uint8_t>().swap(p.bytes);
}

bool SparseMemory::uniformPart(uint32_t number, uint32_t offset, uint32_t n, uint8_t& v) const
{
    const Page* p = find(number);
    if (!p || p->uniform) {
        v = p ? p->value : absentValue(number);
        return true;
    }
    v = p->bytes[offset];
    for (uint32_t i = 1; i < n; ++i)
        if (p->bytes[offset + i] != v)
            return false;
    return true;
}

uint8_t SparseMemory::get(uint32_t a) const
{
    a = wrap(a);
    const Page* p = find(a / kPage);
    if (!p)
        return absentValue(a / kPage);
    return p->uniform ? p->value : p->bytes[a % kPage];
}

void SparseMemory::set(uint32_t a, uint8_t v)
{
    write(a, &v, 1);
}

void SparseMemory::read(uint32_t a, uint8_t* out, uint32_t n) const
{
    for (uint32_t done = 0; done < n;) {
        const uint32_t at = wrap(uint64_t(a) + done), off = at % kPage;
        const uint32_t len = std::min(n - done, kPage - off);
        const Page* p = find(at / kPage);
        if (!p || p->uniform)
            std::memset(out + done, p ? p->value : absentValue(at / kPage), len);
        else
            std::memcpy(out + done, p->bytes.data() + off, len);
        done += len;
    }
}

void SparseMemory::write(uint32_t a, const uint8_t* in, uint32_t n)
{
    for (uint32_t done = 0; done < n;) {
        const uint32_t at = wrap(uint64_t(a) + done), off = at % kPage;
        const uint32_t len = std::min(n - done, kPage - off);
        Page& p = page(at / kPage);
        if (p.uniform) {
            p.bytes.assign(kPage, p.value);
            p.uniform = false;
        }
        std::memcpy(p.bytes.data() + off, in + done, len);
        if (len >= 256)
            settle(p);   // bulk writes only: a scan per single byte would cost too much
        done += len;
    }
}

void SparseMemory::fill(uint32_t a, uint8_t v, uint32_t n)
{
    for (uint32_t done = 0; done < n;) {
        const uint32_t at = wrap(uint64_t(a) + done), off = at % kPage;
        const uint32_t len = std::min(n - done, kPage - off);
        if (len == kPage) {
            if (joinRun(at / kPage, v)) {
                pages_.erase(at / kPage);
            } else {
                Page& p = page(at / kPage);
                p.uniform = true;
                p.value = v;
                std::vector<uint8_t>().swap(p.bytes);
            }
            done += len;
            continue;
        }
        Page& p = page(at / kPage);
        if (!p.uniform || p.value != v) {
            if (p.uniform) {
                p.bytes.assign(kPage, p.value);
                p.uniform = false;
            }
            std::memset(p.bytes.data() + off, v, len);
            settle(p);
        }
        done += len;
    }
}

void SparseMemory::andBytes(uint32_t a, const uint8_t* in, uint32_t n)
{
    for (uint32_t i = 0; i < n; ++i)
        set(a + i, uint8_t(get(a + i) & in[i]));
}

void SparseMemory::copyFrom(const SparseMemory& src, uint32_t s, uint32_t d, uint32_t n)
{
    std::vector<uint8_t> chunk;
    for (uint32_t done = 0; done < n;) {
        // One destination page at a time; its source may straddle two source pages.
        const uint32_t from = src.wrap(uint64_t(s) + done), to = wrap(uint64_t(d) + done);
        const uint32_t len = std::min(n - done, kPage - to % kPage);
        const uint32_t first = std::min(len, kPage - from % kPage);
        uint8_t v, v2;
        const bool uniform = src.uniformPart(from / kPage, from % kPage, first, v) &&
                             (first == len ||
                              (src.uniformPart(src.wrap(uint64_t(from) + first) / kPage, 0, len - first, v2) && v2 == v));
        if (uniform) {
            fill(to, v, len);
        } else {
            chunk.resize(len);
            src.read(from, chunk.data(), len);
            write(to, chunk.data(), len);
        }
        done += len;
    }
}

size_t SparseMemory::storedPages() const
{
    size_t n = 0;
    for (const auto& p : pages_)
        n += p.second.uniform ? 0 : 1;
    return n;
}

} // namespace sim
