// The receive path: the FPGA's interrupt service, the answers of the receiving cards in
// the receive RAMs of the port pairs, and the passthrough answers that go back to the PC
// link that asked. It runs on the manager thread and on the links' receive threads,
// always under port_path_mutex.

#include "fpga/fpga_manage.h"

#include "core/global.h"
#include "core/kelrampara.h"
#include "core/utils.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr int kReceivePairs = 5;
constexpr unsigned kAnswerMax = 1024;      // a pair's length field counts 1..1024 bytes
constexpr u8 kReceiveBits = 0x55;          // answer-ready bits of registers 129 and 145
constexpr unsigned kMinAnswer = 11;        // header, command and check byte
constexpr unsigned kMinSearchAnswer = 15;  // ... plus done byte, card count and flag
constexpr unsigned kMinCheckAnswer = 25;   // ... up to the check result at bytes 22-23
constexpr u16 kController = 0xF000;
constexpr u16 kPc = 0xF010;
constexpr u8 kTagJob = 0x67;
constexpr u8 kTagBrightness = 0x66;

struct PairRegisters {
    int ready;       // ready bit lives here
    u8 readyBit;
    int lengthLow;
    int lengthHigh;  // bits 8-9 of the length at highShift
    int highShift;
    int ackSet;      // acknowledge: set the bit here, then clear it in ackClear
    int ackClear;
    u8 ackBit;
};
constexpr PairRegisters kPairs[kReceivePairs] = {
    {129, 0x01, 24, 25, 0, 130, 131, 0x01},
    {129, 0x04, 133, 25, 2, 130, 131, 0x02},
    {129, 0x10, 135, 25, 4, 130, 131, 0x04},
    {129, 0x40, 137, 25, 6, 130, 131, 0x08},
    {145, 0x01, 149, 153, 0, 146, 147, 0x01},
};

bool validFpga(u8 fpga) { return fpga < 2; }
u16 rd16(const u8* p) { return KelRamPara::get16(p); }
u32 rd32(const u8* p) { return u32(p[0]) | u32(p[1]) << 8 | u32(p[2]) << 16 | u32(p[3]) << 24; }
bool checkByteRight(const u8* a, unsigned len) { return len >= 1 && Utils::BCC(a, len - 1) == a[len - 1]; }
// Ports 0-1 and 2-3 form group 0, ports 4-5 and 6-7 group 1, ports 8-9 group 2.
u8 groupOf(int pair) { return u8(pair / 2); }
// Bits 12-13 of the answering card's address: its port within the group of four.
u8 sourcePortBits(const u8* a) { return u8((a[3] >> 4) & 3); }

} // namespace

// ------------------------------------------------------------------------------------
// Pairs

bool fpga_manage::pair_ready(u8 fpga, int pair) const
{
    return (MCU_REG_func[fpga][kPairs[pair].ready] & kPairs[pair].readyBit) != 0;
}

unsigned fpga_manage::read_pair_answer(u8 fpga, int pair, u8* out)
{
    const PairRegisters& p = kPairs[pair];
    read_from_register(p.lengthHigh, fpga);
    read_from_register(p.lengthLow, fpga);
    const unsigned high = (MCU_REG_func[fpga][p.lengthHigh] >> p.highShift) & 3;
    const unsigned len = (high << 8 | MCU_REG_func[fpga][p.lengthLow]) + 1;   // 1..1024
    if (read_fpga_ram(out, 0, len, u8(2 + 2 * pair), fpga) != 0)
        return 0;
    return len;
}

void fpga_manage::acknowledge_pair(u8 fpga, int pair)
{
    const PairRegisters& p = kPairs[pair];
    write_to_register(p.ackSet, p.ackBit, p.ackBit, fpga);
    write_to_register(p.ackClear, p.ackBit, 0x00, fpga);
}

