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

// Pixels in one pixel group of a packing code (4 bytes a pixel; 16 bytes per 5; 8 bytes per
// 3; 2 bytes a pixel).
uint64_t groupPixels(int code)
{
    return code == 0x80 ? 5 : code == 0x01 ? 3 : 1;
}

// Bytes of a line of n pixels in the packing a channel's code names: whole pixel groups.
uint64_t packedBytes(int code, uint64_t n)
{
    const uint64_t pixels = groupPixels(code);
    return (n + pixels - 1) / pixels * ScalerMemoryMap::groupBytes(code);
}

// Samples a reduction by a 16.16 step keeps of n with an 8-bit first-sample phase: the
// position starts at phase / 256 (phase 0: at a whole step, the first sample kept), moves
// by the step a sample, and a sample is kept each time it passes a whole one.
uint64_t reduced(uint64_t n, uint64_t step, uint64_t phase)
{
    if (n == 0)
        return 0;
    const uint64_t start = phase ? phase << 8 : 0x10000;
    return (start + (n - 1) * step) >> 16;
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
    auto before = [](const auto& a, const auto& b) { return a.begin < b.begin; };
    if (!std::is_sorted(v.begin(), v.end(), before))   // lines mostly come in address order
        std::sort(v.begin(), v.end(), before);
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
        const ScalerModel::Hold hold = ScalerModel::hold(c);
        cap.heldSlot = hold.slot;
        if (hold.slot >= 0)
            cap.heldFrame = hold.buffer[((hold.order >> (4 * ((hold.slot + 3) % 4))) & 7) % 5];
        cap.deinterlaced = c < 4 && value(0x16, 0x5B, 1, c) == 1;
        cap.packing = int(value(0, 0x71 + c, 1));
        cap.port = cap.source < 8 ? cap.source / 2 : cap.source < 12 ? 4 : cap.source < 16 ? 5 : -1;
        const uint64_t order = value(0x16, 0x66, 3, c);
        for (int k = 0; k < 5; ++k) {
            cap.order[k] = int((order >> (4 * k)) & 7);
            cap.buffer[k] = value(0x16, 0x1C + 4 * k, 4, c);
        }
        cap.pitch = int64_t(value(0x16, 0x31, 1, c)) * 1024;
        const uint64_t pixels = value(0x11, 0x44, 1, c) == 199
                                    ? reduced(width, value(0x11, 0x47, 2, c), value(0x11, 0x45, 1, c))
                                    : width;
        const uint64_t height = value(0x10, 0x1D, 2, c) * (cap.deinterlaced ? 2 : 1);
        cap.lines = value(0x11, 0x49, 1, c) == 0x84
                        ? reduced(height, value(0x11, 0x4C, 2, c), value(0x11, 0x4A, 1, c))
                        : height;
        cap.lineBytes = packedBytes(cap.packing, pixels);
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
        r.packing = int(value(0, 0x69 + c, 1));
        r.lineBytes = packedBytes(r.packing, width);
        r.lines = height - margin;
        out.push_back(r);
    }
    return out;
}

bool ScalerMemoryMap::held(const std::vector<Capture>& caps)
{
    return std::any_of(caps.begin(), caps.end(), [](const Capture& c) { return c.heldSlot >= 0; });
}

std::set<int> ScalerMemoryMap::ports(const std::vector<Capture>& caps)
{
    std::set<int> out;
    for (const Capture& c : caps)
        out.insert(c.port);
    return out;
}

uint64_t ScalerMemoryMap::groupBytes(int packing)
{
    return packing == 0x80 ? 16 : packing == 0x01 ? 8 : packing == 0x11 ? 2 : 4;
}

