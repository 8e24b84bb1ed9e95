// PC frames for the receiving cards: the links hand them over unescaped and the manager
// puts them out of FPGA 0's LED output ports; the card's answer returns through the
// receive path to the link recorded in g_passby_trans_port. One request is answered at a
// time: the answer carries nothing that names the link or PC that asked, so a second
// request waits until the first one's answer came or its wait ran out.

#include "fpga/fpga_manage.h"

#include "core/global.h"
#include "core/utils.h"

#include <algorithm>

namespace {

constexpr u32 kWrapper = 12;               // bytes in front of a wrapped card packet
constexpr u32 kMinFrame = 11;              // bytes 0-9 and the check byte

struct PassbyLink {
    const void* owner = nullptr;
    fpga_manage::PassbyAnswer answer;
};

std::mutex& linksMutex()
{
    static std::mutex lock;
    return lock;
}

PassbyLink& linkEntry(u8 link)
{
    static PassbyLink links[4];
    return links[link & 3];
}

} // namespace

void fpga_manage::set_passby_link(u8 link, const void* owner, PassbyAnswer answer)
{
    if (link < kPassbySerial || link > kPassbyUdp)
        return;
    std::lock_guard<std::mutex> hold(linksMutex());
    PassbyLink& entry = linkEntry(link);
    if (answer) {
        entry.owner = owner;
        entry.answer = std::move(answer);
    } else if (entry.owner == owner) {
        entry.owner = nullptr;
        entry.answer = nullptr;
    }
}

void fpga_manage::deliver_passby(const u8* answer, unsigned len)
{
    const u8 link = g_passby_trans_port;
    bool delivered = false;
    if (link >= kPassbySerial && link <= kPassbyUdp) {
        std::lock_guard<std::mutex> hold(linksMutex());
        PassbyLink& entry = linkEntry(link);
        if (entry.answer)
            delivered = entry.answer(answer, len);
    }
    // Whoever it was for, the answer came: the next request may go out.
    g_passby_trans_port = kPassbyNone;
    passby_due = false;
    if (delivered)
        answer_ready = 1;
    else
        KEL_TRACE("\n passby answer dropped, no link waits (%d)\n", int(link));
    service_passby();
}

void fpga_manage::pass_through(u8 link, u32 length, unsigned char* frame)
{
    if (link < kPassbySerial || link > kPassbyUdp)
        return;
    withdraw_passby(link);
    fpga_manage* m = p_fpga_manage;
    if (!m) {
        g_passby_trans_port = link;
        return;
    }
    m->service_passby();
    if (!m->passby_due) {
        m->start_passby(link, length, frame);
        return;
    }
    // Longer frames are dropped when they are sent, kept or not.
    KeptPassby& kept = m->passby_kept[link];
    const u32 len = std::min<u32>(length & 0xFFFF, kPacketMax);
    kept.asked = G_timeTicks.load();
    kept.frame.assign(frame, frame + len);
    if (kept.frame.empty())
        kept.frame.push_back(0);
}

void fpga_manage::withdraw_passby(u8 link)
{
    if (g_passby_trans_port == link)
        g_passby_trans_port = kPassbyNone;   // an answer still due goes to nobody
    if (fpga_manage* m = p_fpga_manage)
        if (link < 4)
            m->passby_kept[link].frame.clear();
}

void fpga_manage::start_passby(u8 link, u32 length, unsigned char* frame)
{
    g_passby_trans_port = link;
    passby_due = send_passby(length, frame);
    passby_sent = G_timeTicks.load();
}

void fpga_manage::service_passby()
{
    if (passby_due && Utils::getTimeSpace(passby_sent) > kPassbyWaitTicks) {
        KEL_TRACE("\n passby answer time-out (%d)\n", int(g_passby_trans_port.load()));
        passby_due = false;
        g_passby_trans_port = kPassbyNone;
    }
    while (!passby_due) {
        int oldest = -1;
        for (int l = kPassbySerial; l <= kPassbyUdp; ++l) {
            KeptPassby& k = passby_kept[l];
            if (k.frame.empty())
                continue;
            if (Utils::getTimeSpace(k.asked) > kPassbyWaitTicks)
                k.frame.clear();   // its link has stopped waiting by now
            else if (oldest < 0 || Utils::getTimeSpace(k.asked) > Utils::getTimeSpace(passby_kept[oldest].asked))
                oldest = l;
        }
        if (oldest < 0)
            return;
        std::vector<unsigned char> frame;
        frame.swap(passby_kept[oldest].frame);
        start_passby(u8(oldest), u32(frame.size()), frame.data());
    }
}

u8 fpga_manage::Dealwith1_PC_to_eth(u32 length, unsigned char* frame)
{
    send_passby(length, frame);
    return 1;
}

bool fpga_manage::send_passby(u32 length, unsigned char* frame)
{
    u32 len = length & 0xFFFF;
    if (!frame || len >= kPacketMax)
        return false;
    // Bytes 0-9 and the check byte are read below; a wrapped frame must also leave a card
    // packet behind its 12-byte wrapper.
    if (len < kMinFrame || (frame[9] == 2 && len < kWrapper + 1)) {
        KEL_TRACE("\n Dealwith1_PC_to_eth: frame of %u bytes dropped\n", len);
        return false;
    }
    multi_port_flag = 0;
    write_to_register(147, 0x0F, 0x00, 0);
    write_to_register(131, 0x0F, 0x00, 0);

    const u8 kind = frame[6];
    const u8 portByte = frame[7];
    const bool wrapped = frame[9] == 2;
    int port;
    if (kind == 1 || kind == 3 || kind == 255) {
        if (portByte == 255) {
            multi_port_flag = 1;
            multi_reply_mask = 0;
            multi_reply_count = 0;
            passby_fffe = (frame[0] | frame[1] << 8) == 0x0FFE ? 1 : 0;
            passby_tag = frame[5];
            multi_port_send(frame, len);
            return true;
        }
        if (portByte == 0) {
            port = (frame[1] >> 4) & 3;
            KEL_TRACE("FRAME_NETPORT : %d   port_num : %d\n", portByte, port);
        } else {
            port = portByte - 1;
        }
        // The target carries the port; the check byte follows the change.
        if (portByte != 0 && !wrapped && port <= 31)
            stamp_port(frame, len, port);
    } else if (kind == 0) {
        if (wrapped)
            port = portByte ? portByte - 1 : 0;
        else if (portByte == 0)
            port = 0;
        else {
            port = portByte - 1;
            if (port <= 31)
                stamp_port(frame, len, port);
        }
    } else {
        return false;
    }
    if (wrapped) {
        write_to_register(0, 0x40, 0x40, 0);
        frame += kWrapper;
        len -= kWrapper;
    }
    Send_to_port(frame, len, port, 0);
    return port <= 15;   // higher numbers reach no port
}
