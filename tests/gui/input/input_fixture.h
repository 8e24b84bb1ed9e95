#pragma once
// Shared set-up of the input, layout and user-mode screen tests: the screen fixture of the
// menus (known block, main window) plus the scaler manager's lock and apply flag, user-mode
// slots and alias names.
#include "core/kelrampara.h"
#include "scaler/c331_manage.h"
#include "tests/gui/screen_fixture.h"

#include <string>

namespace input_test {

using namespace screen_test;

inline int apply_flag()
{
    return c331_manage::p_c331_manage->c331_apply_flag;
}

// Slot s (0-15) saved: markers, then every stored byte b of block 896 + k set to fill,
// with the fields the preview reads set by the caller afterwards through slot_put16.
inline void save_slot(int s, uint8_t fill)
{
    uint8_t* slot = para()->mode_slot[s];
    std::memset(slot + 2, fill, P::kModeAreaLength);
    for (int w = 0; w < 6; ++w)   // windows show input 0 unless a test says otherwise
        P::put16(slot + 2 + P::kLayers + P::kLayerSize * w + P::kLayerSource - P::kModeArea, 0);
    P::put16(slot + 2 + P::kOsdOn - P::kModeArea, 0);
    slot[2 + P::kAudioWindow - P::kModeArea] = 0;
    slot[0] = 0xAA;
    slot[1] = 0xAA;
}

inline void slot_put16(int s, int blockOffset, unsigned value)
{
    P::put16(para()->mode_slot[s] + 2 + blockOffset - P::kModeArea, uint16_t(value));
}

inline void empty_slots()
{
    for (int s = 0; s < P::kModeSlots; ++s) {
        para()->mode_slot[s][0] = 0xFF;
        para()->mode_slot[s][1] = 0xFF;
    }
}

struct InputScreenTest : ScreenTest {
    void SetUp() override
    {
        ScreenTest::SetUp();
        empty_slots();
        // No mode in use and no save request: the saved copy never holds one (it would read
        // as done), and a case must not start with one left by the case before.
        put16(P::kCurrentMode, 0);
        put16(P::kModeSaveRequest, 0);
        mark_saved();
    }

    void write_alias(const std::string& json) { root.writeFile("/data/configs/alias.json", json); }
};

} // namespace input_test
