#pragma once
// A claim on something several PCs share one at a time (the file buffer, the file a read
// transfer has open, the cloud-file read record), held by the link and peer that started a
// transfer. The claim lapses, so that anyone else may take it, when its transfer has added
// no new bytes for a while or has lived too long: a PC that went away, or one that only
// keeps the claim warm with repeated starts, empty blocks or blocks it already sent, cannot
// hold it for ever. Not locked: its owner guards it.

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

// Who holds a transfer: the link (its command handler) and the peer on that link (a TCP
// connection or a UDP sender); users with one peer leave it empty.
struct FileBufHolder {
    const void* link = nullptr;
    uint64_t peer = 0;
    bool operator==(const FileBufHolder& o) const { return link == o.link && peer == o.peer; }
    bool operator!=(const FileBufHolder& o) const { return !(*this == o); }
};

class TransferHold {
public:
    using Holder = FileBufHolder;
    // 10 ms ticks without a new byte after which the claim lapses.
    static constexpr uint32_t kIdleTicks = 3000;
    // 10 ms ticks after which the claim lapses however it goes: the largest file (5 MiB)
    // crosses the slowest link (115200 baud) in under 8 minutes.
    static constexpr uint32_t kLifeTicks = 20 * 60 * 100;

    bool held() const { return m_held; }
    bool heldBy(const Holder& h) const { return m_held && m_holder == h; }
    const Holder& holder() const { return m_holder; }
    // Finished with, no new bytes for kIdleTicks, or older than kLifeTicks.
    bool lapsed() const;
    // The holder is done: it keeps the claim until anyone else takes it, which they may at once.
    void settle() { m_settled = m_held; }
    // Takes the claim for h when it is free, already h's, or lapsed; a new holder's idle
    // time and life start now, h's own claim keeps both (a repeated start is no progress).
    [[nodiscard]] bool take(const Holder& h);
    // Gives the claim to h whoever held it; its idle time and life start now, unless h
    // released it itself less than kIdleTicks ago: then they go on from where they were, so
    // a transfer cut short on purpose (a refused start, a wrong digest) and begun again
    // does not renew the claim.
    void start(const Holder& h);
    // The holder is busy with what it received (storing it): that counts as progress.
    void touch();
    // A block of n bytes at offset went through: the idle time starts again when some of
    // its bytes were not seen before in this claim.
    void progress(uint32_t offset, uint32_t n);
    void release();
    // Forgets the claim and its last holder (a fresh start of the program, tests).
    void reset();

private:
    // Byte ranges seen so far, sorted and disjoint. Kept short: beyond kMaxRanges, a block
    // that would open a new range is no progress (a PC sends its file in order, or nearly).
    static constexpr size_t kMaxRanges = 64;
    std::vector<std::pair<uint64_t, uint64_t>> m_seen;
    bool m_held = false;
    bool m_settled = false;
    Holder m_holder;
    uint32_t m_stamp = 0;   // tick of the last new byte (or of the start)
    uint32_t m_since = 0;   // tick at which this holder took the claim
    // The last holder that released the claim, when, and its times then.
    bool m_hasLast = false;
    Holder m_last;
    uint32_t m_released = 0, m_lastStamp = 0, m_lastSince = 0;
};
