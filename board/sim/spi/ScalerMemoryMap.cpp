#include "board/sim/spi/ScalerMemoryMap.h"

#include "board/sim/ScalerModel.h"

#include <algorithm>
#include <cstdio>

namespace sim {

namespace {
uint64_t value(int bank, int reg, int bytes, int channel = 0)
{
    uint64_t v = 0;
    for (int i = 0; i < bytes; ++i)
        v |= uint64_t(ScalerModel::reg(bank + 0x10 * channel, reg + i)) << (8 * i);
    return v;
}

// Bytes of a line of n pixels in the packing a channel's code names: whole pixel groups
// (4 bytes a pixel; 16 bytes per 5; 8 bytes per 3; 2 bytes a pixel).
uint64_t packedBytes(int code, uint64_t n)
{
    uint64_t bytes = 4, pixels = 1;
    if (code == 0x80) {
        bytes = 16;
        pixels = 5;
    } else if (code == 0x01) {
        bytes = 8;
        pixels = 3;
    } else if (code == 0x11) {
        bytes = 2;
    }
    return (n + pixels - 1) / pixels * bytes;
}

// Samples a reduction by a 16.16 step keeps of n: the first, and one per whole step.
uint64_t reduced(uint64_t n, uint64_t step)
{
    return n == 0 ? 0 : (((n - 1) * step) >> 16) + 1;
}

std::vector<ScalerMemoryMap::Range> spread(uint64_t first, int64_t step, uint64_t bytes, uint64_t count)
{
    std::vector<ScalerMemoryMap::Range> out;
    out.reserve(count);
    for (uint64_t y = 0; y < count; ++y) {
        // Addresses are 32-bit: a buffer address one line before 0 reads its first line at 0.
        const uint64_t b = (first + uint64_t(int64_t(y) * step)) & 0xFFFFFFFFu;
        out.push_back({b, b + bytes});
    }
    return out;
}

std::vector<ScalerMemoryMap::Range> merged(std::vector<ScalerMemoryMap::Range> v)
{
    std::sort(v.begin(), v.end(), [](const auto& a, const auto& b) { return a.begin < b.begin; });
    std::vector<ScalerMemoryMap::Range> out;
    for (const auto& r : v) {
        if (r.end <= r.begin)
            continue;
        if (!out.empty() && r.begin <= out.back().end)
            out.back().end = std::max(out.back().end, r.end);
        else
            out.push_back(r);
    }
    return out;
}

std::string text(uint64_t a, uint64_t b)
{
    char s[64];
    std::snprintf(s, sizeof s, "[0x%llx, 0x%llx)", (unsigned long long)a, (unsigned long long)b);
    return s;
}
} // namespace

std::vector<ScalerMemoryMap::Capture> ScalerMemoryMap::captures()
{
    std::vector<Capture> out;
    for (int c = 0; c < 8; ++c) {
        const uint64_t width = value(0x10, 0x19, 2, c);
        if (width == 0)
            continue;
        Capture cap;
        cap.ich = c;
        cap.source = int(value(0, 0x10 + c, 1));
        cap.port = cap.source < 8 ? cap.source / 2 : cap.source < 12 ? 4 : cap.source < 16 ? 5 : -1;
        const uint64_t order = value(0x16, 0x66, 3, c);
        for (int k = 0; k < 5; ++k) {
            cap.order[k] = int((order >> (4 * k)) & 7);
            cap.buffer[k] = value(0x16, 0x1C + 4 * k, 4, c);
        }
        cap.pitch = int64_t(value(0x16, 0x31, 1, c)) * 1024;
        const uint64_t pixels = value(0x11, 0x44, 1, c) == 199 ? reduced(width, value(0x11, 0x47, 2, c)) : width;
        const uint64_t height = value(0x10, 0x1D, 2, c);
        cap.lines = value(0x11, 0x49, 1, c) == 0x84 ? reduced(height, value(0x11, 0x4C, 2, c)) : height;
        cap.lineBytes = packedBytes(int(value(0, 0x71 + c, 1)), pixels);
        out.push_back(cap);
    }
    return out;
}

std::vector<ScalerMemoryMap::Readout> ScalerMemoryMap::readouts()
{
    std::vector<Readout> out;
    for (int c = 0; c < 8; ++c) {
        const uint64_t width = value(0x08, 0x42, 2, c);
        const uint64_t height = value(0x08, 0x46, 2, c);
        const uint64_t margin = value(0x0A, 0x44, 1, c) == 3 ? 2 : 1;
        if (width == 0 || height <= margin)
            continue;
        Readout r;
        r.och = c;
        const uint64_t order = value(0x16, 0x6C, 2, c);
        for (int k = 0; k < 4; ++k)
            r.order[k] = int((order >> (4 * k)) & 7);
        for (int k = 0; k < 5; ++k)
            r.buffer[k] = value(0x16, 0x08 + 4 * k, 4, c);
        r.step = int64_t(int8_t(uint8_t(value(0x16, 0x30, 1, c)))) * 1024;
        r.firstLine = value(0x0A, 0x4B, 1, c) == 5 ? uint64_t(r.step) : 0;
        r.lineBytes = packedBytes(int(value(0, 0x69 + c, 1)), width);
        r.lines = height - margin;
        out.push_back(r);
    }
    return out;
}

std::set<int> ScalerMemoryMap::ports(const std::vector<Capture>& caps)
{
    std::set<int> out;
    for (const Capture& c : caps)
        out.insert(c.port);
    return out;
}

uint64_t ScalerMemoryMap::reservedStart()
{
    const uint64_t v = value(4, 0x2B, 2);
    return (v & 0x8000) ? (v & 0x7FFF) << 16 : 0;
}

std::vector<ScalerMemoryMap::Range> ScalerMemoryMap::lines(const Capture& c, int buffer)
{
    if (buffer < 0 || buffer > 4)
        return {};
    return spread(c.buffer[buffer], c.pitch, c.lineBytes, c.lines);
}

std::vector<ScalerMemoryMap::Range> ScalerMemoryMap::lines(const Readout& r, int buffer)
{
    if (buffer < 0 || buffer > 4)
        return {};
    return spread(r.buffer[buffer] + r.firstLine, r.step, r.lineBytes, r.lines);
}

std::string ScalerMemoryMap::outside(std::vector<Range> want, std::vector<Range> have)
{
    want = merged(std::move(want));
    have = merged(std::move(have));
    size_t h = 0;
    for (const Range& w : want) {
        uint64_t at = w.begin;
        while (at < w.end) {
            while (h < have.size() && have[h].end <= at)
                ++h;
            if (h == have.size() || have[h].begin > at)
                return text(at, h == have.size() ? w.end : std::min(w.end, have[h].begin));
            at = have[h].end;
        }
    }
    return "";
}

std::string ScalerMemoryMap::overlap(std::vector<Range> a, std::vector<Range> b)
{
    a = merged(std::move(a));
    b = merged(std::move(b));
    size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        const uint64_t lo = std::max(a[i].begin, b[j].begin), hi = std::min(a[i].end, b[j].end);
        if (lo < hi)
            return text(lo, hi);
        if (a[i].end < b[j].end)
            ++i;
        else
            ++j;
    }
    return "";
}

