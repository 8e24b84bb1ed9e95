#pragma once
#include <cstdint>
#include <mutex>

// Room on /data held for stores that an answer promised before they are made: apply-and-save
// (and a single setting) is answered from a look at the disc, and the parameter file and the
// user-mode files are written after the reply, on other threads. Whatever else writes to the
// disc in between (another file, a log) must not take the room that look counted, so it is
// taken at once as a file of that size and handed to those stores as each writes.
class StoreRoom {
public:
    // The file the room is held in; a name the start's clean-up removes.
    static constexpr const char* kPath = "/data/.store_room.tmp";

    // Holds `bytes` for the parameter file's save and, with `modes`, the user-mode files'
    // re-sync; the saves that count are those of an apply after `applied` (the scaler's
    // count). Replaces any earlier hold. 0 when held, else the reason (an errno value).
    [[nodiscard]] static int hold(uint64_t bytes, bool modes, uint32_t applied);
    // Before a store writes a file of `size` bytes through its temporary (under
    // Utils::_file_deal_mutex): gives it up to that much of the held room. Returns what it
    // gave, for settle().
    [[nodiscard]] static uint64_t lend(uint64_t size);
    // After that store: when it replaced a file that was there (the old blocks are free
    // again), the room lent goes back to the hold for the stores still to come.
    static void settle(uint64_t lent, bool replaced);
    // The parameter file was saved from the block as applied `applied` times (or the live
    // block, `whole`); the user-mode files were re-synchronised. The hold goes when both
    // stores it was for are made.
    static void para_saved(uint32_t applied, bool whole);
    static void modes_synced();
    // Nothing is to be stored after all (no setting was taken): the hold goes.
    static void drop();
    // Bytes held now.
    static uint64_t held();

private:
    static bool resize(uint64_t bytes);   // under the lock
    static void drop_if_done();           // under the lock
    static std::mutex& lock();
    static uint64_t s_held;
    static uint32_t s_applied;
    static bool s_para, s_modes;   // still to come
};
