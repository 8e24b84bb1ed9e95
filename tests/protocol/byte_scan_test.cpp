// The block scanner's lane code as the board builds it (no SSE2: the two halves of a block
// are folded by hand). A PC build takes the SSE2 instruction instead, so every other test
// runs the PC's path; here the header is compiled a second time, in a namespace of its own
// and without the SSE2 macro.
#include <cstddef>
#include <cstdint>
#include <cstring>

#pragma push_macro("__SSE2__")
#undef __SSE2__
namespace board_build {
#include "protocol/byte_scan.h"
}
#pragma pop_macro("__SSE2__")

#include <gtest/gtest.h>
#include <tuple>

namespace {

using namespace board_build::byte_scan;

TEST(ByteScanWithoutSse2, EachMarkedLaneGivesItsOwnBit)
{
    unsigned char block[16] = {};
    EXPECT_EQ(std::make_pair(any_lane(marker_lanes(load16(block))), lane_bits(marker_lanes(load16(block)))), std::make_pair(false, 0u));
    for (int lane = 0; lane < 16; ++lane) {
        unsigned char one[16] = {};
        one[lane] = lane % 2 ? 0x5A : 0xA5;
        block[lane] = 0x5A;
        const Block16 m = marker_lanes(load16(one));
        EXPECT_EQ(std::make_tuple(any_lane(m), lane_bits(m), first_lane(m)), std::make_tuple(true, 1u << lane, size_t(lane))) << lane;
    }
    EXPECT_EQ(lane_bits(marker_lanes(load16(block))), 0xFFFFu);
    // The escaped values, and a long run with the first marker far in.
    const unsigned char escaped[16] = {0xA5, 0xA6, 0x5A, 0x5B, 0xA4, 0xA7, 0x59, 0x5C, 1, 2};
    EXPECT_EQ(lane_bits(escape_lanes(load16(escaped))), 0x000Fu);
    unsigned char run[200];
    std::memset(run, 0x11, sizeof run);
    run[150] = 0x5A;
    EXPECT_EQ(std::make_pair(find_marker(run, 0, sizeof run), find_marker(run, 151, sizeof run)), std::make_pair(size_t(150), sizeof run));
}

} // namespace
