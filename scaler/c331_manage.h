#pragma once
#include <atomic>
#include <cstdint>
#include <mutex>

// The scaler manager. Every writer of scaler settings in the parameter block edits the
// block while holding c331_mutex and then raises the apply flag; the scaler thread applies
// the change to the chip and clears the flag.
class c331_manage {
public:
    static c331_manage* pInstance();
    static c331_manage* p_c331_manage;

    // Raises the apply flag to value unless it already holds a larger one, so a pending 2
    // (user-mode files to re-synchronise) is not lost to a later 1. Call with c331_mutex held.
    void raise_apply_flag(uint8_t value);

    std::mutex c331_mutex;
    // 0 nothing to apply, 1 the block changed, 2 changed and the user-mode files are to be
    // re-synchronised.
    std::atomic<uint8_t> c331_apply_flag{0};
};
