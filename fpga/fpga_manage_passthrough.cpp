// PC frames for the receiving cards: the links hand them over unescaped, the manager keeps
// them (PassbyQueue) and puts them out of FPGA 0's LED output ports one at a time; the
// card's answer returns through the receive path to the PC whose request it answers.

#include "fpga/fpga_manage.h"

#include "core/global.h"
#include "core/utils.h"
#include "board/Clock.h"

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
    static PassbyLink links[PassbyQueue::LINKS];
    return links[link % PassbyQueue::LINKS];
}

} // namespace

void fpga_manage::set_passby_link(u8 link, const void* owner, PassbyAnswer answer)
{
    if (link < kPassbySerial || link > kPassby4G)
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

void fpga_manage::deliver_passby(const u8* answer, unsigned len, int port)
{
    u32 ticket = 0;
    u8 link = kPassbyNone;
    // Byte 7 carries the port asked: 255 is an answer to every port's request, which only
    // the gathering of all of them answers.
    if (!answer || len < kMinFrame || (port >= 0 && answer[7] == 255)
        || !passby.match(port, u16(answer[2] | answer[3] << 8), answer[5], answer[9], ticket, link)) {
        // A late answer to a request whose wait ran out, or one nobody asked for.
        KEL_TRACE("\n passby answer dropped, it answers no request\n");
        return;
    }
    bool delivered = false;
    if (ticket != 0 && link >= kPassbySerial && link <= kPassby4G) {
        std::lock_guard<std::mutex> hold(linksMutex());
        PassbyLink& entry = linkEntry(link);
        if (entry.answer)
            delivered = entry.answer(ticket, answer, len);
    }
    // Whoever it was for, the answer came: the next request to its ports may go out.
    if (!passby.busy())
        g_passby_trans_port = kPassbyNone;
    if (delivered)
        answer_ready = 1;
    else
        KEL_TRACE("\n passby answer dropped, its PC waits no more (%d)\n", int(link));
    service_passby();
}

u32 fpga_manage::pass_through(u8 link, u32 host, u32 length, unsigned char* frame, u32 arrived)
{
    if (link < kPassbySerial || link > kPassby4G)
        return 0;
    fpga_manage* m = p_fpga_manage;
    if (!m) {
        g_passby_trans_port = link;
        return 0;
    }
    const u32 ticket = m->passby.keep(link, host, frame, length, arrived, G_timeTicks.load());
    if (ticket == 0)
        KEL_TRACE("\n passby request refused, too many kept or its PC waits no more (%d)\n", int(link));
    m->service_passby();
    return ticket;
}

void fpga_manage::withdraw_passby(u32 ticket)
{
    if (fpga_manage* m = p_fpga_manage)
        m->passby.withdraw(ticket);
}

bool fpga_manage::passby_waiting(u32 ticket)
{
    fpga_manage* m = p_fpga_manage;
    return m && m->passby.waiting(ticket);
}

void fpga_manage::service_passby()
{
    if (const u8 link = passby.expire(G_timeTicks.load())) {
        KEL_TRACE("\n passby answer time-out (%d)\n", int(link));
        if (!passby.busy())
            g_passby_trans_port = kPassbyNone;
    }
    put_passby_out();
    PassbyQueue::Kept next;
    // What waits for a transmitter goes first: a request to its port waits behind it.
    while (passby.take(next, G_timeTicks.load())) {
        PassbyQueue::Target target;
        if (!PassbyQueue::target_of(next.frame.data(), u32(next.frame.size()), target)) {
            // No card answers it as a request of its own (no port, or no card packet behind
            // its wrapper): it goes out as it may, and nothing waits for an answer.
            send_passby(u32(next.frame.size()), next.frame.data());
            continue;
        }
        g_passby_trans_port = next.link;
        const u32 due = passby.start(next, target, G_timeTicks.load());
        // Its wait counts from when it went out, which may be once its transmitter is idle.
        if (!send_passby(u32(next.frame.size()), next.frame.data(), due)) {
            passby.end(due);
            if (!passby.busy())
                g_passby_trans_port = kPassbyNone;
        }
    }
}

void fpga_manage::put_passby_out()
{
    // Each port takes its packets in order; a port whose transmitter stays busy holds up
    // only the packets behind it that go to it.
    std::vector<int> waiting;
    for (auto it = passby.outgoing.begin(); it != passby.outgoing.end();) {
        PassbyQueue::Outgoing& out = *it;
        const unsigned len = unsigned(out.packet.size());
        for (; !out.ports.empty(); out.started = false, out.ports.erase(out.ports.begin())) {
            if (std::find(waiting.begin(), waiting.end(), out.ports.front()) != waiting.end())
                break;
            if (!out.started) {
                out.started = true;
                out.since = G_timeTicks.load();
                out.sinceUs = board::Clock::monotonicUs();
            }
            const int port = out.ports.front();
            if (out.stamp)
                stamp_port(out.packet.data(), len, port);
            if (!send_when_ready(out.packet.data(), len, port, 0, out.since, out.sinceUs))
                break;   // looked at again on the next tick
        }
        if (!out.ports.empty()) {
            waiting.insert(waiting.end(), out.ports.begin(), out.ports.end());
            ++it;
            continue;
        }
        if (out.allPorts) {
            await_answer_stamp = G_timeTicks.load();
            await_answer = 1;
        }
        if (out.due)
            passby.sent(out.due, G_timeTicks.load());
        it = passby.outgoing.erase(it);
    }
}

u8 fpga_manage::Dealwith1_PC_to_eth(u32 length, unsigned char* frame)
{
    send_passby(length, frame);
    return 1;
}

bool fpga_manage::send_passby(u32 length, unsigned char* frame, u32 due)
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
            passby_command = frame[9];
            multi_port_send(frame, len, due);
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
    if (port > 15)
        return false;   // higher numbers reach no port
    // The caller holds the port-path lock: the packet goes now if the port's transmitter is
    // idle, else it waits in the outgoing list for the manager's tick to find it idle.
    PassbyQueue::Outgoing out;
    out.packet.assign(frame, frame + len);
    out.ports.push_back(port);
    out.due = due;
    passby.outgoing.push_back(std::move(out));
    put_passby_out();
    return true;
}
