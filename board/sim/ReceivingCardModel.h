#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace sim {

// One receiving card in the chain behind an output port.
struct ReceivingCard {
    static constexpr uint32_t kRamSize = 0x10000;
    std::vector<uint8_t> ram = std::vector<uint8_t>(kRamSize, 0);  // card RAM (write/read-RAM commands)
    std::vector<std::vector<uint8_t>> registerWrites;              // payloads of 0xA0 commands
    uint32_t saves = 0;              // 0x81: parameters saved to the card's flash
    uint32_t reconfigs = 0;          // 0x84
    uint32_t activations = 0;        // 0xB4
    uint8_t mapping = 0;             // last mapping value (0xA0 with 03 0F 01 v)
    uint32_t configId = 0;           // configuration identity a check packet compares
    bool silent = false;             // takes and answers nothing addressed to it alone
};

// An answer travelling back from a chain to the FPGA's receive RAM.
struct CardAnswer {
    std::vector<uint8_t> bytes;
    uint64_t readyAtUs = 0;          // board clock time from which the FPGA shows it
    int port = -1;                   // the port it comes in on; -1: that of the packet just sent
};

// A card answer as the chain gave it, with its port (the sweep's log).
struct GivenAnswer {
    int port = 0;
    std::vector<uint8_t> bytes;
};

// The chains of receiving cards behind the output ports of both FPGAs. Packets follow the
// receiving-card layout: u16 target (bits 12-13 port & 3, bits 0-11 card; 0x0FFF every
// card, 0x0FFE every card of the port), u16 source, 0x10, tag, 0x01, port + 1, 0, command,
// payload, XOR check byte. A card takes only packets whose check byte is right. A packet to
// one card is answered by that card; a broadcast is answered once, by the chain. Answers
// go to the packet's source with the source (port & 3) << 12 | card, the request's tag and
// command, byte 10 = 0 (done), then the command's data.
//
// Scenario keys (read at the first use after a reset), N = port 0..15, F = "fpga" for
// FPGA 0 and "fpga1" for FPGA 1:
//   F.cards.portN=<count>        cards on the port (FPGA 0 default: 2 on ports 0 and 1)
//   F.funccard.portN=1           a function card answers on the port (flag in the search answer;
//                                packets to its address go to FunctionCardModel)
//   F.fault.portN=silent|badbcc  the chain never answers / answers with a wrong check byte
//   F.delay_us.portN=<us>        answers appear this long after the packet
//   F.configid.portN=<id>        configuration identity of the port's cards (default 0)
// A search packet (command 0x10) is answered with the chain's card count (bytes 11-12) and
// function-card flag (13); a check packet also with its identity and the first card that
// differs (see deliver). A PC's frame (source 0xF010) is answered to 0xF010.
class ReceivingCardModel {
public:
    enum class Fault { None, Silent, WrongCheck };
    static constexpr int kPorts = 16;

    static void setCards(int fpga, int port, int count);
    static int cards(int fpga, int port);
    // Counts changes of the card counts (setCards, reset), so a model can keep what it
    // derived from them until they move.
    static uint64_t cardsVersion();
    static void setFunctionCard(int fpga, int port, bool on);
    static void setConfigId(int fpga, int port, int index, uint32_t id);   // index -1: every card
    static void setCardSilent(int fpga, int port, int index, bool silent);
    static bool functionCard(int fpga, int port);
    static void setFault(int fpga, int port, Fault fault);
    static void setDelayUs(int fpga, int port, uint64_t microseconds);

    // What reached the port (every packet, whether or not a card took it).
    static std::vector<std::vector<uint8_t>> packets(int fpga, int port);
    static void clearPackets();
    // A copy of one card's state (an empty card when there is no such card).
    static ReceivingCard card(int fpga, int port, int index);

    // The FPGA model hands each packet that leaves a port here and queues the answers.
    static std::vector<CardAnswer> deliver(int fpga, int port, const uint8_t* packet, size_t length);

    // Failure points for sweeps. The answers of the cards to the controller's job packets
    // (tag 0x67) and check packets are counted from 1 after each reset or setAnswerFault; answer k then is
    //   Drop       lost on the way back (the card took its packet);
    //   Duplicate  given twice;
    //   Delay      held until the next job packet leaves the FPGA (on any port), then given
    //              on its own port ahead of that packet's answers;
    //   Early      a copy of it (`early`, as a clean run logged it) comes back with answer
    //              k - 1, before its packet was sent, and that packet is lost on its first
    //              way out (the card neither takes nor answers it);
    //   Stale      packet k is lost on its first way out, and answer k - 1 comes again in
    //              place of its answer (a late repeat the job must not take for k's).
    enum class AnswerFault { None, Drop, Duplicate, Delay, Early, Stale };
    static void setAnswerFault(uint64_t k, AnswerFault fault, const GivenAnswer& early = {});
    static uint64_t jobAnswers();                   // counted so far
    static std::vector<GivenAnswer> jobAnswerLog();  // the counted answers as given clean

    static void reset();
};

} // namespace sim
