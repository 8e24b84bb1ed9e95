#pragma once
// The PC frame path shared by the protocol targets: a parameter block, scaler manager and
// FPGA manager on the simulated board, one command handler, and the reply checks.

#include "tests/fuzz/FuzzSupport.h"
#include "tests/support/PcFrame.h"

#include "protocol/message_deal.h"
#include "protocol/protocol_phy.h"

#include <memory>

class fpga_manage;

namespace kel_fuzz {

class PcBench {
public:
    static PcBench& instance();
    // The parameter block and the run flags back to a known state; no transfer, read or file open.
    void fresh();
    // Escapes the frame, unescapes it through the link code (they must agree), dispatches it
    // on link and checks the reply against replyLimit. Returns the reply's data length, or
    // -1 when the frame was not accepted.
    int dealUnescaped(const Bytes& plain, unsigned char link, unsigned replyLimit);
    // Dispatches an unescaped frame already checked by the link; checks the reply.
    int dispatch(const unsigned char* frame, unsigned n, unsigned char link, unsigned replyLimit);
    // The reply's data bytes of the last dispatch.
    Bytes reply(int r) const { return Bytes(buf.begin() + 10, buf.begin() + 10 + r); }
    message_deal& handler(unsigned replyLimit);

private:
    PcBench();
    std::unique_ptr<fpga_manage> manager;
    std::unique_ptr<message_deal> udp, tcp, serial;
    Bytes buf, out;
    protocol_phy phy;
};

// Valid requests of every service group, for the seed corpora.
std::vector<pc::Frame> pcSeedFrames();

} // namespace kel_fuzz