void fpga_manage::store_card_count(u8 fpga, int port, u16 count, u8 flag)
{
    if (!validFpga(fpga) || port < 0 || port > 15)
        return;
    // The image is shared with the PC links: changed under its lock, the FPGA sent a copy.
    u8* ram = MCU_RAM_PARA_func[fpga];
    u8* c = ram + kCardCountOffset[port];
    u8* f = ram + kCardFlagOffset[port];
    u8 words[2];
    KelRamPara::put16(words, count);
    bool newCount, newFlag;
    {
        std::lock_guard<std::mutex> hold(ram_image_mutex);
        newCount = rd16(c) != count;
        newFlag = *f != flag;
        KelRamPara::put16(c, count);
        *f = flag;
    }
    if (newCount)
        write_fpga_ram(words, kCardCountOffset[port], 2, 1, fpga);
    if (newFlag)
        write_fpga_ram(&flag, kCardFlagOffset[port], 1, 1, fpga);
}

// ------------------------------------------------------------------------------------
// Interrupt service

void fpga_manage::reg_IRQ_Dealwith(u8 fpga, u8 force)
{
    if (!validFpga(fpga))
        return;
    // A card that never answers holds the passthrough only as long as its wait.
    if (fpga == 0)
        service_passby();
    u8* reg = MCU_REG_func[fpga];
    if (reg_shadow(80, fpga) != 2 && reg_shadow(80, fpga) != 3)
        return;
    std::atomic<u32>& pending = g_change[CHG_IRQ_STATE0 + fpga];
    volatile u16* line = fpga ? gpio_fpga1_irq : gpio_fpga0_irq;
    // The poll below raises the pending word when answers wait without the line: it is
    // serviced like the line itself.
    const bool raised = (line && (*line & 1)) || pending != 0;
    if (force == 1 || raised) {
        pending = 0;
        irq_idle_stamp[fpga] = 0;
        write_to_register(22, 0x20, 0x00, fpga);
        read_from_register(22, fpga);
        if (reg_shadow(22, fpga) & 0x40) {
            write_to_register(22, 0x60, 0x00, fpga);
            read_from_register(31, fpga);
            if (reg_shadow(31, fpga) < 25 || reg_shadow(31, fpga) > 48) {
                // The FPGA lost its set-up: bring-up starts again.
                {
                    std::lock_guard<std::mutex> hold(reg_image_mutex);
                    reg[80] = 0;
                }
                g_change[CHG_RESET_RELEASE] = G_timeTicks.load();
            }
        }
        read_from_register(129, fpga);
        read_from_register(145, fpga);
        if ((reg_shadow(129, fpga) | reg_shadow(145, fpga)) & kReceiveBits)
            Rcv_data_from_eth(fpga);
        update_eth_state(fpga);
        return;
    }
    pending = 0;
    if (pc_cmd_valid == 1 && await_answer == 1) {
        if (irq_idle_stamp[fpga] == 0)
            irq_idle_stamp[fpga] = std::max<u32>(G_timeTicks.load(), 1);
        else if (Utils::getTimeSpace(irq_idle_stamp[fpga]) > 1)
            check_fpga_net_data_status(fpga);
    }
}

void fpga_manage::check_fpga_net_data_status(u8 fpga)
{
    if (!validFpga(fpga))
        return;
    if (reg_shadow(80, fpga) != 2 && reg_shadow(80, fpga) != 3)
        return;
    read_from_register(129, fpga);
    read_from_register(145, fpga);
    if ((reg_shadow(129, fpga) | reg_shadow(145, fpga)) & kReceiveBits)
        g_change[CHG_IRQ_STATE0 + fpga] = 1;
}

// ------------------------------------------------------------------------------------
// Search answers