uint64_t ScalerMemoryMap::reservedStart()
{
    const uint64_t v = value(4, 0x2B, 2);
    uint64_t top = (v & 0x8000) ? (v & 0x7FFF) << 16 : 0;
    std::vector<uint64_t> osd = {value(4, 0x0D, 4), value(4, 0x11, 4)};   // the drawing engine's last copy
    for (int k = 0; k < 8; ++k)
        osd.push_back(value(9, 0x1A, 4, k));   // what the OSD windows show: the canvas or its copy
    for (uint64_t a : osd)
        top = a && top ? std::min(top, a) : top;
    return top;
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

bool ScalerMemoryMap::sharing(std::vector<Range> a, std::vector<Range> b)
{
    a = merged(std::move(a));
    b = merged(std::move(b));
    for (size_t i = 0, j = 0; i < a.size() && j < b.size();) {
        if (a[i].end <= b[j].begin)
            ++i;
        else if (b[j].end <= a[i].begin)
            ++j;
        else
            return true;
    }
    return false;
}

std::string ScalerMemoryMap::clashes(const std::vector<Capture>& caps)
{
    const uint64_t reserved = reservedStart();
    if (reserved == 0)
        return "no reserved top of memory";
    // Every line of every buffer, tagged with its capture and buffer; swept in address order,
    // a line that begins before the furthest end so far of another buffer shares bytes.
    struct Tagged {
        Range r;
        int cap, buffer;
    };
    std::vector<Tagged> all;
    auto name = [&](int cap, int buffer) {
        return "ICH " + std::to_string(caps[size_t(cap)].ich) + " buffer " + std::to_string(buffer);
    };
    for (size_t i = 0; i < caps.size(); ++i) {
        const Capture& c = caps[i];
        const std::string ich = "ICH " + std::to_string(c.ich);
        if (c.lineBytes > uint64_t(c.pitch < 0 ? -c.pitch : c.pitch))
            return ich + ": a line longer than its pitch";
        if (c.lines == 0)
            continue;   // a port without a picture: nothing is written (nor can it be read)
        for (int b = 0; b < 5; ++b)
            for (const Range& r : lines(c, b)) {
                if (r.end > reserved)
                    return name(int(i), b) + ": into the reserved top of memory";
                all.push_back({r, int(i), b});
            }
    }
    std::sort(all.begin(), all.end(), [](const Tagged& a, const Tagged& b) { return a.r.begin < b.r.begin; });
    const Tagged* furthest = nullptr;
    for (const Tagged& t : all) {
        if (furthest && t.r.begin < furthest->r.end && (t.cap != furthest->cap || t.buffer != furthest->buffer))
            return name(furthest->cap, furthest->buffer) + " and " + name(t.cap, t.buffer) + " share " +
                   text(t.r.begin, std::min(t.r.end, furthest->r.end));
        if (!furthest || t.r.end > furthest->r.end)
            furthest = &t;
    }
    return "";
}

std::string ScalerMemoryMap::unwritten(const Readout& r, const std::vector<Capture>& own)
{
    const std::string och = "OCH " + std::to_string(r.och);
    int heldSlot = -1;   // the read-out's field stops where its held capture's did
    for (const Capture& c : own)
        heldSlot = c.heldSlot >= 0 ? c.heldSlot : heldSlot;
    int compared = 0, slots = 0;   // field slots whose lines were compared, and to compare
    for (int k = 0; k < 4; ++k) {
        if (heldSlot >= 0 && k != heldSlot)
            continue;
        ++slots;
        const int b = r.order[k];
        const std::string slot = och + " slot " + std::to_string(k);
        // The lines finished for this slot, each with the packing it was written in.
        struct Written {
            Range r;
            int packing;
        };
        std::vector<Written> written;
        for (const Capture& c : own) {
            if (c.heldSlot < 0 && c.order[k] == b)
                return slot + " reads buffer " + std::to_string(b) + " while ICH " + std::to_string(c.ich) +
                       " writes it";
            if (c.heldSlot >= 0)
                for (const Range& l : spread(c.heldFrame, c.pitch, c.lineBytes, c.lines))
                    written.push_back({l, c.packing});
            else if (c.order[(k + 3) % 4] == b)
                for (const Range& l : lines(c, b))
                    written.push_back({l, c.packing});
        }
        std::sort(written.begin(), written.end(), [](const Written& x, const Written& y) { return x.r.begin < y.r.begin; });
        const auto read = lines(r, b);
        std::vector<Range> have;
        for (const Written& w : written)
            have.push_back(w.r);
        const std::string out = outside(read, have);
        if (!out.empty())
            return slot + " reads " + out + " not finished in buffer " + std::to_string(b);
        // The read takes pixel groups from where a group begins, in the packing they were
        // written in.
        for (const Range& l : read) {
            auto w = std::upper_bound(written.begin(), written.end(), l.begin,
                                      [](uint64_t a, const Written& x) { return a < x.r.begin; });
            if (w != written.begin())
                --w;
            for (; w != written.end() && w->r.begin < l.end; ++w) {
                if (w->r.end <= l.begin)
                    continue;
                if (w->packing != r.packing)
                    return slot + " reads packing " + std::to_string(r.packing) + " written as " + std::to_string(w->packing);
                const int64_t apart = int64_t(l.begin) - int64_t(w->r.begin);
                if (apart % int64_t(groupBytes(r.packing)) != 0)
                    return slot + " reads from " + text(l.begin, l.end) + ", " + std::to_string(apart) +
                           " bytes from a group of the line at " + text(w->r.begin, w->r.end);
            }
        }
        compared += read.empty() ? 0 : 1;
    }
    return compared == slots ? "" : och + " reads no line in some field slot";
}

} // namespace sim
