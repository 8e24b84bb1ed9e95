// The reader of the receiving-card package and of standalone scan-parameter files, against
// files built here in their byte layout.

#include "fpga/rcv_recovery_file.h"
#include "tests/fpga/rcv_package.h"
#include "tests/support/TestRoot.h"

#include <gtest/gtest.h>
#include <memory>

using namespace rcv_test;

namespace {

const QString kPack = "/data/rcvrecovery/DIVU";

class RcvFile : public ::testing::Test {
protected:
    void SetUp() override { root = std::make_unique<kel_test::TestRoot>(); }
    void write(const QString& path, const Bytes& b)
    {
        root->writeFile(path.toStdString(), std::string(b.begin(), b.end()));
    }
    std::unique_ptr<kel_test::TestRoot> root;
    rcvRecovery r;
};

} // namespace

TEST_F(RcvFile, PackageScreensPortsCardsAndOperations)
{
    Screen s1;
    s1.configId = 0x11223344;
    s1.para = {op(1, 2, 0, 50, {9, 9})};
    Port port;
    port.ledx = 3;
    // Cards with 2, 0 and 5 operations: card 2's block starts 4 + 36 + 4 = 44 bytes in.
    port.cards = {{op(1, 1, 0x100, 10, {1}), op(6, 1, 0, 1500, {})}, {}, {}};
    for (int i = 0; i < 5; ++i)
        port.cards[2].push_back(op(uint8_t(i == 4 ? 16 : 1), 1, 0x200 + i, 20, {uint8_t(0xA0 + i)}));
    s1.ports = {Port{7, {{}}}, port};
    Screen s2;
    s2.configId = 0x55;
    s2.ports = {Port{12, {{}}}};
    Package p = standard({s1, s2});
    put32(p.bytes, p.screenStart + 8, 0xC1C2C3C4);      // the two CRC-32 fields, carried as they are
    put32(p.bytes, p.screenStart + 16, 0xD1D2D3D4);
    write(kPack, p.bytes);

    ASSERT_EQ(std::vector<int>({r.get_rcvPackedFileNum(kPack), r.get_rcvPackedFileInfo(kPack, 0), r.get_rcvPackedFileInfo(kPack, 1),
                                r.get_rcvPackedFileInfo(kPack, 2)}), std::vector<int>(4, 0));
    EXPECT_EQ(std::vector<uint32_t>({r.pack_head.file_num, r.pack_entry[1].file_type, r.member_start(12)}), (std::vector<uint32_t>{3, 11, p.paraStart}));

    ASSERT_EQ(r.update_rcvScreenHead(kPack), 0);
    EXPECT_EQ(std::vector<uint64_t>({uint64_t(r.screen_head.screen_num), r.screen_head.rcv_para_crc32, r.screen_head.rcv_xy_crc32, r.screen_head.rcv_xy_len}),
              (std::vector<uint64_t>{2, 0xC1C2C3C4u, 0xD1D2D3D4u, uint64_t(p.paraStart - p.xyStart)}));
    // Screen index -> result, config id held after: one at screen_num reads nothing and keeps
    // the record held.
    for (const auto& [screen, result, id] : {std::tuple{1, 0, 0x55u}, {2, 1, 0x55u}, {0, 0, 0x11223344u}})
        EXPECT_EQ(std::make_pair(r.update_rcvScreenIDinfo(kPack, screen), r.screen_info.config_id), std::make_pair(result, id)) << screen;

    EXPECT_EQ((std::vector<int>{r.update_rcvXYscreenNetnum(kPack), r.screen_net_num, r.update_rcvXYscreenNetpara(kPack, 1),
                                int(r.net_para.net_ledx), int(r.net_para.net_rcv_num)}),
              (std::vector<int>{0, 2, 0, 3, 3}));

    EXPECT_EQ((std::vector<uint64_t>{uint64_t(r.update_rcvXYrcvOperateTimes(kPack, 2, false)), uint64_t(r.running_offset),
                                     uint64_t(r.rcv_operate_times), uint64_t(r.update_rcvXYrcvOperateTimes(kPack, 3, false))}),
              (std::vector<uint64_t>{0, 44, 5, 1}));   // no fourth card
    ASSERT_EQ(r.update_rcvXYrcvOperateTimes(kPack, 2, false), 0);
    ASSERT_EQ(r.update_rcvXYrcvOperatepara(kPack, 4, false), 0);
    EXPECT_EQ(std::vector<uint64_t>({r.operate_para.type, r.operate_para.targetAddr, r.operate_para.dataLen}), (std::vector<uint64_t>{16, 0x204, 1}));
    uint8_t byte = 0;
    ASSERT_EQ(r.update_rcvOperatedata(kPack, r.xy_data_offset(), &byte, 1), 0);
    EXPECT_EQ(byte, 0xA4);

    // The screen's scan parameters in the type-12 member.
    uint8_t two[2] = {};
    EXPECT_EQ((std::vector<int>{r.update_smartDebugingOperateTimes(kPack, false), r.rcv_operate_times,
                                r.update_smartDebugingOperatepara(kPack, 0, false), r.operate_para.target,
                                r.update_rcvOperatedata(kPack, r.para_data_offset(false), two, 2), two[0]}),
              (std::vector<int>{0, 1, 0, 2, 0, 9}));
    // The record's data only into a buffer that holds it.
    uint32_t length = 0;
    EXPECT_EQ(std::vector<int>({r.update_rcvDealData(kPack, two, &length, 1), r.update_rcvDealData(kPack, nullptr, &length, 2),
                                r.update_rcvDealData(kPack, two, &length, 2), int(length)}), (std::vector<int>{1, 1, 0, 2}));
}

