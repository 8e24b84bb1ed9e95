#pragma once
#include <cstdint>
#include <string>

namespace sim {

// The video the scenario connects to receiver input d, as the receiver models and the
// scaler model both see it. Key input<d>.timing names the whole timing: "WxH@Hz"
// (progressive, CEA-like totals: 1920 -> 2200, 1080 -> 1125; the rate may have decimals),
// "WxHi@Hz" or "1080i"
// (interlaced: fields of half the lines at the field rate), "none"; inputs 0 and 1 carry
// 1920x1080@60 unless the scenario says otherwise, the others "none". The single keys
// input<d>.signal, .interlaced, .hact, .vact, .htotal, .vtotal, .hz override it. A timing
// without totals or rate carries no video.
struct InputTiming {
    bool present = false;
    bool interlaced = false;
    uint32_t hact = 0, vact = 0, htotal = 0, vtotal = 0, hz = 0;
    uint32_t millihz = 0;   // the exact rate: "@59.94" gives hz 60, millihz 59940
};

InputTiming namedTiming(const std::string& name);
InputTiming inputTiming(int input);

} // namespace sim
