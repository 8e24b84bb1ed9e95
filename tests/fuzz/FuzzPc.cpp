#include "tests/fuzz/FuzzPc.h"

#include "core/global.h"
#include "core/kel_file_deal.h"
#include "core/kelrampara.h"
#include "fpga/fpga_manage.h"
#include "scaler/c331_manage.h"
#include "sources/velinsource.h"

#include <algorithm>
#include <cstring>

namespace kel_fuzz {

PcBench& PcBench::instance()
{
    static PcBench* bench = new PcBench();
    return *bench;
}

PcBench::PcBench()
{
    board();
    if (!c331_manage::p_c331_manage)
        c331_manage::p_c331_manage = new c331_manage();
    fresh();
    // EDID records over the protocol (group 0xC1) are taken only with the input manager.
    velinsource::pInstance();
    manager = std::make_unique<fpga_manage>();
    fpga_manage::p_fpga_manage = manager.get();
    if (manager->initialize() != 0)
        fail("fpga_manage::initialize");
    manager->softinit();
    udp = std::make_unique<message_deal>(message_deal::REPLY_LIMIT_UDP);
    tcp = std::make_unique<message_deal>(message_deal::REPLY_LIMIT_TCP);
    serial = std::make_unique<message_deal>(message_deal::REPLY_LIMIT_SERIAL);
    buf.assign(message_deal::FRAME_BUF_SIZE, 0);
    out.assign(message_deal::TX_BUF_SIZE, 0);
}

void PcBench::fresh()
{
    c331_manage::p_c331_manage->c331_apply_flag = 0;
    delete KelRamPara::p_kelrampara_config;
    KelRamPara::p_kelrampara_config = nullptr;
    KelRamPara::pInstance();
    g_app_reset_flag = 0;
    G_reboot_tickTicks = 0;
    g_update_flag = 0;
    g_update_status = 0;
    G_timeTicks = 1000;
    // No transfer, open read, reboot or file left from an earlier input.
    FileBufOwner::reset();
    message_deal::restart_not_done();
    message_deal::file_read_hold.reset();
    message_deal::cloud_read_hold.reset();
    if (file_velin)
        std::fclose(file_velin);
    file_velin = nullptr;
    g_kel_file_deal_para = KelFileDeal{};
    g_yp_s_file = YP_FILE{};
    g_yp_r_file = YP_FILE{};
}

message_deal& PcBench::handler(unsigned replyLimit)
{
    if (replyLimit == message_deal::REPLY_LIMIT_UDP)
        return *udp;
    if (replyLimit == message_deal::REPLY_LIMIT_SERIAL)
        return *serial;
    return *tcp;
}

int PcBench::dealUnescaped(const Bytes& plain, unsigned char link, unsigned replyLimit)
{
    if (plain.size() > buf.size())
        return -1;
    // The device's escaping and unescaping agree with each other and with the PC side's.
    Bytes wire(protocol_phy::escaped_size_max(unsigned(plain.size())));
    unsigned char flag = 1;
    Bytes in(plain);
    unsigned w = phy.data_re_transf_meaning(wire.data(), in.data(), unsigned(in.size()), &flag);
    KEL_FUZZ_CHECK(w == protocol_phy::escaped_size(plain.data(), unsigned(plain.size())));
    wire.resize(w);
    KEL_FUZZ_CHECK(wire == pc::escape(plain));
    unsigned char done = 0;
    std::memset(buf.data(), 0, buf.size());
    unsigned n = phy.data_transf_meaning(wire.data(), buf.data(), w, &done);
    KEL_FUZZ_CHECK(done == 1 && n == plain.size() && std::equal(plain.begin(), plain.end(), buf.begin()));
    if (!protocol_phy::frame_ok(buf.data(), n, done))
        return -1;
    return dispatch(buf.data(), n, link, replyLimit);
}

int PcBench::dispatch(const unsigned char* frame, unsigned n, unsigned char link, unsigned replyLimit)
{
    if (frame != buf.data()) {
        if (n > buf.size())
            return -1;
        std::memset(buf.data(), 0, buf.size());
        std::memcpy(buf.data(), frame, n);
    }
    // The handler sees the frame without its check byte, as the links pass it.
    int r = handler(replyLimit).message_group_deal(buf.data(), n - 1, link);
    if (r <= 0)
        return r;
    KEL_FUZZ_CHECK(unsigned(r) + 11 <= buf.size());
    KEL_FUZZ_CHECK(protocol_phy::reply_escaped_size(buf.data(), unsigned(r)) <= replyLimit);
    unsigned w = phy.build_reply(buf.data(), unsigned(r), out.data());
    KEL_FUZZ_CHECK(w <= replyLimit);
    Bytes back;
    KEL_FUZZ_CHECK(pc::unescape(out.data(), w, back));
    KEL_FUZZ_CHECK(back.size() == unsigned(r) + 11);
    KEL_FUZZ_CHECK(pc::checkByte(back.data(), back.size() - 1) == back.back());
    return r;
}

std::vector<pc::Frame> pcSeedFrames()
{
    std::vector<pc::Frame> v;
    auto add = [&](uint8_t group, Bytes data) {
        pc::Frame f;
        f.group = group;
        f.data = std::move(data);
        v.push_back(f);
    };
    // Parameter block writes and reads, flash erase/write/read, registers (address, length).
    add(0x60, {0x00, 0x03, 0x00, 0x00, 0x04, 0x00, 1, 2, 3, 4});
    add(0x61, {0x00, 0x03, 0x00, 0x00, 0x10, 0x00});
    add(0x70, {0x00, 0x00, 0x00, 0x00, 0x10, 0x00});
    add(0x71, {0x00, 0x00, 0x00, 0x00, 0x04, 0x00, 1, 2, 3, 4});
    add(0x72, {0x10, 0x00, 0x02, 0x00, 0x01, 0x00});
    add(0xA0, {0x10, 0x00, 0x00, 0x00, 0x02, 0x00, 1, 2});
    add(0xA1, {0x10, 0x00, 0x00, 0x00, 0x02, 0x00});
    add(0xB0, {0x00, 0x03, 0x00, 0x00, 0x02, 0x00, 1, 0});
    for (uint8_t g : {0x81, 0x82, 0x83, 0x84, 0x87, 0x8E, 0x8F, 0xA2, 0xA4, 0xC3, 0xC4, 0xC5,
                      0xC6, 0xC7, 0xC8, 0xC9, 0xCA, 0xCB, 0xCC})
        add(g, {0x00, 0x00, 0x00, 0x00});
    // An EDID record of input 1 (a whole 288-byte record at byte 19) and its read-back.
    Bytes edid = {1, 1, 0, 0, 0, 0, 0};
    pc::put16(edid, 288);
    for (unsigned i = 0; i < 288; ++i)
        edid.push_back(uint8_t(i < 8 ? (i == 0 || i == 7 ? 0x00 : 0xFF) : i));
    add(0xC1, edid);
    add(0xC1, {2, 1, 0, 0, 0, 0, 0, 0, 0});
    // File transfer: a start for a known name, a block, an end; reads.
    for (const char* name : {"LOGO", "ALIS", "OSDS", "MO0A", "FMCU", "KXFR"}) {
        Bytes d = {1, 0, 0};
        d.insert(d.end(), name, name + 4);
        d.push_back(1);
        pc::put32(d, 16);
        add(0xC0, d);
    }
    Bytes blk = {2, 0, 0, 0, 0};
    pc::put32(blk, 0);
    pc::put32(blk, 16);
    blk.resize(blk.size() + 16, 0x41);
    add(0xC0, blk);
    Bytes end = {3, 0, 0, 0, 0};
    end.resize(end.size() + 16, 0);
    add(0xC0, end);
    add(0xC0, {4, 0, 0, 'L', 'O', 'G', 'O', 1});
    add(0xC0, {5, 0, 0, 0, 0, 0, 0, 0, 0, 0x10, 0, 0, 0});
    add(0xC0, {6});
    // A frame for a receiving card behind the outputs.
    pc::Frame card;
    card.dest = 0x0001;
    card.group = 0x01;
    card.data = {0, 0, 0, 0};
    v.push_back(card);
    return v;
}

} // namespace kel_fuzz
