#pragma once
// Two PCs that only the link tells apart, through real sockets: while the first uploads a
// mode file, the second's start, block and end are refused, and the first's file lands whole.

#include "core/kel_file_deal.h"
#include "protocol/message_deal.h"
#include "tests/support/PcClient.h"
#include "tests/support/TestRoot.h"

#include <QCryptographicHash>
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
    auto start = [](const char* name) {
        Bytes d = {1, 0, 0, uint8_t(name[0]), uint8_t(name[1]), uint8_t(name[2]), uint8_t(name[3]), 0};
        pc::put32(d, 5000);
        return d;
    };
    auto block = [](const Bytes& data, uint32_t at, uint32_t n) {
        Bytes d = {2, 0, 0, 0, 0};
        pc::put32(d, at);
        pc::put32(d, n);
        d.insert(d.end(), data.begin() + at, data.begin() + at + n);
        return d;
    };
    auto end = [](const Bytes& data) {
        QByteArray h = QCryptographicHash::hash(
            QByteArray(reinterpret_cast<const char*>(data.data()), int(data.size())), QCryptographicHash::Md5);
        Bytes d = {3, 0, 0, 0, 0};
        d.insert(d.end(), h.begin(), h.end());
        return d;
    };

    ASSERT_EQ(ask(first, start("MO01")), (Bytes{0, 1, 0}));
    ASSERT_EQ(ask(first, block(a, 0, 4096)), (Bytes{0, 2}));
    EXPECT_EQ(ask(second, start("MO02")), (Bytes{1, 1, 2}));
    EXPECT_EQ(ask(second, block(b, 0, 4096)), (Bytes{1, 2}));
    EXPECT_EQ(ask(second, end(b)), (Bytes{1, 3, 1}));
    EXPECT_EQ(ask(first, block(a, 4096, 904)), (Bytes{0, 2}));
    EXPECT_EQ(ask(first, end(a)), (Bytes{0, 3, 0}));
    EXPECT_TRUE(root.readFile("/data/modes/MO01.json") == std::string(a.begin(), a.end()));
    EXPECT_FALSE(root.exists("/data/modes/MO02.json"));
}

} // namespace linktest