TEST_F(RcvFile, EntryTableEdgeCases)
{
    Screen s;
    s.ports = {Port{5, {{}}}};
    // Two type-11 entries: the later one counts.
    Package p = package({s}, 4);
    p.entry(0, 10, p.screenStart);
    p.entry(1, 11, 0x7000);
    p.entry(2, 12, p.paraStart);
    p.entry(3, 11, p.xyStart);
    write(kPack, p.bytes);
    ASSERT_EQ(std::vector<int>({r.get_rcvPackedFileNum(kPack), r.get_rcvPackedFileInfo(kPack, 0), r.get_rcvPackedFileInfo(kPack, 1),
                                r.get_rcvPackedFileInfo(kPack, 2), r.get_rcvPackedFileInfo(kPack, 3)}), std::vector<int>(5, 0));
    EXPECT_EQ(r.member_start(11), p.xyStart);
    EXPECT_EQ((std::vector<int>{r.update_rcvScreenHead(kPack), r.update_rcvScreenIDinfo(kPack, 0), r.update_rcvXYscreenNetpara(kPack, 0),
                                r.net_para.net_ledx}),
              (std::vector<int>{0, 0, 0, 5}));

    // No type-11 entry: its start is 0 (the package's own first bytes).
    p.bytes[4 + 12 * 3] = 10;
    p.bytes[4 + 12 * 1] = 99;
    write(kPack, p.bytes);
    ASSERT_EQ(r.get_rcvPackedFileNum(kPack), 0);
    for (int i = 0; i < 4; ++i)
        r.get_rcvPackedFileInfo(kPack, i);
    EXPECT_EQ(std::make_pair(r.has_member(11), r.member_start(11)), std::make_pair(false, 0u));

    // A header announcing 9 entries: only the table's 6 are read.
    Bytes nine(4 + 12 * 9, 0);
    nine[3] = 9;
    write(kPack, nine);
    EXPECT_EQ((std::vector<int>{r.get_rcvPackedFileNum(kPack), r.announced_entries(), r.get_rcvPackedFileInfo(kPack, 5),
                                r.get_rcvPackedFileInfo(kPack, 6)}),
              (std::vector<int>{0, 6, 0, 1}));
}

