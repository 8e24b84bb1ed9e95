// The EDID images checked by an independent decoder (edid-decode, installed by
// scripts/setup): a spread of computed images must carry valid checksums, and the first
// detailed timing the decoder announces as preferred must be the mode the image was made for.
#include "board/sim/Sim.h"
#include "sources/velinsource.h"
#include "tests/support/Sources.h"
#include "tests/support/TestRoot.h"

#include <cmath>
#include <cstdio>
#include <fstream>
#include <gtest/gtest.h>
#include <regex>
#include <string>

namespace {

struct Decoded {
    bool ran = false;
    std::string text;
};

Decoded decode(const kel_test::TestRoot& root, const unsigned char* image, const std::string& name)
{
    const std::string file = root.path() + "/" + name + ".bin";
    std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(image), kEdidSize);
    Decoded d;
    FILE* p = ::popen(("edid-decode -c -p '" + file + "' 2>&1").c_str(), "r");
    if (!p)
        return d;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0)
        d.text.append(buf, n);
    ::pclose(p);
    // The exit status tells conformity to every standard's letter, which these images do
    // not claim; a decoding is one that reached the base block.
    d.ran = d.text.find("Block 0, Base EDID:") != std::string::npos;
    return d;
}

// Both blocks' checksums as the decoder reads them, with no complaint about either.
void expectValidChecksums(const Decoded& d, const std::string& what)
{
    ASSERT_TRUE(d.ran) << what << ": edid-decode did not decode it:\n" << d.text;
    std::regex sum("Checksum: 0x[0-9a-f]{2}( \\(should be 0x[0-9a-f]{2}\\))?");
    int count = 0;
    for (std::sregex_iterator it(d.text.begin(), d.text.end(), sum), e; it != e; ++it, ++count)
        EXPECT_FALSE((*it)[1].matched) << what << ": " << it->str();
    EXPECT_EQ(std::make_pair(count, d.text.find("Invalid checksum")), std::make_pair(2, std::string::npos)) << what << "\n" << d.text;
}

struct Timing {
    int width = 0, height = 0;
    double hz = 0;
};

// "Preferred Video Timing if only Block 0 is parsed:" followed by "DTD 1: WxH  R Hz".
bool preferred(const Decoded& d, Timing& t)
{
    std::smatch m;
    std::regex pref("Preferred Video Timing if only Block 0 is parsed:\\s*\\n\\s*DTD\\s+1:\\s+(\\d+)x(\\d+)\\s+([0-9.]+) Hz");
    if (!std::regex_search(d.text, m, pref))
        return false;
    t.width = std::stoi(m[1]);
    t.height = std::stoi(m[2]);
    t.hz = std::stod(m[3]);
    return true;
}

class EdidDecode : public kel_test::EdidFixture {};

// Computed timings across what the detailed timing can hold: widths and heights up to 4095,
// and on each size the highest rate whose pixel clock still fits 16 bits of 10 kHz.
TEST_F(EdidDecode, ComputedTimingsAnnounceTheRequestedModeUpToTheirLimits)
{
    struct Mode {
        int w, h, hz;
    };
    const Mode sizes[] = {{640, 480, 60}, {1920, 1080, 50}, {1024, 768, 75}, {4095, 2160, 24},
                          {4095, 4095, 10}, {3600, 2000, 75}, {800, 600, 120}, {2048, 64, 100}};
    for (int input = 0; input < 4; ++input) {
        for (const Mode& m : sizes) {
            // The same size at its highest describable rate: a rate one above refuses.
            int top = m.hz;
            while (top < 100000 && source.Set_Custom_HDMI_EDID(m.w, m.h, top + 1, input) == 0)
                ++top;
            EXPECT_LT(top, 100000);
            for (int hz : {m.hz, top}) {
                const std::string name = std::to_string(m.w) + "x" + std::to_string(m.h) + "@" + std::to_string(hz)
                                         + "-in" + std::to_string(input);
                ASSERT_EQ(source.Set_Custom_HDMI_EDID(m.w, m.h, hz, input), 0) << name;
                Decoded d = decode(root, source.edidTable, name);
                expectValidChecksums(d, name);
                Timing t;
                ASSERT_TRUE(preferred(d, t)) << name << "\n" << d.text;
                EXPECT_EQ(std::make_pair(t.width, t.height), std::make_pair(m.w, m.h)) << name;
                // The clock is kept in 10 kHz steps, so the rate is near the request, not
                // exact.
                EXPECT_NEAR(t.hz, hz, 0.01 * hz) << name;
            }
        }
    }
}

} // namespace
