#pragma once
// Two PCs that only the link tells apart, through real sockets: while the first uploads a
// mode file, the second's start, block and end are refused, and the first's file lands whole.

#include "core/kel_file_deal.h"
#include "protocol/message_deal.h"
#include "tests/protocol/file_frames.h"
#include "tests/support/PcClient.h"
#include "tests/support/TestRoot.h"

#include <gtest/gtest.h>

namespace linktest {

inline void crossingUploads(pc::PcClient& first, pc::PcClient& second, const kel_test::TestRoot& root)
{
    using pc::Bytes;
    FileBufOwner::reset();
    {
        // The links' threads already run: the record is theirs, under their lock.
        std::lock_guard<std::mutex> hold(message_deal::transfer_mutex);
        g_kel_file_deal_para = KelFileDeal{};
    }
    Bytes a(5000), b(5000);
    for (size_t i = 0; i < a.size(); ++i)
        b[i] = uint8_t(~(a[i] = uint8_t(i * 7 + (i >> 8))));
    // Group 0xC0's reply data (from byte 10); empty when nothing came.
    auto ask = [](pc::PcClient& c, Bytes d) {
        pc::Frame req, reply;
        req.group = 0xC0;
        req.data = d;
        return c.request(req, reply) ? reply.data : Bytes{};
    };

    using namespace fileframes;
    ASSERT_EQ(ask(first, start("MO01", 0, 5000)), (Bytes{0, 1, 0}));
    ASSERT_EQ(ask(first, block(0, a, 0, 4096)), (Bytes{0, 2}));
    EXPECT_EQ(ask(second, start("MO02", 0, 5000)), (Bytes{1, 1, 2}));
    EXPECT_EQ(ask(second, block(0, b, 0, 4096)), (Bytes{1, 2}));
    EXPECT_EQ(ask(second, end(md5Of(b))), (Bytes{1, 3, 1}));
    EXPECT_EQ(ask(first, block(4096, a, 4096, 904)), (Bytes{0, 2}));
    EXPECT_EQ(ask(first, end(md5Of(a))), (Bytes{0, 3, 0}));
    EXPECT_TRUE(root.readFile("/data/modes/MO01.json") == std::string(a.begin(), a.end()));
    EXPECT_FALSE(root.exists("/data/modes/MO02.json"));
}

} // namespace linktest