std::string ScalerMemoryMap::clashes(const std::vector<Capture>& caps)
{
    const uint64_t reserved = reservedStart();
    if (reserved == 0)
        return "no reserved top of memory";
    for (size_t i = 0; i < caps.size(); ++i) {
        const std::string ich = "ICH " + std::to_string(caps[i].ich);
        if (caps[i].lineBytes > uint64_t(caps[i].pitch < 0 ? -caps[i].pitch : caps[i].pitch))
            return ich + ": a line longer than its pitch";
        for (int k = 0; k < 4; ++k) {
            const auto mine = lines(caps[i], caps[i].order[k]);
            if (mine.empty())
                return ich + ": writes no line";   // nothing to compare would prove nothing
            if (mine.back().end > reserved)
                return ich + ": into the reserved top of memory";
            for (size_t j = i + 1; j < caps.size(); ++j)
                for (int l = 0; l < 4; ++l) {
                    const std::string both = overlap(mine, lines(caps[j], caps[j].order[l]));
                    if (!both.empty())
                        return ich + " and ICH " + std::to_string(caps[j].ich) + " share " + both;
                }
        }
    }
    return "";
}

std::string ScalerMemoryMap::unwritten(const Readout& r, const std::vector<Capture>& caps)
{
    int compared = 0;   // field slots whose lines were compared
    for (int k = 0; k < 4; ++k) {
        std::vector<Range> written;
        for (const Capture& c : caps)
            for (int j = 0; j < 4; ++j)
                if (c.order[j] == r.order[k]) {
                    const auto l = lines(c, r.order[k]);
                    written.insert(written.end(), l.begin(), l.end());
                }
        const auto read = lines(r, r.order[k]);
        const std::string out = outside(read, written);
        if (!out.empty())
            return "OCH " + std::to_string(r.och) + " slot " + std::to_string(k) + " reads " + out;
        compared += read.empty() ? 0 : 1;
    }
    return compared == 4 ? "" : "OCH " + std::to_string(r.och) + " reads no line in some field slot";
}

} // namespace sim
