#pragma once
// Two PCs that only the link tells apart, through real sockets: while the first uploads a
// scan file, the second's start, block and end are refused, and the first's file lands whole.
// Names in GBK and Latin-1 are stored, and removed by the folder clean-up, by their bytes.

#include "core/kel_file_deal.h"
#include "protocol/message_deal.h"
#include "tests/protocol/file_frames.h"
#include "tests/support/PcClient.h"
#include "tests/support/TestRoot.h"

#include <filesystem>
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
    const std::string gbk = "\xc9\xa8\xc3\xe8.kxfile", latin1 = "\xe9t\xe9.bin";
    ASSERT_EQ(ask(first, named(7, gbk, 13, 5000)), (Bytes{0, 7, 0}));
    ASSERT_EQ(ask(first, block(0, a, 0, 4096)), (Bytes{0, 2}));
    EXPECT_EQ(ask(second, start("MO02", 0, 5000)), (Bytes{1, 1, 2}));
    EXPECT_EQ(ask(second, block(0, b, 0, 4096)), (Bytes{1, 2}));
    EXPECT_EQ(ask(second, end(md5Of(b))), (Bytes{1, 3, 1}));
    EXPECT_EQ(ask(first, block(4096, a, 4096, 904)), (Bytes{0, 2}));
    EXPECT_EQ(ask(first, end(md5Of(a))), (Bytes{0, 3, 0}));
    EXPECT_TRUE(root.readFile("/data/smartmapping/" + gbk) == std::string(a.begin(), a.end()));
    EXPECT_FALSE(root.exists("/data/modes/MO02.json"));
    ASSERT_EQ(ask(second, named(7, latin1, 9, 0)), (Bytes{0, 7, 0}));
    EXPECT_EQ(ask(second, end(md5Of({}))), (Bytes{0, 3, 0}));   // stored: written and read back
    EXPECT_EQ(ask(second, {10}), (Bytes{0, 10}));
    EXPECT_TRUE(std::filesystem::is_empty(root.host("/data/smartmapping")) &&
                std::filesystem::is_empty(root.host("/data/rcvrecovery")));
}

} // namespace linktest
