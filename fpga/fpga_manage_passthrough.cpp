// PC frames for the receiving cards: the links hand them over unescaped and the manager
// puts them out of FPGA 0's LED output ports; the card's answer returns through the
// receive path to the link recorded in g_passby_trans_port.

#include "fpga/fpga_manage.h"

#include "core/global.h"
#include "core/utils.h"

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
    bool refused = false;
    if (link >= kPassbySerial && link <= kPassbyUdp) {
        std::lock_guard<std::mutex> hold(linksMutex());
        PassbyLink& entry = linkEntry(link);
        if (entry.answer) {
            delivered = entry.answer(answer, len);
            refused = !delivered;
        }
    }
    if (!delivered) {
        KEL_TRACE("\n passby answer dropped, no link waits (%d)\n", int(link));
        // A link that refused has stopped waiting: nobody is owed an answer any more.
        if (refused)
            g_passby_trans_port = kPassbyNone;
        return;
    }
    g_passby_trans_port = kPassbyNone;
    answer_ready = 1;
}

u8 fpga_manage::Dealwith1_PC_to_eth(u32 length, unsigned char* frame)
{
    u32 len = length & 0xFFFF;
    if (!frame || len >= kPacketMax)
        return 1;
    // Bytes 0-9 and the check byte are read below; a wrapped frame must also leave a card
    // packet behind its 12-byte wrapper.
    if (len < kMinFrame || (frame[9] == 2 && len < kWrapper + 1)) {
        KEL_TRACE("\n Dealwith1_PC_to_eth: frame of %u bytes dropped\n", len);
        return 1;
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
            return 1;
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
        return 1;
    }
    if (wrapped) {
        write_to_register(0, 0x40, 0x40, 0);
        frame += kWrapper;
        len -= kWrapper;
    }
    Send_to_port(frame, len, port, 0);
    return 1;
}
