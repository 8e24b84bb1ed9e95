#pragma once
#include <string>
#include <utility>
#include <vector>

namespace sim {

// Everything the simulated source on an HDMI input can do, as the input models take it
// (scenario keys under "input<d>."), and what the PC can ask of the input's EDID and
// hot-plug line (keys under "pc.", which no model reads: a test makes the request).
// Inputs 0-2 are IT6602 receivers, input 3 the IT6805: the keys differ, the events do
// not. A check that is to take every event a source can send takes this list, so an
// event added here is taken the day it is added.
struct SourceEvent {
    using Keys = std::vector<std::pair<std::string, std::string>>;
    std::string name;
    Keys from;   // the source before the event, over the input's usual source (below)
    Keys to;     // what the event changes
};

class SourceEvents {
public:
    // The usual source: 1080p60, RGB, HDMI, 8-bit, 48 kHz audio, +5 V and a signal.
    static SourceEvent::Keys usual(int input);
    static std::vector<SourceEvent> of(int input);
};

} // namespace sim
