#pragma once
// The one way a change of the LED size reaches the outputs, whoever makes it: the LED size
// screen's Apply, the panel's factory reset, a PC's factory defaults. Called with the
// block's lock held, after the block's width, height and panel mode were written: when
// any of them differs from the saved copy (what the outputs were last set up for), the
// LED-parameter hand-shake starts while FPGA 0 runs, and the sound goes back to window 0
// (the other windows may not survive the new size).
#include <cstdint>

namespace led_size {

// Returns whether the size or panel mode changed.
bool follow(uint8_t* ram, const uint8_t* saved);

} // namespace led_size