u8 fpga_manage::deal_with_search_concurrent(u8 fpga)
{
    if (!validFpga(fpga))
        return 0;
    u8 taken = 0;
    // Answers are read into a buffer of the receive path's own: the receive RAM's image is
    // the PC links' to read and write.
    u8 a[kAnswerMax];
    for (int pair = 0; pair < kReceivePairs; ++pair) {
        if (!pair_ready(fpga, pair))
            continue;
        const unsigned len = read_pair_answer(fpga, pair, a);
        if (len < kMinAnswer || rd16(a) != kController || a[9] != 0x10)
            continue;                      // not a search answer: the next step files it
        if (checkByteRight(a, len) && len >= kMinSearchAnswer) {
            answer_word.fetch_or(1u << (fpga * 8 + pair));
            // A job's own search of a port is answered here as well.
            if (a[5] == kTagJob && job_answer_matches(fpga, 4 * groupOf(pair) + sourcePortBits(a), rd16(a + 2) & 0x0FFF, a[9]))
                g_send_para.reply = 1;
            if (a[10] == 0)
                Search_concurrent_back_result(a, groupOf(pair), fpga, len);
            taken = 1;
        }
        acknowledge_pair(fpga, pair);
    }
    return taken;
}

void fpga_manage::Search_concurrent_back_result(unsigned char* answer, u8 group, u8 fpga, unsigned int len)
{
    if (!answer || !validFpga(fpga) || len < kMinSearchAnswer)
        return;
    if (answer[7] == 0)
        answer[7] = u8(group * 4 + sourcePortBits(answer) + 1);
    const int port = answer[7] - 1;
    if (port > 15)
        return;
    store_card_count(fpga, port, rd16(answer + 11), answer[13]);
    file_check_answer(answer, group, fpga, len);
}

void fpga_manage::file_check_answer(const unsigned char* answer, u8 group, u8 fpga, unsigned len)
{
    // The check answer carries the result for the screen record the check job works on,
    // from the port it checks: a late answer of the port checked before is not this one's.
    // The port is the one it came in on (pair and source), not the byte the card echoes.
    const int from = group * 4 + sourcePortBits(answer);
    if (len > 17 && len >= kMinCheckAnswer && check_config_valid && rd32(answer + 18) == check_config_id
        && check_fpga == fpga && check_port == from) {
        check_config_valid = 0;
        g_send_para.progress = rd16(answer + 22);
    }
}

// ------------------------------------------------------------------------------------
// The answer a card job waits for

void fpga_manage::expect_job_answer(const unsigned char* packet, int port, int fpga)
{
    std::lock_guard<std::mutex> hold(job_answer_mutex);
    const u16 target = u16(rd16(packet) & 0x0FFF);
    job_answer_armed = true;
    job_answer_fpga = u8(fpga);
    job_answer_port = u8(port);
    job_answer_card = target >= 0x0FFE ? 0x0FFF : target;
    job_answer_command = packet[9];
    g_send_para.reply = 0;
}

bool fpga_manage::job_answer_matches(u8 fpga, int port, u16 card, u8 command)
{
    std::lock_guard<std::mutex> hold(job_answer_mutex);
    if (!job_answer_armed || fpga != job_answer_fpga || port != job_answer_port || command != job_answer_command
        || (job_answer_card != 0x0FFF && card != job_answer_card))
        return false;
    job_answer_armed = false;
    return true;
}

void fpga_manage::update_eth_rcv_num(unsigned char* answer, int port, u8 fpga)
{
    if (!answer || port < 1 || port > 16)
        return;
    store_card_count(fpga, port - 1, rd16(answer + 11), answer[13]);
}

// ------------------------------------------------------------------------------------
// Answers

