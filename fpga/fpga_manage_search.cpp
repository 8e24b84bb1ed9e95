// The idle work that keeps the card table current: a search sweep over FPGA 0's linked
// port pairs every 80 ticks, the evaluation of the previous sweep's answers, the search
// and check packet, and the watch over the link between the FPGAs.

#include "fpga/fpga_manage.h"

#include "core/global.h"
#include "core/utils.h"

#include <cstring>

namespace {

constexpr u32 kSweepTicks = 80;
constexpr u32 kSearchPermit = 15;
constexpr u32 kAnswerEvaluate = 1u << 31;  // the sweep must be evaluated
constexpr u32 kAnswerOdd = 1u << 30;       // the sweep preferred the odd port of each pair
constexpr u8 kLanesLocked = 0x1C;          // register 40 bits 2-4
constexpr u16 kRelockPolls = 1000;

void putLe32(u8* p, u32 v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = u8(v >> (8 * i));
}

} // namespace

void fpga_manage::check_error_rcv_search_card_cmd(u32 port, u8 fpga, u32 configId, u32 word, u8 enable)
{
    if (port > 15 || fpga > 1)
        return;
    const u8 pairBit = u8(1u << ((port % 8) / 2));
    write_to_register(port < 8 ? 131 : 147, pairBit, 0x00, fpga);
    u8 packet[30] = {};
    packet[0] = 0xFE;
    packet[1] = u8(0x0F | ((port & 3) << 4));
    packet[2] = 0x00;
    packet[3] = 0xF0;
    packet[4] = 0x10;
    packet[5] = 0xAA;
    packet[6] = 0xFF;
    packet[7] = u8(port + 1);
    packet[9] = 0x10;
    packet[16] = enable & 1;
    putLe32(packet + 17, configId);
    packet[21] = 0xFF;
    putLe32(packet + 23, word);
    packet[29] = u8(Utils::BCC(packet, 29));
    Send_to_port(packet, sizeof packet, int(port), fpga);
}

void fpga_manage::Search_Card_Cmd()
{
    const u8* reg = MCU_REG_func[0];
    std::atomic<u32>& stamp = g_change[CHG_JOB_STAMP];
    std::atomic<u32>& armed = g_change[CHG_SEARCH_ARMED];
    if (reg[0] & 0x08) {
        stamp = G_timeTicks.load();
        return;
    }
    if (Utils::getTimeSpace(stamp) < kSweepTicks) {
        if (!armed)
            return;
    } else {
        read_from_register(128, 0);
        read_from_register(144, 0);
        const u32 links = u32(reg_shadow(144, 0)) << 8 | reg_shadow(128, 0);
        if (reg_shadow(80, 0) != 3 || g_change[CHG_SEARCH_PERMIT] != kSearchPermit || links == 0) {
            armed = 0;
            stamp = G_timeTicks.load();
            return;
        }
        armed = 1;
        g_change[CHG_SWEEP_CLEARED] = 0;
    }
    const u32 parity = g_change[CHG_SWEEP_COUNT].fetch_add(1) & 1;
    CHECK_search_cmd_status();

    const u32 links = u32(reg_shadow(144, 0)) << 8 | reg_shadow(128, 0);
    for (int k = 0; k <= 4; ++k) {
        const int even = 2 * k, odd = 2 * k + 1;
        const bool evenUp = links >> even & 1, oddUp = links >> odd & 1;
        int port;
        if (parity)
            port = oddUp ? odd : (evenUp ? even : -1);
        else
            port = evenUp ? even : (oddUp ? odd : -1);
        if (port < 0)
            continue;
        if (k < 4)
            write_to_register(131, u8(1u << k), 0x00, 0);
        check_error_rcv_search_card_cmd(u32(port), 0, 0, 0, 0);
        searched_mask.fetch_or(1u << port);
        if (parity)
            answer_word.fetch_or(kAnswerEvaluate | kAnswerOdd);
        else
            answer_word.fetch_and(0x0000BFFFu);
    }
    armed = 0;
    stamp = G_timeTicks.load();
}

void fpga_manage::zero_card_entry(int port)
{
    // The card count and flag of ports 0..3 lie five bytes apart, so their entry is five
    // bytes long; the others are three bytes.
    u8* ram = MCU_RAM_PARA_func[0];
    const u16 at = kCardCountOffset[port];
    const unsigned length = port < 4 ? 5 : 3;
    ram[at] = 0;
    ram[at + 1] = 0;
    ram[kCardFlagOffset[port]] = 0;
    write_fpga_ram(ram + at, at, length, 1, 0);
}

u16 fpga_manage::CHECK_search_cmd_status()
{
    {
        // The receive path files card counts and answer bits under the same lock on the
        // links' threads: the answer word is read, acted on and cleared in one hold, so an
        // answer filed meanwhile is neither lost nor followed by zeroing its count.
        std::lock_guard<std::mutex> path(port_path_mutex);
        const u32 answers = answer_word.load();
        if (answers & kAnswerEvaluate) {
            const u32 searched = searched_mask.load();
            const bool oddFirst = (answers & kAnswerOdd) != 0;
            for (int k = 0; k < 8; ++k) {
                if (answers >> k & 1)
                    continue;
                const int first = oddFirst ? 2 * k + 1 : 2 * k;
                const int second = oddFirst ? 2 * k : 2 * k + 1;
                if (searched >> first & 1)
                    zero_card_entry(first);
                else if (searched >> second & 1)
                    zero_card_entry(second);
            }
        }
        searched_mask = 0;
        answer_word = 0;
        // The count is summed from the counts just filed and kept in the same hold: the
        // links read it under this lock for the device description.
        netport_card_result = check_netport_card(0);
        return netport_card_result;
    }
}

u8 fpga_manage::check_vbo_status(u8 fpga)
{
    if (fpga > 1)
        return 0;
    std::atomic<u32>& stamp = g_change[CHG_LINK_WATCH_STAMP0 + fpga];
    if (Utils::getTimeSpace(stamp) < kLinkWatchTicks)
        return link_fault[fpga];
    const u8* reg = MCU_REG_func[fpga];
    if (link_fault[fpga] == 0) {
        int lacking = 0;
        for (int i = 0; i < 8; ++i) {
            read_from_register(40, fpga);
            if ((reg[40] & kLanesLocked) != kLanesLocked)
                ++lacking;
        }
        if (lacking > 3) {
            KEL_TRACE("\n fpga%d link lost (%d of 8), re-lock\n", fpga, lacking);
            link_fault[fpga] = 1;
            relock_step[fpga] = 0;
            write_to_register(3, 0xC0, 0x00, fpga);
        }
    } else if (relock_step[fpga] == 0) {
        write_to_register(3, 0x40, 0x40, fpga);
        relock_step[fpga] = 1;
        relock_polls[fpga] = 0;
    } else {
        read_from_register(22, fpga);
        ++relock_polls[fpga];
        if (!(reg_shadow(22, fpga) & 0x08) || relock_polls[fpga] >= kRelockPolls) {
            write_to_register(3, 0x80, 0x80, fpga);
            link_fault[fpga] = 0;
        }
    }
    stamp = G_timeTicks.load();
    return link_fault[fpga];
}