TEST_F(RcvFile, TruncatedAndMissingFilesKeepWhatWasHeld)
{
    Screen s;
    s.configId = 77;
    s.ports = {Port{1, {{op(1, 1, 0, 10, {1, 2, 3})}}}};
    Package p = standard({s});
    write(kPack, p.bytes);
    ASSERT_EQ(r.get_rcvPackedFileNum(kPack), 0);
    for (int i = 0; i < 3; ++i)
        r.get_rcvPackedFileInfo(kPack, i);
    ASSERT_EQ(r.update_rcvScreenHead(kPack), 0);
    ASSERT_EQ(r.update_rcvScreenIDinfo(kPack, 0), 0);

    // Cut inside the screen record: the record is not taken.
    Bytes cut(p.bytes.begin(), p.bytes.begin() + p.screenStart + 32 + 20);
    write(kPack, cut);
    r.screen_info.config_id = 1;
    uint8_t data[3] = {};
    // The cut record, the XY member past the cut, data past the end, missing files and offsets
    // far past any file (as a hostile file might give) are simply not there.
    EXPECT_EQ((std::vector<uint32_t>{uint32_t(r.update_rcvScreenIDinfo(kPack, 0)), r.screen_info.config_id,
                                     uint32_t(r.update_rcvXYscreenNetnum(kPack)),
                                     uint32_t(r.update_rcvOperatedata(kPack, p.bytes.size() - 2, data, 3)),
                                     uint32_t(r.get_rcvPackedFileNum("/data/rcvrecovery/none")),
                                     uint32_t(r.update_smartDebugingOperateTimes("/mnt/usb1/none.kxfile", true)),
                                     uint32_t(r.update_smartDebugingHead("/mnt/usb1/none.kxfile")),
                                     uint32_t(r.update_rcvOperatedata(kPack, 0xFFFFFFFFull * 3, data, 3))}),
              (std::vector<uint32_t>(8, 1)));
}

TEST_F(RcvFile, StandaloneScanFileAndFolderLists)
{
    const Bytes file = kxfile({op(1, 1, 0x10, 5, {1}), op(1, 2, 0, 5, {2, 2}), op(6, 1, 0, 1500, {})});
    write("/data/smartmapping/a.kxfile", file);
    write("/data/smartmapping/b.kxfile", file);
    write("/data/rcvrecovery/DIVU", {0, 0, 0, 0});
    const QString path = "/data/smartmapping/a.kxfile";
    ASSERT_EQ(r.update_smartDebugingOperateTimes(path, true) + r.update_smartDebugingHead(path), 0);
    EXPECT_EQ(Bytes(r.smart_head, r.smart_head + 16), Bytes(file.begin(), file.begin() + 16));
    EXPECT_EQ((std::vector<uint32_t>{uint32_t(r.rcv_operate_times), uint32_t(r.update_smartDebugingOperatepara(path, 1, true)),
                                     r.operate_para.dataLen}),
              (std::vector<uint32_t>{3, 0, 2}));
    r.init_para();
    uint8_t two[2] = {};
    ASSERT_EQ(r.update_rcvOperatedata(path, r.para_data_offset(true), two, 2), 0);
    EXPECT_EQ(std::make_pair(int(two[0]), r.para_data_offset(true)), std::make_pair(2, uint64_t(16u + r.operate_para.offset)));

    // Another path than the folder's own stores nothing.
    EXPECT_EQ((std::vector<int>{r.get_dir_file("/data/smartmapping"), int(r.smart_file_list.size()), r.get_dir_file("/data/rcvrecovery"),
                                r.get_dir_file("/data/smartmapping/"), int(r.smart_file_list.size()), r.get_dir_file("/mnt/usb1/"),
                                rcvRecovery::check_file_dir("/data/smartmapping"), rcvRecovery::check_file_dir("/data/new"),
                                root->exists("/data/new")}),
              (std::vector<int>{0, 2, 0, 0, 2, 1, 0, 1, 1}));
    EXPECT_EQ(r.rcv_file_list, QStringList{"DIVU"});
}