void fpga_manage::Rcv_data_from_eth(u8 fpga)
{
    if (!validFpga(fpga))
        return;
    deal_with_search_concurrent(fpga);
    for (int r : {129, 25, 145, 153})
        read_from_register(r, fpga);
    int pair = 0;
    while (pair < kReceivePairs && !pair_ready(fpga, pair))
        ++pair;
    if (pair == kReceivePairs)
        return;
    u8 a[kAnswerMax];   // the receive path's own (see deal_with_search_concurrent)
    const unsigned len = read_pair_answer(fpga, pair, a);
    const bool whole = len >= kMinAnswer && checkByteRight(a, len);
    const u16 dest = whole ? rd16(a) : 0;
    const u16 source = whole ? rd16(a + 2) : 0;
    const u8 command = whole ? a[9] : 0;
    // FPGA 1 numbers its ports 11 to 20.
    auto portOf = [fpga](u8 byte7) { return (fpga == 1 && byte7 > 10) ? byte7 - 10 : int(byte7); };

    if (whole && dest == kController && command == 0x10 && len >= kMinSearchAnswer) {
        update_eth_rcv_num(a, portOf(a[7]), fpga);
        // A check answer that came in behind another on its pair counts as well.
        if (a[10] == 0)
            file_check_answer(a, groupOf(pair), fpga, len);
    }
    acknowledge_pair(fpga, pair);
    if (!whole) {
        KEL_TRACE("\n fpga%d pair %d: answer of %u bytes dropped\n", fpga, pair, len);
        return;                           // a wrong check byte or a stub: acknowledged, dropped
    }

    if (dest >= kController && dest <= 0xF00F && source < 0xF000) {
        if (a[5] == kTagJob && job_answer_matches(fpga, 4 * groupOf(pair) + sourcePortBits(a), source & 0x0FFF, command))
            g_send_para.reply = 1;
        else if (a[5] == kTagBrightness)
            return;
    }
    if (dest == kPc && command == 0x10 && a[10] == 0 && len >= kMinSearchAnswer)
        update_eth_rcv_num(a, portOf(a[7]), fpga);
    if (dest == kController && (command == 0x61 || command == 0xA0)) {
        // Only as much as the buffer holds.
        const unsigned n = std::min<unsigned>(len - 10, kFuncReplySize - 2);
        std::memcpy(func_card_reply + 2, a + 10, n);
        func_card_reply_len = std::min<unsigned>(len - 11, kFuncReplySize - 2);   // no check byte
        func_card_reply[1] = command;
        func_card_reply[0] = 1;
    }
    if (dest != kPc)
        return;

    // A passthrough answer. The port it came in on, with its source, names the card.
    const u8 group = groupOf(pair);
    const int fromPort = 16 * fpga + 4 * group + sourcePortBits(a);
    u8& check = a[len - 1];
    if (a[7] == 0) {
        a[7] = u8(sourcePortBits(a) + 1 + 16 * fpga + 4 * group);
        check ^= a[7];
        const u8 old = a[1];
        a[1] = u8(a[1] & ~0x30);
        check ^= u8(old ^ a[1]);
    }
    // Byte 7 says which request an answer is of (255: every port's), whatever the port it
    // came in on: a port's own answer, however late, never counts in the gathering.
    if (multi_port_flag && a[7] == 255) {
        if (a[5] == passby_tag && a[9] == passby_command) {
            multi_reply_mask |= 1u << (16 * fpga + 4 * group + sourcePortBits(a));
            ++multi_reply_count;
        }
        u32 expected = 0;
        u32 enable, mask;
        {
            std::lock_guard<std::mutex> hold(Utils::_fpga_multicast_mutex);
            enable = multicast_enable;
            mask = multicast_mask;
        }
        if (enable) {
            expected = mask & 0xFF;
        } else if (reg_shadow(80, 0) == 3) {
            const u32 links = u32(reg_shadow(144, 0)) << 8 | reg_shadow(128, 0);
            for (int port = 0; port <= 9; ++port)
                if ((links >> port & 1) && get_port_card_num(port))
                    expected |= 1u << port;
        }
        if (multi_reply_mask != expected)
            return;                       // the other ports' answers are still to come
        const u16 from = passby_fffe ? 0x0FFE : 0x0FFF;
        passby_fffe = 0;
        a[2] = u8(from & 0xFF);
        a[3] = u8(from >> 8);
        a[7] = 255;
        check = u8(Utils::BCC(a, len - 1));
        {
            std::lock_guard<std::mutex> hold(Utils::_system_mutex);
            if (await_answer == 1)
                await_answer = 0;
            multi_reply_mask = 0;
            multi_reply_count = 0;
        }
        deliver_passby(a, len, -1);
        return;
    }
    deliver_passby(a, len, fromPort);
}
