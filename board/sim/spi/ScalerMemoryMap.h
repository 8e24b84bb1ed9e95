#pragma once
#include <cstdint>
#include <set>
#include <string>
#include <vector>

namespace sim {

// The scaler chip's frame memory as its registers describe it: which bytes each input
// channel (ICH) writes and each output channel (OCH) reads in each of the five field
// buffers and each of the four field slots. Everything is taken from register values the
// model holds, read the way the chip uses them, so a test can compare the capture side with
// the read side without trusting either computation in the driver.
//
// Registers read, per channel c (bank + 0x10 c):
//  - capture: source select (bank 0, 0x10 + c), the sync mode (bank 0x10, 0x09: 2 holds the
//    capture in the field slot it is writing, 8 + an even ICH follows that ICH; the model
//    notes the slot, order and addresses at the hold), input active width and height (0x19, 0x1D);
//    the input-side reduction (bank 0x11: 0x44 = 199 with the horizontal phase at 0x45 and
//    the step at 0x47, 0x49 = 0x84 with the vertical phase at 0x4A and the step at 0x4C); the
//    deinterlacer of ICH 0-3 (bank 0x16, 0x5B = 1: a field is stored as a frame of twice its
//    lines); the packing code (bank 0, 0x71 + c); the five buffer addresses (bank 0x16,
//    0x1C + 4k), the line pitch in KiB (0x31) and the write-field order (0x66: the buffers
//    written in slots 0-3, then the spare);
//  - read-out: output active width and height (bank 0x08, 0x42 and 0x46), the packing code
//    (bank 0, 0x69 + c), the five buffer addresses (bank 0x16, 0x08 + 4k), the signed line
//    step in KiB (0x30), the read-field order (0x6C: the buffers read in slots 0-3), the
//    vertical filter start (bank 0x0A, 0x4B = 5 begins one line step after the buffer
//    address) and the vertical mode (0x44 = 3 enlarging: two lines of filter margin, else one);
//  - the start of the reserved top of memory (serial-flash window, OSD canvas, its display
//    copy and the fonts): bank 4 register 0x2B, 64 KiB units, bit 15 = window on, or the
//    lowest address an OSD window (bank 9, 0x1A) reads or the drawing engine's last copy
//    (bank 4, source 0x0D, destination 0x11) touched, if lower.
class ScalerMemoryMap {
public:
    // [begin, end) byte ranges, one per line.
    struct Range {
        uint64_t begin, end;
    };
    struct Capture {
        int ich = -1;
        int source = 0;          // source code: 2 p for ports 0-3, 8-11 port 4, 12-15 port 5
        int port = -1;
        int heldSlot = -1;       // the field slot a held capture stopped in (-1: running)
        uint64_t heldFrame = 0;  // then: the buffer it had finished last, the frame it holds
        bool deinterlaced = false;
        int packing = 0;         // packing code
        int order[5] = {};       // buffer of field slots 0-3, then the spare
        uint64_t buffer[5] = {};
        int64_t pitch = 0;       // bytes
        uint64_t lineBytes = 0;
        uint64_t lines = 0;
    };
    struct Readout {
        int och = -1;
        int packing = 0;
        int order[4] = {};       // buffer read in field slots 0-3
        uint64_t buffer[5] = {};
        int64_t step = 0;        // bytes, negative reads upwards
        uint64_t firstLine = 0;  // bytes from the buffer address to the first line read
        uint64_t lineBytes = 0;
        uint64_t lines = 0;
    };

    static std::vector<Capture> captures();   // every ICH whose input active width is non-zero
    static std::vector<Readout> readouts();   // every OCH whose output active area is non-empty
    static std::set<int> ports(const std::vector<Capture>& caps);   // the ports they capture
    static bool held(const std::vector<Capture>& caps);   // is any of them held on a frame?
    static uint64_t reservedStart();          // 0 when the flash window is off
    // Bytes and pixels of one pixel group of a packing code (4/1, 16/5, 8/3, 2/1).
    static uint64_t groupBytes(int packing);

    // Lines of buffer b (0-4): written by a capture, read by a read-out.
    static std::vector<Range> lines(const Capture& c, int buffer);
    static std::vector<Range> lines(const Readout& r, int buffer);

    // Bytes of want not inside any range of have, as a text for a failure message ("" when
    // all are inside). Both lists are sorted and merged first.
    static std::string outside(std::vector<Range> want, std::vector<Range> have);
    // Whether the two lists share a byte.
    static bool sharing(std::vector<Range> a, std::vector<Range> b);

    // What the captures write that is not theirs alone: a line longer than its pitch, bytes
    // from the reserved top of memory up, or bytes two buffers share,
    // of two captures or of one (all five buffers of each: the four slots and the spare).
    static std::string clashes(const std::vector<Capture>& caps);
    // What the read-out reads that is not what its own captures finished: in field slot k a
    // running capture's buffer of slot k - 1 (never the buffer it writes in slot k); under a
    // held capture the read-out's field stops with it, and in that slot it reads the frame
    // the capture held; read in the capture's packing from a pixel-group boundary of its
    // line ("" when all is so and every slot read some lines).
    static std::string unwritten(const Readout& r, const std::vector<Capture>& own);
};

} // namespace sim
