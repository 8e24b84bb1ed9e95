#include "board/sim/SourceEvents.h"

namespace sim {

SourceEvent::Keys SourceEvents::usual(int input)
{
    const bool it6805 = input == 3;
    return {{"timing", "1920x1080@60"}, {"signal", "1"}, {it6805 ? "5v" : "cable", "1"},
            {it6805 ? "dvi" : "hdmi", it6805 ? "0" : "1"}, {"colour", it6805 ? "0" : "rgb"}, {"colorimetry", "0"},
            {"range", "0"}, {"vic", "16"}, {"scan", "0"}, {"depth", it6805 ? "0" : "4"}, {"audio", "1"},
            {it6805 ? "audio_fs" : "audiofs", it6805 ? "48000" : "2"}, {"5v_glitch", "0"}};
}

std::vector<SourceEvent> SourceEvents::of(int input)
{
    const bool it6805 = input == 3;
    const std::string power = it6805 ? "5v" : "cable", dvi = it6805 ? "dvi" : "hdmi";
    const std::string toDvi = it6805 ? "1" : "0", toHdmi = it6805 ? "0" : "1";
    const std::string yuv444 = it6805 ? "2" : "yuv444", rgb = it6805 ? "0" : "rgb";
    std::vector<SourceEvent> out = {
        {"plug", {{"signal", "0"}, {power, "0"}}, {{"signal", "1"}, {power, "1"}}},
        {"unplug", {}, {{"signal", "0"}, {power, "0"}}},
        {"signal off", {}, {{"signal", "0"}}},
        {"signal on", {{"signal", "0"}}, {{"signal", "1"}}},
        {"colour format", {}, {{"colour", yuv444}}},
        {"colour format back", {{"colour", yuv444}}, {{"colour", rgb}}},
        {"colorimetry", {{"colour", yuv444}, {"colorimetry", "1"}}, {{"colorimetry", "2"}}},
        {"range", {{"range", "1"}}, {{"range", "2"}}},
        {"HDMI to DVI", {}, {{dvi, toDvi}}},
        {"DVI to HDMI", {{dvi, toDvi}}, {{dvi, toHdmi}}},
        // A source that sends deep colour runs its link at a faster clock (30-bit: 1.25 times).
        {"deep colour", {}, {{"depth", it6805 ? "32" : "5"}}},
        {"audio off", {}, {{"audio", "0"}}},
        {"audio on", {{"audio", "0"}}, {{"audio", "1"}}},
        // Input 3 takes the rate from the stream's N and CTS: its channel status moves alone.
        {"audio changed", {}, {{it6805 ? "audio_status_fs" : "audiofs", it6805 ? "44100" : "0"}}},
        {"InfoFrame change", {}, {{"scan", "2"}}},
        // The +5 V line drops for less than the receiver samples it: the receiver raises its
        // +5 V change while +5 V is present again.
        {"+5 V glitch", {}, {{"5v_glitch", "1"}}},
        {"EDID rewrite", {}, {{"pc.edid", "1"}}},
        {"AV mute on", {}, {{"avmute", "1"}}},
        {"AV mute off", {{"avmute", "1"}}, {{"avmute", "0"}}},
    };
    if (it6805) {
        // The stream's own rate (its N and CTS), the channel status with it.
        out.push_back({"audio rate", {}, {{"audio_fs", "44100"}}});
        // SCDT back before the timing counters leave the old mode; parity errors on the link.
        out.push_back({"sync in pieces", {{"sync_lag", "300"}, {"parity", "2"}}, {{"timing", "1280x720@60"}}});
        // The IT6805's two device indices, through controller registers 0 (bits 4/5 device 1
        // low/high, 6/7 device 0) and 32 (bit 5 device 1 high, 6/7 device 0 low/high).
        out.push_back({"hot-plug request, device 0", {}, {{"pc.reg0", "192"}}});
        out.push_back({"hot-plug request, device 1", {}, {{"pc.reg0", "48"}}});
        out.push_back({"hot-plug request by register 32, device 0", {}, {{"pc.reg32", "192"}}});
        out.push_back({"hot-plug request by register 32, device 1", {}, {{"pc.reg32", "32"}}});
    }
    return out;
}

} // namespace sim
