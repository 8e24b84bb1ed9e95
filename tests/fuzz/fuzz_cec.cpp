// CEC messages into input 3's receiver: the simulated chip's receive FIFO takes a run of
// messages (header, opcode, the length byte with its status bits, operands), then the
// driver's state machine serves them. Promises: every message the device sends comes from
// logical address 0 (it answers as a TV), fits the bus (2 to 16 bytes), and the FIFO is
// drained when its messages fit the driver's queue at once (else it has moved on).
#include "tests/fuzz/FuzzSupport.h"

#include "board/sim/Sim.h"
#include "core/config_engine.h"
#include "core/global.h"
#include "core/kelrampara.h"
#include "sources/it6805/ite6805_cec_drv.h"
#include "sources/it6805/ite6805_cec_sys.h"
#include "sources/it6805/ite6805_sys.h"
#include "sources/velinsource.h"

#include <cstdlib>

namespace {

using kel_fuzz::Bytes;

sim::It6805Model& chip() { return sim::It6805Model::instance(); }

ite6805_sys* sys = nullptr;

void setUp()
{
    kel_fuzz::board();
    ConfigEngine::pInstance();
    KelRamPara::pInstance();
    g_source_online = 2;
    velinsource* src = velinsource::pInstance();
    src->open_bus();
    if (src->set_switch(velinsource::kSwitchReceiver, 0x20) != 1)
        std::abort();   // the simulated switch always takes it: a harness fault
    sys = src->p_ite6805_sys;
    for (int i = 0; i < 300 && sys->FsmState[0] != 1; ++i, sim::SimBoard::advanceVirtual(10000))   // identified, settled
        sys->iTE6805_FSM(0);
}

// Input: records of [length byte][header][opcode][operands as many as the length's low
// five bits say, less two].
void makeSeeds(const std::string& dir)
{
    const std::vector<Bytes> messages = {{0x40, 0x83}, {0x4F, 0x85}, {0x40, 0x46}, {0x40, 0x8C}, {0x40, 0x8F},
                                         {0x40, 0x9F}, {0x40, 0xFF}, {0x80, 0x42, 0x01}, {0x40, 0x82, 0x10, 0x00},
                                         {0x4F, 0x36}, {0x40, 0x90}};
    int i = 0;
    Bytes all;
    for (const Bytes& m : messages) {
        Bytes rec = {uint8_t(m.size())};
        rec.insert(rec.end(), m.begin(), m.end());
        kel_fuzz::writeSeed(dir, "cec-" + std::to_string(i++), rec);
        all.insert(all.end(), rec.begin(), rec.end());
    }
    kel_fuzz::writeSeed(dir, "cec-all", all);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    kel_fuzz::seedMode(argc, argv, makeSeeds);
    setUp();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > 512)
        return 0;
    const size_t before = chip().cecSent().size();
    size_t at = 0;
    int messages = 0;
    int ringBytes = 0;   // what the valid messages take in the driver's 64-byte queue
    while (at + 3 <= size && messages < 16) {
        const uint8_t length = data[at];
        if (!(length & 0x60))
            ringBytes += (length & 0x1F) + 1;
        const uint8_t header = data[at + 1];
        const uint8_t opcode = data[at + 2];
        at += 3;
        size_t operands = (length & 0x1F) > 2 ? (length & 0x1F) - 2u : 0u;
        operands = std::min(operands, size - at);
        chip().cecReceiveRaw(header, opcode, length, Bytes(data + at, data + at + operands));
        at += operands;
        ++messages;
    }
    for (int i = 0; i < 4 && chip().cecQueued() > 0; ++i)
        sys->iTE6805_FSM(0);
    sys->iTE6805_FSM(0);
    const auto sent = chip().cecSent();
    for (size_t i = before; i < sent.size(); ++i) {
        KEL_FUZZ_CHECK(sent[i].size() >= 2 && sent[i].size() <= 16);
        KEL_FUZZ_CHECK((sent[i][0] >> 4) == 0);
    }
    // A full queue stops the move from the chip until the next receive event: the FIFO is
    // drained when everything fits the queue at once, otherwise it has moved on.
    if (ringBytes < ite6805_cec_sys::kQueueSize)
        KEL_FUZZ_CHECK(chip().cecQueued() == 0);
    else
        KEL_FUZZ_CHECK(chip().cecQueued() < messages);
    // Nothing left over for the next input.
    sys->p_cec_drv->iTE6805_CEC_Reset_RX_FIFO(0);
    iTE6805_CEC_RECORD& r = sys->p_cec_sys->cec[0];
    r.PendingHeader[0] = r.PendingHeader[1] = r.PendingHeader[2] = 0;
    return 0;
}
