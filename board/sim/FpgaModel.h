#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

namespace sim {

// The two FPGAs behind the LED output ports, on spidev chip selects 1 (FPGA 0) and 2
// (FPGA 1). Each reads its GPIO lines in the SoC window at every transfer:
//   select (0x207810 / 0x207900): 0 = selected; otherwise the FPGA ignores the bus;
//   command phase (0x207838 / 0x207954): 16 while the 4-byte command word is clocked in,
//     0 for the data phase;
//   reset (0x207858 / 0x207864): 0 holds the FPGA in reset (it does not answer); when the
//     line is found released again the FPGA starts from its power-on state.
// The board pulls the reset lines up: after a reset of the simulated board they read 16.
//
// Command word (little-endian): bit 0 read, bits 1-4 operation (1 RAM, 2 register),
// bits 8-15 RAM number, bits 16-27 RAM address; for a register bits 16-23 register and
// bits 24-31 the write mask. Data phase: a register write is one byte, the new value of
// the whole register, of which the FPGA takes the bits of the mask; a register read
// answers one byte; a RAM transfer moves bytes from the address on (4 KiB per RAM, the
// address wraps).
//
// Registers with behaviour:
//   31, 30, 29, 28, 7  identification and version (31 = 33: the FPGA answers)
//   3                  bits 6 and 7 (link stages 1 and 3): the link trains while both are set;
//                      bit 2 (brightness take-over, self-clearing): the FPGA sends its
//                      brightness packet to every port with link (see kBrightnessAddress)
//   6                  brightness 0..255
//   22                 status: bit 3 link error (fault knob), bit 4 link trained, bit 7
//                      output check seen (both once trained); bit 5 set when an answer
//                      arrives; the other bits are stored as written
//   40                 bits 2-4: the link's three lanes locked (once trained)
//   128, 144           link state of ports 0..7 and 8..15 (a port with cards has link)
//   129, 145           odd bits: send busy of the pairs; even bits: answer ready (pairs 0..3
//                      in 129, pair 4 in 145 bit 0)
//   132, 148           port select of ports 0..7 and 8..15
//   26,134,136,138,154..157  send length low byte of pairs 0..7; 27 / 158 bits 8-9
//   130, 146           bits 4-7: start sending pair 0..3 / 4..7 (self-clearing); bits 0-3:
//                      acknowledge the answer of pair 0..3 / 4 (self-clearing)
//   24,133,135,137,149 answer length low byte of pairs 0..4; 25 / 153 bits 8-9
// RAMs: 1 parameter RAM (bytes 116-123, the measured width, height and clock count, belong
// to the FPGA and ignore writes; width and height are those of the scaler's output channel 0
// window once the scaler has set it up, unless the scenario fixes them); 3 + 2 x pair
// transmit RAM; 2 + 2 x pair receive RAM.
// Answers of pairs 5..7 are not received. The interrupt line (0x207908 / 0x207910, bit 0)
// is 1 while an answer waits. Answers appear at the first bus access after their delay.
//
// Scenario keys (read when the FPGA powers up), F = "fpga" (FPGA 0) or "fpga1":
//   F.reg.<R>=<value>         power-on value of register R (e.g. fpga.reg.31=80)
//   F.measured.width / .height / .clock   the measured picture (default: the scaler's
//                             output window, 1920 x 1080 before it has one; clock 800000)
//   F.link.port<N>=0|1        link of port N (default: 1 where the port has cards)
//   F.sendbusy=M              pairs whose bit is set in M (bit k: ports 2k, 2k+1) stay send-busy
//   F.link.error=1            register 22 bit 3 (link error) stays set
//   F.link.train=0            the link never trains (register 22 bit 4, register 40 lanes)
//   F.outputcheck=0           register 22 bit 7 never sets
//   F.ram1.stuck=<address>    that byte of RAM 1 ignores writes (read-back fault)
// Identification out of range: F.reg.31=<value>; measured clock: F.measured.clock.
class FpgaModel {
public:
    enum class OpKind { RegisterWrite, RegisterRead, RamWrite, RamRead, Send };
    // One decoded transaction: the command word and what the data phase moved.
    struct Op {
        OpKind kind = OpKind::RegisterRead;
        uint32_t command = 0;
        int reg = -1;
        uint8_t mask = 0;
        int ram = -1;
        uint32_t address = 0;
        int port = -1;                     // Send: the port the packet left on
        std::vector<uint8_t> data;         // bytes written, read, or the packet sent
    };
    static constexpr int kRamBytes = 4096;
    // The brightness packet: a card RAM write (command 0x60, tag 0x66) to every card of the
    // port, target 0x0FFF, of one byte, register 6, at this card RAM address. The FPGA keeps
    // the cards' answers to its own packets to itself.
    static constexpr uint32_t kBrightnessAddress = 0x1000;

    static uint8_t reg(int fpga, int reg);
    static void setReg(int fpga, int reg, uint8_t value);
    static std::vector<uint8_t> ram(int fpga, int ram, uint32_t address, uint32_t length);
    static void setRam(int fpga, int ram, uint32_t address, const std::vector<uint8_t>& bytes);
    static bool inReset(int fpga);
    static void setLinkError(int fpga, bool on);
    static bool linkTrained(int fpga);
    // The next bus reads of the register answer these values, in order (a wrong-answer
    // fault); then the register answers as before.
    static void scriptReads(int fpga, int reg, const std::vector<uint8_t>& values);
    // An answer as a card chain would return it, queued behind the pair's others (pairs
    // 0..4; at most 1024 bytes are shown).
    static void queueAnswer(int fpga, int pair, const std::vector<uint8_t>& bytes);
    static size_t pendingAnswers(int fpga, int pair);   // answers queued, the shown one included

    static std::vector<Op> log(int fpga);
    static void clearLog();
    static void powerOn(int fpga);                      // as after its reset line was released
    static void reset();                                // both FPGAs to power-on, logs cleared
};

} // namespace sim
